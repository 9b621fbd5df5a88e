// The G.726 coders against libspandsp's (an independent implementation of
// the recommendation): the same codes for the same input at 16, 24, 32 and
// 40 kbit/s, the same decoded samples, and the same companded paths.  Also
// the G.711 conversions and the OKI step arithmetic.
#include "DialogicADPCMCodec.h"
#include "DialogicADPCMEncoder.h"
#include "g711.h"
#include "g72x.h"

#include <gtest/gtest.h>

extern "C" {
#include <spandsp.h>
}

#include <cmath>
#include <random>
#include <vector>

namespace {

// Speech-like test audio: gliding tones, noise bursts, silence, full-scale
// square waves and a tone that triggers the tone detector.
std::vector<int16_t> TestSignal(int samples = 24000)
{
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 3000.0);
    std::vector<int16_t> out;
    for (int i = 0; i < samples; ++i) {
        const double t = i / 8000.0;
        double v;
        switch ((i / 2000) % 6) {
        case 0: v = 12000 * std::sin(2 * M_PI * (300 + 400 * t) * t); break;
        case 1: v = noise(rng); break;
        case 2: v = 0; break;
        case 3: v = (i / 20) % 2 ? 32767 : -32768; break;
        case 4: v = 20000 * std::sin(2 * M_PI * 1004 * t) + noise(rng) * 0.1; break;
        default: v = 3000 * std::sin(2 * M_PI * 2900 * t) * std::sin(2 * M_PI * 3 * t); break;
        }
        out.push_back(int16_t(std::clamp(v, -32768.0, 32767.0)));
    }
    return out;
}

struct Rate {
    int bits;
    int bitRate;
};

class G726AgainstSpandsp : public ::testing::TestWithParam<Rate> {};

// With a companded coding spandsp takes the sample array as bytes.
std::vector<uint8_t> SpandspEncode(int bitRate, int coding, const std::vector<int16_t>& in,
                                   const std::vector<uint8_t>* bytes = nullptr)
{
    g726_state_t* s = g726_init(nullptr, bitRate, coding, G726_PACKING_NONE);
    std::vector<uint8_t> codes(in.size());
    const int16_t* amp = bytes ? reinterpret_cast<const int16_t*>(bytes->data()) : in.data();
    const int n = g726_encode(s, codes.data(), amp, int(in.size()));
    g726_free(s);
    codes.resize(std::size_t(n));
    return codes;
}

} // namespace

TEST_P(G726AgainstSpandsp, LinearCodesAndSamplesAreTheSame)
{
    const Rate rate = GetParam();
    const std::vector<int16_t> input = TestSignal();
    const std::vector<uint8_t> theirs = SpandspEncode(rate.bitRate, G726_ENCODING_LINEAR, input);
    ASSERT_EQ(theirs.size(), input.size());

    g72x_state enc;
    g72x_init_state(&enc);
    const G72xEncoder encode = G72xEncoderForBits(rate.bits);
    std::size_t differ = 0;
    for (std::size_t i = 0; i < input.size(); ++i)
        differ += encode(input[i], kG72xCodingLinear, &enc) != theirs[i];
    EXPECT_EQ(differ, 0u) << rate.bits << "-bit codes";

    // Decoding their codes.  Our linear output is the reconstructed signal
    // times 4 as a full integer (the files clamp it to 16 bits); spandsp
    // hands back its low 16 bits.  They agree where the value fits.
    g726_state_t* s = g726_init(nullptr, rate.bitRate, G726_ENCODING_LINEAR, G726_PACKING_NONE);
    std::vector<int16_t> decoded(theirs.size());
    g726_decode(s, decoded.data(), theirs.data(), int(theirs.size()));
    g726_free(s);
    g72x_state dec;
    g72x_init_state(&dec);
    const G72xDecoder decode = G72xDecoderForBits(rate.bits);
    differ = 0;
    for (std::size_t i = 0; i < theirs.size(); ++i) {
        const int ours = decode(theirs[i], kG72xCodingLinear, &dec);
        EXPECT_EQ(ours % 4, 0);
        differ += int16_t(ours) != decoded[i];
    }
    EXPECT_EQ(differ, 0u) << rate.bits << "-bit samples";
}

TEST_P(G726AgainstSpandsp, CompandedPathsAreTheSame)
{
    const Rate rate = GetParam();
    const std::vector<int16_t> linear = TestSignal(8000);
    for (const auto& [ours, theirs] : {std::pair{kG72xCodingALaw, int(G726_ENCODING_ALAW)},
                                       std::pair{kG72xCodingMuLaw, int(G726_ENCODING_ULAW)}}) {
        std::vector<uint8_t> bytes;
        for (int16_t v : linear)
            bytes.push_back(ours == kG72xCodingALaw ? g711_linear2alaw(v) : g711_linear2ulaw(v));
        const std::vector<uint8_t> codes = SpandspEncode(rate.bitRate, theirs, linear, &bytes);
        g72x_state enc;
        g72x_init_state(&enc);
        g726_state_t* s = g726_init(nullptr, rate.bitRate, theirs, G726_PACKING_NONE);
        std::vector<uint8_t> decoded(codes.size() * 2);
        g726_decode(s, reinterpret_cast<int16_t*>(decoded.data()), codes.data(), int(codes.size()));
        g726_free(s);
        g72x_state dec;
        g72x_init_state(&dec);
        std::size_t codeDiffer = 0;
        std::size_t byteDiffer = 0;
        for (std::size_t i = 0; i < codes.size(); ++i) {
            codeDiffer += G72xEncoderForBits(rate.bits)(bytes[i], ours, &enc) != codes[i];
            byteDiffer += G72xDecoderForBits(rate.bits)(codes[i], ours, &dec) != decoded[i];
        }
        EXPECT_EQ(codeDiffer, 0u) << "coding " << ours;
        EXPECT_EQ(byteDiffer, 0u) << "coding " << ours;
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, G726AgainstSpandsp,
                         ::testing::Values(Rate{2, 16000}, Rate{3, 24000}, Rate{4, 32000}, Rate{5, 40000}),
                         [](const auto& info) { return std::to_string(info.param.bitRate / 1000) + "k"; });

TEST(G72xCoder, ResetStateAndUnknownCodings)
{
    g72x_state s;
    g72x_init_state(&s);
    EXPECT_EQ(s.yl, 34816);
    EXPECT_EQ(s.yu, 544);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(s.dq[i], 32);
        EXPECT_EQ(s.b[i], 0);
    }
    EXPECT_EQ(s.sr[0], 32);
    EXPECT_EQ(s.sr[1], 32);
    EXPECT_EQ(s.ap, 0);
    EXPECT_EQ(s.td, 0);
    for (int coding : {0, 4}) {
        EXPECT_EQ(g721_encoder(100, coding, &s), -1);
        EXPECT_EQ(s.yl, 34816);  // untouched
    }
    EXPECT_EQ(g723_24_decoder(1, 0, &s), -1);
    EXPECT_EQ(g723_40_decoder(1, 4, &s), -1);
    EXPECT_EQ(G72xEncoderForBits(6), nullptr);
}

TEST(G711Coders, ConversionsFollowTheRecommendation)
{
    EXPECT_EQ(g711_alaw2linear(0xD5), 8);
    EXPECT_EQ(g711_alaw2linear(0x55), -8);
    EXPECT_EQ(g711_ulaw2linear(0xFF), 0);
    EXPECT_EQ(g711_ulaw2linear(0x00), -32124);
    EXPECT_EQ(g711_ulaw2linear(0x80), 32124);
    EXPECT_EQ(g711_linear2ulaw(-32768), 0x00);
    EXPECT_EQ(g711_linear2ulaw(32767), 0x80);
    for (int v = -32768; v <= 32767; ++v) {
        // The shared A-law table is the computed rule; both companders
        // invert their expanders on every code.
        ASSERT_EQ(LoadRawALawTable(v), g711_linear2alaw(v)) << v;
        ASSERT_EQ(alaw2linear(uint8_t(v & 0xFF)), g711_alaw2linear(uint8_t(v & 0xFF)));
    }
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(g711_linear2alaw(g711_alaw2linear(uint8_t(code))), code);
        if (code != 0x7F) {  // mu-law has two zeros
            EXPECT_EQ(g711_linear2ulaw(g711_ulaw2linear(uint8_t(code))), code);
        }
        // Against spandsp's tables.
        EXPECT_EQ(g711_alaw2linear(uint8_t(code)), alaw_to_linear(uint8_t(code)));
        EXPECT_EQ(g711_ulaw2linear(uint8_t(code)), ulaw_to_linear(uint8_t(code)));
    }
}

TEST(DialogicADPCMCodec, BothArithmeticsAndAnEncoderBothPlay)
{
    using A = DialogicADPCMCodec::Arithmetic;
    DialogicADPCMCodec c;
    // From reset, code 0: delta 16/8 = 2, predictor -2 + 2 = 0, index stays 0.
    EXPECT_EQ(c.Decode(0), 0);
    EXPECT_EQ(c.stepIndex(), 0);
    c.Reset();
    // The byte 0x18: code 1 (high nibble), then code 8.
    EXPECT_EQ(c.Decode(1), int16_t((-2 + 16 / 4 + 2) * 16));
    EXPECT_EQ(c.Decode(8), int16_t((4 - 2) * 16));
    // At step 23 (index 4) code 3 gives 23/2 + 23/4 + 23/8 = 18 in ours,
    // (7 x 23) >> 3 = 20 in the scaled arithmetic, which starts at 0.
    for (A a : {A::StepSum, A::Scaled}) {
        DialogicADPCMCodec d(a);
        d.Decode(4);  // index 0 -> 2
        d.Decode(4);  // -> 4
        const int before = d.predictor();
        EXPECT_EQ(d.PredictorAfter(11), before - (a == A::StepSum ? 18 : 20));
        EXPECT_EQ(d.Decode(3) / 16, before + (a == A::StepSum ? 18 : 20));
        // Both keep the predictor within 12 bits; code 7 raises the step.
        for (int i = 0; i < 200; ++i)
            d.Decode(7);
        EXPECT_EQ(d.predictor(), 2047);
        EXPECT_EQ(d.stepIndex(), 48);
        for (int i = 0; i < 200; ++i)
            d.Decode(15);
        EXPECT_EQ(d.predictor(), -2048);
    }
    // The encoder's codes track a sine in both arithmetics alike, neither
    // drifting in DC.
    DialogicADPCMEncoder enc;
    DialogicADPCMCodec ours(A::StepSum), scaled(A::Scaled);
    double sig = 0, errOurs = 0, errScaled = 0, dcOurs = 0, dcScaled = 0;
    for (int i = 0; i < 80000; ++i) {
        const int16_t x = int16_t(16000 * std::sin(2 * M_PI * 1000 * i / 8000.0));
        const int code = enc.Encode(x);
        const int a = ours.Decode(code), b = scaled.Decode(code);
        errOurs += double(x - a) * (x - a);
        errScaled += double(x - b) * (x - b);
        dcOurs += x - a;
        dcScaled += x - b;
        sig += double(x) * x;
    }
    EXPECT_GT(10 * std::log10(sig / errOurs), 19.0);
    EXPECT_GT(10 * std::log10(sig / errScaled), 19.0);
    EXPECT_LT(std::fabs(dcOurs / 80000), 0.01 * 32768);
    EXPECT_LT(std::fabs(dcScaled / 80000), 0.01 * 32768);
}
