// Grouping of split stereo, numbered and surround sets by file name, through
// type detection with grouping on (as the input-file model calls it).
#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "PCMFileTypes.h"
#include "DetectionFiles.h"
#include "SoundFileRegistry.h"
#include "SoundFileSwitches.h"
#include "SplitFileGrouping.h"
#include "TestTempDir.h"
#include "string_utils.h"

#include <gtest/gtest.h>

using namespace detection_files;

namespace {

struct Grouped {
    OSErr err = 1;
    OSType type = 0;
    SInt32 configuration = -1;
    std::vector<std::string> members;
    std::string name;
};

Grouped Group(const std::string& path)
{
    Grouped g;
    SInt32 recognized = 0;
    g.err = DetectFileType(path, &g.type, &recognized, &g.members, &g.name, &g.configuration, true);
    return g;
}

class SplitFileGroupingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearSoundFileRegistries();
        RegisterPCMFileTypes();
        SetRecognizeNumberFilesAsSplit(false);
    }
    void TearDown() override { SetRecognizeNumberFilesAsSplit(false); }

    std::string Make(const std::string& name, const Bytes& bytes)
    {
        const std::string path = dir.file(name);
        WriteFile(path, bytes);
        return path;
    }
    std::vector<std::string> Paths(const std::vector<std::string>& names)
    {
        std::vector<std::string> paths;
        for (const std::string& name : names)
            paths.push_back(dir.file(name));
        return paths;
    }

    TestTempDir dir;
};

TEST_F(SplitFileGroupingTest, ParisPairsIgnoreCase)
{
    Make("Take-L.paf", Paris(1));
    Make("take-r.paf", Paris(1, true));
    for (const char* start : {"Take-L.paf", "take-r.paf"}) {
        const Grouped g = Group(dir.file(start));
        ASSERT_EQ(g.err, noErr) << start;
        EXPECT_EQ(g.type, FOUR_CHAR_CODE(" paf"));
        EXPECT_EQ(g.configuration, kChannelConfigStereo) << start;
        EXPECT_EQ(g.name, "Split stereo");
        // Channel order, names as stored on disk.
        EXPECT_EQ(g.members, Paths({"Take-L.paf", "take-r.paf"})) << start;
    }
}

TEST_F(SplitFileGroupingTest, MissingOtherTypeOrCorruptPartner)
{
    // Only the left file.
    const std::string left = Make("Solo-L.paf", Paris(1));
    Grouped g = Group(left);
    EXPECT_EQ(g.err, noErr);
    EXPECT_EQ(g.configuration, kChannelConfigMono);
    EXPECT_TRUE(g.members.empty());
    EXPECT_TRUE(g.name.empty());

    // The right file is a WAVE file.
    Make("Solo-R.paf", Wave());
    g = Group(left);
    EXPECT_EQ(g.configuration, kChannelConfigMono);
    EXPECT_TRUE(g.members.empty());

    // The right file exists but cannot be detected (a NeXT header with an
    // encoding that cannot be read): the left one is still readable alone.
    Make("Solo-R.paf", NeXT(23));
    g = Group(left);
    EXPECT_EQ(g.err, noErr);
    EXPECT_EQ(g.type, FOUR_CHAR_CODE(" paf"));
    EXPECT_EQ(g.configuration, kChannelConfigMono);

    // A stereo Paris file is never grouped.
    const std::string stereo = Make("Wide-L.paf", Paris(2));
    Make("Wide-R.paf", Paris(2));
    g = Group(stereo);
    EXPECT_EQ(g.configuration, kChannelConfigMultichannel);
    EXPECT_TRUE(g.members.empty());
}

TEST_F(SplitFileGroupingTest, SonicPairWithoutExtension)
{
    Make("Take.1", Aiff(1, "SSYS"));
    Make("Take.2", Aiff(1, "SSYS"));
    const Grouped g = Group(dir.file("Take.2"));
    EXPECT_EQ(g.type, FOUR_CHAR_CODE("SAIF"));
    EXPECT_EQ(g.configuration, kChannelConfigStereo);
    EXPECT_EQ(g.members, Paths({"Take.1", "Take.2"}));
}

TEST_F(SplitFileGroupingTest, NumberedSets)
{
    for (int k = 1; k <= 6; ++k)
        Make("Mix." + std::to_string(k) + ".wav", Wave());
    std::vector<std::string> six;
    for (int k = 1; k <= 6; ++k)
        six.push_back(dir.file("Mix." + std::to_string(k) + ".wav"));

    // Switch off: no numbered set.
    Grouped g = Group(dir.file("Mix.3.wav"));
    EXPECT_EQ(g.configuration, kChannelConfigMono);

    SetRecognizeNumberFilesAsSplit(true);
    g = Group(dir.file("Mix.3.wav"));
    EXPECT_EQ(g.configuration, kChannelConfigMultichannel);
    EXPECT_EQ(g.name, "Split Multichannel");
    EXPECT_EQ(g.members, six);

    // A gap at 4: Mix.5 is no member, Mix.2 heads a set of three.
    ASSERT_EQ(std::remove(dir.file("Mix.4.wav").c_str()), 0);
    g = Group(dir.file("Mix.5.wav"));
    EXPECT_EQ(g.configuration, kChannelConfigMono);
    EXPECT_TRUE(g.members.empty());
    g = Group(dir.file("Mix.2.wav"));
    EXPECT_EQ(g.members, Paths({"Mix.1.wav", "Mix.2.wav", "Mix.3.wav"}));

    // A corrupt member ends the set like a gap.
    Make("Mix.2.wav", Bytes(3, 0));
    g = Group(dir.file("Mix.1.wav"));
    EXPECT_EQ(g.configuration, kChannelConfigMono);
    g = Group(dir.file("Mix.3.wav"));
    EXPECT_EQ(g.configuration, kChannelConfigMono);
}

TEST_F(SplitFileGroupingTest, NumberedSetsUpToSixteen)
{
    SetRecognizeNumberFilesAsSplit(true);
    std::vector<std::string> all;
    for (int k = 1; k <= 17; ++k)
        Make("Big." + std::to_string(k) + ".aif", Aiff(1));
    for (int k = 1; k <= 16; ++k)
        all.push_back(dir.file("Big." + std::to_string(k) + ".aif"));
    for (const char* start : {"Big.1.aif", "Big.9.aif", "Big.12.aif", "Big.16.aif"}) {
        const Grouped g = Group(dir.file(start));
        EXPECT_EQ(g.configuration, kChannelConfigMultichannel) << start;
        EXPECT_EQ(g.members, all) << start;
    }
    // 17 is beyond a set; 0 and leading zeros are no set numbers.
    EXPECT_EQ(Group(dir.file("Big.17.aif")).configuration, kChannelConfigMono);
    Make("Big.0.aif", Aiff(1));
    Make("Big.01.aif", Aiff(1));
    EXPECT_EQ(Group(dir.file("Big.0.aif")).configuration, kChannelConfigMono);
    EXPECT_EQ(Group(dir.file("Big.01.aif")).configuration, kChannelConfigMono);
}

TEST_F(SplitFileGroupingTest, ZeroNumberedFileIsNeverDropped)
{
    SetRecognizeNumberFilesAsSplit(true);
    Make("Zero.0.wav", Wave());
    Make("Zero.1.wav", Wave());
    Make("Zero.2.wav", Wave());
    // The .0 file stands alone instead of becoming a set it is not part of.
    Grouped g = Group(dir.file("Zero.0.wav"));
    EXPECT_EQ(g.configuration, kChannelConfigMono);
    EXPECT_TRUE(g.members.empty());
    g = Group(dir.file("Zero.1.wav"));
    EXPECT_EQ(g.members, Paths({"Zero.1.wav", "Zero.2.wav"}));
}

TEST_F(SplitFileGroupingTest, SurroundSetsInChannelOrder)
{
    const std::vector<std::string> order = {"L", "R", "C", "LFE", "Ls", "Rs"};
    // Mixed case on disk.
    Make("Mix.L.wav", Wave());
    Make("mix.r.wav", Wave());
    Make("MIX.C.wav", Wave());
    Make("Mix.lfe.wav", Wave(1, 1, true)); // Broadcast Wave: another type
    Make("Mix.Ls.wav", Wave());
    Make("Mix.RS.wav", Wave());

    // LFE is of another type: the largest set without it is 5.0.
    Grouped g = Group(dir.file("mix.r.wav"));
    EXPECT_EQ(g.configuration, kChannelConfig5_0);
    EXPECT_EQ(g.name, "5.0 Surround");
    EXPECT_EQ(g.members, Paths({"Mix.L.wav", "mix.r.wav", "Mix.Ls.wav", "Mix.RS.wav", "MIX.C.wav"}));

    Make("Mix.lfe.wav", Wave());
    for (const char* start : {"Mix.L.wav", "Mix.lfe.wav", "Mix.RS.wav"}) {
        g = Group(dir.file(start));
        EXPECT_EQ(g.configuration, kChannelConfig5_1) << start;
        EXPECT_EQ(g.name, "5.1 Surround");
        EXPECT_EQ(g.members, Paths({"Mix.L.wav", "mix.r.wav", "MIX.C.wav", "Mix.lfe.wav", "Mix.Ls.wav", "Mix.RS.wav"}))
            << start;
    }
    // A seventh channel makes it 6.1.
    Make("Mix.Cs.wav", Wave());
    g = Group(dir.file("Mix.Cs.wav"));
    EXPECT_EQ(g.configuration, kChannelConfig6_1);
    EXPECT_EQ(g.members.size(), 7u);
    EXPECT_EQ(g.members.back(), dir.file("Mix.Cs.wav"));

    // An extension spelled otherwise than the readable set holds it: none.
    Make("Up.L.WAV", Wave());
    Make("Up.R.WAV", Wave());
    EXPECT_EQ(Group(dir.file("Up.L.WAV")).configuration, kChannelConfigMono);
}

TEST_F(SplitFileGroupingTest, StereoIndicatorStyles)
{
    for (const auto& pair : std::vector<std::pair<std::string, std::string>>{
             {"A.L.wav", "A.R.wav"}, {"B-L.wav", "B-R.wav"}, {"C(l).wav", "C(r).wav"}, {"D (L).aif", "D (R).aif"},
             {"E.l.aif", "E.r.aif"}}) {
        const bool aiff = pair.first.find(".aif") != std::string::npos;
        Make(pair.first, aiff ? Aiff(1) : Wave());
        Make(pair.second, aiff ? Aiff(1) : Wave());
        const Grouped g = Group(dir.file(pair.second));
        EXPECT_EQ(g.configuration, kChannelConfigStereo) << pair.first;
        EXPECT_EQ(g.name, "Split stereo") << pair.first;
        EXPECT_EQ(g.members, Paths({pair.first, pair.second})) << pair.first;
    }
}

TEST_F(SplitFileGroupingTest, IndicatorsCountOnlyAtTheEnd)
{
    Make("Verse-L.aif", Aiff(1));
    Make("Verse-R.aif", Aiff(1));
    Make("Verse-Lead.aif", Aiff(1));
    Make("Mix.L.wav", Wave());
    Make("Mix.R.wav", Wave());
    Make("Mix.Left.wav", Wave());
    Make("Mix.L-take2.wav", Wave());
    for (const char* name : {"Verse-Lead.aif", "Mix.Left.wav", "Mix.L-take2.wav"}) {
        const Grouped g = Group(dir.file(name));
        EXPECT_EQ(g.err, noErr) << name;
        EXPECT_EQ(g.configuration, kChannelConfigMono) << name;
        EXPECT_TRUE(g.members.empty()) << name;
    }
    EXPECT_EQ(Group(dir.file("Verse-L.aif")).configuration, kChannelConfigStereo);
}

TEST_F(SplitFileGroupingTest, StandAloneAndStereoFiles)
{
    const Grouped mono = Group(Make("alone.wav", Wave()));
    EXPECT_EQ(mono.configuration, kChannelConfigMono);
    EXPECT_TRUE(mono.members.empty());
    EXPECT_TRUE(mono.name.empty());

    Make("Pair.L.wav", Wave(1, 2));
    const Grouped stereo = Group(Make("Pair.R.wav", Wave(1, 2)));
    EXPECT_EQ(stereo.configuration, kChannelConfigMultichannel);
    EXPECT_TRUE(stereo.members.empty());

    // Types that never form sets keep configuration 11.
    Make("Voice.L.voc", Voc({1}));
    EXPECT_EQ(Group(Make("Voice.R.voc", Voc({1}))).configuration, kChannelConfigMultichannel);
}

TEST_F(SplitFileGroupingTest, SurroundBaseName)
{
    for (const auto& [path, base] : std::initializer_list<std::pair<const char*, const char*>>{
             {"/x/Mix.L.wav", "Mix"}, {"Mix.ls.wav", "Mix"}, {"Mix.LFE", "Mix"}, {"Take.3", "Take"},
             {"Big.16.aif", "Big"}, {"Song.2024.wav", "Song.2024"}, {"Big.17.aif", "Big.17"},
             {"Take.0.wav", "Take.0"}, {"Mix.Left.wav", "Mix.Left"}, {"Mix.L-take2.wav", "Mix.L-take2"},
             {"Verse-Lead.aif", "Verse-Lead"}, {"plain.wav", "plain"}, {"noext", "noext"}})
        EXPECT_EQ(surround_base_name(path), base) << path;
}

TEST_F(SplitFileGroupingTest, PartnerSearchDirectly)
{
    Make("P.a.wav", Wave());
    Make("P.b.wav", Wave());
    const std::vector<std::string> suffixes = {".a", ".b"};
    const IndicatorPatternsPtr patterns = MakeIndicatorPatterns(suffixes);
    std::vector<std::string> members{"stale"};
    EXPECT_TRUE(DetectPartnerFile(dir.file("P.b.wav"), FOUR_CHAR_CODE("WAVE"), *patterns, suffixes, &members));
    EXPECT_EQ(members, Paths({"P.a.wav", "P.b.wav"}));
    EXPECT_FALSE(DetectPartnerFile(dir.file("P.b.wav"), FOUR_CHAR_CODE("AIFF"), *patterns, suffixes, &members));
    EXPECT_TRUE(members.empty());
    EXPECT_FALSE(DetectPartnerFile(dir.file("nodot"), FOUR_CHAR_CODE("WAVE"), *patterns, suffixes, &members));
    // Out-of-range positions are refused.
    EXPECT_FALSE(DetectNumberedPartner(dir.file("P.a.wav"), FOUR_CHAR_CODE("WAVE"), 100000, &members));
    EXPECT_FALSE(DetectNumberedPartner(dir.file("P.a.wav"), FOUR_CHAR_CODE("WAVE"), 0, &members, 0));

    const std::vector<SurroundSetRow> rows = GetSurroundSetRows();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front().configuration, kChannelConfigStereo);
}

} // namespace
