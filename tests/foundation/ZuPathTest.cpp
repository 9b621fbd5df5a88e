// ZuPath: aliases that follow moved items, symbolic links, specifications
// of items still to be made, and the stored forms.
#include "ZuPath.h"

#include "FileOperations.h"
#include "PropertyList.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QVariantMap>
#include <QtEndian>

#include <optional>
#include <string>

namespace {

// Alias data as ZuPath stores it, made by hand so that tests can give an
// existing item's device and inode with another birth time, or none.
QByteArray CraftAlias(const std::string& path, const PathStatus& status, bool isFolder,
                      const std::optional<ItemBirthTime>& birthTime, UInt32 nanosecondsOverride = 0)
{
    QByteArray out("QZA1");
    out.append(char((isFolder ? 1 : 0) | (birthTime ? 2 : 0)));
    char buffer[8];
    qToBigEndian<UInt64>(status.device, buffer);
    out.append(buffer, 8);
    qToBigEndian<UInt64>(status.inode, buffer);
    out.append(buffer, 8);
    qToBigEndian<SInt64>(birthTime ? birthTime->seconds : 0, buffer);
    out.append(buffer, 8);
    qToBigEndian<UInt32>(nanosecondsOverride ? nanosecondsOverride : birthTime ? birthTime->nanoseconds : 0,
                         buffer);
    out.append(buffer, 4);
    qToBigEndian<UInt32>(UInt32(path.size()), buffer);
    out.append(buffer, 4);
    out.append(path.data(), qsizetype(path.size()));
    return out;
}

class ZuPathTest : public ::testing::Test {
protected:
    // Folders made here have their symbolic links resolved, so that paths
    // compare equal whatever the temporary folder is.
    std::string Real(const std::string& name) const { return real_ + "/" + name; }
    QString QReal(const std::string& name) const { return QString::fromStdString(Real(name)); }
    void MakeFile(const std::string& name) { ASSERT_EQ(CreateFileExclusive(Real(name)), noErr) << name; }
    void MakeFolder(const std::string& name) { ASSERT_EQ(CreateFolderPath(Real(name)), noErr) << name; }
    void Move(const std::string& from, const std::string& to)
    {
        ASSERT_EQ(RenameNoReplace(Real(from), Real(to)), noErr) << from << " -> " << to;
    }
    static void Symlink(const std::string& target, const std::string& link)
    {
        ASSERT_TRUE(QFile::link(QString::fromStdString(target), QString::fromStdString(link)));
    }

    TestTempDir dir_;
    const std::string real_ = QFileInfo(dir_.qpath()).canonicalFilePath().toStdString();
};

TEST_F(ZuPathTest, PathsAndFSRefs)
{
    EXPECT_FALSE(ZuPath().exists());
    EXPECT_TRUE(ZuPath().dataWithAlias().isNull());
    MakeFile("a.aif");
    FSRef ref;
    ASSERT_TRUE(ZuPath(QReal("a.aif")).toFSRef(&ref));
    EXPECT_EQ(ZuPath::pathFromFSRef(&ref), QReal("a.aif"));
    // An FSRef of an item that has gone gives no path.
    ASSERT_EQ(DeletePath(Real("a.aif")), noErr);
    EXPECT_TRUE(ZuPath::pathFromFSRef(&ref).isNull());
    EXPECT_FALSE(ZuPath::fromFSRef(&ref));
    EXPECT_FALSE(ZuPath::fromFSRef(nullptr));
}

TEST_F(ZuPathTest, AliasFollowsMovedAndRenamedItems)
{
    // A folder moved into a sibling folder under a new name.
    MakeFolder("out/Converted");
    MakeFolder("elsewhere");
    const QVariantMap folderDict = ZuPath(QReal("out/Converted")).dictionary();
    ASSERT_TRUE(folderDict.contains(ZuPath::kAliasDataKey));
    Move("out/Converted", "elsewhere/Renamed");
    EXPECT_EQ(ZuPath(folderDict).stringValue(), QReal("elsewhere/Renamed"));

    // A file renamed in place, and one whose folder was renamed.
    MakeFile("elsewhere/Renamed/take 1.wav");
    MakeFile("elsewhere/Renamed/take 2.wav");
    const QByteArray alias1 = ZuPath(QReal("elsewhere/Renamed/take 1.wav")).dataWithAlias();
    const QByteArray alias2 = ZuPath(QReal("elsewhere/Renamed/take 2.wav")).dataWithAlias();
    Move("elsewhere/Renamed/take 1.wav", "elsewhere/Renamed/final.wav");
    EXPECT_EQ(ZuPath::stringWithAliasData(alias1), QReal("elsewhere/Renamed/final.wav"));
    Move("elsewhere/Renamed", "elsewhere/Again");
    EXPECT_EQ(ZuPath::stringWithAliasData(alias2), QReal("elsewhere/Again/take 2.wav"));

    // The item itself wins over another item put at its former path.
    MakeFile("elsewhere/Renamed");
    EXPECT_EQ(ZuPath(folderDict).stringValue(), QReal("elsewhere/Again"));
}

TEST_F(ZuPathTest, UnresolvableAliasFallsBackToTheStoredString)
{
    MakeFile("gone.aif");
    QVariantMap dict = ZuPath(QReal("gone.aif")).dictionary();
    ASSERT_TRUE(dict.contains(ZuPath::kAliasDataKey));
    ASSERT_EQ(DeletePath(Real("gone.aif")), noErr);
    EXPECT_TRUE(ZuPath::stringWithAliasData(dict.value(ZuPath::kAliasDataKey).toByteArray()).isNull());
    dict.insert(ZuPath::kStringValueKey, QStringLiteral("/stored/string"));
    EXPECT_EQ(ZuPath(dict).stringValue(), QStringLiteral("/stored/string"));

    // A file made again under the name is found by its name.
    MakeFile("gone.aif");
    EXPECT_EQ(ZuPath(dict).stringValue(), QReal("gone.aif"));

    // Without an entry, and with entries of the wrong kind or malformed
    // alias data: the string, else an empty path.
    EXPECT_TRUE(ZuPath(QVariantMap{}).stringValue().isEmpty());
    QVariantMap odd{{ZuPath::kAliasDataKey, QByteArray("not an alias")},
                    {ZuPath::kStringValueKey, QStringLiteral("/kept")}};
    EXPECT_EQ(ZuPath(odd).stringValue(), QStringLiteral("/kept"));
    odd.insert(ZuPath::kStringValueKey, 42);
    EXPECT_TRUE(ZuPath(odd).stringValue().isEmpty());
    EXPECT_TRUE(ZuPath::stringWithAliasData(QByteArray()).isNull());
    const QByteArray alias = ZuPath(QReal("gone.aif")).dataWithAlias();
    for (int cut = 0; cut < alias.size(); ++cut)
        EXPECT_TRUE(ZuPath::stringWithAliasData(alias.left(cut)).isNull()) << cut;
}

// Inode numbers come back after a deletion: an item with the former
// device and inode but another birth time is a different item.
TEST_F(ZuPathTest, AnotherItemWithTheSameInodeIsNotTakenForTheAlias)
{
    MakeFolder("a");
    MakeFolder("b");
    MakeFile("b/new.aif");
    PathStatus status;
    ASSERT_EQ(StatPath(Real("b/new.aif"), &status), 0);
    if (!status.birthTime)
        GTEST_SKIP() << "the file system reports no birth times";
    const ItemBirthTime birth = *status.birthTime;
    const ItemBirthTime earlier{birth.seconds - 1000, birth.nanoseconds};

    // "a/old.aif" was deleted and its inode given to "b/new.aif".
    EXPECT_TRUE(ZuPath::stringWithAliasData(CraftAlias(Real("a/old.aif"), status, false, earlier)).isNull());
    // Not even at the stored path, nor under the same name.
    EXPECT_TRUE(ZuPath::stringWithAliasData(CraftAlias(Real("a/new.aif"), status, false, earlier)).isNull());
    QVariantMap dict{{ZuPath::kAliasDataKey, CraftAlias(Real("b/new.aif"), status, false, earlier)},
                     {ZuPath::kStringValueKey, QStringLiteral("/stored/string")}};
    EXPECT_EQ(ZuPath(dict).stringValue(), QReal("b/new.aif")); // whatever is at the path, as a last resort
    dict.insert(ZuPath::kAliasDataKey, CraftAlias(Real("a/old.aif"), status, false, earlier));
    EXPECT_EQ(ZuPath(dict).stringValue(), QStringLiteral("/stored/string"));

    // With the item's own birth time it is the item, moved and renamed.
    EXPECT_EQ(ZuPath::stringWithAliasData(CraftAlias(Real("a/old.aif"), status, false, birth)), QReal("b/new.aif"));
    // The kind must match too.
    EXPECT_TRUE(ZuPath::stringWithAliasData(CraftAlias(Real("a/old.aif"), status, true, birth)).isNull());
    // Nanoseconds out of range: malformed.
    EXPECT_TRUE(ZuPath::stringWithAliasData(CraftAlias(Real("b/new.aif"), status, false, birth, 1000000000u))
                    .isNull());

    // Without a birth time (file systems that report none) only the former
    // folder or the former name are trusted, and the kind must match.
    EXPECT_TRUE(ZuPath::stringWithAliasData(CraftAlias(Real("a/old.aif"), status, false, std::nullopt)).isNull());
    EXPECT_EQ(ZuPath::stringWithAliasData(CraftAlias(Real("a/new.aif"), status, false, std::nullopt)),
              QReal("b/new.aif"));
    EXPECT_EQ(ZuPath::stringWithAliasData(CraftAlias(Real("b/old.aif"), status, false, std::nullopt)),
              QReal("b/new.aif"));
    EXPECT_TRUE(ZuPath::stringWithAliasData(CraftAlias(Real("b/old.aif"), status, true, std::nullopt)).isNull());
}

// The same with an inode really given out again: delete a file, then make
// files elsewhere until one gets its inode.
TEST_F(ZuPathTest, DeletedFileIsNotFoundThroughAReusedInode)
{
    MakeFolder("a");
    MakeFolder("b");
    MakeFile("a/gone.aif");
    PathStatus former;
    ASSERT_EQ(StatPath(Real("a/gone.aif"), &former), 0);
    const QByteArray alias = ZuPath(QReal("a/gone.aif")).dataWithAlias();
    ASSERT_FALSE(alias.isNull());
    ASSERT_EQ(DeletePath(Real("a/gone.aif")), noErr);

    std::string reused;
    for (int i = 0; i < 2000 && reused.empty(); ++i) {
        const std::string name = "b/file " + std::to_string(i) + ".aif";
        MakeFile(name);
        PathStatus status;
        ASSERT_EQ(StatPath(Real(name), &status), 0);
        if (status.device == former.device && status.inode == former.inode)
            reused = name;
    }
    if (reused.empty())
        GTEST_SKIP() << "the file system gave the inode to no new file";
    if (!former.birthTime)
        GTEST_SKIP() << "the file system reports no birth times";
    EXPECT_TRUE(ZuPath::stringWithAliasData(alias).isNull()) << reused;
}

// Alias data of the older form (the FSRef's stored form, with neither kind
// nor birth time) still reads, trusting the former folder and name only.
TEST_F(ZuPathTest, OlderAliasDataStillReads)
{
    MakeFolder("in");
    MakeFolder("other");
    MakeFile("in/take.wav");
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(Real("in/take.wav"), &ref), noErr);
    const QByteArray older = FSRefSerialize(ref);
    EXPECT_EQ(ZuPath::stringWithAliasData(older), QReal("in/take.wav"));
    Move("in/take.wav", "in/renamed.wav");
    EXPECT_EQ(ZuPath::stringWithAliasData(older), QReal("in/renamed.wav"));
    Move("in/renamed.wav", "other/renamed.wav");
    EXPECT_TRUE(ZuPath::stringWithAliasData(older).isNull());
    Move("other/renamed.wav", "other/take.wav");
    EXPECT_EQ(ZuPath::stringWithAliasData(older), QReal("other/take.wav"));
    EXPECT_EQ(ZuPath(QVariantMap{{ZuPath::kAliasDataKey, older}}).stringValue(), QReal("other/take.wav"));
    for (int cut = 0; cut < older.size(); ++cut)
        EXPECT_TRUE(ZuPath::stringWithAliasData(older.left(cut)).isNull()) << cut;
}

TEST_F(ZuPathTest, SymbolicLinksAreResolved)
{
    MakeFolder("real/inner");
    MakeFile("real/inner/file.aif");
    Symlink(Real("real"), Real("linked"));
    Symlink(Real("real/inner/file.aif"), Real("file-link.aif"));

    // Through a linked folder and a link to the file itself.
    EXPECT_EQ(ZuPath(ZuPath(QReal("linked/inner/file.aif")).dictionary()).stringValue(),
              QReal("real/inner/file.aif"));
    EXPECT_EQ(ZuPath(ZuPath(QReal("file-link.aif")).dictionary()).stringValue(), QReal("real/inner/file.aif"));

    // A dangling link is not an item: no alias.
    Symlink(Real("nowhere"), Real("dangling"));
    EXPECT_FALSE(ZuPath(QReal("dangling")).dictionary().contains(ZuPath::kAliasDataKey));

    // A moved item is not taken for a link that points at it.
    const QVariantMap dict = ZuPath(QReal("real/inner/file.aif")).dictionary();
    MakeFolder("far/away/below/here");
    Move("real/inner/file.aif", "far/away/below/here/file.aif");
    const QString found = ZuPath(dict).stringValue();
    EXPECT_NE(found, QReal("file-link.aif"));
    EXPECT_TRUE(found == QReal("far/away/below/here/file.aif") || found == QReal("real/inner/file.aif"))
        << found.toStdString();
}

TEST_F(ZuPathTest, DictionaryOfAMissingItemHasNoAlias)
{
    const QVariantMap dict = ZuPath(QReal("not-there.aif")).dictionary();
    EXPECT_EQ(dict.value(ZuPath::kStringValueKey).toString(), QReal("not-there.aif"));
    EXPECT_FALSE(dict.contains(ZuPath::kAliasDataKey));
    EXPECT_EQ(ZuPath(dict).stringValue(), QReal("not-there.aif"));
    EXPECT_TRUE(ZuPath(QReal("not-there.aif")).description().contains(QReal("not-there.aif")));
}

TEST_F(ZuPathTest, SpecificationsOfItemsNotYetMade)
{
    FSSpec spec;
    ASSERT_TRUE(ZuPath(QReal("new file.aif")).toFSSpec(&spec));
    EXPECT_EQ(spec.parent, real_);
    EXPECT_EQ(spec.name, "new file.aif");
    EXPECT_FALSE(PathExists(Real("new file.aif")));

    EXPECT_FALSE(ZuPath(QReal("missing folder/new file.aif")).toFSSpec(&spec));
    EXPECT_FALSE(ZuPath(QString()).toFSSpec(&spec));
    EXPECT_FALSE(ZuPath(QStringLiteral("relative-without-folder")).toFSSpec(&spec));

    // An existing item.
    MakeFile("there.aif");
    ASSERT_TRUE(ZuPath(QReal("there.aif")).toFSSpec(&spec));
    EXPECT_EQ(FSSpecPath(spec), Real("there.aif"));
}

TEST_F(ZuPathTest, ArchiveAndStoredDictionaryRoundTrips)
{
    const ZuPath path(QStringLiteral("/Volumes/Audio/Mixes \xC3\xA9t\xC3\xA9"));
    QVariantMap coder;
    path.encodeWithCoder(&coder);
    EXPECT_EQ(coder.value(ZuPath::kArchivePathKey).toString(), path.stringValue());
    const auto decoded = ZuPath::initWithCoder(coder);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, path);

    const auto fromData = ZuPath::fromArchivedData(path.archivedData());
    ASSERT_TRUE(fromData);
    EXPECT_EQ(*fromData, path);
    EXPECT_TRUE(ZuPath::fromArchivedData(ZuPath().archivedData()));

    EXPECT_FALSE(ZuPath::initWithCoder(QVariantMap{}));
    EXPECT_FALSE(ZuPath::initWithCoder(QVariantMap{{ZuPath::kArchivePathKey, 7}}));
    EXPECT_FALSE(ZuPath::fromArchivedData(QByteArray()));
    EXPECT_FALSE(ZuPath::fromArchivedData(QByteArray("bplist00 garbage")));
    const QByteArray archive = path.archivedData();
    for (int cut = 1; cut < archive.size(); ++cut)
        ZuPath::fromArchivedData(archive.left(cut)); // must not crash

    // The dictionary survives the user defaults' property list, and the
    // alias in it still follows the item.
    MakeFolder("Last Output");
    const QByteArray stored = PropertyList::toXml(ZuPath(QReal("Last Output")).dictionary());
    ASSERT_FALSE(stored.isEmpty());
    Move("Last Output", "Output Renamed");
    EXPECT_EQ(ZuPath(PropertyList::fromData(stored).toMap()).stringValue(), QReal("Output Renamed"));
}

} // namespace
