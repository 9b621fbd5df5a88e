// The preview engine without a device: the ring, the fill passes, the mix
// of every channel layout to stereo, the volume, the varispeed and the end
// of the range, checked on the samples that reach an unpaced null output,
// and the threaded path through an output paced by the clock.
#include "PlaybackTestApp.h"
#include "AUPlayer.h"
#include "ChannelLabels.h"
#include "CreateSoundFile.h"
#include "CyclicPlayBuffer.h"
#include "EngineStartup.h"
#include "NullAudioOutput.h"
#include "ZuSoundFile.h"
#include "error_code_exception.h"

#include "MemorySoundFile.h"
#include "PeerTools.h"
#include "TestTempDir.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <future>
#include <map>
#include <thread>

namespace {

// A 16-bit file whose channel c carries its own tone, so that the weight of
// every input in every output shows.
// A file that reports its layout channel by channel (descriptions) or as a
// bitmap of speakers, as a reader may for a layout no tag names.
class DescribedFile : public MemorySoundFile {
public:
    DescribedFile(std::vector<UInt32> labels, bool bitmap) : m_labels(std::move(labels)), m_bitmap(bitmap) {}
    AudioChannelLayout* CreateChannelLayout(UInt32* size) const override
    {
        const UInt32 bytes = 12 + 20 * UInt32(m_labels.size());
        if (size)
            *size = bytes;
        auto* layout = static_cast<AudioChannelLayout*>(std::calloc(1, bytes));
        AudioChannelDescription* descriptions = layout->mChannelDescriptions;
        layout->mChannelLayoutTag = m_bitmap ? kAudioChannelLayoutTag_UseChannelBitmap
                                             : kAudioChannelLayoutTag_UseChannelDescriptions;
        for (std::size_t i = 0; i < m_labels.size(); ++i) {
            if (m_bitmap)
                layout->mChannelBitmap |= 1u << (m_labels[i] - 1);
            else
                descriptions[i].mChannelLabel = m_labels[i];
        }
        layout->mNumberChannelDescriptions = m_bitmap ? 0 : UInt32(m_labels.size());
        return layout;
    }

private:
    std::vector<UInt32> m_labels;
    bool m_bitmap;
};

MemorySoundFile* MakeFile(UInt16 channels, UInt32 frames, SInt32 configuration, double rate = 44100.0,
                          MemorySoundFile* file = nullptr)
{
    if (!file)
        file = new MemorySoundFile;
    file->SetShape(channels, 16, rate);
    std::vector<UInt8> bytes(std::size_t(frames) * channels * 2);
    for (UInt32 i = 0; i < frames; ++i)
        for (UInt16 c = 0; c < channels; ++c) {
            const double v = 0.4 * std::sin(2 * M_PI * (c + 1) * 110.0 * i / rate + c);
            const auto s = SInt16(std::lround(v * 32767));
            bytes[(std::size_t(i) * channels + c) * 2] = UInt8(UInt16(s) >> 8);
            bytes[(std::size_t(i) * channels + c) * 2 + 1] = UInt8(s);
        }
    file->SetData(bytes);
    file->SetChannelConfiguration(configuration);
    return file;
}

// The file's own float samples (the oracle), one vector per channel.
std::vector<std::vector<float>> Samples(UInt16 channels, UInt32 frames, SInt32 configuration, double rate = 44100.0)
{
    std::unique_ptr<MemorySoundFile> file(MakeFile(channels, frames, configuration, rate));
    file->Open();
    std::vector<std::vector<float>> out(channels, std::vector<float>(frames));
    std::vector<float*> pointers;
    for (auto& c : out)
        pointers.push_back(c.data());
    UInt32 count = frames;
    EXPECT_EQ(file->ReadFrames(0, &count, pointers.data()), noErr);
    EXPECT_EQ(count, frames);
    return out;
}

struct Engine {
    NullAudioOutput* output = nullptr;
    std::unique_ptr<AUPlayer> player;
    std::atomic<int> ends{0};

    Engine(CSoundFile* file, double outputRate = 44100.0, double speed = 0.0)
    {
        auto out = std::make_unique<NullAudioOutput>(outputRate, speed);
        output = out.get();
        output->SetCapture(true);
        player = std::make_unique<AUPlayer>(file, [this](const QString& name) {
            EXPECT_EQ(name, QStringLiteral("AUPlayer Stop"));
            ++ends;
        }, std::move(out));
    }
    // Renders `frames` output frames, topping the ring up before each period
    // (as the feeding thread would) so the result does not depend on timing.
    void PumpFed(UInt32 frames)
    {
        for (UInt32 done = 0; done < frames; done += 512) {
            player->Feed();
            output->Pump(std::min<UInt32>(512, frames - done));
        }
    }
};

// ---------------------------------------------------------------- ring

TEST(CyclicPlayBufferTest, EmptyFullAndEndMarkAcrossTheEdge)
{
    CyclicPlayBuffer ring;
    ring.Allocate(8, 1);
    std::vector<float> src{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const float* srcs[1] = {src.data()};
    const float* ptr[1];
    UInt32 n = 4;
    ASSERT_FALSE(ring.GetReadPointers(&n, ptr));
    EXPECT_EQ(n, 0u) << "equal positions: an empty ring, no frames and no end";
    n = 10;
    ring.Write(srcs, &n);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(ring.WritableFrames(), 0u) << "a full ring is not taken for an empty one";
    n = 6;
    EXPECT_FALSE(ring.GetReadPointers(&n, ptr));
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(ptr[0][5], 6.0f);
    EXPECT_EQ(ring.WritableFrames(), 0u) << "frames handed out stay the reader's until finished";
    ring.FinishRead(n);
    n = 2;
    ring.MarkEnd(2);  // ends at 10 frames: index 2 of the second lap
    ring.Write(srcs, &n);
    EXPECT_EQ(n, 2u);
    n = 8;
    EXPECT_FALSE(ring.GetReadPointers(&n, ptr)) << "cut at the buffer's edge, before the end";
    EXPECT_EQ(n, 2u);
    ring.FinishRead(n);
    n = 8;
    EXPECT_TRUE(ring.GetReadPointers(&n, ptr));
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(ptr[0][1], 2.0f);
}

// ---------------------------------------------------------------- mix

struct MixCase {
    const char* name;
    UInt16 channels;
    SInt32 configuration;
    // Expected weights {left, right} per input channel.
    std::vector<std::pair<float, float>> weights;
    // The speakers the file reports one by one (or as a bitmap) instead of
    // its configuration's tag.
    std::vector<UInt32> labels = {};
    bool bitmap = false;
};

class MixTest : public ::testing::TestWithParam<MixCase> {};

TEST_P(MixTest, EveryInputReachesTheOutputsWithItsWeight)
{
    const MixCase& c = GetParam();
    const UInt32 frames = 3000;
    Engine e(MakeFile(c.channels, frames, c.configuration, 44100.0,
                      c.labels.empty() ? nullptr : new DescribedFile(c.labels, c.bitmap)));
    e.player->Play(0, frames);
    e.output->Pump(frames);
    const auto in = Samples(c.channels, frames, c.configuration);
    const auto left = e.output->CapturedLeft();
    const auto right = e.output->CapturedRight();
    ASSERT_EQ(left.size(), frames);
    for (UInt32 i = 0; i < frames; i += 7) {
        float l = 0, r = 0;
        for (UInt16 j = 0; j < c.channels; ++j) {
            l += c.weights[j].first * in[j][i];
            r += c.weights[j].second * in[j][i];
        }
        ASSERT_NEAR(left[i], l, 1e-6) << c.name << " frame " << i;
        ASSERT_NEAR(right[i], r, 1e-6) << c.name << " frame " << i;
    }
    EXPECT_EQ(e.ends.load(), 1);
}

const float h = 0.707f;
INSTANTIATE_TEST_SUITE_P(
    Layouts, MixTest,
    ::testing::Values(
        MixCase{"mono", 1, kChannelConfigMono, {{1, 1}}},
        MixCase{"stereo", 2, kChannelConfigStereo, {{1, 0}, {0, 1}}},
        // L C R: the centre on both sides.
        MixCase{"lcr", 3, kChannelConfigLCR, {{1, 0}, {h, h}, {0, 1}}},
        MixCase{"quad", 4, kChannelConfigQuad, {{1, 0}, {0, 1}, {h, 0}, {0, h}}},
        // C L R Cs: the centre on both sides, each side on its own at full level.
        MixCase{"lcrs", 4, kChannelConfigLCRS, {{h, h}, {1, 0}, {0, 1}, {h, h}}},
        MixCase{"5.0", 5, kChannelConfig5_0, {{1, 0}, {0, 1}, {h, 0}, {0, h}, {h, h}}},
        MixCase{"5.1", 6, kChannelConfig5_1, {{1, 0}, {0, 1}, {h, h}, {0.5f, 0.5f}, {h, 0}, {0, h}}},
        MixCase{"6.0", 6, kChannelConfig6_0, {{1, 0}, {0, 1}, {h, 0}, {0, h}, {h, h}, {h, h}}},
        MixCase{"6.1", 7, kChannelConfig6_1, {{1, 0}, {0, 1}, {h, h}, {0, 0}, {h, 0}, {0, h}, {h, h}}},
        MixCase{"7.1", 8, kChannelConfig7_1,
                {{h, h}, {0.866f, 0.5f}, {0.5f, 0.866f}, {1, 0}, {0, 1}, {h, 0}, {0, h}, {0.5f, 0.5f}}},
        // Described channel by channel, in no tag's order, and as a bitmap.
        MixCase{"described", 6, kChannelConfigMultichannel,
                {{0, h}, {h, h}, {1, 0}, {0.5f, 0.5f}, {0, 1}, {h, 0}},
                {kAudioChannelLabel_RightSurround, kAudioChannelLabel_Center, kAudioChannelLabel_Left,
                 kAudioChannelLabel_LFEScreen, kAudioChannelLabel_Right, kAudioChannelLabel_LeftSurround}},
        MixCase{"described_stereo_swapped", 2, kChannelConfigStereo, {{0, 1}, {1, 0}},
                {kAudioChannelLabel_Right, kAudioChannelLabel_Left}},
        MixCase{"described_wide_and_height", 6, kChannelConfigMultichannel,
                {{1, 0}, {0, 1}, {h, 0}, {0, h}, {0, h}, {0.5f, 0.5f}},
                {kAudioChannelLabel_Left, kAudioChannelLabel_Right, kAudioChannelLabel_LeftWide,
                 kAudioChannelLabel_RightWide, kAudioChannelLabel_VerticalHeightRight,
                 kAudioChannelLabel_TopCenterSurround}},
        MixCase{"bitmap", 5, kChannelConfigMultichannel, {{1, 0}, {0, 1}, {h, h}, {h, 0}, {0, h}},
                {kAudioChannelLabel_Left, kAudioChannelLabel_Right, kAudioChannelLabel_Center,
                 kAudioChannelLabel_LeftSurround, kAudioChannelLabel_RightSurround},
                true},
        MixCase{"18ch_capped", 18, kChannelConfigMultichannel,
                {{1, 0}, {0, 1}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0},
                 {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (ch == '.')
                ch = '_';
        return n;
    });

// ------------------------------------------------- surround files played
// WAVE (channel mask), CAF, FLAC and AIFF files of the surround layouts as
// ffmpeg writes them, channel k carrying its own tone: each tone is heard
// with the weights of the speaker of channel k, on the side it belongs to.

struct FileMixCase {
    const char* layout;     // ffmpeg's name
    const char* extension;  // of the container
    // The speaker of each channel: L R C LFE, Ls Rs (the surrounds: a back
    // pair, or a side pair without one), Rls Rrs (a side pair beside a back
    // pair), Lc Rc, Cs.
    std::vector<std::string> speakers;
};

class FileMixTest : public ::testing::TestWithParam<FileMixCase> {
protected:
    static void SetUpTestSuite()
    {
        StartPlaybackTestApp();
    }
};

TEST_P(FileMixTest, EveryToneHasTheWeightsOfItsSpeaker)
{
    const FileMixCase& c = GetParam();
    const int channels = int(c.speakers.size());
    const double rate = 16000;
    const UInt32 frames = 3200;  // every tone a whole number of cycles
    auto tone = [](int k) { return 400.0 + 300.0 * k; };
    TestTempDir dir;
    const std::string path = dir.file(std::string("in.") + c.extension);
    QString tones;
    for (int k = 0; k < channels; ++k)
        tones += QString(k ? "|" : "") + QString("0.3*sin(2*PI*%1*t)").arg(tone(k));
    // Movie containers with lossless samples: PCM in QuickTime, ALAC in MPEG-4.
    const std::map<std::string, QString> codecs = {{"mov", "pcm_s16le"}, {"m4a", "alac"}};
    QStringList arguments = {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                             QString("aevalsrc=%1:s=16000:d=0.2:c=%2").arg(tones, c.layout)};
    if (codecs.count(c.extension))
        arguments << "-c:a" << codecs.at(c.extension);
    ASSERT_EQ(peers::Run("ffmpeg", arguments << QString::fromStdString(path)).exitCode, 0);
    OSType type = 0;
    ASSERT_EQ(DetectFileType(path, &type), noErr);
    CSoundFile* file = CreateSoundFileObject(type);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->SetFile(path), noErr);

    Engine e(file, rate);
    e.player->Play(0, frames);
    e.PumpFed(frames);
    const auto left = e.output->CapturedLeft();
    const auto right = e.output->CapturedRight();
    ASSERT_GE(left.size(), frames);
    // The amplitude of a tone in an output over the tone's own (Goertzel).
    auto weight = [&](const std::vector<float>& out, int k) {
        const double w = 2.0 * M_PI * tone(k) / rate;
        double s1 = 0, s2 = 0;
        for (UInt32 i = 0; i < frames; ++i) {
            const double s0 = out[i] + 2.0 * std::cos(w) * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        return 2.0 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - 2.0 * std::cos(w) * s1 * s2)) / frames / 0.3;
    };
    const std::map<std::string, std::pair<double, double>> expected = {
        {"L", {1, 0}},     {"R", {0, 1}},     {"C", {h, h}},     {"LFE", {0.5, 0.5}},   {"Ls", {h, 0}},
        {"Rs", {0, h}},    {"Rls", {h, 0}},   {"Rrs", {0, h}},   {"Lc", {0.866, 0.5}}, {"Rc", {0.5, 0.866}},
        {"Cs", {h, h}}};
    for (int k = 0; k < channels; ++k) {
        const auto& want = expected.at(c.speakers[std::size_t(k)]);
        EXPECT_NEAR(weight(left, k), want.first, 0.01) << "channel " << k << " (" << c.speakers[std::size_t(k)] << ")";
        EXPECT_NEAR(weight(right, k), want.second, 0.01) << "channel " << k << " (" << c.speakers[std::size_t(k)] << ")";
    }
}

std::vector<FileMixCase> FileMixCases()
{
    const std::vector<std::pair<const char*, std::vector<std::string>>> layouts = {
        {"3.0", {"L", "R", "C"}},
        {"4.0", {"L", "R", "C", "Cs"}},
        {"quad", {"L", "R", "Ls", "Rs"}},
        {"5.0", {"L", "R", "C", "Ls", "Rs"}},
        {"5.1", {"L", "R", "C", "LFE", "Ls", "Rs"}},
        {"6.0", {"L", "R", "C", "Cs", "Ls", "Rs"}},
        {"7.1", {"L", "R", "C", "LFE", "Ls", "Rs", "Rls", "Rrs"}},
        {"7.1(wide)", {"L", "R", "C", "LFE", "Ls", "Rs", "Lc", "Rc"}},
    };
    std::vector<FileMixCase> cases;
    for (const auto& layout : layouts)
        for (const char* extension : {"wav", "caf", "flac", "aiff", "mov", "m4a"})
            if (std::string(layout.first) != "7.1" || std::string(extension) != "m4a")  // not an ALAC layout
                cases.push_back({layout.first, extension, layout.second});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Containers, FileMixTest, ::testing::ValuesIn(FileMixCases()), [](const auto& info) {
    std::string n = std::string(info.param.layout) + "_" + info.param.extension;
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
});

// ------------------------------------------------------ range and volume

class RangeTest : public ::testing::TestWithParam<UInt32> {};

// Ranges shorter than a fill, one fill, the ring's capacity (the end mark
// wraps to index 0) and several laps: every frame arrives once, in order,
// the end is reported once in the call that reaches it, and the rest of
// that call is silence.
TEST_P(RangeTest, EveryFrameOnceThenTheEnd)
{
    const UInt32 begin = 5, frames = GetParam();
    Engine e(MakeFile(1, begin + frames + 700, kChannelConfigMono));
    const auto in = Samples(1, begin + frames + 700, kChannelConfigMono);
    e.player->Play(begin, begin + frames);
    e.PumpFed(frames + 1024);
    const auto left = e.output->CapturedLeft();
    ASSERT_EQ(left.size(), frames + 1024);
    for (UInt32 i = 0; i < frames; ++i)
        ASSERT_EQ(left[i], in[0][begin + i]) << "frame " << i;
    for (UInt32 i = frames; i < left.size(); ++i)
        ASSERT_EQ(left[i], 0.0f) << "after the end, frame " << i;
    EXPECT_EQ(e.ends.load(), 1);
    EXPECT_FALSE(e.player->IsPlaying());
}

INSTANTIATE_TEST_SUITE_P(Lengths, RangeTest, ::testing::Values(1000u, 24576u, 49152u, 98304u, 100001u));

TEST(AUPlayerTest, VolumeInDecibels)
{
    Engine e(MakeFile(2, 2000, kChannelConfigStereo));
    const auto in = Samples(2, 2000, kChannelConfigStereo);
    e.player->SetVolume(-6.0f);
    e.player->Play(0, 2000);
    e.output->Pump(2000);
    const auto right = e.output->CapturedRight();
    const float gain = std::pow(10.0f, -0.3f);
    for (UInt32 i = 0; i < 2000; i += 13)
        ASSERT_NEAR(right[i], gain * in[1][i], 1e-6);
}

TEST(AUPlayerTest, PauseThenPlayStartsAtTheGivenFrame)
{
    Engine e(MakeFile(1, 20000, kChannelConfigMono));
    const auto in = Samples(1, 20000, kChannelConfigMono);
    e.player->Play(100, 20000);
    e.output->Pump(3000);
    e.player->Pause();
    e.output->Pump(512);
    e.output->ClearCapture();
    e.player->Play(100, 20000);
    e.output->Pump(1024);
    const auto left = e.output->CapturedLeft();
    for (UInt32 i = 0; i < 1024; ++i)
        ASSERT_EQ(left[i], in[0][100 + i]);
    EXPECT_EQ(e.ends.load(), 0) << "a pause does not report an end";
}

TEST(AUPlayerTest, StarvedRingPlaysSilenceWithoutAnEndAndAnEmptyRangeEnds)
{
    Engine e(MakeFile(1, 200000, kChannelConfigMono));
    const auto in = Samples(1, 200000, kChannelConfigMono);
    e.player->Play(0, 200000);
    // The first fill holds one block; a render call that asks for more
    // catches up with the fill side: the rest is silence, and no end.
    std::vector<float> l(AUPlayer::kFillFrames + 4096, 1.0f), r(l.size(), 1.0f);
    UInt32 flags = 0;
    e.player->Render(UInt32(l.size()), &flags, l.data(), r.data());
    EXPECT_EQ(l[AUPlayer::kFillFrames - 1], in[0][AUPlayer::kFillFrames - 1]);
    EXPECT_EQ(l[AUPlayer::kFillFrames], 0.0f);
    EXPECT_EQ(l.back(), 0.0f);
    EXPECT_EQ(e.ends.load(), 0);
    EXPECT_TRUE(e.player->IsPlaying());

    e.player->Play(50, 50);
    e.player->Render(512, &flags, l.data(), r.data());
    EXPECT_EQ(e.ends.load(), 1) << "an empty range ends in the first render call";
    EXPECT_FALSE(e.player->IsPlaying());
}

TEST(AUPlayerTest, LongSilenceStopsTheOutputAndPlayStartsItAgain)
{
    Engine e(MakeFile(1, 1000, kChannelConfigMono));
    e.player->Play(0, 1000);
    EXPECT_EQ(e.output->StartCount(), 1);
    const UInt32 pumped = e.output->Pump(300000);
    EXPECT_LT(pumped, 300000u) << "the output stops itself after 240000 silent frames";
    EXPECT_FALSE(e.player->IsOutputRunning());
    EXPECT_FALSE(e.output->IsRunning());
    e.output->ClearCapture();
    e.player->Play(0, 1000);
    EXPECT_EQ(e.output->StartCount(), 2);
    e.output->Pump(1000);
    EXPECT_NE(e.output->CapturedLeft()[10], 0.0f);
}

// The render side, on a thread of its own, is held at the moment it stops
// the idle output while Play runs: the output must stay with the play, and
// the range play whole and end once.
TEST(AUPlayerTest, PlayAsTheIdleOutputStopsPlaysTheWholeRange)
{
    const UInt32 frames = 3000;
    Engine e(MakeFile(2, frames, kChannelConfigStereo));
    const auto in = Samples(2, frames, kChannelConfigStereo);
    std::promise<void> reached, release;
    std::atomic<bool> held{false};
    AUPlayer::SetTestHook([&](AUPlayer&, AUPlayer::TestPoint point) {
        if (point != AUPlayer::TestPoint::kIdleStop || held.exchange(true))
            return;
        reached.set_value();
        release.get_future().wait();
    });
    std::thread render([&] {
        for (int i = 0; i < 1000 && !held.load(); ++i)
            e.output->Pump(512);
        if (!held.exchange(true))
            reached.set_value();  // it never stopped the output: the checks below tell
    });
    reached.get_future().wait();
    e.output->ClearCapture();
    e.player->Play(0, frames);
    release.set_value();
    render.join();
    AUPlayer::SetTestHook(nullptr);
    EXPECT_EQ(e.output->Pump(frames + 2048), frames + 2048) << "the output runs on";
    EXPECT_EQ(e.ends.load(), 1);
    EXPECT_FALSE(e.player->IsPlaying());
    // Silence up to the play, then every frame once, then silence.
    auto right = e.output->CapturedRight();
    right.erase(right.begin(), std::find_if(right.begin(), right.end(), [](float s) { return s != 0.0f; }));
    ASSERT_GE(right.size(), frames);
    EXPECT_TRUE(std::equal(in[1].begin(), in[1].end(), right.begin()));
    EXPECT_TRUE(std::all_of(right.begin() + frames, right.end(), [](float s) { return s == 0.0f; }));
}

// ------------------------------------------------------------ varispeed

struct SpeedCase {
    double fileRate, outputRate;
    float rate;
};

class VarispeedTest : public ::testing::TestWithParam<SpeedCase> {};

// The range lasts frames x outputRate / (fileRate x rate) output frames, and
// a tone comes out at its frequency times the rate.
TEST_P(VarispeedTest, LengthAndPitchFollowTheRate)
{
    const SpeedCase c = GetParam();
    const UInt32 frames = UInt32(c.fileRate);  // one second of file
    Engine e(MakeFile(1, frames, kChannelConfigMono, c.fileRate), c.outputRate);
    e.player->SetRate(c.rate);
    e.player->Play(0, frames);
    const double expected = frames * c.outputRate / (c.fileRate * c.rate);
    e.PumpFed(UInt32(expected) + 2048);
    ASSERT_EQ(e.ends.load(), 1);
    const auto left = e.output->CapturedLeft();
    UInt32 last = 0;
    int crossings = 0, sign = 0;
    for (UInt32 i = 0; i < left.size(); ++i) {
        if (left[i] == 0.0f)
            continue;
        last = i;
        const int s = left[i] < 0 ? -1 : 1;
        crossings += sign != 0 && s != sign;
        sign = s;
    }
    EXPECT_NEAR(double(last), expected, 4.0) << "length in output frames";
    // 110 Hz for one second of file: 220 crossings whatever the speed.
    EXPECT_NEAR(crossings, 220, 2);
}

INSTANTIATE_TEST_SUITE_P(Rates, VarispeedTest,
                         ::testing::Values(SpeedCase{44100, 44100, 2.0f}, SpeedCase{44100, 44100, 0.5f},
                                           SpeedCase{22050, 44100, 1.0f}, SpeedCase{48000, 44100, 1.25f},
                                           SpeedCase{44100, 48000, 3.7f}));

TEST(AUPlayerTest, BadRateIsRefused)
{
    Engine e(MakeFile(1, 100, kChannelConfigMono));
    EXPECT_THROW(e.player->SetRate(0.0f), error_code_exception);
    EXPECT_THROW(e.player->SetRate(NAN), error_code_exception);
}

// ------------------------------------------------------ threads and device

// A file in memory and WAVE, FLAC and MP3 inputs that ffmpeg writes,
// previewed whole through an output paced by the clock: every frame of the
// source (as ffmpeg decodes the files) arrives once and in order, and the
// end is reported once.
class PacedTest : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() { StartPlaybackTestApp(); }
};

TEST_P(PacedTest, TheOutputPlaysTheWholeRangeThroughTheFeeder)
{
    const std::string kind = GetParam();
    TestTempDir dir;
    CSoundFile* file = nullptr;
    std::vector<float> source;  // the right channel
    UInt32 range = 120000;
    if (kind == "memory") {
        source = Samples(2, range, kChannelConfigStereo)[1];
        file = MakeFile(2, range, kChannelConfigStereo);
    } else {
        QM_REQUIRE_PEER("ffmpeg");
        const std::string path = dir.file("in." + kind);
        ASSERT_EQ(peers::Run("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                        "aevalsrc=0.3*sin(2*PI*330*t)|0.3*sin(2*PI*550*t+1):s=44100:d=2.72",
                                        QString::fromStdString(path)})
                      .exitCode,
                  0);
        const std::vector<float> both = peers::FFmpegF32(path);
        for (std::size_t i = 1; i < both.size(); i += 2)
            source.push_back(both[i]);
        // As the Player previews an input: the file's whole range.
        const auto input = ZuSoundFile::soundFileWithPath(QString::fromStdString(path));
        ASSERT_TRUE(input && input->isPlayable());
        EXPECT_EQ(input->numFrames(), source.size());
        OSErr err = noErr;
        file = input->createSoundFile(&err);
        ASSERT_NE(file, nullptr) << err;
        range = input->numFrames();
    }
    MemorySoundFile::destroyedCount() = 0;
    {
        Engine e(file, 44100.0, 20.0);  // 20x real time
        e.player->Play(0, range);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (e.ends.load() == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(e.ends.load(), 1);
        // The end is reported from inside the period that plays the last
        // frames, before the output keeps that period: stop the output, so
        // that every period it rendered is kept.
        ASSERT_EQ(e.output->Stop(), noErr);
        EXPECT_EQ(e.ends.load(), 1);
        // Silence in front (the output ran before Play) and any gap of a
        // busy machine aside, every frame arrives once and in order.
        auto sound = [](const std::vector<float>& samples) {
            std::vector<float> kept;
            for (float s : samples)
                if (s != 0.0f)
                    kept.push_back(s);
            return kept;
        };
        const auto played = sound(e.output->CapturedRight());
        const auto expected = sound(source);
        ASSERT_EQ(played.size(), expected.size());
        // (The readers' float conversions may differ from ffmpeg's in the
        // last bit; a frame lost or repeated moves the tone far more.)
        for (std::size_t i = 0; i < played.size(); ++i)
            ASSERT_NEAR(played[i], expected[i], 1e-5) << "sample " << i;
    }
    if (kind == "memory") {
        EXPECT_EQ(MemorySoundFile::destroyedCount(), 1) << "the engine releases its file";
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, PacedTest, ::testing::Values("memory", "wav", "flac", "mp3"),
                         [](const auto& info) { return info.param; });

TEST(AUPlayerTest, NoDeviceThrowsAndReleasesTheFile)
{
    MemorySoundFile::destroyedCount() = 0;
    AudioOutput::SetFactory([] { return std::unique_ptr<AudioOutput>(); });
    EXPECT_THROW(AUPlayer(MakeFile(1, 100, kChannelConfigMono), nullptr), error_code_exception);
    AudioOutput::SetFactory(nullptr);
    EXPECT_EQ(MemorySoundFile::destroyedCount(), 1);
}

TEST(AUPlayerTest, FileThatGivesNoFramesEndsAtOnce)
{
    Engine e(MakeFile(1, 100, kChannelConfigMono));
    auto* bad = MakeFile(1, 100, kChannelConfigMono);
    bad->SetShape(1, 12);  // a word length the float readers refuse
    e.player->SetFile(bad);
    e.player->Play(0, 100);
    EXPECT_EQ(e.output->Pump(512), 512u);
    EXPECT_EQ(e.ends.load(), 1) << "a file that gives nothing ends at once";
}

}  // namespace
