// The AIFF family against the peers: ffmpeg's and libsndfile's float files,
// and the channel layouts and sampler data of the files we write (integer
// files in both directions: the conformance suite).
#include "AIFFTestSupport.h"
#include "CAIFCFile.h"
#include "CAIFFFile.h"
#include "CreateSoundFile.h"
#include "PCMFileTypes.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <memory>

using namespace aifftest;

namespace {

class AIFFPeerTest : public AIFFFixture {};

std::string Probe(const std::string& path, const QString& entries)
{
    RunResult r = RunProgram("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries", "stream=" + entries,
                                  "-of", "default=noprint_wrappers=1", QString::fromStdString(path)});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return r.out.toStdString();
}

template <typename T>
std::string WriteOurs(const std::string& path, UInt16 channels, SInt16 bits, UInt32 frames,
                      SInt32 configuration = -1)
{
    T file;
    EXPECT_EQ(file.SetFile(path), noErr);
    if (configuration >= 0) {
        file.SetChannelConfiguration(configuration);
    }
    EXPECT_EQ(file.Create(channels, bits, 0, nullptr, nullptr, 44100.0f), noErr);
    file.SetDither(false);
    std::vector<double> samples = Signal(frames, channels);
    UInt32 count = frames;
    EXPECT_EQ(file.WriteFrames(0, &count, samples.data()), noErr);
    EXPECT_EQ(file.Close(), noErr);
    return file.GetPath();
}

} // namespace

TEST_F(AIFFPeerTest, ReadsFloatAIFC)
{
    const std::string path = dir.file("float.aif");
    ASSERT_EQ(RunProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=f=300:r=16000", "-t", "0.2", "-c:a",
                             "pcm_f32be", "-f", "aiff", QString::fromStdString(path)})
                  .exitCode,
              0);
    auto file = OpenFile<CAIFCFile>(path);
    EXPECT_EQ(file->GetCompressionType(), FOUR_CHAR_CODE("fl32"));
    EXPECT_EQ(file->GetFormatName(), "AIFC 32-bit float (big-endian)");
    RunResult r = RunProgram("ffmpeg", {"-v", "error", "-i", QString::fromStdString(path), "-f", "f32be", "-"});
    ASSERT_EQ(r.exitCode, 0);
    const std::size_t frames = std::size_t(r.out.size()) / 4;
    ASSERT_EQ(frames, file->GetNumFrames());
    std::vector<double> ours(frames);
    UInt32 count = UInt32(frames);
    ASSERT_EQ(file->ReadFrames(0, &count, ours.data()), noErr);
    for (std::size_t i = 0; i < frames; ++i) {
        UInt32 word = 0;
        for (int b = 0; b < 4; ++b) {
            word = (word << 8) | UInt8(r.out[qsizetype(4 * i + b)]);
        }
        float value;
        std::memcpy(&value, &word, 4);
        ASSERT_NEAR(ours[i], value, 1e-6) << i;
    }
}

TEST_F(AIFFPeerTest, ReadsLibsndfileFloatAndDoubleAIFC)
{
    RegisterPCMFileTypes();
    for (const int subformat : {SF_FORMAT_FLOAT, SF_FORMAT_DOUBLE}) {
        const bool isDouble = subformat == SF_FORMAT_DOUBLE;
        SCOPED_TRACE(isDouble ? "double" : "float");
        const std::string path = dir.file(isDouble ? "double.aifc" : "float.aifc");
        SF_INFO info{};
        info.samplerate = 22050;
        info.channels = 2;
        info.format = SF_FORMAT_AIFF | subformat;
        SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
        std::vector<double> written(2 * 500);
        for (std::size_t i = 0; i < written.size(); ++i)
            written[i] = std::sin(double(i) * 0.01) * 0.9;
        written[7] = 1.5;  // beyond full scale: saturates
        sf_write_double(sf, written.data(), sf_count_t(written.size()));
        sf_close(sf);

        OSType type = 0;
        ASSERT_EQ(DetectFileType(path, &type), noErr);
        EXPECT_EQ(type, kAIFCFileType);
        auto file = OpenFile<CAIFCFile>(path);
        EXPECT_EQ(file->GetCompressionType(), isDouble ? FOUR_CHAR_CODE("FL64") : FOUR_CHAR_CODE("FL32"));
        ASSERT_EQ(file->GetNumFrames(), 500u);
        ASSERT_EQ(file->GetNumChannels(), 2);
        std::vector<double> ours(written.size());
        UInt32 count = 500;
        ASSERT_EQ(file->ReadFrames(0, &count, ours.data()), noErr);
        ASSERT_EQ(count, 500u);
        for (std::size_t i = 0; i < written.size(); ++i)
            ASSERT_NEAR(ours[i], std::min(written[i], 1.0), 1e-6) << i;
    }
}

TEST_F(AIFFPeerTest, ChannelLayoutsMatchTheDataInFfprobe)
{
    const std::string six = WriteOurs<CAIFFFile>(dir.file("surround51"), 6, 16, 100, kChannelConfig5_1);
    // L R C LFE Ls Rs, as the configuration's layout orders them.
    const std::string layout51 = Probe(six, "channel_layout");
    EXPECT_TRUE(layout51 == "channel_layout=5.1\n" || layout51 == "channel_layout=5.1(side)\n") << layout51;
    const std::string eight = WriteOurs<CAIFFFile>(dir.file("surround71"), 8, 16, 100, kChannelConfig7_1);
    const std::string layout = Probe(eight, "channel_layout");
    // The layout ffprobe reports names the channels in the order written.
    CAIFFFile file;
    file.SetFile(eight);
    ASSERT_EQ(file.Open(), noErr);
    EXPECT_EQ(file.GetChannelConfiguration(), kChannelConfig7_1);
    EXPECT_EQ(layout.rfind("channel_layout=7.1", 0), 0u) << layout;
}

TEST_F(AIFFPeerTest, SamplerDataAndLoopsShowInLibsndfile)
{
    CAIFFFile file;
    ASSERT_EQ(file.SetFile(dir.file("inst")), noErr);
    ASSERT_EQ(file.Create(1, 16, 0, nullptr, nullptr, 44100.0f), noErr);
    std::vector<double> samples = Signal(3000, 1);
    UInt32 count = 3000;
    ASSERT_EQ(file.WriteFrames(0, &count, samples.data()), noErr);
    SFTSamplerInfo info;
    info.baseNote = 62;
    info.detune = 3;
    info.lowNote = 10;
    info.highNote = 90;
    info.lowVelocity = 5;
    info.highVelocity = 110;
    info.gain = 2;
    info.valid = 1;
    ASSERT_EQ(file.SetSamplerInfo(&info), noErr);
    SFTLoop sustain{1, 100, 2000, 1};
    ASSERT_EQ(file.AddLoop(&sustain), noErr);
    SFTMarker marker;
    marker.markerID = 20;
    marker.pos = 1234;
    marker.type = 2;
    marker.name[0] = 4;
    std::memcpy(marker.name + 1, "Cue1", 4);
    ASSERT_EQ(file.AddMarker(&marker), noErr);
    ASSERT_EQ(file.Close(), noErr);

    SF_INFO sfinfo;
    std::memset(&sfinfo, 0, sizeof sfinfo);
    SNDFILE* sf = sf_open(file.GetPath().c_str(), SFM_READ, &sfinfo);
    ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sfinfo.frames, 3000);
    SF_INSTRUMENT inst;
    std::memset(&inst, 0, sizeof inst);
    ASSERT_EQ(sf_command(sf, SFC_GET_INSTRUMENT, &inst, sizeof inst), SF_TRUE);
    EXPECT_EQ(inst.basenote, 62);
    EXPECT_EQ(inst.detune, 3);
    EXPECT_EQ(inst.key_lo, 10);
    EXPECT_EQ(inst.key_hi, 90);
    EXPECT_EQ(inst.velocity_lo, 5);
    EXPECT_EQ(inst.velocity_hi, 110);
    EXPECT_EQ(inst.gain, 2);
    ASSERT_GE(inst.loop_count, 1);
    EXPECT_EQ(inst.loops[0].mode, SF_LOOP_FORWARD);
    EXPECT_EQ(inst.loops[0].start, 100u);
    EXPECT_EQ(inst.loops[0].end, 2000u);
    SF_CUES cues;
    std::memset(&cues, 0, sizeof cues);
    if (sf_command(sf, SFC_GET_CUE, &cues, sizeof cues) == SF_TRUE) {
        bool found = false;
        for (UInt32 i = 0; i < cues.cue_count; ++i) {
            if (cues.cue_points[i].sample_offset == 1234 && std::string(cues.cue_points[i].name) == "Cue1") {
                found = true;
            }
        }
        EXPECT_TRUE(found);
    }
    sf_close(sf);
}
