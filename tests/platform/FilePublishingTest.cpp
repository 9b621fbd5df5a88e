// Files published together: all of them or none under their final names,
// whether a move fails or the process is killed before any move, and a
// killed publication undone by the next run's clean-up (which finds its
// record in the killed run's ledger) -- never taking a file the user made
// since under a name the killed run had used, even on the inode it freed.
#include "AppleDoubleFile.h"
#include "FilePublishing.h"
#include "LoopImage.h"
#include "PlatformTestUtil.h"
#include "TemporaryFiles.h"
#include "TemporaryLedger.h"
#include "TestTempDir.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Everything in the folder and its subfolder "sub", sidecars and hidden
// names included, sorted.
QStringList Everything(const std::string& folder)
{
    QStringList names;
    for (const QString& sub : {QString(), QStringLiteral("sub/")}) {
        for (const QString& name : QDir(QString::fromStdString(folder) + "/" + sub)
                                       .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
            names << sub + name;
    }
    return names;
}

QStringList Everything(const TestTempDir& dir)
{
    return Everything(dir.path());
}

// An output of three files under temporary names: a sound file with its
// resource fork in a sidecar, and the two members of a split pair (one of
// them in a subfolder) -- five moves in all.
struct Output {
    explicit Output(const TestTempDir& dir) : Output(dir.path()) {}
    explicit Output(const std::string& folder)
    {
        auto file = [&folder](const char* name) { return folder + "/" + name; };
        QDir().mkpath(QString::fromStdString(file("sub")));
        EXPECT_TRUE(WriteWholeFile(file(".QuillOutFile-a1B2c3.sd2"), "data"));
        EXPECT_EQ(AppleDoubleFile::WriteResourceFork(file(".QuillOutFile-a1B2c3.sd2"), "fork"), noErr);
        EXPECT_TRUE(WriteWholeFile(file(".QuillOutFile-a1B2c3.L.aif"), "left"));
        EXPECT_TRUE(WriteWholeFile(file("sub/.QuillOutFile-a1B2c3.R.aif"), "right"));
        EXPECT_EQ(AppleDoubleFile::WriteFinderInfo(file("sub/.QuillOutFile-a1B2c3.R.aif"), FOUR_CHAR_CODE("AIFF"), 0, 0),
                  noErr);
        moves = {{file(".QuillOutFile-a1B2c3.sd2"), file("Take.sd2")},
                 {file(".QuillOutFile-a1B2c3.L.aif"), file("Take.L.aif")},
                 {file("sub/.QuillOutFile-a1B2c3.R.aif"), file("sub/Take.R.aif")}};
        temporaries = Everything(folder);
    }
    std::vector<PublishMove> moves;
    QStringList temporaries;
    static constexpr int kSteps = 5;
};

const QStringList kPublished = {"._Take.sd2", "Take.L.aif", "Take.sd2", "sub/._Take.R.aif", "sub/Take.R.aif"};

class FilePublishing : public ::testing::TestWithParam<int> {
protected:
    void TearDown() override { SetPublishStepHook({}); }
    TestTempDir dir;
};

TEST_P(FilePublishing, AFailedMoveTakesEveryFileBack)
{
    const int failAt = GetParam();
    Output output(dir);
    int steps = 0;
    SetPublishStepHook([&](int step, int count) {
        steps = count;
        return step == failAt ? OSErr(ioErr) : OSErr(noErr);
    });
    EXPECT_EQ(PublishFiles(dir.path(), output.moves), ioErr);
    EXPECT_EQ(steps, Output::kSteps);
    EXPECT_EQ(Everything(dir), output.temporaries);
}

TEST_P(FilePublishing, AKilledPublicationIsUndoneByTheNextRun)
{
    const int killAt = GetParam();
    EXPECT_EXIT(
        {
            SetPublishStepHook([killAt](int step, int) {
                if (step == killAt)
                    std::raise(SIGKILL);
                return OSErr(noErr);
            });
            // The run's ledger is older than what the run makes.
            const TemporaryLedger ledger(dir.path());
            Output output(dir);
            PublishFiles(dir.path(), output.moves);
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    // Files moved before the kill sit under final names beside the record.
    const QStringList left = Everything(dir);
    EXPECT_EQ(left.filter(QRegularExpression("^\\.QuillOutFile-\\w{6}\\.publish$")).size(), 1) << left.join(' ').toStdString();

    EXPECT_EQ(TemporaryLedger::RemoveLeftovers(dir.path()), 1);
    // Nothing under a final name; what had not moved keeps its temporary name.
    for (const QString& name : Everything(dir))
        EXPECT_TRUE(name.contains(".QuillOutFile-a1B2c3")) << name.toStdString();
    EXPECT_EQ(TemporaryLedger::RemoveLeftovers(dir.path()), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryMove, FilePublishing, ::testing::Range(0, Output::kSteps));

// Removes the file `name` of `folder` and makes a new one of that name and
// `content`, given the inode just freed (files are made until the file
// system hands it out; they stay).  False where it never does.
bool ReplaceOnItsInode(const std::string& folder, const std::string& name, const QByteArray& content)
{
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || ::unlink(path.c_str()) != 0)
        return false;
    for (int i = 0; i < 2000; ++i) {
        const std::string filler = folder + "/filler-" + std::to_string(i);
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        struct stat made {};
        const bool reused = fd >= 0 && ::fstat(fd, &made) == 0 && made.st_ino == st.st_ino;
        if (fd >= 0)
            ::close(fd);
        if (reused)
            return ::rename(filler.c_str(), path.c_str()) == 0 && WriteWholeFile(path, content);
    }
    return false;
}

// A publication killed after its first three moves (the two sidecars and
// the sound file: at final names), beside a work file of the run.
// The user removes the published sound file and the work file and writes
// new files of their names, which the file system (ext4, ext2) gives the
// inodes freed: those are the user's, younger than the killed run's
// records, and the next run's clean-up leaves them.  When another user's
// file has taken the place of the publication's record, that is said.
struct LaterFiles {
    const char* fileSystem;
    bool othersRecord;
};

void PrintTo(const LaterFiles& files, std::ostream* os)
{
    *os << files.fileSystem << (files.othersRecord ? ", record replaced" : "");
}

class LaterFilesOnFreedInodes : public ::testing::TestWithParam<LaterFiles> {
protected:
    void TearDown() override { SetPublishStepHook({}); }
    TestTempDir dir;
};

TEST_P(LaterFilesOnFreedInodes, AreNeverTakenForTheKilledRunsItems)
{
    if (GetParam().othersRecord && ::geteuid() != 0)
        GTEST_SKIP() << "needs root, to give a file to another user";
    const LoopImage image(GetParam().fileSystem, dir.path());
    if (!image.ok())
        GTEST_SKIP() << image.why();
    const std::string d = image.path();
    const std::string work = NewTemporaryItemName(".work");
    EXPECT_EXIT(
        {
            SetPublishStepHook([](int step, int) {
                if (step == 3)
                    std::raise(SIGKILL);
                return OSErr(noErr);
            });
            const TemporaryLedger ledger(d);
            Output output(d);
            const int fd = TemporaryLedger::CreateFile(d + "/" + work, O_WRONLY | O_CLOEXEC, 0600);
            if (fd < 0 || ::write(fd, "work", 4) != 4 || ::close(fd) != 0)
                std::exit(1);
            PublishFiles(d, output.moves);
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    const QStringList records = Everything(d).filter(QRegularExpression("^\\.QuillOutFile-\\w{6}\\.publish$"));
    ASSERT_EQ(records.size(), 1) << Everything(d).join(' ').toStdString();
    ASSERT_TRUE(QFile::exists(QString::fromStdString(d + "/Take.sd2")));

    for (const std::string& name : {std::string("Take.sd2"), work})
        if (!ReplaceOnItsInode(d, name, "the user's"))
            GTEST_SKIP() << "this " << GetParam().fileSystem << " gives no freed inode to the next file";
    const std::string record = d + "/" + records[0].toStdString();
    if (GetParam().othersRecord) {
        const std::string forged = d + "/forged";
        ASSERT_TRUE(WriteWholeFile(forged, "QMPUBLISH"));
        ASSERT_EQ(::chown(forged.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::rename(forged.c_str(), record.c_str()), 0);
    }

    std::vector<std::string> untrusted;
    TemporaryLedger::RemoveLeftovers(d, &untrusted);
    for (const std::string& name : {std::string("Take.sd2"), work})
        EXPECT_EQ(ReadWholeFile(d + "/" + name), "the user's") << name;
    // What the killed run had published besides goes, unless its record
    // proves nothing.
    EXPECT_EQ(QFile::exists(QString::fromStdString(d + "/._Take.sd2")), GetParam().othersRecord);
    EXPECT_EQ(untrusted, GetParam().othersRecord ? std::vector<std::string>{record} : std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(ExtFileSystems, LaterFilesOnFreedInodes,
                         ::testing::Values(LaterFiles{"ext4", false}, LaterFiles{"ext2", false},
                                           LaterFiles{"ext4", true}),
                         [](const ::testing::TestParamInfo<LaterFiles>& info) {
                             return std::string(info.param.fileSystem) +
                                    (info.param.othersRecord ? "RecordReplacedByAnotherUsers" : "");
                         });

TEST(FilePublishingWhole, MovesEverythingOrNothingWhenANameIsTaken)
{
    TestTempDir dir;
    Output output(dir);
    // A stale sidecar at a final name goes; a final name taken stops all.
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(dir.file("Take.L.aif"), FOUR_CHAR_CODE("OLD "), 0, 0), noErr);
    ASSERT_TRUE(WriteWholeFile(dir.file("sub/Take.R.aif"), "someone's"));
    EXPECT_EQ(PublishFiles(dir.path(), output.moves), dupFNErr);
    EXPECT_EQ(ReadWholeFile(dir.file("sub/Take.R.aif")), "someone's");
    ASSERT_TRUE(QFile::remove(dir.qpath() + "/sub/Take.R.aif"));
    EXPECT_EQ(Everything(dir), output.temporaries);

    ASSERT_EQ(PublishFiles(dir.path(), output.moves), noErr);
    EXPECT_EQ(Everything(dir), kPublished);
    QByteArray fork;
    ASSERT_EQ(AppleDoubleFile::ReadResourceFork(dir.file("Take.sd2"), &fork), noErr);
    EXPECT_EQ(fork, "fork");
    OSType type = 0;
    ASSERT_EQ(AppleDoubleFile::ReadFinderInfo(dir.file("sub/Take.R.aif"), &type, nullptr, nullptr), noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("AIFF"));

    EXPECT_TRUE(IsPublicationRecordName(".QuillOutFile-Zz09aB.publish"));
    EXPECT_FALSE(IsPublicationRecordName(".QuillOutFile-Zz09a.publish"));
    EXPECT_FALSE(IsPublicationRecordName("x.QuillOutFile-Zz09aB.publish"));
}

}  // namespace
