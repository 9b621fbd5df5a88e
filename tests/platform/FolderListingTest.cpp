#include "FolderListing.h"
#include "PlatformTestUtil.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

TEST(FolderListing, SortedCaseInsensitivelyWithoutSidecars)
{
    TestTempDir dir;
    for (const char* name : {"b.aif", "A.aif", "c.aif", "._b.aif", ".hidden", "B2.aif", "a.aif", "\xC3\x84rger.wav",
                             "\xC3\xA4pfel.wav", "Zed"})
        ASSERT_TRUE(WriteWholeFile(dir.file(name), "x"));
    // A sidecar by its content (AppleDouble); a "._" name alone makes none.
    ASSERT_TRUE(WriteWholeFile(dir.file("._b.aif"), QByteArray("\x00\x05\x16\x07", 4)));
    ASSERT_TRUE(WriteWholeFile(dir.file("._sound.wav"), "RIFF"));
    ASSERT_TRUE(QDir().mkdir(dir.qpath() + "/Sub"));
    ASSERT_TRUE(QFile::link(dir.qpath() + "/Sub", dir.qpath() + "/link"));

    std::vector<std::string> names;
    ASSERT_EQ(ListFolderNames(dir.path(), &names), noErr);
    const std::vector<std::string> expected = {"._sound.wav", ".hidden", "A.aif", "a.aif", "b.aif", "B2.aif",
                                               "c.aif", "link", "Sub", "Zed", "\xC3\xA4pfel.wav",
                                               "\xC3\x84rger.wav"};
    EXPECT_EQ(names, expected);

    std::vector<FolderEntry> entries;
    ASSERT_EQ(ListFolder(dir.path(), &entries), noErr);
    for (const FolderEntry& e : entries) {
        EXPECT_EQ(e.isFolder, e.name == "Sub" || e.name == "link") << e.name;
        EXPECT_EQ(e.isSymlink, e.name == "link") << e.name;
        if (e.name == "link" || e.name == "Sub") {
            EXPECT_NE(e.inode, 0u);
        }
    }
    // The link and its target are the same folder (walkers use this).
    const auto sub = std::find_if(entries.begin(), entries.end(), [](auto& e) { return e.name == "Sub"; });
    const auto link = std::find_if(entries.begin(), entries.end(), [](auto& e) { return e.name == "link"; });
    EXPECT_EQ(sub->inode, link->inode);
    EXPECT_EQ(sub->device, link->device);

    EXPECT_EQ(ListFolderNames(dir.file("missing"), &names), fnfErr);
    EXPECT_EQ(ListFolderNames(dir.file("Zed"), &names), dirNFErr);
    EXPECT_TRUE(FolderNameLess("a", "B"));
    EXPECT_TRUE(FolderNameLess("A", "a"));  // ties fall back to the bytes
    EXPECT_FALSE(FolderNameLess("a", "a"));
}

TEST(FolderListing, PartnerLookupIgnoresCaseAndGivesTheStoredName)
{
    TestTempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.file("Take.L.aif"), "l"));
    ASSERT_TRUE(WriteWholeFile(dir.file("take.r.AIF"), "r"));
    ASSERT_TRUE(WriteWholeFile(dir.file("._Take.C.aif"), "sidecar only"));
    std::string stored;
    ASSERT_EQ(FindNameCaseInsensitive(dir.path(), "take.l.aif", &stored), noErr);
    EXPECT_EQ(stored, "Take.L.aif");
    ASSERT_EQ(FindNameCaseInsensitive(dir.path(), "Take.R.aif", &stored), noErr);
    EXPECT_EQ(stored, "take.r.AIF");
    EXPECT_EQ(FindNameCaseInsensitive(dir.path(), "Take.C.aif", &stored), fnfErr);
    EXPECT_EQ(FindNameCaseInsensitive(dir.path(), "._take.c.aif", &stored), fnfErr);
    EXPECT_EQ(FindNameCaseInsensitive(dir.path(), "", &stored), fnfErr);

    // An exact match wins over other spellings.
    ASSERT_TRUE(WriteWholeFile(dir.file("TAKE.L.AIF"), "upper"));
    ASSERT_EQ(FindNameCaseInsensitive(dir.path(), "TAKE.L.AIF", &stored), noErr);
    EXPECT_EQ(stored, "TAKE.L.AIF");
    ASSERT_EQ(FindNameCaseInsensitive(dir.path(), "Take.L.aif", &stored), noErr);
    EXPECT_EQ(stored, "Take.L.aif");
    // Otherwise the first in listing order.
    ASSERT_EQ(FindNameCaseInsensitive(dir.path(), "take.L.aif", &stored), noErr);
    EXPECT_EQ(stored, "TAKE.L.AIF");

    // Non-ASCII letters fold too.
    ASSERT_TRUE(WriteWholeFile(dir.file("\xC3\x84rger.wav"), "x"));
    ASSERT_EQ(FindNameCaseInsensitive(dir.path(), "\xC3\xA4RGER.WAV", &stored), noErr);
    EXPECT_EQ(stored, "\xC3\x84rger.wav");
}

// Listings and StatPath agree on identity with stat, and both carry the
// same birth time, which stays with an item when it is renamed.
TEST(FolderListing, EntriesCarryIdentityAndBirthTime)
{
    TestTempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.file("one.aif"), "1"));
    ASSERT_TRUE(QDir().mkdir(dir.qpath() + "/Sub"));
    PathStatus before;
    ASSERT_EQ(StatPath(dir.file("one.aif"), &before), 0);
    ASSERT_EQ(RenameNoReplace(dir.file("one.aif"), dir.file("two.aif")), noErr);

    std::vector<FolderEntry> entries;
    ASSERT_EQ(ListFolder(dir.path(), &entries), noErr);
    ASSERT_EQ(entries.size(), 2u);
    for (const FolderEntry& e : entries) {
        struct stat st;
        ASSERT_EQ(::stat(dir.file(e.name).c_str(), &st), 0);
        EXPECT_EQ(e.device, UInt64(st.st_dev)) << e.name;
        EXPECT_EQ(e.inode, UInt64(st.st_ino)) << e.name;
        PathStatus status;
        ASSERT_EQ(StatPath(dir.file(e.name), &status), 0);
        EXPECT_EQ(status.device, UInt64(st.st_dev));
        EXPECT_EQ(status.inode, UInt64(st.st_ino));
        EXPECT_EQ(status.isFolder, e.name == "Sub");
        EXPECT_EQ(status.birthTime, e.birthTime) << e.name;
        if (status.birthTime) {
            EXPECT_LT(status.birthTime->nanoseconds, 1000000000u);
            EXPECT_LE(status.birthTime->seconds, SInt64(st.st_ctim.tv_sec));
        }
    }
    PathStatus after;
    ASSERT_EQ(StatPath(dir.file("two.aif"), &after), 0);
    EXPECT_EQ(after.birthTime, before.birthTime);
    EXPECT_EQ(StatPath(dir.file("one.aif"), &after), ENOENT);
}
