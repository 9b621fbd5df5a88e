// Fades: lengths, the squared-ramp gains, and the same fades made by
// ffmpeg's afade filter with curve=qua.
#include "ProcTestFile.h"
#include "ProcTestSupport.h"
#include "TestTempDir.h"
#include "fades.h"
#include "PeerTools.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cmath>
#include <limits>

namespace {

FadeSettings Fades(float in, float out)
{
    FadeSettings f;
    f.needsFades = true;
    f.fadeInTime = in;
    f.fadeOutTime = out;
    return f;
}

std::pair<UInt32, UInt32> Lengths(const FadeSettings& f, double rate, UInt32 frames)
{
    UInt32 a = 99, b = 99;
    FadeLengths(f, rate, frames, &a, &b);
    return {a, b};
}

// Interleaved 32-bit samples as little-endian bytes, and back.
QByteArray ToS32LE(const std::vector<SInt32>& samples)
{
    QByteArray bytes;
    for (SInt32 v : samples)
        for (int k = 0; k < 4; ++k)
            bytes.append(char(UInt32(v) >> (8 * k)));
    return bytes;
}

std::vector<SInt32> FromS32LE(const QByteArray& bytes)
{
    std::vector<SInt32> samples(bytes.size() / 4);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        UInt32 v = 0;
        for (int k = 3; k >= 0; --k)
            v = (v << 8) | UInt8(bytes[int(4 * i + k)]);
        samples[i] = SInt32(v);
    }
    return samples;
}

// ffmpeg's afade (curve=qua) over the same samples; empty when ffmpeg is
// not there.
std::vector<SInt32> FfmpegFade(const std::vector<SInt32>& samples, int channels, int rate, UInt32 nIn, UInt32 nOut)
{
    if (!peers::Have("ffmpeg"))
        return {};
    const UInt32 frames = UInt32(samples.size() / channels);
    QStringList filters;
    if (nIn)
        filters << QStringLiteral("afade=t=in:ss=0:ns=%1:curve=qua").arg(nIn);
    if (nOut)
        filters << QStringLiteral("afade=t=out:ss=%1:ns=%2:curve=qua").arg(frames - nOut).arg(nOut);
    return FromS32LE(RunPeerOnRaw("ffmpeg", ToS32LE(samples),
                                  {"-nostdin", "-v", "error", "-f", "s32le", "-ar", QString::number(rate), "-ac",
                                   QString::number(channels), "-i", "%in", "-af", filters.join(','), "-f", "s32le",
                                   "-c:a", "pcm_s32le", "-"}));
}

std::vector<SInt32> Sine(UInt32 frames, int channels, double amplitude)
{
    std::vector<SInt32> s;
    for (UInt32 i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s.push_back(SInt32(std::lround(amplitude * 2147483647.0 * std::sin(0.05 * i + c))));
    return s;
}

void CompareWithFfmpeg(const std::vector<SInt32>& samples, int channels, int rate, float inMs, float outMs)
{
    ProcTestFile file(UInt16(channels), 32, rate);
    file.SetSamples(samples);
    UInt32 nIn = 0, nOut = 0;
    const FadeSettings f = Fades(inMs, outMs);
    FadeLengths(f, rate, file.GetNumFrames(), &nIn, &nOut);
    ASSERT_GT(nIn + nOut, 0u);
    ASSERT_EQ(ApplyFades(&file, f), 0);
    const std::vector<SInt32> reference = FfmpegFade(samples, channels, rate, nIn, nOut);
    if (reference.empty()) {
        QM_REQUIRE_PEER("ffmpeg");
        FAIL() << "ffmpeg gave no reference";
    }
    const std::vector<SInt32> ours = file.Samples();
    ASSERT_EQ(ours.size(), reference.size());
    for (std::size_t i = 0; i < ours.size(); ++i)
        ASSERT_LE(std::llabs(int64_t(ours[i]) - reference[i]), 2) << "sample " << i;
}

} // namespace

TEST(Fades, Lengths)
{
    EXPECT_EQ(Lengths(Fades(20, 20), 44100, 100000), std::make_pair(882u, 882u));
    EXPECT_EQ(Lengths(Fades(8000, 20), 44100, 10000000), std::make_pair(220500u, 882u));
    EXPECT_EQ(Lengths(Fades(20, 20), 44100, 1000), std::make_pair(477u, 477u));
    EXPECT_EQ(Lengths(Fades(20, 20), 44100, 15), std::make_pair(0u, 0u));
    EXPECT_EQ(Lengths(Fades(20, 20), 44100, 20), std::make_pair(10u, 10u));
    EXPECT_EQ(Lengths(Fades(20, 20), 44100, 0), std::make_pair(0u, 0u));
    EXPECT_EQ(Lengths(Fades(0, 20), 44100, 100000), std::make_pair(0u, 882u));
    // A negative or undefined time counts as 0.
    EXPECT_EQ(Lengths(Fades(-20, 20), 44100, 100000), std::make_pair(0u, 882u));
    EXPECT_EQ(Lengths(Fades(std::numeric_limits<float>::quiet_NaN(), -1), 44100, 100000),
              std::make_pair(0u, 0u));
    // Short fades shrink until they fit or stop changing.
    EXPECT_EQ(Lengths(Fades(0.1f, 0.1f), 44100, 8), std::make_pair(4u, 4u));
    EXPECT_EQ(Lengths(Fades(0.1f, 0.1f), 44100, 7), std::make_pair(0u, 0u));
}

TEST(Fades, SquaredRampGains)
{
    // Four frames each way on a constant half-scale stereo signal.
    ProcTestFile file(2, 32, 1000.0);
    file.SetSamples(std::vector<SInt32>(2 * 10, 1 << 30));
    ASSERT_EQ(ApplyFades(&file, Fades(4, 4)), 0);
    std::vector<double> out(20);
    UInt32 count = 10;
    ASSERT_EQ(file.ReadFrames(0, &count, out.data()), noErr);
    const double gains[10] = {0, 1.0 / 16, 4.0 / 16, 9.0 / 16, 1, 1, 1, 9.0 / 16, 4.0 / 16, 1.0 / 16};
    for (int i = 0; i < 10; ++i) {
        EXPECT_NEAR(out[2 * i], 0.5 * gains[i], 1e-8) << i;
        EXPECT_NEAR(out[2 * i + 1], 0.5 * gains[i], 1e-8) << i;
    }
}

TEST(Fades, OffOrUnfitLeavesTheFileUntouched)
{
    ProcTestFile file(1, 16, 44100.0);
    file.SetSamples(std::vector<SInt32>(15, 1000));
    const std::vector<UInt8> before = file.data;
    FadeSettings off = Fades(20, 20);
    off.needsFades = false;
    EXPECT_EQ(ApplyFades(&file, off), 0);
    EXPECT_EQ(ApplyFades(&file, Fades(20, 20)), 0);
    EXPECT_EQ(file.data, before);
    EXPECT_EQ(file.writeBlockCalls, 0);

    ProcTestFile empty(2, 16, 44100.0);
    EXPECT_EQ(ApplyFades(&empty, Fades(20, 20)), 0);
}

TEST(Fades, ReadFailureIsReturned)
{
    ProcTestFile file(1, 16, 44100.0);
    file.SetSamples(std::vector<SInt32>(5000, 1000));
    file.failReadAt = 0;
    EXPECT_EQ(ApplyFades(&file, Fades(20, 20)), -36);
}

TEST(Fades, MatchFfmpegOnAConstantStereoSignal)
{
    CompareWithFfmpeg(std::vector<SInt32>(2 * 44100, 1 << 30), 2, 44100, 20, 30);
}

TEST(Fades, MatchFfmpegOnASine)
{
    CompareWithFfmpeg(Sine(20000, 1, 0.9), 1, 48000, 100, 50);
}

TEST(Fades, MatchFfmpegWhenTheFadesAreLongerThanTheFile)
{
    // 1000 frames with 20 ms fades: both shrink to 477 frames.
    CompareWithFfmpeg(Sine(1000, 2, 0.7), 2, 44100, 20, 20);
    // 20 frames: fades of 10 meet in the middle.
    CompareWithFfmpeg(std::vector<SInt32>(20, -(1 << 30)), 1, 44100, 20, 20);
}
