// Sound Designer II and Dyaxis MacMix: shape and annotations through the
// resource fork and damaged resource lists (detection, and the exchange
// with libsndfile in both directions: the conformance suite; libsndfile's
// sidecar resources: DetectPeerFilesTest).
#include "CDyaxisMacMixFile.h"
#include "CSDIIFile.h"
#include "CreateSoundFile.h"
#include "MemoryManager.h"
#include "ResourceManager.h"
#include "SDIIFileTypes.h"
#include "SoundFileRegistry.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"
#include "WAVETestSupport.h"
#include "ZuResourceFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace wavetest;

namespace {

// Big-endian field builder for resource bodies.
struct BE {
    std::vector<UInt8> b;
    BE& u16(UInt16 v) { b.push_back(UInt8(v >> 8)); b.push_back(UInt8(v)); return *this; }
    BE& u32(UInt32 v) { u16(UInt16(v >> 16)); return u16(UInt16(v)); }
    BE& text(const std::string& t) { b.insert(b.end(), t.begin(), t.end()); return *this; }
    BE& zeros(std::size_t n) { b.insert(b.end(), n, 0); return *this; }
};

void PutResource(const std::string& path, ResType type, const std::vector<UInt8>& body)
{
    Handle h = NewHandle(Size(body.size()));
    ASSERT_NE(h, nullptr);
    if (!body.empty())
        std::memcpy(*h, body.data(), body.size());
    ZuResourceFile file(path, true);
    file.PutResource(type, 1000, h, QString());
    DisposeHandle(h);
}

std::vector<UInt8> GetResourceBytes(const std::string& path, ResType type, SInt16 id)
{
    ZuResourceFile file(path, true);
    Handle h = file.GetResource(type, id);
    if (!h)
        return {};
    std::vector<UInt8> out(std::size_t(GetHandleSize(h)));
    std::memcpy(out.data(), *h, out.size());
    DisposeHandle(h);
    return out;
}

// A hand-made file: `bytes` of data fork and the three strings.
void MakeFile(const std::string& path, std::size_t bytes, const QString& size, const QString& rate,
              const QString& channels)
{
    WriteAll(path, std::vector<UInt8>(bytes, 0));
    ZuResourceFile file(path, true);
    if (!size.isNull())
        file.PutStringResource(size, 1000, "sample-size");
    if (!rate.isNull())
        file.PutStringResource(rate, 1001, "sample-rate");
    if (!channels.isNull())
        file.PutStringResource(channels, 1002, "channels");
}

std::vector<UInt8> RegionList(const std::vector<std::pair<SInt32, UInt32>>& ranges, std::size_t tail = 0)
{
    BE r;
    r.u16(1).u32(12).u32(56).u32(0).u32(UInt32(ranges.size() + 1));
    SInt32 id = 1;
    for (const auto& [start, end] : ranges) {
        r.u32(UInt32(id++)).u32(UInt32(start)).u32(end).u32(UInt32(start)).u32(77).u32(77);
        r.b.push_back(4);
        r.text("Take").zeros(27);
    }
    return r.zeros(tail).b;
}

class SDIIFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterSDIIFileTypes();
        SetProcessFileIfNoRegions(false);
        SetIgnoreRegionsContainingWholeFile(false);
        SetSkipBadRegion(0);
    }
    void TearDown() override
    {
        SetProcessFileIfNoRegions(false);
        SetIgnoreRegionsContainingWholeFile(false);
    }
    TestTempDir dir;
};

} // namespace

TEST_F(SDIIFile, RegistersBothTypesAndTheChannelProbe)
{
    std::unique_ptr<CSoundFile> sd2(CreateSoundFileObject(FOUR_CHAR_CODE("Sd2f")));
    std::unique_ptr<CSoundFile> mix(CreateSoundFileObject(FOUR_CHAR_CODE("MMIX")));
    ASSERT_TRUE(sd2 && mix);  // Sd2f's name and split naming: the conformance suite
    EXPECT_EQ(mix->GetFormatName(), "Dyaxis MacMix");
    EXPECT_EQ(mix->GetFileType(), FOUR_CHAR_CODE("MMIX"));

    const std::string path = dir.file("probe.sd2");
    MakeFile(path, 0, "2", "48000.000000", "6");
    HeaderProbe probe = GetHeaderProbe(FOUR_CHAR_CODE("Sd2f"));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe(QString::fromStdString(path)), 6);
    EXPECT_LT(probe(QString::fromStdString(dir.file("missing.sd2"))), 0);
    EXPECT_EQ(GetSDIINumChannels(path), 6);
}

TEST_F(SDIIFile, NumbersAreReadAsLeadingNumbers)
{
    EXPECT_EQ(SDIITextIntValue("3"), 3);
    EXPECT_EQ(SDIITextIntValue("  44100.000000"), 44100);
    EXPECT_EQ(SDIITextIntValue("abc"), 0);
    EXPECT_EQ(SDIITextIntValue("99999999999"), INT32_MAX);
    EXPECT_DOUBLE_EQ(SDIITextDoubleValue("44100.500000xyz"), 44100.5);
    EXPECT_DOUBLE_EQ(SDIITextDoubleValue("-"), 0.0);
}

TEST_F(SDIIFile, OpensTheShapeFromTheStringResources)
{
    const std::string path = dir.file("shape.sd2");
    MakeFile(path, 176400 + 3, "2", "44100.000000", "2");
    OSErr err;
    auto file = OpenWith<CSDIIFile>(path, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetNumFrames(), 44100u);
    EXPECT_EQ(file->GetNumBits(), 16);
    EXPECT_EQ(file->GetNumChannels(), 2);
    EXPECT_DOUBLE_EQ(file->GetSampleRate(), 44100.0);
    EXPECT_EQ(file->GetState(), 0);

    const std::string wide = dir.file("wide.sd2");
    MakeFile(wide, 9 * 10, "3", "96000", "3");
    auto w = OpenWith<CSDIIFile>(wide, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(w->GetNumBits(), 24);
    EXPECT_EQ(w->GetNumFrames(), 10u);
}

TEST_F(SDIIFile, RefusesShapesTheSamplesCannotHave)
{
    struct Case { const char* size; const char* rate; const char* channels; OSErr expected; };
    const Case cases[] = {
        {nullptr, "44100", "2", kSDIINoWordSizeErr}, {"0", "44100", "2", kSDIINoWordSizeErr},
        {"5", "44100", "2", kSDIINoWordSizeErr},     {"2", nullptr, "2", kSDIINoSampleRateErr},
        {"2", "nan", "2", kSDIINoSampleRateErr},     {"2", "44100", "0", kSDIINoChannelsErr},
        {"2", "44100", "100000", kSDIINoChannelsErr},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = dir.file("bad" + std::to_string(n++) + ".sd2");
        MakeFile(path, 64, c.size ? QString(c.size) : QString(), c.rate ? QString(c.rate) : QString(),
                 c.channels ? QString(c.channels) : QString());
        OSErr err;
        auto file = OpenWith<CSDIIFile>(path, &err);
        EXPECT_EQ(err, c.expected) << path;
        EXPECT_FALSE(file->IsOpen());
    }
}

TEST_F(SDIIFile, WritesAndReadsBackSamplesAndAnnotations)
{
    OSErr err;
    auto out = CreateWith<CSDIIFile>(dir.path(), "take", 2, 24, 48000.0f, &err);
    ASSERT_EQ(err, noErr);
    const std::string path = out->GetPath();
    const std::vector<SInt32> samples = TestSamples(2 * 30000, 24);
    ASSERT_EQ(WriteAllSamples(*out, samples), noErr);
    SFTMarker m1;
    m1.markerID = 5; m1.pos = 100; m1.type = 3; m1.name[0] = 3; std::memcpy(m1.name + 1, "Hit", 3);
    ASSERT_EQ(out->AddMarker(&m1), noErr);
    SFTMarker m2;
    m2.markerID = 7; m2.pos = 200; m2.type = 1; m2.name[0] = 0;
    ASSERT_EQ(out->AddMarker(&m2), noErr);
    SFTLoop loop;
    loop.loopID = 9; loop.start = 10; loop.end = 500; loop.type = 1;
    ASSERT_EQ(out->AddLoop(&loop), noErr);
    SFTRegion region;
    region.regionID = 3; region.start = 1000; region.end = 2000; region.syncFrame = 1500; region.timeStamp = 1234;
    region.name[0] = 5; std::memcpy(region.name + 1, "Verse", 5);
    ASSERT_EQ(out->AddRegion(&region), noErr);
    ASSERT_EQ(out->Close(), noErr);

    // The resources as published.
    EXPECT_EQ(GetResourceBytes(path, FOUR_CHAR_CODE("STR "), 1000).size(), 256u);
    ZuResourceFile resources(path, true);
    EXPECT_EQ(resources.GetStringResource(1000), "3");
    EXPECT_EQ(resources.GetStringResource(1001), "48000.000000");
    EXPECT_EQ(resources.GetStringResource(1002), "2");
    const std::vector<UInt8> markers = GetResourceBytes(path, FOUR_CHAR_CODE("sdML"), 1000);
    ASSERT_EQ(markers.size(), 8u + 23u + 20u);
    EXPECT_EQ(markers[7], 2);
    EXPECT_EQ(markers[8 + 1], 2);          // type 3 is stored as 2 ...
    EXPECT_EQ(markers[8 + 12], 0x0B);      // ... with 0x0BC4
    EXPECT_EQ(markers[8 + 13], 0xC4);
    EXPECT_EQ(markers[31 + 12], 0x5F);     // type 1: 0x5F6E
    const std::vector<UInt8> loops = GetResourceBytes(path, FOUR_CHAR_CODE("sdLL"), 1000);
    ASSERT_EQ(loops.size(), 22u);
    EXPECT_EQ(loops[8 + 9], 1);            // 1-based number
    EXPECT_EQ(loops[8 + 11], 0x75);
    const std::vector<UInt8> regions = GetResourceBytes(path, FOUR_CHAR_CODE("ddRL"), 1000);
    ASSERT_EQ(regions.size(), 18u + 56u);
    EXPECT_EQ(regions[17], 2);             // count + 1

    auto in = OpenWith<CSDIIFile>(path, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(in->GetNumFrames(), 30000u);
    EXPECT_EQ(ReadAllSamples(*in), samples);
    ASSERT_EQ(in->GetNumMarkers(), 2);
    SFTMarker r;
    ASSERT_EQ(in->GetMarker(0, &r), noErr);
    EXPECT_EQ(r.markerID, 5);
    EXPECT_EQ(r.pos, 100u);
    EXPECT_EQ(r.type, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(r.name + 1), r.name[0]), "Hit");
    ASSERT_EQ(in->GetMarker(1, &r), noErr);
    EXPECT_EQ(r.type, 1);
    EXPECT_EQ(r.number, 0);
    // Loop and region frames, names and types: the conformance suite.
    ASSERT_EQ(in->GetNumLoops(), 1);
    EXPECT_EQ(in->GetLoopObject(0)->loopID(), 1);
    ASSERT_EQ(in->GetNumRegions(), 1);
    EXPECT_EQ(in->GetRegionObject(0)->syncFrame(), 1500u);
    EXPECT_EQ(in->GetRegionObject(0)->timeStamp(), 1234);
}

TEST_F(SDIIFile, MacMixWritesItsOwnHFSType)
{
    OSErr err;
    auto out = CreateWith<CDyaxisMacMixFile>(dir.path(), "mix", 1, 16, 44100.0f, &err);
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(WriteAllSamples(*out, TestSamples(100, 16)), noErr);
    ASSERT_EQ(out->Close(), noErr);
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(out->GetPath(), &ref), noErr);
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(info.finderInfo.fileType, FOUR_CHAR_CODE("MMIX"));
    auto in = OpenWith<CDyaxisMacMixFile>(out->GetPath(), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(in->GetNumFrames(), 100u);
}

TEST_F(SDIIFile, RegionListRules)
{
    const std::string path = dir.file("regions.sd2");
    MakeFile(path, 4000, "2", "44100", "1");  // 2000 frames
    PutResource(path, FOUR_CHAR_CODE("ddRL"), RegionList({{0, 2000}, {-1, 5}, {10, 3000}}, 10));
    {
        CSDIIFile probe;
        ASSERT_EQ(probe.SetFile(path), noErr);
        SInt16 count = -1;
        EXPECT_EQ(probe.ProbeHeader(&count), noErr);
        EXPECT_EQ(count, 3);
        EXPECT_FALSE(probe.IsOpen());
    }
    OSErr err;
    auto whole = OpenWith<CSDIIFile>(path, &err);
    ASSERT_EQ(err, noErr);
    // 0..2000 and the negative start (made whole) compare equal; 10..3000
    // runs past the end and is skipped.
    ASSERT_GE(whole->GetNumRegions(), 1);
    for (UInt16 i = 0; i < whole->GetNumRegions(); ++i) {
        SFTRegion g;
        ASSERT_EQ(whole->GetRegion(i, &g), noErr);
        EXPECT_EQ(g.start, 0u);
        EXPECT_EQ(g.end, 2000u);
    }
    EXPECT_EQ(whole->GetTimeStamp(), 77u);

    SetIgnoreRegionsContainingWholeFile(true);
    auto ignored = OpenWith<CSDIIFile>(path, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(ignored->GetNumRegions(), 0);

    const std::string none = dir.file("none.sd2");
    MakeFile(none, 4000, "2", "44100", "1");
    SetProcessFileIfNoRegions(true);
    auto fileRegion = OpenWith<CSDIIFile>(none, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(fileRegion->GetNumRegions(), 1);
}

TEST_F(SDIIFile, DamagedListsAreRefusedAndTheForkClosed)
{
    // Open's answer for a two-channel file with these lists; a refused file
    // is closed, its resource fork too.
    const auto openWith = [&](const std::string& name, const std::vector<std::pair<ResType, std::vector<UInt8>>>& lists) {
        const std::string path = dir.file(name + ".sd2");
        MakeFile(path, 400, "2", "44100", "2");
        for (const auto& [type, bytes] : lists)
            PutResource(path, type, bytes);
        const int openFiles = OpenResFileCount();
        OSErr err;
        auto file = OpenWith<CSDIIFile>(path, &err);
        if (err != noErr) {
            EXPECT_FALSE(file->IsOpen()) << name;
            EXPECT_EQ(OpenResFileCount(), openFiles) << name;
        }
        return err;
    };
    // Marker list whose second record is cut after 12 bytes.
    BE markers;
    markers.u16(1).u32(0).u16(2);
    markers.u16(1).u16(1).u32(5).u16(0).u16(0).u16(0x5F6E).u16(1).u32(2).text("ab");
    markers.u16(2).u16(2).u32(6).u16(0).u16(0);
    EXPECT_EQ(openWith("badmarkers", {{FOUR_CHAR_CODE("sdML"), markers.b}}), kSDIIBadMarkerResourceErr);
    // A name length that runs past the list.
    BE longName;
    longName.u16(1).u32(0).u16(1).u16(1).u16(1).u32(5).u16(0).u16(0).u16(0x5F6E).u16(1).u32(0xFFFFFFF0u).text("ab");
    EXPECT_EQ(openWith("longname", {{FOUR_CHAR_CODE("sdML"), longName.b}}), kSDIIBadMarkerResourceErr);
    // Loop list promising two records, holding one and a half.
    BE loops;
    loops.u16(1).u16(0).u16(0).u16(2).u32(1).u32(2).u16(1).u16(0x75).u16(0).u32(3);
    EXPECT_EQ(openWith("badloops", {{FOUR_CHAR_CODE("sdLL"), loops.b}}), kSDIIBadLoopResourceErr);

    // Every truncation of valid lists: no crash, and either success or the
    // list's own code.
    BE good;
    good.u16(1).u32(0).u16(2);
    good.u16(1).u16(1).u32(5).u16(0).u16(0).u16(0x5F6E).u16(1).u32(2).text("ab");
    good.u16(2).u16(2).u32(6).u16(0).u16(0).u16(0x0BC4).u16(2).u32(0);
    const std::vector<UInt8> regions = RegionList({{0, 10}, {5, 20}});
    for (std::size_t cut = 0; cut <= good.b.size(); ++cut) {
        const OSErr err = openWith("cut" + std::to_string(cut),
            {{FOUR_CHAR_CODE("sdML"), std::vector<UInt8>(good.b.begin(), good.b.begin() + cut)},
                {FOUR_CHAR_CODE("ddRL"),
                    std::vector<UInt8>(regions.begin(), regions.begin() + std::min(cut * 2, regions.size()))}});
        if (cut == good.b.size())
            EXPECT_EQ(err, noErr);
        else
            EXPECT_TRUE(err == noErr || err == kSDIIBadMarkerResourceErr) << cut << " " << err;
    }
}
