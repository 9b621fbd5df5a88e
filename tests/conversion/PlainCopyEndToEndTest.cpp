// The plain-copy pipelines end to end on real AIFF and WAVE files made by
// sox: every channel treatment on mono, stereo, 5.1, split stereo and
// surround inputs, word-length changes with and without dither, split and
// surround outputs, the refusal of a treatment that does not fit the input,
// and a cancelled batch that leaves nothing behind.  The samples we write
// are compared with what sox makes of the same input.
#include "ConversionTestSupport.h"

#include "ConversionProcess.h"
#include "CreatedFilesList.h"
#include "DitherTable.h"
#include "format_type_codes.h"
#include "OutputNaming.h"
#include "PCMFileTypes.h"
#include "PeerTools.h"
#include "PipelineRoutes.h"
#include "SetFileTypes.h"
#include "TestTempDir.h"
#include "UserDefaults.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

using namespace convtest;

namespace {

// Every sample of a file as sox reads it, at 32-bit scale, interleaved.
std::vector<SInt32> Samples(const QString& path)
{
    return peers::SoxS32(path.toStdString());
}

// Largest difference of two sample sequences at 32-bit scale; -1 when their
// lengths differ or both are empty.
SInt64 MaxDifference(const std::vector<SInt32>& a, const std::vector<SInt32>& b)
{
    if (a.size() != b.size() || a.empty())
        return -1;
    SInt64 worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        worst = std::max<SInt64>(worst, std::llabs(SInt64(a[i]) - SInt64(b[i])));
    return worst;
}

constexpr SInt64 kOneLSB16 = 65536;

class PlainCopyEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QM_REQUIRE_PEER("sox");
        RegisterPCMFileTypes();
        RegisterSetFileTypes();
        CreatedFilesListClear();
        in_ = dir_.qpath() + "/in";
        out_ = dir_.qpath() + "/out";
        exp_ = dir_.qpath() + "/expected";
        for (const QString& d : {in_, out_, exp_})
            QDir().mkpath(d);
    }
    void TearDown() override { CreatedFilesListClear(); }

    // A tone of `channels` channels, each its own frequency.
    QString MakeTone(const QString& name, int channels, int bits, double seconds = 0.3)
    {
        return SoxTone(in_ + "/" + name, channels, bits, 44100, seconds, 300, 210, 0.8);
    }

    static ConvSpecRef Conversion(OSType type, int treatment, int bits = 0, bool dither = false)
    {
        ConvSpecRef s = PlainConversion(type, treatment);
        s->setNeedsNewWordLength(bits != 0);
        if (bits)
            s->setWordLength(bits);
        s->setNeedsRedither(dither);
        return s;
    }

    SInt16 Run(const ConvSpecRef& s, CSoundFile* in) { return RunConversion(s, in, out_); }

    QStringList Files() const { return FilesBelow(out_); }

    // Runs the conversion and renames its outputs to "Song..."; the final
    // names, sorted.
    QStringList Convert(const ConvSpecRef& s, CSoundFile* in)
    {
        const SInt16 err = Run(s, in);
        EXPECT_EQ(err, noErr);
        if (err)
            return {};
        QStringList paths;
        EXPECT_EQ(RenameCreatedOutputs(out_, "Song", OutputRenameSettings(), &paths), 0);
        EXPECT_EQ(Files().size(), paths.size()) << Files().join(" ").toStdString();
        QStringList names;
        for (const QString& p : paths)
            names << p.mid(p.lastIndexOf('/') + 1);
        names.sort();
        return names;
    }

    void ClearOutputs()
    {
        QDir(out_).removeRecursively();
        QDir().mkpath(out_);
        CreatedFilesListClear();
    }

    // Our output `name` against sox's rendering of `soxArgs` (input, then
    // effects; "-D": sox adds no dither of its own).
    void ExpectLikeSox(const QString& name, const QStringList& soxInputs, const QStringList& soxEffects,
                       SInt64 tolerance = 0, const QStringList& outputOptions = {})
    {
        const QString expected = exp_ + "/expected" + name.mid(name.lastIndexOf('.'));
        QFile::remove(expected);
        SOX(QStringList{"-D"} + soxInputs + outputOptions + QStringList{expected} + soxEffects);
        const SInt64 diff = MaxDifference(Samples(out_ + "/" + name), Samples(expected));
        EXPECT_GE(diff, 0) << name.toStdString() << ": sample counts differ";
        EXPECT_LE(diff, tolerance) << name.toStdString();
        EXPECT_EQ(SoxInfo(out_ + "/" + name, "-c"), SoxInfo(expected, "-c")) << name.toStdString();
        EXPECT_EQ(SoxInfo(out_ + "/" + name, "-b"), SoxInfo(expected, "-b")) << name.toStdString();
    }

    // One expected output: the suffix of its name before the extension, and
    // what sox makes it from.
    struct Output {
        QString suffix;
        QStringList soxInputs;
        QStringList soxEffects;
    };
    // Runs `s` on `in`, checks that the outputs are "Song<suffix><ext>" and
    // each like sox's rendering, and clears the folder.
    void ExpectOutputs(const ConvSpecRef& s, CSoundFile* in, const QString& ext, const std::vector<Output>& outputs,
        SInt64 tolerance = 0, const QStringList& outputOptions = {})
    {
        QStringList names;
        for (const Output& o : outputs)
            names << "Song" + o.suffix + ext;
        names.sort();
        ASSERT_EQ(Convert(s, in), names);
        for (const Output& o : outputs)
            ExpectLikeSox("Song" + o.suffix + ext, o.soxInputs, o.soxEffects, tolerance, outputOptions);
        ClearOutputs();
    }

    TestTempDir dir_;
    QString in_, out_, exp_;
};

}  // namespace

TEST_F(PlainCopyEndToEndTest, StereoInputThroughEveryTreatment)
{
    const QString stereo = MakeTone("stereo.wav", 2, 16);
    InputPtr in = OpenInput(stereo);
    ASSERT_TRUE(in);
    ASSERT_EQ(in->GetChannelKind(), kChannelKindStereo);
    const std::pair<int, std::vector<Output>> cases[] = {
        {NoChannelTreat, {{"", {stereo}, {}}}},
        {ForceInterleavedStereo, {{"", {stereo}, {}}}},
        {OnlyStereoToInterleaved, {{"", {stereo}, {}}}},
        {SplitChannels, {{".L", {stereo}, {"remix", "1"}}, {".R", {stereo}, {"remix", "2"}}}},
        {LeftOnly, {{"", {stereo}, {"remix", "1"}}}},
        {RightOnly, {{"", {stereo}, {"remix", "2"}}}},
    };
    for (const auto& [type, ext] : {std::pair{kAIFF, QString(".aif")}, std::pair{kWAVE, QString(".wav")}}) {
        for (const auto& [treatment, outputs] : cases) {
            SCOPED_TRACE(ext.toStdString() + " treatment " + std::to_string(treatment));
            ExpectOutputs(Conversion(type, treatment), in.get(), ext, outputs);
        }
        ExpectOutputs(
            Conversion(type, MixToMono), in.get(), ext, {{"", {stereo}, {"remix", "1v0.5,2v0.5"}}}, kOneLSB16);
    }
}

TEST_F(PlainCopyEndToEndTest, MonoInputIsWidenedOrCopied)
{
    const QString mono = MakeTone("mono.aif", 1, 16);
    InputPtr in = OpenInput(mono);
    ASSERT_TRUE(in);
    ExpectOutputs(Conversion(kWAVE, ForceInterleavedStereo), in.get(), ".wav", {{"", {mono}, {"remix", "1", "1"}}});
    // Every other treatment copies the mono file as it is.
    for (int t : {NoChannelTreat, SplitChannels, MixToMono, LeftOnly, RightOnly, OnlyStereoToInterleaved}) {
        SCOPED_TRACE(t);
        ExpectOutputs(Conversion(kAIFF, t), in.get(), ".aif", {{"", {mono}, {}}});
    }
}

TEST_F(PlainCopyEndToEndTest, FiveOneFileIsKeptOrSplitIntoASurroundSet)
{
    const QString surround = MakeTone("five-one.wav", 6, 24);
    InputPtr in = OpenInput(surround);
    ASSERT_TRUE(in);
    ASSERT_EQ(in->GetChannelKind(), kChannelKindMultichannel);
    ASSERT_EQ(in->GetChannelConfiguration(), kChannelConfig5_1);

    // No treatment, and interleaving only split sets, leave a multichannel
    // file whole (and 24 bits deep, as sox's copy); the treatments that name
    // their channels (stereo, mono) refuse it and write nothing.
    for (int t : {NoChannelTreat, OnlyStereoToInterleaved}) {
        SCOPED_TRACE(t);
        ExpectOutputs(Conversion(kWAVE, t), in.get(), ".wav", {{"", {surround}, {}}});
    }
    for (int t : {ForceInterleavedStereo, MixToMono, LeftOnly, RightOnly}) {
        SCOPED_TRACE(t);
        EXPECT_EQ(Run(Conversion(kWAVE, t), in.get()), -22100);
    }

    // One member per channel, named by the 5.1 indicators.
    std::vector<Output> members;
    for (int c = 0; c < 6; ++c)
        members.push_back({kSurroundSuffixes[c], {surround}, {"remix", QString::number(c + 1)}});
    for (const auto& [type, ext] : {std::pair{kAIFF, QString(".aif")}, std::pair{kWAVE, QString(".wav")}})
        ExpectOutputs(Conversion(type, SplitChannels), in.get(), ext, members);
}

TEST_F(PlainCopyEndToEndTest, SplitStereoPairInput)
{
    const QString stereo = MakeTone("pair.wav", 2, 16);
    const QString left = in_ + "/pair.L.aif";
    const QString right = in_ + "/pair.R.aif";
    SOX(stereo, left, "remix", "1");
    SOX(stereo, right, "remix", "2");
    InputPtr in = OpenSet(format_type_codes::kSplitSet, kAIFF, {left, right}, kChannelConfigStereo);
    ASSERT_TRUE(in);
    ASSERT_EQ(in->GetChannelKind(), kChannelKindSplitStereo);

    // Treatment 0 (and 2, through it) writes the pair again as a set.
    for (int t : {NoChannelTreat, SplitChannels})
        ExpectOutputs(Conversion(kAIFF, t), in.get(), ".aif", {{".L", {left}, {}}, {".R", {right}, {}}});
    for (int t : {ForceInterleavedStereo, OnlyStereoToInterleaved})
        ExpectOutputs(Conversion(kWAVE, t), in.get(), ".wav", {{"", {"-M", left, right}, {}}});
    ExpectOutputs(
        Conversion(kWAVE, MixToMono), in.get(), ".wav", {{"", {stereo}, {"remix", "1v0.5,2v0.5"}}}, kOneLSB16);
    ExpectOutputs(Conversion(kAIFF, LeftOnly), in.get(), ".aif", {{"", {left}, {}}});
    ExpectOutputs(Conversion(kAIFF, RightOnly), in.get(), ".aif", {{"", {right}, {}}});
}

TEST_F(PlainCopyEndToEndTest, SurroundSetInputAndTheIncompatibleTreatments)
{
    const QString whole = MakeTone("mix.wav", 6, 16);
    InputPtr in = OpenSurroundSplit(whole, in_ + "/mix");
    ASSERT_TRUE(in);
    ASSERT_EQ(in->GetChannelKind(), kChannelKindSurround);

    ExpectOutputs(Conversion(kAIFF, OnlyStereoToInterleaved), in.get(), ".aif", {{"", {whole}, {}}});
    std::vector<Output> members;
    for (const QString& suffix : kSurroundSuffixes)
        members.push_back({suffix, {in_ + "/mix" + suffix + ".wav"}, {}});
    ExpectOutputs(Conversion(kWAVE, NoChannelTreat), in.get(), ".wav", members);

    // Stereo, mixing, left or right of a surround set: refused, nothing
    // written.
    for (int t : {ForceInterleavedStereo, MixToMono, LeftOnly, RightOnly}) {
        EXPECT_EQ(Run(Conversion(kAIFF, t), in.get()), -22100) << t;
        EXPECT_TRUE(Files().isEmpty()) << Files().join(" ").toStdString();
        EXPECT_TRUE(GetCreatedFilesList().isEmpty());
    }
}

TEST_F(PlainCopyEndToEndTest, WordLengthChangesWithAndWithoutDither)
{
    const QString deep = MakeTone("deep.wav", 2, 24);
    InputPtr in = OpenInput(deep);
    ASSERT_TRUE(in);

    ASSERT_EQ(Convert(Conversion(kAIFF, NoChannelTreat, 16), in.get()), QStringList{"Song.aif"});
    ExpectLikeSox("Song.aif", {deep}, {}, kOneLSB16, {"-b", "16"});
    const std::vector<SInt32> plain = Samples(out_ + "/Song.aif");
    ClearOutputs();

    // Dithered: within a step or two of the plain result, and not equal to it.
    ASSERT_EQ(CreateDitherTable(), 0);
    ASSERT_EQ(Convert(Conversion(kAIFF, NoChannelTreat, 16, true), in.get()), QStringList{"Song.aif"});
    const std::vector<SInt32> dithered = Samples(out_ + "/Song.aif");
    FreeDitherTable();
    const SInt64 diff = MaxDifference(plain, dithered);
    EXPECT_GT(diff, 0);
    EXPECT_LE(diff, 2 * kOneLSB16);
    ClearOutputs();

    // A channel treatment and a word-length change together.
    ExpectOutputs(
        Conversion(kWAVE, RightOnly, 16), in.get(), ".wav", {{"", {deep}, {"remix", "2"}}}, kOneLSB16, {"-b", "16"});

    // Widening is exact.
    const QString shallow = MakeTone("shallow.aif", 1, 16);
    InputPtr in16 = OpenInput(shallow);
    ExpectOutputs(Conversion(kWAVE, ForceInterleavedStereo, 24), in16.get(), ".wav",
        {{"", {shallow}, {"remix", "1", "1"}}}, 0, {"-b", "24"});
}

// A batch cancelled in the middle of writing a split or surround output
// leaves nothing in the output folder.
TEST_F(PlainCopyEndToEndTest, CancelledSetOutputsLeaveNothingBehind)
{
    const QString stereo = MakeTone("long-stereo.wav", 2, 16, 2.0);
    const QString six = MakeTone("long-six.wav", 6, 16, 2.0);
    UserDefaults defaults(QString::fromStdString(dir_.file("defaults.plist")));
    ConversionProcess::Environment env;
    env.defaults = &defaults;

    for (const QString& input : {stereo, six}) {
        SCOPED_TRACE(input.toStdString());
        ConversionProcess process(env);
        ConvSpecRef conv = Conversion(kAIFF, SplitChannels);
        conv->setConversionName("Split");
        QDir().mkpath(out_ + "/Split");

        bool sawTemporaryMembers = false;
        ASSERT_TRUE(StopAtFirstPosition(process, {input}, {conv}, out_, [&] {
            sawTemporaryMembers
                = QDir(out_ + "/Split").entryList({".QuillOutFile*"}, QDir::Files | QDir::Hidden).size() >= 2;
        }));
        EXPECT_TRUE(sawTemporaryMembers);
        EXPECT_EQ(process.err(), -128);
        const QStringList left = QDir(out_ + "/Split").entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        EXPECT_TRUE(left.isEmpty()) << left.join(" ").toStdString();
    }
}

// The temporary name's random tag can read as a channel indicator ("-L...");
// the members of a split output must still get their own final names, on
// every draw.
TEST_F(PlainCopyEndToEndTest, SplitMembersAlwaysGetDistinctNames)
{
    const QString stereo = MakeTone("short.wav", 2, 16, 0.01);
    InputPtr in = OpenInput(stereo);
    ASSERT_TRUE(in);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(Convert(Conversion(kAIFF, SplitChannels), in.get()), (QStringList{"Song.L.aif", "Song.R.aif"}))
            << "draw " << i;
        ClearOutputs();
    }
}

// AVR and System 7 sound files store their own name: the same bytes from run
// to run, whatever temporary name each run drew.
TEST_F(PlainCopyEndToEndTest, FormatsThatStoreTheirNameWriteTheSameBytesEveryRun)
{
    EXPECT_EQ(WithoutTemporaryTag(".QuillOutFile-k3Ztq0.L.avr"), ".QuillOutFile.L.avr");
    for (const char* kept : {".QuillOutFile.avr", ".QuillOutFile-k3Zt.avr", ".QuillOutFile-k3Z_q0.avr", "Take-k3Ztq0"})
        EXPECT_EQ(WithoutTemporaryTag(kept), kept);

    InputPtr in = OpenInput(MakeTone("named.wav", 1, 16, 0.05));
    ASSERT_TRUE(in);
    for (OSType type : {FOUR_CHAR_CODE(".AVR"), FOUR_CHAR_CODE("sfil")}) {
        std::map<QString, QByteArray> first;
        for (int run = 0; run < 2; ++run) {
            ASSERT_FALSE(Convert(Conversion(type, kNoTreatment), in.get()).isEmpty());
            // With the "._" files, which hold a System 7 sound's resource fork.
            for (const QString& path : QDir(out_).entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
                QFile file(out_ + "/" + path);
                ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
                if (run == 0)
                    first[path] = file.readAll();
                else
                    EXPECT_EQ(file.readAll(), first[path]) << path.toStdString();
            }
            ClearOutputs();
        }
        EXPECT_FALSE(first.empty());
    }
}
