// WAVE and Broadcast Wave annotations: the chunks they are written to, how
// libsndfile's cue and instrument data and ffprobe show them, and malformed
// lists read within their chunks (that markers, loops, regions, sampler data
// and time stamps read back: the conformance suite).
#include "CBWFLinearFile.h"
#include "CWAVEFile.h"
#include "AnnotationSet.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"
#include "WAVETestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

using namespace wavetest;

namespace {

using annotationset::Name;

// Switches restored after each test.
class WAVEAnnotations : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetProcessFileIfNoRegions(false);
        SetSkipBadRegion(1);
        SetIgnoreRegionsContainingWholeFile(false);
    }
    void TearDown() override { SetUp(); }

    // A 1000-frame stereo output with the shared annotation set.
    template <typename T>
    std::string WriteAnnotated(const TestTempDir& dir, const std::string& name, const UInt8* specifics = nullptr)
    {
        OSErr err;
        auto file = CreateWith<T>(dir.path(), name, 2, 16, 48000.0f, &err, specifics);
        EXPECT_EQ(err, noErr);
        EXPECT_EQ(WriteAllSamples(*file, TestSamples(2000, 16)), noErr);
        annotationset::Annotate(*file, 1000);
        EXPECT_EQ(file->Close(), noErr);
        return file->GetPath();
    }
};

} // namespace

TEST_F(WAVEAnnotations, RoundTripThroughWave)
{
    TestTempDir dir;
    const std::string path = WriteAnnotated<CWAVEFile>(dir, "annotated");

    // Layout: cue points 0..4 (markers, then regions), one label per cue
    // point, one 'ltxt' per region.
    const auto b = ReadAll(path);
    const std::size_t cue = FindChunkIn(b, "cue ");
    ASSERT_NE(cue, std::string::npos);
    EXPECT_EQ(LE32(b, cue + 8), 5u);
    EXPECT_EQ(LE32(b, cue + 12 + 3 * 24), 3u);
    EXPECT_EQ(LE32(b, cue + 12 + 3 * 24 + 20), 5u);
    EXPECT_EQ(LE32(b, cue + 12 + 4 * 24 + 20), 300u);
    const std::size_t list = FindChunkIn(b, "LIST");
    ASSERT_NE(list, std::string::npos);
    const std::string body(b.begin() + list + 8, b.begin() + list + 8 + LE32(b, list + 4));
    std::size_t labels = 0, texts = 0;
    for (std::size_t at = body.find("labl"); at != std::string::npos; at = body.find("labl", at + 1))
        ++labels;
    for (std::size_t at = body.find("ltxt"); at != std::string::npos; at = body.find("ltxt", at + 1))
        ++texts;
    EXPECT_EQ(labels, 5u);
    EXPECT_EQ(texts, 2u);
    EXPECT_LT(FindChunkIn(b, "smpl"), FindChunkIn(b, "inst"));
    EXPECT_EQ(LE32(b, 4), b.size() - 8);
}

TEST_F(WAVEAnnotations, PeersSeeCuesLoopsAndInstrument)
{
    TestTempDir dir;
    const std::string path = WriteAnnotated<CWAVEFile>(dir, "peer");
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.frames, 1000);
    SF_CUES cues{};
    ASSERT_EQ(sf_command(sf, SFC_GET_CUE, &cues, sizeof cues), SF_TRUE);
    ASSERT_EQ(cues.cue_count, 5u);
    EXPECT_EQ(cues.cue_points[0].sample_offset, 50u);
    EXPECT_EQ(cues.cue_points[1].sample_offset, 100u);
    EXPECT_EQ(cues.cue_points[4].sample_offset, 300u);
    SF_INSTRUMENT inst{};
    ASSERT_EQ(sf_command(sf, SFC_GET_INSTRUMENT, &inst, sizeof inst), SF_TRUE);
    // libsndfile takes the base note from 'smpl' (it only logs 'inst').
    EXPECT_EQ(inst.basenote, 48);
    ASSERT_EQ(inst.loop_count, 2);
    EXPECT_EQ(inst.loops[0].start, 200u);
    EXPECT_EQ(inst.loops[1].start, 500u);
    sf_close(sf);

    RunResult info2 = RunProgram("sndfile-info", {QString::fromStdString(path)});
    EXPECT_EQ(info2.exitCode, 0);
    EXPECT_TRUE(info2.out.contains("First region")) << info2.out.toStdString();
}

TEST_F(WAVEAnnotations, LoopsAndSamplerDataWithoutMarkersOrRegions)
{
    TestTempDir dir;
    OSErr err;
    auto file = CreateWith<CWAVEFile>(dir.path(), "loops", 1, 16, 8000.0f, &err);
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(WriteAllSamples(*file, TestSamples(100, 16)), noErr);
    SFTLoop loop{0, 5, 50, 1};
    file->AddLoop(&loop);
    SFTSamplerInfo sampler;
    sampler.baseNote = 48;
    sampler.valid = 1;
    file->SetSamplerInfo(&sampler);
    ASSERT_EQ(file->Close(), noErr);
    const auto b = ReadAll(dir.file("loops.wav"));
    EXPECT_EQ(FindChunkIn(b, "cue "), std::string::npos);
    EXPECT_NE(FindChunkIn(b, "smpl"), std::string::npos);
    EXPECT_NE(FindChunkIn(b, "inst"), std::string::npos);
    auto back = OpenWith<CWAVEFile>(dir.file("loops.wav"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(back->GetNumLoops(), 1);
    SFTSamplerInfo read;
    EXPECT_EQ(back->GetSamplerInfo(&read), noErr);
    EXPECT_EQ(read.baseNote, 48);

    // A file with nothing to annotate gets no annotation chunks.
    auto bare = CreateWith<CWAVEFile>(dir.path(), "bare", 1, 16, 8000.0f, &err);
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(bare->Close(), noErr);
    EXPECT_EQ(ReadAll(dir.file("bare.wav")).size(), 44u);
}

TEST_F(WAVEAnnotations, RoundTripThroughBroadcastWave)
{
    TestTempDir dir;
    UInt8 specifics[256] = {};
    std::strcpy(reinterpret_cast<char*>(specifics + 22), "Field recording, take 3");
    const std::string path = WriteAnnotated<CBWFLinearFile>(dir, "bwf", specifics);
    OSErr err;
    auto file = OpenWith<CBWFLinearFile>(path, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetSpecifics().value("bwfAnnotation").toString(), QString("Field recording, take 3"));

    const auto b = ReadAll(path);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "bext");
    EXPECT_EQ(LE32(b, 40), 858u);
    EXPECT_EQ(LE32(b, 44 + 338), 0x00000005u);  // annotationset::kFileStamp
    EXPECT_EQ(LE32(b, 44 + 342), 0x1u);
    EXPECT_NE(FindChunkIn(b, "regn"), std::string::npos);
    // Regions travel in 'regn' only: the cue list holds the markers.
    EXPECT_EQ(LE32(b, FindChunkIn(b, "cue ") + 8), 3u);

    // ffmpeg sees the description and the 64-bit time reference.
    RunResult probe = RunProgram("ffprobe", {"-v", "error", "-show_entries", "format_tags", "-of", "default=nw=1",
                                             QString::fromStdString(path)});
    EXPECT_TRUE(probe.out.contains("comment=Field recording, take 3")) << probe.out.toStdString();
    EXPECT_TRUE(probe.out.contains("time_reference=4294967301")) << probe.out.toStdString();
}

TEST_F(WAVEAnnotations, BroadcastWaveAnnotationEncodings)
{
    TestTempDir dir;
    auto bext = [](const std::string& description) {
        std::vector<UInt8> body(602, 0);
        std::memcpy(body.data(), description.data(), description.size());
        return body;
    };
    for (const auto& [bytes, expected] :
         std::vector<std::pair<std::string, QString>>{{"caf\xC3\xA9", QString::fromUtf8("caf\xC3\xA9")},
                                                      {"caf\x8E", QString::fromUtf8("caf\xC3\xA9")},
                                                      {std::string(300, 'x'), QString(256, 'x')}}) {
        WriteAll(dir.file("b.wav"), RIFFBuilder()
                                        .chunk("fmt ", Fmt(1, 1, 8000, 16, 2))
                                        .chunk("bext", bext(bytes.substr(0, 300)))
                                        .chunk("data", {0, 0})
                                        .build());
        // A description that fills its field has no terminator.
        OSErr err;
        auto file = OpenWith<CBWFLinearFile>(dir.file("b.wav"), &err);
        ASSERT_EQ(err, noErr);
        EXPECT_EQ(file->GetSpecifics().value("bwfAnnotation").toString(), expected);
    }
    // A short 'bext' chunk is read as far as it goes.
    WriteAll(dir.file("short.wav"), RIFFBuilder()
                                        .chunk("fmt ", Fmt(1, 1, 8000, 16, 2))
                                        .chunk("bext", {'h', 'i'})
                                        .chunk("data", {0, 0})
                                        .build());
    OSErr err;
    auto file = OpenWith<CBWFLinearFile>(dir.file("short.wav"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetSpecifics().value("bwfAnnotation").toString(), QString("hi"));
    EXPECT_EQ(file->GetTimeStamp64(), 0u);
}

TEST_F(WAVEAnnotations, RegionRulesOnReading)
{
    TestTempDir dir;
    // 100 frames; cue 1 at 0 over the whole file, cue 2 negative start,
    // cue 3 past the end, cue 4 a proper region with a label, marker cue 5.
    Body cue;
    cue.u32(5);
    const UInt32 starts[5] = {0, 0xFFFFFFF0u, 90, 10, 42};
    for (UInt32 i = 0; i < 5; ++i)
        cue.u32(i + 1).u32(starts[i]).text("data", 4).u32(0).u32(0).u32(starts[i]);
    Body list;
    list.text("adtl", 4);
    const UInt32 lengths[4] = {100, 20, 20, 30};
    for (UInt32 i = 0; i < 4; ++i)
        list.text("ltxt", 4).u32(20).u32(i + 1).u32(lengths[i]).text("rgn ", 4).zeros(8);
    list.text("labl", 4).u32(9).u32(4).text("Good", 4).u8(0).u8(0);
    list.text("labl", 4).u32(6).u32(5).text("Mk", 2).u8(0).u8(0);
    list.text("note", 4).u32(6).u32(99).text("No", 2).u8(0).u8(0);  // no such cue point
    std::vector<UInt8> data(200, 0);
    const auto bytes = RIFFBuilder()
                           .chunk("fmt ", Fmt(1, 1, 8000, 16, 2))
                           .chunk("data", data)
                           .chunk("cue ", cue.b)
                           .chunk("LIST", list.b)
                           .build();
    WriteAll(dir.file("r.wav"), bytes);
    OSErr err;
    {
        auto file = OpenWith<CWAVEFile>(dir.file("r.wav"), &err);
        ASSERT_EQ(err, noErr);
        // Off: the whole-file region stays, the negative one becomes the
        // whole file (a duplicate), the one past the end goes.
        ASSERT_EQ(file->GetNumRegions(), 2);
        SFTRegion r;
        file->GetRegion(0, &r);
        EXPECT_EQ(r.start, 0u);
        EXPECT_EQ(r.end, 100u);
        EXPECT_EQ(Name(r.name), "Region nmbr 0");
        file->GetRegion(1, &r);
        EXPECT_EQ(r.start, 10u);
        EXPECT_EQ(r.end, 40u);
        EXPECT_EQ(Name(r.name), "Good");
        ASSERT_EQ(file->GetNumMarkers(), 1);
        SFTMarker m;
        file->GetMarker(0, &m);
        EXPECT_EQ(m.pos, 42u);
        EXPECT_EQ(Name(m.name), "Mk");
    }
    SetIgnoreRegionsContainingWholeFile(true);
    {
        auto file = OpenWith<CWAVEFile>(dir.file("r.wav"), &err);
        ASSERT_EQ(err, noErr);
        ASSERT_EQ(file->GetNumRegions(), 1);
        SFTRegion r;
        file->GetRegion(0, &r);
        EXPECT_EQ(r.start, 10u);
    }
    // With no regions left the whole-file region is added when asked for.
    SetProcessFileIfNoRegions(true);
    WriteAll(dir.file("none.wav"), RIFFBuilder().chunk("fmt ", Fmt(1, 1, 8000, 16, 2)).chunk("data", data).build());
    auto none = OpenWith<CWAVEFile>(dir.file("none.wav"), &err);
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(none->GetNumRegions(), 1);
    EXPECT_EQ(none->GetRegionObject(0)->end(), 100u);
}

TEST_F(WAVEAnnotations, CountsBeyondTheirChunksAreCut)
{
    TestTempDir dir;
    Body cue;
    cue.u32(0xFFFFFFFF).u32(1).u32(5).text("data", 4).u32(0).u32(0).u32(5);
    Body smpl;
    smpl.zeros(28).u32(0x40000000).u32(0).u32(1).u32(0).u32(3).u32(9).u32(0).u32(0);
    Body list;
    list.text("adtl", 4).text("labl", 4).u32(0x7FFFFFF0).u32(1).text("Long", 4);
    const auto bytes = RIFFBuilder()
                           .chunk("fmt ", Fmt(1, 1, 8000, 16, 2))
                           .chunk("data", std::vector<UInt8>(40, 0))
                           .chunk("cue ", cue.b)
                           .chunk("smpl", smpl.b)
                           .chunk("LIST", list.b)
                           .chunk("inst", {1, 2})
                           .build();
    WriteAll(dir.file("c.wav"), bytes);
    OSErr err;
    auto file = OpenWith<CWAVEFile>(dir.file("c.wav"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetNumLoops(), 1);
    EXPECT_EQ(file->GetLoopObject(0)->start(), 3u);
    ASSERT_EQ(file->GetNumMarkers(), 1);
    SFTMarker m;
    file->GetMarker(0, &m);
    EXPECT_EQ(Name(m.name), "Long");
    SFTSamplerInfo sampler;
    EXPECT_NE(file->GetSamplerInfo(&sampler), noErr);  // 'inst' too short
}
