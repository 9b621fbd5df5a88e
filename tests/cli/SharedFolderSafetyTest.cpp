// What a batch does in folders other people share, on full disks and with
// inputs that never come.
//
// Records forged into a shared output folder (mode 1777) by another user
// ("nobody"), or the running user's own records that prove nothing, never
// make a batch remove anything: not the user's files in the folder, not
// what a link in it leads to.  Each such record is left alone and said
// once, on standard error and in the log.
//
// An MP3 or MPEG Layer II output is kept only whole, however little room
// the disk has left as the encoder ends: its bytes are the same as with room
// to spare, or it fails with "Disk full" and nothing of it stays.
//
// A conversions file that is a named pipe nobody writes to is waited for
// until Ctrl-C or SIGTERM ends the wait, as before any batch.
//
// An input named like a temporary converts like any other, also into the
// folder of its regions.
//
// Names that are not UTF-8 fail, shown with their bytes escaped as `ls -b`
// shows them, so that two of them can be told apart.
//
// A batch that cannot keep its record of temporaries in the output folder
// says so at its start.
#include "CliTestSupport.h"
#include "LoopImage.h"
#include "RecordForging.h"
#include "TestTempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace clitest;

namespace {

constexpr uid_t kNobody = 65534;

QVariantMap KeepAiff()
{
    return {{"QMCSName", "Keep"},
            {"QMCSOutputFileType", qlonglong(qFromBigEndian<quint32>(reinterpret_cast<const uchar*>("AIFF")))},
            {"QMCSNeedsSampleRateConversion", false},
            {"QMCSNeedsNewWordLength", false},
            {"QMCSNeedsRedither", false},
            {"QMCSNeedsChannelTreat", false}};
}

using recordforging::Field;

QByteArray Number(unsigned long long n)
{
    return Field(QByteArray::number(n));
}

struct stat Status(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st;
}

using recordforging::Proof;

QByteArray Made(const QString& relative, const QString& path, bool folder = false)
{
    return recordforging::MadeEntry(relative, path, folder);
}

QByteArray Pending(const QString& relative, bool folder = false)
{
    return recordforging::PendingEntry(relative, folder);
}

// Waits until an item made now is born later than `path` (the file
// system's clock has moved on), so that what follows is provably younger.
void AfterBirthOf(const QString& path)
{
    auto born = [](const QString& p) {
        struct statx sx {};
        EXPECT_EQ(::statx(AT_FDCWD, QFile::encodeName(p).constData(), AT_SYMLINK_NOFOLLOW,
                          STATX_BTIME | STATX_CTIME, &sx),
                  0);
        const statx_timestamp& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
        return std::make_pair(t.tv_sec, t.tv_nsec);
    };
    const auto seen = born(path);
    const QString probe = path + ".probe";
    for (;;) {
        ASSERT_TRUE(WriteBytes(probe, QByteArray()));
        const auto now = born(probe);
        QFile::remove(probe);
        if (now > seen)
            return;
    }
}

// One forged or unprovable record.
struct Forgery {
    const char* name;
    bool ledgerOwnedByNobody;
    mode_t ledgerMode;
    enum Start { Zero, Before, Now } start;
    bool pending;                 // entries about to be made, else with the victims' identities
    bool victimsFirst;            // the victims are older than the ledger
    bool nobodysPublication;      // the ledger (the user's own) names a publication record of nobody's
    bool ledgerSaid;              // the ledger is said to prove nothing
    enum Twist {
        None,
        PlainNames,     // the victims' names are not of the temporary shape
        HeldByAnother,  // someone else holds the ledger's lock
        Empty,          // the ledger holds nothing (and goes)
    } twist = None;
};

void PrintTo(const Forgery& f, std::ostream* os)
{
    *os << f.name;
}

class ForgedRecords : public BatchTest, public ::testing::WithParamInterface<Forgery> {};

TEST_P(ForgedRecords, RemoveNothingAndAreSaidOnce)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to give files to another user";
    const Forgery f = GetParam();
    const QString shared = root + "/shared";
    const QString home = root + "/home";
    ASSERT_TRUE(QDir().mkpath(shared) && QDir().mkpath(home) && QDir().mkpath(root + "/in"));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    ASSERT_TRUE(Sox({"-n", "-r", "8000", "-c", "1", "-b", "16", root + "/in/take.wav", "synth", "0.1", "sine", "440"}));

    // The user's files, named like the program's temporaries (a name proves
    // nothing) unless the ledger is to name others.
    const bool plain = f.twist == Forgery::PlainNames;
    const QString notes = plain ? "victim-notes.txt" : ".QuillOutFile-Notes1.txt";
    const QString dir = plain ? "victim-dir" : ".QuillOutFile-Dir001";
    const QString precious = plain ? "precious.txt" : ".QuillOutFile-Prec01.txt";
    const QString docs = plain ? "Docs" : ".QuillOutFile-Docs01";
    const QString ledger = shared + "/.QuillOutFile-Forged.run";
    const QString publication = shared + "/.QuillOutFile-Public.publish";
    QMap<QString, QByteArray> victims{{shared + "/" + notes, "notes"},
                                      {shared + "/" + dir + "/inner.txt", "inner"},
                                      {home + "/" + precious, "precious"},
                                      {home + "/" + docs + "/letter.txt", "letter"}};
    auto makeVictims = [&] {
        ASSERT_TRUE(QDir().mkpath(shared + "/" + dir) && QDir().mkpath(home + "/" + docs));
        for (auto v = victims.cbegin(); v != victims.cend(); ++v)
            ASSERT_TRUE(WriteBytes(v.key(), v.value()));
    };
    if (f.victimsFirst) {
        makeVictims();
        AfterBirthOf(home + "/" + docs + "/letter.txt");
    }
    // The ledger's start: its own birth as the program states it, or a
    // clock's second.
    const QString marker = root + "/begun";
    ASSERT_TRUE(WriteBytes(marker, QByteArray()));
    const QByteArray now = recordforging::StartOf(marker);
    if (!f.victimsFirst) {
        AfterBirthOf(marker);
        makeVictims();
    }
    ASSERT_EQ(::symlink(QFile::encodeName(home).constData(), QFile::encodeName(shared + "/lnk").constData()), 0);
    ASSERT_EQ(::lchown(QFile::encodeName(shared + "/lnk").constData(), kNobody, kNobody), 0);

    // What the ledger claims: the victims in the folder and behind the link.
    QList<QByteArray> entries;
    const QList<std::pair<QString, QString>> claims{{notes, shared + "/" + notes},
                                                    {dir, shared + "/" + dir},
                                                    {"lnk/" + precious, home + "/" + precious},
                                                    {"lnk/" + docs, home + "/" + docs}};
    for (const auto& [relative, path] : claims) {
        // Beside a publication record, only what a link leads to.
        if (f.nobodysPublication && !relative.startsWith("lnk/"))
            continue;
        const bool folder = !relative.endsWith(".txt");
        entries << (f.pending ? Pending(relative, folder) : Made(relative, path, folder));
    }
    if (f.nobodysPublication) {
        // Moved already (its temporary name is free): the victim at its final name.
        const QByteArray record = Field("QMPUBLISH2") + Field(".QuillOutFile-Victim.txt") + Field(notes.toUtf8()) +
                                  Number(Status(shared + "/" + notes).st_dev) +
                                  Number(Status(shared + "/" + notes).st_ino) + Field(Proof(shared + "/" + notes)) +
                                  Field("END");
        ASSERT_TRUE(WriteBytes(publication, record));
        ASSERT_EQ(::chown(QFile::encodeName(publication).constData(), kNobody, kNobody), 0);
        entries << Made(".QuillOutFile-Public.publish", publication);
    }
    const long long clock = static_cast<long long>(std::time(nullptr));
    const QByteArray start = f.start == Forgery::Zero     ? QByteArray("t0")
                             : f.start == Forgery::Before ? "t" + QByteArray::number(clock - 3600)
                                                          : now;
    if (f.twist != Forgery::Empty)
        ASSERT_TRUE(recordforging::WriteLedger(ledger, start, entries));
    else
        ASSERT_TRUE(recordforging::WriteOnce(ledger, [](quint64, quint64) { return QByteArray(); }));
    if (f.ledgerOwnedByNobody) {
        ASSERT_EQ(::chown(QFile::encodeName(ledger).constData(), kNobody, kNobody), 0);
    }
    if (f.ledgerMode != 0600) {
        ASSERT_EQ(::chmod(QFile::encodeName(ledger).constData(), f.ledgerMode), 0);
    }
    const QByteArray text = ReadBytes(ledger);
    const int held = f.twist == Forgery::HeldByAnother ? ::open(QFile::encodeName(ledger).constData(), O_RDONLY) : -1;
    if (f.twist == Forgery::HeldByAnother) {
        ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    }

    const QString conversions = WriteConversions(root + "/keep.plist", {{0, KeepAiff()}});
    for (int run = 0; run < 2; ++run) {
        const RunResult r = Run({"--quiet", "--set", "Save Log=YES", "--conversions", conversions, "-o", shared,
                                 root + "/in/take.wav"});
        EXPECT_EQ(r.exitCode, run == 0 ? 0 : 1) << r.err.toStdString();  // then the output's name is taken
        for (auto v = victims.cbegin(); v != victims.cend(); ++v)
            EXPECT_EQ(ReadBytes(v.key()), v.value()) << v.key().toStdString() << " (run " << run << ")";
        const QString said = f.ledgerSaid ? ledger : f.nobodysPublication ? publication : QString();
        const QString note = "note: the record '" + said + "' is left alone";
        if (said.isEmpty() || (run == 1 && !f.ledgerSaid)) {
            EXPECT_FALSE(r.err.contains("note:")) << r.err.toStdString();
            continue;
        }
        EXPECT_EQ(r.err.count(note), 1) << r.err.toStdString();
        EXPECT_EQ(ReadText(LogPathFromOutput(r.out)).count("Note: the record '" + said + "' is left alone"), 1);
    }
    if (held >= 0)
        ::close(held);
    const QString key = ledger.left(ledger.size() - 4) + ".key";
    if (f.ledgerSaid) {
        EXPECT_EQ(ReadBytes(ledger), text) << "an untrusted ledger stays as it was";
    } else {
        EXPECT_FALSE(QFileInfo::exists(ledger)) << "a ledger that proves what it names goes";
        EXPECT_FALSE(QFileInfo::exists(key)) << "and so does its key";
    }
    EXPECT_TRUE(QFileInfo(shared + "/lnk").isSymLink());
}

INSTANTIATE_TEST_SUITE_P(
    InASharedFolder, ForgedRecords,
    ::testing::Values(
        Forgery{"NobodysLedger", true, 0644, Forgery::Before, false, false, false, true},
        Forgery{"NobodysLedgerStartingAtZero", true, 0644, Forgery::Zero, true, true, false, true},
        Forgery{"NobodysLedgerMadeBeforeItsVictims", true, 0600, Forgery::Before, true, false, false, true},
        Forgery{"NobodysLedgerHeldLocked", true, 0600, Forgery::Now, true, false, false, true, Forgery::HeldByAnother},
        Forgery{"OwnLedgerOthersMayWrite", false, 0666, Forgery::Before, false, false, false, true},
        Forgery{"OwnLedgerStartingAtZero", false, 0600, Forgery::Zero, true, true, false, true},
        Forgery{"OwnLedgerNamingOlderItems", false, 0600, Forgery::Now, false, true, false, false},
        Forgery{"OwnLedgerNamingOtherNames", false, 0600, Forgery::Now, true, false, false, true, Forgery::PlainNames},
        Forgery{"OwnLedgerNamingNobodysPublication", false, 0600, Forgery::Now, false, false, true, false},
        Forgery{"OwnEmptyLedger", false, 0600, Forgery::Now, true, false, false, false, Forgery::Empty}),
    [](const ::testing::TestParamInfo<Forgery>& info) { return std::string(info.param.name); });

// A ledger a killed batch left in a shared folder, the user's own, which
// the user once opened to everyone's writing: another user ("nobody")
// opened it then and kept the descriptor, and once it was private again,
// wrote entries into it naming the user's newer files as about to be made.
// It proves nothing -- the entries added bear no seal of its key, and name
// what the program never names -- also on ext2, which keeps no birth
// times: it is said, and nothing of the user's goes.
class ReopenedLedger : public BatchTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ReopenedLedger, ProvesNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to act as another user";
    std::unique_ptr<LoopImage> image;
    QString base = root;
    if (*GetParam()) {
        image = std::make_unique<LoopImage>(GetParam(), (root + "/fs").toStdString());
        if (!image->ok())
            GTEST_SKIP() << image->why();
        base = QString::fromStdString(image->path());
    }
    const QString shared = base + "/shared";
    ASSERT_TRUE(QDir().mkpath(shared) && QDir().mkpath(root + "/in"));
    for (const QString& folder : {root, base})
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    ASSERT_TRUE(Sox({"-n", "-r", "8000", "-c", "1", "-b", "16", root + "/in/take.wav", "synth", "0.1", "sine", "440"}));

    // A batch killed while its encoder runs leaves its ledger.
    HeldEncoder encoder(root + "/bin");
    ASSERT_TRUE(encoder.ok());
    const QString mp3 = WriteConversions(root + "/mp3.plist", {{0, HeldEncoder::Conversion("MP3")}});
    QProcess held;
    const qint64 encoding = encoder.start(&held, defaults, {"--quiet", "--conversions", mp3, "-o", shared, root + "/in/take.wav"});
    ASSERT_GT(encoding, 0);
    ::kill(pid_t(held.processId()), SIGKILL);
    ::kill(pid_t(encoding), SIGKILL);
    ASSERT_TRUE(held.waitForFinished(30000));
    const QStringList ledgers =
        QDir(shared).entryList({".QuillOutFile-*.run"}, QDir::Files | QDir::Hidden | QDir::System);
    ASSERT_EQ(ledgers.size(), 1) << ledgers.join(' ').toStdString();
    const QString ledger = shared + "/" + ledgers[0];

    // Open to all a moment; "nobody" opens it then to write, and waits.
    const bool births = !Proof(ledger).isEmpty() && Proof(ledger).startsWith('b');
    const QStringList names = births ? QStringList{"notes.txt", "MP3/.QuillOutFile-Take01.aif"} : QStringList{"notes.txt"};
    QByteArray entries;  // (each with a seal made up: the key is not to be had)
    for (const QString& name : names)
        entries += "f\\000" + name.toUtf8() + "\\000" + QByteArray(32, '0') + "\\000";
    ASSERT_EQ(::chmod(QFile::encodeName(ledger).constData(), 0666), 0);
    QProcess nobody;
    nobody.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c",
                             "exec 3>>\"$0\" && echo open && read go && printf \"$1\" >&3", ledger,
                             QString::fromUtf8(entries)});
    ASSERT_TRUE(nobody.waitForReadyRead(30000));
    ASSERT_EQ(nobody.readAllStandardOutput(), "open\n") << nobody.readAllStandardError().toStdString();
    ASSERT_EQ(::chmod(QFile::encodeName(ledger).constData(), 0600), 0);
    // The user's files made since; then the kept descriptor writes.
    for (const QString& name : names)
        ASSERT_TRUE(WriteBytes(shared + "/" + name, "the user's " + name.toUtf8()));
    nobody.write("go\n");
    nobody.closeWriteChannel();
    ASSERT_TRUE(nobody.waitForFinished(30000));
    ASSERT_EQ(nobody.exitCode(), 0) << nobody.readAllStandardError().toStdString();

    const QString conversions = WriteConversions(root + "/keep.plist", {{0, KeepAiff()}});
    const RunResult r = Run({"--quiet", "--conversions", conversions, "-o", shared, root + "/in/take.wav"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    for (const QString& name : names)
        EXPECT_EQ(ReadBytes(shared + "/" + name), "the user's " + name.toUtf8()) << name.toStdString();
    EXPECT_EQ(r.err.count("note: the record '" + ledger + "' is left alone"), 1) << r.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(FileSystems, ReopenedLedger, ::testing::Values("", "ext2"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(*info.param ? info.param : "TestFolder");
                         });

// "Easy Thru" uses a conversion's folder that exists -- but never one that
// another user put there as a link (nor a folder of theirs, which they
// could swap for a link at any moment), and never a link another user put
// where a walked folder is mirrored: nothing goes where such a link leads,
// and the user is told why.
struct PlacedByAnother {
    const char* name;
    const char* where;  // below the output folder
    bool link;          // else a folder of theirs
};

void PrintTo(const PlacedByAnother& p, std::ostream* os)
{
    *os << p.name;
}

class FoldersPlacedByAnother : public BatchTest, public ::testing::WithParamInterface<PlacedByAnother> {};

TEST_P(FoldersPlacedByAnother, TakeNoOutput)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to give files to another user";
    const PlacedByAnother p = GetParam();
    const QString shared = root + "/shared";
    const QString elsewhere = root + "/elsewhere";
    ASSERT_TRUE(QDir().mkpath(shared) && QDir().mkpath(elsewhere) && QDir().mkpath(root + "/in/tree"));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    ASSERT_EQ(::chown(QFile::encodeName(elsewhere).constData(), kNobody, kNobody), 0);
    ASSERT_TRUE(Sox({"-n", "-r", "8000", "-c", "1", "-b", "16", root + "/in/tree/take.wav", "synth", "0.1", "sine", "440"}));
    const QString placed = shared + "/" + p.where;
    if (QString(p.where).contains('/')) {
        // The user's own conversion folder, which the user lets anyone write into.
        ASSERT_TRUE(QDir().mkpath(shared + "/Keep"));
        ASSERT_EQ(::chmod(QFile::encodeName(shared + "/Keep").constData(), 0777), 0);
    }
    if (p.link) {
        ASSERT_EQ(::symlink(QFile::encodeName(elsewhere).constData(), QFile::encodeName(placed).constData()), 0);
        ASSERT_EQ(::lchown(QFile::encodeName(placed).constData(), kNobody, kNobody), 0);
    } else {
        ASSERT_TRUE(QDir().mkpath(placed));
        ASSERT_EQ(::chown(QFile::encodeName(placed).constData(), kNobody, kNobody), 0);
    }

    const QString conversions = WriteConversions(root + "/keep.plist", {{0, KeepAiff()}});
    const RunResult r =
        Run({"--quiet", "--set", "Easy Thru=YES", "--conversions", conversions, "-o", shared, root + "/in/tree"});
    EXPECT_EQ(FilesUnder(elsewhere), QStringList());
    EXPECT_EQ(FilesUnder(placed), QStringList());
    const QString why = p.link ? "it is a link to '" + elsewhere + "', and no output is made through a link"
                               : QString("it belongs to another user, who could put a link in its place");
    if (QString(p.where).contains('/')) {
        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("failed " + root + "/in/tree/take.wav: no output can be made in '" + placed +
                                   "': " + why + " (-120)"))
            << r.err.toStdString();
    } else {
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("No output file can be made in the output folder '" + placed +
                                   "' of the conversion 'Keep': " + why + "."))
            << r.err.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(InASharedFolder, FoldersPlacedByAnother,
                         ::testing::Values(PlacedByAnother{"ConversionFolderIsALink", "Keep", true},
                                           PlacedByAnother{"ConversionFolderIsTheirs", "Keep", false},
                                           PlacedByAnother{"MirroredFolderIsALink", "Keep/tree", true}),
                         [](const ::testing::TestParamInfo<PlacedByAnother>& info) {
                             return std::string(info.param.name);
                         });

// The conversion folder is a small file system (tmpfs, in a mount
// namespace of the test's own) of which a filler leaves `room` pages free,
// swept a page at a time across the room the intermediate and the output
// need together (and, for the MPEG Layer II writer, the first pages, where
// its intermediate is being made).  The output is whole (the same bytes as
// with room to spare) or the input fails with "Disk full (-34)"; either way
// nothing else of ours stays, also once the filler is gone and the next
// batch has run.
struct Filling {
    const char* label;
    QVariantMap conversion;
    const char* extension;
    int below;       // rooms swept below what the intermediate and the output need
    int firstPages;  // rooms from 0 swept too
    int seconds;     // of the input
};

class OnAFillingDisk : public BatchTest, public ::testing::WithParamInterface<Filling> {};

TEST_P(OnAFillingDisk, IsWholeOrFailsAsDiskFull)
{
    const Filling& filling = GetParam();
    if (!RunPeer("unshare", {"-rm", "true"}))
        GTEST_SKIP() << "no mount namespace of our own here";
    if (QStandardPaths::findExecutable("lame").isEmpty())
        GTEST_SKIP() << "no lame";
    ASSERT_TRUE(QDir().mkpath(root + "/mix"));
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "2", "-b", "16", root + "/mix/a.wav", "synth",
                     QString::number(filling.seconds), "sine", "440", "sine", "660"}));
    const QString conversions = WriteConversions(root + "/full.plist", {{0, filling.conversion}});
    const QStringList batch{QM_BATCH_EXE, "--quiet", "--set", "Easy Thru=YES", "--conversions", conversions};
    const QString output = QString("a.") + filling.extension;

    // With room to spare: the output every run must give.
    RunResult r = Run(batch.mid(1) + QStringList{"-o", root + "/ref", root + "/mix/a.wav"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray reference = ReadBytes(root + "/ref/Full/" + output);
    ASSERT_FALSE(reference.isEmpty());
    auto pages = [](qint64 bytes) { return (bytes + 4095) / 4096; };
    const qint64 needed = pages(QFileInfo(root + "/mix/a.wav").size()) + pages(reference.size());
    QList<qint64> rooms;
    for (qint64 room = 0; room < filling.firstPages; ++room)
        rooms << room;
    for (qint64 room = needed - filling.below; room <= needed + 2; ++room)
        rooms << room;

    int whole = 0, full = 0;
    for (const qint64 room : rooms) {
        const QString out = root + "/out" + QString::number(room);
        const QString folder = out + "/Full";
        ASSERT_TRUE(QDir().mkpath(folder));
        QProcess process;
        process.setProcessEnvironment(BatchEnvironment(defaults));
        process.start("unshare",
                      QStringList{"-rm", "sh", "-c",
                                  "mount -t tmpfs -o size=2m tmpfs \"$1\" || exit 90; mnt=$1; room=$2; shift 2; "
                                  "head -c $(( ($(stat -f -c %a \"$mnt\") - room) * 4096 )) /dev/zero > \"$mnt/fill\"; "
                                  "\"$@\"; rc=$?; cp -p \"$mnt\"/a.* \"$mnt/..\" 2>/dev/null; "
                                  "ls -A \"$mnt\" > \"$mnt/../listing\"; rm \"$mnt/fill\"; [ $rc -eq 0 ] || "
                                  "\"$@\" > /dev/null 2>&1; ls -A \"$mnt\" > \"$mnt/../later\"; exit $rc",
                                  "sh", folder, QString::number(room)} +
                          batch + QStringList{"-o", out, root + "/mix/a.wav"});
        ASSERT_TRUE(process.waitForFinished(60000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        const std::string left = ReadText(out + "/listing").split('\n', Qt::SkipEmptyParts).join(' ').toStdString();
        if (process.exitCode() == 0) {
            ++whole;
            EXPECT_TRUE(ReadBytes(out + "/" + output) == reference) << room << " pages free: a cut file was published";
            EXPECT_EQ(left, (output + " fill").toStdString()) << room;
        } else {
            ++full;
            EXPECT_EQ(process.exitCode(), 2) << room << ": " << err.toStdString();
            EXPECT_EQ(err.toStdString(), ("failed " + root + "/mix/a.wav: Disk full (-34)\n"
                                          "0 converted, 1 failed, 0 skipped, 0 warnings, stopped\n").toStdString())
                << room;
            EXPECT_EQ(left, "fill") << room << ": nothing of ours stays";
        }
        EXPECT_EQ(ReadText(out + "/later").trimmed().toStdString(), output.toStdString())
            << room << ": nothing of ours stays after the next batch";
    }
    EXPECT_GT(whole, 0);
    EXPECT_GT(full, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Writers, OnAFillingDisk,
    ::testing::Values(Filling{"MP3", HeldEncoder::Conversion("Full"), "mp3", 16, 0, 3},
                      Filling{"MP2", TypedConversion("Full", "MPG2", 192, QByteArray()), "mp2", 8, 3, 1}),
    [](const ::testing::TestParamInfo<Filling>& info) { return std::string(info.param.label); });

// The batch waits on a named pipe that the test holds still (nobody opens
// its other end, or the test holds it open and writes nothing); once the
// batch provably has it open, the signal is sent.
struct PipeWait {
    int signal;
    bool writerHeld;
};

class ConversionsFromAPipe : public BatchTest, public ::testing::WithParamInterface<PipeWait> {};

TEST_P(ConversionsFromAPipe, AreWaitedForUntilASignal)
{
    const QString fifo = root + "/conversions.fifo";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    int writer = -1;
    if (GetParam().writerHeld)  // (non-blocking: the reading end is not open yet)
        ASSERT_GE(writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_CLOEXEC), 0);
    ASSERT_TRUE(Sox({"-n", "-r", "8000", "-c", "1", "-b", "16", root + "/s.wav", "synth", "0.1", "sine", "440"}));
    QProcess batch;
    batch.setProcessEnvironment(BatchEnvironment(defaults));
    batch.start(QM_BATCH_EXE, {"--conversions", fifo, "-o", root + "/out", root + "/s.wav"});
    ASSERT_TRUE(batch.waitForStarted());
    const QString fds = QStringLiteral("/proc/%1/fd").arg(batch.processId());
    auto holdsPipe = [&] {
        for (const QFileInfo& fd : QDir(fds).entryInfoList(QDir::System | QDir::NoDotAndDotDot))
            if (fd.symLinkTarget() == fifo)
                return true;
        return false;
    };
    for (QElapsedTimer t; !t.isValid() || t.elapsed() < 30000;) {
        if (!t.isValid())
            t.start();
        if (holdsPipe())
            break;
        batch.waitForFinished(10);
    }
    ASSERT_TRUE(holdsPipe()) << "the batch never opened the pipe";
    ::kill(pid_t(batch.processId()), GetParam().signal);
    ASSERT_TRUE(batch.waitForFinished(10000)) << "a signal did not end the wait";
    EXPECT_EQ(batch.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(batch.exitCode(), 2);
    EXPECT_EQ(QString::fromUtf8(batch.readAllStandardError()), "quillmarch-batch: cancelled before the batch started\n");
    EXPECT_FALSE(QFileInfo::exists(root + "/out"));
    if (writer >= 0)
        ::close(writer);

    // A pipe the shell gives, with its writer, is read to its end.
    const QString conversions = WriteConversions(root + "/keep.plist", {{0, KeepAiff()}});
    QProcess shell;
    shell.setProcessEnvironment(BatchEnvironment(defaults));
    shell.start("bash", {"-c", "exec \"$0\" --quiet --conversions <(cat \"$1\") -o \"$2\" \"$3\"", QM_BATCH_EXE,
                         conversions, root + "/out", root + "/s.wav"});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    EXPECT_TRUE(QFileInfo::exists(root + "/out/Keep/s.aif"));
}

INSTANTIATE_TEST_SUITE_P(Signals, ConversionsFromAPipe,
                         ::testing::Values(PipeWait{SIGTERM, false}, PipeWait{SIGINT, true}),
                         [](const ::testing::TestParamInfo<PipeWait>& info) {
                             return std::string(info.param.signal == SIGTERM ? "TermWithoutWriter" : "IntWithWriter");
                         });

// A mono 16-bit WAVE of 8000 frames with one region ("Verse", frames 100
// to 4100: a cue point, its 'ltxt' length and its label), byte by byte.
QByteArray WaveWithRegion()
{
    auto le = [](quint64 v, int bytes) {
        QByteArray b;
        for (int i = 0; i < bytes; ++i)
            b.append(char(v >> (8 * i)));
        return b;
    };
    auto chunk = [&](const char* id, QByteArray body) {
        const quint32 size = quint32(body.size());
        if (body.size() % 2)
            body.append('\0');
        return QByteArray(id, 4) + le(size, 4) + body;
    };
    QByteArray samples;
    for (int i = 0; i < 8000; ++i)
        samples += le(quint32(qint16(8000 * ((i / 20) % 2 ? 1 : -1))) & 0xFFFF, 2);
    const QByteArray fmt = le(1, 2) + le(1, 2) + le(8000, 4) + le(16000, 4) + le(2, 2) + le(16, 2);
    const QByteArray cue = le(1, 4) + le(1, 4) + le(100, 4) + "data" + le(0, 4) + le(0, 4) + le(100, 4);
    const QByteArray ltxt = le(1, 4) + le(4000, 4) + "rgn " + le(0, 8);
    const QByteArray adtl = "adtl" + chunk("ltxt", ltxt) + chunk("labl", le(1, 4) + QByteArray("Verse", 6));
    const QByteArray body =
        "WAVE" + chunk("fmt ", fmt) + chunk("data", samples) + chunk("cue ", cue) + chunk("LIST", adtl);
    return "RIFF" + le(quint32(body.size()), 4) + body;
}

class InputNamedLikeATemporary : public BatchTest {};

TEST_F(InputNamedLikeATemporary, ConvertsLikeAnyOther)
{
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    const QString input = root + "/in/.QuillOutFile-Take01.wav";
    ASSERT_TRUE(WriteBytes(input, WaveWithRegion()));
    QVariantMap regions = KeepAiff();
    regions.insert("QMCSName", "Regions");
    regions.insert("QMCSNeedsExtraction", true);
    const QString conversions = WriteConversions(root + "/c.plist", {{0, KeepAiff()}, {0, regions}});
    const RunResult r = Run({"--quiet", "--conversions", conversions, "-o", root + "/out", input});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(FilesUnder(root + "/out", true).filter(QRegularExpression("\\.aif$")),
              QStringList({"Keep/.QuillOutFile-Take01.aif", "Regions/.QuillOutFile-Take01/Verse.aif"}));
    QByteArray length;
    EXPECT_TRUE(RunPeer("soxi", {"-s", root + "/out/Regions/.QuillOutFile-Take01/Verse.aif"}, &length));
    EXPECT_EQ(length.trimmed(), "4000");
}

class NamesNotUTF8 : public BatchTest {};

TEST_F(NamesNotUTF8, ShowTheirBytesEscaped)
{
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    const QByteArray in = QFile::encodeName(root + "/in/");
    QByteArray lsb;
    for (const char* name : {"caf\xe9.wav", "caf\xe8.wav"}) {
        const int fd = ::open((in + name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    ASSERT_TRUE(RunPeer("ls", {"-b", root + "/in"}, &lsb));
    const QStringList shown = QString::fromUtf8(lsb).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(shown, QStringList({"caf\\350.wav", "caf\\351.wav"}));
    // The folder, and one of them named on the command line.
    const QString conversions = WriteConversions(root + "/keep.plist", {{0, KeepAiff()}});
    QProcess batch;
    batch.setProcessEnvironment(BatchEnvironment(defaults));
    batch.start(QM_BATCH_EXE, QStringList{"--quiet", "--set", "Save Log=YES", "--conversions", conversions, "-o",
                                          root + "/out", root + "/in"});
    ASSERT_TRUE(batch.waitForFinished(60000));
    QString err = QString::fromUtf8(batch.readAllStandardError());
    QString log = ReadText(LogPathFromOutput(QString::fromUtf8(batch.readAllStandardOutput())));
    for (const QString& name : shown) {
        EXPECT_TRUE(err.contains("failed " + root + "/in/" + name + ": has a file name that is not valid UTF-8"))
            << err.toStdString();
        EXPECT_TRUE(log.contains("*" + name + " ")) << log.toStdString();
    }
    QProcess named;
    named.setProcessEnvironment(BatchEnvironment(defaults));
    named.start("sh", {"-c", "exec \"$0\" --quiet --conversions \"$1\" -o \"$2\" \"$3\"caf$(printf '\\351').wav",
                       QM_BATCH_EXE, conversions, root + "/out2", root + "/in/"});
    ASSERT_TRUE(named.waitForFinished(60000));
    err = QString::fromUtf8(named.readAllStandardError());
    EXPECT_EQ(named.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("failed " + root + "/in/caf\\351.wav: has a file name that is not valid UTF-8"))
        << err.toStdString();
}

// The output folder cannot be written, its conversion's folder can: the
// outputs are made, the record is not (run as "nobody" when the tests run
// as root, for whom every folder can be written).
class RecordCannotBeMade : public BatchTest {};

TEST_F(RecordCannotBeMade, IsSaidAtTheStart)
{
    const QString out = root + "/out";
    const QString own = root + "/own";  // the run's preferences and log
    ASSERT_TRUE(QDir().mkpath(out + "/Keep") && QDir().mkpath(own));
    ASSERT_TRUE(Sox({"-n", "-r", "8000", "-c", "1", "-b", "16", root + "/s.wav", "synth", "0.1", "sine", "440"}));
    const QString conversions = WriteConversions(root + "/keep.plist", {{0, KeepAiff()}});
    for (const QString& path : {root, root + "/s.wav", conversions})
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), QFileInfo(path).isDir() ? 0755 : 0644), 0);
    QStringList command{QM_BATCH_EXE};
    if (::geteuid() == 0) {
        for (const QString& path : {out + "/Keep", own})
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0);
        command = QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"} + command;
    }
    ASSERT_EQ(::chmod(QFile::encodeName(out).constData(), 0555), 0);
    QProcess batch;
    batch.setProcessEnvironment(BatchEnvironment(own + "/prefs.plist"));
    batch.start(command.first(), command.mid(1) + QStringList{"--quiet", "--conversions", conversions, "-o", out,
                                                                root + "/s.wav"});
    ASSERT_TRUE(batch.waitForFinished(60000));
    ::chmod(QFile::encodeName(out).constData(), 0755);
    const QString err = QString::fromUtf8(batch.readAllStandardError());
    EXPECT_TRUE(err.startsWith("note: the record of temporary files cannot be made in '" + out +
                               "' (-54): if this run is killed, its temporary files there are not removed by "
                               "later runs\n"))
        << err.toStdString();
    EXPECT_EQ(FilesUnder(out + "/Keep", true).size(), 1) << "the output is made all the same";
}

}  // namespace
