// Native FLAC files of every sample shape the encoders write read as
// ffmpeg decodes them, sample for sample: from the start, and from a frame
// a seek reaches.  Their whole frames go through libFLAC, which must give
// what the FFmpeg decoder gives (8 to 24 bits, one to six channels, block
// sizes from 192 to 32768, three writers).
#include "MovieSource.h"
#include "PeerTools.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct FlacShape {
    const char* name;
    const char* program;    // writes {OUT} from {WAV}
    const char* arguments;
    const char* source;     // rate, channels, bits of the tone
};

void PrintTo(const FlacShape& c, std::ostream* os)
{
    *os << c.name;
}

// `frames` frames from `source`'s position, interleaved.
std::vector<SInt32> ReadInterleaved(MovieSource& source, UInt64 frames)
{
    const UInt32 channels = source.Channels();
    constexpr UInt32 kBlock = 3000;
    std::vector<std::vector<SInt32>> planes(channels, std::vector<SInt32>(kBlock));
    std::vector<SInt32*> pointers;
    for (auto& plane : planes)
        pointers.push_back(plane.data());
    std::vector<SInt32> out;
    while (frames > 0) {
        UInt32 delivered = 0;
        if (source.Read(pointers.data(), UInt32(std::min<UInt64>(frames, kBlock)), &delivered) != noErr ||
            delivered == 0)
            break;
        for (UInt32 i = 0; i < delivered; ++i)
            for (UInt32 c = 0; c < channels; ++c)
                out.push_back(planes[c][i]);
        frames -= delivered;
    }
    return out;
}

class FlacFrameDecode : public ::testing::TestWithParam<FlacShape> {};

TEST_P(FlacFrameDecode, ReadsAsFFmpegDecodes)
{
    const FlacShape& c = GetParam();
    QM_REQUIRE_PEER("ffmpeg");
    QM_REQUIRE_PEER("sox");
    if (!peers::Have(QString::fromLatin1(c.program))) {
        if (peers::InCI())
            FAIL() << c.program << " is not installed (a peer every CI run needs)";
        GTEST_SKIP() << c.program << " is not installed";
    }
    TestTempDir dir;
    const QString wav = QString::fromStdString(dir.file("tone.wav"));
    const std::string flac = dir.file("tone.flac");
    const QStringList shape = QString::fromLatin1(c.source).split(' ');
    ASSERT_EQ(peers::Run("sox", {"-R", "-D", "-n", "-r", shape[0], "-c", shape[1], "-b", shape[2], wav, "synth", "2.3",
                                 "sine", "440", "sine", "1250", "gain", "-2"}).exitCode, 0);
    QStringList arguments;
    for (const QString& a : QString::fromLatin1(c.arguments).split(' ', Qt::SkipEmptyParts))
        arguments << (a == "{WAV}" ? wav : a == "{OUT}" ? QString::fromStdString(flac) : a);
    ASSERT_EQ(peers::Run(c.program, arguments).exitCode, 0);

    const std::vector<SInt32> expected = peers::FFmpegS32(flac);
    std::unique_ptr<MovieSource> source;
    ASSERT_EQ(MovieSource::Open(flac, &source), noErr);
    const UInt32 channels = source->Channels();
    ASSERT_EQ(QString::number(channels), shape[1]);
    ASSERT_EQ(expected.size(), source->FrameCount() * channels);
    const std::vector<SInt32> whole = ReadInterleaved(*source, source->FrameCount());
    EXPECT_TRUE(whole == expected);
    const SFTDecodeLoss& loss = source->DecodeLoss();
    EXPECT_EQ(loss.refusedPackets, 0u);
    EXPECT_FALSE(loss.checksumMismatch);

    // Back to a frame inside a block, after the end was read.
    const UInt64 at = source->FrameCount() / 3 + 77;
    ASSERT_EQ(source->Seek(at), noErr);
    const std::vector<SInt32> part = ReadInterleaved(*source, 20000);
    ASSERT_EQ(part.size(), std::size_t(20000) * channels);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), expected.begin() + std::ptrdiff_t(at * channels)));
}

INSTANTIATE_TEST_SUITE_P(
    Files, FlacFrameDecode,
    ::testing::Values(FlacShape{"flac_8bit", "flac", "--silent -o {OUT} {WAV}", "44100 2 8"},
                      FlacShape{"flac_mono_b192", "flac", "--silent -b 192 -o {OUT} {WAV}", "22050 1 16"},
                      FlacShape{"flac_six_channels", "flac", "--silent -o {OUT} {WAV}", "48000 6 16"},
                      FlacShape{"flac_96k_24bit", "flac", "--silent -8 -o {OUT} {WAV}", "96000 2 24"},
                      FlacShape{"flac_lax_b32768", "flac", "--silent --lax -b 32768 -o {OUT} {WAV}", "44100 2 16"},
                      FlacShape{"ffmpeg_24bit", "ffmpeg", "-nostdin -v error -y -i {WAV} -c:a flac {OUT}",
                                "44100 2 24"},
                      FlacShape{"sox", "sox", "{WAV} {OUT}", "32000 2 16"}),
    [](const ::testing::TestParamInfo<FlacShape>& info) { return std::string(info.param.name); });

}  // namespace
