// What every reader of the WAVE family makes of the same chunks.
//
// Markers: one hand-built file per type and per arrangement of its cue
// points ('cue ' with and without an 'adtl' list of labels, before the
// format chunk or after the data, between odd-sized chunks and lists of
// other kinds) gives the same markers in every class.
#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "PeerTools.h"
#include "RIFFBuilding.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using riffbuild::Body;
using riffbuild::Chunk;
using riffbuild::Cue;
using riffbuild::Label;
using riffbuild::List;

std::unique_ptr<CSoundFile> OpenDetected(const std::string& path, OSType* type, OSErr* err)
{
    *err = DetectFileType(path, type);
    if (*err)
        return nullptr;
    std::unique_ptr<CSoundFile> file(CreateSoundFileObject(*type));
    *err = file ? file->SetFile(path) : OSErr(paramErr);
    if (*err == noErr)
        *err = file->Open();
    return file;
}

// ------------------------------------------------------------- markers
constexpr UInt32 kFrames = 800;  // whole G.729 frames, two MS ADPCM blocks

const Chunk kFormat{"FORMAT", {}};
const Chunk kData{"data", {}};
const Chunk kInfo = List("INFO", {{"ISFT", Body().text("peer", 4).u8(0).b}});
const Chunk kOddJunk{"junk", {1, 2, 3}};

struct CueCase {
    const char* name;
    std::vector<Chunk> layout;
    std::vector<std::pair<UInt32, std::string>> markers;  // frame, name
};

void PrintTo(const CueCase& c, std::ostream* out)
{
    *out << c.name;
}

const std::vector<CueCase>& CueCases()
{
    const Chunk cue = Cue({{1, 100}, {2, 700}});
    static const std::vector<CueCase> cases = {
        {"LabelledAfterTheData",
         {kFormat, kData, cue, List("adtl", {Label(1, "one"), Label(2, "two")})},
         {{100, "one"}, {700, "two"}}},
        {"CuePointsWithoutLabels", {kFormat, kData, cue}, {{100, ""}, {700, ""}}},
        {"CueFirstAmongOddChunksAndOtherLists",
         {cue, kInfo, kFormat, kOddJunk, kData, List("adtl", {Label(1, "abcd"), Label(2, "xyz")})},
         {{100, "abcd"}, {700, "xyz"}}},
        {"LabelsBeforeTheirCuePoints",
         {kFormat, kInfo, List("adtl", {Label(2, "late")}), kOddJunk, kData, cue},
         {{100, ""}, {700, "late"}}},
        {"OnlyListsOfOtherKinds", {kFormat, kInfo, kData, kOddJunk, cue}, {{100, ""}, {700, ""}}},
    };
    return cases;
}

const std::vector<std::pair<const char*, OSType>>& FamilyTypes()
{
    static const std::vector<std::pair<const char*, OSType>> types = {
        {"WAVE", FOUR_CHAR_CODE("WAVE")}, {"Float", FOUR_CHAR_CODE("WVfl")}, {"MuLaw", FOUR_CHAR_CODE("WVau")},
        {"ALaw", FOUR_CHAR_CODE("WVal")}, {"BroadcastWave", FOUR_CHAR_CODE("BWLN")},
        {"MSADPCM", FOUR_CHAR_CODE("MSAP")}, {"G729", FOUR_CHAR_CODE("G729")},
    };
    return types;
}

class WAVEFamilyCues
    : public ::testing::TestWithParam<std::tuple<CueCase, std::pair<const char*, OSType>>> {
protected:
    static void SetUpTestSuite() { EngineStartup::registerFileTypes(); }
    void SetUp() override { SetProcessFileIfNoRegions(false); }
    TestTempDir dir;
};

TEST_P(WAVEFamilyCues, EveryClassReadsTheSameMarkers)
{
    const auto& [c, family] = GetParam();
    const std::string path = dir.file("cues.wav");
    peers::WriteAll(path, riffbuild::Assemble(riffbuild::FamilyChunks(family.second, kFrames), c.layout));
    OSType type = 0;
    OSErr err = noErr;
    const auto file = OpenDetected(path, &type, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(type, family.second);
    EXPECT_EQ(file->GetNumFrames(), kFrames);
    std::vector<std::pair<UInt32, std::string>> markers;
    for (UInt16 i = 0; i < file->GetNumMarkers(); ++i) {
        SFTMarker m;
        ASSERT_EQ(file->GetMarker(i, &m), noErr);
        markers.emplace_back(m.pos, std::string(reinterpret_cast<const char*>(m.name + 1), m.name[0]));
    }
    std::sort(markers.begin(), markers.end());
    EXPECT_EQ(markers, c.markers);
    EXPECT_EQ(file->GetNumRegions(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, WAVEFamilyCues, ::testing::Combine(::testing::ValuesIn(CueCases()), ::testing::ValuesIn(FamilyTypes())),
    [](const ::testing::TestParamInfo<WAVEFamilyCues::ParamType>& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).first;
    });

} // namespace
