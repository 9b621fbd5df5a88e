// Files published together: all of them or none under their final names,
// whether a move fails or the process is killed before any move, and a
// killed publication undone by the next run's clean-up (which finds its
// record in the killed run's ledger).
#include "AppleDoubleFile.h"
#include "FilePublishing.h"
#include "PlatformTestUtil.h"
#include "TemporaryLedger.h"
#include "TestTempDir.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

namespace {

// Everything in the folder and its subfolder "sub", sidecars and hidden
// names included, sorted.
QStringList Everything(const TestTempDir& dir)
{
    QStringList names;
    for (const QString& folder : {QString(), QStringLiteral("sub/")}) {
        for (const QString& name : QDir(dir.qpath() + "/" + folder)
                                       .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
            names << folder + name;
    }
    return names;
}

// An output of three files under temporary names: a sound file with its
// resource fork in a sidecar, and the two members of a split pair (one of
// them in a subfolder) -- five moves in all.
struct Output {
    explicit Output(const TestTempDir& dir)
    {
        QDir().mkpath(dir.qpath() + "/sub");
        EXPECT_TRUE(WriteWholeFile(dir.file(".QuillOutFile-a1B2c3.sd2"), "data"));
        EXPECT_EQ(AppleDoubleFile::WriteResourceFork(dir.file(".QuillOutFile-a1B2c3.sd2"), "fork"), noErr);
        EXPECT_TRUE(WriteWholeFile(dir.file(".QuillOutFile-a1B2c3.L.aif"), "left"));
        EXPECT_TRUE(WriteWholeFile(dir.file("sub/.QuillOutFile-a1B2c3.R.aif"), "right"));
        EXPECT_EQ(AppleDoubleFile::WriteFinderInfo(dir.file("sub/.QuillOutFile-a1B2c3.R.aif"),
                                                   FOUR_CHAR_CODE("AIFF"), 0, 0),
                  noErr);
        moves = {{dir.file(".QuillOutFile-a1B2c3.sd2"), dir.file("Take.sd2")},
                 {dir.file(".QuillOutFile-a1B2c3.L.aif"), dir.file("Take.L.aif")},
                 {dir.file("sub/.QuillOutFile-a1B2c3.R.aif"), dir.file("sub/Take.R.aif")}};
        temporaries = Everything(dir);
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
