// A native FLAC file opened without the media libraries must give all that
// opening it through them gives: every property, the metadata, the length
// rules' lines, every sample from the start and after a seek back, and what
// the reading found.  Files of many shapes from flac, ffmpeg and sox, with
// the metadata blocks writers add; files the quick way must leave to the
// libraries (a channel mask in the tags, an ID3v2 tag before the stream);
// and frames whose checksums hold but whose sound libFLAC refuses, which
// take the libraries' decoder late.
#include "ByteChecksum.h"
#include "FlacFrameWalk.h"
#include "MovieSource.h"
#include "PeerTools.h"
#include "SourceReading.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

namespace {

enum class Edit {
    None,
    Id3v2Before,      // an ID3v2 tag put before "fLaC"
    OtherMaskTag,     // a channel mask tag of FL FR FC BC (metaflac)
    MiddleRefused,    // a middle frame's first subframe of a reserved type, its CRC-16 made to hold
    LastRefused,      // the same of the last frame
};

struct NativeCase {
    const char* name;
    const char* program;    // flac, ffmpeg or sox
    const char* arguments;  // {WAV} the tone, {OUT} the file, {PNG} a picture
    const char* source;     // rate, channels, bits, seconds of the tone
    Edit edit;
    bool native;            // opened without the libraries
};

void PrintTo(const NativeCase& c, std::ostream* os)
{
    *os << c.name;
}

std::string Describe(const MovieSource& s)
{
    std::ostringstream out;
    const SFTDecodeLoss& loss = s.DecodeLoss();
    out << s.SampleRate() << ' ' << s.Channels() << ' ' << s.FrameCount() << ' ' << s.DataCutShort() << ' '
        << s.FileFormat() << ' ' << s.DataFormat() << ' ' << s.SourceBits() << ' '
        << s.FloatSamples() << ' ' << s.HasVideoTrack() << ' ' << s.AudioDataBytes()
        << ' ' << s.StatedBitRate() << ' ' << s.FirstMPEGHeader() << ' ' << s.Position() << "\nlabels";
    for (UInt32 label : s.FileChannelLabels())
        out << ' ' << label;
    out << "\nloss " << loss.packets << ' ' << loss.refusedPackets << ' ' << loss.silencedFrames << ' '
        << loss.missingFrames << ' ' << loss.checksumMismatch << ' ' << loss.gaps << '\n';
    for (const std::string& line : s.RuleLines())
        out << line << '\n';
    return out.str();
}

void Apply(Edit edit, const std::string& path)
{
    if (edit == Edit::OtherMaskTag) {
        ASSERT_EQ(peers::Run("metaflac", {"--remove-tag=WAVEFORMATEXTENSIBLE_CHANNEL_MASK",
                                          "--set-tag=WAVEFORMATEXTENSIBLE_CHANNEL_MASK=0x0107",
                                          QString::fromStdString(path)}).exitCode, 0);
        return;
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    if (edit == Edit::Id3v2Before) {
        // "ID3", version 3.0, no flags, a ten-byte body of padding.
        bytes = std::string("ID3\x03\x00\x00\x00\x00\x00\x0A", 10) + std::string(10, '\0') + bytes;
    } else if (edit == Edit::MiddleRefused || edit == Edit::LastRefused) {
        const std::vector<FlacFrameWalk::Frame> frames = FlacFrameWalk::Whole(path);
        ASSERT_GT(frames.size(), 4u);
        const FlacFrameWalk::Frame& f = frames[edit == Edit::LastRefused ? frames.size() - 1 : frames.size() / 2];
        // The frame header's length: up to its CRC-8, the first byte that
        // makes the CRC-8 of the header so far hold.
        std::size_t header = 6;
        auto* p = reinterpret_cast<uint8_t*>(bytes.data()) + f.pos;
        while (header < 16 && ByteChecksum::Crc8(p, header) != 0)
            ++header;
        ASSERT_LT(header, 16u);
        p[header] = 0x04;  // subframe type 000010: reserved
        const UInt16 crc = ByteChecksum::Crc16(p, f.bytes - 2);
        p[f.bytes - 2] = uint8_t(crc >> 8);
        p[f.bytes - 1] = uint8_t(crc);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
}

class NativeFlac : public ::testing::TestWithParam<NativeCase> {};

TEST_P(NativeFlac, OpensAsTheLibrariesDo)
{
    const NativeCase& c = GetParam();
    QM_REQUIRE_PEER("ffmpeg");
    QM_REQUIRE_PEER("sox");
    QM_REQUIRE_PEER("flac");
    TestTempDir dir;
    const QString wav = QString::fromStdString(dir.file("tone.wav"));
    const QString png = QString::fromStdString(dir.file("cover.png"));
    const std::string flac = dir.file("tone.flac");
    const QStringList shape = QString::fromLatin1(c.source).split(' ');
    ASSERT_EQ(peers::Run("sox", {"-R", "-D", "-n", "-r", shape[0], "-c", shape[1], "-b", shape[2], wav, "synth",
                                 shape[3], "sine", "300-3000", "pinknoise", "gain", "-6"}).exitCode, 0);
    ASSERT_EQ(peers::Run("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "color=c=red:s=8x8", "-frames:v",
                                    "1", png}).exitCode, 0);
    QStringList arguments;
    for (const QString& a : QString::fromLatin1(c.arguments).split(' ', Qt::SkipEmptyParts))
        arguments << QString(a).replace("{WAV}", wav).replace("{PNG}", png).replace("{OUT}", QString::fromStdString(flac));
    ASSERT_EQ(peers::Run(c.program, arguments).exitCode, 0);
    Apply(c.edit, flac);

    std::unique_ptr<MovieSource> quick, reference;
    ASSERT_EQ(MovieSource::Open(flac, &quick), noErr);
    ASSERT_EQ(MovieSource::OpenWithLibraries(flac, &reference), noErr);
    EXPECT_EQ(quick->ReadsWithoutLibraries(), c.native);
    EXPECT_FALSE(reference->ReadsWithoutLibraries());
    EXPECT_EQ(Describe(*quick), Describe(*reference));

    const UInt64 frames = reference->FrameCount();
    const std::vector<SInt32> whole = ReadInterleaved(*reference, frames);
    ASSERT_EQ(whole.size(), frames * reference->Channels());
    EXPECT_TRUE(ReadInterleaved(*quick, frames) == whole);
    // A frame refused inside the track is given to the libraries' decoder.
    if (c.edit == Edit::MiddleRefused) {
        EXPECT_FALSE(quick->ReadsWithoutLibraries());
    }
    EXPECT_EQ(Describe(*quick), Describe(*reference));

    // Back to a frame inside a block, in both.
    const UInt64 at = frames / 3 + 77;
    const UInt64 count = std::min<UInt64>(9000, frames - at);
    ASSERT_EQ(quick->Seek(at), noErr);
    ASSERT_EQ(reference->Seek(at), noErr);
    const std::vector<SInt32> part = ReadInterleaved(*quick, count);
    EXPECT_TRUE(part == ReadInterleaved(*reference, count));
    EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + std::ptrdiff_t(at * quick->Channels())));
}

INSTANTIATE_TEST_SUITE_P(
    Files, NativeFlac,
    ::testing::Values(
        NativeCase{"flac_stereo", "flac", "--silent -o {OUT} {WAV}", "44100 2 16 2.5", Edit::None, true},
        NativeCase{"flac_mono_8bit_b192", "flac", "--silent -b 192 -o {OUT} {WAV}", "8000 1 8 2.5", Edit::None,
                   true},
        // (sox's 24-bit WAVE names its speakers: flac keeps their mask in a
        // tag, here the one the libraries give two channels anyway.)
        NativeCase{"flac_24bit_96k", "flac", "--silent -8 -o {OUT} {WAV}", "96000 2 24 1.5", Edit::None, true},
        NativeCase{"flac_3ch", "flac", "--silent --channel-map=none -o {OUT} {WAV}", "48000 3 16 1", Edit::None, true},
        NativeCase{"flac_4ch", "flac", "--silent --channel-map=none -o {OUT} {WAV}", "48000 4 16 1", Edit::None,
                   true},
        NativeCase{"flac_5ch", "flac", "--silent --channel-map=none -o {OUT} {WAV}", "48000 5 16 1", Edit::None, true},
        NativeCase{"flac_7ch", "flac", "--silent --channel-map=none -o {OUT} {WAV}", "48000 7 16 1", Edit::None, true},
        NativeCase{"flac_8ch", "flac", "--silent --channel-map=none -o {OUT} {WAV}", "48000 8 16 1", Edit::None, true},
        NativeCase{"flac_b32768", "flac", "--silent --lax -b 32768 -o {OUT} {WAV}", "44100 2 16 2.5", Edit::None,
                   true},
        NativeCase{"flac_tags_picture_no_seektable", "flac",
                   "--silent -S- -T TITLE=Tone -T ARTIST=Quill -T artist=Second -T ALBUMARTIST=A "
                   "-T TRACKNUMBER=3 -T DESCRIPTION=text --picture={PNG} -o {OUT} {WAV}",
                   "44100 2 16 1.5", Edit::None, true},
        NativeCase{"ffmpeg_24bit", "ffmpeg", "-nostdin -v error -y -i {WAV} -c:a flac {OUT}", "44100 2 24 2.5",
                   Edit::None, true},
        NativeCase{"ffmpeg_tagged", "ffmpeg",
                   "-nostdin -v error -y -i {WAV} -metadata title=T -metadata genre=G -c:a flac {OUT}",
                   "22050 1 16 2.5", Edit::None, true},
        NativeCase{"sox", "sox", "{WAV} {OUT}", "32000 2 16 2.5", Edit::None, true},
        // What only the libraries read as they do: masks of other speakers
        // than they give the channels (rear surrounds of six), a tag before
        // the stream, a last frame libFLAC refuses.
        NativeCase{"ffmpeg_5_0_back_mask", "ffmpeg",
                   "-nostdin -v error -y -i {WAV} -af channelmap=channel_layout=5.0 -c:a flac {OUT}",
                   "48000 5 16 1", Edit::None, false},
        NativeCase{"flac_6ch_back_mask_tag", "flac", "--silent -o {OUT} {WAV}", "48000 6 24 1", Edit::None, false},
        NativeCase{"flac_other_mask_tag", "flac", "--silent --channel-map=none -o {OUT} {WAV}", "48000 4 16 1",
                   Edit::OtherMaskTag, false},
        NativeCase{"id3v2_before", "flac", "--silent -o {OUT} {WAV}", "44100 2 16 1.5", Edit::Id3v2Before, false},
        NativeCase{"last_frame_refused", "flac", "--silent -o {OUT} {WAV}", "44100 2 16 1.5", Edit::LastRefused,
                   false},
        // Opened without them; the refused frame takes their decoder.
        NativeCase{"middle_frame_refused", "flac", "--silent -o {OUT} {WAV}", "44100 2 16 4",
                   Edit::MiddleRefused, true}),
    [](const ::testing::TestParamInfo<NativeCase>& info) { return std::string(info.param.name); });

} // namespace
