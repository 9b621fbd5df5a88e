// The resampling, gain, compacting and region-extraction pipelines end to
// end on real AIFF and WAVE files made by sox: frame counts and tone
// frequency after a rate change, the peak after normalising, the 32-bit
// work file of resampling with gain, compacted outputs, one file per region
// in a folder named after the input, and nothing left behind after a
// failure or a cancel.
#include "ConversionTestSupport.h"

#include "ConversionProcess.h"
#include "CSnippetFile.h"
#include "CreatedFilesList.h"
#include "NotificationCenter.h"
#include "OutputNaming.h"
#include "PCMFileTypes.h"
#include "PeerTools.h"
#include "PipelineFrame.h"
#include "PipelineRoutes.h"
#include "SetFileTypes.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"
#include "UserDefaults.h"
#include "progress_channel.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace convtest;

namespace {

const double kMinusOneDB = std::pow(10.0, -1.0 / 20.0);

// What sox reads from a file: channels, rate and the samples as fractions
// of full scale, interleaved.
struct Audio {
    int channels = 0;
    double rate = 0.0;
    std::vector<double> samples;
    size_t frames() const { return channels ? samples.size() / size_t(channels) : 0; }
    double peak() const
    {
        double p = 0.0;
        for (double s : samples)
            p = std::max(p, std::fabs(s));
        return p;
    }
    // The tone's frequency from the rising zero crossings of channel 0.
    double frequency() const
    {
        int first = -1, last = -1, crossings = 0;
        for (size_t i = 1; i < frames(); ++i) {
            if (samples[(i - 1) * channels] < 0.0 && samples[i * channels] >= 0.0) {
                if (first < 0)
                    first = int(i);
                else
                    ++crossings;
                last = int(i);
            }
        }
        return crossings > 0 ? crossings * rate / double(last - first) : 0.0;
    }
};

Audio Read(const QString& path)
{
    Audio a;
    a.channels = SoxInfo(path, "-c").toInt();
    a.rate = SoxInfo(path, "-r").toDouble();
    for (SInt32 v : peers::SoxS32(path.toStdString()))
        a.samples.push_back(v / 2147483648.0);
    EXPECT_FALSE(a.samples.empty()) << path.toStdString();
    return a;
}

class RateGainRegionEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QM_REQUIRE_PEER("sox");
        RegisterPCMFileTypes();
        RegisterSetFileTypes();
        SetPipelinePasses(DefaultPipelinePasses());
        CreatedFilesListClear();
        in_ = dir_.qpath() + "/in";
        out_ = dir_.qpath() + "/out";
        QDir().mkpath(in_);
        QDir().mkpath(out_);
    }
    void TearDown() override { CreatedFilesListClear(); }

    // A sine tone per channel (frequency 1000 Hz + 500 Hz per channel).
    QString MakeTone(const QString& name, int channels, double rate, double seconds, double volume = 0.5)
    {
        return SoxTone(in_ + "/" + name, channels, 16, rate, seconds, 1000, 500, volume);
    }

    static void AddRegion(CSoundFile* f, UInt32 start, UInt32 end, const char* name = "")
    {
        SFTRegion r;
        r.regionID = f->GetNumRegions() + 1;
        r.start = start;
        r.end = end;
        r.name[0] = UInt8(std::strlen(name));
        std::memcpy(r.name + 1, name, r.name[0]);
        ASSERT_EQ(f->AddRegion(&r), noErr);
    }

    static ConvSpecRef Conversion(OSType type, int treatment = NoChannelTreat)
    {
        ConvSpecRef s = PlainConversion(type, treatment == NoChannelTreat ? kNoTreatment : treatment);
        s->setChannelTreat(treatment);  // also when unused: the passes read it
        s->setCopyExtras(true);
        return s;
    }
    static void Rate(const ConvSpecRef& s, double rate)
    {
        s->setNeedsSampleRateConversion(true);
        s->setSampleRate(rate);
    }
    static void Normalize(const ConvSpecRef& s, double ceiling = -1.0)
    {
        s->setNeedsGain(true);
        s->setNeedsNormalize(true);
        s->setCeiling(ceiling);
        s->setNeedsCompressor(false);
        s->setNeedsGate(false);
    }

    SInt16 Run(const ConvSpecRef& s, CSoundFile* in) { return RunConversion(s, in, out_); }

    // Runs and renames the outputs to "Song..."; the one output's path.
    QString ConvertOne(const ConvSpecRef& s, CSoundFile* in)
    {
        EXPECT_EQ(Run(s, in), noErr);
        QStringList paths;
        EXPECT_EQ(RenameCreatedOutputs(out_, "Song", OutputRenameSettings(), &paths), 0);
        EXPECT_EQ(paths.size(), 1) << paths.join(" ").toStdString();
        EXPECT_EQ(FilesBelow(out_).size(), 1) << FilesBelow(out_).join(" ").toStdString();
        return paths.value(0);
    }

    void ClearOutputs()
    {
        QDir(out_).removeRecursively();
        QDir().mkpath(out_);
        CreatedFilesListClear();
    }

    TestTempDir dir_;
    QString in_, out_;
};

} // namespace

// One tone converted: its input, the conversion and what sox reads from the
// output (a zero leaves that value unchecked).
struct ToneCase {
    const char* name;
    const char* input;  // its file name: the extension gives its type
    int channels;
    double inputRate, seconds, volume;
    OSType type;
    int treatment;
    double rate;  // 0: no rate change
    double ceiling;  // 0: no gain
    int outChannels;
    double frames, frameTolerance;
    double frequency, frequencyTolerance;
    double peak, peakTolerance;
};

class ToneConversion : public RateGainRegionEndToEndTest, public ::testing::WithParamInterface<ToneCase> { };

TEST_P(ToneConversion, KeepsDurationPitchAndLevel)
{
    const ToneCase& c = GetParam();
    InputPtr in = OpenInput(MakeTone(c.input, c.channels, c.inputRate, c.seconds, c.volume));
    ASSERT_TRUE(in);
    ConvSpecRef s = Conversion(c.type, c.treatment);
    if (c.rate)
        Rate(s, c.rate);
    if (c.ceiling)
        Normalize(s, c.ceiling);
    const Audio a = Read(ConvertOne(s, in.get()));
    EXPECT_EQ(a.channels, c.outChannels);
    EXPECT_EQ(a.rate, c.rate ? c.rate : c.inputRate);
    EXPECT_NEAR(double(a.frames()), c.frames, c.frameTolerance);
    if (c.frequency) {
        EXPECT_NEAR(a.frequency(), c.frequency, c.frequencyTolerance);
    }
    if (c.peak) {
        EXPECT_NEAR(a.peak(), c.peak, c.peakTolerance);
    }
}

// Resampling keeps duration and pitch (48 kHz to 16 kHz mono is the speech
// conversion's shape); normalising reaches the ceiling, also while widening
// mono to stereo; resampling with gain goes through the 32-bit work file,
// which never stays (ConvertOne sees one file only).
INSTANTIATE_TEST_SUITE_P(RateGainRegionEndToEndTest, ToneConversion,
    ::testing::Values(ToneCase{"Up", "stereo.aif", 2, 44100, 1.0, 0.5, kAIFF, NoChannelTreat, 48000, 0, 2, 48000, 2,
                          1000, 2, 0.5, 0.02},
        ToneCase{
            "DownMono", "high.wav", 1, 48000, 1.0, 0.5, kWAVE, NoChannelTreat, 16000, 0, 1, 16000, 2, 1000, 2, 0, 0},
        ToneCase{"DownMixed", "high.wav", 1, 48000, 1.0, 0.5, kWAVE, MixToMono, 16000, 0, 1, 16000, 2, 1000, 2, 0, 0},
        ToneCase{"DownLeft", "stereo48.wav", 2, 48000, 1.0, 0.5, kWAVE, LeftOnly, 16000, 0, 1, 16000, 2, 1000, 2, 0, 0},
        ToneCase{
            "DownRight", "stereo48.wav", 2, 48000, 1.0, 0.5, kWAVE, RightOnly, 16000, 0, 1, 16000, 2, 1500, 3, 0, 0},
        ToneCase{"Normalised", "quiet.aif", 2, 44100, 0.5, 0.2, kAIFF, NoChannelTreat, 0, -1, 2, 22050, 0, 1000, 2,
            kMinusOneDB, 2.0 / 32768},
        ToneCase{"NormalisedWidened", "mono.wav", 1, 44100, 0.5, 0.3, kWAVE, ForceInterleavedStereo, 0, -6, 2, 22050, 0,
            0, 0, std::pow(10.0, -6.0 / 20.0), 2.0 / 32768},
        ToneCase{"RateGain", "stereo.wav", 2, 44100, 1.0, 0.25, kAIFF, NoChannelTreat, 22050, -1, 2, 22050, 2, 1000, 2,
            kMinusOneDB, 3.0 / 32768},
        ToneCase{"RateGainMixed", "stereo.wav", 2, 44100, 1.0, 0.25, kAIFF, MixToMono, 22050, -1, 1, 22050, 2, 0, 0,
            kMinusOneDB, 3.0 / 32768},
        ToneCase{"RateGainStereoKept", "stereo.wav", 2, 44100, 1.0, 0.25, kAIFF, OnlyStereoToInterleaved, 22050, -1, 2,
            22050, 2, 1000, 2, kMinusOneDB, 3.0 / 32768},
        ToneCase{"RateGainWidened", "mono.aif", 1, 44100, 1.0, 0.25, kWAVE, ForceInterleavedStereo, 48000, -1, 2, 48000,
            2, 0, 0, kMinusOneDB, 3.0 / 32768}),
    [](const ::testing::TestParamInfo<ToneCase>& info) { return std::string(info.param.name); });

TEST_F(RateGainRegionEndToEndTest, CompactingKeepsTheRegionsAndTheirMargins)
{
    // 100000 frames at 44100 Hz: a margin of 44 frames, groups at most 88
    // frames apart merge.
    InputPtr in = OpenInput(MakeTone("long.aif", 1, 44100, 100000.0 / 44100.0));
    ASSERT_TRUE(in);
    ASSERT_EQ(in->GetNumFrames(), 100000u);
    ConvSpecRef compact = Conversion(kAIFF);
    compact->setNeedsStrip(true);
    EXPECT_EQ(Run(compact, in.get()), -20000);
    EXPECT_TRUE(FilesBelow(out_).isEmpty());
    CreatedFilesListClear();

    AddRegion(in.get(), 1000, 2000, "a");
    AddRegion(in.get(), 2050, 3000, "b");
    AddRegion(in.get(), 10000, 12000, "c");
    AddRegion(in.get(), 99990, 100000, "d");
    Audio a = Read(ConvertOne(compact, in.get()));
    EXPECT_EQ(a.frames(), 4230u);
    ClearOutputs();

    // With a rate change the stretches are resampled back to back.
    ConvSpecRef half = Conversion(kWAVE);
    half->setNeedsStrip(true);
    Rate(half, 22050);
    a = Read(ConvertOne(half, in.get()));
    EXPECT_NEAR(double(a.frames()), 4230.0 / 2, 4.0);
    EXPECT_EQ(a.rate, 22050);
    ClearOutputs();

    // Compacting, resampling and gain: mono work file, no work file left.
    InputPtr stereo = OpenInput(MakeTone("stereo.wav", 2, 44100, 1.0, 0.25));
    ASSERT_TRUE(stereo);
    AddRegion(stereo.get(), 4410, 8820);
    AddRegion(stereo.get(), 30000, 34410);
    ConvSpecRef all = Conversion(kAIFF, MixToMono);
    all->setNeedsStrip(true);
    Rate(all, 22050);
    Normalize(all);
    a = Read(ConvertOne(all, stereo.get()));
    EXPECT_EQ(a.channels, 1);
    EXPECT_NEAR(double(a.frames()), (4410 + 88 + 4410 + 88) / 2.0, 4.0);
    EXPECT_NEAR(a.peak(), kMinusOneDB, 3.0 / 32768);
}

TEST_F(RateGainRegionEndToEndTest, EachRegionBecomesAFileInAFolderNamedAfterTheInput)
{
    InputPtr in = OpenInput(MakeTone("song.aif", 2, 44100, 1.0));
    ASSERT_TRUE(in);
    ConvSpecRef extract = Conversion(kAIFF);
    extract->setNeedsExtraction(true);
    EXPECT_EQ(Run(extract, in.get()), -20000);
    EXPECT_TRUE(QDir(out_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());

    AddRegion(in.get(), 0, 10000, "Intro");
    AddRegion(in.get(), 5000, 20000, "Verse 2.1");
    AddRegion(in.get(), 30000, 44100, "Out/ro");

    std::vector<int> regionIndexes;
    const NotificationCenter::Token token = NotificationCenter::defaultCenter().addObserver(
        kProgressRegionNotification, nullptr, [&](const Notification& n) {
            const QVariantList v = n.object.toList();
            if (v.size() == 5) {
                regionIndexes.push_back(v[3].toInt());
                EXPECT_EQ(v[4].toInt(), 3);
            }
        });
    ASSERT_EQ(Run(extract, in.get()), noErr);
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(regionIndexes, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(FilesBelow(out_), (QStringList{"Song/Intro.aif", "Song/Out:ro.aif", "Song/Verse 2.1.aif"}));
    // Written under their final names: renaming leaves them as they are.
    EXPECT_EQ(RenameCreatedOutputs(out_, "Other", OutputRenameSettings(), nullptr), 0);
    const Audio whole = Read(in_ + "/song.aif");
    Audio a = Read(out_ + "/Song/Verse 2.1.aif");
    EXPECT_EQ(a.frames(), 15000u);
    ASSERT_EQ(a.samples.size(), 30000u);
    EXPECT_EQ(a.samples[0], whole.samples[2 * 5000]);
    EXPECT_EQ(a.samples.back(), whole.samples[2 * 20000 - 1]);
    EXPECT_EQ(Read(out_ + "/Song/Intro.aif").frames(), 10000u);
    EXPECT_EQ(Read(out_ + "/Song/Out:ro.aif").frames(), 14100u);

    // A second extraction of the same input finds its folder taken.
    CreatedFilesListClear();
    EXPECT_EQ(Run(extract, in.get()), -48);
    EXPECT_EQ(FilesBelow(out_).size(), 3);
    ClearOutputs();

    // Split into pairs, named after the whole region name.
    ConvSpecRef split = Conversion(kWAVE, SplitChannels);
    split->setNeedsExtraction(true);
    ASSERT_EQ(Run(split, in.get()), noErr);
    EXPECT_EQ(FilesBelow(out_),
        (QStringList{"Song/Intro.L.wav", "Song/Intro.R.wav", "Song/Out:ro.L.wav", "Song/Out:ro.R.wav",
            "Song/Verse 2.1.L.wav", "Song/Verse 2.1.R.wav"}));
    EXPECT_NEAR(Read(out_ + "/Song/Verse 2.1.R.wav").frequency(), 1500.0, 3.0);
    ClearOutputs();

    // Resampled regions.
    ConvSpecRef rate = Conversion(kAIFF, MixToMono);
    rate->setNeedsExtraction(true);
    Rate(rate, 22050);
    ASSERT_EQ(Run(rate, in.get()), noErr);
    a = Read(out_ + "/Song/Verse 2.1.aif");
    EXPECT_EQ(a.channels, 1);
    EXPECT_EQ(a.rate, 22050);
    EXPECT_NEAR(double(a.frames()), 7500.0, 2.0);
}

// A snip window keeps the regions that lie in it, cut to it: extraction
// and compacting work on them.
TEST_F(RateGainRegionEndToEndTest, ASnipWindowKeepsItsRegions)
{
    InputPtr in = OpenInput(MakeTone("song.aif", 2, 44100, 1.0));
    ASSERT_TRUE(in);
    AddRegion(in.get(), 0, 10000, "Intro");
    AddRegion(in.get(), 5000, 20000, "Verse");
    AddRegion(in.get(), 30000, 44100, "Outro");
    CSnippetFile snippet;
    snippet.SetInnerFile(in.get(), false);
    ASSERT_EQ(snippet.Open(), noErr);
    ASSERT_EQ(snippet.SetWindow(5000, 25000), noErr);

    ConvSpecRef extract = Conversion(kAIFF);
    extract->setNeedsExtraction(true);
    ASSERT_EQ(Run(extract, &snippet), noErr);
    EXPECT_EQ(FilesBelow(out_), (QStringList{"Song/Intro.aif", "Song/Verse.aif"}));
    EXPECT_EQ(Read(out_ + "/Song/Intro.aif").frames(), 5000u);
    EXPECT_EQ(Read(out_ + "/Song/Verse.aif").frames(), 15000u);
    ClearOutputs();

    // One block from the window's start, widened by 1 ms at its end.
    ConvSpecRef compact = Conversion(kAIFF);
    compact->setNeedsStrip(true);
    EXPECT_EQ(Read(ConvertOne(compact, &snippet)).frames(), 15044u);
    snippet.SetInnerFile(nullptr);
}

TEST_F(RateGainRegionEndToEndTest, ExtractedRegionsShareOneGain)
{
    // A loud second and a quiet second, one region each.
    const QString loud = MakeTone("loud.wav", 2, 44100, 1.0, 0.5);
    const QString quiet = MakeTone("quiet.wav", 2, 44100, 1.0, 0.125);
    SOX(loud, quiet, in_ + "/both.wav");
    InputPtr in = OpenInput(in_ + "/both.wav");
    ASSERT_TRUE(in);
    AddRegion(in.get(), 0, 44100, "Loud");
    AddRegion(in.get(), 44100, 88200, "Quiet");

    for (bool resample : {false, true}) {
        SCOPED_TRACE(resample);
        ConvSpecRef s = Conversion(kWAVE);
        s->setNeedsExtraction(true);
        Normalize(s);
        if (resample)
            Rate(s, 48000);
        ASSERT_EQ(Run(s, in.get()), noErr);
        EXPECT_EQ(FilesBelow(out_), (QStringList{"Song/Loud.wav", "Song/Quiet.wav"}));
        const Audio l = Read(out_ + "/Song/Loud.wav");
        const Audio q = Read(out_ + "/Song/Quiet.wav");
        EXPECT_NEAR(l.peak(), kMinusOneDB, 3.0 / 32768);
        EXPECT_NEAR(q.peak(), kMinusOneDB / 4, 3.0 / 32768);
        EXPECT_EQ(l.rate, resample ? 48000 : 44100);
        EXPECT_NEAR(double(q.frames()), resample ? 48000.0 : 44100.0, 2.0);
        ClearOutputs();
    }
}

// A batch that fails or is cancelled while extracting or compacting leaves
// no output file and no work file behind.
TEST_F(RateGainRegionEndToEndTest, FailuresAndCancelsLeaveNothingBehind)
{
    const QString input = MakeTone("take.wav", 2, 44100, 3.0);
    SetProcessFileIfNoRegions(true);
    UserDefaults defaults(QString::fromStdString(dir_.file("defaults.plist")));
    ConversionProcess::Environment env;
    env.defaults = &defaults;

    struct Case {
        const char* name;
        bool extract, strip, rate, gain;
    };
    for (const Case c : {Case{"Extract", true, false, false, false}, Case{"ExtractRateGain", true, false, true, true},
                         Case{"CompactRateGain", false, true, true, true}, Case{"RateGain", false, false, true, true}}) {
        SCOPED_TRACE(c.name);
        ConversionProcess process(env);
        ConvSpecRef conv = Conversion(kAIFF, MixToMono);
        conv->setConversionName(c.name);
        conv->setNeedsExtraction(c.extract);
        conv->setNeedsStrip(c.strip);
        if (c.rate)
            Rate(conv, 22050);
        if (c.gain)
            Normalize(conv);
        QDir().mkpath(out_ + "/" + c.name);

        ASSERT_TRUE(StopAtFirstPosition(process, {input}, {conv}, out_));
        EXPECT_EQ(process.err(), -128);
        EXPECT_EQ(FilesBelow(out_ + "/" + c.name), QStringList()) << FilesBelow(out_).join(" ").toStdString();
    }
    SetProcessFileIfNoRegions(false);

    // A failing region: the folder of the input's name is taken by a file.
    ConversionProcess process(env);
    ConvSpecRef conv = Conversion(kAIFF);
    conv->setConversionName("Taken");
    conv->setNeedsExtraction(true);
    Rate(conv, 22050);
    Normalize(conv);
    QDir().mkpath(out_ + "/Taken");
    QFile taken(out_ + "/Taken/take");
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.close();
    SetProcessFileIfNoRegions(true);
    ASSERT_TRUE(process.start({input}, {conv}, out_));
    ASSERT_TRUE(process.waitUntilDone(60000));
    SetProcessFileIfNoRegions(false);
    EXPECT_EQ(process.err(), -48);
    EXPECT_EQ(FilesBelow(out_ + "/Taken"), QStringList{"take"}) << FilesBelow(out_).join(" ").toStdString();
}

// The step texts of extraction, and the refusals: a missing pass (-50) and
// a treatment the input's channels do not allow, both before any folder.
TEST_F(RateGainRegionEndToEndTest, ExtractionStepsAndRefusals)
{
    InputPtr in = OpenInput(MakeTone("song.wav", 2, 44100, 0.5));
    ASSERT_TRUE(in);
    AddRegion(in.get(), 0, 1000, "One");
    AddRegion(in.get(), 2000, 3000, "Two");

    ConvSpecRef kept = Conversion(kAIFF);
    ConvSpecRef mix = Conversion(kAIFF, MixToMono);
    ConvSpecRef gain = Conversion(kAIFF, LeftOnly);
    Normalize(gain);
    const std::pair<ConvSpecRef, QStringList> cases[] = {
        {kept, QStringList(3, "Copying/format change")},
        {mix, QStringList(3, "Extracting regions")},
        {gain, {"Scanning file", "Dynamics/gain processing", "Dynamics/gain processing", "Dynamics/gain processing"}},
    };
    for (const auto& [conversion, steps] : cases) {
        conversion->setNeedsExtraction(true);
        ProgressRecord progress;
        ASSERT_EQ(Run(conversion, in.get()), noErr);
        EXPECT_EQ(progress.texts, steps);
        ClearOutputs();
    }

    SetPipelinePasses(PipelinePassTable());
    EXPECT_EQ(Run(gain, in.get()), -50);
    SetPipelinePasses(DefaultPipelinePasses());
    EXPECT_TRUE(QDir(out_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());

    const QString whole = MakeTone("six.wav", 6, 44100, 0.1);
    InputPtr set = OpenSurroundSplit(whole, in_ + "/six");
    ASSERT_TRUE(set);
    AddRegion(set.get(), 0, 100, "Hit");
    EXPECT_EQ(Run(mix, set.get()), kIncompatibleChannelsErr);
    EXPECT_TRUE(QDir(out_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    // Treatment 0 gives a surround set per region, named after the region.
    ASSERT_EQ(Run(kept, set.get()), noErr);
    EXPECT_EQ(FilesBelow(out_), SurroundNames("Song/Hit", ".aif"));
}
