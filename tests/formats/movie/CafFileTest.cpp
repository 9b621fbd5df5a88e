// Core Audio Format files: every encoding ffmpeg, sox and libsndfile write
// reads as ffmpeg decodes it (cut to the word length the class reads); the
// layout table gives the configuration and channel names; the files we
// write read back in sox, libsndfile and ffmpeg with the same samples and
// layout.
#include "CafFile.h"
#include "MovieTestSupport.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace movietest;

namespace {

struct CafCase {
    const char* name;
    const char* command; // {IN} a stereo WAV, {OUT} the CAF
    int unused;
    int bits;            // word length the class reads
};

std::unique_ptr<TestTempDir> g_dir;

class CafReadTest : public ::testing::TestWithParam<CafCase> {
public:
    static void SetUpTestSuite()
    {
        g_dir = std::make_unique<TestTempDir>();
        RunCommand("ffmpeg -nostdin -loglevel error -y -f lavfi -i 'sine=frequency=440:duration=0.6' -f lavfi -i "
                   "'sine=frequency=990:duration=0.6' -filter_complex amerge -ar 44100 -c:a pcm_s24le '" +
                   g_dir->file("in.wav") + "'");
    }
    static void TearDownTestSuite() { g_dir.reset(); }
};

TEST_P(CafReadTest, ReadsAsFfmpegDecodes)
{
    const CafCase& c = GetParam();
    const std::string path = g_dir->file(std::string(c.name) + ".caf");
    {
        std::string command = c.command;
        command.replace(command.find("{IN}"), 4, g_dir->file("in.wav"));
        command.replace(command.find("{OUT}"), 5, path);
        ASSERT_TRUE(RunCommand(command)) << command;
    }
    CafFile file;
    file.SetBufferFrames(1000);
    ASSERT_EQ(file.SetFile(path), noErr);
    ASSERT_EQ(file.Open(), noErr);
    EXPECT_EQ(file.GetNumChannels(), 2);
    EXPECT_EQ(file.GetNumBits(), c.bits);
    const std::vector<int32_t> expected = Truncate(FFmpegS32(path), c.bits);
    const std::vector<int32_t> got = DecodeBlocks(file);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    // A block from the middle equals the same frames of the whole.
    const std::vector<int32_t> middle = ReadAt(file, 12345, 700);
    ASSERT_EQ(middle.size(), 1400u);
    EXPECT_TRUE(std::equal(middle.begin(), middle.end(), got.begin() + 2 * 12345));
    EXPECT_EQ(file.Close(), noErr);
}

#define FF "ffmpeg -nostdin -loglevel error -y -i {IN} "
INSTANTIATE_TEST_SUITE_P(
    Encodings, CafReadTest,
    ::testing::Values(CafCase{"ff_s16le", FF "-c:a pcm_s16le {OUT}", 0, 16},
                      CafCase{"ff_s16be", FF "-c:a pcm_s16be {OUT}", 0, 16},
                      CafCase{"ff_s24be", FF "-c:a pcm_s24be {OUT}", 0, 24},
                      CafCase{"ff_s32le", FF "-c:a pcm_s32le {OUT}", 0, 32},
                      CafCase{"ff_f32be", FF "-c:a pcm_f32be {OUT}", 0, 32},
                      CafCase{"ff_f32le", FF "-c:a pcm_f32le {OUT}", 0, 32},
                      CafCase{"ff_alaw", FF "-c:a pcm_alaw {OUT}", 0, 16},
                      CafCase{"ff_mulaw", FF "-c:a pcm_mulaw {OUT}", 0, 16},
                      CafCase{"ff_ima4", FF "-c:a adpcm_ima_qt {OUT}", 0, 16},
                      CafCase{"ff_alac", FF "-c:a alac {OUT}", 0, 24},
                      CafCase{"sox_s16", "sox {IN} -b 16 -e signed-integer {OUT}", 0, 16},
                      CafCase{"sox_float", "sox {IN} -b 32 -e floating-point {OUT}", 0, 32},
                      CafCase{"sox_alaw", "sox {IN} -e a-law {OUT}", 0, 16},
                      CafCase{"sndfile_s24", "sndfile-convert -pcm24 {IN} {OUT}", 0, 24},
                      CafCase{"sndfile_double", "sndfile-convert -float32 {IN} {OUT}", 0, 32},
                      CafCase{"sndfile_ulaw", "sndfile-convert -ulaw {IN} {OUT}", 0, 16},
                      CafCase{"sndfile_alac", "sndfile-convert -alac16 {IN} {OUT}", 0, 24}),
    [](const ::testing::TestParamInfo<CafCase>& info) { return std::string(info.param.name); });

// ------------------------------------------------------------- writing

struct WriteCase {
    const char* name;
    UInt16 channels;
    SInt16 bits;
    SInt32 configuration;
    const char* ffprobeLayout;
    // File channel j holds memory channel fileFromMemory[j] (empty: the same).
    std::vector<int> fileFromMemory = {};
};

class CafWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(CafWriteTest, PeersReadWhatWeWrite)
{
    const WriteCase& c = GetParam();
    TestTempDir dir;
    const std::string path = dir.file("out.caf");
    const UInt32 frames = 3000;
    {
        CafFile file;
        file.SetDither(false);
        file.SetChannelConfiguration(c.configuration);
        // The class gives the name its extension.
        ASSERT_EQ(file.SetFile(dir.file("out")), noErr);
        ASSERT_EQ(file.Create(c.channels, c.bits, 0, nullptr, nullptr, 48000.0f), noErr);
        std::vector<double> samples(std::size_t(frames) * c.channels);
        for (UInt32 i = 0; i < frames; ++i)
            for (UInt16 ch = 0; ch < c.channels; ++ch)
                samples[std::size_t(i) * c.channels + ch] = 0.8 * std::sin(0.001 * (ch + 1) * i);
        UInt32 count = frames;
        ASSERT_EQ(file.WriteFrames(0, &count, samples.data()), noErr);
        ASSERT_EQ(file.Close(), noErr);
    }
    // Our own reading.
    CafFile reader;
    ASSERT_EQ(reader.SetFile(path), noErr);
    ASSERT_EQ(reader.Open(), noErr);
    ASSERT_EQ(reader.GetNumFrames(), frames);
    EXPECT_EQ(reader.GetChannelConfiguration(), c.channels < 3 ? reader.GetChannelConfiguration() : c.configuration);
    std::vector<int32_t> ours = DecodeBlocks(reader);
    reader.Close();
    // In the file's order, as the peers read it.
    if (!c.fileFromMemory.empty()) {
        const std::vector<int32_t> memory = ours;
        for (std::size_t i = 0; i < ours.size(); ++i)
            ours[i] = memory[i - i % c.channels + std::size_t(c.fileFromMemory[i % c.channels])];
    }

    // ffmpeg, sox and libsndfile.
    EXPECT_TRUE(ours == Truncate(FFmpegS32(path), c.bits));
    ASSERT_TRUE(RunCommand("sox '" + path + "' -t s32 '" + dir.file("sox.raw") + "'"));
    const std::vector<uint8_t> soxBytes = ReadAll(dir.file("sox.raw"));
    std::vector<int32_t> sox(soxBytes.size() / 4);
    std::memcpy(sox.data(), soxBytes.data(), sox.size() * 4);
    EXPECT_TRUE(ours == sox);
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(sf, nullptr);
    std::vector<int> viaSndfile(std::size_t(info.frames) * std::size_t(info.channels));
    sf_readf_int(sf, viaSndfile.data(), info.frames);
    sf_close(sf);
    EXPECT_TRUE(std::equal(ours.begin(), ours.end(), viaSndfile.begin(), viaSndfile.end()));

    const std::string probe = dir.file("probe.txt");
    ASSERT_TRUE(RunCommand("ffprobe -v error -show_entries stream=channel_layout,channels -of csv=p=0 '" + path +
                           "' > '" + probe + "'"));
    const std::vector<uint8_t> text = ReadAll(probe);
    EXPECT_NE(std::string(text.begin(), text.end()).find(c.ffprobeLayout), std::string::npos)
        << std::string(text.begin(), text.end());
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, CafWriteTest,
    ::testing::Values(WriteCase{"mono16", 1, 16, kChannelConfigMono, "mono"},
                      WriteCase{"stereo24", 2, 24, kChannelConfigStereo, "stereo"},
                      WriteCase{"quad8", 4, 8, kChannelConfigQuad, "quad"},
                      WriteCase{"surround51_32", 6, 32, kChannelConfig5_1, "5.1"},
                      // L R Ls Rs C in memory, L R C Ls Rs in the file.
                      WriteCase{"surround50_16", 5, 16, kChannelConfig5_0, "5.0", {0, 1, 4, 2, 3}}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

// A 5.1 file whose tag is not the configuration's own is put into the
// configuration's order; its names follow.
TEST(CafLayoutTest, RearrangesTaggedSurroundToItsConfiguration)
{
    SInt32 configuration;
    AudioChannelLayoutTag client = 0;
    configuration = CafFile::ConfigurationForLayoutTag(0x7A0006, &client);
    EXPECT_EQ(configuration, kChannelConfig5_1);
    EXPECT_EQ(client, 0x790006u);
    EXPECT_EQ(CafFile::ConfigurationForLayoutTag(0x12345, &client), kChannelConfigMultichannel);

    TestTempDir dir;
    const std::string path = dir.file("s51.caf");
    ASSERT_TRUE(RunCommand("ffmpeg -nostdin -loglevel error -y -f lavfi -i 'sine=frequency=300:duration=0.3' "
                           "-af 'pan=5.1|c0=0.1*c0|c1=0.2*c0|c2=0.3*c0|c3=0.4*c0|c4=0.5*c0|c5=0.6*c0' -c:a pcm_s16le '" +
                           path + "'"));
    CafFile file;
    ASSERT_EQ(file.SetFile(path), noErr);
    ASSERT_EQ(file.Open(), noErr);
    EXPECT_EQ(file.GetChannelConfiguration(), kChannelConfig5_1);
    EXPECT_EQ(file.GetFormatName().toStdString(), "5.1 Surround Core Audio File (CAF)");
    const char* names[] = {"Left", "Right", "Center", "Lfe", "Left Surround", "Right Surround"};
    for (UInt16 ch = 0; ch < 6; ++ch)
        EXPECT_EQ(file.GetChannelName(ch), names[ch]);
    // ffmpeg's 5.1 order is the configuration's: the samples are as decoded.
    EXPECT_TRUE(DecodeBlocks(file) == Truncate(FFmpegS32(path), 16));
}

// Float samples that are not numbers (a damaged file) read as silence, in
// single and double precision.
TEST(CafFloatTest, SamplesThatAreNotNumbersReadAsSilence)
{
    TestTempDir dir;
    for (const int bits : {32, 64}) {
        const std::string path = dir.file("nan" + std::to_string(bits) + ".caf");
        ASSERT_TRUE(RunCommand("sox -n -b " + std::to_string(bits) + " -e floating-point -c 2 -r 8000 '" + path +
                               "' synth 0.05 sine 440"));
        std::vector<UInt8> bytes = ReadAll(path);
        const std::string text(bytes.begin(), bytes.end());
        const std::size_t data = text.find("data");
        ASSERT_NE(data, std::string::npos);
        std::fill(bytes.begin() + std::ptrdiff_t(data + 16), bytes.end(), UInt8(0xFF));  // past size and edit count
        peers::WriteAll(path, bytes);
        CafFile file;
        ASSERT_EQ(file.SetFile(path), noErr);
        ASSERT_EQ(file.Open(), noErr);
        const std::vector<int32_t> got = DecodeBlocks(file);
        EXPECT_EQ(got.size(), 800u) << bits;
        EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](int32_t v) { return v == 0; })) << bits;
    }
}

} // namespace
