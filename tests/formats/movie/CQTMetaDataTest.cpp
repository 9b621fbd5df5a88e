// Tags of MP3 and M4A files appear under the unified keys; truncated
// inputs give error codes.
#include "CQTMetaData.h"
#include "CQTMetaDataItem.h"
#include "CQTMP3File.h"
#include "CQTMP4File.h"
#include "CafFile.h"
#include "MovieFileTypes.h"
#include "MovieTestSupport.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace movietest;

namespace {

constexpr const char* kFF = "ffmpeg -nostdin -loglevel error -y ";

TEST(CQTMetaDataTest, TaggedMP3AndM4AUnderUnifiedKeys)
{
    RegisterMovieFileTypes();
    TestTempDir dir;
    const std::string wav = dir.file("in.wav"), cover = dir.file("cover.png");
    ASSERT_TRUE(RunCommand(std::string(kFF) + "-f lavfi -i 'sine=duration=0.5' '" + wav + "'"));
    ASSERT_TRUE(RunCommand(std::string(kFF) + "-f lavfi -i color=c=red:s=8x8 -frames:v 1 '" + cover + "'"));
    const std::string mp3 = dir.file("tagged.mp3"), m4a = dir.file("tagged.m4a");
    ASSERT_TRUE(RunCommand("lame --quiet --tt 'A Title' --ta 'An Artist' --tg Rock --tn 3/12 --ti '" + cover + "' '" +
                           wav + "' '" + mp3 + "'"));
    ASSERT_TRUE(RunCommand(std::string(kFF) + "-i '" + wav + "' -i '" + cover +
                           "' -map 0 -map 1 -c:a aac -c:v png -disposition:v attached_pic -metadata title='A Title' "
                           "-metadata artist='An Artist' -metadata genre=Rock -metadata track=3/12 '" + m4a + "'"));
    const std::vector<uint8_t> coverBytes = ReadAll(cover);
    for (const std::string& path : {mp3, m4a}) {
        CQTMP3File file;
        ASSERT_EQ(file.SetFile(path), noErr);
        std::unique_ptr<QVariantMap> info = file.GetExtraInfo();
        ASSERT_TRUE(info) << path;
        EXPECT_EQ(info->value("title").toString(), "A Title") << path;
        EXPECT_EQ(info->value("artist").toString(), "An Artist") << path;
        EXPECT_EQ(info->value("genre").toString(), "Rock") << path;
        EXPECT_EQ(info->value("track number").toString(), "3/12") << path;
        EXPECT_FALSE(info->contains("major_brand"));
        const QByteArray art = info->value("artwork").toByteArray();
        EXPECT_EQ(std::vector<uint8_t>(art.begin(), art.end()), coverBytes) << path;
    }
}

// Vorbis comments are named in any case (TITLE as often as title): each
// reaches the unified key.
TEST(CQTMetaDataTest, VorbisCommentsInEitherCase)
{
    RegisterMovieFileTypes();
    TestTempDir dir;
    struct Case {
        const char* name;
        const char* codec;
        const char* titleKey;
        const char* artistKey;
    };
    const Case cases[] = {
        {"upper.flac", "flac", "TITLE", "ARTIST"},
        {"upper.ogg", "libvorbis", "TITLE", "ARTIST"},
        {"upper.opus", "libopus", "TITLE", "ARTIST"},
        {"mixed.flac", "flac", "Title", "artist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(RunCommand(std::string(kFF) + "-f lavfi -i 'sine=duration=0.3:sample_rate=48000' -c:a " + c.codec +
                               " -metadata " + c.titleKey + "='A Title' -metadata " + c.artistKey +
                               "='An Artist' -metadata GENRE=Rock '" + path + "'"));
        CQTMP3File file;
        ASSERT_EQ(file.SetFile(path), noErr);
        std::unique_ptr<QVariantMap> info = file.GetExtraInfo();
        ASSERT_TRUE(info);
        EXPECT_EQ(info->value("title").toString(), "A Title");
        EXPECT_EQ(info->value("artist").toString(), "An Artist");
        EXPECT_EQ(info->value("genre").toString(), "Rock");
        EXPECT_FALSE(info->contains(c.titleKey));
    }
}

TEST(CQTMetaDataTest, ValuesByTypeAndMerging)
{
    CQTMetaData metadata;
    metadata.AddItem(CQTMetaDataItem("gnre", 0, {0, 18}));
    metadata.AddItem(CQTMetaDataItem("trkn", 0, {0, 0, 0, 3, 0, 12, 0, 0}));
    metadata.AddItem(CQTMetaDataItem("disk", 0, {0, 0}));               // too short: empty
    metadata.AddItem(CQTMetaDataItem("title", 1, {'L', 'i', 'v', 'e'}));
    metadata.AddItem(CQTMetaDataItem("\xC2\xA9nam", 1, {'L', 'i', 'v', 'e', ' ', 'a', 't'}));
    metadata.AddItem(CQTMetaDataItem("artist", 1, {'F', 'o', 'o'}));
    metadata.AddItem(CQTMetaDataItem("\xC2\xA9" "ART", 1, {'B', 'a', 'r'}));
    metadata.AddItem(CQTMetaDataItem("pgap", 1, {'1'}));
    metadata.AddItem(CQTMetaDataItem("comment", 1, {}));
    std::map<std::string, std::string> map = metadata.GetInfoMap();
    EXPECT_EQ(map["genre"], "Rock");
    EXPECT_EQ(map["track number"], "3/12");
    EXPECT_EQ(map["disc"], "");
    EXPECT_EQ(map["title"], "Live at");
    EXPECT_EQ(map["artist"], "Foo\nBar");
    EXPECT_EQ(map.count("pgap"), 0u);
    EXPECT_EQ(map.count("comments"), 0u);

    std::vector<UInt8> twenty(20);
    for (std::size_t i = 0; i < 20; ++i)
        twenty[i] = UInt8('A' + i);
    const std::string dump = CQTMetaDataItem::HexDump(twenty);
    EXPECT_EQ(dump, "00000000  41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50 |ABCDEFGHIJKLMNOP|\n"
                    "00000010  51 52 53 54                                      |QRST            |\n"
                    "00000014");
    EXPECT_EQ(CQTMetaDataItem("k", 21, {0xFF, 0xFE}).GetValueString(), "-2");
    EXPECT_EQ(CQTMetaDataItem("k", 21, {1, 2, 3}).GetValueString(), "");
}

// Cut files never crash: each gives an error code or reads what is there.
TEST(TruncatedInputTest, GiveErrorCodes)
{
    RegisterMovieFileTypes();
    TestTempDir dir;
    const std::string wav = dir.file("in.wav");
    ASSERT_TRUE(RunCommand(std::string(kFF) + "-f lavfi -i 'sine=duration=1' -ac 2 '" + wav + "'"));
    ASSERT_TRUE(RunCommand("lame --quiet '" + wav + "' '" + dir.file("a.mp3") + "'"));
    ASSERT_TRUE(RunCommand(std::string(kFF) + "-i '" + wav + "' -c:a aac '" + dir.file("a.m4a") + "'"));
    ASSERT_TRUE(RunCommand(std::string(kFF) + "-i '" + wav + "' -c:a alac '" + dir.file("a.caf") + "'"));
    for (const char* name : {"a.mp3", "a.m4a", "a.caf"}) {
        const std::vector<uint8_t> bytes = ReadAll(dir.file(name));
        for (std::size_t cut : {std::size_t(0), std::size_t(7), std::size_t(40), bytes.size() / 3, bytes.size() - 9}) {
            const std::string path = dir.file(std::string("cut_") + std::to_string(cut) + "_" + name);
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(cut));
            std::unique_ptr<CSoundFile> file;
            if (std::string(name) == "a.caf") {
                file = std::make_unique<CafFile>();
            } else {
                file = std::make_unique<CQTMP4File>();
            }
            ASSERT_EQ(file->SetFile(path), noErr);
            const OSErr err = file->Open();
            if (cut < 41) {
                EXPECT_NE(err, noErr) << path;
            }
            if (err == noErr) {
                EXPECT_EQ(DecodeBlocks(*file).size(), std::size_t(file->GetNumFrames()) * file->GetNumChannels());
                file->Close();
            }
        }
    }
}

} // namespace
