// The plain-copy pipelines end to end on real AIFF and WAVE files made by
// sox: every channel treatment on mono, stereo, 5.1, split stereo and
// surround inputs, word-length changes with and without dither, split and
// surround outputs, the refusal of a treatment that does not fit the input,
// and a cancelled batch that leaves nothing behind.  The samples we write
// are compared with what sox makes of the same input.
#include "CConvSpec.h"
#include "CSoundFile.h"
#include "ConvSpec.h"
#include "ConversionProcess.h"
#include "CreateSoundFile.h"
#include "CreatedFilesList.h"
#include "DitherTable.h"
#include "NotificationCenter.h"
#include "OutputNaming.h"
#include "PCMFileTypes.h"
#include "PipelineRoutes.h"
#include "SetFileTypes.h"
#include "TestTempDir.h"
#include "UserDefaults.h"
#include "progress_channel.h"
#include "PeerTools.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

constexpr OSType kAIFF = FOUR_CHAR_CODE("AIFF");
constexpr OSType kWAVE = FOUR_CHAR_CODE("WAVE");

// Runs sox with an argument vector; its standard error on failure.
bool Sox(const QStringList& args, QString* error = nullptr)
{
    QProcess process;
    process.start(QStringLiteral("sox"), args);
    if (!process.waitForStarted(10000) || !process.waitForFinished(60000))
        return false;
    if (error)
        *error = QString::fromLocal8Bit(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

#define SOX(...)                                                                                                    \
    do {                                                                                                            \
        QString soxError;                                                                                           \
        ASSERT_TRUE(Sox(QStringList{__VA_ARGS__}, &soxError)) << soxError.toStdString();                           \
    } while (0)

// Every sample of a file as sox reads it, at 32-bit scale, interleaved.
std::vector<SInt32> Samples(const QString& path, const QString& scratch)
{
    const QString raw = scratch + "/samples.raw";
    QFile::remove(raw);
    QString error;
    EXPECT_TRUE(Sox({path, "-t", "raw", "-e", "signed", "-b", "32", "-B", raw}, &error))
        << path.toStdString() << ": " << error.toStdString();
    QFile f(raw);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    std::vector<SInt32> samples(std::size_t(bytes.size()) / 4);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData()) + 4 * i;
        samples[i] = SInt32((UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | p[3]);
    }
    return samples;
}

QString SoxInfo(const QString& path, const char* what)
{
    QProcess process;
    process.start(QStringLiteral("sox"), {"--i", what, path});
    process.waitForFinished(30000);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
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

struct InputCloser {
    void operator()(CSoundFile* f) const
    {
        if (f)
            f->CloseAndDelete(true);
    }
};
using InputPtr = std::unique_ptr<CSoundFile, InputCloser>;

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
        const QString path = in_ + "/" + name;
        QStringList args{"-n", "-r", "44100", "-b", QString::number(bits), "-c", QString::number(channels), path,
                         "synth", QString::number(seconds)};
        for (int c = 0; c < channels; ++c)
            args << "sine" << QString::number(300 + 210 * c);
        args << "vol" << "0.8";
        QString error;
        EXPECT_TRUE(Sox(args, &error)) << error.toStdString();
        return path;
    }

    InputPtr Open(const QString& path)
    {
        OSType type = 0;
        EXPECT_EQ(DetectFileType(path.toStdString(), &type), noErr) << path.toStdString();
        InputPtr file(CreateSoundFileObject(type));
        EXPECT_TRUE(file) << path.toStdString();
        if (!file)
            return file;
        EXPECT_EQ(file->SetFile(path.toStdString()), noErr);
        EXPECT_EQ(file->Open(), noErr) << path.toStdString();
        return file;
    }
    InputPtr OpenSet(OSType setType, OSType memberType, const QStringList& paths, SInt32 configuration)
    {
        InputPtr file(CreateSoundFileObject(setType, memberType));
        EXPECT_TRUE(file);
        if (!file)
            return file;
        std::vector<std::string> members;
        for (const QString& p : paths)
            members.push_back(p.toStdString());
        EXPECT_EQ(file->SetFile(members), noErr);
        EXPECT_EQ(file->Open(), noErr);
        file->SetChannelConfiguration(configuration);
        return file;
    }

    ConvSpecRef Conversion(OSType type, int treatment, int bits = 0, bool dither = false)
    {
        ConvSpecRef s = ConvSpec::create();
        s->setNeedsStrictFileType(true);
        s->setOutputFileType(type);
        s->setNeedsChannelTreat(true);
        s->setChannelTreat(treatment);
        s->setNeedsNewWordLength(bits != 0);
        if (bits)
            s->setWordLength(bits);
        s->setNeedsRedither(dither);
        s->setNeedsFades(false);
        s->setNeedsSnip(false);
        s->setNeedsNameExtension(false);
        s->setNeedsSampleRateConversion(false);
        s->setNeedsGain(false);
        s->setNeedsStrip(false);
        s->setNeedsExtraction(false);
        return s;
    }

    SInt16 Run(const ConvSpecRef& s, CSoundFile* in)
    {
        FSSpec folder;
        folder.parent = out_.toStdString();
        CConvSpec spec(s, &folder, nullptr, QStringLiteral("Song"));
        return spec.Run(in);
    }

    QStringList Files() const
    {
        QStringList names = QDir(out_).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
        names.removeIf([](const QString& n) { return n.startsWith("._"); });
        return names;
    }

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
        for (const QString& name : QDir(out_).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
            QFile::remove(out_ + "/" + name);
        CreatedFilesListClear();
    }

    // Our output `name` against sox's rendering of `soxArgs` (input, then
    // effects; "-D": sox adds no dither of its own).
    void ExpectLikeSox(const QString& name, const QStringList& soxInputs, const QStringList& soxEffects,
                       SInt64 tolerance = 0, const QStringList& outputOptions = {})
    {
        const QString expected = exp_ + "/expected" + name.mid(name.lastIndexOf('.'));
        QFile::remove(expected);
        QString error;
        ASSERT_TRUE(Sox(QStringList{"-D"} + soxInputs + outputOptions + QStringList{expected} + soxEffects, &error))
            << error.toStdString();
        const SInt64 diff = MaxDifference(Samples(out_ + "/" + name, exp_), Samples(expected, exp_));
        EXPECT_GE(diff, 0) << name.toStdString() << ": sample counts differ";
        EXPECT_LE(diff, tolerance) << name.toStdString();
        EXPECT_EQ(SoxInfo(out_ + "/" + name, "-c"), SoxInfo(expected, "-c")) << name.toStdString();
    }

    TestTempDir dir_;
    QString in_, out_, exp_;
};

} // namespace

TEST_F(PlainCopyEndToEndTest, StereoInputThroughEveryTreatment)
{
    const QString stereo = MakeTone("stereo.wav", 2, 16);
    InputPtr in = Open(stereo);
    ASSERT_TRUE(in);
    ASSERT_EQ(in->GetChannelKind(), kChannelKindStereo);
    for (const auto& [type, ext] : {std::pair{kAIFF, QString(".aif")}, std::pair{kWAVE, QString(".wav")}}) {
        SCOPED_TRACE(ext.toStdString());
        for (int t : {NoChannelTreat, ForceInterleavedStereo, OnlyStereoToInterleaved}) {
            ASSERT_EQ(Convert(Conversion(type, t), in.get()), QStringList{"Song" + ext}) << t;
            ExpectLikeSox("Song" + ext, {stereo}, {});
            ClearOutputs();
        }
        ASSERT_EQ(Convert(Conversion(type, SplitChannels), in.get()),
                  (QStringList{"Song.L" + ext, "Song.R" + ext}));
        ExpectLikeSox("Song.L" + ext, {stereo}, {"remix", "1"});
        ExpectLikeSox("Song.R" + ext, {stereo}, {"remix", "2"});
        ClearOutputs();

        ASSERT_EQ(Convert(Conversion(type, MixToMono), in.get()), QStringList{"Song" + ext});
        ExpectLikeSox("Song" + ext, {stereo}, {"remix", "1v0.5,2v0.5"}, kOneLSB16);
        ClearOutputs();
        ASSERT_EQ(Convert(Conversion(type, LeftOnly), in.get()), QStringList{"Song" + ext});
        ExpectLikeSox("Song" + ext, {stereo}, {"remix", "1"});
        ClearOutputs();
        ASSERT_EQ(Convert(Conversion(type, RightOnly), in.get()), QStringList{"Song" + ext});
        ExpectLikeSox("Song" + ext, {stereo}, {"remix", "2"});
        ClearOutputs();
    }
}

TEST_F(PlainCopyEndToEndTest, MonoInputIsWidenedOrCopied)
{
    const QString mono = MakeTone("mono.aif", 1, 16);
    InputPtr in = Open(mono);
    ASSERT_TRUE(in);
    ASSERT_EQ(Convert(Conversion(kWAVE, ForceInterleavedStereo), in.get()), QStringList{"Song.wav"});
    ExpectLikeSox("Song.wav", {mono}, {"remix", "1", "1"});
    ClearOutputs();
    // Every other treatment copies the mono file as it is.
    for (int t : {NoChannelTreat, SplitChannels, MixToMono, LeftOnly, RightOnly, OnlyStereoToInterleaved}) {
        ASSERT_EQ(Convert(Conversion(kAIFF, t), in.get()), QStringList{"Song.aif"}) << t;
        ExpectLikeSox("Song.aif", {mono}, {});
        ClearOutputs();
    }
}

TEST_F(PlainCopyEndToEndTest, FiveOneFileIsKeptOrSplitIntoASurroundSet)
{
    const QString surround = MakeTone("five-one.wav", 6, 24);
    InputPtr in = Open(surround);
    ASSERT_TRUE(in);
    ASSERT_EQ(in->GetChannelKind(), kChannelKindMultichannel);
    ASSERT_EQ(in->GetChannelConfiguration(), kChannelConfig5_1);

    // Down-mixes and the stereo treatments leave a multichannel file whole.
    for (int t : {NoChannelTreat, ForceInterleavedStereo, MixToMono, LeftOnly, RightOnly, OnlyStereoToInterleaved}) {
        ASSERT_EQ(Convert(Conversion(kWAVE, t), in.get()), QStringList{"Song.wav"}) << t;
        ExpectLikeSox("Song.wav", {surround}, {});
        EXPECT_EQ(SoxInfo(out_ + "/Song.wav", "-b"), "24");
        ClearOutputs();
    }

    // One member per channel, named by the 5.1 indicators.
    const QStringList suffixes{".L", ".R", ".C", ".LFE", ".Ls", ".Rs"};
    for (const auto& [type, ext] : {std::pair{kAIFF, QString(".aif")}, std::pair{kWAVE, QString(".wav")}}) {
        QStringList expected;
        for (const QString& s : suffixes)
            expected << "Song" + s + ext;
        expected.sort();
        ASSERT_EQ(Convert(Conversion(type, SplitChannels), in.get()), expected);
        for (int c = 0; c < 6; ++c)
            ExpectLikeSox("Song" + suffixes[c] + ext, {surround}, {"remix", QString::number(c + 1)});
        ClearOutputs();
    }
}

TEST_F(PlainCopyEndToEndTest, SplitStereoPairInput)
{
    const QString stereo = MakeTone("pair.wav", 2, 16);
    const QString left = in_ + "/pair.L.aif";
    const QString right = in_ + "/pair.R.aif";
    SOX(stereo, left, "remix", "1");
    SOX(stereo, right, "remix", "2");
    InputPtr in = OpenSet(FOUR_CHAR_CODE("Splt"), kAIFF, {left, right}, kChannelConfigStereo);
    ASSERT_TRUE(in);
    ASSERT_EQ(in->GetChannelKind(), kChannelKindSplitStereo);

    // Treatment 0 (and 2, through it) writes the pair again as a set.
    for (int t : {NoChannelTreat, SplitChannels}) {
        ASSERT_EQ(Convert(Conversion(kAIFF, t), in.get()), (QStringList{"Song.L.aif", "Song.R.aif"})) << t;
        ExpectLikeSox("Song.L.aif", {left}, {});
        ExpectLikeSox("Song.R.aif", {right}, {});
        ClearOutputs();
    }
    for (int t : {ForceInterleavedStereo, OnlyStereoToInterleaved}) {
        ASSERT_EQ(Convert(Conversion(kWAVE, t), in.get()), QStringList{"Song.wav"}) << t;
        ExpectLikeSox("Song.wav", {"-M", left, right}, {});
        ClearOutputs();
    }
    ASSERT_EQ(Convert(Conversion(kWAVE, MixToMono), in.get()), QStringList{"Song.wav"});
    ExpectLikeSox("Song.wav", {stereo}, {"remix", "1v0.5,2v0.5"}, kOneLSB16);
    ClearOutputs();
    ASSERT_EQ(Convert(Conversion(kAIFF, LeftOnly), in.get()), QStringList{"Song.aif"});
    ExpectLikeSox("Song.aif", {left}, {});
    ClearOutputs();
    ASSERT_EQ(Convert(Conversion(kAIFF, RightOnly), in.get()), QStringList{"Song.aif"});
    ExpectLikeSox("Song.aif", {right}, {});
}

TEST_F(PlainCopyEndToEndTest, SurroundSetInputAndTheIncompatibleTreatments)
{
    const QString whole = MakeTone("mix.wav", 6, 16);
    const QStringList suffixes{".L", ".R", ".C", ".LFE", ".Ls", ".Rs"};
    QStringList members;
    for (int c = 0; c < 6; ++c) {
        members << in_ + "/mix" + suffixes[c] + ".wav";
        SOX(whole, members.last(), "remix", QString::number(c + 1));
    }
    InputPtr in = OpenSet(FOUR_CHAR_CODE("Srnd"), kWAVE, members, kChannelConfig5_1);
    ASSERT_TRUE(in);
    ASSERT_EQ(in->GetChannelKind(), kChannelKindSurround);

    for (int t : {ForceInterleavedStereo, OnlyStereoToInterleaved}) {
        ASSERT_EQ(Convert(Conversion(kAIFF, t), in.get()), QStringList{"Song.aif"}) << t;
        ExpectLikeSox("Song.aif", {whole}, {});
        ClearOutputs();
    }
    QStringList expected;
    for (const QString& s : suffixes)
        expected << "Song" + s + ".wav";
    expected.sort();
    ASSERT_EQ(Convert(Conversion(kWAVE, NoChannelTreat), in.get()), expected);
    for (int c = 0; c < 6; ++c)
        ExpectLikeSox("Song" + suffixes[c] + ".wav", {members[c]}, {});
    ClearOutputs();

    // Mixing, left or right of a surround set: refused, nothing written.
    for (int t : {MixToMono, LeftOnly, RightOnly}) {
        EXPECT_EQ(Run(Conversion(kAIFF, t), in.get()), -22100) << t;
        EXPECT_TRUE(Files().isEmpty()) << Files().join(" ").toStdString();
        EXPECT_TRUE(GetCreatedFilesList().isEmpty());
    }
}

TEST_F(PlainCopyEndToEndTest, WordLengthChangesWithAndWithoutDither)
{
    const QString deep = MakeTone("deep.wav", 2, 24);
    InputPtr in = Open(deep);
    ASSERT_TRUE(in);

    ASSERT_EQ(Convert(Conversion(kAIFF, NoChannelTreat, 16), in.get()), QStringList{"Song.aif"});
    EXPECT_EQ(SoxInfo(out_ + "/Song.aif", "-b"), "16");
    ExpectLikeSox("Song.aif", {deep}, {}, kOneLSB16, {"-b", "16"});
    const std::vector<SInt32> plain = Samples(out_ + "/Song.aif", exp_);
    ClearOutputs();

    // Dithered: within a step or two of the plain result, and not equal to it.
    ASSERT_EQ(CreateDitherTable(), 0);
    ASSERT_EQ(Convert(Conversion(kAIFF, NoChannelTreat, 16, true), in.get()), QStringList{"Song.aif"});
    const std::vector<SInt32> dithered = Samples(out_ + "/Song.aif", exp_);
    FreeDitherTable();
    const SInt64 diff = MaxDifference(plain, dithered);
    EXPECT_GT(diff, 0);
    EXPECT_LE(diff, 2 * kOneLSB16);
    ClearOutputs();

    // A channel treatment and a word-length change together.
    ASSERT_EQ(Convert(Conversion(kWAVE, RightOnly, 16), in.get()), QStringList{"Song.wav"});
    ExpectLikeSox("Song.wav", {deep}, {"remix", "2"}, kOneLSB16, {"-b", "16"});
    ClearOutputs();

    // Widening is exact.
    const QString shallow = MakeTone("shallow.aif", 1, 16);
    InputPtr in16 = Open(shallow);
    ASSERT_EQ(Convert(Conversion(kWAVE, ForceInterleavedStereo, 24), in16.get()), QStringList{"Song.wav"});
    EXPECT_EQ(SoxInfo(out_ + "/Song.wav", "-b"), "24");
    ExpectLikeSox("Song.wav", {shallow}, {"remix", "1", "1"}, 0, {"-b", "24"});
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

        QSemaphore atPosition;
        QSemaphore resume;
        bool paused = false;
        bool sawTemporaryMembers = false;
        QThread* const mainThread = QThread::currentThread();
        const NotificationCenter::Token token = NotificationCenter::defaultCenter().addObserver(
            kProgressPositionNotification, nullptr, [&](const Notification&) {
                if (paused || QThread::currentThread() == mainThread)
                    return;
                paused = true;
                sawTemporaryMembers =
                    QDir(out_ + "/Split").entryList({".QuillOutFile*"}, QDir::Files | QDir::Hidden).size() >= 2;
                atPosition.release();
                resume.acquire();
            });
        ASSERT_TRUE(process.start({input}, {conv}, out_));
        ASSERT_TRUE(atPosition.tryAcquire(1, 60000));
        process.setShouldStop(true);
        resume.release();
        ASSERT_TRUE(process.waitUntilDone(60000));
        NotificationCenter::defaultCenter().removeObserver(token);

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
    InputPtr in = Open(stereo);
    ASSERT_TRUE(in);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(Convert(Conversion(kAIFF, SplitChannels), in.get()), (QStringList{"Song.L.aif", "Song.R.aif"}))
            << "draw " << i;
        ClearOutputs();
    }
}
