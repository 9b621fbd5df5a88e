// What every reader of the WAVE family makes of the same chunks.
//
// Markers: one hand-built file per type and per arrangement of its cue
// points ('cue ' with and without an 'adtl' list of labels, before the
// format chunk or after the data, between odd-sized chunks and lists of
// other kinds) gives the same markers in every class.
//
// Headers: a format chunk whose block size contradicts its channels and
// word length is refused by whichever class the file's header selects;
// the files sox, ffmpeg and libsndfile write (8 to 32 bits, float,
// extensible, 1 to 8 channels) and the legitimate containers wider than
// their words are read sample-exact against libsndfile.
#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "PeerTools.h"
#include "RIFFBuilding.h"
#include "SoundFileSamples.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using riffbuild::Body;
using riffbuild::Chunk;
using riffbuild::Cue;
using riffbuild::Label;
using riffbuild::List;

std::unique_ptr<CSoundFile> OpenDetected(const std::string& path, OSType* type, OSErr* err)
{
    *err = DetectFileType(path, type);
    if (*err)
        return nullptr;
    std::unique_ptr<CSoundFile> file(CreateSoundFileObject(*type));
    *err = file ? file->SetFile(path) : OSErr(paramErr);
    if (*err == noErr)
        *err = file->Open();
    return file;
}

// ------------------------------------------------------------- markers
constexpr UInt32 kFrames = 800;  // whole G.729 frames, two MS ADPCM blocks

const Chunk kFormat{"FORMAT", {}};
const Chunk kData{"data", {}};
const Chunk kInfo = List("INFO", {{"ISFT", Body().text("peer", 4).u8(0).b}});
const Chunk kOddJunk{"junk", {1, 2, 3}};

struct CueCase {
    const char* name;
    std::vector<Chunk> layout;
    std::vector<std::pair<UInt32, std::string>> markers;  // frame, name
};

void PrintTo(const CueCase& c, std::ostream* out)
{
    *out << c.name;
}

const std::vector<CueCase>& CueCases()
{
    const Chunk cue = Cue({{1, 100}, {2, 700}});
    static const std::vector<CueCase> cases = {
        {"LabelledAfterTheData",
         {kFormat, kData, cue, List("adtl", {Label(1, "one"), Label(2, "two")})},
         {{100, "one"}, {700, "two"}}},
        {"CuePointsWithoutLabels", {kFormat, kData, cue}, {{100, ""}, {700, ""}}},
        {"CueFirstAmongOddChunksAndOtherLists",
         {cue, kInfo, kFormat, kOddJunk, kData, List("adtl", {Label(1, "abcd"), Label(2, "xyz")})},
         {{100, "abcd"}, {700, "xyz"}}},
        {"LabelsBeforeTheirCuePoints",
         {kFormat, kInfo, List("adtl", {Label(2, "late")}), kOddJunk, kData, cue},
         {{100, ""}, {700, "late"}}},
        {"OnlyListsOfOtherKinds", {kFormat, kInfo, kData, kOddJunk, cue}, {{100, ""}, {700, ""}}},
    };
    return cases;
}

const std::vector<std::pair<const char*, OSType>>& FamilyTypes()
{
    static const std::vector<std::pair<const char*, OSType>> types = {
        {"WAVE", FOUR_CHAR_CODE("WAVE")}, {"Float", FOUR_CHAR_CODE("WVfl")}, {"MuLaw", FOUR_CHAR_CODE("WVau")},
        {"ALaw", FOUR_CHAR_CODE("WVal")}, {"BroadcastWave", FOUR_CHAR_CODE("BWLN")},
        {"MSADPCM", FOUR_CHAR_CODE("MSAP")}, {"G729", FOUR_CHAR_CODE("G729")},
    };
    return types;
}

class WAVEFamilyCues
    : public ::testing::TestWithParam<std::tuple<CueCase, std::pair<const char*, OSType>>> {
protected:
    static void SetUpTestSuite() { EngineStartup::registerFileTypes(); }
    void SetUp() override { SetProcessFileIfNoRegions(false); }
    TestTempDir dir;
};

TEST_P(WAVEFamilyCues, EveryClassReadsTheSameMarkers)
{
    const auto& [c, family] = GetParam();
    const std::string path = dir.file("cues.wav");
    peers::WriteAll(path, riffbuild::Assemble(riffbuild::FamilyChunks(family.second, kFrames), c.layout));
    OSType type = 0;
    OSErr err = noErr;
    const auto file = OpenDetected(path, &type, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(type, family.second);
    EXPECT_EQ(file->GetNumFrames(), kFrames);
    std::vector<std::pair<UInt32, std::string>> markers;
    for (UInt16 i = 0; i < file->GetNumMarkers(); ++i) {
        SFTMarker m;
        ASSERT_EQ(file->GetMarker(i, &m), noErr);
        markers.emplace_back(m.pos, std::string(reinterpret_cast<const char*>(m.name + 1), m.name[0]));
    }
    std::sort(markers.begin(), markers.end());
    EXPECT_EQ(markers, c.markers);
    EXPECT_EQ(file->GetNumRegions(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, WAVEFamilyCues, ::testing::Combine(::testing::ValuesIn(CueCases()), ::testing::ValuesIn(FamilyTypes())),
    [](const ::testing::TestParamInfo<WAVEFamilyCues::ParamType>& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).first;
    });

// ------------------------------------------------------------- headers
// A file of a header case: written by a peer or by hand into `dir`; empty
// when the peer is missing.
using Maker = std::function<std::string(const TestTempDir& dir)>;

struct HeaderCase {
    const char* name;
    Maker make;
    OSErr expected;  // noErr: read sample-exact against libsndfile
};

void PrintTo(const HeaderCase& c, std::ostream* out)
{
    *out << c.name;
}

// Bytes of `frames` frames of a counting pattern, `bytes` per sample.
std::vector<UInt8> Pattern(std::size_t samples, std::size_t bytes)
{
    std::vector<UInt8> data(samples * bytes);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = UInt8(i * 37 + 11);
    return data;
}

Maker ByHand(std::vector<UInt8> fmt, std::size_t dataBytes, std::vector<Chunk> extra = {})
{
    return [=](const TestTempDir& dir) {
        riffbuild::RIFFBuilder riff;
        riff.chunk("fmt ", fmt);
        for (const Chunk& c : extra)
            riff.chunk(c.id.c_str(), c.body);
        riff.chunk("data", Pattern(dataBytes, 1));
        peers::WriteAll(dir.file("hand.wav"), riff.build());
        return dir.file("hand.wav");
    };
}

// A peer's file: sox making noise of the shape `soxOptions` gives, or sox
// noise converted by ffmpeg or sndfile-convert with `options`.
Maker Sox(QStringList soxOptions)
{
    return [=](const TestTempDir& dir) {
        if (!peers::Have("sox"))
            return std::string();
        const QString out = QString::fromStdString(dir.file("sox.wav"));
        const QStringList args = QStringList{"-n", "-r", "8000"} + soxOptions + QStringList{out, "synth", "0.1", "whitenoise"};
        EXPECT_EQ(peers::Run("sox", args).exitCode, 0);
        return out.toStdString();
    };
}

Maker Converted(const char* program, int channels, QStringList options)
{
    return [=](const TestTempDir& dir) {
        const std::string source = Sox({"-b", "16", "-c", QString::number(channels)})(dir);
        if (source.empty() || !peers::Have(program))
            return std::string();
        const QString out = QString::fromStdString(dir.file(std::string(program) + ".wav"));
        const QString in = QString::fromStdString(source);
        const QStringList args = QString(program) == "ffmpeg"
                                     ? QStringList{"-v", "error", "-y", "-i", in} + options + QStringList{out}
                                     : options + QStringList{in, out};
        EXPECT_EQ(peers::Run(program, args).exitCode, 0);
        return out.toStdString();
    };
}

const std::vector<HeaderCase>& HeaderCases()
{
    using riffbuild::ExtensibleFmt;
    using riffbuild::Fmt;
    const std::vector<UInt8> bext(602);
    static const std::vector<HeaderCase> cases = {
        // Block sizes that contradict the channels and the word length, in
        // the plain, Broadcast Wave, extensible, float and G.711 readers.
        {"Mono16BitIn4ByteBlocks", ByHand(Fmt(1, 1, 8000, 16, 4), 400), kWAVEBadBlockAlignErr},
        {"Stereo16BitIn6ByteBlocks", ByHand(Fmt(1, 2, 8000, 16, 6), 600), kWAVEBadBlockAlignErr},
        {"Mono24BitIn4ByteBlocks", ByHand(Fmt(1, 1, 8000, 24, 4), 400), kWAVEBadBlockAlignErr},
        {"Stereo16BitIn2ByteBlocks", ByHand(Fmt(1, 2, 8000, 16, 2), 400), kWAVEBadBlockAlignErr},
        {"BroadcastWaveMono16BitIn4ByteBlocks", ByHand(Fmt(1, 1, 8000, 16, 4), 400, {{"bext", bext}}),
         kWAVEBadBlockAlignErr},
        {"Extensible16BitIn4ByteBlocks", ByHand(ExtensibleFmt(1, 8000, 16, 4, 16, 4, 1), 400), kWAVEBadBlockAlignErr},
        {"ExtensibleValidBitsWiderThanTheirContainer", ByHand(ExtensibleFmt(2, 8000, 16, 4, 24, 3, 1), 400),
         kWAVEValidBitsErr},
        {"FloatIn8ByteBlocks", ByHand(Fmt(3, 1, 8000, 32, 8), 400), kWAVEBadBlockAlignErr},
        {"MuLawStereoIn1ByteBlocks", ByHand(Fmt(7, 2, 8000, 8, 1), 400), kWAVEBadBlockAlignErr},
        // Containers wider than their words, as the format allows them.
        {"Extensible24BitsIn32", ByHand(ExtensibleFmt(2, 8000, 32, 8, 24, 3, 1), 800), noErr},
        {"Extensible20BitsIn24", ByHand(ExtensibleFmt(1, 8000, 24, 3, 20, 4, 1), 300), noErr},
        {"Plain12BitsIn16", ByHand(Fmt(1, 2, 8000, 12, 4), 400), noErr},
        {"Plain20BitsIn24", ByHand(Fmt(1, 1, 8000, 20, 3), 300), noErr},
        // The peers' files.
        {"Sox8BitMono", Sox({"-b", "8", "-c", "1"}), noErr},
        {"Sox16BitStereo", Sox({"-b", "16", "-c", "2"}), noErr},
        {"Sox24Bit3Channels", Sox({"-b", "24", "-c", "3"}), noErr},
        {"Sox32Bit4Channels", Sox({"-b", "32", "-c", "4"}), noErr},
        {"SoxFloat5Channels", Sox({"-e", "floating-point", "-b", "32", "-c", "5"}), noErr},
        {"FFmpeg16BitMono", Converted("ffmpeg", 1, {"-c:a", "pcm_s16le"}), noErr},
        {"FFmpeg8BitStereo", Converted("ffmpeg", 2, {"-c:a", "pcm_u8"}), noErr},
        {"FFmpeg24Bit6Channels", Converted("ffmpeg", 6, {"-c:a", "pcm_s24le"}), noErr},
        {"FFmpeg32Bit7Channels", Converted("ffmpeg", 7, {"-c:a", "pcm_s32le"}), noErr},
        {"FFmpegFloat8Channels", Converted("ffmpeg", 8, {"-c:a", "pcm_f32le"}), noErr},
        {"Sndfile24BitMono", Converted("sndfile-convert", 1, {"-pcm24"}), noErr},
        {"Sndfile32BitStereo", Converted("sndfile-convert", 2, {"-pcm32"}), noErr},
        {"SndfileFloat6Channels", Converted("sndfile-convert", 6, {"-float32"}), noErr},
        {"Sndfile8Bit8Channels", Converted("sndfile-convert", 8, {"-pcmu8"}), noErr},
    };
    return cases;
}

class WAVEFamilyHeaders : public ::testing::TestWithParam<HeaderCase> {
protected:
    static void SetUpTestSuite() { EngineStartup::registerFileTypes(); }
    TestTempDir dir;
};

// The samples of each frame in ascending order: the channels' order in
// memory is the layout's, not always the file's.
std::vector<SInt32> SortedFrames(std::vector<SInt32> samples, std::size_t channels)
{
    for (std::size_t at = 0; at + channels <= samples.size(); at += channels)
        std::sort(samples.begin() + std::ptrdiff_t(at), samples.begin() + std::ptrdiff_t(at + channels));
    return samples;
}

TEST_P(WAVEFamilyHeaders, ContradictionsAreRefusedAndPeerFilesRead)
{
    const HeaderCase& c = GetParam();
    const std::string path = c.make(dir);
    if (path.empty()) {
        if (peers::InCI())
            FAIL() << "a peer is missing";
        GTEST_SKIP() << "a peer is missing";
    }
    OSType type = 0;
    OSErr err = noErr;
    const auto file = OpenDetected(path, &type, &err);
    ASSERT_EQ(err, c.expected);
    if (c.expected != noErr)
        return;
    const peers::SndfileView peer = peers::ReadWithSndfile(path);
    ASSERT_TRUE(peer.opened);
    ASSERT_EQ(file->GetNumChannels(), peer.channels);
    ASSERT_EQ(SInt64(file->GetNumFrames()), peer.frames);
    const std::vector<SInt32> ours = SortedFrames(soundfilesamples::ReadAllSamples(*file), std::size_t(peer.channels));
    const std::vector<SInt32> theirs = SortedFrames(peer.samples, std::size_t(peer.channels));
    ASSERT_EQ(ours.size(), theirs.size());
    // Floats reach 32-bit words through single precision in both readers.
    const SInt64 tolerance = (peer.format & 0xFFFF) == 0x0006 ? 256 : 0;  // SF_FORMAT_FLOAT
    for (std::size_t i = 0; i < ours.size(); ++i)
        ASSERT_LE(std::abs(SInt64(ours[i]) - SInt64(theirs[i])), tolerance) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(Files, WAVEFamilyHeaders, ::testing::ValuesIn(HeaderCases()),
                         [](const ::testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.name); });

} // namespace
