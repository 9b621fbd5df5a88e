// The movie source on damaged and cut compressed files, measured against
// ffmpeg: the frames it counts are those ffmpeg decodes (plus the silence
// standing for refused packets), and the sound it says was lost is what
// the damage took from the whole file's decode, within a frame of the
// codec.  The files are encoded by ffmpeg, sox and lame from a sox tone
// and damaged here; each codec's intact file is a control that must read
// clean, and so must the intact shapes other writers give (Shape), made
// here by hand or from an encode.
#include "IntactShapes.h"
#include "LayerOneBuilding.h"
#include "MovieSource.h"
#include "PeerTools.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>

namespace {

enum class Damage {
    None,
    Tail,          // the last `bytes` overwritten
    LastPageEdge,  // `bytes` overwritten across the start of the last Ogg page
    Middle,        // `share` of the file overwritten from its middle
    Bytes,         // `bytes` overwritten from the middle
    DataStart,     // `bytes` of the first packet overwritten (garbage, or zeros for 'mdat')
    Cut,           // the file ends at `share` of its length
    FlipBit,       // bit 4 of byte `bytes` flipped
};

// The intact file, before the damage: as the program writes it, or an
// intact shape of another writer.
enum class Shape {
    Encoded,
    LayerOneByHand,  // Layer I frames with checksums in channel mode `shapeValue`, built here (no program)
    OpusPreSkip,     // the Opus header's pre-skip set to `shapeValue`
    EmptyFirstAAC,   // the first AAC packet decodes to nothing: it only primes the decoder
    TwoID3v2,        // an MP3 with a second ID3v2 tag (of `shapeValue` bytes) after its first
    JunkAfterID3v2,  // `shapeValue` bytes that are no frame between the ID3v2 tag and the first frame
    TagsAtEnd,       // an ID3v2 tag and an ID3v1 tag after the last frame
    APEAtEnd,        // an APEv2 tag without its header after the last frame
    FlacNumberLeap,  // FLAC frame 10 numbered `shapeValue`, its checksums made again
    MonoThenStereo,  // the program's encode of a mono take, then of the stereo one, in one stream
};

enum class Expect {
    Clean,    // the frames ffmpeg decodes, nothing said
    Cut,      // the frames ffmpeg decodes, cut short, nothing lost
    Lost,     // the loss said is what the damage took, within a frame
    Partial,  // some of the loss said (the rest no header tells)
    Fails,    // does not open: `code`
    OneRefused,  // the frames ffmpeg decodes, one packet refused and its time silenced
};

struct LossCase {
    const char* name;
    const char* file;      // the encode's name (its extension tells ffmpeg the container)
    const char* program;   // writes {OUT} from {WAV}
    const char* arguments;
    Damage damage;
    double share;
    int bytes;
    Expect expect;
    int frame;             // the codec's frames per packet (the tolerance)
    OSErr code;
    Shape shape = Shape::Encoded;
    int shapeValue = 0;
};

void PrintTo(const LossCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<char> Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// The frames ffmpeg decodes from a file; `checked`: dropping the frames
// that fail their checksums (as the source does for AC-3).
long long FFmpegFrames(const std::string& path, bool checked = false)
{
    const QStringList checks = checked ? QStringList{"-err_detect", "crccheck+explode"} : QStringList();
    const peers::RunResult r = peers::Run(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "quiet"} + checks +
        QStringList{"-i", QString::fromStdString(path), "-ac", "1", "-f", "s16le", "-"});
    return r.out.size() / 2;
}

void Overwrite(std::vector<char>* bytes, std::size_t from, std::size_t count, bool zeros = false)
{
    for (std::size_t k = from; k < std::min(bytes->size(), from + count); ++k)
        (*bytes)[k] = zeros ? 0 : char((k * 131 + 7) & 0xFF);
}

std::size_t Find(const std::vector<char>& bytes, const char* tag, bool last = false)
{
    const std::string_view haystack(bytes.data(), bytes.size());
    return last ? haystack.rfind(tag) : haystack.find(tag);
}

class MovieSourceLoss : public ::testing::TestWithParam<LossCase> {};

TEST_P(MovieSourceLoss, SaysWhatTheDamageTook)
{
    const LossCase& c = GetParam();
    QM_REQUIRE_PEER("ffmpeg");
    QM_REQUIRE_PEER("sox");
    QM_REQUIRE_PEER("lame");
    if (c.program && !peers::Have(QString::fromLatin1(c.program))) {
        if (peers::InCI())
            FAIL() << c.program << " is not installed (a peer every CI run needs)";
        GTEST_SKIP() << c.program << " is not installed";
    }
    TestTempDir dir;
    const std::string wav = dir.file("tone.wav");
    const std::string intact = dir.file(std::string("intact_") + c.file);
    ASSERT_EQ(peers::Run("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", QString::fromStdString(wav), "synth",
                  "3", "sine", "440", "sine", "660", "gain", "-3"}).exitCode, 0);
    const auto encode = [&](const std::string& from, const std::string& to) {
        QStringList arguments;
        for (const QString& a : QString::fromLatin1(c.arguments).split(' ', Qt::SkipEmptyParts))
            arguments << (a == "{WAV}" ? QString::fromStdString(from) : a == "{OUT}" ? QString::fromStdString(to) : a);
        return peers::Run(c.program, arguments).exitCode == 0;
    };
    if (c.program) {
        ASSERT_TRUE(encode(wav, intact)) << c.arguments;
    }
    std::vector<char> bytes = Bytes(intact);
    switch (c.shape) {
    case Shape::Encoded: break;
    case Shape::OpusPreSkip: {
        intactshape::Bytes shaped(bytes.begin(), bytes.end());
        ASSERT_TRUE(intactshape::SetOpusPreSkip(&shaped, uint16_t(c.shapeValue)));
        bytes.assign(shaped.begin(), shaped.end());
        break;
    }
    case Shape::EmptyFirstAAC: {
        intactshape::Bytes shaped(bytes.begin(), bytes.end());
        ASSERT_TRUE(intactshape::EmptyFirstAACPacket(&shaped));
        bytes.assign(shaped.begin(), shaped.end());
        break;
    }
    case Shape::TwoID3v2:
    case Shape::JunkAfterID3v2:
    case Shape::TagsAtEnd:
    case Shape::APEAtEnd: {
        intactshape::Bytes before, after;
        if (c.shape == Shape::TwoID3v2) {
            before = intactshape::ID3v2Tag(600);
            const intactshape::Bytes second = intactshape::ID3v2Tag(uint32_t(c.shapeValue));
            before.insert(before.end(), second.begin(), second.end());
        } else if (c.shape == Shape::JunkAfterID3v2) {
            before = intactshape::ID3v2Tag(600);
            for (int i = 0; i < c.shapeValue; ++i)
                before.push_back(uint8_t(i % 200));
        } else if (c.shape == Shape::TagsAtEnd) {
            after = intactshape::ID3v2Tag(3000);
            const intactshape::Bytes v1 = intactshape::ID3v1Tag();
            after.insert(after.end(), v1.begin(), v1.end());
        } else {
            after = intactshape::APETag(false);
        }
        bytes.insert(bytes.begin(), before.begin(), before.end());
        bytes.insert(bytes.end(), after.begin(), after.end());
        break;
    }
    case Shape::FlacNumberLeap: {
        intactshape::Bytes shaped(bytes.begin(), bytes.end());
        ASSERT_TRUE(intactshape::LeapFlacFrameNumber(&shaped, 10, uint8_t(c.shapeValue)));
        bytes.assign(shaped.begin(), shaped.end());
        break;
    }
    case Shape::MonoThenStereo: {
        const std::string mono = dir.file("mono.wav"), monoEncoded = dir.file("mono_" + std::string(c.file));
        ASSERT_EQ(peers::Run("sox", {QString::fromStdString(wav), QString::fromStdString(mono), "remix", "1", "trim",
                      "0", "0.7"}).exitCode, 0);
        ASSERT_TRUE(encode(mono, monoEncoded)) << c.arguments;
        const std::vector<char> first = Bytes(monoEncoded);
        bytes.insert(bytes.begin(), first.begin(), first.end());
        break;
    }
    case Shape::LayerOneByHand: {
        const std::vector<uint8_t> stream = layeronebuild::Stream(c.shapeValue, 100);
        bytes.assign(stream.begin(), stream.end());
        break;
    }
    }
    {
        std::ofstream out(intact, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    ASSERT_GT(bytes.size(), c.damage == Damage::None ? 0u : 4096u);
    switch (c.damage) {
    case Damage::None: break;
    case Damage::FlipBit: bytes[std::size_t(c.bytes)] = char(bytes[std::size_t(c.bytes)] ^ 0x10); break;
    case Damage::Tail: Overwrite(&bytes, bytes.size() - std::size_t(c.bytes), std::size_t(c.bytes)); break;
    case Damage::LastPageEdge:
        Overwrite(&bytes, Find(bytes, "OggS", true) - std::size_t(c.bytes) / 2, std::size_t(c.bytes));
        break;
    case Damage::Middle:
        Overwrite(&bytes, bytes.size() / 2, std::size_t(double(bytes.size()) * c.share));
        break;
    case Damage::Bytes: Overwrite(&bytes, bytes.size() / 2, std::size_t(c.bytes)); break;
    case Damage::DataStart:
        if (std::size_t at = Find(bytes, "mdat"); at != std::string_view::npos) {
            Overwrite(&bytes, at + 4, std::size_t(c.bytes), true);
        } else {
            // A CAF 'data' chunk: its size, its edit count, then the
            // packets.  Garbage whose first element ends the packet.
            at = Find(bytes, "data") + 16;
            Overwrite(&bytes, at, std::size_t(c.bytes));
            bytes[at] = char(0xE1);
        }
        break;
    case Damage::Cut: bytes.resize(std::size_t(double(bytes.size()) * c.share)); break;
    }
    const std::string damaged = dir.file(c.file);
    {
        std::ofstream out(damaged, std::ios::binary);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }

    std::unique_ptr<MovieSource> source;
    const OSErr err = MovieSource::Open(damaged, &source);
    if (c.expect == Expect::Fails) {
        EXPECT_EQ(err, c.code);
        return;
    }
    ASSERT_EQ(err, noErr);
    // The whole track read, as a conversion reads it (refused packets are
    // met on the way).
    {
        constexpr UInt32 kBlock = 4096;
        std::vector<std::vector<SInt32>> channels(source->Channels(), std::vector<SInt32>(kBlock));
        std::vector<SInt32*> pointers;
        for (auto& channel : channels)
            pointers.push_back(channel.data());
        for (UInt32 delivered = kBlock; delivered == kBlock;)
            ASSERT_EQ(source->Read(pointers.data(), kBlock, &delivered), noErr);
    }
    const SFTDecodeLoss& loss = source->DecodeLoss();
    const long long frames = (long long)source->FrameCount();
    const long long decoded = FFmpegFrames(damaged, std::string_view(c.name).substr(0, 3) == "ac3");
    const std::string said = "frames " + std::to_string(frames) + ", ffmpeg " + std::to_string(decoded) +
                             ", refused " + std::to_string(loss.refusedPackets) + ", silenced " +
                             std::to_string(loss.silencedFrames) + ", missing " + std::to_string(loss.missingFrames) +
                             ", cut " + std::to_string(source->DataCutShort());
    switch (c.expect) {
    case Expect::Clean:
        // Its content alone tells it is sound, however short (a tag longer
        // than the look at the content leaves the name to tell).
        if (c.shape != Shape::TwoID3v2) {
            EXPECT_GT(MovieSource::Probe(damaged, nullptr, nullptr), 0);
        }
        [[fallthrough]];
    case Expect::Cut:
        EXPECT_EQ(frames, decoded) << said;
        EXPECT_FALSE(loss.Any()) << said;
        EXPECT_EQ(source->DataCutShort(), c.expect == Expect::Cut) << said;
        break;
    case Expect::OneRefused:
        EXPECT_EQ(frames, decoded) << said;
        EXPECT_EQ(loss.refusedPackets, 1u) << said;
        EXPECT_EQ((long long)loss.silencedFrames, c.frame) << said;
        EXPECT_EQ(loss.missingFrames, 0u) << said;
        break;
    case Expect::Lost:
    case Expect::Partial: {
        // What ffmpeg decodes, and silence for what it drops of it.
        EXPECT_NEAR(double(frames - (long long)loss.silencedFrames), double(decoded), c.frame) << said;
        const long long gone = FFmpegFrames(intact) - frames + (long long)loss.silencedFrames;
        const long long stated = (long long)(loss.silencedFrames + loss.missingFrames);
        ASSERT_GT(gone, 0) << said;
        EXPECT_TRUE(loss.Any()) << said;
        if (c.expect == Expect::Lost)
            EXPECT_NEAR(double(stated), double(gone), c.frame) << said;
        else
            EXPECT_TRUE(stated >= gone / 2 && stated <= gone + c.frame) << said << ", gone " << gone;
        break;
    }
    case Expect::Fails: break;
    }
}

std::string CaseName(const ::testing::TestParamInfo<LossCase>& info)
{
    return info.param.name;
}

constexpr const char* kAAC = "-nostdin -v error -y -i {WAV} -c:a aac {OUT}";
constexpr const char* kADTS = "-nostdin -v error -y -i {WAV} -c:a aac -f adts {OUT}";
constexpr const char* kALAC = "-nostdin -v error -y -i {WAV} -c:a alac {OUT}";
constexpr const char* kOpus = "-nostdin -v error -y -i {WAV} -c:a libopus {OUT}";
constexpr const char* kVorbis = "-nostdin -v error -y -i {WAV} -c:a libvorbis {OUT}";
constexpr const char* kWMA = "-nostdin -v error -y -i {WAV} -c:a wmav2 {OUT}";
constexpr const char* kAC3 = "-nostdin -v error -y -i {WAV} -c:a ac3 {OUT}";
constexpr const char* kMP2 = "-nostdin -v error -y -i {WAV} -c:a mp2 {OUT}";
constexpr const char* kFLAC = "-nostdin -v error -y -i {WAV} {OUT}";
constexpr const char* kUntagged = "--quiet -t {WAV} {OUT}";
constexpr const char* kLame = "--quiet {WAV} {OUT}";
// A one-second Vorbis stream: its end trimming is no loss.
constexpr const char* kVorbisSecond = "-nostdin -v error -y -i {WAV} -t 1 -c:a libvorbis {OUT}";

INSTANTIATE_TEST_SUITE_P(Files, MovieSourceLoss,
    ::testing::Values(
        LossCase{"aac_m4a", "a.m4a", "ffmpeg", kAAC, Damage::None, 0, 0, Expect::Clean, 1024, 0},
        LossCase{"aac_adts", "a.aac", "ffmpeg", kADTS, Damage::None, 0, 0, Expect::Clean, 1024, 0},
        LossCase{"alac_caf", "a.caf", "ffmpeg", kALAC, Damage::None, 0, 0, Expect::Clean, 4096, 0},
        LossCase{"alac_m4a", "alac.m4a", "ffmpeg", kALAC, Damage::None, 0, 0, Expect::Clean, 4096, 0},
        LossCase{"opus", "a.opus", "ffmpeg", kOpus, Damage::None, 0, 0, Expect::Clean, 960, 0},
        LossCase{"vorbis", "a.ogg", "ffmpeg", kVorbis, Damage::None, 0, 0, Expect::Clean, 1024, 0},
        LossCase{"vorbis_one_second", "s.ogg", "ffmpeg", kVorbisSecond, Damage::None, 0, 0, Expect::Clean, 1024, 0},
        LossCase{"vorbis_sox", "x.ogg", "sox", "-D {WAV} {OUT} trim 0 1.5", Damage::None, 0, 0, Expect::Clean, 1024, 0},
        LossCase{"wma", "a.wma", "ffmpeg", kWMA, Damage::None, 0, 0, Expect::Clean, 2048, 0},
        // At 48 kHz the duration's rounding to the millisecond and the
        // partial last frame together pass one frame.
        LossCase{"wma_v1_48k", "a.wma", "ffmpeg", "-nostdin -v error -y -i {WAV} -ar 48000 -c:a wmav1 {OUT}",
            Damage::None, 0, 0, Expect::Clean, 2048, 0},
        LossCase{"wma_v2_48k", "a.wma", "ffmpeg", "-nostdin -v error -y -i {WAV} -ar 48000 -c:a wmav2 {OUT}",
            Damage::None, 0, 0, Expect::Clean, 2048, 0},
        LossCase{"ac3", "a.ac3", "ffmpeg", kAC3, Damage::None, 0, 0, Expect::Clean, 1536, 0},
        // Matroska times its packets in milliseconds: their durations do
        // not tell the frames.
        LossCase{"mp3_mka", "a.mka", "ffmpeg", "-nostdin -v error -y -i {WAV} -c:a libmp3lame {OUT}", Damage::None, 0,
            0, Expect::Clean, 1152, 0},
        LossCase{"flac_mka", "a.mka", "ffmpeg", "-nostdin -v error -y -i {WAV} -c:a flac {OUT}", Damage::None, 0, 0,
            Expect::Clean, 4608, 0},
        // A stream of two frames, which the libraries score low.
        LossCase{"eac3_two_frames", "a.eac3", "ffmpeg", "-nostdin -v error -y -i {WAV} -t 0.05 -ar 48000 -c:a eac3 {OUT}",
            Damage::None, 0, 0, Expect::Clean, 1536, 0},
        LossCase{"mp2", "a.mp2", "ffmpeg", kMP2, Damage::None, 0, 0, Expect::Clean, 1152, 0},
        LossCase{"mp3_untagged", "u.mp3", "lame", kUntagged, Damage::None, 0, 0, Expect::Clean, 1152, 0},
        // Tags are no sound, nor are the bytes before the first frame.
        LossCase{"mp3_untagged_two_id3v2", "t.mp3", "lame", kUntagged, Damage::None, 0, 0, Expect::Clean, 1152, 0,
            Shape::TwoID3v2, 200000},
        LossCase{"mp3_junk_after_id3v2", "t.mp3", "lame", kLame, Damage::None, 0, 0, Expect::Clean, 1152, 0,
            Shape::JunkAfterID3v2, 3000},
        LossCase{"mp3_id3v2_and_id3v1_at_end", "t.mp3", "lame", kUntagged, Damage::None, 0, 0, Expect::Clean, 1152, 0,
            Shape::TagsAtEnd},
        LossCase{"mp3_ape_at_end", "t.mp3", "lame", kLame, Damage::None, 0, 0, Expect::Clean, 1152, 0,
            Shape::APEAtEnd},
        // A change of channel mode is no damage: every frame is decoded.
        LossCase{"mp3_mono_then_stereo", "m.mp3", "lame", kUntagged, Damage::None, 0, 0, Expect::Clean, 1152, 0,
            Shape::MonoThenStereo},
        LossCase{"flac", "a.flac", "ffmpeg", kFLAC, Damage::None, 0, 0, Expect::Clean, 4608, 0},
        // No amount said passes what the file states: frame numbers that
        // leap (every sample there, as STREAMINFO says) lose nothing.
        LossCase{"flac_frame_numbers_leap", "a.flac", "flac", "--silent -f -o {OUT} {WAV}", Damage::None, 0, 0,
            Expect::Clean, 4096, 0, Shape::FlacNumberLeap, 100},
        // Opus pre-skips beyond one packet, also in 120 ms packets: the
        // packets the pre-skip takes whole give no frame and are no loss;
        // a cut is said as one.
        LossCase{"opus_preskip_1000", "p.opus", "ffmpeg", kOpus, Damage::None, 0, 0, Expect::Clean, 960, 0,
            Shape::OpusPreSkip, 1000},
        LossCase{"opus_120ms_packets_preskip_65535", "p.opus", "ffmpeg",
            "-nostdin -v error -y -i {WAV} -c:a libopus -frame_duration 120 {OUT}", Damage::None, 0, 0, Expect::Clean,
            5760, 0, Shape::OpusPreSkip, 65535},
        LossCase{"opusenc_preskip_3840", "p.opus", "opusenc", "--quiet {WAV} {OUT}", Damage::None, 0, 0, Expect::Clean,
            960, 0, Shape::OpusPreSkip, 3840},
        LossCase{"opus_preskip_3840_cut", "p.opus", "ffmpeg", kOpus, Damage::Cut, 0.5, 0, Expect::Cut, 960, 0,
            Shape::OpusPreSkip, 3840},
        // Layer I in every channel mode, with checksums: in joint stereo
        // fewer bits are protected (the allocation above the bound is sent
        // once); a frame whose checksum fails is refused.
        LossCase{"layer1_stereo_checksums", "s.mp1", nullptr, nullptr, Damage::None, 0, 0, Expect::Clean, 384, 0,
            Shape::LayerOneByHand, 0},
        LossCase{"layer1_joint_stereo_checksums", "j.mp1", nullptr, nullptr, Damage::None, 0, 0, Expect::Clean, 384, 0,
            Shape::LayerOneByHand, 1},
        LossCase{"layer1_mono_checksums", "m.mp1", nullptr, nullptr, Damage::None, 0, 0, Expect::Clean, 384, 0,
            Shape::LayerOneByHand, 3},
        LossCase{"layer1_joint_stereo_bad_checksum", "b.mp1", nullptr, nullptr, Damage::FlipBit, 0, 50 * 384 + 7,
            Expect::OneRefused, 384, 0, Shape::LayerOneByHand, 1},
        // A first AAC packet that only primes the decoder, with an edit
        // list and without one (the skip goes on to the frames it gives).
        LossCase{"aac_m4a_priming_packet", "a.m4a", "ffmpeg", kAAC, Damage::None, 0, 0, Expect::Clean, 1024, 0,
            Shape::EmptyFirstAAC},
        LossCase{"aac_3g2_no_edit_list_priming_packet", "a.3g2", "ffmpeg",
            "-nostdin -v error -y -i {WAV} -c:a aac -use_editlist 0 {OUT}", Damage::None, 0, 0, Expect::Clean, 1024, 0,
            Shape::EmptyFirstAAC},
        // Damage reaching an Ogg stream's last page.
        LossCase{"opus_last_kilobyte", "a.opus", "ffmpeg", kOpus, Damage::Tail, 0, 1024, Expect::Lost, 960, 0},
        LossCase{"vorbis_middle_page", "a.ogg", "ffmpeg", kVorbis, Damage::Bytes, 0, 64, Expect::Lost, 1024, 0},
        LossCase{"vorbis_last_pages", "a.ogg", "ffmpeg", kVorbis, Damage::LastPageEdge, 0, 600, Expect::Partial, 1024, 0},
        // WMA: cuts and damage against the header's duration.
        LossCase{"wma_cut_tenth", "a.wma", "ffmpeg", kWMA, Damage::Cut, 0.1, 0, Expect::Cut, 2048, 0},
        LossCase{"wma_cut_half", "a.wma", "ffmpeg", kWMA, Damage::Cut, 0.5, 0, Expect::Cut, 2048, 0},
        LossCase{"wma_middle", "a.wma", "ffmpeg", kWMA, Damage::Middle, 0.1, 0, Expect::Lost, 2048, 0},
        // A first packet the decoder refuses, or that gives nothing.
        LossCase{"alac_caf_first_packet", "a.caf", "ffmpeg", kALAC, Damage::DataStart, 0, 1024, Expect::Lost, 4096, 0},
        LossCase{"aac_m4a_zero_mdat", "a.m4a", "ffmpeg", kAAC, Damage::DataStart, 0, 64, Expect::Lost, 1024, 0},
        LossCase{"aac_mp4_zero_mdat", "a.mp4", "ffmpeg", kAAC, Damage::DataStart, 0, 64, Expect::Lost, 1024, 0},
        // Raw streams: frames passed over while finding the stream again.
        LossCase{"aac_adts_bytes", "a.aac", "ffmpeg", kADTS, Damage::Bytes, 0, 1500, Expect::Lost, 1024, 0},
        LossCase{"ac3_bytes", "a.ac3", "ffmpeg", kAC3, Damage::Bytes, 0, 64, Expect::Lost, 1536, 0},
        LossCase{"ac3_tenth", "a.ac3", "ffmpeg", kAC3, Damage::Middle, 0.1, 0, Expect::Lost, 1536, 0},
        LossCase{"mp2_tenth", "a.mp2", "ffmpeg", kMP2, Damage::Middle, 0.1, 0, Expect::Lost, 1152, 0},
        LossCase{"mp3_untagged_tenth", "u.mp3", "lame", kUntagged, Damage::Middle, 0.1, 0, Expect::Lost, 1152, 0},
        LossCase{"ac3_cut_inside_frame", "a.ac3", "ffmpeg", kAC3, Damage::Cut, 0.5, 0, Expect::Cut, 1536, 0},
        // Files cut before what the demuxer needs: an MPEG-4 file's movie
        // box and a CAF file's packet table (both written at the end), an
        // Ogg stream's first sound page.
        LossCase{"aac_m4a_cut_before_moov", "a.m4a", "ffmpeg", kAAC, Damage::Cut, 0.6, 0, Expect::Fails, 1024, eofErr},
        LossCase{"alac_caf_cut_before_packet_table", "a.caf", "ffmpeg", kALAC, Damage::Cut, 0.9, 0, Expect::Fails, 4096,
            eofErr},
        LossCase{"vorbis_cut_in_first_pages", "a.ogg", "ffmpeg", kVorbis, Damage::Cut, 0.3, 0, Expect::Fails, 1024,
            eofErr}),
    CaseName);

}  // namespace
