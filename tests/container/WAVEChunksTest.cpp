// The WAVE chunks as every WAVE-based type writes them read back by the one
// reader: each format chunk form with its extra bytes, the frame layout
// check, and markers and regions through 'cue ' / 'adtl' with and without
// region names.
#include "wave_chunks.h"

#include "ByteOrder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace wave_chunks;

Format Shape(UInt16 tag, UInt16 channels, UInt16 blockAlign, UInt16 bits, std::vector<UInt8> extra, bool hasExtra)
{
    Format f;
    f.tag = tag;
    f.coding = tag;
    f.channels = channels;
    f.sampleRate = 8000;
    f.byteRate = 8000u * blockAlign;
    f.blockAlign = blockAlign;
    f.bitsPerSample = bits;
    f.hasExtra = hasExtra;
    f.extra = std::move(extra);
    return f;
}

Format ReadBack(const Format& written)
{
    ChunkBuilder chunk(ChunkByteOrder::LittleEndian);
    PutFormat(&chunk, written);
    ChunkView body(chunk.data() + 8, chunk.size() - 8, ChunkByteOrder::LittleEndian);
    Format read;
    EXPECT_TRUE(ParseFormat(body, &read));
    return read;
}

void SetName(Str31 name, const char* text)
{
    name[0] = UInt8(std::strlen(text));
    std::memcpy(name + 1, text, name[0]);
}

std::string Name(const Str31 name)
{
    return std::string(reinterpret_cast<const char*>(name + 1), name[0]);
}

} // namespace

TEST(WAVEChunks, EveryFormatFormReadsBackAsWritten)
{
    const std::vector<Format> forms = {
        Shape(kWAVEFormatPCM, 2, 4, 16, {}, false),                      // plain
        Shape(kWAVEFormatMuLaw, 1, 1, 8, {}, true),                      // companded: no extra bytes
        Shape(kWAVEFormatExtensible, 6, 24, 32,
              ExtensibleExtra(24, 0x3F, kWAVEFormatFloat), true),        // extensible float
        Shape(kWAVEFormatMSADPCM, 1, 256, 4, std::vector<UInt8>(32, 7), true),
        Shape(kWAVEFormatG729, 1, 10, 0, {2, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true),
    };
    for (const Format& written : forms) {
        const Format read = ReadBack(written);
        EXPECT_EQ(read.tag, written.tag);
        EXPECT_EQ(read.channels, written.channels);
        EXPECT_EQ(read.blockAlign, written.blockAlign);
        EXPECT_EQ(read.bitsPerSample, written.bitsPerSample);
        EXPECT_EQ(read.hasExtra, written.hasExtra);
        EXPECT_EQ(read.extra, written.extra);
        EXPECT_EQ(read.extraSize, written.extra.size());
    }
    const Format extensible = ReadBack(forms[2]);
    EXPECT_TRUE(extensible.extensible);
    EXPECT_EQ(extensible.coding, kWAVEFormatFloat);
    EXPECT_EQ(extensible.validBits, 24);
    EXPECT_EQ(extensible.channelMask, 0x3Fu);
}

TEST(WAVEChunks, BlockSizesMustHoldTheChannelsWords)
{
    struct Case {
        Format format;
        OSErr expected;
    };
    const std::vector<Case> cases = {
        {Shape(kWAVEFormatPCM, 2, 4, 16, {}, false), noErr},
        {Shape(kWAVEFormatPCM, 1, 3, 20, {}, false), noErr},            // 20 bits take 3 bytes
        {Shape(kWAVEFormatPCM, 1, 4, 20, {}, false), kWAVEBadBlockAlignErr},  // not 4
        {Shape(kWAVEFormatPCM, 128, 4, 16, {}, false), kWAVEBadBlockAlignErr},
        {Shape(kWAVEFormatPCM, 2, 2, 16, {}, false), kWAVEBadBlockAlignErr},
        {Shape(kWAVEFormatPCM, 65535, 65534, 16, {}, false), noErr},   // a frame the field cannot hold
        {Shape(kWAVEFormatFloat, 2, 4, 32, {}, false), kWAVEBadBlockAlignErr},
        {Shape(kWAVEFormatALaw, 3, 3, 8, {}, true), noErr},
        {Shape(kWAVEFormatALaw, 3, 1, 8, {}, true), kWAVEBadBlockAlignErr},
        {Shape(kWAVEFormatMSADPCM, 2, 512, 4, {}, true), noErr},        // a coder's block
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckFrameLayout(c.format), c.expected)
            << c.format.tag << " " << c.format.channels << "x" << c.format.bitsPerSample << " in " << c.format.blockAlign;
}

TEST(WAVEChunks, MarkersAndRegionsReadBackWithOrWithoutRegionNames)
{
    std::vector<SFTMarker> markers(2);
    markers[0].pos = 10;
    SetName(markers[0].name, "one");
    markers[1].pos = 20;
    SetName(markers[1].name, "two");
    std::vector<SFTRegion> regions(1);
    regions[0].start = 30;
    regions[0].end = 70;
    SetName(regions[0].name, "verse");
    for (const bool nameRegions : {true, false}) {
        ChunkBuilder chunks(ChunkByteOrder::LittleEndian);
        PutCueList(&chunks, markers, regions, nameRegions);
        // 'cue ' then 'LIST' (its type 'adtl' skipped).
        const UInt32 cueSize = ReadLE32(chunks.data() + 4);
        ChunkView cue(chunks.data() + 8, cueSize, ChunkByteOrder::LittleEndian);
        const UInt8* list = chunks.data() + 8 + cueSize;
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(list), 4), "LIST");
        ChunkView adtl(list + 12, ReadLE32(list + 4) - 4, ChunkByteOrder::LittleEndian);
        const std::vector<CueAnnotation> read = ParseCueList(cue, adtl);
        ASSERT_EQ(read.size(), 3u);
        EXPECT_FALSE(read[0].isRegion);
        EXPECT_EQ(read[0].position, 10u);
        EXPECT_EQ(Name(read[0].name), "one");
        EXPECT_EQ(Name(read[1].name), "two");
        EXPECT_TRUE(read[2].isRegion);
        EXPECT_EQ(read[2].position, 30u);
        EXPECT_EQ(read[2].length, 40u);
        EXPECT_EQ(read[2].number, 2);
        EXPECT_EQ(Name(read[2].name), nameRegions ? "verse" : "Region nmbr 2");
    }
}
