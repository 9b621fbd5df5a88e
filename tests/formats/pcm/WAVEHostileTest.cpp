// WAVE family on damaged input: every truncation of a small annotated file,
// and files whose sizes and counts lie, open with an error or within what
// the file holds, never reading past it.
#include "CBWFLinearFile.h"
#include "CWAVEFile.h"
#include "CWAVEFloatFile.h"
#include "CWAVE_ALawFile.h"
#include "CWAVE_AuFile.h"
#include "FileManager.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"
#include "WAVETestSupport.h"
#include "debug_trace.h"

#include <gtest/gtest.h>

using namespace wavetest;

namespace {

// Opens with every class of the family; the shape and the samples of each
// file that opens are consistent with its size.
void OpenWithEveryClass(const std::string& path, std::size_t fileSize)
{
    std::vector<std::unique_ptr<CWAVEFile>> files;
    files.push_back(std::make_unique<CWAVEFile>());
    files.push_back(std::make_unique<CWAVE_AuFile>());
    files.push_back(std::make_unique<CWAVE_ALawFile>());
    files.push_back(std::make_unique<CWAVEFloatFile>());
    files.push_back(std::make_unique<CBWFLinearFile>());
    for (auto& file : files) {
        ASSERT_EQ(file->SetFile(path), noErr);
        if (file->Open() == noErr) {
            EXPECT_LE(UInt64(file->GetNumFrames()) * file->GetFileFrameBytes(), fileSize);
            std::vector<double> samples(std::size_t(file->GetNumChannels()) * 64);
            UInt32 count = 64;
            EXPECT_EQ(file->ReadFrames(0, &count, samples.data()), noErr);
        }
        if (file->IsOpen())
            file->Close();
        SInt16 result = 0;
        file->ProbeHeader(&result);
        EXPECT_FALSE(file->IsOpen());
    }
}

} // namespace

TEST(WAVEHostile, EveryTruncationOfAnAnnotatedFile)
{
    exception_trace_guard quiet(false);
    SetProcessFileIfNoRegions(true);
    TestTempDir dir;
    OSErr err;
    auto out = CreateWith<CBWFLinearFile>(dir.path(), "full", 3, 16, 8000.0f, &err);
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(WriteAllSamples(*out, TestSamples(3 * 9, 16)), noErr);
    SFTMarker marker;
    marker.pos = 3;
    marker.name[0] = 1;
    marker.name[1] = 'm';
    out->AddMarker(&marker);
    SFTLoop loop{0, 1, 5, 1};
    out->AddLoop(&loop);
    SFTRegion region{};
    region.start = 2;
    region.end = 7;
    out->AddRegion(&region);
    SFTSamplerInfo sampler;
    sampler.valid = 1;
    out->SetSamplerInfo(&sampler);
    ASSERT_EQ(out->Close(), noErr);
    const auto full = ReadAll(dir.file("full.wav"));
    ASSERT_GT(full.size(), 1000u);

    const int forks = OpenForkCount();
    for (std::size_t length = 0; length <= full.size(); ++length) {
        const std::string path = dir.file("cut.wav");
        WriteAll(path, std::vector<UInt8>(full.begin(), full.begin() + std::ptrdiff_t(length)));
        OpenWithEveryClass(path, length);
        if (HasFatalFailure())
            return;
    }
    EXPECT_EQ(OpenForkCount(), forks);
    SetProcessFileIfNoRegions(false);
}

TEST(WAVEHostile, SizesAndCountsThatLie)
{
    exception_trace_guard quiet(false);
    TestTempDir dir;
    std::vector<std::vector<UInt8>> files;
    // A 'fmt ' chunk claiming 2 GiB, 65535 channels of 32-bit words.
    files.push_back(RIFFBuilder().header("fmt ", 0x7FFFFFF0).raw(Fmt(1, 0xFFFF, 8000, 32, 0xFFFC)).build());
    files.push_back(RIFFBuilder().chunk("fmt ", Fmt(1, 0xFFFF, 8000, 32, 0xFFFC)).chunk("data", std::vector<UInt8>(64, 1)).build());
    // A short 'fmt ' chunk, and an extensible one cut short.
    files.push_back(RIFFBuilder().chunk("fmt ", {1, 0, 1, 0}).chunk("data", {0, 0}).build());
    auto ext = ExtensibleFmt(2, 8000, 16, 4, 16, 3, 1);
    ext.resize(30);
    files.push_back(RIFFBuilder().header("fmt ", 40).raw(ext).build(false));
    // Block align 0 and odd containers.
    files.push_back(RIFFBuilder().chunk("fmt ", Fmt(1, 3, 8000, 16, 0)).chunk("data", std::vector<UInt8>(13, 7)).build());
    files.push_back(RIFFBuilder().chunk("fmt ", Fmt(1, 2, 8000, 40, 10)).chunk("data", std::vector<UInt8>(20, 7)).build());
    // Annotation chunks whose counts pass their chunks.
    Body cue;
    cue.u32(0x7FFFFFFF).u32(1);
    Body list;
    list.text("adtl", 4).text("ltxt", 4).u32(4).u32(1);
    Body regn;
    regn.u32(0x10000000).zeros(10);
    files.push_back(RIFFBuilder()
                        .chunk("fmt ", Fmt(1, 1, 8000, 16, 2))
                        .chunk("bext", std::vector<UInt8>(3, 'x'))
                        .chunk("data", {1, 2, 3, 4})
                        .chunk("cue ", cue.b)
                        .chunk("LIST", list.b)
                        .chunk("regn", regn.b)
                        .chunk("smpl", std::vector<UInt8>(30, 0xFF))
                        .header("LIST", 0xFFFFFFFF)
                        .raw({'a', 'd', 't', 'l', 'l', 't'})
                        .build());
    // A RIFF size of zero and a chunk that claims to run past the file.
    auto tiny = RIFFBuilder().chunk("fmt ", Fmt(1, 1, 8000, 16, 2)).chunk("data", {1, 2}).build();
    tiny[4] = tiny[5] = tiny[6] = tiny[7] = 0;
    files.push_back(tiny);
    files.push_back(RIFFBuilder().chunk("fmt ", Fmt(1, 1, 8000, 16, 2)).header("cue ", 0x7FFFFFFF).raw({1}).build());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string path = dir.file("lie" + std::to_string(i) + ".wav");
        WriteAll(path, files[i]);
        OpenWithEveryClass(path, files[i].size());
    }
}
