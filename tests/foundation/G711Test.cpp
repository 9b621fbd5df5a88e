// The G.711 conversions against ffmpeg's codecs, over every input.
#include "g711.h"

#include "TestTempDir.h"
#include "PeerTools.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>

#include <cstdlib>

namespace {

bool WriteFile(const std::string& path, const QByteArray& data)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Runs ffmpeg with the arguments and gives its standard output; an empty
// array (and a test failure) when it fails.
QByteArray RunFfmpeg(const QStringList& arguments)
{
    const peers::RunResult r = peers::Run(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-nostdin"} + arguments);
    if (r.exitCode != 0) {
        ADD_FAILURE() << "ffmpeg failed: " << r.err.toStdString();
        return QByteArray();
    }
    return r.out;
}

int16_t ReadS16LE(const QByteArray& data, int index)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData()) + 2 * index;
    return static_cast<int16_t>(p[0] | (p[1] << 8));
}

// Every 16-bit value from -32768 to 32767, little-endian.
QByteArray AllSamples()
{
    QByteArray data(2 * 65536, '\0');
    for (int i = 0; i < 65536; ++i) {
        const int v = i - 32768;
        data[2 * i] = char(v & 0xFF);
        data[2 * i + 1] = char((v >> 8) & 0xFF);
    }
    return data;
}

// The G.711 decision interval of a code, from its reconstruction value r
// (the interval's midpoint) and its step width w: [r - w/2, r + w/2) for a
// code of the positive half.  Negative codes mirror it: A-law about -0.5
// (the magnitude of x is -1 - x), mu-law about 0 (the magnitude is -x).
struct Law {
    const char* name;
    bool alaw;
    int segment(unsigned char code) const { return alaw ? ((code ^ 0x55) & 0x70) >> 4 : ((~code) & 0x70) >> 4; }
    bool positive(unsigned char code) const { return (code & 0x80) != 0; }
    int width(unsigned char code) const
    {
        const int s = segment(code);
        return alaw ? (s < 2 ? 16 : 16 << (s - 1)) : 8 << s;
    }
    // The magnitude the quantiser sees for x.
    int magnitude(int x) const { return x >= 0 ? x : (alaw ? -1 - x : -x); }
};

// True when x lies in the decision interval of `code` (or, for the largest
// magnitudes, beyond the last interval: overload).
bool InInterval(const Law& law, int x, unsigned char code, int reconstruction)
{
    if ((x >= 0) != law.positive(code) && !(x < 0 && law.magnitude(x) == 0))
        return false;
    const int m = law.magnitude(x);
    const int r = std::abs(reconstruction);
    const int w = law.width(code);
    const bool topCode = law.segment(code) == 7 && (law.alaw ? ((code ^ 0x55) & 0x0F) == 0x0F : ((~code) & 0x0F) == 0x0F);
    return m >= r - w / 2 && (m < r + w / 2 || topCode);
}

// Compares our encoder with ffmpeg's output for every input and explains
// each difference.  ffmpeg's encoders are table lookups at index
// (x + 32768) >> 2: they pick the reconstruction value nearest to
// 4 * floor(x / 4).  That differs from G.711 in two ways, and nowhere else:
//  - next to a segment boundary the decision intervals change width, so
//    the G.711 decision level (the boundary) is not the midpoint between
//    the reconstruction values either side; ffmpeg takes the nearer value;
//  - flooring onto the 4-sample grid moves x by up to 3 (towards -32768),
//    which can carry it over a decision level, or onto the midpoint
//    between two values.
void CompareWithFfmpeg(const Law& law, unsigned char (*encode)(int), const QByteArray& ffmpegCodes,
                       const int* reconstruction)
{
    ASSERT_EQ(ffmpegCodes.size(), 65536);
    int segmentEdge = 0;
    int grid = 0;
    for (int i = 0; i < 65536; ++i) {
        const int x = i - 32768;
        const unsigned char ours = encode(x);
        ASSERT_TRUE(InInterval(law, x, ours, reconstruction[ours]))
            << law.name << " sample " << x << " code " << int(ours) << " is outside the code's interval";
        const auto theirs = static_cast<unsigned char>(ffmpegCodes[i]);
        if (ours == theirs)
            continue;
        const int ro = reconstruction[ours];
        const int rf = reconstruction[theirs];
        // Always a neighbouring code of the same sign: the values are half
        // an interval apart on either side.
        ASSERT_EQ(law.positive(ours), law.positive(theirs)) << law.name << " sample " << x;
        ASSERT_EQ(2 * std::abs(std::abs(ro) - std::abs(rf)), law.width(ours) + law.width(theirs))
            << law.name << " sample " << x;
        if (std::abs(rf - x) < std::abs(ro - x)) {
            // ffmpeg's value is nearer: only where the two codes lie in
            // different segments.
            ASSERT_NE(law.segment(ours), law.segment(theirs)) << law.name << " sample " << x;
            ++segmentEdge;
        } else {
            const int g = 4 * ((x - (x < 0 ? 3 : 0)) / 4); // 4 * floor(x / 4)
            ASSERT_LE(std::abs(rf - g), std::abs(ro - g)) << law.name << " sample " << x;
            ++grid;
        }
    }
    ::testing::Test::RecordProperty(std::string(law.name) + "_segment_edge_differences", segmentEdge);
    ::testing::Test::RecordProperty(std::string(law.name) + "_grid_differences", grid);
    // A handful per segment boundary or decision level, never wholesale.
    EXPECT_LT(segmentEdge + grid, 1200) << law.name;
}

class G711Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        QM_REQUIRE_PEER("ffmpeg");
    }
    // ffmpeg's decoding of every code of `law` ("alaw", "mulaw"), 16-bit
    // little-endian.
    QByteArray DecodeEveryCode(const QString& law)
    {
        QByteArray codes(256, '\0');
        for (int c = 0; c < 256; ++c)
            codes[c] = char(c);
        EXPECT_TRUE(WriteFile(dir_.file("codes.raw"), codes));
        const QByteArray linear = RunFfmpeg({"-f", law, "-ar", "8000", "-ac", "1", "-i",
            QString::fromStdString(dir_.file("codes.raw")), "-f", "s16le", "-"});
        EXPECT_EQ(linear.size(), 512);
        return linear.size() == 512 ? linear : QByteArray(512, '\0');
    }
    // ffmpeg's encoding of every 16-bit sample into `law`.
    QByteArray EncodeEverySample(const QString& law)
    {
        EXPECT_TRUE(WriteFile(dir_.file("in.raw"), AllSamples()));
        return RunFfmpeg({"-f", "s16le", "-ar", "8000", "-ac", "1", "-i", QString::fromStdString(dir_.file("in.raw")),
            "-f", law, "-"});
    }
    TestTempDir dir_;
};

TEST(G711, KnownValues)
{
    EXPECT_EQ(alaw2linear(0xD5), 8);
    EXPECT_EQ(alaw2linear(0x55), -8);
    EXPECT_EQ(alaw2linear(0xAA), 32256);
    EXPECT_EQ(alaw2linear(0x2A), -32256);
    EXPECT_EQ(linear2ulaw(0), 0xFF);
    EXPECT_EQ(linear2ulaw(-1), 0x7F);
    EXPECT_EQ(linear2ulaw(32767), 0x80);
    EXPECT_EQ(linear2ulaw(-32768), 0x00);
    EXPECT_EQ(LoadRawALawTable(0), 0xD5);
    EXPECT_EQ(LoadRawALawTable(-1), 0x55);
    EXPECT_EQ(LoadRawALawTable(32767), 0xAA);
    EXPECT_EQ(LoadRawALawTable(-32768), 0x2A);
    // Out-of-range samples are clamped rather than read past the table.
    EXPECT_EQ(LoadRawALawTable(1 << 20), 0xAA);
    EXPECT_EQ(LoadRawALawTable(-(1 << 20)), 0x2A);
    EXPECT_EQ(linear2ulaw(1 << 30), 0x80);
    EXPECT_EQ(linear2ulaw(-(1 << 30)), 0x00);
}

TEST_F(G711Test, ALawDecoderMatchesFfmpeg)
{
    const QByteArray linear = DecodeEveryCode("alaw");
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(alaw2linear(static_cast<unsigned char>(c)), ReadS16LE(linear, c)) << "code " << c;
}

TEST_F(G711Test, ALawEncoderAgainstFfmpeg)
{
    int reconstruction[256];
    for (int c = 0; c < 256; ++c)
        reconstruction[c] = alaw2linear(static_cast<unsigned char>(c));
    CompareWithFfmpeg(Law{"alaw", true}, &LoadRawALawTable, EncodeEverySample("alaw"), reconstruction);
}

// The reconstruction values: ffmpeg's mu-law decoder (the program has none
// of its own).
TEST_F(G711Test, MuLawEncoderAgainstFfmpeg)
{
    const QByteArray linear = DecodeEveryCode("mulaw");
    int reconstruction[256];
    for (int c = 0; c < 256; ++c)
        reconstruction[c] = ReadS16LE(linear, c);
    CompareWithFfmpeg(Law{"mulaw", false}, &linear2ulaw, EncodeEverySample("mulaw"), reconstruction);
}

} // namespace
