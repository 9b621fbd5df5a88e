// The Dialogic (OKI) ADPCM encoder: codes that both decoder arithmetics of
// DialogicADPCMCodec play (the format's own and the common software
// decoders').  It follows one decoder of each arithmetic and, for every
// sample x, takes the code c (0..15) with the least
//     (x - a)^2 + (x - b)^2 + 256 g^2 + 4096 max(0, |g| - 64)^2
// where a and b are the two decoders' 16-bit outputs after c and g = a - b
// (ties: the lower code).  The first two terms keep both outputs at the
// input; the others keep the decoders together, since a gap between them
// persists for many samples (a code moves it by at most 2 steps of the
// 12-bit predictor, on some step sizes only): gently up to 4 steps (64),
// steeply beyond, so that on a steady tone the gap cannot settle at tens of
// steps.  Both decoders then stay within about a dB of a coder that serves
// one decoder only, and neither drifts in DC more than such a coder does.
#pragma once

#include "DialogicADPCMCodec.h"

#include <cstdint>

class DialogicADPCMEncoder {
public:
    // Both decoders from their reset state.
    void Reset();
    // The code of one 16-bit sample; both decoders take it.
    int Encode(int16_t sample);

private:
    DialogicADPCMCodec m_stepSum{DialogicADPCMCodec::Arithmetic::StepSum};
    DialogicADPCMCodec m_scaled{DialogicADPCMCodec::Arithmetic::Scaled};
};
