// Surround inputs: the configuration, the channel names and the order in
// memory agree with the layout ffprobe reports; descriptions and bit rates
// of MP3 and MPEG-4 inputs.
#include "CQTMP3File.h"
#include "CQTMP4File.h"
#include "CQTMovieFile.h"
#include "MovieTestSupport.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace movietest;

namespace {

// ffprobe's channel names, in the file's order.
std::vector<std::string> FfprobeChannels(const std::string& path, const TestTempDir& dir)
{
    const std::string out = dir.file("layout.txt");
    RunCommand("ffprobe -v error -show_entries stream=channel_layout -of csv=p=0 '" + path + "' > '" + out + "'");
    const std::vector<uint8_t> bytes = ReadAll(out);
    std::string layout(bytes.begin(), bytes.end());
    while (!layout.empty() && (layout.back() == '\n' || layout.back() == ','))
        layout.pop_back();
    const std::map<std::string, std::vector<std::string>> known = {
        {"5.1", {"FL", "FR", "FC", "LFE", "BL", "BR"}},
        {"5.1(side)", {"FL", "FR", "FC", "LFE", "SL", "SR"}},
        {"7.1", {"FL", "FR", "FC", "LFE", "BL", "BR", "SL", "SR"}},
        {"7.1(wide)", {"FL", "FR", "FC", "LFE", "BL", "BR", "FLC", "FRC"}},
    };
    auto it = known.find(layout);
    return it == known.end() ? std::vector<std::string>{layout} : it->second;
}

struct LayoutCase {
    const char* name;
    const char* file;
    const char* codec;
    const char* layout;
    SInt32 configuration;
};

class SurroundLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(SurroundLayoutTest, NamesAndOrderFollowFfprobe)
{
    const LayoutCase& c = GetParam();
    TestTempDir dir;
    const std::string path = dir.file(c.file);
    // Every channel its own tone, so that each can be told apart.
    std::ostringstream command;
    command << "ffmpeg -nostdin -loglevel error -y -f lavfi -i 'aevalsrc=";
    const int channels = std::string(c.layout).rfind("7.1", 0) == 0 ? 8 : 6;
    for (int ch = 0; ch < channels; ++ch)
        command << (ch ? "|" : "") << "0.1*(" << ch + 1 << ")*sin(2*PI*" << 200 + 110 * ch << "*t)";
    command << ":s=48000:d=0.4:c=" << c.layout << "' -c:a " << c.codec << " '" << path << "'";
    ASSERT_TRUE(RunCommand(command.str()));
    const std::vector<std::string> probe = FfprobeChannels(path, dir);
    ASSERT_EQ(int(probe.size()), channels) << probe.front();

    CQTMovieFile file;
    ASSERT_EQ(file.SetFile(path), noErr);
    ASSERT_EQ(file.Open(), noErr);
    EXPECT_EQ(file.GetChannelConfiguration(), c.configuration) << probe[std::min<std::size_t>(6, probe.size() - 1)];
    // ffprobe's names in ours: a back pair is the surround pair, and so is a
    // side pair without one; beside a back pair the sides are the rear
    // surrounds (7.1 keeps them: no configuration has them).
    const bool backAndSide = channels == 8 && probe[6] == "SL";
    const std::map<std::string, std::string> ours = {
        {"FL", "Left"}, {"FR", "Right"}, {"FC", "Center"}, {"LFE", "Lfe"},
        {"BL", "Left Surround"}, {"BR", "Right Surround"},
        {"SL", backAndSide ? "Rear Surround Left" : "Left Surround"},
        {"SR", backAndSide ? "Rear Surround Right" : "Right Surround"},
        {"FLC", "Left Center"}, {"FRC", "Right Center"}};
    const std::vector<int32_t> reference = Truncate(FFmpegS32(path), 24);
    const std::vector<int32_t> got = DecodeBlocks(file);
    ASSERT_EQ(got.size(), reference.size());
    for (int ch = 0; ch < channels; ++ch) {
        const std::string name = file.GetChannelName(UInt16(ch));
        int source = -1;
        for (int k = 0; k < channels; ++k)
            if (ours.at(probe[std::size_t(k)]) == name)
                source = k;
        ASSERT_GE(source, 0) << name;
        bool same = true;
        for (std::size_t i = 0; i < got.size() / std::size_t(channels) && same; ++i)
            same = got[i * std::size_t(channels) + std::size_t(ch)] == reference[i * std::size_t(channels) + std::size_t(source)];
        EXPECT_TRUE(same) << "channel " << ch << " (" << name << ") is not ffmpeg's " << probe[std::size_t(source)];
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SurroundLayoutTest,
                         ::testing::Values(LayoutCase{"aac_5_1", "s51.m4a", "aac", "5.1", kChannelConfig5_1},
                                           LayoutCase{"flac_5_1", "s51.flac", "flac", "5.1", kChannelConfig5_1},
                                           LayoutCase{"flac_7_1", "s71.flac", "flac", "7.1", kChannelConfigMultichannel},
                                           LayoutCase{"flac_7_1_wide", "s71w.flac", "flac", "7.1(wide)", kChannelConfig7_1},
                                           LayoutCase{"aac_7_1", "s71.m4a", "aac", "7.1", kChannelConfigMultichannel}),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

TEST(MovieDescriptionTest, MP3ChannelModesAndMPEG4BitRates)
{
    TestTempDir dir;
    const std::string wav = dir.file("in.wav");
    ASSERT_TRUE(RunCommand("ffmpeg -nostdin -loglevel error -y -f lavfi -i 'sine=duration=0.5' -ac 2 '" + wav + "'"));
    for (auto [mode, text] : {std::pair{"j", "joint stereo"}, {"s", "stereo"}, {"m", "mono"}}) {
        const std::string mp3 = dir.file(std::string(mode) + ".mp3");
        ASSERT_TRUE(RunCommand(std::string("lame --quiet -b 128 -m ") + mode + " '" + wav + "' '" + mp3 + "'"));
        CQTMP3File file;
        ASSERT_EQ(file.SetFile(mp3), noErr);
        ASSERT_EQ(file.Open(), noErr);
        EXPECT_EQ(file.GetChannelDescription().toStdString(), text);
        EXPECT_TRUE(file.UseBitRate());
        EXPECT_NEAR(file.GetBitRate(), 128, 12);
    }
    EXPECT_EQ(CQTMP4File::NearestStandardBitRate(61), 64);
    EXPECT_EQ(CQTMP4File::NearestStandardBitRate(60), 56);
    EXPECT_EQ(CQTMP4File::NearestStandardBitRate(3), 8);
    EXPECT_EQ(CQTMP4File::NearestStandardBitRate(999), 320);
}

} // namespace
