// The audio CD image: shape from the length, tracks from the PQ descriptor
// beside it, the written layout and damaged descriptors (sox reading our
// images and we sox's are in the conformance suite).
#include "CImageDATFile.h"
#include "FileManager.h"
#include "IFF8SVXAVRCDFileTypes.h"
#include "IFF8SVXAVRCDTestSupport.h"
#include "MacRoman.h"
#include "SoundFileRegistry.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using namespace smallpcm;

namespace {

class ImageDATFileTest : public ::testing::Test {
protected:
    void SetUp() override { SetProcessFileIfNoRegions(false); }
    void TearDown() override { SetProcessFileIfNoRegions(false); }
    TestTempDir dir;
};

// One 64-byte descriptor record.
std::string Record(const char* type, const char* track, int index, int h, int m, int s, int f)
{
    char text[65];
    std::snprintf(text, sizeof text, "%.4s%.2s%02d%02d%02d%02d%02d", type, track, index, h, m, s, f);
    std::string out(text);
    out.resize(64, ' ');
    return out;
}

void WriteText(const std::string& path, const std::string& text)
{
    WriteAll(path, std::vector<UInt8>(text.begin(), text.end()));
}

// An image of `frames` frames without writing them (a sparse file).
void MakeImage(const std::string& path, SInt64 frames)
{
    const std::size_t slash = path.rfind('/');
    FSSpec spec;
    ASSERT_EQ(FSMakeFSSpec(path.substr(0, slash), path.substr(slash + 1), &spec), fnfErr);  // not there yet
    ASSERT_EQ(FSpCreate(&spec, 0, 0, 0), noErr);
    SInt16 refNum = 0;
    ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &refNum), noErr);
    ASSERT_EQ(SetEOF(refNum, frames * 4), noErr);
    ASSERT_EQ(FSClose(refNum), noErr);
}

struct RegionRow {
    QString name;
    UInt32 start;
    UInt32 end;
};

std::vector<RegionRow> Regions(const CSoundFile& file)
{
    std::vector<RegionRow> out;
    for (UInt16 i = 0; i < file.GetNumRegions(); ++i) {
        SFTRegion region;
        EXPECT_EQ(file.GetRegion(i, &region), noErr);
        out.push_back({MacRoman::fromPascal(region.name), region.start, region.end});
    }
    return out;
}

// The file's regions are `expected` (names only where given).
void ExpectRegions(const CSoundFile& file, const std::vector<RegionRow>& expected)
{
    const std::vector<RegionRow> regions = Regions(file);
    ASSERT_EQ(regions.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (!expected[i].name.isEmpty()) {
            EXPECT_EQ(regions[i].name, expected[i].name) << i;
        }
        EXPECT_EQ(regions[i].start, expected[i].start) << i;
        EXPECT_EQ(regions[i].end, expected[i].end) << i;
    }
}

// The region count ProbeHeader gives for an image.
SInt16 ProbedRegions(const std::string& path)
{
    SInt16 result = -1;
    CImageDATFile probe;
    EXPECT_EQ(probe.SetFile(path), noErr);
    EXPECT_EQ(probe.ProbeHeader(&result), noErr);
    return result;
}

} // namespace

TEST_F(ImageDATFileTest, ShapeComesFromTheLengthAndSamplesAreLittleEndian)
{
    MakeImage(dir.file("len.dat"), 44100);
    auto sized = OpenFile<CImageDATFile>(dir.file("len.dat"));
    EXPECT_EQ(sized->GetNumFrames(), 44100u);
    EXPECT_EQ(sized->GetNumChannels(), 2);
    EXPECT_EQ(sized->GetNumBits(), 16);
    EXPECT_EQ(sized->GetSampleRate(), 44100.0);
    EXPECT_EQ(sized->GetState(), kSampleFormatLittleEndian);
    EXPECT_EQ(sized->GetNumRegions(), 0);
    EXPECT_EQ(sized->GetFormatName(), QStringLiteral("Audio CD Image File"));

    // 2 frames and a stray byte: the byte is not a frame.
    WriteAll(dir.file("le.dat"), {0x34, 0x12, 0x00, 0x80, 0xFF, 0x7F, 0xFE, 0xFF, 0x55});
    auto file = OpenFile<CImageDATFile>(dir.file("le.dat"));
    EXPECT_EQ(file->GetNumFrames(), 2u);
    EXPECT_EQ(ReadAllBlocks(*file), (std::vector<UInt8>{0x12, 0x34, 0x80, 0x00, 0x7F, 0xFF, 0xFF, 0xFE}));
}

TEST_F(ImageDATFileTest, DescriptorTracksBecomeRegions)
{
    MakeImage(dir.file("IMAGE.DAT"), 13230000);
    WriteText(dir.file("PQDESCR.txt"), Record("VVVS", "01", 0, 0, 0, 0, 0) + Record("VVVS", "01", 1, 0, 0, 2, 0) +
                                           Record("VVVT", "99", 1, 0, 1, 0, 0) +  // not a track record
                                           Record("VVVS", "02", 0, 0, 3, 0, 0) + Record("VVVS", "02", 1, 0, 3, 2, 0) +
                                           Record("VVVS", "AA", 1, 0, 5, 0, 0) + "partial record");
    auto file = OpenFile<CImageDATFile>(dir.file("IMAGE.DAT"));
    ExpectRegions(*file, {{"Track 01", 88200, 7938000}, {"Track 02", 8026200, 13230000}});
    EXPECT_EQ(ProbedRegions(dir.file("IMAGE.DAT")), 2);
}

TEST_F(ImageDATFileTest, LayoutVariantsAndNameLookup)
{
    // A layout that does not start at 0 gets a "Track 00" first; a track
    // whose index 1 lies at 0 is still added; the descriptor's name is
    // matched ignoring case; spaces in the hours count as zeros.
    MakeImage(dir.file("a.dat"), 600000);
    WriteText(dir.file("sd"), Record("VVVS", "01", 1, 0, 0, 2, 0).replace(8, 2, "  ") +
                                  Record("VVVS", "AA", 1, 0, 0, 4, 0));
    auto file = OpenFile<CImageDATFile>(dir.file("a.dat"));
    ExpectRegions(*file, {{"Track 00", 0, 88200}, {"Track 01", 88200, 176400}});

    TestTempDir other;
    MakeImage(other.file("b.dat"), 600000);
    WriteText(other.file("DDPPQ"), Record("VVVS", "01", 1, 0, 0, 0, 0) + Record("VVVS", "02", 1, 0, 0, 3, 0) +
                                       Record("VVVS", "AA", 1, 0, 0, 5, 0));
    auto second = OpenFile<CImageDATFile>(other.file("b.dat"));
    ExpectRegions(*second, {{"", 0, 132300}, {"", 132300, 220500}});
}

TEST_F(ImageDATFileTest, WithoutDescriptorOnlyTheWholeFileRegion)
{
    MakeImage(dir.file("solo.dat"), 1000);
    EXPECT_EQ(OpenFile<CImageDATFile>(dir.file("solo.dat"))->GetNumRegions(), 0);
    SetProcessFileIfNoRegions(true);
    auto file = OpenFile<CImageDATFile>(dir.file("solo.dat"));
    ExpectRegions(*file, {{"", 0, 1000}});
    EXPECT_EQ(ProbedRegions(dir.file("solo.dat")), 0);
}

TEST_F(ImageDATFileTest, HostileDescriptorsStayInsideTheImage)
{
    // Tracks beyond the image, going backwards, garbage digits, huge times.
    MakeImage(dir.file("h.dat"), 100000);
    WriteText(dir.file("PQ_DESCR"), Record("VVVS", "01", 1, 0, 0, 1, 0) + Record("VVVS", "02", 1, 0, 0, 0, 10) +
                                        Record("VVVS", "x?", 1, 99, 99, 99, 99) + Record("VVVS", "AA", 1, 0, 0, 2, 0) +
                                        std::string(64, '\0'));
    auto file = OpenFile<CImageDATFile>(dir.file("h.dat"));
    for (const RegionRow& row : Regions(*file)) {
        EXPECT_LT(row.start, row.end);
        EXPECT_LE(row.end, 100000u);
    }
    auto record = CImageDATFile::ParsePQRecord(reinterpret_cast<const UInt8*>(Record("VVVS", "AA", 1, 1, 2, 3, 4).data()));
    EXPECT_TRUE(record.valid);
    EXPECT_EQ(record.track, -1);
    EXPECT_EQ(record.cdFrame, 270000u + 9000u + 225u + 4u);
}

TEST_F(ImageDATFileTest, WrittenImagesAreRawLittleEndianStereo)
{
    CImageDATFile refused;
    ASSERT_EQ(refused.SetFile(dir.file("mono")), noErr);
    EXPECT_EQ(refused.Create(1, 16, 0, nullptr, nullptr, 44100.0f), -24100);

    const std::vector<SInt32> samples = TestSamples(2 * 3000, 16);
    const std::string path = WriteSamples<CImageDATFile>(dir.file("out"), 2, 16, 44100.0f, samples);
    EXPECT_EQ(path, dir.file("out.dat"));
    const auto bytes = ReadAll(path);
    ASSERT_EQ(bytes.size(), samples.size() * 2);
    EXPECT_EQ(bytes[0], UInt8(samples[0]));       // little-endian
    EXPECT_EQ(bytes[1], UInt8(UInt16(samples[0]) >> 8));
}

