// One bad input never stops or hangs a batch of quillmarch-batch, and every
// input is accounted for: a batch with one input of each troublesome kind
// among good ones, an interrupt while such inputs are in the batch, and the
// leftovers of a killed run.
#include "CliTestSupport.h"
#include "TestTempDir.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using namespace clitest;

namespace {

QVariantMap Keep(const char* name, const char* type)
{
    const quint32 code = qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(type));
    return {{"QMCSName", name},
            {"QMCSOutputFileType", qlonglong(code)},
            {"QMCSNeedsSampleRateConversion", false},
            {"QMCSNeedsNewWordLength", false},
            {"QMCSNeedsRedither", false},
            {"QMCSNeedsChannelTreat", false}};
}

// CD images do not record their rate: the conversion sets it.
QVariantMap CDImage()
{
    QVariantMap c = Keep("CD image", "IDAT");
    c.insert("QMCSNeedsSampleRateConversion", true);
    c.insert("QMCSSampleRate", 44100.0);
    return c;
}

void Write(const QString& path, const QByteArray& bytes)
{
    ASSERT_TRUE(WriteBytes(path, bytes)) << path.toStdString();
}

// A PCM WAVE header with `dataBytes` of data, whatever the fields claim.
QByteArray Wave(quint16 channels, quint32 rate, quint32 dataBytes)
{
    QByteArray fmt(16, '\0');
    qToLittleEndian<quint16>(1, fmt.data());
    qToLittleEndian<quint16>(channels, fmt.data() + 2);
    qToLittleEndian<quint32>(rate, fmt.data() + 4);
    qToLittleEndian<quint32>(rate * 2u * channels, fmt.data() + 8);
    qToLittleEndian<quint16>(quint16(2u * channels), fmt.data() + 12);
    qToLittleEndian<quint16>(16, fmt.data() + 14);
    auto le32 = [](quint32 v) {
        QByteArray b(4, '\0');
        qToLittleEndian<quint32>(v, b.data());
        return b;
    };
    const QByteArray body = "WAVEfmt " + le32(16) + fmt + "data" + le32(dataBytes) + QByteArray(int(dataBytes), '\1');
    return "RIFF" + le32(quint32(body.size())) + body;
}

class BatchCommandBadInputsTest : public BatchTest {
protected:
    void SetUp() override
    {
        BatchTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(root + "/out"));
        ASSERT_TRUE(QDir().mkpath(root + "/mix"));
    }

    // Good inputs around one input of each troublesome kind.
    void MakeMix()
    {
        const QString m = root + "/mix/";
        ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "2", "-b", "16", m + "a_good.aif", "synth", "0.2", "sine", "440"}));
        ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "2", "-b", "32", m + "b_32bit.wav", "synth", "0.2", "sine", "440"}));
        ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "6", "-b", "16", m + "c_6ch.wav", "synth", "0.2", "sine", "440"}));
        // A COMM promising far more frames than the file holds.
        ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "1", "-b", "16", m + "d_cut.aif", "synth", "0.2", "sine", "440"}));
        {
            QFile cut(m + "d_cut.aif");
            ASSERT_TRUE(cut.open(QIODevice::ReadWrite));
            QByteArray bytes = cut.readAll();
            const qsizetype comm = bytes.indexOf("COMM");
            ASSERT_GT(comm, 0);
            qToBigEndian<quint32>(10000000u, bytes.data() + comm + 10);
            cut.seek(0);
            cut.write(bytes);
        }
        // A WAVE whose data size passes the end of the file.
        QByteArray cutWave = Wave(1, 44100, 2000);
        qToLittleEndian<quint32>(200000u, cutWave.data() + 40);
        Write(m + "d_cut2.wav", cutWave);
        Write(m + "e_65535ch.wav", Wave(65535, 44100, 320));  // 364 bytes
        Write(m + "f_rate0.wav", Wave(1, 0, 2000));
        // A split pair whose right member is cut inside its header.
        ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "1", "-b", "16", m + "g_set.L.aif", "synth", "0.2", "sine", "440"}));
        Write(m + "g_set.R.aif", ReadBytes(m + "g_set.L.aif").left(30));
        Write(m + "h_notes.txt", "plain text, no sound");
        ASSERT_EQ(::mkfifo((m + "i_fifo").toUtf8().constData(), 0600), 0);
        ASSERT_TRUE(Sox({"-n", "-r", "384000", "-c", "1", "-b", "16", m + "j_384k.wav", "synth", "0.05", "sine", "440"}));
        const QByteArray odd = QFile::encodeName(m) + "k_\xff\xfe.aif";
        ASSERT_TRUE(QFile::copy(m + "a_good.aif", QFile::decodeName(QFile::encodeName(m) + "k_tmp.aif")));
        ASSERT_EQ(::rename((QFile::encodeName(m) + "k_tmp.aif").constData(), odd.constData()), 0);
        ASSERT_TRUE(Sox({"-n", "-r", "48000", "-c", "1", "-b", "16", m + "z_good.wav", "synth", "0.2", "sine", "440"}));
    }

    static QByteArray ReadBytes(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QStringList Outputs(const QString& conversion)
    {
        QStringList names = QDir(root + "/out/" + conversion + "/mix").entryList(QDir::Files);
        names.sort();
        return names;
    }
};

TEST_F(BatchCommandBadInputsTest, OneBadInputOfEachKindFailsAloneAndIsNamed)
{
    MakeMix();
    const QString conversions = WriteConversions(
        root + "/c.plist", {{0, Keep("Paris", " paf")},
                            {0, Keep("AVR", ".AVR")},
                            {0, CDImage()},
                            {0, {{"QMCSName", "AIFF 48k"}, {"QMCSSampleRate", 48000.0}, {"QMCSNeedsChannelTreat", false}}}});
    QElapsedTimer timer;
    timer.start();
    // The name that is not UTF-8 is also given on its own.
    const QString odd = QFile::decodeName(QFile::encodeName(root) + "/mix/k_\xff\xfe.aif");
    const RunResult r = Run({"--quiet", "--conversions", conversions, "-o", root + "/out", root + "/mix", odd}, 120000);
    EXPECT_LT(timer.elapsed(), 60000);
    ASSERT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    const QString log = ReadText(LogPathFromOutput(r.out));

    // Every conversion ran to its end over every input.
    EXPECT_EQ(log.count("Total time for this conversion"), 4) << log.toStdString();

    // Failures and skips on standard error, with the input's path, also
    // with --quiet; each line has its twin in the log.
    const QString m = root + "/mix/";
    struct Expected {
        QString line;     // on standard error
        QString logLine;  // in the log
        int times;
    };
    const QList<Expected> expected = {
        {"failed " + m + "e_65535ch.wav: has bad DATA chunksize (WAVE) (-22704)", "*e_65535ch", 4},
        {"failed " + m + "f_rate0.wav: has unsupported data (-22700)", "*f_rate0", 4},
        {"failed " + m + "g_set.R.aif: lacks COMM chunk (AIFF) (-22202)", "*g_set.R.aif", 4},
        {"skipped " + m + "h_notes.txt: not a sound file", "-h_notes.txt", 4},
        {"skipped " + m + "i_fifo: not a regular file", "-i_fifo", 4},
        {"has a file name that is not valid UTF-8 (-22022)", "has a file name that is not valid UTF-8", 8},
        {"warning " + m + "d_cut.aif: unexpected end of file", " d_cut ", 3},
        {"warning " + m + "d_cut2.wav: unexpected end of file", " d_cut2 ", 3},
        {": unexpected end of file", "unexpected end of file", 6},
        {"failed " + m + "b_32bit.wav: has unsupported wordsize (-20020)", "has unsupported wordsize", 1},
        {"failed " + m + "c_6ch.wav: has incompatible # channels (-22100)", "has incompatible # channels", 1},
        {": can't be created as an Audio CD track (-24100)", "can't be created as an Audio CD track", 7},
    };
    for (const Expected& e : expected) {
        EXPECT_EQ(r.err.count(e.line), e.times) << e.line.toStdString() << "\n" << r.err.toStdString();
        EXPECT_EQ(log.count(e.logLine), e.times) << e.logLine.toStdString() << "\n" << log.toStdString();
    }
    EXPECT_FALSE(log.contains("already processed"));
    EXPECT_FALSE(log.contains("unknown error"));
    EXPECT_TRUE(r.err.contains(" skipped, ")) << r.err.toStdString();

    // Every other input converted: the good files, the cut file, the
    // readable member of the broken set and the 384 kHz file (resampled).
    const QStringList always = {"a_good", "d_cut", "d_cut2", "g_set.L", "j_384k", "z_good"};
    for (const QString& conversion : {QString("Paris"), QString("AIFF 48k")}) {
        const QStringList outputs = Outputs(conversion);
        for (const QString& stem : always)
            EXPECT_TRUE(outputs.filter(QRegularExpression("^" + QRegularExpression::escape(stem) + "\\.")).size() == 1)
                << conversion.toStdString() << ": " << stem.toStdString() << " in " << outputs.join(", ").toStdString();
        for (const QString& name : outputs)
            EXPECT_FALSE(name.contains("QuillOutFile")) << name.toStdString();
    }
    EXPECT_EQ(Outputs("AIFF 48k").size(), 8) << Outputs("AIFF 48k").join(", ").toStdString();  // 32-bit and 6 ch too
    QByteArray info;
    ASSERT_TRUE(RunPeer("soxi", {"-r", root + "/out/AIFF 48k/mix/j_384k.aif"}, &info));
    EXPECT_EQ(info.trimmed(), "48000");
}

TEST_F(BatchCommandBadInputsTest, InterruptEndsABatchWithAFifoInIt)
{
    MakeMix();
    const QString conversions = WriteConversions(root + "/c.plist", {{0, Keep("Paris", " paf")}});
    // --info never opens the FIFO either.
    const RunResult info = Run({"--info", root + "/mix/i_fifo"}, 20000);
    EXPECT_EQ(info.exitCode, 1);
    EXPECT_TRUE(info.out.contains("is not a regular file")) << info.out.toStdString();

    for (int delayMs : {300, 700}) {
        const QDir out(root + "/out");
        const uint entries = out.count();
        QProcess process;
        process.setProcessEnvironment(BatchEnvironment(defaults));
        process.start(QStringLiteral(QM_BATCH_EXE), {"--quiet", "--set", "Easy Thru=YES", "--conversions", conversions,
                                                     "-o", root + "/out", root + "/mix", root + "/mix/i_fifo"});
        ASSERT_TRUE(process.waitForStarted(30000));
        // Interrupted a while after the batch has begun (its log is there):
        // a slow start must not take the signal before the batch is running.
        for (int waited = 0; waited < 30000 && QDir(out.path()).count() == entries; waited += 10)
            QThread::msleep(10);
        QThread::msleep(delayMs);
        ::kill(pid_t(process.processId()), SIGINT);
        ASSERT_TRUE(process.waitForFinished(20000)) << "hung after an interrupt at " << delayMs << " ms";
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_TRUE(process.exitCode() == 2 || process.exitCode() == 1) << process.exitCode();
    }
}

TEST_F(BatchCommandBadInputsTest, KilledRunsTemporariesGoWhileARunningBatchKeepsItsOwn)
{
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "1", "-b", "16", root + "/mix/a.aif", "synth", "0.1", "sine", "440"}));
    const QString conversions = WriteConversions(root + "/c.plist", {{0, Keep("Keep", "AIFF")}});
    const QString folder = root + "/out/Keep/deeper";
    ASSERT_TRUE(QDir().mkpath(folder));
    // A killed run's temporary (no one holds it), another batch's temporary
    // being written (its lock held), and a file of the user's.
    const QString killed = folder + "/take.QuillOutFile-a1b2c3.aif";
    const QString running = folder + "/other.QuillOutFile-d4e5f6.aif";
    const QString users = folder + "/mine.aif";
    for (const QString& path : {killed, running, users}) {
        Write(path, "partial");
        const qint64 old = QDateTime::currentSecsSinceEpoch() - 600;
        struct utimbuf times = {old, old};
        ASSERT_EQ(::utime(path.toUtf8().constData(), &times), 0);
    }
    const int held = ::open(running.toUtf8().constData(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    const RunResult r = Run(
        {"--quiet", "--set", "Easy Thru=YES", "--conversions", conversions, "-o", root + "/out", root + "/mix/a.aif"});
    ::close(held);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(killed));
    EXPECT_TRUE(QFile::exists(running));
    EXPECT_TRUE(QFile::exists(users));
    EXPECT_TRUE(QFile::exists(root + "/out/Keep/a.aif"));
}

}  // namespace
