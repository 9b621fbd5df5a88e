#include "G729Bits.h"

#include "G729Dsp.h"

namespace qm::g729 {

void paramsToSerial(const uint16_t params[kParameterCount], uint16_t words[kSerialWords])
{
    words[0] = kSerialSync;
    words[1] = kSerialBitCount;
    int w = 2;
    for (int p = 0; p < kParameterCount; ++p)
        for (int b = kParameterBits[p] - 1; b >= 0; --b)
            words[w++] = ((params[p] >> b) & 1) ? kSerialOne : kSerialZero;
}

bool serialToParams(const uint16_t bitWords[kSerialBitCount], uint16_t params[kParameterCount])
{
    bool erased = false;
    int w = 0;
    for (int p = 0; p < kParameterCount; ++p) {
        uint16_t v = 0;
        for (int b = 0; b < kParameterBits[p]; ++b, ++w) {
            v = uint16_t(v << 1) | (bitWords[w] == kSerialOne ? 1 : 0);
            if (bitWords[w] == 0)
                erased = true;
        }
        params[p] = v;
    }
    return erased;
}

void paramsToPacked(const uint16_t params[kParameterCount], uint8_t bytes[kPackedFrameBytes])
{
    for (int i = 0; i < kPackedFrameBytes; ++i)
        bytes[i] = 0;
    int bit = 0;
    for (int p = 0; p < kParameterCount; ++p)
        for (int b = kParameterBits[p] - 1; b >= 0; --b, ++bit)
            if ((params[p] >> b) & 1)
                bytes[bit >> 3] |= uint8_t(0x80 >> (bit & 7));
}

void packedToParams(const uint8_t bytes[kPackedFrameBytes], uint16_t params[kParameterCount])
{
    int bit = 0;
    for (int p = 0; p < kParameterCount; ++p) {
        uint16_t v = 0;
        for (int b = 0; b < kParameterBits[p]; ++b, ++bit)
            v = uint16_t(v << 1) | ((bytes[bit >> 3] >> (7 - (bit & 7))) & 1);
        params[p] = v;
    }
}

uint16_t pitchParityBit(uint16_t pitchIndex)
{
    return static_cast<uint16_t>(pitchParity(static_cast<Word16>(pitchIndex)));
}

}  // namespace qm::g729
