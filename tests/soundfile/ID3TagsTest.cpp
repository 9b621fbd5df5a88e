// ID3 tag readers: hand-made and hostile tags on in-memory streams, and tags
// written by ffmpeg read back from a real MP3 file through a sound file's
// stream.
#include "MemorySoundFile.h"
#include "TestTempDir.h"
#include "id3_tags.h"
#include "PeerTools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string Header(UInt8 version, UInt8 flags, UInt8 s0, UInt8 s1, UInt8 s2, UInt8 s3)
{
    return std::string("ID3") + char(version) + char(0) + char(flags) + char(s0) + char(s1) + char(s2) + char(s3);
}

std::string Filler(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char('a' + i % 26);
    return s;
}

// The block of ReadID3v2Tag as a string, or "<null>".
std::string TagBlock(const std::string& file, UInt32* size = nullptr)
{
    std::istringstream in(file);
    UInt32 n = 0xDEADBEEF;
    void* block = ReadID3v2Tag(in, &n);
    if (size)
        *size = n;
    if (!block)
        return "<null>";
    std::string out(static_cast<const char*>(block), n);
    std::free(block);
    return out;
}

std::string V1Record(const std::string& title, const std::string& artist, const std::string& album,
                     const std::string& year, const std::string& comment, UInt8 genre)
{
    std::string r(128, '\0');
    std::memcpy(&r[0], "TAG", 3);
    std::memcpy(&r[3], title.data(), std::min<std::size_t>(title.size(), 30));
    std::memcpy(&r[33], artist.data(), std::min<std::size_t>(artist.size(), 30));
    std::memcpy(&r[63], album.data(), std::min<std::size_t>(album.size(), 30));
    std::memcpy(&r[93], year.data(), std::min<std::size_t>(year.size(), 4));
    std::memcpy(&r[97], comment.data(), std::min<std::size_t>(comment.size(), 30));
    r[127] = char(genre);
    return r;
}

// A sound file whose stream is opened on a real file (as the batch opens an
// MP3 input before reading its tags).
class StreamSoundFile : public MemorySoundFile {
public:
    bool OpenStream(const std::string& path)
    {
        GetStream().open(path, std::ios::in | std::ios::binary);
        return GetStream().is_open();
    }
};

} // namespace

TEST(ID3TagsTest, V2BlockIsHeaderPlusSynchsafeSize)
{
    const std::string file = Header(3, 0, 0, 0, 2, 1) + Filler(400);
    UInt32 size = 0;
    const std::string block = TagBlock(file, &size);
    EXPECT_EQ(size, 267u);
    EXPECT_EQ(block, file.substr(0, 267));

    UInt8 header[10];
    std::istringstream in(file);
    EXPECT_TRUE(HasID3v2Header(in, header));
    EXPECT_EQ(std::memcmp(header, file.data(), 10), 0);
}

TEST(ID3TagsTest, NoV2TagWithoutItsIdentifierOrHeader)
{
    EXPECT_EQ(TagBlock("IDX" + Header(3, 0, 0, 0, 0, 1).substr(3) + "xx"), "<null>");
    EXPECT_EQ(TagBlock("XD3" + Header(3, 0, 0, 0, 0, 1).substr(3) + "xx"), "<null>");
    EXPECT_EQ(TagBlock("ID3\3\0\0\0"), "<null>");  // shorter than 10 bytes
    EXPECT_EQ(TagBlock(""), "<null>");
    UInt32 size = 77;
    std::istringstream in("nothing here at all");
    EXPECT_EQ(ReadID3v2Tag(in, &size), nullptr);
    EXPECT_EQ(size, 77u);  // untouched
}

TEST(ID3TagsTest, HostileV2SizesNeverAllocateMoreThanTheFile)
{
    // Size bytes with their top bit set are no synchsafe number: no tag.
    EXPECT_EQ(TagBlock(Header(3, 0, 0xFF, 0xFF, 0xFF, 0xFF) + Filler(50)), "<null>");
    EXPECT_EQ(TagBlock(Header(4, 0, 0, 0, 0x80, 0) + Filler(50)), "<null>");

    // The largest synchsafe size (256 MB) in a 60-byte file: cut at the end,
    // and the header in the block says what it holds.
    const std::string file = Header(3, 0, 0x7F, 0x7F, 0x7F, 0x7F) + Filler(50);
    UInt32 size = 0;
    const std::string block = TagBlock(file, &size);
    ASSERT_EQ(size, 60u);
    EXPECT_EQ(block.substr(10), file.substr(10));
    EXPECT_EQ(block.substr(0, 6), file.substr(0, 6));
    EXPECT_EQ(block.substr(6, 4), std::string("\0\0\0\x32", 4));  // 50

    // Header alone, claiming 1000 bytes: an empty tag.
    const std::string bare = TagBlock(Header(3, 0, 0, 0, 7, 0x68), &size);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(bare.substr(6, 4), std::string("\0\0\0\0", 4));
}

TEST(ID3TagsTest, V24FooterKeptWhenPresentAndDroppedWhenCut)
{
    const std::string body = Filler(20);
    const std::string footer = std::string("3DI\4\0\x10\0\0\0\x14", 10);
    const std::string file = Header(4, 0x10, 0, 0, 0, 20) + body + footer + "audio";
    UInt32 size = 0;
    EXPECT_EQ(TagBlock(file, &size), file.substr(0, 40));
    EXPECT_EQ(size, 40u);

    // The footer is missing: the block holds the tag and its header no
    // longer announces a footer.
    const std::string cut = Header(4, 0x10, 0, 0, 0, 20) + body + "3DI";
    const std::string block = TagBlock(cut, &size);
    EXPECT_EQ(size, 30u);
    EXPECT_EQ(UInt8(block[5]) & 0x10, 0);
    EXPECT_EQ(block.substr(10), body);
}

TEST(ID3TagsTest, V1RecordAtTheEnd)
{
    const std::string record = V1Record("Title", "Artist", "Album", "1999", "Comment", 17);
    const std::string file = Filler(300) + record;
    UInt8 out[128];
    std::istringstream in(file);
    ASSERT_TRUE(ReadID3v1Tag(in, out));
    EXPECT_EQ(std::memcmp(out, record.data(), 128), 0);

    std::istringstream other(Filler(300));
    EXPECT_FALSE(ReadID3v1Tag(other, out));
    std::istringstream shortFile(record.substr(0, 127));
    EXPECT_FALSE(ReadID3v1Tag(shortFile, out));
    std::istringstream exact(record);
    EXPECT_TRUE(ReadID3v1Tag(exact, out));
}

TEST(ID3TagsTest, V1FieldsAreCutAtNulAndTrailingBlanks)
{
    // Blank-padded fields, a NUL inside the title, an ID3v1.1 track number
    // after the comment, and genre 255 (none).
    std::string record = V1Record("Song\0junk", "Band                          ", "Album  ", "2001",
                                  "Nice one", 255);
    std::memcpy(&record[3], "Song\0junk", 9);
    record[125] = 0;
    record[126] = 7;
    const QVariantMap tags = ID3v1TagDictionary(reinterpret_cast<const UInt8*>(record.data()));
    EXPECT_EQ(tags.value("Title").toString(), "Song");
    EXPECT_EQ(tags.value("performer").toString(), "Band");
    EXPECT_EQ(tags.value("Album").toString(), "Album");
    EXPECT_EQ(tags.value("Recording time").toString(), "2001");
    EXPECT_EQ(tags.value("Comment").toString(), "Nice one");
    EXPECT_FALSE(tags.contains("Content type"));

    // Latin-1 text, genre 0 and genres past the signed range stay numbers.
    std::string latin = V1Record("Caf\xe9", "", "", "", "", 0);
    ID3v1Fields f = ParseID3v1Record(reinterpret_cast<const UInt8*>(latin.data()));
    EXPECT_EQ(f.title, QString::fromUtf8("Café"));
    EXPECT_EQ(f.genre, 0);
    latin[127] = char(200);
    EXPECT_EQ(ID3v1TagDictionary(reinterpret_cast<const UInt8*>(latin.data())).value("Content type").toInt(), 200);
}

TEST(ID3TagsTest, FfmpegWrittenTagsReadBack)
{
    QM_REQUIRE_PEER("ffmpeg");
    TestTempDir dir;
    const std::string path = dir.file("out.mp3");
    const peers::RunResult made = peers::Run("ffmpeg",
        {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "sine=d=1", "-metadata", "title=T", "-metadata",
            "artist=Someone", "-id3v2_version", "3", "-write_id3v1", "1", QString::fromStdString(path)});
    if (made.exitCode != 0)
        GTEST_SKIP() << "ffmpeg cannot write MP3 here: " << made.err.toStdString();

    StreamSoundFile file;
    ASSERT_TRUE(file.OpenStream(path));
    UInt32 size = 0;
    void* block = ReadID3v2Tag(&file, &size);
    ASSERT_NE(block, nullptr);
    const std::string tag(static_cast<const char*>(block), size);
    std::free(block);
    EXPECT_EQ(tag.substr(0, 4), std::string("ID3\3"));
    const UInt32 declared = ((UInt32(UInt8(tag[6])) * 128 + UInt8(tag[7])) * 128 + UInt8(tag[8])) * 128 + UInt8(tag[9]);
    EXPECT_EQ(size, declared + 10);
    const std::size_t tit2 = tag.find("TIT2");
    ASSERT_NE(tit2, std::string::npos);
    EXPECT_NE(tag.find("TPE1"), std::string::npos);
    // The frame body: encoding byte, then "T".
    EXPECT_EQ(tag.substr(tit2 + 11, 1), "T");
    // What follows the block is the audio (an MPEG frame sync or padding).
    std::ifstream raw(path, std::ios::binary);
    raw.seekg(size);
    const int next = raw.get();
    EXPECT_TRUE(next == 0xFF || next == 0) << next;

    UInt8 record[128];
    ASSERT_TRUE(ReadID3v1Tag(&file, record));
    const QVariantMap v1 = ID3v1TagDictionary(record);
    EXPECT_EQ(v1.value("Title").toString(), "T");
    EXPECT_EQ(v1.value("performer").toString(), "Someone");
}
