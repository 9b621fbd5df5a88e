// The G.729 frame layouts: the 11 parameters, the ITU serial frame of 82
// 16-bit words (SYNC, 80, one word per bit) and the packed 10-byte frame.
#pragma once

#include <cstdint>

#include "G729Tables.h"

namespace qm::g729 {

constexpr uint16_t kSerialSync = 0x6B21;
constexpr uint16_t kSerialBitCount = 80;
constexpr uint16_t kSerialOne = 0x0081;
constexpr uint16_t kSerialZero = 0x007F;
constexpr int kPackedFrameBytes = 10;

// SYNC, 80, then the parameters' bits, most significant first.
void paramsToSerial(const uint16_t params[kParameterCount], uint16_t words[kSerialWords]);
// From the 80 bit words: exactly 0x0081 is a 1, any other word a 0.  Returns
// true when the frame is erased (a bit word of 0).
bool serialToParams(const uint16_t bitWords[kSerialBitCount], uint16_t params[kParameterCount]);
void paramsToPacked(const uint16_t params[kParameterCount], uint8_t bytes[kPackedFrameBytes]);
void packedToParams(const uint8_t bytes[kPackedFrameBytes], uint16_t params[kParameterCount]);
// The parity bit of the first pitch code as the encoder sends it.
uint16_t pitchParityBit(uint16_t pitchIndex);

}  // namespace qm::g729
