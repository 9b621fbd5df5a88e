// Microsoft ADPCM WAVE specifics: the block layout we choose, last blocks
// filled up to their whole size, the 'fact' chunk, markers and regions through 'cue ' and 'adtl',
// and the checks of damaged format chunks.
#include "CMSADPCMFile.h"
#include "CodedTestSupport.h"
#include "MSADPCMWaveHeader.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <cstring>

using namespace codedtest;

namespace {

UInt32 LE32(const std::vector<UInt8>& b, std::size_t at)
{
    return UInt32(b.at(at)) | (UInt32(b.at(at + 1)) << 8) | (UInt32(b.at(at + 2)) << 16) | (UInt32(b.at(at + 3)) << 24);
}

void Put32(std::vector<UInt8>& b, std::size_t at, UInt32 v)
{
    for (int i = 0; i < 4; ++i)
        b.at(at + std::size_t(i)) = UInt8(v >> (8 * i));
}

std::size_t FindChunk(const std::vector<UInt8>& b, const char* id)
{
    for (std::size_t pos = 12; pos + 8 <= b.size();) {
        if (std::memcmp(&b[pos], id, 4) == 0)
            return pos;
        pos += 8 + LE32(b, pos + 4) + (LE32(b, pos + 4) & 1);
    }
    return std::string::npos;
}

void SetName(Str31 name, const char* text)
{
    name[0] = UInt8(std::strlen(text));
    std::memcpy(name + 1, text, name[0]);
}

} // namespace

TEST(MSADPCMFile, BlockLayoutsFollowRateAndChannels)
{
    UInt16 align = 0;
    UInt16 frames = 0;
    MSADPCMWaveHeader::ChooseLayout(1, 8000.0, 12288, &align, &frames);
    EXPECT_EQ(align, 256);
    EXPECT_EQ(frames, 500);
    MSADPCMWaveHeader::ChooseLayout(2, 44100.0, 12288, &align, &frames);
    EXPECT_EQ(align, 2048);
    EXPECT_EQ(frames, 2036);
    MSADPCMWaveHeader::ChooseLayout(1, 22000.0, 12288, &align, &frames);
    EXPECT_EQ(align, 512);
    EXPECT_EQ(frames, 1012);
}

TEST(MSADPCMFile, LastBlocksAreWholeAndTheFactChunkHasTheFrameCount)
{
    TestTempDir dir;
    for (const auto& [frames, dataBytes] : {std::pair{1000u, 512u}, std::pair{1001u, 768u}, std::pair{1003u, 768u}}) {
        std::string path;
        const std::vector<double> audio = TestAudio(frames, 1);
        ASSERT_EQ(WriteFile(FOUR_CHAR_CODE("MSAP"), dir.file("n" + std::to_string(frames) + ".wav"), 1, 8000.0, 16,
                            audio, &path),
                  noErr);
        const std::vector<UInt8> b = ReadBytes(path);
        const std::size_t data = FindChunk(b, "data");
        const std::size_t fact = FindChunk(b, "fact");
        ASSERT_NE(data, std::string::npos);
        ASSERT_NE(fact, std::string::npos);
        EXPECT_EQ(LE32(b, data + 4), dataBytes);
        EXPECT_EQ(LE32(b, fact + 8), frames);
        EXPECT_EQ(LE32(b, 4), b.size() - 8);
        OSErr err;
        auto file = OpenFile(FOUR_CHAR_CODE("MSAP"), path, &err);
        ASSERT_EQ(err, noErr);
        EXPECT_EQ(file->GetNumFrames(), frames);
        // The last frame survives (it is coded, not dropped).
        const std::vector<int> ours = ReadSamples16(*file);
        EXPECT_NEAR(ours.back(), ToInt16(audio).back(), 1200);
    }
}

TEST(MSADPCMFile, MarkersAndRegionsSurviveARoundTrip)
{
    RegisterTypes();
    SetProcessFileIfNoRegions(false);
    TestTempDir dir;
    std::unique_ptr<CSoundFile> out(CreateSoundFileObject(FOUR_CHAR_CODE("MSAP")));
    ASSERT_EQ(out->SetFile(dir.file("marked.wav")), noErr);
    ASSERT_EQ(out->Create(2, 16, 0, nullptr, nullptr, 8000.0f), noErr);
    std::vector<double> audio = TestAudio(3000, 2);
    UInt32 count = 3000;
    ASSERT_EQ(out->WriteFrames(0, &count, audio.data()), noErr);
    SFTMarker first;
    first.markerID = 1;
    first.pos = 100;
    SetName(first.name, "intro");
    SFTMarker second = first;
    second.markerID = 2;
    second.pos = 2500;
    SetName(second.name, "odd");
    ASSERT_EQ(out->AddMarker(&first), noErr);
    ASSERT_EQ(out->AddMarker(&second), noErr);
    SFTRegion region;
    region.start = 500;
    region.end = 1700;
    SetName(region.name, "verse");
    ASSERT_EQ(out->AddRegion(&region), noErr);
    SFTRegion whole = region;
    whole.start = 0;
    whole.end = 3000;
    ASSERT_EQ(out->AddRegion(&whole), noErr);
    const std::string path = out->GetPath();
    ASSERT_EQ(out->Close(), noErr);

    OSErr err;
    auto in = OpenFile(FOUR_CHAR_CODE("MSAP"), path, &err);
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(in->GetNumMarkers(), 2);
    SFTMarker m;
    ASSERT_EQ(in->GetMarker(0, &m), noErr);
    EXPECT_EQ(m.pos, 100u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.name + 1), m.name[0]), "intro");
    ASSERT_EQ(in->GetMarker(1, &m), noErr);
    EXPECT_EQ(m.pos, 2500u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.name + 1), m.name[0]), "odd");
    // The whole-file region is not read back as a region.
    ASSERT_EQ(in->GetNumRegions(), 1);
    SFTRegion r;
    ASSERT_EQ(in->GetRegion(0, &r), noErr);
    EXPECT_EQ(r.start, 500u);
    EXPECT_EQ(r.end, 1700u);
    SInt16 regions = 0;
    in->Close();
    CMSADPCMFile probe;
    ASSERT_EQ(probe.SetFile(path), noErr);
    EXPECT_EQ(probe.ProbeHeader(&regions), noErr);
    EXPECT_EQ(regions, 2);
    SetProcessFileIfNoRegions(true);

    // A cue count larger than its chunk is cut to the points it holds.
    std::vector<UInt8> b = ReadBytes(path);
    Put32(b, FindChunk(b, "cue ") + 8, 1000000);
    WriteBytes(dir.file("cues.wav"), b);
    auto cut = OpenFile(FOUR_CHAR_CODE("MSAP"), dir.file("cues.wav"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(cut->GetNumMarkers(), 2);
}

TEST(MSADPCMFile, DamagedFormatChunksAreRefused)
{
    TestTempDir dir;
    std::string path;
    ASSERT_EQ(WriteFile(FOUR_CHAR_CODE("MSAP"), dir.file("good.wav"), 1, 8000.0, 16, TestAudio(1200, 1), &path),
              noErr);
    const std::vector<UInt8> good = ReadBytes(path);
    const std::size_t fmt = FindChunk(good, "fmt ");
    const std::size_t data = FindChunk(good, "data");
    auto opened = [&](std::vector<UInt8> bytes) {
        WriteBytes(dir.file("bad.wav"), bytes);
        OSErr err;
        auto file = OpenFile(FOUR_CHAR_CODE("MSAP"), dir.file("bad.wav"), &err);
        if (err == noErr) {
            std::vector<double> samples(std::size_t(file->GetNumFrames()));
            UInt32 count = file->GetNumFrames();
            err = file->ReadFrames(0, &count, samples.data());
        }
        return err;
    };
    EXPECT_EQ(opened(good), noErr);
    std::vector<UInt8> b = good;
    b[fmt + 3] = '\r';  // "fmt\r" reads as "fmt "
    EXPECT_EQ(opened(b), noErr);
    b = good;
    b[fmt + 8] = 1;  // not format tag 2
    EXPECT_EQ(opened(b), -23204);
    b = good;
    b[fmt + 10] = 3;  // three channels
    EXPECT_EQ(opened(b), -23207);
    b = good;
    b[fmt + 28] = 101;  // more coefficient pairs than the table or the chunk holds
    EXPECT_EQ(opened(b), -23204);
    b = good;
    b[fmt + 26] = 0xFF;  // more frames per block than a block holds
    b[fmt + 27] = 0x7F;
    EXPECT_EQ(opened(b), -23204);
    b = good;
    b[fmt + 20] = 4;  // block align below the block header of 7 bytes
    b[fmt + 21] = 0;
    EXPECT_EQ(opened(b), -23204);
    b = good;
    std::memcpy(&b[FindChunk(b, "fact")], "tcaf", 4);  // no 'fact': the blocks tell the frames
    EXPECT_EQ(opened(b), noErr);
    b = good;
    std::memcpy(&b[data], "atad", 4);
    EXPECT_EQ(opened(b), -23200);
    b = good;
    b[data + 8] = 7;  // the first block's predictor is past the seven pairs
    EXPECT_EQ(opened(b), -23206);
    // A 'fact' count beyond the data is cut to the frames the data holds.
    b = good;
    Put32(b, FindChunk(b, "fact") + 8, 99999);
    WriteBytes(dir.file("long.wav"), b);
    OSErr err;
    auto file = OpenFile(FOUR_CHAR_CODE("MSAP"), dir.file("long.wav"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetNumFrames(), 1500u);  // the three whole blocks written for 1200 frames
}
