// WAVE family against the peers: files made by sox, sndfile-convert and
// ffmpeg read exactly as the peers decode them, and every variant we write
// reads back in sox, libsndfile and ffmpeg with the same shape and samples.
#include "CBWFLinearFile.h"
#include "CWAVEFile.h"
#include "CWAVEFloatFile.h"
#include "CWAVE_ALawFile.h"
#include "CWAVE_AuFile.h"
#include "TestTempDir.h"
#include "WAVETestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

using namespace wavetest;

namespace {

// Makes a peer file with sox from its own noise and sine generators.
void SoxMake(const std::string& path, int channels, const QStringList& encoding)
{
    QStringList args = {"-R", "-n", "-r", "8000", "-c", QString::number(channels)};
    args += encoding;
    args += {QString::fromStdString(path), "synth", "0.2", "whitenoise", "vol", "0.9"};
    RunResult r = RunProgram("sox", args);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
}

// The 16-bit words of a 32-bit sample list (top halves).

} // namespace

// ================================================================ reading
// Float: ours against ffmpeg's floats scaled as our reader scales them
// (the integer formats are in the conformance suite).
TEST(WAVEPeers, ReadsFloatSoxFiles)
{
    TestTempDir dir;
    const std::string f32 = dir.file("f32.wav");
    SoxMake(f32, 2, {"-b", "32", "-e", "floating-point"});
    OSErr err;
    auto file = OpenWith<CWAVEFloatFile>(f32, &err);
    ASSERT_EQ(err, noErr);
    const auto ours = ReadAllSamples(*file);
    const auto floats = FFmpegF32(f32);
    ASSERT_EQ(ours.size(), floats.size());
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const float p = float(double(floats[i]) * 2147483647.0);
        const SInt32 expected = p >= 2147483648.0f ? 2147483647 : (p <= -2147483648.0f ? SInt32(0x80000000) : SInt32(p));
        ASSERT_EQ(ours[i], expected) << i;
    }
}

TEST(WAVEPeers, ReadsExtensibleLayoutsInTheLayoutOrder)
{
    TestTempDir dir;
    struct Case {
        const char* layout;
        int channels;
        SInt32 configuration;
        std::vector<int> memoryFromFile;  // memory channel i holds file channel memoryFromFile[i]
    };
    const std::vector<Case> cases = {
        // Memory in the order of the configuration's layout tag.
        {"3.0", 3, kChannelConfigLCR, {0, 2, 1}},                    // L C R
        {"quad", 4, kChannelConfigQuad, {0, 1, 2, 3}},
        {"4.0", 4, kChannelConfigLCRS, {2, 0, 1, 3}},                // C L R Cs
        {"5.0(side)", 5, kChannelConfig5_0, {0, 1, 3, 4, 2}},        // L R Ls Rs C
        {"5.1", 6, kChannelConfig5_1, {0, 1, 2, 3, 4, 5}},
        {"hexagonal", 6, kChannelConfig6_0, {0, 1, 3, 4, 2, 5}},
        {"6.1(back)", 7, kChannelConfig6_1, {0, 1, 2, 3, 4, 5, 6}},
        {"7.1(wide)", 8, kChannelConfig7_1, {2, 6, 7, 0, 1, 4, 5, 3}},  // C Lc Rc L R Ls Rs LFE
        {"7.1", 8, kChannelConfigMultichannel, {0, 1, 2, 3, 4, 5, 6, 7}},
    };
    for (const Case& c : cases) {
        // Each file channel holds a constant of its own.
        std::vector<UInt8> raw;
        for (int f = 0; f < 10; ++f)
            for (int ch = 0; ch < c.channels; ++ch) {
                const SInt16 v = SInt16((ch + 1) * 1000);
                raw.push_back(UInt8(v));
                raw.push_back(UInt8(UInt16(v) >> 8));
            }
        WriteAll(dir.file("in.raw"), raw);
        const std::string path = dir.file(std::string("layout") + std::to_string(c.channels) + c.layout + ".wav");
        RunResult r = RunProgram("ffmpeg", {"-v", "error", "-f", "s16le", "-ar", "8000", "-ch_layout", c.layout, "-i",
                                     QString::fromStdString(dir.file("in.raw")), "-c:a", "pcm_s24le",
                                     QString::fromStdString(path)});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        OSErr err;
        auto file = OpenWith<CWAVEFile>(path, &err);
        ASSERT_EQ(err, noErr) << c.layout;
        EXPECT_EQ(file->GetChannelConfiguration(), c.configuration) << c.layout;
        const auto samples = ReadAllSamples(*file);
        ASSERT_EQ(samples.size(), std::size_t(10 * c.channels));
        for (int ch = 0; ch < c.channels; ++ch)
            EXPECT_EQ(samples[std::size_t(ch)], (c.memoryFromFile[ch] + 1) * 1000 * 65536) << c.layout << " " << ch;
    }
}

// The coding history says how the samples are coded, as ffmpeg reads it.
TEST(WAVEPeers, BroadcastWaveCodingHistoryNamesTheCoding)
{
    QM_REQUIRE_PEER("ffprobe");
    TestTempDir dir;
    struct Case {
        UInt16 channels;
        SInt16 bits;
        float rate;
        const char* history;
    };
    for (const Case& c : {Case{1, 16, 48000.0f, "A=PCM,F=48000,W=16,M=mono,T=Quillmarch"},
                          Case{2, 24, 44100.0f, "A=PCM,F=44100,W=24,M=stereo,T=Quillmarch"},
                          Case{6, 32, 96000.0f, "A=PCM,F=96000,W=32,T=Quillmarch"}}) {
        OSErr err;
        auto out = CreateWith<CBWFLinearFile>(dir.path(), "h" + std::to_string(c.channels), c.channels, c.bits, c.rate,
                                              &err);
        ASSERT_EQ(err, noErr);
        ASSERT_EQ(WriteAllSamples(*out, TestSamples(std::size_t(c.channels) * 4, c.bits)), noErr);
        ASSERT_EQ(out->Close(), noErr);
        const RunResult r = RunProgram("ffprobe", {"-v", "error", "-show_entries", "format_tags=coding_history", "-of",
                                                   "default=nw=1:nk=1", QString::fromStdString(out->GetPath())});
        EXPECT_EQ(r.out.trimmed().toStdString(), c.history);
    }
}

TEST(WAVEPeers, ReadsBroadcastWaveFromFFmpeg)
{
    TestTempDir dir;
    const std::string path = dir.file("bwf.wav");
    RunResult r = RunProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=0.1:r=48000", "-c:a",
                                 "pcm_s24le", "-write_bext", "1", "-metadata", "description=Take 5 \xC3\xA9t\xC3\xA9",
                                 "-metadata", "time_reference=5000000123", QString::fromStdString(path)});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    OSErr err;
    auto file = OpenWith<CBWFLinearFile>(path, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetTimeStamp64(), 5000000123ull);
    EXPECT_EQ(file->GetSpecifics().value("bwfAnnotation").toString(), QString::fromUtf8("Take 5 \xC3\xA9t\xC3\xA9"));
    EXPECT_EQ(file->GetNumBits(), 24);
    EXPECT_EQ(ReadAllSamples(*file), FFmpegS32(path));
    // The same file without 'bext' is no Broadcast Wave.
    const std::string plain = dir.file("plain.wav");
    RunProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=d=0.05", "-c:a", "pcm_s16le", QString::fromStdString(plain)});
    auto notBWF = OpenWith<CBWFLinearFile>(plain, &err);
    EXPECT_EQ(err, -22004);
}

// ================================================================ writing
TEST(WAVEPeers, FloatOutputsReadBackInEveryPeer)
{
    TestTempDir dir;
    OSErr err;
    {
        auto file = CreateWith<CWAVEFloatFile>(dir.path(), "float", 2, 32, 22050.0f, &err);
        ASSERT_EQ(err, noErr);
        const auto samples = TestSamples(2 * 777, 32);
        ASSERT_EQ(WriteAllSamples(*file, samples), noErr);
        ASSERT_EQ(file->Close(), noErr);
        const std::string path = dir.file("float.wav");
        const auto floats = FFmpegF32(path);
        ASSERT_EQ(floats.size(), samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i)
            ASSERT_EQ(floats[i], float(double(float(samples[i])) * 4.65661287308e-10)) << i;
        const peers::SndfileView view = peers::ReadWithSndfile(path);
        EXPECT_EQ(view.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
        EXPECT_EQ(view.frames, 777);
        EXPECT_EQ(FFprobeField(path, "codec_name"), "pcm_f32le");
        EXPECT_EQ(RunProgram("sox", {"--i", "-s", QString::fromStdString(path)}).out.trimmed(), QByteArray("777"));
    }
}

TEST(WAVEPeers, ChannelMasksDescribeTheDataAsWritten)
{
    TestTempDir dir;
    struct Case {
        int channels;
        SInt32 configuration;
        const char* ffprobeLayout;
        std::vector<int> fileFromMemory;  // file channel i holds memory channel fileFromMemory[i]
    };
    const std::vector<Case> cases = {
        {6, kChannelConfig5_1, "5.1(back)", {0, 1, 2, 3, 4, 5}},
        // C Lc Rc L R Ls Rs LFE in memory, FL FR FC LFE BL BR FLC FRC in the file.
        {8, kChannelConfig7_1, "7.1(wide)", {3, 4, 0, 7, 5, 6, 1, 2}},
        {6, kChannelConfig6_0, "hexagonal", {0, 1, 4, 2, 3, 5}},
        {4, kChannelConfigQuad, "quad", {0, 1, 2, 3}},
    };
    for (const Case& c : cases) {
        const std::string name = "mask" + std::to_string(c.configuration);
        OSErr err;
        auto file = CreateWith<CWAVEFile>(dir.path(), name, UInt16(c.channels), 16, 48000.0f, &err);
        ASSERT_EQ(err, noErr);
        file->SetChannelConfiguration(c.configuration);
        std::vector<SInt32> samples;
        for (int f = 0; f < 20; ++f)
            for (int ch = 0; ch < c.channels; ++ch)
                samples.push_back((ch + 1) * 1000 * 65536);
        ASSERT_EQ(WriteAllSamples(*file, samples), noErr);
        ASSERT_EQ(file->Close(), noErr);
        const std::string path = dir.file(name + ".wav");
        const std::string layout = FFprobeField(path, "channel_layout");
        if (c.configuration == kChannelConfig5_1)
            EXPECT_TRUE(layout == "5.1" || layout == "5.1(back)") << layout;
        else
            EXPECT_EQ(layout, c.ffprobeLayout);
        const auto decoded = FFmpegS32(path);
        ASSERT_EQ(decoded.size(), samples.size());
        for (int ch = 0; ch < c.channels; ++ch)
            EXPECT_EQ(decoded[std::size_t(ch)], (c.fileFromMemory[ch] + 1) * 1000 * 65536) << name << " " << ch;
        // And it reads back in the memory order.
        auto back = OpenWith<CWAVEFile>(path, &err);
        ASSERT_EQ(err, noErr);
        EXPECT_EQ(back->GetChannelConfiguration(), c.configuration);
        EXPECT_EQ(ReadAllSamples(*back), samples) << name;
    }
}

TEST(WAVEPeers, ConfigurationSetAfterCreateStillDescribesTheData)
{
    TestTempDir dir;
    OSErr err;
    auto file = CreateWith<CWAVEFile>(dir.path(), "late", 8, 24, 48000.0f, &err);
    ASSERT_EQ(err, noErr);
    file->SetChannelConfiguration(kChannelConfig7_1);
    ASSERT_EQ(file->Close(), noErr);
    EXPECT_EQ(FFprobeField(dir.file("late.wav"), "channel_layout"), "7.1(wide)");
}

TEST(WAVEPeers, BaseFrameWritersProduceTheSamplesThePeersRead)
{
    TestTempDir dir;
    OSErr err;
    auto file = CreateWith<CWAVEFile>(dir.path(), "frames", 2, 24, 44100.0f, &err);
    ASSERT_EQ(err, noErr);
    file->SetDither(false);
    std::vector<double> interleaved;
    for (int i = 0; i < 30000; ++i)
        interleaved.push_back(std::sin(i * 0.01) * 0.5);
    UInt32 count = 15000;
    ASSERT_EQ(file->WriteFrames(0, &count, interleaved.data()), noErr);
    ASSERT_EQ(count, 15000u);
    ASSERT_EQ(file->Close(), noErr);
    auto back = OpenWith<CWAVEFile>(dir.file("frames.wav"), &err);
    ASSERT_EQ(err, noErr);
    std::vector<double> read(30000);
    count = 15000;
    ASSERT_EQ(back->ReadFrames(0, &count, read.data()), noErr);
    ASSERT_EQ(count, 15000u);
    const auto peer = FFmpegS32(dir.file("frames.wav"));
    ASSERT_EQ(peer.size(), 30000u);
    for (std::size_t i = 0; i < peer.size(); i += 997) {
        EXPECT_NEAR(read[i], interleaved[i], 1e-6);
        EXPECT_NEAR(double(peer[i]) / 2147483648.0, interleaved[i], 1e-6);
    }
}
