// Final names of converted outputs: replacement of the temporary word,
// duplicate numbering of single files and of sets, and the guarantee that
// no existing file is replaced and no temporary file is left behind.
#include "CreatedFilesList.h"
#include "OutputNaming.h"
#include "TestTempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

void Write(const TestTempDir& dir, const QString& name, const QByteArray& data)
{
    QFile f(dir.qpath() + QLatin1Char('/') + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) << name.toStdString();
    f.write(data);
}

QByteArray Read(const TestTempDir& dir, const QString& name)
{
    QFile f(dir.qpath() + QLatin1Char('/') + name);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

QStringList Listing(const TestTempDir& dir)
{
    return QDir(dir.qpath()).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                       QDir::Name);
}

QString Full(const TestTempDir& dir, const QString& name)
{
    return dir.qpath() + QLatin1Char('/') + name;
}

OutputRenameSettings Numbering(bool on)
{
    OutputRenameSettings s;
    s.numberDuplicates = on;
    return s;
}

} // namespace

TEST(OutputNamingTest, NamesReplaceTheWordAndNumberBeforeIndicatorAndExtension)
{
    EXPECT_EQ(FinalOutputName(".QuillOutFile.aif", "Mix"), "Mix.aif");
    EXPECT_EQ(NumberedOutputName(".QuillOutFile.aif", "Mix", 1), "Mix-1.aif");
    EXPECT_EQ(NumberedOutputName(".QuillOutFile.L.aif", "Mix", 1), "Mix-1.L.aif");
    EXPECT_EQ(NumberedOutputName(".QuillOutFile-R.paf", "Mix", 12), "Mix-12-R.paf");
    // No extension: no trailing dot.
    EXPECT_EQ(NumberedOutputName(".QuillOutFile", "Mix", 3), "Mix-3");
    // Dots of the final name are not an extension to strip.
    EXPECT_EQ(NumberedOutputName(".QuillOutFile.aif", "Take.3", 2), "Take.3-2.aif");
    EXPECT_EQ(NumberedOutputName("sub/.QuillOutFile.wav", "a", 1), "sub/a-1.wav");
    // What was put in is not searched again; the number follows the last one.
    EXPECT_EQ(FinalOutputName(".QuillOutFile.aif", "x.QuillOutFile"), "x.QuillOutFile.aif");
    EXPECT_EQ(FinalOutputName("a.QuillOutFileb.QuillOutFile.c", "N"), "aNbN.c");
    EXPECT_EQ(NumberedOutputName("a.QuillOutFileb.QuillOutFile.c", "N", 1), "aNbN-1.c");
    // The word is case-sensitive; 0 means unnumbered.
    EXPECT_EQ(FinalOutputName(".quilloutfile.aif", "Mix"), ".quilloutfile.aif");
    EXPECT_EQ(NumberedOutputName(".QuillOutFile.aif", "Mix", 0), "Mix.aif");
}

TEST(OutputNamingTest, UniqueTagsAreReplacedWithTheWord)
{
    EXPECT_EQ(FinalOutputName(".QuillOutFile-Ab3dE9.L.aif", "Mix"), "Mix.L.aif");
    EXPECT_EQ(NumberedOutputName(".QuillOutFile-Ab3dE9.L.aif", "Mix", 2), "Mix-2.L.aif");
    EXPECT_EQ(FinalOutputName(".QuillOutFile-Ab3dE9-R.paf", "Mix"), "Mix-R.paf");
    EXPECT_EQ(FinalOutputName(".QuillOutFile-Ab3dE9", "Mix"), "Mix");
    // Not a tag: too short, too long, other characters.
    EXPECT_EQ(FinalOutputName(".QuillOutFile-L.paf", "Mix"), "Mix-L.paf");
    EXPECT_EQ(FinalOutputName(".QuillOutFile-abcdefg.aif", "Mix"), "Mix-abcdefg.aif");
    EXPECT_EQ(FinalOutputName(".QuillOutFile-abc_ef.aif", "Mix"), "Mix-abc_ef.aif");

    TestTempDir dir;
    std::string a, b;
    ASSERT_EQ(MakeTemporaryOutputName(dir.path(), &a), 0);
    ASSERT_EQ(MakeTemporaryOutputName(dir.path(), &b), 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(FinalOutputName(QString::fromStdString(a) + ".aif", "x"), "x.aif");
    EXPECT_TRUE(Listing(dir).isEmpty());
    EXPECT_EQ(MakeTemporaryOutputName(dir.file("missing"), &a), dirNFErr);
}

TEST(OutputNamingTest, RenamesAndSkipsWhatIsNotATemporaryOutput)
{
    TestTempDir dir;
    Write(dir, ".QuillOutFile.aif", "new");
    Write(dir, "keep.aif", "keep");
    QStringList paths;
    const QStringList entries = {".QuillOutFile.aif", "keep.aif", ".QuillOutFile.missing.wav", "../.QuillOutFile.x"};
    EXPECT_EQ(RenameOutputs(dir.qpath(), entries, "Song", Numbering(false), &paths), 0);
    EXPECT_EQ(paths, QStringList{Full(dir, "Song.aif")});
    EXPECT_EQ(Listing(dir), (QStringList{"Song.aif", "keep.aif"}));
    EXPECT_EQ(Read(dir, "Song.aif"), "new");
}

TEST(OutputNamingTest, NumbersSingleFilesFromOne)
{
    TestTempDir dir;
    for (const char* name : {"x.aif", "x-1.aif", "x-2.aif"})
        Write(dir, name, name);
    Write(dir, ".QuillOutFile.aif", "new");
    QStringList reported;
    OutputRenameSettings s = Numbering(true);
    s.duplicateFound = [&](const QString& name) { reported << name; };
    QStringList paths;
    EXPECT_EQ(RenameOutputs(dir.qpath(), {".QuillOutFile.aif"}, "x", s, &paths), 0);
    EXPECT_EQ(reported, QStringList{"x.aif"});
    EXPECT_EQ(paths, QStringList{Full(dir, "x-3.aif")});
    EXPECT_EQ(Read(dir, "x-3.aif"), "new");
    EXPECT_EQ(Read(dir, "x.aif"), "x.aif");
    EXPECT_EQ(Read(dir, "x-2.aif"), "x-2.aif");
    EXPECT_FALSE(QFile::exists(Full(dir, ".QuillOutFile.aif")));

    // Without an extension there is no trailing dot.
    Write(dir, ".QuillOutFile", "bare");
    Write(dir, "y", "old");
    EXPECT_EQ(RenameOutputs(dir.qpath(), {".QuillOutFile"}, "y", Numbering(true), &paths), 0);
    EXPECT_EQ(Read(dir, "y-1"), "bare");
}

TEST(OutputNamingTest, MembersOfASetShareOneNumber)
{
    TestTempDir dir;
    Write(dir, "Mix.L.aif", "old L");
    Write(dir, "Mix-1.R.aif", "old R1");  // number 1 is taken for one member only
    Write(dir, ".QuillOutFile.L.aif", "L");
    Write(dir, ".QuillOutFile.R.aif", "R");
    QStringList reported;
    OutputRenameSettings s = Numbering(true);
    s.duplicateFound = [&](const QString& name) { reported << name; };
    QStringList paths;
    EXPECT_EQ(RenameOutputs(dir.qpath(), {".QuillOutFile.L.aif", ".QuillOutFile.R.aif"}, "Mix", s, &paths), 0);
    EXPECT_EQ(reported, QStringList{"Mix.L.aif"});
    EXPECT_EQ(paths, (QStringList{Full(dir, "Mix-2.L.aif"), Full(dir, "Mix-2.R.aif")}));
    EXPECT_EQ(Read(dir, "Mix-2.L.aif"), "L");
    EXPECT_EQ(Read(dir, "Mix-2.R.aif"), "R");
    EXPECT_EQ(Read(dir, "Mix.L.aif"), "old L");
    EXPECT_EQ(Read(dir, "Mix-1.R.aif"), "old R1");
    EXPECT_FALSE(QFile::exists(Full(dir, "Mix.R.aif")));
}

TEST(OutputNamingTest, WithoutNumberingAClashDeletesTheNewSetAndKeepsTheOldFile)
{
    TestTempDir dir;
    Write(dir, "Mix.R.aif", "old");
    Write(dir, ".QuillOutFile.L.aif", "L");
    Write(dir, ".QuillOutFile.R.aif", "R");
    Write(dir, "other.QuillOutFile.wav", "other");  // a second output, renamed on its own
    QStringList paths;
    EXPECT_EQ(RenameOutputs(dir.qpath(), {".QuillOutFile.L.aif", ".QuillOutFile.R.aif", "other.QuillOutFile.wav"},
                            "Mix", Numbering(false), &paths),
              dupFNErr);
    EXPECT_EQ(paths, QStringList{Full(dir, "otherMix.wav")});
    EXPECT_EQ(Listing(dir), (QStringList{"Mix.R.aif", "otherMix.wav"}));
    EXPECT_EQ(Read(dir, "Mix.R.aif"), "old");
}

TEST(OutputNamingTest, NeverReplacesALinkOrFolderInTheWay)
{
    TestTempDir dir;
    ASSERT_TRUE(QFile::link(Full(dir, "nowhere"), Full(dir, "Mix.aif")));  // dangling link
    ASSERT_TRUE(QDir(dir.qpath()).mkdir("Mix-1.aif"));
    Write(dir, ".QuillOutFile.aif", "new");
    EXPECT_EQ(RenameOutputs(dir.qpath(), {".QuillOutFile.aif"}, "Mix", Numbering(true), nullptr), 0);
    EXPECT_EQ(Read(dir, "Mix-2.aif"), "new");
    EXPECT_EQ(QFile::symLinkTarget(Full(dir, "Mix.aif")), Full(dir, "nowhere"));
}

TEST(OutputNamingTest, AFailedMoveLeavesNothingBehind)
{
    TestTempDir dir;
    // A final name of 251 bytes: "<name>.aif" just fits, numbered it does
    // not.  The move's own code, never -48 (no name it may take is taken);
    // the name at fault is told.
    const QString longName(251, QLatin1Char('n'));
    Write(dir, longName + ".aif", "old");
    Write(dir, ".QuillOutFile.aif", "new");
    QStringList paths;
    QStringList failed;
    auto told = [&failed](bool numbering) {
        OutputRenameSettings s = Numbering(numbering);
        s.publishFailed = [&failed](const QString& target, OSErr err) {
            failed << QStringLiteral("%1 %2").arg(err).arg(target.section(QLatin1Char('/'), -1));
        };
        return s;
    };
    EXPECT_EQ(RenameOutputs(dir.qpath(), {".QuillOutFile.aif"}, longName, told(true), &paths), bdNamErr);
    EXPECT_TRUE(paths.isEmpty());
    EXPECT_EQ(Listing(dir), QStringList{longName + ".aif"});
    EXPECT_EQ(failed, QStringList{"-37 " + longName + "-1.aif"});

    // An unnumbered move that fails (name too long) deletes the output too.
    Write(dir, ".QuillOutFile.L.aif", "L");
    Write(dir, ".QuillOutFile.R.aif", "R");
    failed.clear();
    EXPECT_EQ(RenameOutputs(dir.qpath(), {".QuillOutFile.L.aif", ".QuillOutFile.R.aif"}, longName, told(false),
                            &paths),
              bdNamErr);
    EXPECT_EQ(Listing(dir), QStringList{longName + ".aif"});
    EXPECT_EQ(failed, QStringList{"-37 " + longName + ".L.aif"});
}

TEST(OutputNamingTest, CreatedFilesListIsRenamedAndEmptied)
{
    TestTempDir dir;
    ASSERT_TRUE(QDir(dir.qpath()).mkdir("sub"));
    Write(dir, "sub/.QuillOutFile.wav", "w");
    CreatedFilesListClear();
    CreatedFilesListAdd(QStringLiteral("sub/.QuillOutFile.wav"));
    QStringList paths;
    EXPECT_EQ(RenameCreatedOutputs(dir.qpath(), "Take", Numbering(false), &paths), 0);
    EXPECT_EQ(paths, QStringList{Full(dir, "sub/Take.wav")});
    EXPECT_TRUE(GetCreatedFilesList().isEmpty());
    EXPECT_EQ(Read(dir, "sub/Take.wav"), "w");
}
