// What a killed run's ledger proves, read from ledgers written here byte by
// byte: an item still the one recorded goes (a folder with what it holds,
// and the sidecar a file left); an item recorded only as about to be made
// goes when it was made after the run began; nothing else does -- not a
// file of another identity at a recorded name, not the items of a ledger
// that a running batch holds, nor those of a copied ledger (which does not
// name itself), whatever their names.
#include "PlatformTestUtil.h"
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

std::string Field(const std::string& text)
{
    return text + std::string(1, '\0');
}

// A ledger file at `path` naming `self` as itself, begun at `start`, with
// `entries` (already in the ledger's fields).
void WriteLedger(const std::string& path, Identity self, long long start, const std::string& entries)
{
    ASSERT_TRUE(WriteWholeFile(path, ""));
    if (self.inode == 0)
        self = Of(path);
    const std::string text = Field("QMLEDGER1") + Field(std::to_string(self.device)) +
                             Field(std::to_string(self.inode)) + Field(std::to_string(start)) + entries;
    ASSERT_TRUE(WriteWholeFile(path, QByteArray::fromStdString(text)));
}

std::string Made(const std::string& relative, Identity id, bool folder = false)
{
    return Field(folder ? "D" : "F") + Field(relative) + Field(std::to_string(id.device)) +
           Field(std::to_string(id.inode));
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

std::string Pending(const std::string& relative)
{
    return Field("f") + Field(relative);
}

TEST(TemporaryLedger, AKilledRunsLedgerRemovesWhatItProvesAndNothingElse)
{
    TestTempDir dir;
    const std::string d = dir.path();
    auto make = [&](const std::string& relative) {
        EXPECT_TRUE(WriteWholeFile(d + "/" + relative, QByteArray::fromStdString(relative)));
        return d + "/" + relative;
    };
    const long long now = static_cast<long long>(std::time(nullptr));
    // The ledgers are older than what they record, as a run makes them.
    for (const char* ledger : {"/.QuillOutFile-kkkkk1.run", "/.QuillOutFile-kkkkk3.run", "/.QuillOutFile-kkkkk4.run"})
        ASSERT_TRUE(WriteWholeFile(d + ledger, ""));
    AfterBirthOf(d + "/.QuillOutFile-kkkkk4.run");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(d + "/Conv/.QuillOutFile-eeeeee/inside")));

    // Gone: recorded and still the same; a folder with what it holds; the
    // sidecar of a recorded file that is gone; one about to be made.
    const std::string ours = make("Conv/.QuillOutFile-aaaaaa.aif");
    make("Conv/._.QuillOutFile-aaaaaa.aif");
    make("Conv/.QuillOutFile-eeeeee/inside/One.aif");
    make("Conv/._.QuillOutFile-hhhhhh.sd2");
    make("Conv/.QuillOutFile-cccccc.aif");
    // Kept: another file now at a recorded name; made before the run began.
    const std::string other = make("Conv/.QuillOutFile-bbbbbb.aif");
    AfterBirthOf(make("Conv/.QuillOutFile-dddddd.aif"));
    Identity wrong = Of(other);
    wrong.inode += 1;
    WriteLedger(d + "/.QuillOutFile-kkkkk1.run", {}, now,
                Made("Conv/.QuillOutFile-aaaaaa.aif", Of(ours)) +
                    Made("Conv/.QuillOutFile-eeeeee", Of(d + "/Conv/.QuillOutFile-eeeeee"), true) +
                    Made("Conv/.QuillOutFile-hhhhhh.sd2", {1, 1}) + Pending("Conv/.QuillOutFile-cccccc.aif") +
                    Made("Conv/.QuillOutFile-bbbbbb.aif", wrong));
    WriteLedger(d + "/.QuillOutFile-kkkkk2.run", {}, now + 100, Pending("Conv/.QuillOutFile-dddddd.aif"));
    std::vector<std::string> untrusted;

    // Kept with their ledgers: a running batch's, and a copied ledger.
    const std::string running = make("Conv/.QuillOutFile-ffffff.aif");
    const std::string copied = make("Conv/.QuillOutFile-gggggg.aif");
    WriteLedger(d + "/.QuillOutFile-kkkkk3.run", {}, now, Made("Conv/.QuillOutFile-ffffff.aif", Of(running)));
    const int held = ::open((d + "/.QuillOutFile-kkkkk3.run").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    WriteLedger(d + "/.QuillOutFile-kkkkk4.run", Of(d), now, Made("Conv/.QuillOutFile-gggggg.aif", Of(copied)));

    EXPECT_EQ(TemporaryLedger::RemoveLeftovers(d, &untrusted), 2);
    EXPECT_EQ(untrusted, std::vector<std::string>{d + "/.QuillOutFile-kkkkk4.run"});
    ::close(held);
    QStringList left;
    for (const QString& folder : {QString(), QStringLiteral("Conv/")})
        for (const QString& name : QDir(QString::fromStdString(d) + "/" + folder)
                                       .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
            left << folder + name;
    EXPECT_EQ(left, QStringList({".QuillOutFile-kkkkk3.run", ".QuillOutFile-kkkkk4.run", "Conv",
                                 "Conv/.QuillOutFile-bbbbbb.aif", "Conv/.QuillOutFile-dddddd.aif",
                                 "Conv/.QuillOutFile-ffffff.aif", "Conv/.QuillOutFile-gggggg.aif"}))
        << left.join(' ').toStdString();
    EXPECT_EQ(ReadWholeFile(other), "Conv/.QuillOutFile-bbbbbb.aif");
}

}  // namespace
