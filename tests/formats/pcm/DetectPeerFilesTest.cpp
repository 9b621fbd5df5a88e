// Detection of the files sox, sndfile-convert and ffmpeg write in the
// formats whose header steps detection reads itself (NeXT/Sun, Creative
// Voice, Paris, AVR, 8SVX, Sound Designer II).  A test is skipped when its
// program is not installed.
#include "CNeXT_SUNFile.h"
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

// Runs a program with an argument vector; false when it is missing or fails.
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

bool Have(const char* program) { return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty(); }

class DetectPeerFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearSoundFileRegistries();
        RegisterPCMFileTypes();
        source = dir.file("source.wav");
        if (Have("sox"))
            ASSERT_TRUE(RunPeer("sox", {"-n", "-r", "8000", "-c", "1", "-b", "16", Q(source), "synth", "0.2", "sine",
                                    "440"}));
    }

    static QString Q(const std::string& s) { return QString::fromStdString(s); }

    // Detection result of a file a peer wrote.
    OSType Detect(const std::string& path, OSErr expected = noErr)
    {
        OSType type = 0;
        SInt32 recognized = 0;
        EXPECT_EQ(DetectFileType(path, &type, &recognized), expected) << path;
        return type;
    }

    TestTempDir dir;
    std::string source;
};

TEST_F(DetectPeerFilesTest, Sox)
{
    if (!Have("sox"))
        GTEST_SKIP() << "sox is not installed";
    const struct {
        const char* name;
        QStringList options;
        OSType type;
        OSErr err;
    } cases[] = {
        {"s16.au", {}, FOUR_CHAR_CODE("NxTS"), noErr},
        {"ulaw.au", {"-e", "u-law"}, FOUR_CHAR_CODE("ulaw"), noErr},
        {"alaw.au", {"-e", "a-law"}, FOUR_CHAR_CODE("NSAL"), noErr},
        {"float.au", {"-e", "floating-point"}, 0, kNeXTUnsupportedDataErr},
        {"u8.voc", {"-b", "8"}, FOUR_CHAR_CODE("VOC "), noErr},
        {"u8stereo.voc", {"-b", "8", "-c", "2"}, FOUR_CHAR_CODE("VOC2"), noErr},
        {"s16.voc", {}, FOUR_CHAR_CODE("VOC2"), noErr},
        {"s8.8svx", {"-b", "8"}, FOUR_CHAR_CODE("8SVX"), noErr},
        {"s16.avr", {}, FOUR_CHAR_CODE(".AVR"), noErr},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        QStringList arguments{Q(source)};
        arguments << c.options << Q(path);
        ASSERT_TRUE(RunPeer("sox", arguments)) << c.name;
        const OSType type = Detect(path, c.err);
        if (c.err == noErr)
            EXPECT_EQ(type, c.type) << c.name;
    }
}

TEST_F(DetectPeerFilesTest, Libsndfile)
{
    if (!Have("sox") || !Have("sndfile-convert"))
        GTEST_SKIP() << "sox or sndfile-convert is not installed";
    const struct {
        const char* name;
        QStringList options;
        OSType type;
    } cases[] = {
        {"s16.paf", {}, FOUR_CHAR_CODE(" paf")},
        {"s24.paf", {"-pcm24"}, FOUR_CHAR_CODE(" paf")},
        {"s16.au", {}, FOUR_CHAR_CODE("NxTS")},
        {"ulaw.au", {"-ulaw"}, FOUR_CHAR_CODE("ulaw")},
        {"alaw.au", {"-alaw"}, FOUR_CHAR_CODE("NSAL")},
        {"s16.voc", {}, FOUR_CHAR_CODE("VOC2")},
        {"s16.avr", {}, FOUR_CHAR_CODE(".AVR")},
        {"s16.sd2", {}, FOUR_CHAR_CODE("Sd2f")},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        QStringList arguments = c.options;
        arguments << Q(source) << Q(path);
        ASSERT_TRUE(RunPeer("sndfile-convert", arguments)) << c.name;
        EXPECT_EQ(Detect(path), c.type) << c.name;
    }
    // libsndfile keeps the Sound Designer II resources in "._name": they are
    // found, and a mono file of that type asks for its partners.
    EXPECT_EQ(CheckSDIIResources(dir.file("s16.sd2")), noErr);
    OSType type = 0;
    SInt32 recognized = 0;
    SInt32 configuration = -1;
    std::vector<std::string> members;
    std::string name;
    ASSERT_EQ(DetectFileType(dir.file("s16.paf"), &type, &recognized, &members, &name, &configuration, true),
              noErr);
    EXPECT_EQ(configuration, kChannelConfigMono);
    ASSERT_EQ(DetectFileType(dir.file("s16.sd2"), &type, &recognized, &members, &name, &configuration, true),
              noErr);
    EXPECT_EQ(configuration, kChannelConfigMono);
}

TEST_F(DetectPeerFilesTest, LibsndfileSplitSets)
{
    if (!Have("sox") || !Have("sndfile-convert"))
        GTEST_SKIP() << "sox or sndfile-convert is not installed";
    for (const char* name : {"Take-L.paf", "Take-R.paf", "Mix.L.sd2", "Mix.R.sd2"})
        ASSERT_TRUE(RunPeer("sndfile-convert", {Q(source), Q(dir.file(name))})) << name;
    OSType type = 0;
    SInt32 recognized = 0;
    SInt32 configuration = -1;
    std::vector<std::string> members;
    std::string name;
    ASSERT_EQ(DetectFileType(dir.file("Take-R.paf"), &type, &recognized, &members, &name, &configuration, true),
              noErr);
    EXPECT_EQ(configuration, kChannelConfigStereo);
    EXPECT_EQ(members, (std::vector<std::string>{dir.file("Take-L.paf"), dir.file("Take-R.paf")}));
    ASSERT_EQ(DetectFileType(dir.file("Mix.R.sd2"), &type, &recognized, &members, &name, &configuration, true),
              noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("Sd2f"));
    EXPECT_EQ(configuration, kChannelConfigStereo);
    EXPECT_EQ(members, (std::vector<std::string>{dir.file("Mix.L.sd2"), dir.file("Mix.R.sd2")}));
}

TEST_F(DetectPeerFilesTest, Ffmpeg)
{
    if (!Have("sox") || !Have("ffmpeg"))
        GTEST_SKIP() << "sox or ffmpeg is not installed";
    const struct {
        const char* name;
        QStringList options;
        OSType type;
    } cases[] = {
        {"s16.au", {}, FOUR_CHAR_CODE("NxTS")},
        {"ulaw.au", {"-c:a", "pcm_mulaw"}, FOUR_CHAR_CODE("ulaw")},
        {"alaw.au", {"-c:a", "pcm_alaw"}, FOUR_CHAR_CODE("NSAL")},
        {"u8.voc", {"-c:a", "pcm_u8"}, FOUR_CHAR_CODE("VOC ")},
        {"s16.voc", {"-c:a", "pcm_s16le"}, FOUR_CHAR_CODE("VOC2")},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        QStringList arguments{"-nostdin", "-loglevel", "error", "-i", Q(source)};
        arguments << c.options << Q(path);
        ASSERT_TRUE(RunPeer("ffmpeg", arguments)) << c.name;
        EXPECT_EQ(Detect(path), c.type) << c.name;
    }
}

} // namespace
