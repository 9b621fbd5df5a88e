// The 4-bit ADPCM of the Dialogic (OKI) telephony files: 12-bit samples,
// a 49-step table, one code per sample.  The object holds one stream's
// state; the files decide how codes are packed into bytes.
//
// The predictor starts at -2 (not 0).  The decoder keeps its predictor in
// -2048..2047; the encoder's predictor is not clamped (it follows the
// input's 12-bit range closely, so the two agree except right at full
// scale).
#pragma once

#include <cstdint>

class DialogicADPCMCodec {
public:
    DialogicADPCMCodec() { Reset(); }

    // Step index 0, predictor -2.
    void Reset();
    // The 16-bit sample (the 12-bit estimate times 16) of one code (0..15).
    int16_t Decode(int code);
    // The code of one 16-bit sample; the state follows the decoder's steps.
    int Encode(int16_t sample);

    int stepIndex() const { return m_stepIndex; }
    int16_t predictor() const { return m_predictor; }

private:
    // The signed difference of `code` at the current step; advances the step index.
    int Step(int code);

    int m_stepIndex = 0;
    int16_t m_predictor = -2;
};
