// IMA 4:1 ADPCM in QuickTime's packets ('ima4'): each channel's 64 samples
// make a packet of 34 bytes, a big-endian header word (the predictor's top
// nine bits, then the 7-bit step index) and 32 bytes of 4-bit codes, the
// earlier sample of a pair in the low nibble.
//
// The header rounds the predictor, and readers differ in what they do with
// it: most start every packet from the header's state, while others carry
// their own predictor on from the packet before, taking the header's only
// when its step index differs from theirs or its predictor is more than
// 127 away.  Each packet is therefore coded from exactly the state its
// header stores, chosen so that both kinds of reader start from it and so
// decode the same samples: the carried-on state itself when the header
// can hold its predictor, otherwise a predictor on the header's grid with
// another step index, or one at least 128 away.  A few such states are
// tried, the likeliest first, and the one whose 64 codes follow the input
// with the least squared error is taken, the search ending early once one
// codes the packet about as well as carrying on unrounded would: a quiet
// passage has no step at the packet rate in any reader.
#pragma once

#include <cstddef>
#include <cstdint>

class ImaPacketEncoder {
public:
    static constexpr int kFrames = 64;
    static constexpr int kPacketBytes = 34;

    // One channel's next packet: `samples` holds kFrames 16-bit samples,
    // `stride` apart; the packet goes to `packet` (kPacketBytes).
    void EncodePacket(const int16_t* samples, std::ptrdiff_t stride, uint8_t* packet);

    // Where a reader stands after the packets so far (a reader that
    // restarts from the header and one that carries on alike).
    int Predictor() const { return m_predictor; }
    int StepIndex() const { return m_stepIndex; }

private:
    int m_predictor = 0;
    int m_stepIndex = 0;
};
