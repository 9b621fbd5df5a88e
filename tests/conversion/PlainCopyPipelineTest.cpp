// The plain-copy pipelines end to end on an in-memory output type: the
// output is made under the temporary name, gets the route's channels, is
// listed for renaming, and a failing pass or a missing type is reported.
#include "ConversionTestSupport.h"
#include "MemorySoundFile.h"

#include "CConvSpec.h"
#include "CreatedFilesList.h"
#include "FileOperations.h"
#include "NotificationCenter.h"
#include "OutputNaming.h"
#include "PipelineFrame.h"
#include "PipelineSelector.h"
#include "SetFileTypes.h"
#include "SoundFileRegistry.h"
#include "TestTempDir.h"
#include "conversion_pass_settings.h"
#include "progress_channel.h"

#include <QDir>
#include <QRegularExpression>
#include <QFile>

#include <gtest/gtest.h>

using namespace convtest;

namespace {

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
    static double& lastRate()
    {
        static double rate = 0.0;
        return rate;
    }
    static bool& lastFailed()
    {
        static bool failed = false;
        return failed;
    }
    // The context of every output created, in order.
    static std::vector<OutputContext>& contexts()
    {
        static std::vector<OutputContext> made;
        return made;
    }

    OSType GetFileType() const override { return kAIFF; }
    OSErr Create(UInt16 channels, SInt16 bits, UInt32 reserved, const UInt8* specifics, ConstStr255Param extension,
                 float rate) override
    {
        OSErr err = CSoundFile::Create(channels, bits, reserved, specifics, extension, rate);
        if (err)
            return err;
        SetShape(channels, bits, rate);
        if (GetFileType() == kAIFF)
            contexts().push_back(GetOutputContext());
        err = CreateFileExclusive(GetPath());
        m_isOpen = err == noErr;
        return err;
    }
    OSErr Close() override
    {
        lastData() = data;
        lastChannels() = GetNumChannels();
        lastRate() = GetSampleRate();
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
        progress_ = std::make_unique<ProgressRecord>();
    }
    void TearDown() override
    {
        progress_.reset();
        UnregisterSoundFileFactory(kAIFF);
        CreatedFilesListClear();
    }

    static ConvSpecRef Conversion(int treatment) { return PlainConversion(kAIFF, treatment); }
    SInt16 Run(const ConvSpecRef& s, CSoundFile* in) { return RunConversion(s, in, dir_.qpath()); }

    // The temporary outputs in the folder.
    QStringList TempOutputs() const
    {
        return QDir(dir_.qpath()).entryList({".QuillOutFile*"}, QDir::Files | QDir::Hidden, QDir::Name);
    }
    void ClearOutputs()
    {
        for (const QString& name : TempOutputs())
            QFile::remove(dir_.qpath() + "/" + name);
        CreatedFilesListClear();
    }

    TestTempDir dir_;
    std::unique_ptr<ProgressRecord> progress_;
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

}  // namespace

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
    EXPECT_EQ(progress_->steps, QList<int>{1});
    EXPECT_EQ(progress_->texts, QStringList{"Copying/format change"});
    ASSERT_EQ(GetCreatedFilesList().size(), 1);
    EXPECT_TRUE(QRegularExpression("^\\.QuillOutFile-[A-Za-z0-9]{6}\\.aif$").match(GetCreatedFilesList()[0]).hasMatch())
        << GetCreatedFilesList()[0].toStdString();
    EXPECT_EQ(TempOutputs(), GetCreatedFilesList());

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
    ClearOutputs();

    MemorySoundFile stereo(2, 16);
    stereo.SetData(Stereo16({{1, 2}, {3, 4}}));
    ASSERT_EQ(Run(Conversion(RightOnly), &stereo), 0);
    EXPECT_EQ(MemoryOutput::lastData(), (std::vector<UInt8>{0, 2, 0, 4}));
    ClearOutputs();

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
    ClearOutputs();

    // A temporary output left by an earlier run neither blocks the
    // conversion nor is touched by it.
    in.readBlockResult = 0;
    QFile f(dir_.qpath() + "/.QuillOutFile.aif");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep");
    f.close();
    EXPECT_EQ(Run(Conversion(NoChannelTreat), &in), 0);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "keep");
    f.close();
    EXPECT_EQ(TempOutputs().size(), 2);
    ClearOutputs();

    // No object for the output type.
    ConvSpecRef unknown = Conversion(NoChannelTreat);
    unknown->setOutputFileType(FOUR_CHAR_CODE("Zzzz"));
    EXPECT_EQ(Run(unknown, &in), -22017);

    // Stage sets whose passes are missing refuse.
    SetPipelinePasses(PipelinePassTable());
    ConvSpecRef gain = Conversion(NoChannelTreat);
    gain->setNeedsGain(true);
    EXPECT_EQ(Run(gain, &in), -50);
    SetPipelinePasses(DefaultPipelinePasses());
}

TEST_F(PlainCopyPipelineTest, CompactingKeepsTheRegionsWithTheirMargins)
{
    ConvSpecRef compact = Conversion(NoChannelTreat);
    compact->setNeedsStrip(true);
    MemorySoundFile bare(1, 16);
    bare.SetData(std::vector<UInt8>(2000, 0));
    EXPECT_EQ(Run(compact, &bare), -20000);
    EXPECT_TRUE(GetCreatedFilesList().isEmpty());
    EXPECT_TRUE(TempOutputs().isEmpty());

    MemorySoundFile in(1, 16);
    std::vector<UInt8> data(2000);
    for (std::size_t i = 0; i < data.size(); i += 2)
        data[i + 1] = UInt8(i / 2);  // frame n holds n & 0xFF
    in.SetData(data);
    SFTRegion region;
    region.start = 500;
    region.end = 600;
    ASSERT_EQ(in.AddRegion(&region), noErr);
    ASSERT_EQ(Run(compact, &in), 0);
    EXPECT_EQ(progress_->texts, QStringList{"Compacting audio file"});
    // One millisecond (44 frames) on each side: frames 456 to 643.
    ASSERT_EQ(MemoryOutput::lastData().size(), 188u * 2);
    EXPECT_EQ(MemoryOutput::lastData()[1], UInt8(456 & 0xFF));
    EXPECT_EQ(MemoryOutput::lastData()[187 * 2 + 1], UInt8(643 & 0xFF));

    // The channel-kind switch comes first: no route, whatever the regions.
    ConvSpecRef mix = Conversion(MixToMono);
    mix->setNeedsStrip(true);
    CreatedFilesListClear();
    MemorySoundFile five(5, 16);
    five.SetData(std::vector<UInt8>(50, 0));
    EXPECT_EQ(Run(mix, &five), -22100);  // a down-mix takes two channels
}

TEST_F(PlainCopyPipelineTest, SetOutputsAreNamedPerMemberAndNumberedTogether)
{
    RegisterSetFileTypes();
    MemorySoundFile stereo(2, 16);
    stereo.SetData(Stereo16({{1, 2}, {3, 4}}));
    ASSERT_EQ(Run(Conversion(SplitChannels), &stereo), 0);
    EXPECT_EQ(MemoryOutput::lastChannels(), 1);
    const QStringList pair = TempOutputs();
    ASSERT_EQ(pair.size(), 2);
    EXPECT_TRUE(pair[0].endsWith(".L.aif") && pair[1].endsWith(".R.aif")) << pair.join(' ').toStdString();
    EXPECT_EQ(pair[0].chopped(6), pair[1].chopped(6));

    QFile taken(dir_.qpath() + "/Song.L.aif");
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.close();
    OutputRenameSettings numbering;
    numbering.numberDuplicates = true;
    QStringList paths;
    EXPECT_EQ(RenameCreatedOutputs(dir_.qpath(), "Song", numbering, &paths), 0);
    EXPECT_EQ(paths, (QStringList{dir_.qpath() + "/Song-1.L.aif", dir_.qpath() + "/Song-1.R.aif"}));

    // A six-channel 5.1 file split into a surround set: every member starts
    // with the temporary word and a dot.
    MemorySoundFile six(6, 16);
    six.SetChannelConfiguration(kChannelConfig5_1);
    six.SetData(std::vector<UInt8>(6 * 2 * 3, 0));
    ASSERT_EQ(Run(Conversion(SplitChannels), &six), 0);
    QStringList members;
    for (const QString& entry : GetCreatedFilesList()) {
        if (QFile::exists(dir_.qpath() + "/" + entry))
            members << entry;
    }
    EXPECT_EQ(members.size(), 6);
    for (const QString& m : members)
        EXPECT_TRUE(QRegularExpression("^\\.QuillOutFile-[A-Za-z0-9]{6}\\.").match(m).hasMatch()) << m.toStdString();
    EXPECT_EQ(RenameCreatedOutputs(dir_.qpath(), "Take", numbering, &paths), 0);
    EXPECT_EQ(paths.size(), 6);
    for (const QString& p : paths)
        EXPECT_TRUE(p.startsWith(dir_.qpath() + "/Take.")) << p.toStdString();
}

namespace {

// Stand-ins for the resampling, scanning and gain kernels: they copy (the
// variant's channel treatment applied) and note what they saw.
QStringList& PassLog()
{
    static QStringList log;
    return log;
}
SInt32 gScanResult = 0;
SInt32 gGainResult = 0;

template <int Variant>
SInt32 FakeCopy(const char* what, CSoundFile* src, CSoundFile* dst, CConvSpec* spec)
{
    PassLog() << QStringLiteral("%1%2 %3->%4").arg(what).arg(Variant).arg(src->GetNumChannels()).arg(
        dst->GetNumChannels());
    const SampleCopySettings s = SampleCopySettingsFrom(*spec);
    switch (Variant) {
    case 1: return ConvertSampleFormatAllMonoToStereo(src, dst, s);
    case 2: return ConvertSampleFormatAllMixToMono(src, dst, s);
    case 3: return ConvertSampleFormatAllLeft(src, dst, s);
    case 4: return ConvertSampleFormatAllRight(src, dst, s);
    default: return ConvertSampleFormatAll(src, dst, s);
    }
}
template <int V>
SInt32 FakeResample(CSoundFile* src, CSoundFile* dst, CConvSpec* spec)
{
    return FakeCopy<V>("resample", src, dst, spec);
}
template <int V>
SInt32 FakeGain(CSoundFile* src, CSoundFile* dst, CConvSpec* spec)
{
    if (gGainResult)
        return gGainResult;
    return FakeCopy<V>("gain", src, dst, spec);
}
SInt32 FakeScan(CSoundFile* src, CConvSpec*)
{
    PassLog() << QStringLiteral("scan %1 bits %2").arg(src->GetNumChannels()).arg(src->GetNumBits());
    return gScanResult;
}

class WorkOutput : public MemoryOutput {
public:
    OSType GetFileType() const override { return FOUR_CHAR_CODE("Temp"); }
    OSErr Close() override { return MemorySoundFile::Close(); }
};
CSoundFile* MakeWorkOutput()
{
    return new WorkOutput;
}

class RateAndGainPipelineTest : public PlainCopyPipelineTest {
protected:
    void SetUp() override
    {
        PlainCopyPipelineTest::SetUp();
        RegisterSoundFileFactory(FOUR_CHAR_CODE("Temp"), &MakeWorkOutput);
        PipelinePassTable table;
        for (int strip = 0; strip < 2; ++strip) {
            PipelinePass resample[] = {&FakeResample<0>, &FakeResample<1>, &FakeResample<2>, &FakeResample<3>,
                                       &FakeResample<4>};
            PipelinePass gain[] = {&FakeGain<0>, &FakeGain<1>, &FakeGain<2>, &FakeGain<3>, &FakeGain<4>};
            for (int v = 0; v < kNumPassVariants; ++v) {
                table.resample[strip][v] = resample[v];
                table.gain[strip][v] = gain[v];
            }
        }
        table.scan = &FakeScan;
        SetPipelinePasses(table);
        PassLog().clear();
        gScanResult = 0;
        gGainResult = 0;
    }
    void TearDown() override
    {
        SetPipelinePasses(DefaultPipelinePasses());
        UnregisterSoundFileFactory(FOUR_CHAR_CODE("Temp"));
        PlainCopyPipelineTest::TearDown();
    }
    ConvSpecRef RateAndGain(int treatment)
    {
        ConvSpecRef s = Conversion(treatment);
        s->setNeedsSampleRateConversion(true);
        s->setSampleRate(22050.0);
        s->setNeedsGain(true);
        return s;
    }
    bool WorkFileLeft() const
    {
        for (const QString& name : QDir(dir_.qpath()).entryList(QDir::Files | QDir::Hidden)) {
            if (name.contains("TempFile"))
                return true;
        }
        return false;
    }
};

} // namespace

TEST_F(RateAndGainPipelineTest, OneChannelTreatmentsResampleIntoAOneChannelWorkFile)
{
    MemorySoundFile stereo(2, 16);
    stereo.SetData(Stereo16({{100, 300}, {500, 700}}));
    ASSERT_EQ(Run(RateAndGain(MixToMono), &stereo), 0);
    EXPECT_EQ(PassLog(), (QStringList{"resample2 2->1", "scan 1 bits 32", "gain0 1->1"}));
    EXPECT_EQ(progress_->steps, QList<int>{3});
    EXPECT_EQ(progress_->texts, (QStringList{"Sample rate conversion", "Scanning file", "Dynamics/gain processing"}));
    EXPECT_EQ(MemoryOutput::lastData(), (std::vector<UInt8>{0x00, 200, 0x02, 0x58}));  // 200, 600
    EXPECT_FALSE(WorkFileLeft());

    // A mono input widened to stereo: the work file stays mono.
    PassLog().clear();
    ClearOutputs();
    MemorySoundFile mono(1, 16);
    mono.SetData({0x01, 0x00});
    ASSERT_EQ(Run(RateAndGain(ForceInterleavedStereo), &mono), 0);
    EXPECT_EQ(PassLog(), (QStringList{"resample0 1->1", "scan 1 bits 32", "gain1 1->2"}));
    EXPECT_EQ(MemoryOutput::lastChannels(), 2);
    EXPECT_FALSE(WorkFileLeft());
}

TEST_F(RateAndGainPipelineTest, FailuresEndThePipelineAndRemoveTheWorkFile)
{
    MemorySoundFile stereo(2, 16);
    stereo.SetData(Stereo16({{1, 2}}));

    // A failing scan of a gain conversion creates no output at all.
    ConvSpecRef gain = Conversion(NoChannelTreat);
    gain->setNeedsGain(true);
    gScanResult = -36;
    EXPECT_EQ(Run(gain, &stereo), -36);
    EXPECT_TRUE(GetCreatedFilesList().isEmpty());
    EXPECT_TRUE(TempOutputs().isEmpty());

    // A cancel in the gain pass: the output is closed as failed, the work
    // file removed.
    gScanResult = 0;
    gGainResult = -128;
    EXPECT_EQ(Run(RateAndGain(NoChannelTreat), &stereo), -128);
    EXPECT_TRUE(MemoryOutput::lastFailed());
    EXPECT_FALSE(WorkFileLeft());

    // Whole-file gain without rate change reads the input itself.
    gGainResult = 0;
    PassLog().clear();
    ClearOutputs();
    ConvSpecRef right = Conversion(RightOnly);
    right->setNeedsGain(true);
    ASSERT_EQ(Run(right, &stereo), 0);
    EXPECT_EQ(PassLog(), (QStringList{"scan 2 bits 16", "gain4 2->1"}));
}

TEST_F(RateAndGainPipelineTest, ResamplingWritesAtTheConversionsRate)
{
    MemorySoundFile stereo(2, 16);
    stereo.SetData(Stereo16({{1, 2}, {3, 4}, {5, 6}}));
    ConvSpecRef rate = Conversion(LeftOnly);
    rate->setNeedsSampleRateConversion(true);
    rate->setSampleRate(22050.0);
    ASSERT_EQ(Run(rate, &stereo), 0);
    EXPECT_EQ(PassLog(), QStringList{"resample3 2->1"});
    EXPECT_EQ(MemoryOutput::lastRate(), 22050.0);
    EXPECT_EQ(progress_->frames, QList<qint64>{3});
    EXPECT_EQ(progress_->texts, QStringList{"Sample rate conversion"});

    // At the target rate already: a plain copy.
    PassLog().clear();
    ClearOutputs();
    rate->setSampleRate(44100.0);
    ASSERT_EQ(Run(rate, &stereo), 0);
    EXPECT_TRUE(PassLog().isEmpty());
    EXPECT_EQ(MemoryOutput::lastData(), (std::vector<UInt8>{0, 1, 0, 3, 0, 5}));
}

// Every output a pipeline makes, each member of a set too, is made with the
// conversion's context for the input and published under the input's name;
// region files are written under their own names.
TEST_F(RateAndGainPipelineTest, EveryOutputIsMadeWithTheInputsContext)
{
    RegisterSetFileTypes();
    struct Case {
        const char* name;
        int treatment;
        bool resample;
        bool gain;
        bool extract;
    };
    const Case cases[] = {
        {"copy", NoChannelTreat, false, false, false},     {"split copy", SplitChannels, false, false, false},
        {"rate", MixToMono, true, false, false},           {"split gain", SplitChannels, false, true, false},
        {"rate and gain", NoChannelTreat, true, true, false}, {"regions", NoChannelTreat, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConvSpecRef spec = Conversion(c.treatment);
        spec->setNeedsSampleRateConversion(c.resample);
        spec->setSampleRate(22050.0);
        spec->setNeedsGain(c.gain);
        spec->setNeedsExtraction(c.extract);
        MemorySoundFile stereo(2, 16);
        stereo.SetData(Stereo16({{1, 2}, {3, 4}}));
        SFTRegion region;
        region.end = 2;
        ASSERT_EQ(stereo.AddRegion(&region), noErr);

        FSSpec folder;
        folder.parent = dir_.path();
        CConvSpec run(spec, &folder, nullptr, QStringLiteral("Song"));
        OutputContext context;
        context.specifics = QVariantMap{{QStringLiteral("Marker"), QString::fromLatin1(c.name)}};
        context.inputPath = QStringLiteral("/in/Song.wav");
        run.SetOutputContext(context);
        MemoryOutput::contexts().clear();
        ASSERT_EQ(run.Run(&stereo), 0);
        EXPECT_EQ(MemoryOutput::contexts().size(), c.treatment == SplitChannels ? 2u : 1u);
        for (const OutputContext& made : MemoryOutput::contexts()) {
            EXPECT_EQ(made.specifics, context.specifics);
            EXPECT_EQ(made.inputPath, context.inputPath);
            EXPECT_EQ(made.baseName, c.extract ? "" : "Song");
        }
        ClearOutputs();
    }
}
