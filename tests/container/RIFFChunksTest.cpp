// The one walk over a RIFF file's chunks (RIFFChunkList): sizes taken as
// unsigned, pad bytes, bodies cut at the end of the file, the RIFF end, the
// chunk limit and failed reads.
#include "RIFFChunkList.h"
#include "riff_chunks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace {

// A RIFF image that stores only the chunk headers and the bytes given, so
// that a chunk of gigabytes costs nothing (the rest reads as zeros).
struct SparseRIFF {
    std::map<SInt64, std::vector<UInt8>> pieces;
    SInt64 length = 12;

    SparseRIFF& header(UInt32 riffSize)
    {
        ChunkBuilder b(ChunkByteOrder::LittleEndian);
        b.put_fourcc(riff_chunks::kRIFF);
        b.put_u32(riffSize);
        b.put_fourcc(riff_chunks::kWAVE);
        pieces[0] = b.bytes();
        return *this;
    }
    // A chunk header with `sizeField`, then `bodyBytes` bytes (and the pad
    // byte of an odd body when the body is all there).
    SparseRIFF& chunk(const char* id, UInt32 sizeField, SInt64 bodyBytes)
    {
        ChunkBuilder b(ChunkByteOrder::LittleEndian);
        b.put_fourcc(ChunkIDFromString(id));
        b.put_u32(sizeField);
        pieces[length] = b.bytes();
        length += 8 + bodyBytes + (bodyBytes == SInt64(sizeField) ? (bodyBytes & 1) : 0);
        return *this;
    }
    // The RIFF size the chunks so far give.
    SparseRIFF& closed() { return header(UInt32(length - 8)); }

    OSErr Read(SInt64 position, void* buffer, std::size_t count) const
    {
        if (position + SInt64(count) > length)
            return eofErr;
        auto* out = static_cast<UInt8*>(buffer);
        std::memset(out, 0, count);
        for (const auto& [at, bytes] : pieces) {
            const SInt64 from = std::max(at, position);
            const SInt64 to = std::min(at + SInt64(bytes.size()), position + SInt64(count));
            if (from < to)
                std::memcpy(out + (from - position), bytes.data() + (from - at), std::size_t(to - from));
        }
        return noErr;
    }
};

struct WalkCase {
    const char* name;
    std::function<SparseRIFF()> image;
    // Each chunk visited: "id@bodyPos+bodySize".
    std::vector<std::string> expected;
};

void PrintTo(const WalkCase& c, std::ostream* os)
{
    *os << c.name;
}

class RIFFChunkWalk : public ::testing::TestWithParam<WalkCase> {};

// An image as a chunk source; reads from `failFrom` on fail with ioErr.
class SparseSource : public ChunkSource {
public:
    explicit SparseSource(const SparseRIFF& image, SInt64 failFrom = -1) : m_image(image), m_failFrom(failFrom) {}
    OSErr ReadAt(SInt64 position, void* buffer, std::size_t count, std::size_t* got) override
    {
        *got = 0;
        if (m_failFrom >= 0 && position >= m_failFrom)
            return ioErr;
        const OSErr err = m_image.Read(position, buffer, count);
        *got = err == noErr ? count : 0;
        return err;
    }
    OSErr Length(SInt64* length) override
    {
        *length = m_image.length;
        return noErr;
    }

private:
    const SparseRIFF& m_image;
    SInt64 m_failFrom;
};

// The walk over an image.
struct Walked {
    explicit Walked(const SparseRIFF& image, SInt64 failFrom = -1) : source(image, failFrom)
    {
        err = chunks.Walk(source);
    }
    SparseSource source;
    RIFFChunkList chunks;
    OSErr err = noErr;
};

TEST_P(RIFFChunkWalk, ListsTheChunksTheFileHolds)
{
    const WalkCase& c = GetParam();
    const SparseRIFF image = c.image();
    const Walked walked(image);
    EXPECT_EQ(walked.err, noErr);
    std::vector<std::string> listed;
    for (const ChunkInfo& info : walked.chunks.Chunks())
        listed.push_back(ChunkIDToString(info.id) + "@" + std::to_string(info.bodyPos) + "+" +
                         std::to_string(info.bodySize));
    EXPECT_EQ(listed, c.expected);
}

constexpr UInt32 kLarge = 0x90000001;  // odd, and negative as a signed 32-bit size

INSTANTIATE_TEST_SUITE_P(
    Cases, RIFFChunkWalk,
    ::testing::Values(
        WalkCase{"OddBodiesAreFollowedByAPadByte",
                 [] { return SparseRIFF().chunk("a   ", 3, 3).chunk("b   ", 1, 1).chunk("c   ", 0, 0).closed(); },
                 {"a   @20+3", "b   @32+1", "c   @42+0"}},
        WalkCase{"SizesFrom2GiBUpAreSteppedOver",
                 [] { return SparseRIFF().chunk("fmt ", 16, 16).chunk("data", kLarge, kLarge).chunk("cue ", 4, 4).closed(); },
                 {"fmt @20+16", "data@44+2415919105", "cue @2415919158+4"}},
        WalkCase{"ABodyRunningPastTheEndIsCut",
                 [] { return SparseRIFF().chunk("fmt ", 16, 16).chunk("data", 1000, 100).closed(); },
                 {"fmt @20+16", "data@44+100"}},
        WalkCase{"AllOnesRunsToTheEndOfTheFile",
                 [] { return SparseRIFF().chunk("data", 0xFFFFFFFF, 50).chunk("cue ", 4, 4).closed(); },
                 {"data@20+62"}},
        WalkCase{"TheRIFFSizeBoundsTheWalk",
                 [] { return SparseRIFF().chunk("fmt ", 16, 16).closed().chunk("data", 8, 8); },
                 {"fmt @20+16"}}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

TEST(RIFFChunkWalk, TheChunkAtTwelveAndAHundredMoreAreListed)
{
    SparseRIFF image;
    for (int i = 0; i < 102; ++i)
        image.chunk(i == 101 ? "data" : "junk", 2, 2);
    const Walked walked(image.closed());
    EXPECT_EQ(walked.err, noErr);
    EXPECT_EQ(walked.chunks.Chunks().size(), 101u);
    ChunkInfo info;
    EXPECT_EQ(walked.chunks.Find(ChunkIDFromString("junk"), &info, 101), noErr);
    EXPECT_EQ(walked.chunks.Find(riff_chunks::kData, &info), kChunkNotFoundErr);
}

TEST(RIFFChunkWalk, AFailedReadIsTheSourcesOwnCode)
{
    const SparseRIFF image = SparseRIFF().chunk("fmt ", 16, 16).chunk("data", 8, 8).closed();
    const Walked walked(image, 36);
    EXPECT_EQ(walked.err, ioErr);
    EXPECT_EQ(walked.chunks.Chunks().size(), 1u);
    EXPECT_TRUE(walked.chunks.Has(ChunkIDFromString("fmt ")));
}

} // namespace
