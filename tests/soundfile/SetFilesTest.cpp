// Split stereo and surround sets over in-memory member files: member
// naming, interleaving at every word length, members of different lengths,
// consistency checks, creation and CloseAndDelete.
#include "CSplitFile.h"
#include "CSurroundFile.h"
#include "CreateSoundFile.h"
#include "PathMemoryFile.h"
#include "SetFileTypes.h"
#include "TestTempDir.h"
#include "format_type_codes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

constexpr OSType kSfil = PathMemoryFile::kStoreType;
constexpr OSType kSplt = format_type_codes::kSplitSet;
constexpr OSType kSrnd = format_type_codes::kSurroundSet;

std::vector<SInt16> Ramp(std::size_t frames, SInt16 start, SInt16 step)
{
    std::vector<SInt16> samples(frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[i] = SInt16(start + SInt16(i % 1000) * step);
    return samples;
}

std::string MemberName(CSoundFile* member)
{
    FSSpec spec;
    member->GetFSSpec(&spec);
    return spec.name;
}

class SetFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PathMemoryFile::Register();
        RegisterSetFileTypes();
        PathMemoryFile::store().clear();
        PathMemoryFile::garbageTail() = false;
        CSplitFile::SetSonicPairDigit(0);
    }
    void TearDown() override
    {
        PathMemoryFile::store().clear();
        PathMemoryFile::garbageTail() = false;
        unsetenv("SurroundFileDebug");
    }

    std::unique_ptr<CSplitFile> MakeSplit(OSType member = kSfil)
    {
        return std::unique_ptr<CSplitFile>(static_cast<CSplitFile*>(CreateSoundFileObject(kSplt, member)));
    }
    std::unique_ptr<CSurroundFile> MakeSurround(OSType member = kSfil)
    {
        return std::unique_ptr<CSurroundFile>(static_cast<CSurroundFile*>(CreateSoundFileObject(kSrnd, member)));
    }
    // Paths of mono members Name + suffix, filled from the ramps.
    std::vector<std::string> PutMembers(const std::string& name, const std::vector<std::string>& suffixes,
                                        const std::vector<std::size_t>& lengths)
    {
        std::vector<std::string> paths;
        for (std::size_t k = 0; k < suffixes.size(); ++k) {
            paths.push_back(dir.file(name + suffixes[k]));
            PathMemoryFile::PutMono16(paths.back(), Ramp(lengths[k], SInt16(100 * (k + 1)), SInt16(k + 1)));
        }
        return paths;
    }

    TestTempDir dir;
};

// ----------------------------------------------------------- member names
TEST_F(SetFilesTest, SplitMemberNamesFollowTheIndicatorRules)
{
    struct Case {
        const char* name;
        OSType type;
        const char* left;
        const char* right;
    };
    const Case cases[] = {
        {"Take.L", kSfil, "Take.L", "Take.R"},
        {"Take(l)", kSfil, "Take(l)", "Take(r)"},
        {"Take-L", kSfil, "Take-L", "Take-R"},
        {"Out", FOUR_CHAR_CODE("WAVE"), "Out.L", "Out.R"},
        {"Out", FOUR_CHAR_CODE(" paf"), "Out-L", "Out-R"},
        // A left indicator of letters gives way to the type's own pair
        // indicators (a region's file "Verse" + ".L").
        {"Verse.L", FOUR_CHAR_CODE(" paf"), "Verse-L", "Verse-R"},
        {"Verse(l)", FOUR_CHAR_CODE("SAIF"), "Verse.1", "Verse.2"},
        {"Verse-L.L", FOUR_CHAR_CODE(" paf"), "Verse-L-L", "Verse-L-R"},
        // Only an indicator at the end of the name counts.
        {"Mix.l-L", kSfil, "Mix.l-L", "Mix.l-R"},
        {"Vocal.lead", FOUR_CHAR_CODE("WAVE"), "Vocal.lead.L", "Vocal.lead.R"},
        {"Vocal.lead.L", kSfil, "Vocal.lead.L", "Vocal.lead.R"},
    };
    for (const Case& c : cases) {
        std::string left, right;
        CSplitFile::MemberNames(c.name, c.type, &left, &right);
        EXPECT_EQ(left, c.left) << c.name;
        EXPECT_EQ(right, c.right) << c.name;
    }
    EXPECT_EQ(CSplitFile::StripMemberIndicator("Vocal.lead.L"), "Vocal.lead");
    EXPECT_EQ(CSplitFile::StripLeftChannelSuffix("Vocal.lead"), "Vocal.lead");

    // Numbered pairs remember their digit for the next Sonic output pair,
    // which consumes it.
    std::string left, right;
    CSplitFile::MemberNames("Mix.3", kSfil, &left, &right);
    EXPECT_EQ(left, "Mix.3");
    EXPECT_EQ(right, "Mix.4");
    EXPECT_EQ(CSplitFile::GetSonicPairDigit(), '3');
    CSplitFile::MemberNames("Out", FOUR_CHAR_CODE("SAIF"), &left, &right);
    EXPECT_EQ(left, "Out.3");
    EXPECT_EQ(right, "Out.4");
    EXPECT_EQ(CSplitFile::GetSonicPairDigit(), 0);
    CSplitFile::MemberNames("Out", FOUR_CHAR_CODE("SAIF"), &left, &right);
    EXPECT_EQ(left, "Out.1");
    EXPECT_EQ(right, "Out.2");
}

TEST_F(SetFilesTest, SplitSetFileNamesMembersAndKeepsTheBaseName)
{
    auto split = MakeSplit();
    FSSpec spec{dir.path(), "Take.L"};
    ASSERT_EQ(split->SetFile(&spec), noErr);
    ASSERT_NE(split->GetLeftFile(), nullptr);
    EXPECT_EQ(MemberName(split->GetLeftFile()), "Take.L");
    EXPECT_EQ(MemberName(split->GetRightFile()), "Take.R");
    FSSpec own;
    split->GetFSSpec(&own);
    EXPECT_EQ(own.name, "Take");
    EXPECT_EQ(own.parent, dir.path());
    EXPECT_EQ(split->GetName(), QStringLiteral("Take"));
    ASSERT_EQ(split->GetSubFiles()->size(), 2u);

    // A name whose set name equals the left member's (numbered pair).
    FSSpec song{dir.path(), "Song.3"};
    ASSERT_EQ(split->SetFile(&song), noErr);
    Str255 name = {0};
    split->GetFileName(name);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "Song_2");
}

TEST_F(SetFilesTest, SplitMemberListMustHoldTwoPaths)
{
    auto split = MakeSplit();
    EXPECT_EQ(split->SetFile(std::vector<std::string>{dir.file("a")}), paramErr);
    EXPECT_EQ(split->SetFile(std::vector<std::string>{dir.file("a"), dir.file("b"), dir.file("c")}), paramErr);
    // A member in a folder that does not exist fails the whole set.
    EXPECT_NE(split->SetFile(std::vector<std::string>{dir.file("a"), dir.file("no/such/b")}), noErr);
    EXPECT_EQ(split->GetLeftFile(), nullptr);
    EXPECT_EQ(split->GetRightFile(), nullptr);
}

// ------------------------------------------------------------------ reading
TEST_F(SetFilesTest, SplitReadsTheLongerLengthWithSilenceOnTheShortSide)
{
    PathMemoryFile::garbageTail() = true;  // the short member leaves junk past its end
    const auto paths = PutMembers("Take", {".L", ".R"}, {10000, 12000});
    auto split = MakeSplit();
    ASSERT_EQ(split->SetFile(paths), noErr);
    ASSERT_EQ(split->SetBufferFrames(4096), noErr);
    ASSERT_EQ(split->Open(), noErr);
    EXPECT_EQ(split->GetNumFrames(), 12000u);
    EXPECT_EQ(split->GetNumChannels(), 2);
    EXPECT_EQ(split->GetFormatName(), QStringLiteral("Split stereo Memory"));
    EXPECT_EQ(split->GetFileType(), kSfil);
    EXPECT_EQ(split->GetChannelKind(), 4);
    EXPECT_TRUE(split->IsSplit());

    const auto left = Ramp(10000, 100, 1);
    const auto right = Ramp(12000, 200, 2);
    std::vector<double> frames(2 * 12000);
    UInt32 count = 12000;
    ASSERT_EQ(split->ReadFrames(0, &count, frames.data()), noErr);
    ASSERT_EQ(count, 12000u);
    for (std::size_t i = 0; i < 12000; ++i) {
        const double l = i < 10000 ? left[i] * kScale16 : 0.0;
        ASSERT_DOUBLE_EQ(frames[2 * i], l) << "frame " << i;
        ASSERT_DOUBLE_EQ(frames[2 * i + 1], right[i] * kScale16) << "frame " << i;
    }
    EXPECT_EQ(split->Close(), noErr);
    EXPECT_FALSE(split->GetLeftFile()->IsOpen());
    EXPECT_FALSE(split->GetRightFile()->IsOpen());
}

TEST_F(SetFilesTest, SplitRefusesMembersThatDoNotMatch)
{
    const auto paths = PutMembers("Take", {".L", ".R"}, {100, 100});
    PathMemoryFile::store()[paths[1]].rate = 48000.0;
    auto split = MakeSplit();
    ASSERT_EQ(split->SetFile(paths), noErr);
    EXPECT_EQ(split->Open(), kSplitNotConsistentErr);
    EXPECT_FALSE(split->IsOpen());
    // Nothing stays open behind a set that did not open.
    EXPECT_FALSE(split->GetLeftFile()->IsOpen());
    EXPECT_FALSE(split->GetRightFile()->IsOpen());

    PathMemoryFile::store()[paths[1]].rate = 44100.0;
    PathMemoryFile::store()[paths[1]].channels = 2;
    PathMemoryFile::store()[paths[1]].data.resize(400);
    EXPECT_EQ(split->Open(), kSplitNotConsistentErr);
}

TEST_F(SetFilesTest, SplitRegionNamesOfBroadcastWaveMembersLoseTheirIndicator)
{
    const auto paths = PutMembers("Take", {".L", ".R"}, {1000, 1000});
    SFTRegion region;
    region.start = 10;
    region.end = 500;
    const char name[] = "Intro.L";
    region.name[0] = sizeof name - 1;
    std::memcpy(region.name + 1, name, sizeof name - 1);
    PathMemoryFile::store()[paths[0]].regions.push_back(region);

    auto split = MakeSplit(FOUR_CHAR_CODE("BWLN"));
    ASSERT_EQ(split->SetFile(paths), noErr);
    ASSERT_EQ(split->Open(), noErr);
    ASSERT_EQ(split->GetNumRegions(), 1);
    SFTRegion out;
    ASSERT_EQ(split->GetRegion(0, &out), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.name + 1), out.name[0]), "Intro");
    ASSERT_NE(split->GetRegionObject(0), nullptr);
    EXPECT_EQ(split->GetRegionObject(0)->name(), QStringLiteral("Intro"));
    // The member's own region keeps its name.
    EXPECT_EQ(split->GetLeftFile()->GetRegionObject(0)->name(), QStringLiteral("Intro.L"));
    split->Close();
}

// ------------------------------------------------------------------ writing
class SetFilesWordLengthTest : public SetFilesTest, public ::testing::WithParamInterface<int> {};

TEST_P(SetFilesWordLengthTest, SplitWritesEachChannelToItsMemberAndReadsItBack)
{
    const SInt16 bits = SInt16(GetParam());
    auto split = MakeSplit();
    FSSpec spec{dir.path(), "Out"};
    ASSERT_EQ(split->SetFile(&spec), noErr);
    ASSERT_EQ(split->SetBufferFrames(1000), noErr);
    split->SetDither(false);
    ASSERT_EQ(split->Create(2, bits, 0, nullptr, nullptr, 48000.0f), noErr);
    const UInt32 frames = 2500;
    std::vector<double> samples(2 * frames);
    for (UInt32 i = 0; i < frames; ++i) {
        samples[2 * i] = 0.5 * double(i % 100) / 100.0;
        samples[2 * i + 1] = -0.25 * double(i % 37) / 37.0;
    }
    std::vector<double> written = samples;
    UInt32 count = frames;
    ASSERT_EQ(split->WriteFrames(0, &count, written.data()), noErr);
    EXPECT_EQ(split->GetNumFrames(), frames);
    ASSERT_EQ(split->Close(), noErr);

    const std::string leftPath = dir.file("Out.L");
    const std::string rightPath = dir.file("Out.R");
    ASSERT_EQ(PathMemoryFile::store().count(leftPath), 1u);
    ASSERT_EQ(PathMemoryFile::store().count(rightPath), 1u);
    EXPECT_EQ(PathMemoryFile::store()[leftPath].channels, 1);
    EXPECT_EQ(PathMemoryFile::store()[leftPath].data.size(), std::size_t(frames) * (bits / 8));

    auto reader = MakeSplit();
    ASSERT_EQ(reader->SetFile(std::vector<std::string>{leftPath, rightPath}), noErr);
    ASSERT_EQ(reader->Open(), noErr);
    ASSERT_EQ(reader->GetNumFrames(), frames);
    std::vector<double> back(2 * frames);
    count = frames;
    ASSERT_EQ(reader->ReadFrames(0, &count, back.data()), noErr);
    const double tolerance = bits == 8 ? 1.0 / 64 : 1.0 / 16384;
    for (UInt32 i = 0; i < 2 * frames; ++i)
        ASSERT_NEAR(back[i], samples[i], tolerance) << "sample " << i;
    reader->Close();
}

TEST_P(SetFilesWordLengthTest, SurroundWritesEveryChannelToItsMember)
{
    const SInt16 bits = SInt16(GetParam());
    auto set = MakeSurround();
    FSSpec spec{dir.path(), "Mix"};
    ASSERT_EQ(set->MakeChannelFiles(&spec, 11, 3), noErr);
    ASSERT_EQ(set->GetMemberCount(), 3u);
    set->SetDither(false);
    ASSERT_EQ(set->Create(3, bits, 0, nullptr, nullptr, 44100.0f), noErr);
    const UInt32 frames = 20000;  // more than one block
    std::vector<double> samples(3 * frames);
    for (UInt32 i = 0; i < frames; ++i)
        for (int k = 0; k < 3; ++k)
            samples[3 * i + k] = (k + 1) * 0.2 * double(i % 50) / 50.0 - 0.3;
    std::vector<double> written = samples;
    UInt32 count = frames;
    ASSERT_EQ(set->WriteFrames(0, &count, written.data()), noErr);
    ASSERT_EQ(set->Close(), noErr);

    std::vector<std::string> paths;
    for (const char* suffix : {".1", ".2", ".3"})
        paths.push_back(dir.file(std::string("Mix") + suffix));
    auto reader = MakeSurround();
    ASSERT_EQ(reader->SetFile(paths), noErr);
    ASSERT_EQ(reader->Open(), noErr);
    std::vector<double> back(3 * frames);
    count = frames;
    ASSERT_EQ(reader->ReadFrames(0, &count, back.data()), noErr);
    ASSERT_EQ(count, frames);
    const double tolerance = bits == 8 ? 1.0 / 64 : 1.0 / 16384;
    for (UInt32 i = 0; i < 3 * frames; ++i)
        ASSERT_NEAR(back[i], samples[i], tolerance) << "sample " << i;

    // One channel straight from its member, across blocks.
    std::vector<float> channel(frames);
    count = frames;
    ASSERT_EQ(reader->ReadChannelFrames(UInt16(2), 0, &count, channel.data()), noErr);
    ASSERT_EQ(count, frames);
    for (UInt32 i = 0; i < frames; ++i)
        ASSERT_NEAR(channel[i], samples[3 * i + 2], tolerance) << "frame " << i;
    count = 10;
    EXPECT_EQ(reader->ReadChannelFrames(UInt16(0), frames, &count, channel.data()), noErr);
    EXPECT_EQ(count, 0u);
    reader->Close();
}

INSTANTIATE_TEST_SUITE_P(WordLengths, SetFilesWordLengthTest, ::testing::Values(8, 16, 24, 32));

// ------------------------------------------------------------ CloseAndDelete
TEST_F(SetFilesTest, CloseAndDeleteEndsEveryMemberAndReturnsTheFirstError)
{
    struct Case {
        OSType set;
        const char* stem;
        std::vector<std::string> suffixes;
        std::vector<std::pair<int, OSErr>> closeErrors;  // member index, its close's error
        bool deleteFiles;
    };
    const Case cases[] = {
        {kSplt, "Take", {".L", ".R"}, {{0, ioErr}}, true},
        {kSrnd, "Mix", {".L", ".R", ".C", ".LFE", ".Ls", ".Rs"}, {{2, wrPermErr}, {4, ioErr}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stem);
        const auto paths = PutMembers(c.stem, c.suffixes, std::vector<std::size_t>(c.suffixes.size(), 100));
        for (const auto& [member, err] : c.closeErrors)
            PathMemoryFile::store()[paths[member]].closeError = err;
        const int live = PathMemoryFile::liveCount();
        CSoundFile* set = CreateSoundFileObject(c.set, kSfil);
        ASSERT_EQ(set->SetFile(paths), noErr);
        ASSERT_EQ(set->Open(), noErr);
        EXPECT_EQ(PathMemoryFile::liveCount(), live + int(paths.size()));
        EXPECT_EQ(set->CloseAndDelete(c.deleteFiles), c.closeErrors.front().second);
        EXPECT_EQ(PathMemoryFile::liveCount(), live);
    }
}

// ----------------------------------------------------------------- surround
TEST_F(SetFilesTest, SurroundReadsEveryMemberWithSilencePastAShortOne)
{
    PathMemoryFile::garbageTail() = true;
    const std::vector<std::size_t> lengths = {5000, 5000, 3000, 5000, 5000, 5000};
    const auto paths = PutMembers("Mix", {".L", ".R", ".C", ".LFE", ".Ls", ".Rs"}, lengths);
    auto set = MakeSurround();
    ASSERT_EQ(set->SetFile(paths), noErr);
    set->SetSurroundSetName("5.1 Surround");
    ASSERT_EQ(set->SetBufferFrames(2048), noErr);
    ASSERT_EQ(set->Open(), noErr);
    EXPECT_EQ(set->GetNumChannels(), 6);
    EXPECT_EQ(set->GetNumFrames(), 5000u);
    EXPECT_EQ(set->GetFormatName(), QStringLiteral("5.1 Surround Memory"));
    EXPECT_EQ(set->GetChannelKind(), 5);

    std::vector<double> frames(6 * 5000);
    UInt32 count = 5000;
    ASSERT_EQ(set->ReadFrames(0, &count, frames.data()), noErr);
    ASSERT_EQ(count, 5000u);
    for (std::size_t k = 0; k < 6; ++k) {
        const auto ramp = Ramp(lengths[k], SInt16(100 * (k + 1)), SInt16(k + 1));
        for (std::size_t i = 0; i < 5000; ++i) {
            const double expected = i < lengths[k] ? ramp[i] * kScale16 : 0.0;
            ASSERT_DOUBLE_EQ(frames[6 * i + k], expected) << "channel " << k << " frame " << i;
        }
    }
    std::vector<float> centre(5000, 1.0f);
    count = 5000;
    ASSERT_EQ(set->ReadChannelFrames(UInt16(2), 0, &count, centre.data()), noErr);
    EXPECT_EQ(count, 5000u);
    EXPECT_EQ(centre[3500], 0.0f);
    EXPECT_EQ(set->ReadChannelFrames(UInt16(6), 0, &count, centre.data()), paramErr);

    EXPECT_EQ(set->GetChannelName(0), "Left");
    EXPECT_EQ(set->GetChannelName(4), "Left surround");
    setenv("SurroundFileDebug", "1", 1);
    EXPECT_EQ(set->GetChannelName(0), "Left [Mix.L]");
    unsetenv("SurroundFileDebug");
    set->SetSurroundSetName("Split Multichannel");
    EXPECT_EQ(set->GetChannelName(2), "3");
    EXPECT_EQ(set->Close(), noErr);
}

TEST_F(SetFilesTest, SurroundRefusesMembersThatDoNotMatch)
{
    const auto paths = PutMembers("Mix", {".L", ".R", ".C"}, {100, 100, 100});
    PathMemoryFile::store()[paths[2]].rate = 48000.0;
    auto set = MakeSurround();
    ASSERT_EQ(set->SetFile(paths), noErr);
    EXPECT_EQ(set->Open(), paramErr);
    for (CSoundFile* member : *set->GetSubFiles())
        EXPECT_FALSE(member->IsOpen());

    PathMemoryFile::store()[paths[2]].rate = 44100.0;
    PathMemoryFile::store()[paths[1]].channels = 2;
    PathMemoryFile::store()[paths[1]].data.resize(400);
    EXPECT_EQ(set->Open(), paramErr);

    // An empty set opens with no channels.
    auto empty = MakeSurround();
    ASSERT_EQ(empty->SetFile(std::vector<std::string>{}), noErr);
    EXPECT_EQ(empty->Open(), noErr);
    EXPECT_EQ(empty->GetNumChannels(), 0);
}

TEST_F(SetFilesTest, SurroundMemberListIsLimitedTo200)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 200; ++i)
        paths.push_back(dir.file("m." + std::to_string(i)));
    auto set = MakeSurround();
    EXPECT_EQ(set->SetFile(paths), noErr);
    EXPECT_EQ(set->GetMemberCount(), 200u);
    paths.push_back(dir.file("m.200"));
    EXPECT_EQ(set->SetFile(paths), tmfoErr);
}

TEST_F(SetFilesTest, SurroundCreateNeedsAMemberForEveryChannel)
{
    auto set = MakeSurround();
    FSSpec spec{dir.path(), "Out.L"};
    ASSERT_EQ(set->MakeChannelFiles(&spec, 2, 0), noErr);  // LCR: .L .C .R
    ASSERT_EQ(set->GetMemberCount(), 3u);
    EXPECT_EQ(set->GetNumChannels(), 3);
    EXPECT_EQ(MemberName((*set->GetSubFiles())[0]), "Out.L");
    EXPECT_EQ(MemberName((*set->GetSubFiles())[1]), "Out.C");
    EXPECT_EQ(MemberName((*set->GetSubFiles())[2]), "Out.R");
    EXPECT_EQ(set->GetChannelConfiguration(), 2);

    // Six channels on three members: refused before anything is made.
    EXPECT_EQ(set->Create(6, 16, 0, nullptr, nullptr, 44100.0f), paramErr);
    EXPECT_FALSE(set->IsOpen());
    EXPECT_TRUE(PathMemoryFile::store().empty());

    // A member that cannot be created fails the set, and the ones made
    // before it are closed again.
    static_cast<PathMemoryFile*>((*set->GetSubFiles())[1])->failCreate = dskFulErr;
    EXPECT_EQ(set->Create(3, 16, 0, nullptr, nullptr, 44100.0f), dskFulErr);
    EXPECT_FALSE(set->IsOpen());
    EXPECT_FALSE((*set->GetSubFiles())[0]->IsOpen());

    auto numbered = MakeSurround();
    FSSpec out{dir.path(), "Num"};
    ASSERT_EQ(numbered->MakeChannelFiles(&out, 0, 4), noErr);
    ASSERT_EQ(numbered->GetMemberCount(), 4u);
    EXPECT_EQ(MemberName((*numbered->GetSubFiles())[3]), "Num.4");

    // Member names beyond the file-name limit are refused, not cut.
    FSSpec longName{dir.path(), std::string(254, 'x')};
    EXPECT_EQ(numbered->MakeChannelFiles(&longName, 0, 2), bdNamErr);
    EXPECT_EQ(numbered->GetMemberCount(), 0u);
}

} // namespace
