// G.729 Annex A encoder: 80 samples of 16-bit speech to the 11 parameters of
// one 10 ms frame.  All state (speech, weighted speech and excitation
// histories, filter memories, LSP quantiser and gain predictor memories, the
// taming error history) lives in the object.
#pragma once

#include <cstdint>

#include "G729HighPass.h"
#include "G729Math.h"
#include "G729Tables.h"

namespace qm::g729 {

class G729Encoder {
public:
    G729Encoder();

    // Back to the initial state of a new stream.
    void reset();

    // Encodes one frame: the input high-pass filter, then the analysis.
    void encodeFrame(const int16_t in[kFrameLength], uint16_t params[kParameterCount]);

    // Times the LSF stability rules had to move the lowest or the highest LSF.
    int lsfWarnings() const { return lsfWarnings_; }

    // The excitation of the last frame (80 samples); the encoder's and the
    // decoder's agree for the same parameters.
    const int16_t* lastExcitation() const { return oldExc_ + kPitchMax + kInterpolationLength - kFrameLength; }

private:
    void analyse(Word16 params[]);
    // LPC analysis.
    void autocorrelation(const Word16 x[], Word16 rHi[], Word16 rLo[]);
    void levinson(const Word16 rHi[], const Word16 rLo[], Word16 a[]);
    void azToLsp(const Word16 a[], Word16 lsp[], const Word16 oldLsp[]);
    void quantiseLsp(const Word16 lsp[], Word16 lspQ[], Word16 codes[2]);
    // Pitch.
    Word16 openLoopPitch(const Word16 wsp[]);
    Word16 closedLoopPitch(
        Word16 exc[], const Word16 xn[], const Word16 h[], Word16 t0Min, Word16 t0Max, int subframe, Word16& frac);
    // Algebraic codebook.
    Word16 searchCodebook(
        const Word16 x[], Word16 h[], Word16 t0, Word16 sharp, Word16 code[], Word16 y[], Word16& sign);
    // Gains.
    Word16 quantiseGains(const Word16 code[], const Word16 gCoeff[], const Word16 expCoeff[], Word16& gainPit,
        Word16& gainCode, bool tame);
    bool tamingNeeded(Word16 t0, Word16 t0Frac) const;
    void updateTaming(Word16 gainPit, Word16 t0);

    // Signal histories.
    Word16 oldSpeech_[kWindowLength];
    Word16 oldWsp_[kFrameLength + kPitchMax];
    Word16 oldExc_[kFrameLength + kPitchMax + kInterpolationLength];
    Word16 lspOld_[kOrder];
    Word16 lspOldQ_[kOrder];
    Word16 memW0_[kOrder];
    Word16 memW_[kOrder];
    Word16 sharp_;
    // Levinson's fallback for an unstable filter.
    Word16 oldA_[kOrderPlus1];
    Word16 oldRc_[2];
    // LSF quantiser and gain predictor memories; taming error history.
    Word16 freqPrev_[kMaPredictorOrder][kOrder];
    Word16 pastEnergy_[4];
    Word32 excError_[4];
    // Input high-pass filter.
    G729HighPass inputFilter_{kPreProcessB, kPreProcessA, 3, 0};
    int lsfWarnings_ = 0;
};

}  // namespace qm::g729
