// G.729 Annex A decoder: parameters of one 10 ms frame to 80 samples of
// post-filtered, post-processed speech.  All state lives in the object.
#pragma once

#include <cstdint>

#include "G729HighPass.h"
#include "G729Math.h"
#include "G729Tables.h"

namespace qm::g729 {

class G729Decoder {
public:
    G729Decoder();

    // Back to the initial state of a new stream.
    void reset();

    // Decodes the 11 parameters of one frame (the parity parameter as received);
    // an erased frame is concealed from the previous ones.
    void decodeFrame(const uint16_t params[kParameterCount], bool erased, int16_t out[kFrameLength]);

    // Times the LSF stability rules had to move the lowest or the highest LSF.
    int lsfWarnings() const { return lsfWarnings_; }

    // The excitation of the last frame (80 samples); the encoder's and the
    // decoder's agree for the same parameters.
    const int16_t* lastExcitation() const { return oldExc_ + kPitchMax + kInterpolationLength - kFrameLength; }

private:
    void decodeLsp(const Word16 params[2], bool erased, Word16 lsp[kOrder]);
    void decodeGains(Word16 index, const Word16 code[], bool erased);
    void synthesise(const Word16 params[], bool erased, Word16 synth[], Word16 az[], Word16 delays[2]);
    void postFilter(Word16 synth[], const Word16 az[], const Word16 delays[2]);
    void pitchPostFilter(const Word16 signal[], const Word16 scaled[], Word16 t0Min, Word16 t0Max, Word16 out[]);
    void preemphasis(Word16 signal[], Word16 g);
    void gainControl(const Word16 in[], Word16 out[]);

    // Excitation history and synthesis.
    Word16 oldExc_[kFrameLength + kPitchMax + kInterpolationLength];
    Word16 lspOld_[kOrder];
    Word16 memSyn_[kOrder];
    Word16 sharp_;
    Word16 oldT0_;
    Word16 gainCode_;
    Word16 gainPitch_;
    Word16 seedErasure_;
    // LSF dequantiser.
    Word16 freqPrev_[kMaPredictorOrder][kOrder];
    Word16 prevMa_;
    Word16 prevLsf_[kOrder];
    Word16 pastEnergy_[4];
    // Synthesis with its last kOrder samples in front (for the post-filter).
    Word16 synthBuf_[kOrder + kFrameLength];
    // Post-filter.
    Word16 res2Buf_[kPitchMax + kSubframeLength];
    Word16 scaledRes2Buf_[kPitchMax + kSubframeLength];
    Word16 memSynPost_[kOrder];
    Word16 memPreemphasis_;
    Word16 pastGain_;
    // Output high-pass filter.
    G729HighPass outputFilter_{kPostProcessB, kPostProcessA, 2, 1};
    int lsfWarnings_ = 0;
};

}  // namespace qm::g729
