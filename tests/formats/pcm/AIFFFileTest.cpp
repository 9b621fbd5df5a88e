// The AIFF family on its own: written layout, region and loop chunk rules,
// the temporary file, and damaged input (round trips of samples and
// annotations and every truncation: the conformance suite).
#include "AIFFTestSupport.h"
#include "AnnotationSet.h"
#include "CAIFCFile.h"
#include "CAIFFFile.h"
#include "CTempFile.h"
#include "FileManager.h"
#include "PCMFileTypes.h"
#include "SoundFileRegistry.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"
#include "ieee_extended.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

using namespace aifftest;

namespace {

using annotationset::SetName;

// Creates `path` (no extension) through a format object, writes `samples`
// and hands the object to `annotate` before closing.  Returns the written
// file's path.
template <typename T, typename Annotate>
std::string WriteWith(const std::string& path, UInt16 channels, SInt16 bits, double rate,
                      const std::vector<double>& samples, Annotate&& annotate, SInt32 configuration = -1)
{
    T file;
    EXPECT_EQ(file.SetFile(path), noErr);
    if (configuration >= 0) {
        file.SetChannelConfiguration(configuration);
    }
    const UInt8 ext[] = {3, 'a', 'i', 'f'};
    EXPECT_EQ(file.Create(channels, bits, 0, nullptr, ext, float(rate)), noErr);
    file.SetDither(false);
    UInt32 count = UInt32(samples.size() / channels);
    std::vector<double> copy = samples;
    EXPECT_EQ(file.WriteFrames(0, &count, copy.data()), noErr);
    EXPECT_EQ(count, samples.size() / channels);
    annotate(file);
    EXPECT_EQ(file.Close(), noErr);
    return file.GetPath();
}

template <typename T>
std::string WritePlain(const std::string& path, UInt16 channels, SInt16 bits, double rate,
                       const std::vector<double>& samples, SInt32 configuration = -1)
{
    return WriteWith<T>(path, channels, bits, rate, samples, [](T&) {}, configuration);
}

class AIFFFileTest : public AIFFFixture {};

} // namespace

TEST_F(AIFFFileTest, WrittenLayoutOfASmallMonoFile)
{
    // 3 frames of 8-bit mono: one pad byte after the data, SSND size 11, no
    // MARK or INST, an empty regn chunk, a mono CHAN.
    const std::string path = WritePlain<CAIFFFile>(dir.file("small"), 1, 8, 44100.0, {0.5, -0.5, 0.25});
    EXPECT_EQ(path, dir.file("small.aif"));
    const auto d = ReadAll(path);
    ASSERT_GE(d.size(), 12u);
    EXPECT_EQ(std::string(d.begin(), d.begin() + 4), "FORM");
    EXPECT_EQ(BE32(d, 4), d.size() - 8);
    EXPECT_EQ(std::string(d.begin() + 8, d.begin() + 12), "AIFF");
    EXPECT_EQ(FindChunkIn(d, "COMM"), 12);
    EXPECT_EQ(BE32(d, 16), 18u);
    EXPECT_EQ(BE16(d, 20), 1);
    EXPECT_EQ(BE32(d, 22), 3u);
    EXPECT_EQ(BE16(d, 26), 8);
    const UInt8 rate[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(&d[28], rate, 10));
    EXPECT_EQ(FindChunkIn(d, "CHAN"), 38);
    EXPECT_EQ(BE32(d, 46), 0x00640001u);
    const long ssnd = FindChunkIn(d, "SSND");
    ASSERT_EQ(ssnd, 78);
    EXPECT_EQ(BE32(d, std::size_t(ssnd) + 4), 11u);
    EXPECT_NEAR(SInt8(d[std::size_t(ssnd) + 16]), 63.5, 1.0);
    EXPECT_NEAR(SInt8(d[std::size_t(ssnd) + 17]), -63.5, 1.0);
    EXPECT_EQ(d[std::size_t(ssnd) + 19], 0);  // the pad byte
    EXPECT_EQ(FindChunkIn(d, "MARK"), -1);
    EXPECT_EQ(FindChunkIn(d, "INST"), -1);
    const long regn = FindChunkIn(d, "regn");
    ASSERT_EQ(regn, ssnd + 20);
    EXPECT_EQ(BE32(d, std::size_t(regn) + 4), 4u);
    EXPECT_EQ(BE32(d, std::size_t(regn) + 8), 0u);
    EXPECT_EQ(std::size_t(regn) + 12, d.size());

    auto file = OpenFile<CAIFFFile>(path);
    EXPECT_EQ(file->GetNumFrames(), 3u);  // the pad byte is no frame
    EXPECT_EQ(file->GetState(), 0);
    EXPECT_EQ(file->GetChannelConfiguration(), kChannelConfigMono);
}

TEST_F(AIFFFileTest, AIFCWrittenLayout)
{
    const std::string path = WritePlain<CAIFCFile>(dir.file("c"), 2, 16, 48000.0, Signal(5, 2));
    const auto d = ReadAll(path);
    ASSERT_GE(d.size(), 86u + 20u);
    EXPECT_EQ(std::string(d.begin() + 8, d.begin() + 12), "AIFC");
    EXPECT_EQ(FindChunkIn(d, "FVER"), 12);
    EXPECT_EQ(BE32(d, 20), 0xA2805140u);
    EXPECT_EQ(FindChunkIn(d, "COMM"), 24);
    EXPECT_EQ(BE32(d, 28), 38u);
    EXPECT_EQ(std::string(d.begin() + 50, d.begin() + 54), "NONE");
    EXPECT_EQ(d[54], 14);
    EXPECT_EQ(std::string(d.begin() + 55, d.begin() + 69), "not compressed");
    EXPECT_EQ(FindChunkIn(d, "SSND"), 70);
    EXPECT_EQ(BE32(d, 74), 5u * 4u + 8u);
    EXPECT_EQ(FindChunkIn(d, "CHAN"), -1);
    auto file = OpenFile<CAIFCFile>(path);
    EXPECT_EQ(file->GetFormatName(), "AIFC");
    EXPECT_EQ(file->GetDataOffset(), 86);
}

TEST_F(AIFFFileTest, RegionChunkRules)
{
    // The region-time-stamp field (48) of both entries holds the regions' own stamps.
    auto annotate = [](CAIFFFile& f) {
        SFTRegion r;
        r.start = 0;
        r.end = 100;  // the whole file
        r.timeStamp = 4242;
        SetName(r.name, "Whole");
        f.AddRegion(&r);
        r.start = 10;
        r.end = 20;
        r.timeStamp = 5;
        SetName(r.name, "Part");
        f.AddRegion(&r);
    };
    const std::string path = WriteWith<CAIFFFile>(dir.file("regn"), 1, 16, 8000.0, Signal(100, 1), annotate);
    const auto d = ReadAll(path);
    const long regn = FindChunkIn(d, "regn");
    ASSERT_GT(regn, 0);
    EXPECT_EQ(BE32(d, std::size_t(regn) + 4), 2u * 88u + 4u);
    EXPECT_EQ(BE32(d, std::size_t(regn) + 12 + 48 + 4), 4242u);
    EXPECT_EQ(BE32(d, std::size_t(regn) + 12 + 88 + 48 + 4), 5u);

    // With "Ignore Regions Containing Whole File" the whole-file region is
    // dropped and its stamp becomes the file's.
    SetIgnoreRegionsContainingWholeFile(true);
    auto file = OpenFile<CAIFFFile>(path);
    ASSERT_EQ(file->GetNumRegions(), 1);
    SFTRegion r;
    ASSERT_EQ(file->GetRegion(0, &r), noErr);
    EXPECT_EQ(r.start, 10u);
    EXPECT_TRUE(file->HasTimeStamp());
    EXPECT_EQ(file->GetTimeStamp64(), 4242u);
    SetIgnoreRegionsContainingWholeFile(false);

    // An empty chunk adds the whole-file region when that setting is on.
    SetProcessFileIfNoRegions(true);
    const std::string empty = WritePlain<CAIFFFile>(dir.file("empty"), 1, 16, 8000.0, Signal(50, 1));
    auto plain = OpenFile<CAIFFFile>(empty);
    ASSERT_EQ(plain->GetNumRegions(), 1);
    ASSERT_EQ(plain->GetRegion(0, &r), noErr);
    EXPECT_EQ(r.start, 0u);
    EXPECT_EQ(r.end, 50u);
    // Regions already in the object stop a second read.
    EXPECT_EQ(plain->ReadRegions(), noErr);
    EXPECT_EQ(plain->GetNumRegions(), 1);
    SetProcessFileIfNoRegions(false);
}

TEST_F(AIFFFileTest, LoopMarkersAppearInTheMarkChunk)
{
    auto annotate = [](CAIFFFile& f) {
        SFTLoop loop{1, 10, 40, 1};
        f.AddLoop(&loop);
    };
    const std::string path = WriteWith<CAIFFFile>(dir.file("loop"), 1, 16, 8000.0, Signal(50, 1), annotate);
    const auto d = ReadAll(path);
    const long inst = FindChunkIn(d, "INST");
    const long mark = FindChunkIn(d, "MARK");
    ASSERT_GT(inst, 0);
    ASSERT_GT(mark, inst);
    EXPECT_EQ(BE32(d, std::size_t(inst) + 4), 20u);
    EXPECT_EQ(d[std::size_t(inst) + 8], 60);  // default sampler record
    EXPECT_EQ(d[std::size_t(inst) + 11], 127);
    EXPECT_EQ(BE16(d, std::size_t(inst) + 16), 1);  // play mode
    const UInt16 beginID = BE16(d, std::size_t(inst) + 18);
    const UInt16 endID = BE16(d, std::size_t(inst) + 20);
    EXPECT_EQ(BE16(d, std::size_t(inst) + 22), 0);  // no release loop
    EXPECT_EQ(BE16(d, std::size_t(mark) + 8), 2);
    const std::size_t first = std::size_t(mark) + 10;
    EXPECT_EQ(BE16(d, first), beginID);
    EXPECT_EQ(BE32(d, first + 2), 10u);
    EXPECT_EQ(std::string(d.begin() + long(first) + 7, d.begin() + long(first) + 7 + d[first + 6]),
              "Sustainloop start");
    const std::size_t second = first + 6 + 18;  // 17 characters + length byte: even
    EXPECT_EQ(BE16(d, second), endID);
    EXPECT_EQ(BE32(d, second + 2), 40u);
    EXPECT_EQ(std::string(d.begin() + long(second) + 7, d.begin() + long(second) + 7 + d[second + 6]),
              "Sustainloop end");
    auto file = OpenFile<CAIFFFile>(path);
    EXPECT_EQ(file->GetNumMarkers(), 0);
    EXPECT_EQ(file->GetNumLoops(), 1);
}

TEST_F(AIFFFileTest, HeaderPromisesAndOddHeaders)
{
    const std::string path = WritePlain<CAIFFFile>(dir.file("base"), 2, 16, 44100.0, Signal(100, 2));
    const auto original = ReadAll(path);

    // COMM promising more frames than SSND holds: cut, and told so.
    auto d = original;
    PutBE32(d, 22, 5000);
    WriteAll(dir.file("long.aif"), d);
    auto file = OpenFile<CAIFFFile>(dir.file("long.aif"));
    EXPECT_EQ(file->GetNumFrames(), 100u);
    EXPECT_TRUE(file->DataCutShort());
    file.reset();

    // FORM and SSND sizes of 0xFFFFFFFF: to the end of the file.
    d = original;
    const long ssnd = FindChunkIn(d, "SSND");
    d.resize(std::size_t(ssnd) + 16 + 400);  // drop the trailing chunks
    PutBE32(d, 4, 0xFFFFFFFFu);
    PutBE32(d, std::size_t(ssnd) + 4, 0xFFFFFFFFu);
    WriteAll(dir.file("stream.aif"), d);
    file = OpenFile<CAIFFFile>(dir.file("stream.aif"));
    EXPECT_EQ(file->GetNumFrames(), 100u);
    EXPECT_FALSE(file->DataCutShort());
    file.reset();

    // A truncated file keeps the frames it holds.
    d = original;
    d.resize(std::size_t(ssnd) + 16 + 4 * 37 + 3);
    WriteAll(dir.file("cut.aif"), d);
    file = OpenFile<CAIFFFile>(dir.file("cut.aif"));
    EXPECT_EQ(file->GetNumFrames(), 37u);
    std::vector<double> samples(2 * 37);
    UInt32 count = 37;
    EXPECT_EQ(file->ReadFrames(0, &count, samples.data()), noErr);
    EXPECT_EQ(count, 37u);
    file.reset();

    // The SSND offset field is applied.
    d = original;
    d.insert(d.begin() + ssnd + 16, 6, 0xEE);
    PutBE32(d, std::size_t(ssnd) + 4, BE32(d, std::size_t(ssnd) + 4) + 6);
    PutBE32(d, std::size_t(ssnd) + 8, 6);
    PutBE32(d, 4, UInt32(d.size() - 8));
    WriteAll(dir.file("offset.aif"), d);
    file = OpenFile<CAIFFFile>(dir.file("offset.aif"));
    EXPECT_EQ(file->GetDataOffset(), ssnd + 16 + 6);
    auto reference = OpenFile<CAIFFFile>(path);
    EXPECT_EQ(ReadAllBlocks(*file), ReadAllBlocks(*reference));
    file.reset();

    // A refused file closes once (each refusal's code: the conformance suite).
    d = original;
    d[21] = 0;
    WriteAll(dir.file("bad.aif"), d);
    CAIFFFile bad;
    bad.SetFile(dir.file("bad.aif"));
    EXPECT_EQ(bad.Open(), kAIFFNoCOMMErr);
    EXPECT_EQ(bad.Close(), noErr);
    EXPECT_EQ(bad.Close(), -38);

    // 12-bit words sit left-justified in 16-bit containers.
    d = original;
    d[27] = 12;
    WriteAll(dir.file("twelve.aif"), d);
    file = OpenFile<CAIFFFile>(dir.file("twelve.aif"));
    EXPECT_EQ(file->GetNumBits(), 16);
    EXPECT_EQ(file->GetNumFrames(), 100u);

    // A name ending in .S32: 24-bit samples in 32-bit words.
    WriteAll(dir.file("words.S32"),
             ReadAll(WritePlain<CAIFFFile>(dir.file("base32"), 2, 32, 44100.0, Signal(50, 2))));
    file = OpenFile<CAIFFFile>(dir.file("words.S32"));
    EXPECT_EQ(file->GetState(), kSampleFormat24In32);
    EXPECT_EQ(file->GetNumBits(), 32);
    EXPECT_EQ(file->GetNumFrames(), 50u);
}

TEST_F(AIFFFileTest, SSYSFilesAreMonoWithSwappedSamples)
{
    std::string path = WritePlain<CAIFFFile>(dir.file("ssys"), 1, 24, 44100.0, {0.5, -0.25});
    auto d = ReadAll(path);
    const UInt8 appl[] = {'A', 'P', 'P', 'L', 0, 0, 0, 4, 'S', 'S', 'Y', 'S'};
    d.insert(d.end(), appl, appl + sizeof appl);
    PutBE32(d, 4, UInt32(d.size() - 8));
    WriteAll(path, d);
    auto file = OpenFile<CAIFFFile>(path);
    EXPECT_EQ(file->GetNumChannels(), 1);
    EXPECT_EQ(file->GetState(), kSampleFormatSSYS24);
    ASSERT_EQ(file->ReadBlock(0), noErr);
    const long ssnd = FindChunkIn(d, "SSND");
    const UInt8* block = file->GetReadBuffer();
    EXPECT_EQ(block[0], d[std::size_t(ssnd) + 18]);
    EXPECT_EQ(block[2], d[std::size_t(ssnd) + 16]);
}

TEST_F(AIFFFileTest, ChannelLayoutsAndNames)
{
    // 5.1 in the configuration's order: the CHAN tag is the layout's.
    std::string path = WritePlain<CAIFFFile>(dir.file("six"), 6, 16, 48000.0, Signal(10, 6), kChannelConfig5_1);
    auto d = ReadAll(path);
    ASSERT_EQ(FindChunkIn(d, "CHAN"), 38);
    CAIFFFile probe;
    probe.SetFile(path);
    ASSERT_EQ(probe.Open(), noErr);
    UInt32 size = 0;
    AudioChannelLayout* layout = probe.CreateChannelLayout(&size);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(BE32(d, 46), layout->mChannelLayoutTag);
    std::free(layout);
    EXPECT_EQ(probe.GetChannelConfiguration(), kChannelConfig5_1);
    EXPECT_EQ(probe.GetChannelName(3), "LFE");
    EXPECT_EQ(probe.GetChannelName(0), "Left");
    probe.Close();

    // A quadraphonic file: the fourth and later channels read "Right surround".
    path = WritePlain<CAIFFFile>(dir.file("quad"), 4, 16, 48000.0, Signal(10, 4), kChannelConfigQuad);
    auto quad = OpenFile<CAIFFFile>(path);
    EXPECT_EQ(quad->GetChannelConfiguration(), kChannelConfigQuad);
    EXPECT_EQ(quad->GetChannelName(3), "Right surround");
    EXPECT_EQ(quad->GetChannelName(9), "Right surround");

    // A tag whose order differs from the configuration's with the same
    // speakers: the channels come in the configuration's order, named by it.
    d = ReadAll(WritePlain<CAIFFFile>(dir.file("hex"), 6, 16, 48000.0, Signal(10, 6), kChannelConfig5_1));
    PutBE32(d, 46, 0x006E0006);  // L R Rls Rrs C Cs
    WriteAll(dir.file("hex6.aif"), d);
    auto hex = OpenFile<CAIFFFile>(dir.file("hex6.aif"));
    EXPECT_EQ(hex->GetChannelConfiguration(), kChannelConfig6_0);
    EXPECT_EQ(hex->GetChannelLayoutTag(), 0x008B0006u);
    EXPECT_EQ(hex->GetChannelName(4), "Center");
    PutBE32(d, 46, 0x007C0006);  // C L R Ls Rs LFE
    WriteAll(dir.file("mpegd.aif"), d);
    EXPECT_EQ(OpenFile<CAIFFFile>(dir.file("mpegd.aif"))->GetChannelConfiguration(), kChannelConfig5_1);

    // Stereo without a CHAN chunk.
    auto stereo = OpenFile<CAIFCFile>(WritePlain<CAIFCFile>(dir.file("st"), 2, 16, 8000.0, Signal(4, 2)));
    EXPECT_EQ(stereo->GetChannelConfiguration(), kChannelConfigStereo);
    EXPECT_EQ(stereo->GetChannelName(0), "Left");
    EXPECT_EQ(stereo->GetChannelName(1), "Right");
}

TEST_F(AIFFFileTest, AIFCCompressionTypes)
{
    const std::string path = WritePlain<CAIFCFile>(dir.file("comp"), 1, 16, 8000.0, {0.5, -0.5, 0.25, 0.0});
    const auto original = ReadAll(path);
    const std::size_t data = 86;
    auto withType = [&](const char* type, const std::vector<UInt8>& samples, SInt16 bits) {
        auto d = original;
        std::memcpy(&d[50], type, 4);
        d[39] = UInt8(bits);
        d[38] = 0;
        std::copy(samples.begin(), samples.end(), d.begin() + long(data));
        const std::string p = dir.file(std::string("t_") + (type[0] == '2' ? "x" : "") + type + ".aifc");
        WriteAll(p, d);
        return p;
    };
    // 'sowt': little-endian words come out big-endian.
    auto file = OpenFile<CAIFCFile>(withType("sowt", {0x34, 0x12, 0xFF, 0x7F, 0, 0x80, 1, 0}, 16));
    EXPECT_EQ(file->GetState(), kSampleFormatLittleEndian);
    ASSERT_EQ(file->ReadBlock(0), noErr);
    EXPECT_EQ(file->GetReadBuffer()[0], 0x12);
    EXPECT_EQ(file->GetReadBuffer()[1], 0x34);
    EXPECT_EQ(file->GetReadBuffer()[3], 0xFF);
    // 'fl32': 0.5 -> 1073741824, 1.0 -> 2147483647.
    file = OpenFile<CAIFCFile>(withType("fl32", {0x3F, 0, 0, 0, 0x3F, 0x80, 0, 0}, 32));
    EXPECT_EQ(file->GetFormatName(), "AIFC 32-bit float (big-endian)");
    EXPECT_EQ(file->GetNumFrames(), 2u);  // cut to the data
    ASSERT_EQ(file->ReadBlock(0), noErr);
    EXPECT_EQ(BE32(std::vector<UInt8>(file->GetReadBuffer(), file->GetReadBuffer() + 8), 0), 1073741824u);
    EXPECT_EQ(BE32(std::vector<UInt8>(file->GetReadBuffer(), file->GetReadBuffer() + 8), 4), 2147483647u);
    // '23lf': the same, little-endian.
    file = OpenFile<CAIFCFile>(withType("23lf", {0, 0, 0, 0xBF, 0, 0, 0xC0, 0x7F}, 32));
    EXPECT_EQ(file->GetFormatName(), "AIFC 32-bit float (little-endian)");
    ASSERT_EQ(file->ReadBlock(0), noErr);
    EXPECT_EQ(BE32(std::vector<UInt8>(file->GetReadBuffer(), file->GetReadBuffer() + 8), 0), 0xC0000000u);
    EXPECT_EQ(BE32(std::vector<UInt8>(file->GetReadBuffer(), file->GetReadBuffer() + 8), 4), 0x80000000u);  // NaN
    // 8-bit 'NONE' is signed, as in AIFF.
    file = OpenFile<CAIFCFile>(withType("NONE", {0x40, 0xC0, 0x7F, 0x80}, 8));
    ASSERT_EQ(file->ReadBlock(0), noErr);
    EXPECT_EQ(file->GetReadBuffer()[0], 0x40);
    EXPECT_EQ(file->GetReadBuffer()[1], 0xC0);
    // Coded types are refused.
    for (const char* type : {"ima4", "MAC3", "alaw"}) {
        CAIFCFile coded;
        coded.SetFile(withType(type, {}, 16));
        EXPECT_EQ(coded.Open(), -23800) << type;
    }
}

TEST_F(AIFFFileTest, TemporaryFilesRemoveThemselves)
{
    std::string path;
    {
        CTempFile temp;
        ASSERT_EQ(temp.SetFile(dir.file("work")), noErr);
        ASSERT_EQ(temp.Create(1, 16, 0, nullptr, nullptr, 8000.0f), noErr);
        path = temp.GetPath();
        std::vector<double> s = Signal(10, 1);
        UInt32 n = 10;
        ASSERT_EQ(temp.WriteFrames(0, &n, s.data()), noErr);
        EXPECT_EQ(temp.GetFileType(), kAIFFFileType);
        EXPECT_EQ(temp.GetFormatName(), "Temp");
        EXPECT_FALSE(ReadAll(path).empty());
    }
    FSSpec spec;
    EXPECT_EQ(PathMakeFSSpec(path, &spec), fnfErr);
    // Never created: the disk is left alone, even where a file exists.
    WriteAll(dir.file("keep"), {1, 2, 3});
    {
        CTempFile temp;
        temp.SetFile(dir.file("keep"));
    }
    EXPECT_EQ(ReadAll(dir.file("keep")).size(), 3u);
    {
        CTempFile nothing;
    }
}

TEST_F(AIFFFileTest, OutputsPastTheSizeLimitAreRefused)
{
    CAIFFFile file;
    ASSERT_EQ(file.SetFile(dir.file("huge")), noErr);
    ASSERT_EQ(file.Create(2, 16, 0, nullptr, nullptr, 44100.0f), noErr);
    std::vector<double> s = Signal(4, 2);
    UInt32 n = 4;
    EXPECT_EQ(file.WriteFrames(0x20000000u, &n, s.data()), fsDataTooBigErr);
    EXPECT_EQ(n, 0u);
    n = 4;
    EXPECT_EQ(file.WriteFrames(0, &n, s.data()), noErr);
    EXPECT_EQ(file.Close(), noErr);
    EXPECT_LT(ReadAll(file.GetPath()).size(), 1000u);
    // (Creating over an existing file, or with no channels: the conformance suite.)
}

TEST_F(AIFFFileTest, RegistrationAndProbes)
{
    RegisterPCMFileTypes();
    const std::string aiff = WritePlain<CAIFFFile>(dir.file("p"), 3, 16, 8000.0, Signal(4, 3));
    const std::string aifc = WritePlain<CAIFCFile>(dir.file("q"), 2, 16, 8000.0, Signal(4, 2));
    ASSERT_NE(GetHeaderProbe(kAIFFFileType), nullptr);
    ASSERT_NE(GetHeaderProbe(kAIFCFileType), nullptr);
    EXPECT_EQ(GetHeaderProbe(kAIFFFileType)(QString::fromStdString(aiff)), 3);
    EXPECT_EQ(GetHeaderProbe(kAIFFFileType)(QString::fromStdString(aifc)), 0);
    EXPECT_EQ(GetHeaderProbe(kAIFCFileType)(QString::fromStdString(aifc)), 2);
    EXPECT_EQ(GetAIFFNumChannels(aiff), 3);
    EXPECT_EQ(GetAIFFNumChannels(aifc), 2);
    std::unique_ptr<CSoundFile> made(GetSoundFileFactory(kTempFileType)());
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetFormatName(), "Temp");
    ASSERT_NE(GetChunkFinder(FOUR_CHAR_CODE("FORM")), nullptr);
    std::ifstream in(aiff, std::ios::binary);
    EXPECT_EQ(GetChunkFinder(FOUR_CHAR_CODE("FORM"))(in, FOUR_CHAR_CODE("SSND"), 1), noErr);
    // ProbeHeader (closed, channels set): the conformance suite.
}

TEST_F(AIFFFileTest, CloseReportsWhatItCouldNotPatch)
{
    for (int broken = 0; broken < 2; ++broken) {
        CAIFFFile file;
        ASSERT_EQ(file.SetFile(dir.file("broken" + std::to_string(broken))), noErr);
        ASSERT_EQ(file.Create(1, 16, 0, nullptr, nullptr, 8000.0f), noErr);
        std::vector<double> s = Signal(10, 1);
        UInt32 n = 10;
        ASSERT_EQ(file.WriteFrames(0, &n, s.data()), noErr);
        // Damage the header behind the object's back.
        {
            std::fstream raw(file.GetPath(), std::ios::in | std::ios::out | std::ios::binary);
            raw.seekp(broken == 0 ? long(FindChunkIn(ReadAll(file.GetPath()), "SSND")) : 0);
            raw.write("XXXX", 4);
        }
        const OSErr err = file.Close();
        if (broken == 0) {
            EXPECT_TRUE(err == -22201 || err == -22009 || err == -22204) << err;  // the walk loses its way
        } else {
            EXPECT_EQ(err, -22200);
        }
        EXPECT_TRUE(file.IsHeaderDirty());
        EXPECT_FALSE(file.IsOpen());
    }
    // ProbeHeader leaves an open file alone.
    const std::string path = WritePlain<CAIFFFile>(dir.file("probe"), 1, 16, 8000.0, Signal(10, 1));
    auto open = OpenFile<CAIFFFile>(path);
    SInt16 result = 0;
    EXPECT_NE(open->ProbeHeader(&result), noErr);
    EXPECT_TRUE(open->IsOpen());
    EXPECT_EQ(open->ReadBlock(0), noErr);
}
