// The model's spectrum on silence and on a tone.
#include "PsychoModel2.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

TEST(PsychoModel2Test, ModelOnSilenceFloorsTheSpectrum)
{
    float in[1024] = {};
    float energy[513], re[513], im[513];
    PsychoModel2::Spectrum(in, energy, re, im);
    for (int k = 0; k < 512; ++k)
        EXPECT_FLOAT_EQ(energy[k], 0.0005f);
    EXPECT_EQ(energy[512], 0.0f);
    // A full-scale tone puts its energy on its line.
    for (int i = 0; i < 1024; ++i)
        in[i] = float(32767.0 * std::cos(2 * M_PI * 64 * i / 1024.0));
    PsychoModel2::Spectrum(in, energy, re, im);
    EXPECT_NEAR(energy[64], std::pow(32767.0 * 512, 2), std::pow(32767.0 * 512, 2) * 1e-3);
    EXPECT_LT(energy[100], 1.0);
}

}  // namespace
