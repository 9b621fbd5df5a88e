// Outputs that say nothing of their speakers hold their channels in the one
// order players assume of such files, the WAVE order (L R C LFE, then the
// surrounds): for every such type and every layout, each speaker sits where
// the WAVE output of the same layout, which names its speakers by a mask,
// has it.  Both are decoded by sox (by our own reader where no peer reads
// the type).
#include "CSoundFile.h"
#include "ChannelArrangement.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "PeerTools.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct Undescribed {
    const char* name;
    OSType type;
    SInt16 bits;
    QStringList soxOptions;  // empty: no peer reads the type
};

void PrintTo(const Undescribed& t, std::ostream* out)
{
    *out << t.name;
}

const std::vector<Undescribed>& Types()
{
    static const std::vector<Undescribed> types = {
        {"WAVEFloat", FOUR_CHAR_CODE("WVfl"), 32, {"-t", "wav"}},
        {"WAVEMuLaw", FOUR_CHAR_CODE("WVau"), 16, {"-t", "wav"}},
        {"WAVEALaw", FOUR_CHAR_CODE("WVal"), 16, {"-t", "wav"}},
        {"NeXT", FOUR_CHAR_CODE("NxTS"), 16, {"-t", "au"}},
        {"NeXTMuLaw", FOUR_CHAR_CODE("ulaw"), 16, {"-t", "au"}},
        {"NeXTALaw", FOUR_CHAR_CODE("NSAL"), 16, {"-t", "au"}},
        {"Paris", FOUR_CHAR_CODE(" paf"), 16, {"-t", "paf"}},
        {"Dawn", FOUR_CHAR_CODE("Dawn"), 16, {"-t", "aiff"}},
        {"SonicAIFF", FOUR_CHAR_CODE("SAIF"), 16, {"-t", "aiff"}},
        {"SoundDesignerII", FOUR_CHAR_CODE("Sd2f"), 16, {}},
    };
    return types;
}

constexpr UInt32 kFrames = 64;

// The level of memory channel c: 0.1, 0.2 ...
double Level(std::size_t c)
{
    return 0.1 * double(c + 1);
}

// A file of `type` with `configuration`, every memory channel at its level;
// its path.
std::string Write(OSType type, SInt16 bits, SInt32 configuration, const std::string& path)
{
    const UInt32 channels = LayoutTagForConfiguration(configuration, 0) & 0xFFFF;
    std::unique_ptr<CSoundFile> file(CreateSoundFileObject(type));
    EXPECT_EQ(file->SetFile(path), noErr);
    file->SetChannelConfiguration(configuration);
    EXPECT_EQ(file->Create(UInt16(channels), bits, 0, nullptr, nullptr, 48000.0f), noErr);
    std::vector<double> samples(std::size_t(kFrames) * channels);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = Level(i % channels);
    UInt32 count = kFrames;
    EXPECT_EQ(file->WriteFrames(0, &count, samples.data()), noErr);
    EXPECT_EQ(file->Close(), noErr);
    return file->GetPath();
}

// The level of each channel of the file, in the file's order.
std::vector<double> FileLevels(const std::string& path, OSType type, const QStringList& soxOptions,
                               UInt32 channels)
{
    std::vector<double> frame(channels);
    if (!soxOptions.isEmpty()) {
        const std::vector<SInt32> decoded = peers::SoxS32(path, soxOptions);
        if (decoded.size() < channels)
            return {};
        for (UInt32 c = 0; c < channels; ++c)
            frame[c] = decoded[c] / 2147483648.0;
        return frame;
    }
    std::unique_ptr<CSoundFile> file(CreateSoundFileObject(type));
    if (file->SetFile(path) != noErr || file->Open() != noErr || file->GetNumChannels() != channels)
        return {};
    UInt32 count = 1;
    const OSErr err = file->ReadFrames(0, &count, frame.data());
    file->Close();
    return err == noErr ? frame : std::vector<double>();
}

class UndescribedChannelOrder : public ::testing::TestWithParam<Undescribed> {
protected:
    static void SetUpTestSuite() { EngineStartup::registerFileTypes(); }
    TestTempDir dir;
};

TEST_P(UndescribedChannelOrder, EveryLayoutInTheWAVEOrder)
{
    QM_REQUIRE_PEER("sox");
    const Undescribed& t = GetParam();
    for (SInt32 configuration = kChannelConfigLCR; configuration <= kChannelConfig7_1; ++configuration) {
        const UInt32 channels = LayoutTagForConfiguration(configuration, 0) & 0xFFFF;
        const std::string what = std::string(t.name) + " configuration " + std::to_string(configuration);
        const std::string name = "c" + std::to_string(configuration);
        const std::vector<double> wave =
            FileLevels(Write(FOUR_CHAR_CODE("WAVE"), 16, configuration, dir.file(name + ".wav")),
                       FOUR_CHAR_CODE("WAVE"), {"-t", "wav"}, channels);
        const std::vector<double> ours =
            FileLevels(Write(t.type, t.bits, configuration, dir.file(name + "-out")), t.type, t.soxOptions, channels);
        ASSERT_EQ(wave.size(), channels) << what;
        ASSERT_EQ(ours.size(), channels) << what;
        if (configuration == kChannelConfigLCR) {
            // Left, centre, right in memory; left, right, centre in the file.
            EXPECT_NEAR(wave[1], Level(2), 0.01) << what;
            EXPECT_NEAR(wave[2], Level(1), 0.01) << what;
        }
        for (UInt32 c = 0; c < channels; ++c)
            EXPECT_NEAR(ours[c], wave[c], 0.04) << what << " file channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(Types, UndescribedChannelOrder, ::testing::ValuesIn(Types()),
                         [](const ::testing::TestParamInfo<Undescribed>& info) { return std::string(info.param.name); });

}  // namespace
