// The G.729 file: every layout written and read back through the class (the
// samples equal a direct run of the codec, a short last frame padded), the
// RIFF chunk walk and format tags, refusals of other rates and channel
// counts, damaged serial frames decoded as erasures, ffmpeg's g729 and bit
// demuxers reading our files (G.729 through quillmarch-batch: the coded
// batch test).
#include "CG729File.h"
#include "CodedTestSupport.h"
#include "G729Bits.h"
#include "G729Decoder.h"
#include "G729Encoder.h"
#include "TestTempDir.h"
#include "ThreadDictionary.h"

#include <QDir>
#include <QFile>

#include <array>
#include <cstdio>
#include <cstring>

using namespace codedtest;
namespace g729 = qm::g729;

namespace {

struct LayoutCase {
    const char* name;
    UInt8 options[3];
    CG729File::Layout layout;
    const char* formatName;
};

const LayoutCase kLayouts[] = {
    {"packed", {0, 0, 0}, CG729File::Layout::Packed, "ITU G.729 (Packed)"},
    {"riff", {0, 0, 1}, CG729File::Layout::Riff, "ITU G.729 Compressed Wave"},
    {"serial_be", {1, 1, 0}, CG729File::Layout::SerialBigEndian, "ITU G.729 (Unpacked Big-Endian)"},
    {"serial_le", {0, 1, 0}, CG729File::Layout::SerialLittleEndian, "ITU G.729 (Unpacked Little-Endian)"},
};

// Speech-like test audio as 16-bit integers.
std::vector<int16_t> Speech(UInt32 frames)
{
    std::vector<int16_t> out;
    for (double v : TestAudio(frames, 1, 0.5))
        out.push_back(int16_t(std::lround(v * 32767.0)));
    return out;
}

OSErr WriteG729(const std::string& path, const UInt8* options, const std::vector<int16_t>& pcm, float rate = 8000,
                UInt16 channels = 1, std::string* finalPath = nullptr)
{
    RegisterTypes();
    std::unique_ptr<CSoundFile> file(CreateSoundFileObject(FOUR_CHAR_CODE("G729")));
    if (!file)
        return -22017;
    OSErr err = file->SetFile(path);
    if (!err)
        err = file->Create(channels, 16, 0, options, nullptr, rate);
    if (err)
        return err;
    file->SetDither(false);
    std::vector<double> audio;
    for (int16_t s : pcm)
        audio.push_back(s * kScale16);
    UInt32 count = UInt32(audio.size());
    err = file->WriteFrames(0, &count, audio.data());
    if (finalPath)
        *finalPath = file->GetPath();
    const OSErr closeErr = file->Close();
    return err ? err : closeErr;
}

// What the codec itself gives for `pcm` (padded to whole frames), with the
// frames listed in `erased` decoded as erasures.
std::vector<int> CodecRun(const std::vector<int16_t>& pcm, std::vector<std::vector<uint16_t>>* params = nullptr)
{
    g729::G729Encoder encoder;
    g729::G729Decoder decoder;
    std::vector<int16_t> padded = pcm;
    padded.resize((pcm.size() + 79) / 80 * 80, 0);
    std::vector<int> out;
    for (std::size_t i = 0; i < padded.size(); i += 80) {
        uint16_t p[g729::kParameterCount];
        int16_t s[80];
        encoder.encodeFrame(&padded[i], p);
        if (params)
            params->emplace_back(p, p + g729::kParameterCount);
        decoder.decodeFrame(p, false, s);
        out.insert(out.end(), s, s + 80);
    }
    return out;
}

class G729Layouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(G729Layouts, RoundTripThroughTheClass)
{
    const LayoutCase& c = GetParam();
    TestTempDir dir;
    const std::vector<int16_t> pcm = Speech(8000 + 37);  // a short last frame
    std::string path;
    ASSERT_EQ(WriteG729(dir.path() + "/voice.g729", c.options, pcm, 8000, 1, &path), noErr);
    const std::vector<UInt8> bytes = ReadBytes(path);
    const std::size_t frames = 101;
    switch (c.layout) {
    case CG729File::Layout::Packed: EXPECT_EQ(bytes.size(), frames * 10); break;
    case CG729File::Layout::Riff:
        ASSERT_EQ(bytes.size(), 56 + frames * 10);
        EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
        EXPECT_EQ(bytes[20], 0x42);
        EXPECT_EQ(bytes[52] | (bytes[53] << 8), int(frames * 10));
        EXPECT_EQ((bytes[4] | (bytes[5] << 8)), int(48 + frames * 10));
        break;
    case CG729File::Layout::SerialBigEndian:
        ASSERT_EQ(bytes.size(), frames * 164);
        EXPECT_EQ(std::vector<UInt8>(bytes.begin(), bytes.begin() + 4), (std::vector<UInt8>{0x6B, 0x21, 0x00, 0x50}));
        break;
    case CG729File::Layout::SerialLittleEndian:
        ASSERT_EQ(bytes.size(), frames * 164);
        EXPECT_EQ(std::vector<UInt8>(bytes.begin(), bytes.begin() + 4), (std::vector<UInt8>{0x21, 0x6B, 0x50, 0x00}));
        break;
    }
    OSErr err = noErr;
    std::unique_ptr<CSoundFile> file = OpenFile(FOUR_CHAR_CODE("G729"), path, &err);
    ASSERT_EQ(err, noErr);
    auto* g = dynamic_cast<CG729File*>(file.get());
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->GetLayout(), c.layout);
    EXPECT_EQ(file->GetFormatName().toStdString(), c.formatName);
    EXPECT_EQ(file->GetNumFrames(), frames * 80);
    EXPECT_EQ(file->GetNumChannels(), 1);
    EXPECT_EQ(file->GetSampleRate(), 8000.0);
    const bool serial = c.layout == CG729File::Layout::SerialBigEndian || c.layout == CG729File::Layout::SerialLittleEndian;
    EXPECT_EQ(file->GetBitRate(), serial ? 131 : 8);
    const std::vector<int> read = ReadSamples16(*file);
    const std::vector<int> expected = CodecRun(pcm);
    EXPECT_EQ(read, expected);
    // Reading again from an earlier frame restarts the decoder.
    std::vector<double> again(400);
    UInt32 count = 400;
    ASSERT_EQ(file->ReadFrames(160, &count, again.data()), noErr);
    for (int i = 0; i < 400; ++i)
        ASSERT_EQ(int(std::lround(again[i] / kScale16)), expected[160 + i]) << i;
    file->Close();
}

// An output given no audio is a file of no frames that reads back as one,
// its type told by its name or content as for any other output.
TEST_P(G729Layouts, AnEmptyOutputReadsBackEmpty)
{
    TestTempDir dir;
    std::string path;
    ASSERT_EQ(WriteG729(dir.path() + "/silent", GetParam().options, {}, 8000, 1, &path), noErr);
    OSType type = 0;
    ASSERT_EQ(DetectFileType(path, &type), noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("G729"));
    OSErr err = noErr;
    std::unique_ptr<CSoundFile> file = OpenFile(FOUR_CHAR_CODE("G729"), path, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetNumFrames(), 0u);
    EXPECT_EQ(file->CheckReadShape(), noErr);
    EXPECT_FALSE(file->DataCutShort());
}

INSTANTIATE_TEST_SUITE_P(All, G729Layouts, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(G729File, OpeningFindsTheLayoutAndRefusesWhatIsNotG729)
{
    TestTempDir dir;
    RegisterTypes();
    const std::string base = dir.path() + "/f";
    auto open = [](const std::string& path, OSErr* err) { return OpenFile(FOUR_CHAR_CODE("G729"), path, err); };
    OSErr err = noErr;

    WriteBytes(base + "1", std::vector<UInt8>(100, 0x55));  // any 100 bytes: 10 packed frames
    auto f = open(base + "1", &err);
    EXPECT_EQ(err, noErr);
    EXPECT_EQ(f->GetNumFrames(), 800u);
    f.reset();
    WriteBytes(base + "2", std::vector<UInt8>(101, 0x55));
    open(base + "2", &err);
    EXPECT_EQ(err, kG729UnknownErr);

    // RIFF: a chunk before "data", tag 0x0083, a cut data chunk; tag 1 refused.
    std::vector<UInt8> riff = CG729File::BuildRiffHeader(3);
    const std::vector<UInt8> extra = {'f', 'a', 'c', 't', 4, 0, 0, 0, 1, 2, 3, 4};
    riff.insert(riff.begin() + 48, extra.begin(), extra.end());
    riff[20] = 0x83;
    riff.resize(riff.size() + 25, 0xA5);  // two and a half frames of the three announced
    WriteBytes(base + "4", riff);
    f = open(base + "4", &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(f->GetNumFrames(), 160u);
    EXPECT_TRUE(f->DataCutShort());
    EXPECT_EQ(ReadSamples16(*f).size(), 160u);
    f.reset();
    // 2 s announced, cut after 0.95 s between two frames: cut short too.
    std::vector<UInt8> cut = CG729File::BuildRiffHeader(200);
    cut.resize(cut.size() + 950, 0x5A);
    WriteBytes(base + "4b", cut);
    f = open(base + "4b", &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(f->GetNumFrames(), 7600u);
    EXPECT_TRUE(f->DataCutShort());
    f.reset();
    riff[20] = 1;
    WriteBytes(base + "5", riff);
    open(base + "5", &err);
    EXPECT_EQ(err, kG729UnknownErr);
    OSType type = 0;
    riff[20] = 0x83;
    WriteBytes(base + "6.wav", riff);
    EXPECT_EQ(DetectFileType(base + "6.wav", &type), noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("G729"));

    // Only 8000 Hz mono is written, with clear codes; nothing is left behind.
    const std::vector<int16_t> pcm = Speech(800);
    EXPECT_EQ(WriteG729(base + "7.g729", nullptr, pcm, 16000), kG729RateErr);
    EXPECT_EQ(WriteG729(base + "8.g729", nullptr, pcm, 8000, 2), -23900);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(base + "7.g729")));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(base + "8.g729")));
}

TEST(G729File, DamagedSerialFramesAreDecodedAsErasures)
{
    TestTempDir dir;
    const std::vector<int16_t> pcm = Speech(800);
    const UInt8 options[3] = {1, 1, 0};
    std::string path;
    ASSERT_EQ(WriteG729(dir.path() + "/s.g729", options, pcm, 8000, 1, &path), noErr);
    std::vector<UInt8> bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), 1640u);
    bytes[2 * 164] = 0x12;              // frame 2: wrong SYNC
    bytes[3 * 164 + 40] = 0;            // frame 3: a bit word of 0
    bytes[3 * 164 + 41] = 0;
    bytes[5 * 164 + 10] = 0x55;         // frame 5: an unknown word reads as a 0 bit
    bytes.resize(bytes.size() - 7);     // a cut last frame is not read
    WriteBytes(path, bytes);

    std::vector<std::vector<uint16_t>> params;
    CodecRun(pcm, &params);
    g729::G729Decoder decoder;
    std::vector<int> expected;
    for (int f = 0; f < 9; ++f) {
        int16_t s[80];
        std::vector<uint16_t> p = params[std::size_t(f)];
        if (f == 5) {  // the 5th word of frame 5 is bit 3 of the first parameter
            p[0] &= uint16_t(~(1u << 4));
        }
        decoder.decodeFrame(p.data(), f == 2 || f == 3, s);
        expected.insert(expected.end(), s, s + 80);
    }
    OSErr err = noErr;
    auto file = OpenFile(FOUR_CHAR_CODE("G729"), path, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetNumFrames(), 720u);
    EXPECT_EQ(ReadSamples16(*file), expected);
}

TEST(G729File, CancelDuringEncodeLeavesNothing)
{
    TestTempDir dir;
    ThreadDictionary::current().setLastError(-128);  // the user's cancel, as the progress channel sees it
    const OSErr err = WriteG729(dir.path() + "/c.g729", nullptr, Speech(3000));
    ThreadDictionary::current().clearLastError();
    EXPECT_EQ(err, -128);
    EXPECT_TRUE(QDir(dir.qpath()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// ffmpeg reads our packed stream (its "g729" demuxer) and our serial stream
// (its "bit" demuxer: little-endian words) as G.729; its decoder has the
// full-rate post-filter, so the waveforms are close, not equal.
TEST(G729File, FfmpegDecodesOurPackedAndSerialFiles)
{
    TestTempDir dir;
    const std::vector<int16_t> pcm = Speech(16000);
    const std::vector<int> ours = CodecRun(pcm);
    for (const auto& [options, demuxer] : {std::pair{std::array<UInt8, 3>{0, 0, 0}, "g729"},
                                           std::pair{std::array<UInt8, 3>{0, 1, 0}, "bit"}}) {
        std::string path;
        ASSERT_EQ(WriteG729(dir.path() + "/f_" + demuxer + ".g729", options.data(), pcm, 8000, 1, &path), noErr);
        const std::string raw = path + ".raw";
        QByteArray err;
        ASSERT_TRUE(RunPeer("ffmpeg", {"-v", "error", "-y", "-f", demuxer, "-i", QString::fromStdString(path), "-f",
                                       "s16le", "-ac", "1", "-ar", "8000", QString::fromStdString(raw)},
                            &err))
            << err.toStdString();
        const std::vector<int> theirs = ReadS16LE(raw);
        ASSERT_EQ(theirs.size(), ours.size()) << demuxer;
        const double snr = SnrDb(theirs, ours);
        std::printf("ffmpeg (%s demuxer) vs our decoder: SNR %.1f dB\n", demuxer, snr);
        EXPECT_GT(snr, 10.0) << demuxer;
    }
}

} // namespace
