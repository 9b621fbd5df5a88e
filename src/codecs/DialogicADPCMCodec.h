// The 4-bit ADPCM of the Dialogic (OKI) telephony files: 12-bit samples,
// a 49-step table, one code per sample.  The object holds one stream's
// decoding state; the files decide how codes are packed into bytes.
//
// Decoders of this ADPCM differ in the field by how a code becomes a
// difference at step s (the step index adapts identically in both):
//   - StepSum, the format's own arithmetic (and the Dialogic hardware's):
//     s x b2 + s/2 x b1 + s/4 x b0 + s/8, each term truncated; the
//     predictor starts at -2;
//   - Scaled, what the common software decoders compute:
//     ((2 x (code & 7) + 1) x s) >> 3; the predictor starts at 0.
// The two differ by up to 2 on some steps, and with neither leak nor block
// resets a stream made for one random-walks in the other.  Both decoders
// keep their predictor in -2048..2047.  DialogicADPCMEncoder writes streams
// that both play; DialogicArithmeticProbe tells which a stream was made for.
#pragma once

#include <cstdint>

class DialogicADPCMCodec {
public:
    enum class Arithmetic { StepSum, Scaled };

    explicit DialogicADPCMCodec(Arithmetic arithmetic = Arithmetic::StepSum) : m_arithmetic(arithmetic) { Reset(); }

    // Step index 0, predictor -2 (StepSum) or 0 (Scaled).
    void Reset();
    // The 16-bit sample (the 12-bit estimate times 16) of one code (0..15).
    int16_t Decode(int code);
    // The 12-bit estimate that Decode(code) would give, the state untouched.
    int PredictorAfter(int code) const;

    // The step size of a step index (0..48).
    static int StepSize(int index);

    Arithmetic arithmetic() const { return m_arithmetic; }
    int stepIndex() const { return m_stepIndex; }
    int16_t predictor() const { return m_predictor; }

private:
    Arithmetic m_arithmetic;
    int m_stepIndex = 0;
    int16_t m_predictor = -2;
};
