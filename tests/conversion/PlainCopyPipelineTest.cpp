// The plain-copy pipelines end to end on an in-memory output type: the
// output is made under the temporary name, gets the route's channels, is
// listed for renaming, and a failing pass or a missing type is reported.
#include "../soundfile/MemorySoundFile.h"

#include "CConvSpec.h"
#include "ConvSpec.h"
#include "CreatedFilesList.h"
#include "FileOperations.h"
#include "NotificationCenter.h"
#include "OutputNaming.h"
#include "PipelineSelector.h"
#include "SoundFileRegistry.h"
#include "TestTempDir.h"
#include "progress_channel.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

constexpr OSType kAIFF = FOUR_CHAR_CODE("AIFF");

// Output of type 'AIFF' kept in memory; its file on disk stays empty.
class MemoryOutput : public MemorySoundFile {
public:
    static std::vector<UInt8>& lastData()
    {
        static std::vector<UInt8> data;
        return data;
    }
    static UInt16& lastChannels()
    {
        static UInt16 channels = 0;
        return channels;
    }
    static bool& lastFailed()
    {
        static bool failed = false;
        return failed;
    }

    OSType GetFileType() const override { return kAIFF; }
    OSErr Create(UInt16 channels, SInt16 bits, UInt32 reserved, const UInt8* specifics, ConstStr255Param extension,
                 float rate) override
    {
        OSErr err = CSoundFile::Create(channels, bits, reserved, specifics, extension, rate);
        if (err)
            return err;
        SetShape(channels, bits, rate);
        err = CreateFileExclusive(GetPath());
        m_isOpen = err == noErr;
        return err;
    }
    OSErr Close() override
    {
        lastData() = data;
        lastChannels() = GetNumChannels();
        lastFailed() = IsClosingAfterFailure();
        return MemorySoundFile::Close();
    }
};

CSoundFile* MakeMemoryOutput()
{
    return new MemoryOutput;
}

class PlainCopyPipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterSoundFileFactory(kAIFF, &MakeMemoryOutput);
        CreatedFilesListClear();
        token_ = NotificationCenter::defaultCenter().addObserver(
            QString(), nullptr, [this](const Notification& n) {
                if (n.name == kProgressNumStepsNotification)
                    steps_ << n.object.toInt();
                if (n.name == kProgressStepNotification)
                    stepTexts_ << n.object.toList().value(0).toString();
            });
    }
    void TearDown() override
    {
        NotificationCenter::defaultCenter().removeObserver(token_);
        UnregisterSoundFileFactory(kAIFF);
        CreatedFilesListClear();
    }

    ConvSpecRef Conversion(int treatment)
    {
        ConvSpecRef s = ConvSpec::create();
        s->setNeedsStrictFileType(true);
        s->setOutputFileType(kAIFF);
        s->setNeedsChannelTreat(true);
        s->setChannelTreat(treatment);
        s->setNeedsFades(false);
        s->setNeedsNameExtension(false);
        s->setNeedsSampleRateConversion(false);
        s->setNeedsGain(false);
        s->setNeedsStrip(false);
        s->setNeedsExtraction(false);
        s->setNeedsNewWordLength(false);
        s->setNeedsRedither(false);
        return s;
    }

    SInt16 Run(const ConvSpecRef& s, CSoundFile* in)
    {
        FSSpec folder;
        folder.parent = dir_.path();
        CConvSpec spec(s, &folder, nullptr, QStringLiteral("Song"));
        return spec.Run(in);
    }

    TestTempDir dir_;
    NotificationCenter::Token token_ = 0;
    QList<int> steps_;
    QStringList stepTexts_;
};

// 16-bit stereo frames (left, right) big-endian.
std::vector<UInt8> Stereo16(std::initializer_list<std::pair<int, int>> frames)
{
    std::vector<UInt8> out;
    for (const auto& [l, r] : frames) {
        out.push_back(UInt8(l >> 8)), out.push_back(UInt8(l));
        out.push_back(UInt8(r >> 8)), out.push_back(UInt8(r));
    }
    return out;
}

} // namespace

TEST_F(PlainCopyPipelineTest, MixToMonoWritesTheTemporaryOutputAndRenames)
{
    MemorySoundFile in(2, 16);
    in.SetData(Stereo16({{1000, 3000}, {-2000, 2000}, {400, 600}}));
    in.SetOpenFlag(true);
    ASSERT_EQ(Run(Conversion(MixToMono), &in), 0);
    EXPECT_EQ(MemoryOutput::lastChannels(), 1);
    EXPECT_FALSE(MemoryOutput::lastFailed());
    const std::vector<UInt8> expected = {0x07, 0xD0, 0x00, 0x00, 0x01, 0xF4};  // 2000, 0, 500
    EXPECT_EQ(MemoryOutput::lastData(), expected);
    EXPECT_EQ(steps_, QList<int>{1});
    EXPECT_EQ(stepTexts_, QStringList{"Copying/format change"});
    EXPECT_EQ(GetCreatedFilesList(), QStringList{".QuillOutFile.aif"});

    QStringList paths;
    EXPECT_EQ(RenameCreatedOutputs(dir_.qpath(), "Song", OutputRenameSettings(), &paths), 0);
    EXPECT_EQ(paths, QStringList{dir_.qpath() + "/Song.aif"});
}

TEST_F(PlainCopyPipelineTest, RoutesGiveTheirChannelCounts)
{
    MemorySoundFile mono(1, 16);
    mono.SetData({0x10, 0x00, 0x20, 0x00});
    ASSERT_EQ(Run(Conversion(ForceInterleavedStereo), &mono), 0);
    EXPECT_EQ(MemoryOutput::lastChannels(), 2);
    EXPECT_EQ(MemoryOutput::lastData(), (std::vector<UInt8>{0x10, 0x00, 0x10, 0x00, 0x20, 0x00, 0x20, 0x00}));
    CreatedFilesListClear();
    QFile::remove(dir_.qpath() + "/.QuillOutFile.aif");

    MemorySoundFile stereo(2, 16);
    stereo.SetData(Stereo16({{1, 2}, {3, 4}}));
    ASSERT_EQ(Run(Conversion(RightOnly), &stereo), 0);
    EXPECT_EQ(MemoryOutput::lastData(), (std::vector<UInt8>{0, 2, 0, 4}));
    CreatedFilesListClear();
    QFile::remove(dir_.qpath() + "/.QuillOutFile.aif");

    // Treatment 6 on a stereo file is a plain copy.
    ASSERT_EQ(Run(Conversion(OnlyStereoToInterleaved), &stereo), 0);
    EXPECT_EQ(MemoryOutput::lastChannels(), 2);
    EXPECT_EQ(MemoryOutput::lastData(), Stereo16({{1, 2}, {3, 4}}));
}

TEST_F(PlainCopyPipelineTest, FailuresAreReportedAndTheOutputClosedAsFailed)
{
    MemorySoundFile in(2, 16);
    in.SetData(Stereo16({{1, 2}}));
    in.readBlockResult = -36;
    EXPECT_EQ(Run(Conversion(NoChannelTreat), &in), -36);
    EXPECT_TRUE(MemoryOutput::lastFailed());
    CreatedFilesListClear();
    QFile::remove(dir_.qpath() + "/.QuillOutFile.aif");

    // A temporary output already there is never overwritten.
    in.readBlockResult = 0;
    QFile f(dir_.qpath() + "/.QuillOutFile.aif");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep");
    f.close();
    EXPECT_EQ(Run(Conversion(NoChannelTreat), &in), dupFNErr);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "keep");

    // No object for the output type.
    ConvSpecRef unknown = Conversion(NoChannelTreat);
    unknown->setOutputFileType(FOUR_CHAR_CODE("Zzzz"));
    EXPECT_EQ(Run(unknown, &in), -22017);

    // Stage sets whose passes are missing refuse.
    ConvSpecRef gain = Conversion(NoChannelTreat);
    gain->setNeedsGain(true);
    EXPECT_EQ(Run(gain, &in), -50);
}
