// Snip times become frames by one rule: the nearest frame, for the start and
// the end alike.  Through quillmarch-batch, over a table of decimal times at
// every common rate, a snip's first sample is the input's sample at
// round(from x rate) and its length round(to x rate) - round(from x rate),
// worked out here in exact decimal arithmetic (a half frame going to the
// later frame); sox's trim of the same times gives the same samples.  The input is a ramp written byte by byte, so that
// neighbouring frames differ.
#include "CliTestSupport.h"
#include "PropertyList.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace clitest;

namespace {

// Times in milliseconds: the decimal times the conversions hold.
struct Snip {
    int fromMs;
    int toMs;
};
const Snip kSnips[] = {{20300, 20400}, {100, 700}, {1001, 2999}, {20, 300}, {2300, 2400}, {7, 13}, {333, 667}};
constexpr int kInputMs = 20500;

// Frame k of the ramp.
SInt16 Ramp(UInt64 k)
{
    return SInt16(UInt16(k * 7 % 65536));
}

// A mono 16-bit WAVE file of the ramp.
QByteArray RampWave(UInt32 rate, UInt32 frames)
{
    QByteArray b;
    const auto u32 = [&b](UInt32 v) {
        for (int i = 0; i < 4; ++i)
            b.append(char(v >> (8 * i)));
    };
    const auto u16 = [&b](UInt16 v) { b.append(char(v)).append(char(v >> 8)); };
    b.append("RIFF");
    u32(36 + frames * 2);
    b.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    b.append("data");
    u32(frames * 2);
    for (UInt32 k = 0; k < frames; ++k)
        u16(UInt16(Ramp(k)));
    return b;
}

// round(ms / 1000 x rate), a half going up, in integers.
UInt64 NearestFrame(int ms, UInt32 rate)
{
    return (2 * UInt64(ms) * rate + 1000) / 2000;
}

bool IsHalfFrame(int ms, UInt32 rate)
{
    return UInt64(ms) * rate % 1000 == 500;
}

std::vector<SInt16> Words(const QByteArray& raw)
{
    std::vector<SInt16> words(std::size_t(raw.size()) / 2);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = SInt16(UInt16(UInt8(raw[int(2 * i)]) | UInt8(raw[int(2 * i + 1)]) << 8));
    return words;
}

class SnipFrames : public BatchTest, public ::testing::WithParamInterface<UInt32> {};

TEST_P(SnipFrames, StartAndEndAtTheNearestFrame)
{
    QM_REQUIRE_PEER("sox");
    const UInt32 rate = GetParam();
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    const QString input = root + "/in/ramp.wav";
    ASSERT_TRUE(WriteBytes(input, RampWave(rate, UInt32(NearestFrame(kInputMs, rate)))));

    QVariantList conversions;
    for (const Snip& s : kSnips)
        conversions.append(QVariantMap{{"QMCSName", QString("%1-%2").arg(s.fromMs).arg(s.toMs)},
                                       {"QMCSNeedsStrictFileType", true},
                                       {"QMCSOutputFileType", 0x57415645},  // 'WAVE'
                                       {"QMCSNeedsSnip", true},
                                       {"QMCSSnipFrom", s.fromMs / 1000.0},
                                       {"QMCSSnipTo", s.toMs / 1000.0}});
    const QString file = root + "/conversions.plist";
    ASSERT_TRUE(WriteBytes(file, PropertyList::toXml(conversions)));
    const RunResult run = Run({"--quiet", "--conversions", file, "-o", root + "/out", input});
    ASSERT_FALSE(run.crashed);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    for (const Snip& s : kSnips) {
        const QString from = QString::number(s.fromMs / 1000.0, 'f', 3);
        const QString to = QString::number(s.toMs / 1000.0, 'f', 3);
        SCOPED_TRACE((from + " s to " + to + " s at " + QString::number(rate) + " Hz").toStdString());
        const UInt64 start = NearestFrame(s.fromMs, rate);
        const UInt64 end = NearestFrame(s.toMs, rate);
        const QString output = root + QString("/out/%1-%2/ramp.wav").arg(s.fromMs).arg(s.toMs);
        QFile out(output);
        ASSERT_TRUE(out.open(QIODevice::ReadOnly)) << FilesUnder(root + "/out", true).join(' ').toStdString();
        const std::vector<SInt16> words = Words(SoxSamples(output));
        ASSERT_EQ(words.size(), end - start);
        EXPECT_EQ(words.front(), Ramp(start)) << "starts at frame " << start;
        EXPECT_EQ(words.back(), Ramp(end - 1));
        // sox rounds too, but a time on an exact half frame may fall either
        // way in its floating point.
        if (IsHalfFrame(s.fromMs, rate) || IsHalfFrame(s.toMs, rate))
            continue;
        QByteArray trimmed;
        ASSERT_TRUE(RunPeer("sox", {input, "-t", "raw", "-", "trim", from, "=" + to}, &trimmed));
        EXPECT_EQ(words, Words(trimmed)) << "sox trim";
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, SnipFrames, ::testing::Values(8000u, 11025u, 22050u, 44100u, 48000u, 96000u));

}  // namespace
