// Another user who may write the output folder (a group's folder, one of
// mode 0777) renames things over the files the batch makes there while it
// writes them: a link to a file of the user's elsewhere, or a file of
// their own.
//
// TakenAtOnce: every writable type of the type table, one conversion each,
// and the log, in one batch run in a process of the test's own, whose file
// layer lets the test act the moment each file is made -- before its writer,
// the MP3 encoder or the muxer, ever touches it -- so that the other user
// wins every race.  Beside them one conversion whose folder nobody touches.
// The file outside stays byte for byte what it was, nothing under a final
// name is a link or a file the batch did not write (what the other user put
// there is left as it was), each input's line says its output was replaced,
// naming the folder, the untouched conversion converts, the log's path is
// not printed as the log's, and the exit status says a file failed.
//
// RacedForReal: the same race run for real, by a process of a second user
// ("nobody"), against a batch of many small files into folders of mode 0777
// (as root only, to have a second user).  Whoever wins each race, the file
// outside stays as it was, everything published is a file of the batch's
// own, and each input either converts or fails saying its output was
// replaced.
#include "CliTestSupport.h"
#include "TypeTableRules.h"

#include "BatchCommand.h"
#include "BatchOptions.h"
#include "MadeFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace clitest;

namespace {

constexpr uid_t kNobody = 65534;
const QByteArray kPrecious = "the user's own, elsewhere\n";
const QByteArray kTheirs = "another user's\n";

// The batch command run in a child process of the test with `hook` acting
// on each file its file layer makes (the command line `arguments`, the
// preferences `defaults`): exit status, standard output and error.
RunResult RunWithHook(const QStringList& arguments, const QString& defaults, const QString& scratch,
                      const MadeFiles::MadeHook& hook)
{
    const QByteArray out = QFile::encodeName(scratch + "/stdout"), err = QFile::encodeName(scratch + "/stderr");
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int o = ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int e = ::open(err.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (o < 0 || e < 0 || ::dup2(o, 1) != 1 || ::dup2(e, 2) != 2)
            ::_exit(120);
        ::setenv("QUILLMARCH_DEFAULTS", QFile::encodeName(defaults).constData(), 1);
        ::setenv("QUILLMARCH_RESOURCES", QM_SOURCE_RESOURCES, 1);
        MadeFiles::SetMadeHook(hook);
        int argc = 1;
        char name[] = "quillmarch-batch";
        char* argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        const BatchOptions options = BatchOptions::parse(arguments);
        int status = 121;
        if (options.ok())
            status = BatchCommand(options, stdout, stderr).run();
        std::fflush(nullptr);
        ::_exit(status);
    }
    RunResult result;
    int raw = 0;
    if (pid < 0 || ::waitpid(pid, &raw, 0) != pid)
        return result;
    result.crashed = !WIFEXITED(raw);
    result.exitCode = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = QString::fromUtf8(ReadBytes(scratch + "/stdout"));
    result.err = QString::fromUtf8(ReadBytes(scratch + "/stderr"));
    return result;
}

// What the other user renames over a file of the batch's.
enum class Intruder { LinkToAFileElsewhere, FileOfTheirOwn };

// Renames the intruder over `path` (made beside it first).
void Replace(const std::string& path, Intruder intruder, const std::string& victim)
{
    const std::string beside = path + ".theirs";
    if (intruder == Intruder::LinkToAFileElsewhere) {
        if (::symlink(victim.c_str(), beside.c_str()) != 0)
            ::_exit(122);
    } else {
        const int fd = ::open(beside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, kTheirs.constData(), size_t(kTheirs.size())) != kTheirs.size() || ::close(fd) != 0)
            ::_exit(122);
    }
    if (::rename(beside.c_str(), path.c_str()) != 0)
        ::_exit(122);
}

// The intruder as it was put there: a link to the victim, or their file.
bool IsTheIntruder(const QFileInfo& item, Intruder intruder, const QString& victim)
{
    if (intruder == Intruder::LinkToAFileElsewhere)
        return item.isSymLink() && item.symLinkTarget() == victim;
    return !item.isSymLink() && item.isFile() && ReadBytes(item.filePath()) == kTheirs;
}

// A name of the temporary shape (a temporary's, or its sidecar's).
bool TemporaryName(const QString& name)
{
    static const QRegularExpression shape(QStringLiteral("^(\\._)?\\.QuillOutFile-[A-Za-z0-9]{6}"));
    return shape.match(name).hasMatch();
}

class TakenAtOnce : public BatchTest, public ::testing::WithParamInterface<Intruder> {};

TEST_P(TakenAtOnce, NothingOutsideIsWrittenAndNothingOfTheirsPublished)
{
    const Intruder intruder = GetParam();
    ASSERT_TRUE(MakeStereoTake(0.2));
    const QString out = root + "/out";
    const QString victim = root + "/home/notes.txt";
    ASSERT_TRUE(QDir().mkpath(root + "/home") && WriteBytes(victim, kPrecious));

    // Every writable type whose plain conversion writes this input.
    QList<QPair<int, QVariantMap>> conversions{{0, TypedConversion("Keep", "AIFF", 16, QByteArray())}};
    QStringList folders;
    for (const std::string& type : WritableTypes()) {
        const TypeRules rules(QString::fromStdString(type));
        if (!rules.HoldsRate(rules.ForcedRate() > 0 ? rules.ForcedRate() : rules.inputRate))
            continue;
        folders << "Taken " + QString::fromStdString(TypeParamName()(::testing::TestParamInfo<std::string>(type, 0)));
        conversions.append({0, PlainConversion(rules, folders.last())});
    }
    ASSERT_GE(folders.size(), 30);
    const QString list = WriteConversions(root + "/all.plist", conversions);

    // What is made in the folders "Taken ..." and the log in `out` are
    // taken the moment they are made.
    const std::string taken = (out + "/Taken ").toStdString();
    const std::string log = (out + "/QuillLog-").toStdString();
    const RunResult r = RunWithHook({"--quiet", "--set", "Save Log=YES", "--conversions", list, "-o", out,
                                     root + "/in/take.wav"},
                                    defaults, root, [&](const std::string& path) {
                                        if (path.rfind(taken, 0) == 0 || path.rfind(log, 0) == 0)
                                            Replace(path, intruder, victim.toStdString());
                                    });
    ASSERT_FALSE(r.crashed) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_EQ(ReadBytes(victim), kPrecious) << "a file outside the output folder was written";

    for (const QString& folder : folders) {
        const QString line = QStringLiteral("failed %1/in/take.wav (conversion '%2'): its output in '%3/%2' was replaced "
                                            "by another program while it was written (-22024)")
                                 .arg(root, folder, out);
        EXPECT_TRUE(r.err.contains(line)) << folder.toStdString() << "\n" << r.err.toStdString();
        // Only what the other user put there is left, as they left it.
        for (const QFileInfo& item : QDir(out + "/" + folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                                                 QDir::NoDotAndDotDot)) {
            EXPECT_TRUE(TemporaryName(item.fileName())) << "published: " << item.filePath().toStdString();
            EXPECT_TRUE(IsTheIntruder(item, intruder, victim)) << "left: " << item.filePath().toStdString();
        }
    }
    const QFileInfo kept(out + "/Keep/take.aif");
    EXPECT_TRUE(kept.isFile() && !kept.isSymLink()) << "the batch went on";
    EXPECT_TRUE(r.err.contains(QRegularExpression(
        "the log '" + QRegularExpression::escape(out) + "/QuillLog-[-0-9]+\\.qlg' was replaced by another program")))
        << r.err.toStdString();
    EXPECT_EQ(r.out, QString()) << "the name the other user took is no log of ours";
}

INSTANTIATE_TEST_SUITE_P(ByAnother, TakenAtOnce,
                         ::testing::Values(Intruder::LinkToAFileElsewhere, Intruder::FileOfTheirOwn),
                         [](const ::testing::TestParamInfo<Intruder>& info) {
                             return std::string(info.param == Intruder::LinkToAFileElsewhere ? "Link" : "File");
                         });

// The other user's side of the race, in a child process that has become
// that user: renames a link to `victim` over every name of the temporary
// shape it sees in `folders` until `stop` exists, and writes how many it
// renamed into `count`.  (System calls only: it runs beside nothing else
// of the test's.)
pid_t StartRacer(const std::vector<std::string>& folders, const std::string& victim, const std::string& stop,
                 const std::string& count)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const pid_t parent = ::getppid();
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
        ::setresuid(kNobody, kNobody, kNobody) != 0)
        ::_exit(123);
    // It ends with the test, however the test ends, and after two minutes.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
        ::_exit(125);
    const std::time_t deadline = std::time(nullptr) + 120;
    long taken = 0;
    char entries[8192];
    char beside[PATH_MAX];
    while (::access(stop.c_str(), F_OK) != 0 && std::time(nullptr) < deadline) {
        for (const std::string& folder : folders) {
            const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dir < 0)
                continue;
            for (long got; (got = ::syscall(SYS_getdents64, dir, entries, sizeof entries)) > 0;) {
                for (long at = 0; at < got;) {
                    const auto* entry = reinterpret_cast<const struct dirent64*>(entries + at);
                    at += entry->d_reclen;
                    const char* name = entry->d_name;
                    const char* word = std::strncmp(name, "._", 2) == 0 ? name + 2 : name;
                    const std::size_t length = std::strlen(name);
                    if (std::strncmp(word, ".QuillOutFile-", 14) != 0 ||
                        (length > 7 && std::strcmp(name + length - 7, ".theirs") == 0) ||
                        std::snprintf(beside, sizeof beside, "%s.theirs", name) >= int(sizeof beside))
                        continue;
                    if (::symlinkat(victim.c_str(), dir, beside) == 0 && ::renameat(dir, beside, dir, name) == 0)
                        ++taken;
                    else
                        ::unlinkat(dir, beside, 0);
                }
            }
            ::close(dir);
        }
    }
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%ld", taken);
    const int fd = ::open(count.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::_exit(fd >= 0 && ::write(fd, text, size_t(n)) == n ? 0 : 124);
}

class RacedForReal : public BatchTest {};

TEST_F(RacedForReal, AsASecondUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the other user's side as a second user";
    const QString out = root + "/out", flags = root + "/flags", victim = root + "/home/notes.txt";
    ASSERT_TRUE(QDir().mkpath(root + "/in") && QDir().mkpath(root + "/home") && QDir().mkpath(flags));
    ASSERT_TRUE(WriteBytes(victim, kPrecious));
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "2", "-b", "16", root + "/in/f00.wav", "synth", "0.05", "sine", "440"}));
    constexpr int kInputs = 24;
    QStringList inputs{root + "/in/f00.wav"};
    for (int i = 1; i < kInputs; ++i) {
        inputs << root + QString::asprintf("/in/f%02d.wav", i);
        ASSERT_TRUE(QFile::copy(inputs.first(), inputs.last()));
    }

    // A conversion folder of the user's own that others may write, one per
    // conversion (the MP3 one through the encoder, where it is installed).
    QList<QPair<int, QVariantMap>> conversions{{0, TypedConversion("AIFF", "AIFF", 16, QByteArray())},
                                               {0, TypedConversion("WAVE", "WAVE", 24, QByteArray())},
                                               {0, TypedConversion("Movie", "QTIF", 16, QByteArray())}};
    if (!QStandardPaths::findExecutable("lame").isEmpty())
        conversions.append({0, TypedConversion("MP3", "DMP3", 128, QByteArray())});
    QStringList folders;
    for (const auto& [index, conversion] : conversions) {
        folders << out + "/" + conversion.value("QMCSName").toString();
        ASSERT_TRUE(QDir().mkpath(folders.last()));
        ASSERT_EQ(::chmod(QFile::encodeName(folders.last()).constData(), 0777), 0);
    }
    for (const QString& folder : {root, out, root + "/home"})
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(flags).constData(), 0777), 0);
    const QString list = WriteConversions(root + "/race.plist", conversions);

    std::vector<std::string> racedFolders;
    for (const QString& folder : folders)
        racedFolders.push_back(folder.toStdString());
    const pid_t racer = StartRacer(racedFolders, victim.toStdString(), (flags + "/stop").toStdString(),
                                   (flags + "/count").toStdString());
    ASSERT_GT(racer, 0);
    const RunResult r = Run(QStringList{"--quiet", "--conversions", list, "-o", out} + inputs);
    ASSERT_TRUE(WriteBytes(flags + "/stop", QByteArray()));
    int raw = 0;
    ASSERT_EQ(::waitpid(racer, &raw, 0), racer);
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;
    std::cout << "the other user renamed " << ReadBytes(flags + "/count").toStdString()
              << " links over the batch's files\n";

    ASSERT_FALSE(r.crashed) << r.err.toStdString();
    EXPECT_EQ(ReadBytes(victim), kPrecious) << "a file outside the output folder was written";
    int published = 0;
    for (const QString& folder : folders) {
        for (const QFileInfo& item : QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                                 QDir::NoDotAndDotDot)) {
            if (TemporaryName(item.fileName()))
                continue;  // the other user's, left alone
            ++published;
            EXPECT_TRUE(item.isFile() && !item.isSymLink() && item.ownerId() == 0 && item.size() > 0)
                << "published: " << item.filePath().toStdString();
        }
    }
    const QStringList failed = r.err.split('\n').filter(QRegularExpression("^failed "));
    for (const QString& line : failed)
        EXPECT_TRUE(line.contains("was replaced by another program while it was written"))
            << line.toStdString() << "\n" << r.err.toStdString();
    EXPECT_EQ(published + failed.size(), kInputs * conversions.size()) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, failed.isEmpty() ? 0 : 1) << r.err.toStdString();
}

}  // namespace
