// The shared IFF/RIFF chunk walk and its bounded views, the 80-bit extended
// numbers and the stream probe of the AIFF family.
#include "CAIFFFile.h"
#include "ChunkReader.h"
#include "error_code_exception.h"
#include "ieee_extended.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

namespace {

// An IFF/RIFF image built chunk by chunk.
struct Image {
    explicit Image(ChunkByteOrder order, const char* container = "FORM", const char* form = "AIFF")
        : bytes(order)
    {
        bytes.put_fourcc(ChunkIDFromString(container));
        bytes.put_u32(0);
        bytes.put_fourcc(ChunkIDFromString(form));
    }
    Image& chunk(const char* id, std::size_t bodySize, UInt32 sizeField = 0xFFFFFFFE)
    {
        bytes.put_fourcc(ChunkIDFromString(id));
        bytes.put_u32(sizeField == 0xFFFFFFFE ? UInt32(bodySize) : sizeField);
        for (std::size_t i = 0; i < bodySize; ++i) {
            bytes.put_u8(UInt8(i + 1));
        }
        if (bodySize & 1) {
            bytes.put_u8(0);
        }
        return *this;
    }
    std::vector<UInt8> done(bool patchSize = true)
    {
        if (patchSize) {
            bytes.patch_u32(4, UInt32(bytes.size() - 8));
        }
        return bytes.bytes();
    }
    ChunkBuilder bytes;
};

void PutBE(std::vector<UInt8>& d, std::size_t at, UInt32 v)
{
    d[at] = UInt8(v >> 24);
    d[at + 1] = UInt8(v >> 16);
    d[at + 2] = UInt8(v >> 8);
    d[at + 3] = UInt8(v);
}

ChunkWalkOptions AIFFOptions()
{
    ChunkWalkOptions o;
    o.order = ChunkByteOrder::BigEndian;
    o.tooManyChunksErr = -22204;
    return o;
}

ChunkWalkOptions RIFFOptions()
{
    ChunkWalkOptions o;
    o.order = ChunkByteOrder::LittleEndian;
    return o;
}

} // namespace

TEST(AIFFChunkWalk, FindsChunksInBothByteOrdersAcrossOddPads)
{
    for (ChunkByteOrder order : {ChunkByteOrder::BigEndian, ChunkByteOrder::LittleEndian}) {
        auto data = Image(order).chunk("odd ", 3).chunk("COMM", 18).chunk("odd ", 5).chunk("SSND", 8).done();
        MemoryChunkSource source(data.data(), data.size());
        ChunkReader reader(source, order == ChunkByteOrder::BigEndian ? AIFFOptions() : RIFFOptions());
        ChunkInfo info;
        ASSERT_EQ(reader.Find(ChunkID("COMM"), &info), noErr);
        EXPECT_EQ(info.headerPos, 12 + 8 + 4);
        EXPECT_EQ(info.bodySize, 18);
        ASSERT_EQ(reader.Find(ChunkID("odd "), &info, 2), noErr);
        EXPECT_EQ(info.headerPos, 24 + 26);
        EXPECT_EQ(info.NextPos(), 24 + 26 + 8 + 6);
        ASSERT_EQ(reader.Find(ChunkID("SSND"), &info), noErr);
        EXPECT_EQ(info.BodyEnd(), SInt64(data.size()));
        EXPECT_EQ(reader.Find(ChunkID("MARK"), &info), kChunkNotFoundErr);
        EXPECT_EQ(reader.Find(ChunkID("odd "), &info, 3), kChunkNotFoundErr);
        ChunkView body;
        ASSERT_EQ(reader.ReadBody(info, &body), noErr);
        EXPECT_EQ(body.size(), 8u);
    }
}

TEST(AIFFChunkWalk, LimitsAndCorruptSizes)
{
    // The chunk at 12 and 100 after it are looked at; the 102nd is not.
    Image many(ChunkByteOrder::BigEndian);
    for (int i = 0; i < 101; ++i) {
        many.chunk("junk", 2);
    }
    many.chunk("COMM", 18);
    auto data = many.done();
    MemoryChunkSource source(data.data(), data.size());
    ChunkInfo info;
    EXPECT_EQ(ChunkReader(source, AIFFOptions()).Find(ChunkID("COMM"), &info), -22204);
    EXPECT_EQ(ChunkReader(source, RIFFOptions()).Find(ChunkID("COMM"), &info), kChunkNotFoundErr);
    Image hundred(ChunkByteOrder::BigEndian);
    for (int i = 0; i < 100; ++i) {
        hundred.chunk("junk", 2);
    }
    hundred.chunk("COMM", 18);
    data = hundred.done();
    MemoryChunkSource source100(data.data(), data.size());
    EXPECT_EQ(ChunkReader(source100, AIFFOptions()).Find(ChunkID("COMM"), &info), noErr);

    // A negative size cannot be stepped over; the chunk itself can be found.
    data = Image(ChunkByteOrder::BigEndian).chunk("bad ", 4, 0x80000000u).chunk("COMM", 18).done();
    MemoryChunkSource bad(data.data(), data.size());
    EXPECT_EQ(ChunkReader(bad, AIFFOptions()).Find(ChunkID("COMM"), &info), kCorruptChunkSizeErr);
    ASSERT_EQ(ChunkReader(bad, AIFFOptions()).Find(ChunkID("bad "), &info), noErr);
    EXPECT_TRUE(info.clamped);
    EXPECT_EQ(info.BodyEnd(), SInt64(data.size()));

    // 0xFFFFFFFF: to the end of the file, and the walk ends there.
    data = Image(ChunkByteOrder::BigEndian).chunk("COMM", 18).chunk("SSND", 40, 0xFFFFFFFFu).done();
    MemoryChunkSource open(data.data(), data.size());
    ASSERT_EQ(ChunkReader(open, AIFFOptions()).Find(ChunkID("SSND"), &info), noErr);
    EXPECT_EQ(info.bodySize, 40);
    EXPECT_EQ(ChunkReader(open, AIFFOptions()).Find(ChunkID("MARK"), &info), kChunkNotFoundErr);
}

TEST(AIFFChunkWalk, StopsAtContainerEndAndClampsToTheFile)
{
    // A FORM size that ends before the second chunk hides it.
    auto data = Image(ChunkByteOrder::BigEndian).chunk("COMM", 18).chunk("MARK", 2).done(false);
    PutBE(data, 4, UInt32(4 + 26));
    MemoryChunkSource source(data.data(), data.size());
    ChunkReader reader(source, AIFFOptions());
    ChunkInfo info;
    EXPECT_EQ(reader.Find(ChunkID("MARK"), &info), kChunkNotFoundErr);
    EXPECT_EQ(reader.ContainerEnd(), 38);
    // A FORM size past the end of the file (or 0xFFFFFFFF) means the file's end.
    PutBE(data, 4, 0xFFFFFFFFu);
    EXPECT_EQ(reader.Find(ChunkID("MARK"), &info), noErr);
    PutBE(data, 4, 0x7FFFFFFFu);
    EXPECT_EQ(reader.Find(ChunkID("MARK"), &info), noErr);
    EXPECT_EQ(reader.ContainerEnd(), SInt64(data.size()));
    // A FORM size of 0 (a writer to a pipe) means the file's end too.
    PutBE(data, 4, 0);
    EXPECT_EQ(reader.Find(ChunkID("MARK"), &info), noErr);
    // Such a writer leaves the sound chunk's size 0 as well: in a container
    // of unknown size that sound runs to the end of the file, the walk
    // ending there; in a sized container, or for any other chunk, 0 is 0.
    for (const UInt32 formSize : {0u, 0xFFFFFFFFu, 1u}) {
        data = Image(ChunkByteOrder::BigEndian).chunk("APPL", 0).chunk("COMM", 18).chunk("SSND", 0).done(false);
        const auto sound = data.size();
        data.insert(data.end(), {'M', 'A', 'R', 'K', 0, 0, 0, 2, 0, 0});
        PutBE(data, 4, formSize == 1 ? UInt32(data.size() - 8) : formSize);
        MemoryChunkSource streamed(data.data(), data.size());
        ChunkWalkOptions options = AIFFOptions();
        options.soundChunk = ChunkID("SSND");
        ChunkReader walk(streamed, options);
        ASSERT_EQ(walk.Find(ChunkID("SSND"), &info), noErr) << formSize;
        EXPECT_EQ(info.sizeUnknown, formSize != 1) << formSize;
        EXPECT_EQ(info.BodyEnd(), formSize != 1 ? SInt64(data.size()) : SInt64(sound)) << formSize;
        EXPECT_EQ(walk.Find(ChunkID("MARK"), &info), formSize != 1 ? kChunkNotFoundErr : noErr) << formSize;
        ASSERT_EQ(walk.Find(ChunkID("APPL"), &info), noErr);
        EXPECT_EQ(info.bodySize, 0);
        EXPECT_FALSE(info.sizeUnknown);
    }
    // A chunk promising more than the file holds is cut to the file.
    data = Image(ChunkByteOrder::BigEndian).chunk("SSND", 10, 5000).done();
    MemoryChunkSource cut(data.data(), data.size());
    ChunkReader cutReader(cut, AIFFOptions());
    ASSERT_EQ(cutReader.Find(ChunkID("SSND"), &info), noErr);
    EXPECT_TRUE(info.clamped);
    EXPECT_EQ(info.bodySize, 10);
    // Files shorter than a header.
    for (std::size_t n = 0; n < 20; ++n) {
        MemoryChunkSource tiny(data.data(), n);
        EXPECT_NE(ChunkReader(tiny, AIFFOptions()).Find(ChunkID("SSND"), &info), noErr) << n;
    }
}

TEST(AIFFChunkWalk, ViewsRefuseReadsPastTheirEnd)
{
    const UInt8 raw[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x05, 'a', 'b'};
    ChunkView be(raw, sizeof raw, ChunkByteOrder::BigEndian, -22202);
    EXPECT_EQ(be.get_u16(), 0x1234);
    EXPECT_EQ(be.get_u32le(), 0xBC9A7856u);
    EXPECT_THROW(be.get_u32be(), error_code_exception);
    EXPECT_EQ(be.tell(), 6u);  // a failed read does not move
    try {
        be.skip(10);
        FAIL();
    } catch (const error_code_exception& e) {
        EXPECT_EQ(e.code(), -22202);
    }
    // A Pascal length past the end is cut to what is left.
    EXPECT_EQ(be.get_pstring(), "ab");
    EXPECT_EQ(be.remaining(), 0u);
    EXPECT_THROW(be.get_u8(), error_code_exception);
    ChunkView le(raw, 4, ChunkByteOrder::LittleEndian);
    EXPECT_EQ(le.get_u32(), 0x78563412u);
    ChunkView sub(raw, sizeof raw, ChunkByteOrder::BigEndian);
    ChunkView part = sub.get_view(2);
    EXPECT_EQ(part.size(), 2u);
    EXPECT_THROW(part.get_u32be(), error_code_exception);
    EXPECT_THROW(sub.get_view(100), error_code_exception);

    // Views on both sides of the size a view holds in itself read alike,
    // also as copies taken part way through.
    UInt8 longer[40];
    for (int i = 0; i < 40; ++i)
        longer[i] = UInt8(i);
    ChunkView whole(longer, sizeof longer, ChunkByteOrder::BigEndian);
    for (std::size_t size : {15u, 16u, 17u}) {
        whole.seek(0);
        ChunkView piece = whole.get_view(size);
        EXPECT_EQ(piece.get_u16(), 0x0001);
        ChunkView copy = piece;
        ChunkView assigned;
        assigned = piece;
        for (ChunkView* v : {&piece, &copy, &assigned}) {
            EXPECT_EQ(v->size(), size);
            EXPECT_EQ(v->get_u32be(), 0x02030405u);
            EXPECT_EQ(v->data()[size - 1], UInt8(size - 1));
            EXPECT_EQ(v->remaining(), size - 6);
        }
    }
}

TEST(AIFFExtended, EncodesAndDecodesRates)
{
    UInt8 bytes[10];
    ConvertToIeeeExtended(44100.0, bytes);
    const UInt8 expected[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(bytes, expected, 10));
    EXPECT_EQ(ConvertFromIeeeExtended(bytes), 44100.0);
    for (double rate : {1.0, 8000.0, 11025.0, 22050.0, 48000.0, 96000.0, 192000.0, 44100.5, 7999.999, 1e9}) {
        ConvertToIeeeExtended(rate, bytes);
        EXPECT_EQ(ConvertFromIeeeExtended(bytes), rate) << rate;
        ConvertToIeeeExtended(-rate, bytes);
        EXPECT_EQ(ConvertFromIeeeExtended(bytes), -rate) << rate;
    }
    ConvertToIeeeExtended(0.0, bytes);
    EXPECT_EQ(ConvertFromIeeeExtended(bytes), 0.0);
    ConvertToIeeeExtended(std::nan(""), bytes);
    EXPECT_EQ(bytes[0] & 0x7F, 0x7F);
    const UInt8 huge[10] = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_TRUE(std::isinf(ConvertFromIeeeExtended(huge)));
}

TEST(AIFFStreamProbe, FindAIFFChunkLeavesTheStreamAfterTheID)
{
    auto data = Image(ChunkByteOrder::BigEndian).chunk("FVER", 4).chunk("COMM", 18).done();
    std::string text(data.begin(), data.end());
    std::istringstream in(text);
    EXPECT_EQ(FindAIFFChunk("FORM", in), noErr);
    EXPECT_EQ(in.tellg(), 4);
    ASSERT_EQ(FindAIFFChunk("COMM", in), noErr);
    EXPECT_EQ(in.tellg(), 12 + 12 + 4);
    EXPECT_EQ(FindAIFFChunk("SSND", in), kChunkNotFoundErr);
    std::istringstream garbage(std::string("RIFF\0\0\0\0WAVE", 12));
    EXPECT_EQ(FindAIFFChunk("FORM", garbage), kChunkNotFoundErr);
    std::istringstream empty;
    EXPECT_EQ(FindAIFFChunk("COMM", empty), kChunkNotFoundErr);
}
