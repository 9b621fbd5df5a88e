// Split stereo pairs and surround sets of real WAVE members, checked
// against sox: sets made of mono files that sox writes are found by the
// input-file model and read as sox's merge of the same files reads; sets we
// write merge in sox to exactly what we wrote.
#include "CSplitFile.h"
#include "CSurroundFile.h"
#include "CreateSoundFile.h"
#include "format_type_codes.h"
#include "PCMFileTypes.h"
#include "SetFileTypes.h"
#include "TestTempDir.h"
#include "WAVETestSupport.h"
#include "ZuSoundFile.h"
#include "PeerTools.h"

#include <QStandardPaths>

#include <gtest/gtest.h>

#include <functional>

#include <memory>

namespace {

constexpr OSType kWAVE = FOUR_CHAR_CODE("WAVE");

wavetest::RunResult Sox(const QStringList& args)
{
    return wavetest::RunProgram(QStringLiteral("sox"), args);
}

// A mono 16-bit WAVE file of a sine at `frequency`, `seconds` long.
void MakeMono(const std::string& path, int frequency, double seconds, int rate = 44100)
{
    const auto result = Sox({QStringLiteral("-n"), QStringLiteral("-r"), QString::number(rate), QStringLiteral("-b"),
                             QStringLiteral("16"), QStringLiteral("-c"), QStringLiteral("1"),
                             QString::fromStdString(path), QStringLiteral("synth"), QString::number(seconds),
                             QStringLiteral("sine"), QString::number(frequency), QStringLiteral("vol"),
                             QStringLiteral("0.7")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
}

// sox -M of the files, as raw big-endian 16-bit samples, interleaved.
std::vector<SInt16> SoxMerge(const std::vector<std::string>& paths, const std::string& folder)
{
    QStringList args{QStringLiteral("-M")};
    for (const std::string& path : paths)
        args << QString::fromStdString(path);
    const QString raw = QString::fromStdString(folder + "/merged.raw");
    args << QStringLiteral("-t") << QStringLiteral("raw") << QStringLiteral("-e") << QStringLiteral("signed")
         << QStringLiteral("-b") << QStringLiteral("16") << QStringLiteral("-B") << raw;
    const auto result = Sox(args);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    const std::vector<UInt8> bytes = wavetest::ReadAll(raw.toStdString());
    std::vector<SInt16> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = SInt16(UInt16((bytes[2 * i] << 8) | bytes[2 * i + 1]));
    return samples;
}

// Every frame of an opened file, interleaved, as 16-bit values.
std::vector<SInt16> ReadAll16(CSoundFile& file)
{
    const UInt32 frames = file.GetNumFrames();
    const std::size_t channels = file.GetNumChannels();
    std::vector<double> values(std::size_t(frames) * channels);
    UInt32 count = frames;
    EXPECT_EQ(file.ReadFrames(0, &count, values.data()), noErr);
    EXPECT_EQ(count, frames);
    std::vector<SInt16> samples(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        samples[i] = SInt16(std::lround(values[i] / kScale16));
    return samples;
}

class SetFilesPeerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QM_REQUIRE_PEER("sox");
        RegisterPCMFileTypes();
        RegisterSetFileTypes();
    }
    TestTempDir dir;
};

TEST_F(SetFilesPeerTest, SplitPairIsFoundAndReadsAsSoxMergesIt)
{
    const std::string left = dir.file("Take.L.wav");
    const std::string right = dir.file("Take.R.wav");
    MakeMono(left, 440, 0.8);
    MakeMono(right, 660, 0.8);

    ZuSoundFile model(QString::fromStdString(left));
    ASSERT_TRUE(model.isPlayable()) << model.descriptor().toStdString();
    EXPECT_EQ(model.hfsFileType(), format_type_codes::kSplitSet);
    EXPECT_EQ(model.hfsRealType(), kWAVE);
    ASSERT_EQ(model.surround_set().size(), 2u);
    EXPECT_TRUE(model.isSplit());
    EXPECT_EQ(model.numChannels(), 2);
    EXPECT_EQ(model.displayChannels(), QStringLiteral("2 (stereo)"));
    EXPECT_EQ(model.name(), QStringLiteral("Take"));
    EXPECT_TRUE(model.descriptor().startsWith(QStringLiteral("Split stereo ")));

    std::unique_ptr<CSoundFile> split(model.createSoundFile(nullptr));
    ASSERT_NE(split, nullptr);
    ASSERT_EQ(split->Open(), noErr);
    EXPECT_EQ(ReadAll16(*split), SoxMerge({left, right}, dir.path()));
    EXPECT_EQ(split->Close(), noErr);
}

TEST_F(SetFilesPeerTest, SurroundSetIsFoundAndReadsAsSoxMergesIt)
{
    const char* const suffixes[] = {".L", ".R", ".C", ".LFE", ".Ls", ".Rs"};
    const char* const names[] = {"Left", "Right", "Center", "LFE", "Left surround", "Right surround"};
    std::vector<std::string> paths;
    int frequency = 200;
    for (const char* suffix : suffixes) {
        paths.push_back(dir.file(std::string("Mix") + suffix + ".wav"));
        // The centre is shorter than the others: silence after its end.
        MakeMono(paths.back(), frequency += 110, std::string(suffix) == ".C" ? 0.3 : 0.5);
    }

    ZuSoundFile model(QString::fromStdString(paths[2]));
    ASSERT_TRUE(model.isPlayable()) << model.descriptor().toStdString();
    EXPECT_EQ(model.hfsFileType(), format_type_codes::kSurroundSet);
    EXPECT_EQ(model.surroundSetName(), QStringLiteral("5.1 Surround"));
    EXPECT_EQ(model.channelConfiguration(), kChannelConfig5_1);
    EXPECT_EQ(model.numChannels(), 6);
    EXPECT_EQ(model.displayChannels(), QStringLiteral("6 (5.1)"));
    EXPECT_EQ(model.numFrames(), 22050u);
    ASSERT_EQ(model.surround_set(), paths);

    std::unique_ptr<CSoundFile> set(model.createSoundFile(nullptr));
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set->Open(), noErr);
    EXPECT_EQ(ReadAll16(*set), SoxMerge(paths, dir.path()));
    for (UInt16 channel = 0; channel < 6; ++channel)
        EXPECT_EQ(set->GetChannelName(channel), names[channel]);
    EXPECT_EQ(set->Close(), noErr);
}

TEST_F(SetFilesPeerTest, WrittenSetsMergeInSoxToWhatWasWritten)
{
    // Integer-valued samples, so the 16-bit words come out exact.
    auto fill = [](std::size_t frames, std::size_t channels) {
        std::vector<double> samples(frames * channels);
        for (std::size_t i = 0; i < frames; ++i)
            for (std::size_t k = 0; k < channels; ++k)
                samples[i * channels + k] = double(SInt16((i * (k + 3) * 37) % 60000 - 30000)) / 32768.0;
        return samples;
    };
    auto expected = [](const std::vector<double>& samples) {
        std::vector<SInt16> words(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i)
            words[i] = SInt16(std::lround(samples[i] * 32768.0));
        return words;
    };

    // Writes through `set`, closes it with `close`; sox merges `members` back.
    const auto check = [&](CSoundFile& set, UInt16 channels, float rate, UInt32 frames,
                           const std::function<OSErr()>& close, const std::vector<std::string>& members) {
        set.SetDither(false);
        ASSERT_EQ(set.Create(channels, 16, 0, nullptr, nullptr, rate), noErr);
        std::vector<double> samples = fill(frames, channels);
        UInt32 count = frames;
        ASSERT_EQ(set.WriteFrames(0, &count, samples.data()), noErr);
        ASSERT_EQ(close(), noErr);
        EXPECT_EQ(SoxMerge(members, dir.path()), expected(samples));
    };
    std::unique_ptr<CSoundFile> split(CreateSoundFileObject(format_type_codes::kSplitSet, kWAVE));
    ASSERT_NE(split, nullptr);
    FSSpec out{dir.path(), "Out"};
    ASSERT_EQ(split->SetFile(&out), noErr);
    check(*split, 2, 44100.0f, 30000, [&] { return split->Close(); }, {dir.file("Out.L.wav"), dir.file("Out.R.wav")});

    auto* set = static_cast<CSurroundFile*>(CreateSoundFileObject(format_type_codes::kSurroundSet, kWAVE));
    ASSERT_NE(set, nullptr);
    FSSpec six{dir.path(), "Six"};
    ASSERT_EQ(set->MakeChannelFiles(&six, kChannelConfig5_1, 0), noErr);
    ASSERT_EQ(set->GetMemberCount(), 6u);
    std::vector<std::string> paths;
    for (const char* suffix : {".L", ".R", ".C", ".LFE", ".Ls", ".Rs"})
        paths.push_back(dir.file(std::string("Six") + suffix + ".wav"));
    // CloseAndDelete: the set and its members are gone, the files stay.
    check(*set, 6, 48000.0f, 20000, [&] { return set->CloseAndDelete(true); }, paths);
}

} // namespace
