// What a killed run's ledger proves, read from ledgers written here byte by
// byte as the program writes them (RecordForging.h): an item still the one
// recorded goes (a folder with what it holds, and the sidecar a file
// left); an item recorded only as about to be made goes when it was made
// after the run began; an empty ledger of the user's own goes, with its
// key; nothing else does -- not a file of another identity at a recorded
// name, not the items of a ledger that a running batch holds, nor those of
// a ledger that proves nothing (said once each): a copied ledger (which
// does not name itself), one naming an item that is not of the temporary
// shape, one with an entry added by someone without its key, one whose
// mode changed after its last entry, one whose key was once open to
// others, another user's one even while someone holds its lock.
#include "PlatformTestUtil.h"
#include "ProvenItems.h"
#include "RecordForging.h"
#include "TemporaryLedger.h"
#include "TestTempDir.h"

#include <QDir>

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Identity {
    unsigned long long device = 0;
    unsigned long long inode = 0;
};

Identity Of(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

QByteArray Field(const std::string& text)
{
    return recordforging::Field(QByteArray::fromStdString(text));
}

// Whether the file system here keeps birth times.
bool KeepsBirthTimes(const std::string& path)
{
    struct statx sx {};
    return ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME);
}

void WriteLedger(const std::string& path, const QByteArray& start, const QList<QByteArray>& entries, Identity self = {})
{
    ASSERT_TRUE(recordforging::WriteLedger(QString::fromStdString(path), start, entries, self.device, self.inode))
        << path;
}

QByteArray Made(const std::string& relative, const std::string& path, bool folder = false)
{
    return recordforging::MadeEntry(QString::fromStdString(relative), QString::fromStdString(path), folder);
}

QByteArray Pending(const std::string& relative)
{
    return recordforging::PendingEntry(QString::fromStdString(relative));
}

// Waits until an item made now is born later than `path`: the file
// system's clock has moved on.
void AfterBirthOf(const std::string& path)
{
    struct statx seen {}, probe {};
    ASSERT_EQ(::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &seen), 0);
    const std::string probePath = path + ".probe";
    auto born = [](const struct statx& sx) {
        const statx_timestamp& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
        return std::make_pair(t.tv_sec, t.tv_nsec);
    };
    do {
        ASSERT_TRUE(WriteWholeFile(probePath, ""));
        ASSERT_EQ(::statx(AT_FDCWD, probePath.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &probe), 0);
        ::unlink(probePath.c_str());
    } while (!(born(probe) > born(seen)));
}

TEST(TemporaryLedger, AKilledRunsLedgerRemovesWhatItProvesAndNothingElse)
{
    TestTempDir dir;
    const std::string d = dir.path();
    auto make = [&](const std::string& relative) {
        EXPECT_TRUE(WriteWholeFile(d + "/" + relative, QByteArray::fromStdString(relative)));
        return d + "/" + relative;
    };
    auto ledger = [&](const char* tag) { return d + "/.QuillOutFile-" + tag + ".run"; };
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(d + "/Conv")));
    const bool births = KeepsBirthTimes(d);

    // Made before the runs began: kept, also when named about to be made.
    make("Conv/.QuillOutFile-dddddd.aif");
    AfterBirthOf(d + "/Conv/.QuillOutFile-dddddd.aif");
    const QByteArray start = recordforging::StartOf(QString::fromStdString(make("begin")));
    ASSERT_EQ(::unlink((d + "/begin").c_str()), 0);
    WriteLedger(ledger("kkkkk2"), start, {Pending("Conv/.QuillOutFile-dddddd.aif")});
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(d + "/Conv/.QuillOutFile-eeeeee/inside")));

    // Gone: recorded and still the same; a folder with what it holds; the
    // sidecar of a recorded file that is gone; one about to be made.
    const std::string ours = make("Conv/.QuillOutFile-aaaaaa.aif");
    make("Conv/._.QuillOutFile-aaaaaa.aif");
    make("Conv/.QuillOutFile-eeeeee/inside/One.aif");
    make("Conv/._.QuillOutFile-hhhhhh.sd2");
    make("Conv/.QuillOutFile-cccccc.aif");
    // Kept: another file now at a recorded name.
    const std::string other = make("Conv/.QuillOutFile-bbbbbb.aif");
    QByteArray wrong = Made("Conv/.QuillOutFile-bbbbbb.aif", other);
    wrong.replace(Field(std::to_string(Of(other).inode)), Field(std::to_string(Of(other).inode + 1)));
    WriteLedger(ledger("kkkkk1"), start,
                {Made("Conv/.QuillOutFile-aaaaaa.aif", ours),
                 Made("Conv/.QuillOutFile-eeeeee", d + "/Conv/.QuillOutFile-eeeeee", true),
                 Field("F") + Field("Conv/.QuillOutFile-hhhhhh.sd2") + Field("1") + Field("1") + Field("b1.0"),
                 Pending("Conv/.QuillOutFile-cccccc.aif"), wrong});
    // Gone: an empty ledger of the user's own (a run killed as it began
    // it), with its key; and a key without a ledger.
    ASSERT_TRUE(WriteWholeFile(ledger("kkkkk5"), ""));
    ASSERT_EQ(::chmod(ledger("kkkkk5").c_str(), 0600), 0);
    ASSERT_TRUE(WriteWholeFile(d + "/.QuillOutFile-kkkkk5.key", "key"));
    ASSERT_TRUE(WriteWholeFile(d + "/.QuillOutFile-kkkkk9.key", "key"));

    // Kept with their ledgers (and keys): a running batch's; and, said, a
    // copied ledger, one naming an item not of the temporary shape (its own
    // temporary stays too), one with an entry not sealed with its key, one
    // whose mode changed after its last entry, one whose key was open to
    // others for a moment.
    const std::string running = make("Conv/.QuillOutFile-ffffff.aif");
    WriteLedger(ledger("kkkkk3"), start, {Made("Conv/.QuillOutFile-ffffff.aif", running)});
    const int held = ::open(ledger("kkkkk3").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const std::string copied = make("Conv/.QuillOutFile-gggggg.aif");
    WriteLedger(ledger("kkkkk4"), start, {Made("Conv/.QuillOutFile-gggggg.aif", copied)}, Of(d));
    make("Conv/plain.txt");
    const std::string beside = make("Conv/.QuillOutFile-iiiiii.aif");
    WriteLedger(ledger("kkkkk6"), start, {Made("Conv/.QuillOutFile-iiiiii.aif", beside), Pending("Conv/plain.txt")});
    const std::string added = make("Conv/.QuillOutFile-mmmmmm.aif");
    WriteLedger(ledger("kkkkk0"), start, {});
    {
        QFile file(QString::fromStdString(ledger("kkkkk0")));
        ASSERT_TRUE(file.open(QIODevice::Append));
        ASSERT_GT(file.write(Pending("Conv/.QuillOutFile-mmmmmm.aif") + Field("00000000000000000000000000000000")), 0);
    }
    const std::string changed = make("Conv/.QuillOutFile-jjjjjj.aif");
    WriteLedger(ledger("kkkkk7"), start, {Made("Conv/.QuillOutFile-jjjjjj.aif", changed)});
    AfterBirthOf(ledger("kkkkk7"));
    ASSERT_EQ(::chmod(ledger("kkkkk7").c_str(), 0644), 0);
    std::vector<std::string> said{ledger("kkkkk0"), ledger("kkkkk4"), ledger("kkkkk6"), ledger("kkkkk7")};
    QStringList kept{"Conv/.QuillOutFile-bbbbbb.aif", "Conv/.QuillOutFile-dddddd.aif", "Conv/.QuillOutFile-ffffff.aif",
                     "Conv/.QuillOutFile-gggggg.aif", "Conv/.QuillOutFile-iiiiii.aif", "Conv/.QuillOutFile-jjjjjj.aif",
                     "Conv/.QuillOutFile-mmmmmm.aif", "Conv/plain.txt"};
    QStringList tags{"kkkkk0", "kkkkk3", "kkkkk4", "kkkkk6", "kkkkk7"};
    // Another user's, held locked by someone: said all the same.
    int othersHeld = -1;
    if (::geteuid() == 0) {
        const std::string others = make("Conv/.QuillOutFile-llllll.aif");
        WriteLedger(ledger("kkkkk8"), start, {Made("Conv/.QuillOutFile-llllll.aif", others)});
        ASSERT_EQ(::chown(ledger("kkkkk8").c_str(), 65534, 65534), 0);
        othersHeld = ::open(ledger("kkkkk8").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(othersHeld, LOCK_EX | LOCK_NB), 0);
        said.push_back(ledger("kkkkk8"));
        kept << "Conv/.QuillOutFile-llllll.aif";
        tags << "kkkkk8";
    }
    if (births) {
        const std::string opened = make("Conv/.QuillOutFile-nnnnnn.aif");
        WriteLedger(ledger("kkkkkz"), start, {Made("Conv/.QuillOutFile-nnnnnn.aif", opened)});
        const std::string key = d + "/.QuillOutFile-kkkkkz.key";
        ASSERT_EQ(::chmod(key.c_str(), 0644), 0);
        ASSERT_EQ(::chmod(key.c_str(), 0600), 0);
        said.push_back(ledger("kkkkkz"));
        kept << "Conv/.QuillOutFile-nnnnnn.aif";
        tags << "kkkkkz";
    }
    QStringList ledgers;
    for (const QString& tag : tags)
        ledgers << QString(".QuillOutFile-%1.key").arg(tag) << QString(".QuillOutFile-%1.run").arg(tag);

    std::vector<std::string> untrusted;
    EXPECT_EQ(TemporaryLedger::RemoveLeftovers(d, &untrusted), 3);
    EXPECT_EQ(untrusted, said);
    ::close(held);
    if (othersHeld >= 0)
        ::close(othersHeld);
    QStringList left;
    for (const QString& folder : {QString(), QStringLiteral("Conv/")})
        for (const QString& name : QDir(QString::fromStdString(d) + "/" + folder)
                                       .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
            left << folder + name;
    kept.sort();
    EXPECT_EQ(left.join(' ').toStdString(), (ledgers + QStringList{"Conv"} + kept).join(' ').toStdString());
    EXPECT_EQ(ReadWholeFile(other), "Conv/.QuillOutFile-bbbbbb.aif");
}

}  // namespace
