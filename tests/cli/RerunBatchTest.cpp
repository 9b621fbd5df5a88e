// A rerun into the same folder, duplicates not numbered: each output whose
// name is taken fails with the line a finished conversion would get, but as
// soon as the output exists, before any audio is written into it (the MP3
// encoder, which every route to MP3 runs last, is never started), and the
// existing file is kept.  Numbered, the same rerun converts.
#include "CliTestSupport.h"
#include "PropertyList.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace clitest;

namespace {

struct Route {
    const char* label;
    QVariantMap changes;
};

const Route kRoutes[] = {
    {"Plain", {}},
    {"Resampled", {{"QMCSNeedsSampleRateConversion", true}, {"QMCSSampleRate", 32000}}},
    {"Mixed", {{"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 3}}},
    {"Normalized", {{"QMCSNeedsGain", true}, {"QMCSNeedsNormalize", true}}},
    {"ResampledNormalized",
     {{"QMCSNeedsSampleRateConversion", true}, {"QMCSSampleRate", 32000}, {"QMCSNeedsGain", true},
      {"QMCSNeedsNormalize", true}}},
};

class Rerun : public BatchTest, public ::testing::WithParamInterface<Route> {};

TEST_P(Rerun, ATakenNameFailsBeforeTheInputIsConverted)
{
    ASSERT_TRUE(MakeStereoTake(0.5));
    // The encoder, counting its encodings.
    const QString lame = QStandardPaths::findExecutable("lame");
    ASSERT_FALSE(lame.isEmpty());
    const QString bin = root + "/bin";
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(WriteBytes(bin + "/lame", QString("#!/bin/sh\n"
                                                  "case \"$*\" in */dev/fd/*) echo run >> '%1/encodings';; esac\n"
                                                  "exec '%2' \"$@\"\n")
                                              .arg(bin, lame)
                                              .toUtf8()));
    ASSERT_TRUE(QFile::setPermissions(bin + "/lame", QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    QVariantMap conversion = HeldEncoder::Conversion("MP3");
    for (auto it = GetParam().changes.begin(); it != GetParam().changes.end(); ++it)
        conversion.insert(it.key(), it.value());
    const QString conversions = root + "/c.plist";
    ASSERT_TRUE(WriteBytes(conversions, PropertyList::toXml(QVariantList{conversion})));
    auto run = [&](const QStringList& more) {
        QProcess process;
        QProcessEnvironment env = BatchEnvironment(defaults);
        env.insert("PATH", bin);
        process.setProcessEnvironment(env);
        process.start(QM_BATCH_EXE, QStringList{"--quiet", "--conversions", conversions, "-o", root + "/out"} + more +
                                        QStringList{root + "/in/take.wav"});
        EXPECT_TRUE(process.waitForFinished(120000));
        RunResult r;
        r.exitCode = process.exitCode();
        r.err = QString::fromUtf8(process.readAllStandardError());
        return r;
    };
    auto encodings = [&] { return ReadText(bin + "/encodings").count("run"); };

    const RunResult first = run({});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    ASSERT_EQ(encodings(), 1);
    const QString made = root + "/out/MP3/take.mp3";
    const QByteArray kept = ReadBytes(made);
    ASSERT_FALSE(kept.isEmpty());

    const RunResult again = run({});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.err.startsWith("failed " + root + "/in/take.wav: duplicate filename error: " + made + " (-48)\n"))
        << again.err.toStdString();
    EXPECT_TRUE(again.err.contains("add --set \"Number Duplicate Files=YES\"")) << again.err.toStdString();
    EXPECT_EQ(encodings(), 1);
    EXPECT_EQ(ReadBytes(made), kept);
    EXPECT_EQ(FilesUnder(root + "/out/MP3", true), QStringList{"take.mp3"});

    const RunResult numbered = run({"--set", "Number Duplicate Files=YES"});
    EXPECT_EQ(numbered.exitCode, 0) << numbered.err.toStdString();
    EXPECT_EQ(encodings(), 2);
    EXPECT_EQ(FilesUnder(root + "/out/MP3", true), (QStringList{"take-1.mp3", "take.mp3"}));
}

INSTANTIATE_TEST_SUITE_P(Routes, Rerun, ::testing::ValuesIn(kRoutes),
                         [](const ::testing::TestParamInfo<Route>& info) { return std::string(info.param.label); });

}  // namespace

// A batch killed outright (SIGKILL) at random moments, each kill followed
// at once by the next batch into the same output folder (to another
// conversion's folder): once every process the killed batch started is
// gone, nothing of the killed batch's is left anywhere -- in the output
// folder (mode 1777, beside a file of another user's) and in the temporary
// folder -- but its outputs published whole under their final names.  The
// MP3 encoder is one slow to start, which, if it outlived its batch, would
// bring back its output after the next batch's clean-up.  The kill moments are drawn over the length of an
// unkilled batch; the seed is printed with a failure (QUILLMARCH_KILL_SEED
// repeats it), and QUILLMARCH_KILL_RUNS raises the number of kills per type
// from 10.
namespace {

struct KilledType {
    const char* label;
    QVariantMap conversion;
    int rate;
    int channels;
    double seconds;  // of each input: the coders that work fast get long ones
};

QVariantMap AtRate(QVariantMap conversion, int rate)
{
    conversion.insert("QMCSNeedsSampleRateConversion", true);
    conversion.insert("QMCSSampleRate", rate);
    return conversion;
}

const KilledType kKilledTypes[] = {
    {"MP3", HeldEncoder::Conversion("Out"), 44100, 2, 0.5},
    {"MP2", TypedConversion("Out", "MPG2", 192, QByteArray()), 44100, 2, 1},
    {"MSADPCM", TypedConversion("Out", "MSAP", 16, QByteArray()), 22050, 2, 10},
    {"G721", AtRate(TypedConversion("Out", "21-4", 16, QByteArray()), 8000), 8000, 1, 10},
};

// The processes of the session `session` (the killed batch led it) that
// still run, zombies aside.
QStringList SessionMembers(qint64 session)
{
    QStringList members;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray stat = ReadBytes("/proc/" + entry + "/stat");
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 3 && fields[3].toLongLong() == session && fields[0] != "Z")
            members << entry + " " + QString::fromUtf8(stat.mid(stat.indexOf('('), stat.lastIndexOf(')') + 1 - stat.indexOf('(')));
    }
    return members;
}

class KilledBatch : public BatchTest, public ::testing::WithParamInterface<KilledType> {};

TEST_P(KilledBatch, LeavesNothingOnceItsChildrenAreGone)
{
    const KilledType& type = GetParam();
    const QString lame = QStandardPaths::findExecutable("lame");
    if (lame.isEmpty())
        GTEST_SKIP() << "no lame";
    const QString in = root + "/in";
    const QString temporary = root + "/tmp";
    const QString bin = root + "/bin";
    ASSERT_TRUE(QDir().mkpath(in) && QDir().mkpath(temporary) && QDir().mkpath(bin));
    // The encoder, slow to start: it takes its input, and makes its output
    // 0.1 s later; one that finds its batch gone meanwhile waits until the
    // next batch has cleaned up.
    ASSERT_TRUE(WriteBytes(bin + "/lame", QString("#!/usr/bin/perl\n"
                                                  "my $parent = getppid();\n"
                                                  "my ($in) = grep { /\\.wav$/ } @ARGV;\n"
                                                  "if (defined $in) {\n"
                                                  "  open(STDIN, '<', $in) or exit 9;\n"
                                                  "  @ARGV = map { $_ eq $in ? '-' : $_ } @ARGV;\n"
                                                  "  for (my $i = 0; $i < 10; ++$i) {\n"
                                                  "    select(undef, undef, undef, 0.01);\n"
                                                  "    next if getppid() == $parent;\n"
                                                  "    for (my $j = 0; $j < 500 && -e $ARGV[-1]; ++$j) {\n"
                                                  "      select(undef, undef, undef, 0.01);\n"
                                                  "    }\n"
                                                  "    last;\n"
                                                  "  }\n"
                                                  "}\n"
                                                  "exec('%1', @ARGV);\n")
                                              .arg(lame)
                                              .toUtf8()));
    ASSERT_TRUE(QFile::setPermissions(bin + "/lame", QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    for (const char* stem : {"a", "b", "c"})
        ASSERT_TRUE(Sox({"-D", "-n", "-r", QString::number(type.rate), "-c", QString::number(type.channels), "-b",
                         "16", in + "/" + QString(stem) + ".wav", "synth", QString::number(type.seconds), "sine",
                         "440", "sine", "660", "gain", "-3"}));
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "8000", "-c", "1", "-b", "16", in + "/z.wav", "synth", "0.1", "sine", "440"}));
    const QString conversions = WriteConversions(root + "/c.plist", {{0, type.conversion}});
    const QString next = WriteConversions(root + "/next.plist", {{0, TypedConversion("Next", "AIFF", 16, {})}});
    ASSERT_FALSE(conversions.isEmpty() || next.isEmpty());
    QProcessEnvironment env = BatchEnvironment(defaults);
    env.insert("TMPDIR", temporary);
    env.insert("PATH", bin + ":" + env.value("PATH"));
    // Every batch in a session of its own, so that what it started can be
    // found after it is gone.
    auto start = [&](QProcess* process, const QString& list, const QString& out, const QStringList& inputs) {
        process->setProcessEnvironment(env);
        process->setChildProcessModifier([] { ::setsid(); });
        process->start(QM_BATCH_EXE, QStringList{"--quiet", "--set", "Save Log=NO", "--conversions", list, "-o", out} +
                                         inputs);
        return process->waitForStarted(30000);
    };
    const QStringList inputs{in + "/a.wav", in + "/b.wav", in + "/c.wav"};

    // An unkilled batch: how long one takes, what it makes.
    QElapsedTimer timer;
    timer.start();
    QProcess whole;
    ASSERT_TRUE(start(&whole, conversions, root + "/whole", inputs));
    ASSERT_TRUE(whole.waitForFinished(120000));
    ASSERT_EQ(whole.exitCode(), 0) << whole.readAllStandardError().toStdString();
    const qint64 span = std::max<qint64>(timer.elapsed(), 1) * 1000;  // microseconds
    const QStringList made = QDir(root + "/whole/Out").entryList(QDir::Files);  // (hidden ones aside)
    ASSERT_EQ(made.size(), 3) << made.join(", ").toStdString();

    const int kills =
        qEnvironmentVariableIsSet("QUILLMARCH_KILL_RUNS") ? qEnvironmentVariableIntValue("QUILLMARCH_KILL_RUNS") : 10;
    const quint32 seed = qEnvironmentVariableIsSet("QUILLMARCH_KILL_SEED")
                             ? quint32(qEnvironmentVariableIntValue("QUILLMARCH_KILL_SEED"))
                             : quint32(QRandomGenerator::global()->generate());
    QRandomGenerator random(seed);
    for (int kill = 0; kill < kills; ++kill) {
        const qint64 at = qint64(random.bounded(quint32(span)));
        const std::string where = "kill " + std::to_string(kill) + " at " + std::to_string(at) + " us of " +
                                  std::to_string(span) + " (seed " + std::to_string(seed) + ")";
        const QString out = root + "/out" + QString::number(kill);
        ASSERT_TRUE(QDir().mkpath(out));
        ASSERT_EQ(::chmod(QFile::encodeName(out).constData(), 01777), 0);
        const QString others = out + "/others.txt";
        ASSERT_TRUE(WriteBytes(others, "another user's"));
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(QFile::encodeName(others).constData(), 65534, 65534), 0);
        }

        QProcess killed;
        ASSERT_TRUE(start(&killed, conversions, out, inputs)) << where;
        const qint64 session = killed.processId();
        std::this_thread::sleep_for(std::chrono::microseconds(at));
        ::kill(pid_t(session), SIGKILL);
        ASSERT_TRUE(killed.waitForFinished(30000)) << where;

        // The next batch, at once.
        QProcess after;
        ASSERT_TRUE(start(&after, next, out, {in + "/z.wav"})) << where;
        ASSERT_TRUE(after.waitForFinished(120000)) << where;
        EXPECT_EQ(after.exitCode(), 0) << where << ": " << after.readAllStandardError().toStdString();

        // Every process the killed batch started ends.
        QElapsedTimer waited;
        waited.start();
        QStringList running;
        while (!(running = SessionMembers(session)).isEmpty() && waited.elapsed() < 30000)
            QThread::msleep(10);
        for (const QString& member : running)
            ::kill(pid_t(member.section(' ', 0, 0).toLongLong()), SIGKILL);
        EXPECT_EQ(running, QStringList()) << where << ": the killed batch's processes live on";

        // Only whole outputs under final names (and their sidecars) stay.
        // (A record the kill cut before its first byte is judged elsewhere.)
        QStringList leftovers;
        for (const QString& file : FilesUnder(out, true)) {
            const QFileInfo info(out + "/" + file);
            const QString name = info.fileName();
            const QString visible = name.startsWith("._") ? name.mid(2) : name;
            const bool output = (file == "Out/" + name ? made.contains(visible) : file == "Next/z.aif") &&
                                QFileInfo(info.path() + "/" + visible).size() > 0;
            const bool emptyRecord = file == name && name.endsWith(".run") && info.size() == 0;
            if (!output && !emptyRecord && file != "others.txt")
                leftovers << file;
        }
        EXPECT_EQ(leftovers.join(", ").toStdString(), "") << where;
        EXPECT_EQ(ReadBytes(others), "another user's") << where;
        EXPECT_TRUE(QFileInfo::exists(out + "/Next/z.aif")) << where;
        EXPECT_EQ(FilesUnder(temporary).join(", ").toStdString(), "") << where;
    }
}

INSTANTIATE_TEST_SUITE_P(Types, KilledBatch, ::testing::ValuesIn(kKilledTypes),
                         [](const ::testing::TestParamInfo<KilledType>& info) { return std::string(info.param.label); });

}  // namespace
