// Type detection and split grouping of AIFF, AIFF-C and WAVE family files
// that sox, sndfile-convert and ffmpeg write, with the PCM formats'
// chunk finders and channel probes registered.
#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "PCMFileTypes.h"
#include "SoundFileRegistry.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

bool Have(const char* program) { return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty(); }

bool RunPeer(const QString& program, const QStringList& arguments)
{
    if (QStandardPaths::findExecutable(program).isEmpty())
        return false;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

struct PeerCase {
    const char* name;
    QStringList options;
    OSType type;
};

class DetectPCMFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterPCMFileTypes();
        ASSERT_NE(GetChunkFinder(FOUR_CHAR_CODE("RIFF")), nullptr);
        ASSERT_NE(GetChunkFinder(FOUR_CHAR_CODE("FORM")), nullptr);
        if (!Have("sox"))
            GTEST_SKIP() << "sox is not installed";
        source = dir.file("source.wav");
        ASSERT_TRUE(RunPeer("sox", {"-n", "-r", "8000", "-c", "1", "-b", "16", Q(source), "synth", "0.2", "sine", "440"}));
    }
    void TearDown() override { SetRecognizeNumberFilesAsSplit(false); }

    // Writes every case with `program` (arguments: prefix, case options, then
    // the source and output in the order the program wants) and checks its type.
    void Check(const char* program, const std::vector<PeerCase>& cases)
    {
        if (!Have(program))
            GTEST_SKIP() << program << " is not installed";
        for (const PeerCase& c : cases) {
            const std::string path = dir.file(c.name);
            QStringList arguments;
            const QString p = QString::fromLatin1(program);
            if (p == "sox")
                arguments << Q(source) << c.options << Q(path);
            else if (p == "sndfile-convert")
                arguments << c.options << Q(source) << Q(path);
            else
                arguments << "-nostdin" << "-loglevel" << "error" << "-i" << Q(source) << c.options << Q(path);
            ASSERT_TRUE(RunPeer(p, arguments)) << c.name;
            OSType type = 0;
            SInt32 recognized = 0;
            EXPECT_EQ(DetectFileType(path, &type, &recognized), noErr) << c.name;
            EXPECT_EQ(type, c.type) << program << " " << c.name;
            EXPECT_EQ(recognized, 1) << c.name;
        }
    }

    TestTempDir dir;
    std::string source;
};

TEST_F(DetectPCMFilesTest, Sox)
{
    Check("sox", {
                     {"s16.wav", {}, FOUR_CHAR_CODE("WAVE")},
                     {"s24.wav", {"-b", "24"}, FOUR_CHAR_CODE("WAVE")},
                     {"f32.wav", {"-e", "floating-point"}, FOUR_CHAR_CODE("WVfl")},
                     {"alaw.wav", {"-e", "a-law"}, FOUR_CHAR_CODE("WVal")},
                     {"ulaw.wav", {"-e", "u-law"}, FOUR_CHAR_CODE("WVau")},
                     {"msadpcm.wav", {"-e", "ms-adpcm"}, FOUR_CHAR_CODE("MSAP")},
                     {"s16.aiff", {}, FOUR_CHAR_CODE("AIFF")},
                     {"s16.aifc", {}, FOUR_CHAR_CODE("AIFC")},
                     {"f32.aifc", {"-e", "floating-point"}, FOUR_CHAR_CODE("AIFC")},
                 });
}

TEST_F(DetectPCMFilesTest, Libsndfile)
{
    Check("sndfile-convert", {
                                 {"s16.wav", {}, FOUR_CHAR_CODE("WAVE")},
                                 {"f32.wav", {"-float32"}, FOUR_CHAR_CODE("WVfl")},
                                 {"alaw.wav", {"-alaw"}, FOUR_CHAR_CODE("WVal")},
                                 {"ulaw.wav", {"-ulaw"}, FOUR_CHAR_CODE("WVau")},
                                 {"msadpcm.wav", {"-ms-adpcm"}, FOUR_CHAR_CODE("MSAP")},
                                 {"s16.aiff", {}, FOUR_CHAR_CODE("AIFF")},
                                 {"ima.aiff", {"-ima-adpcm"}, FOUR_CHAR_CODE("A1t4")},
                                 {"ulaw.aiff", {"-ulaw"}, FOUR_CHAR_CODE("MooV")},
                             });
}

TEST_F(DetectPCMFilesTest, Ffmpeg)
{
    Check("ffmpeg", {
                        {"s16.wav", {}, FOUR_CHAR_CODE("WAVE")},
                        {"bext.wav", {"-write_bext", "1"}, FOUR_CHAR_CODE("BWLN")},
                        {"three.wav", {"-ac", "3"}, FOUR_CHAR_CODE("WAVE")}, // extensible
                        // ffmpeg writes float as the extensible format, which
                        // detection takes as linear 'WAVE' (its reader follows
                        // the subformat).
                        {"f32.wav", {"-c:a", "pcm_f32le"}, FOUR_CHAR_CODE("WAVE")},
                        {"alaw.wav", {"-c:a", "pcm_alaw"}, FOUR_CHAR_CODE("WVal")},
                        {"ulaw.wav", {"-c:a", "pcm_mulaw"}, FOUR_CHAR_CODE("WVau")},
                        {"s16.aiff", {"-c:a", "pcm_s16be"}, FOUR_CHAR_CODE("AIFF")},
                        {"sowt.aifc", {"-c:a", "pcm_s16le"}, FOUR_CHAR_CODE("AIFC")},
                        {"f64.aifc", {"-c:a", "pcm_f64be"}, FOUR_CHAR_CODE("MooV")},
                        {"alaw.aifc", {"-c:a", "pcm_alaw"}, FOUR_CHAR_CODE("MooV")},
                    });
}

TEST_F(DetectPCMFilesTest, GroupingWithRegisteredProbes)
{
    for (const char* name : {"Mix.L.wav", "Mix.R.wav", "Mix.C.wav", "Mix.LFE.wav", "Mix.Ls.wav", "Mix.Rs.wav"})
        ASSERT_TRUE(RunPeer("sox", {Q(source), Q(dir.file(name))}));
    ASSERT_TRUE(RunPeer("sox", {Q(source), "-c", "2", Q(dir.file("Wide.L.wav"))}));
    ASSERT_TRUE(RunPeer("sox", {Q(source), "-c", "2", Q(dir.file("Wide.R.wav"))}));
    for (int k = 1; k <= 3; ++k)
        ASSERT_TRUE(RunPeer("sox", {Q(source), Q(dir.file("Num." + std::to_string(k) + ".aiff"))}));

    OSType type = 0;
    SInt32 recognized = 0;
    SInt32 configuration = -1;
    std::vector<std::string> members;
    std::string name;
    ASSERT_EQ(DetectFileType(dir.file("Mix.C.wav"), &type, &recognized, &members, &name, &configuration, true), noErr);
    EXPECT_EQ(configuration, kChannelConfig5_1);
    EXPECT_EQ(members.size(), 6u);
    EXPECT_EQ(members.front(), dir.file("Mix.L.wav"));

    // Stereo members are not grouped.
    ASSERT_EQ(DetectFileType(dir.file("Wide.L.wav"), &type, &recognized, &members, &name, &configuration, true), noErr);
    EXPECT_EQ(configuration, kChannelConfigMultichannel);
    EXPECT_TRUE(members.empty());

    SetRecognizeNumberFilesAsSplit(true);
    ASSERT_EQ(DetectFileType(dir.file("Num.2.aiff"), &type, &recognized, &members, &name, &configuration, true), noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("AIFF"));
    EXPECT_EQ(configuration, kChannelConfigMultichannel);
    EXPECT_EQ(name, "Split Multichannel");
    EXPECT_EQ(members.size(), 3u);
}

} // namespace
