// Type detection and set grouping of the files sox, sndfile-convert and
// ffmpeg write, with the PCM formats registered: the header sniffers, the
// chunk finders and the channel probes.
#include "CNeXT_SUNFile.h"
#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "PCMFileTypes.h"
#include "PeerTools.h"
#include "SoundFileRegistry.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

struct PeerCase {
    const char* name;
    QStringList options;
    OSType type;
    OSErr err = noErr;
};

class DetectPeerFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearSoundFileRegistries();
        RegisterPCMFileTypes();
        QM_REQUIRE_PEER("sox");
        source = dir.file("source.wav");
        ASSERT_EQ(peers::Run("sox", {"-n", "-r", "8000", "-c", "1", "-b", "16", Q(source), "synth", "0.2", "sine",
                                     "440"}).exitCode, 0);
    }
    void TearDown() override { SetRecognizeNumberFilesAsSplit(false); }

    // Writes every case with `program` (arguments: the case options, then the
    // source and output in the order the program wants) and checks its type.
    void Check(const QString& program, const std::vector<PeerCase>& cases)
    {
        for (const PeerCase& c : cases) {
            const std::string path = dir.file(c.name);
            QStringList arguments;
            if (program == "sox")
                arguments << Q(source) << c.options << Q(path);
            else if (program == "sndfile-convert")
                arguments << c.options << Q(source) << Q(path);
            else
                arguments << "-nostdin" << "-loglevel" << "error" << "-i" << Q(source) << c.options << Q(path);
            ASSERT_EQ(peers::Run(program, arguments).exitCode, 0) << c.name;
            OSType type = 0;
            SInt32 recognized = 0;
            EXPECT_EQ(DetectFileType(path, &type, &recognized), c.err) << c.name;
            if (c.err == noErr) {
                EXPECT_EQ(type, c.type) << program.toStdString() << " " << c.name;
                EXPECT_EQ(recognized, 1) << c.name;
            }
        }
    }

    // Detection with set grouping.
    struct Grouped {
        OSType type = 0;
        SInt32 recognized = 0, configuration = -1;
        std::vector<std::string> members;
        std::string name;
    };
    Grouped Group(const std::string& path)
    {
        Grouped g;
        EXPECT_EQ(DetectFileType(path, &g.type, &g.recognized, &g.members, &g.name, &g.configuration, true), noErr)
            << path;
        return g;
    }

    TestTempDir dir;
    std::string source;
};

// The linear and G.711 files sox, libsndfile and ffmpeg write in every
// format they share with us are detected in the conformance suite
// (WeReadThePeersFiles); here the encodings it does not cover.
TEST_F(DetectPeerFilesTest, Sox)
{
    Check("sox", {
                     {"f32.wav", {"-e", "floating-point"}, FOUR_CHAR_CODE("WVfl")},
                     {"msadpcm.wav", {"-e", "ms-adpcm"}, FOUR_CHAR_CODE("MSAP")},
                     {"f32.aifc", {"-e", "floating-point"}, FOUR_CHAR_CODE("AIFC")},
                     {"float.au", {"-e", "floating-point"}, 0, kNeXTUnsupportedDataErr},
                 });
}

TEST_F(DetectPeerFilesTest, Libsndfile)
{
    QM_REQUIRE_PEER("sndfile-convert");
    Check("sndfile-convert", {
                                 {"f32.wav", {"-float32"}, FOUR_CHAR_CODE("WVfl")},
                                 {"msadpcm.wav", {"-ms-adpcm"}, FOUR_CHAR_CODE("MSAP")},
                                 {"ima.aiff", {"-ima-adpcm"}, FOUR_CHAR_CODE("A1t4")},
                                 {"ulaw.aiff", {"-ulaw"}, FOUR_CHAR_CODE("MooV")},
                                 {"s16.paf", {}, FOUR_CHAR_CODE(" paf")},
                                 {"s16.sd2", {}, FOUR_CHAR_CODE("Sd2f")},
                             });
    // libsndfile keeps the Sound Designer II resources in "._name": they are
    // found, and a mono file of that type asks for its partners.
    EXPECT_EQ(CheckSDIIResources(dir.file("s16.sd2")), noErr);
    Grouped g = Group(dir.file("s16.paf"));
    EXPECT_EQ(g.configuration, kChannelConfigMono);
    g = Group(dir.file("s16.sd2"));
    EXPECT_EQ(g.configuration, kChannelConfigMono);
}

TEST_F(DetectPeerFilesTest, LibsndfileSplitSets)
{
    QM_REQUIRE_PEER("sndfile-convert");
    for (const char* name : {"Take-L.paf", "Take-R.paf", "Mix.L.sd2", "Mix.R.sd2"})
        ASSERT_EQ(peers::Run("sndfile-convert", {Q(source), Q(dir.file(name))}).exitCode, 0) << name;
    Grouped g = Group(dir.file("Take-R.paf"));
    EXPECT_EQ(g.configuration, kChannelConfigStereo);
    EXPECT_EQ(g.members, (std::vector<std::string>{dir.file("Take-L.paf"), dir.file("Take-R.paf")}));
    g = Group(dir.file("Mix.R.sd2"));
    EXPECT_EQ(g.type, FOUR_CHAR_CODE("Sd2f"));
    EXPECT_EQ(g.configuration, kChannelConfigStereo);
    EXPECT_EQ(g.members, (std::vector<std::string>{dir.file("Mix.L.sd2"), dir.file("Mix.R.sd2")}));
}

TEST_F(DetectPeerFilesTest, Ffmpeg)
{
    QM_REQUIRE_PEER("ffmpeg");
    Check("ffmpeg", {
                        // ffmpeg writes float as the extensible format, which
                        // detection takes as linear 'WAVE' (its reader follows
                        // the subformat).
                        {"f32.wav", {"-c:a", "pcm_f32le"}, FOUR_CHAR_CODE("WAVE")},
                        {"f64.aifc", {"-c:a", "pcm_f64be"}, FOUR_CHAR_CODE("MooV")},
                        {"alaw.aifc", {"-c:a", "pcm_alaw"}, FOUR_CHAR_CODE("MooV")},
                    });
}

TEST_F(DetectPeerFilesTest, GroupingWithRegisteredProbes)
{
    for (const char* name : {"Mix.L.wav", "Mix.R.wav", "Mix.C.wav", "Mix.LFE.wav", "Mix.Ls.wav", "Mix.Rs.wav"})
        ASSERT_EQ(0, peers::Run("sox", {Q(source), Q(dir.file(name))}).exitCode);
    ASSERT_EQ(0, peers::Run("sox", {Q(source), "-c", "2", Q(dir.file("Wide.L.wav"))}).exitCode);
    ASSERT_EQ(0, peers::Run("sox", {Q(source), "-c", "2", Q(dir.file("Wide.R.wav"))}).exitCode);
    for (int k = 1; k <= 3; ++k)
        ASSERT_EQ(0, peers::Run("sox", {Q(source), Q(dir.file("Num." + std::to_string(k) + ".aiff"))}).exitCode);

    Grouped g = Group(dir.file("Mix.C.wav"));
    EXPECT_EQ(g.configuration, kChannelConfig5_1);
    ASSERT_EQ(g.members.size(), 6u);
    EXPECT_EQ(g.members.front(), dir.file("Mix.L.wav"));

    // Stereo members are not grouped.
    g = Group(dir.file("Wide.L.wav"));
    EXPECT_EQ(g.configuration, kChannelConfigMultichannel);
    EXPECT_TRUE(g.members.empty());

    SetRecognizeNumberFilesAsSplit(true);
    g = Group(dir.file("Num.2.aiff"));
    EXPECT_EQ(g.type, FOUR_CHAR_CODE("AIFF"));
    EXPECT_EQ(g.configuration, kChannelConfigMultichannel);
    EXPECT_EQ(g.name, "Split Multichannel");
    EXPECT_EQ(g.members.size(), 3u);
}

} // namespace
