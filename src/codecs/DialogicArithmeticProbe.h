// Which of the two decoder arithmetics of DialogicADPCMCodec a stream of
// codes was made for, judged from the codes alone, once per stream.
//
// Both decodings are followed.  An encoder made for one decoder leaves the
// other to random-walk away from it: the wrong decoding carries the walk as
// a slow drift that the sound itself lacks, the right one does not.  Our
// encoder (DialogicADPCMEncoder) keeps the two together, and so does every
// stream whose codes never reach the steps where the arithmetics differ;
// those read with the format's own.  The judgement scales with the signal:
//   - the gap between the decodings beyond their difference at reset (the
//     predictors -2 and 0: 32 in 16-bit samples) is low-passed, and so is
//     each decoding: three cascaded moving averages over an eighth of the
//     codes judged (a power of two from 32 to 32768);
//   - when that gap's low end (RMS) reaches 1/32 of the signal's RMS (the
//     lower of the two decodings'), the stream was made for the decoding
//     with the lesser low end: a gap our encoder never leaves;
//   - when it reaches 1/80, for the common decoders' arithmetic only when
//     the format's own decoding carries 2.5 times the other's low end
//     (the drift clearly belongs to it; a tone's own low end is nil);
//   - in a stream of fewer than 2048 codes, whose low end is too short to
//     tell, a gap (RMS, unfiltered) of 1/64 of the signal, which our
//     encoder never leaves, gives the common decoders' arithmetic before
//     the two rules above: the common writers' streams are made for it;
//   - otherwise, and for fewer than 128 codes (too few to part the two
//     by more than a few steps), the format's own.
// At most the first kProbeCodes codes are judged.
#pragma once

#include "DialogicADPCMCodec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class DialogicArithmeticProbe {
public:
    static constexpr std::size_t kProbeCodes = std::size_t(1) << 20;

    // The arithmetic of a stream of `count` codes (`codeAt(k)` gives code k).
    template <class CodeAt>
    static DialogicADPCMCodec::Arithmetic ArithmeticOf(std::size_t count, CodeAt codeAt)
    {
        const std::size_t probe = count < kProbeCodes ? count : kProbeCodes;
        DialogicArithmeticProbe judge(probe);
        for (std::size_t k = 0; k < probe; ++k)
            judge.Add(codeAt(k));
        return judge.Choice();
    }

    // A judge of `codes` codes, given one by one.
    explicit DialogicArithmeticProbe(std::size_t codes);
    void Add(int code);
    DialogicADPCMCodec::Arithmetic Choice() const;

private:
    // Three cascaded moving sums of one length, in exact integers, and the
    // energy of the result once every stage is full.
    class LowPass {
    public:
        explicit LowPass(std::size_t length);
        void Add(int64_t sample);
        // The mean square of the low-passed signal (0 before any output).
        double MeanSquare() const;

    private:
        std::size_t m_length;
        std::vector<int64_t> m_ring[3];
        int64_t m_sum[3] = {0, 0, 0};
        std::size_t m_position = 0;
        std::size_t m_added = 0;
        std::size_t m_outputs = 0;
        double m_energy = 0.0;
    };
    static std::size_t LowPassLength(std::size_t codes);

    DialogicADPCMCodec m_stepSum{DialogicADPCMCodec::Arithmetic::StepSum};
    DialogicADPCMCodec m_scaled{DialogicADPCMCodec::Arithmetic::Scaled};
    LowPass m_stepSumLow, m_scaledLow, m_gapLow;
    double m_stepSumSquares = 0.0, m_scaledSquares = 0.0, m_gapSquares = 0.0;
    std::size_t m_added = 0;
};
