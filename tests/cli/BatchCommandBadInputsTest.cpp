// One bad input never stops or hangs a batch of quillmarch-batch, and every
// input is accounted for once: a batch with one input of each troublesome
// kind among good ones; what stays the batch's own (a named input, the
// output folder); an interrupt while such inputs are in the batch; and the
// leftovers of a killed run.  A batch that a test acts on is held still
// inside an encoder the test controls (HeldEncoder).
#include "CliTestSupport.h"
#include "TestTempDir.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QStandardPaths>
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

// CD images do not record their rate and hold 16 bits only: the
// conversion sets both.
QVariantMap CDImage()
{
    QVariantMap c = Keep("CD image", "IDAT");
    c.insert("QMCSNeedsSampleRateConversion", true);
    c.insert("QMCSSampleRate", 44100.0);
    c.insert("QMCSNeedsNewWordLength", true);
    c.insert("QMCSWordLength", 16);
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
        // Sound Designer II copied without its "._" sidecar, and one whose
        // sidecar is garbage.
        Write(m + "l_nofork.sd2", QByteArray(20000, '\1'));
        Write(m + "m_badfork.sd2", QByteArray(20000, '\1'));
        QByteArray garbage(300, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 37 + 11) & 0xFF);
        Write(m + "._m_badfork.sd2", garbage);
        Write(m + "n_odd.g729", QByteArray(25001, '\1'));  // not whole frames
        // An MP4 whose time-to-sample table claims 2^28 entries.
        ASSERT_TRUE(RunPeer("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=0.3", "-c:a",
                                       "aac", m + "o_huge.m4a"}));
        {
            QByteArray movie = ReadBytes(m + "o_huge.m4a");
            const qsizetype stts = movie.indexOf("stts");
            ASSERT_GT(stts, 0);
            qToBigEndian<quint32>(0x0FFFFFFFu, movie.data() + stts + 8);
            Write(m + "o_huge.m4a", movie);
        }
        ASSERT_EQ(::symlink("nowhere.wav", (m + "p_broken.wav").toUtf8().constData()), 0);
        ASSERT_EQ(::symlink("q_loop.wav", (m + "q_loop.wav").toUtf8().constData()), 0);
        Write(m + kForgedName, "plain text");
        // A split pair whose left member is cut inside its header.
        ASSERT_TRUE(QFile::copy(m + "g_set.L.aif", m + "s_set.R.aif"));
        Write(m + "s_set.L.aif", ReadBytes(m + "g_set.L.aif").left(30));
        ASSERT_TRUE(Sox({"-n", "-r", "48000", "-c", "1", "-b", "16", m + "z_good.wav", "synth", "0.2", "sine", "440"}));
    }

    // A name that would forge a log line and clear a terminal.
    static constexpr const char* kForgedName = "r_\n*evil.wav      Disk full\x1b[2J.txt";

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
        QString line;     // on standard error ({c}: the conversion's name)
        QString logLine;  // in the log
        int times;
    };
    const QList<Expected> expected = {
        {"failed " + m + "e_65535ch.wav{c}: has bad DATA chunksize (WAVE) (-22704)", "*e_65535ch", 4},
        {"failed " + m + "f_rate0.wav{c}: has unsupported data (-22700)", "*f_rate0", 4},
        {"failed " + m + "g_set.R.aif{c}: lacks COMM chunk (AIFF) (-22202)", "*g_set.R.aif", 4},
        {"skipped " + m + "h_notes.txt{c}: not a sound file", "-h_notes.txt", 4},
        {"skipped " + m + "i_fifo{c}: not a regular file", "-i_fifo", 4},
        {"has a file name that is not valid UTF-8 (-22022)", "has a file name that is not valid UTF-8", 8},
        {"warning " + m + "d_cut.aif{c}: unexpected end of file", " d_cut ", 3},
        {"warning " + m + "d_cut2.wav{c}: unexpected end of file", " d_cut2 ", 3},
        {": unexpected end of file", "unexpected end of file", 6},
        {"failed " + m + "l_nofork.sd2{c}: lacks resource fork (SDII) (-22502)", "*l_nofork", 4},
        {"failed " + m + "m_badfork.sd2{c}: has a damaged resource fork (-199)", "*m_badfork", 4},
        {"failed " + m + "n_odd.g729{c}: not recognized as a CCITT G.729 file (25001)", "*n_odd", 4},
        {"failed " + m + "o_huge.m4a{c}: has corrupt chunksize (-22009)", "*o_huge", 4},
        {"failed " + m + "p_broken.wav{c}: is a link to 'nowhere.wav', which does not exist (-22018)", "*p_broken", 4},
        {"failed " + m + "q_loop.wav{c}: is a link that leads back into itself (-21003)", "*q_loop", 4},
        {"skipped " + m + "r_\\n*evil.wav      Disk full\\x1b[2J.txt{c}: not a sound file",
         "-r_\\n*evil.wav      Disk full\\x1b[2J.txt", 4},
        {"failed " + m + "s_set.L.aif{c}: lacks COMM chunk (AIFF) (-22202)", "*s_set.L.aif", 4},
        {"failed " + m + "b_32bit.wav{c}: has unsupported wordsize (-20020)", "has unsupported wordsize", 1},
        {"failed " + m + "c_6ch.wav{c}: has incompatible # channels (-22100)", "has incompatible # channels", 1},
        {": can't be created as an Audio CD track (-24100)", "can't be created as an Audio CD track", 7},
    };
    for (const Expected& e : expected) {
        // {c}: the conversion, named since several run.
        const QRegularExpression line(
            QRegularExpression::escape(e.line).replace("\\{c\\}", " \\(conversion '[^']+'\\)"));
        int times = 0;
        for (QRegularExpressionMatchIterator it = line.globalMatch(r.err); it.hasNext(); it.next())
            ++times;
        EXPECT_EQ(times, e.times) << e.line.toStdString() << "\n" << r.err.toStdString();
        EXPECT_EQ(log.count(e.logLine), e.times) << e.logLine.toStdString() << "\n" << log.toStdString();
    }
    EXPECT_FALSE(log.contains("already processed"));
    EXPECT_FALSE(log.contains("unknown error"));
    // No name starts a line of its own or reaches the terminal raw.
    EXPECT_FALSE(log.contains("\n*evil")) << log.toStdString();
    EXPECT_FALSE(r.err.contains("\n*evil")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains('\x1b'));
    // Every line of standard error is one of those above or the summary,
    // which counts each input once and no failure as a warning.
    EXPECT_EQ(r.err.count('\n'), 58 + 12 + 6 + 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith("\n26 converted, 58 failed, 12 skipped, 6 warnings\n")) << r.err.toStdString();

    // Every other input converted: the good files, the cut file, the
    // readable member of the broken set and the 384 kHz file (resampled).
    const QStringList always = {"a_good", "d_cut", "d_cut2", "g_set.L", "j_384k", "s_set.R", "z_good"};
    for (const QString& conversion : {QString("Paris"), QString("AIFF 48k")}) {
        const QStringList outputs = Outputs(conversion);
        for (const QString& stem : always)
            EXPECT_TRUE(outputs.filter(QRegularExpression("^" + QRegularExpression::escape(stem) + "\\.")).size() == 1)
                << conversion.toStdString() << ": " << stem.toStdString() << " in " << outputs.join(", ").toStdString();
        for (const QString& name : outputs)
            EXPECT_FALSE(name.contains("QuillOutFile")) << name.toStdString();
    }
    EXPECT_EQ(Outputs("AIFF 48k").size(), 9) << Outputs("AIFF 48k").join(", ").toStdString();  // 32-bit and 6 ch too
    QByteArray info;
    ASSERT_TRUE(RunPeer("soxi", {"-r", root + "/out/AIFF 48k/mix/j_384k.aif"}, &info));
    EXPECT_EQ(info.trimmed(), "48000");
}

TEST_F(BatchCommandBadInputsTest, ANamedInputIsConvertedOrNamedAndABrokenSoundFileFails)
{
    // Named hidden inputs: a sound file (converted) and a sidecar (skipped,
    // with its reason).  Garbage under the extension of every kind of
    // sound file, and a WAVE cut inside its header: failed, whatever type
    // the header or the extension gave.  Garbage under no sound extension:
    // skipped.
    const QString m = root + "/mix/";
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "1", "-b", "16", m + ".take1.wav", "synth", "0.1", "sine", "440"}));
    QByteArray garbage(3000, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 37 + 11) & 0xFF);
    Write(m + "._take1.wav", QByteArray::fromHex("0005160700020000") + QByteArray(18, '\0'));
    QStringList inputs = {m + ".take1.wav", m + "._take1.wav", m + "notes.xyz", m + "cut.wav"};
    Write(m + "notes.xyz", garbage);
    Write(m + "cut.wav", Wave(1, 44100, 2000).left(30));
    const QStringList broken = {"aif", "aifc", "aiff", "au", "avr", "caf", "m4a", "mp2", "mp3",
                                "paf", "sd2", "snd", "svx", "vap", "voc", "wav"};
    for (const QString& extension : broken) {
        Write(m + "broken." + extension, garbage);
        inputs << m + "broken." + extension;
    }
    const QString keep = WriteConversions(root + "/keep.plist", {{0, Keep("Keep", "AIFF")}});
    const RunResult r = Run(QStringList{"--quiet", "--conversions", keep, "-o", root + "/out"} + inputs);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    for (const QString& extension : broken)
        EXPECT_TRUE(r.err.contains("failed " + m + "broken." + extension + ": ")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("failed " + m + "cut.wav: ")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("skipped " + m + "._take1.wav: an AppleDouble sidecar (the Finder information and "
                               "resource fork of 'take1.wav'), not a sound file of its own\n"))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("skipped " + m + "notes.xyz: not a sound file\n")) << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith(QStringLiteral("\n1 converted, %1 failed, 2 skipped, 0 warnings\n").arg(broken.size() + 1)))
        << r.err.toStdString();
    EXPECT_EQ(FilesUnder(root + "/out/Keep", true), QStringList{".take1.aif"});
}

TEST_F(BatchCommandBadInputsTest, NamedInputsAndTheOutputFolderAreTheBatchsOwn)
{
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "1", "-b", "16", root + "/mix/a.wav", "synth", "0.1", "sine", "440"}));
    ASSERT_TRUE(QFile::copy(root + "/mix/a.wav", root + "/mix/b.wav"));
    Write(root + "/mix/notes.txt", "plain text");
    const QString keep = WriteConversions(root + "/keep.plist", {{0, Keep("Keep", "AIFF")}});

    // A mistyped input: refused before anything is made.
    RunResult r = Run(
        {"--quiet", "--conversions", keep, "-o", root + "/made", root + "/mix/a.wav", root + "/mix/typo.wav"});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_TRUE(r.err.contains("The input '" + root + "/mix/typo.wav' does not exist.")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(root + "/made"));

    // Nothing converted, only skipped: not a success.
    r = Run({"--quiet", "--conversions", keep, "-o", root + "/out", root + "/mix/notes.txt"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith("\n0 converted, 0 failed, 1 skipped, 0 warnings\n")) << r.err.toStdString();

    // An entry of a walked folder removed while the batch is held inside
    // the encoding of another: skipped alone, the batch goes on.
    ASSERT_TRUE(QDir().mkpath(root + "/walk"));
    ASSERT_TRUE(QFile::copy(root + "/mix/a.wav", root + "/walk/a.wav"));
    ASSERT_TRUE(QFile::copy(root + "/mix/a.wav", root + "/walk/b.wav"));
    {
        HeldEncoder first(root + "/bin1");
        ASSERT_TRUE(first.ok());
        const QString mp3 = WriteConversions(root + "/mp3-1.plist", {{0, HeldEncoder::Conversion("MP3")}});
        QProcess process;
        // Held on walk/a.wav: the walk goes in name order.
        ASSERT_GT(first.start(&process, defaults,
                              {"--quiet", "--conversions", mp3, "-o", root + "/out1", root + "/walk",
                               root + "/mix/b.wav"}),
                  0);
        ASSERT_TRUE(QFile::remove(root + "/walk/b.wav"));
        first.release();
        ASSERT_TRUE(process.waitForFinished(60000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(process.exitCode(), 1) << err.toStdString();
        EXPECT_TRUE(err.contains("skipped " + root + "/walk/b.wav: no longer there\n")) << err.toStdString();
        EXPECT_TRUE(err.endsWith("0 converted, 2 failed, 1 skipped, 0 warnings\n")) << err.toStdString();
    }

    // The output folder removed while the batch runs (held inside the
    // encoding of the first input): one line names it, and the batch stops.
    // The whole output folder, the log's with it: the log's line says so,
    // never as an input that was not found.
    const QString mp3 = WriteConversions(root + "/mp3.plist", {{0, HeldEncoder::Conversion("MP3")}});
    for (const char* removed : {"/out2/MP3", "/out3"}) {
        const QString out = root + QString(removed).left(5);
        HeldEncoder encoder(out + "-bin");
        ASSERT_TRUE(encoder.ok());
        QProcess process;
        ASSERT_GT(encoder.start(&process, defaults,
                                {"--quiet", "--conversions", mp3, "-o", out, root + "/mix/a.wav", root + "/mix/b.wav"}),
                  0);
        ASSERT_TRUE(QDir(root + removed).removeRecursively());
        encoder.release();
        ASSERT_TRUE(process.waitForFinished(60000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(process.exitCode(), 2) << err.toStdString();
        const bool whole = root + removed == out;
        EXPECT_EQ(err, "failed " + root + removed + ": Output folder has vanished (-21002)\n" +
                           (whole ? "quillmarch-batch: the log could not be written into '" + out +
                                        "': it does not exist\n"
                                  : QString()) +
                           "0 converted, 1 failed, 0 skipped, 0 warnings, stopped\n");
        if (whole)
            continue;
        const QString log = ReadText(LogPathFromOutput(QString::fromUtf8(process.readAllStandardOutput())));
        EXPECT_EQ(log.count("\n*"), 1) << log.toStdString();
        EXPECT_TRUE(log.contains("\n*MP3 ")) << log.toStdString();
    }
}

TEST_F(BatchCommandBadInputsTest, InterruptEndsABatchWithAFifoInIt)
{
    MakeMix();
    // --info never opens the FIFO either.
    const RunResult info = Run({"--info", root + "/mix/i_fifo"}, 20000);
    EXPECT_EQ(info.exitCode, 1);
    EXPECT_TRUE(info.out.contains("is not a regular file")) << info.out.toStdString();

    // The batch passes the FIFO (skipped), then is held inside the encoding
    // of the next input, where the interrupt finds it running for sure.
    HeldEncoder encoder(root + "/bin");
    ASSERT_TRUE(encoder.ok());
    const QString conversions =
        WriteConversions(root + "/c.plist", {{0, Keep("Paris", " paf")}, {0, HeldEncoder::Conversion("MP3")}});
    QProcess process;
    ASSERT_GT(encoder.start(&process, defaults,
                            {"--quiet", "--conversions", conversions, "-o", root + "/out", root + "/mix/i_fifo",
                             root + "/mix", root + "/mix/z_good.wav"}),
              0);
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000)) << "hung after an interrupt";
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 2) << err.toStdString();
    EXPECT_TRUE(err.contains("skipped " + root + "/mix/i_fifo (conversion 'Paris'): not a regular file"))
        << err.toStdString();
    EXPECT_TRUE(err.contains(", cancelled\n")) << err.toStdString();
    // Nothing of the cancelled file is left (its temporary files neither).
    EXPECT_EQ(FilesUnder(root + "/out/MP3"), QStringList()) << FilesUnder(root + "/out/MP3").join(", ").toStdString();
}

// A user's items named like the program's temporaries -- in the output
// folder, a conversion folder and a folder below it; files with content,
// with our endings and without; folders with files; old and new -- are
// never the program's, so no batch touches them: not a batch that runs
// beside a batch held in its encoding, nor one that converts an input of
// that shape named on the command line (its output has the shape too), nor
// the clean-up after the held batch is killed, which takes that batch's
// temporaries at once and nothing else.
TEST_F(BatchCommandBadInputsTest, UsersItemsOfTheTemporaryShapeSurviveEveryBatch)
{
    struct Item {
        const char* where;
        const char* name;
        bool folder;
        bool old;
    };
    const Item items[] = {
        {"", ".QuillOutFile-a1b2c3.run", false, true},        {"", ".QuillOutFile-Q1w2E3", true, false},
        {"MP3", ".QuillOutFile-a1b2c3.L.aif", false, true},   {"MP3", ".QuillOutFile-d4e5f6.publish", false, false},
        {"MP3", "._.QuillOutFile-g7H8i9.tmp", false, true},   {"MP3", ".QuillOutFile-Zz9Yy8", true, true},
        {"MP3", ".QuillOutFile-Take02.aif", true, false},     {"MP3/deeper", ".QuillOutFile-j0k1l2", false, false},
        {"MP3/deeper", ".QuillOutFile-m3n4o5.txt", false, true}, {"MP3/deeper", ".QuillOutFile-p6q7r8.mp3", false, true},
    };
    const QString out = root + "/out";
    QMap<QString, QByteArray> users;  // every file of theirs, relative to `out`, with its content
    for (const Item& item : items) {
        const QString path = out + "/" + item.where + (*item.where ? "/" : "") + item.name;
        const QString file = item.folder ? path + "/inside/take.wav" : path;
        ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
        Write(file, QByteArray("the user's ") + item.name);
        users.insert(QDir(out).relativeFilePath(file), QByteArray("the user's ") + item.name);
        if (item.old) {
            const qint64 old = QDateTime::currentSecsSinceEpoch() - 600;
            struct utimbuf times = {old, old};
            for (const QString& aged : {file, path})
                ASSERT_EQ(::utime(aged.toUtf8().constData(), &times), 0);
        }
    }
    auto expectUsersIntact = [&](const char* after) {
        for (auto it = users.constBegin(); it != users.constEnd(); ++it)
            EXPECT_EQ(ReadBytes(out + "/" + it.key()).toStdString(), it.value().toStdString()) << after;
    };

    // A batch held inside its encoding, its files made to look old.
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "1", "-b", "16", root + "/mix/a.wav", "synth", "0.1", "sine", "440"}));
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "1", "-b", "16", root + "/mix/b.wav", "synth", "0.1", "sine", "660"}));
    ASSERT_TRUE(QFile::copy(root + "/mix/a.wav", root + "/.QuillOutFile-Take01.wav"));
    HeldEncoder encoder(root + "/bin");
    ASSERT_TRUE(encoder.ok());
    const QString mp3 = WriteConversions(root + "/mp3.plist", {{0, HeldEncoder::Conversion("MP3")}});
    QProcess stalled;
    const qint64 encoding = encoder.start(
        &stalled, defaults, {"--quiet", "--set", "Easy Thru=YES", "--conversions", mp3, "-o", out, root + "/mix/a.wav"});
    ASSERT_GT(encoding, 0);
    QStringList stalledFiles = FilesUnder(out, true).filter(QRegularExpression("^MP3/\\.QuillOutFile-\\w{6}\\."));
    for (const QString& user : users.keys())
        stalledFiles.removeAll(user);
    ASSERT_EQ(stalledFiles.size(), 2) << stalledFiles.join(", ").toStdString();  // the output, the encoder's input
    for (const QString& name : stalledFiles) {
        const qint64 old = QDateTime::currentSecsSinceEpoch() - 600;
        struct utimbuf times = {old, old};
        ASSERT_EQ(::utime((out + "/" + name).toUtf8().constData(), &times), 0);
    }

    // Another batch into the same folder (a conversion of the same name),
    // of an input named like a temporary.
    const QString keep = WriteConversions(root + "/keep.plist", {{0, Keep("MP3", "AIFF")}});
    auto convert = [&](const QString& input) {
        return Run({"--quiet", "--set", "Easy Thru=YES", "--conversions", keep, "-o", out, input});
    };
    RunResult r = convert(root + "/.QuillOutFile-Take01.wav");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    expectUsersIntact("beside a running batch");
    for (const QString& name : stalledFiles)
        EXPECT_TRUE(QFile::exists(out + "/" + name)) << name.toStdString();
    ASSERT_TRUE(QFile::exists(out + "/MP3/.QuillOutFile-Take01.aif")) << FilesUnder(out, true).join(", ").toStdString();
    users.insert("MP3/.QuillOutFile-Take01.aif", ReadBytes(out + "/MP3/.QuillOutFile-Take01.aif"));

    // The held batch killed outright: the next batch, at once, takes its
    // files, and only them; and so does every batch after.
    ::kill(pid_t(stalled.processId()), SIGKILL);
    ::kill(pid_t(encoding), SIGKILL);
    ASSERT_TRUE(stalled.waitForFinished(30000));
    for (const QString& input : {root + "/mix/b.wav", root + "/.QuillOutFile-Take01.wav"}) {
        r = convert(input);
        expectUsersIntact("after a killed batch");
        QStringList ours = FilesUnder(out, true);
        for (const QString& user : users.keys())
            ours.removeAll(user);
        EXPECT_EQ(ours.filter(QRegularExpression("^(MP3/|\\.QuillOutFile)")), QStringList{"MP3/b.aif"})
            << ours.join(", ").toStdString();
    }
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();  // its output name is taken now
}

// Where the disk fills up during a batch.
enum class FullAt {
    OwnWrite,           // while the batch writes an output itself
    Encoder,            // while the MP3 encoder writes its file
    PublicationRecord,  // while the record of a split pair's publication is written
};

// A full disk is the batch's own failure wherever it shows: the input's
// line says "Disk full (-34)", the batch stops there (the next input is
// not begun; status 2, "stopped"), and nothing of ours stays in the
// conversion folder.  Writing an output ourselves is the oracle the other
// two cases must match.  The conversion folder is a small file system
// (tmpfs, in a mount namespace of the test's own); a stand-in for the
// encoder fills it before the real encoder runs, or after the real encoder
// wrote the last member of a split pair -- keeping that member's input,
// which the batch then deletes, from giving its room back.
class BatchDiskFull : public BatchTest, public ::testing::WithParamInterface<FullAt> {
protected:
    void SetUp() override
    {
        BatchTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(root + "/mix"));
        if (!RunPeer("unshare", {"-rm", "true"}))
            GTEST_SKIP() << "no mount namespace of our own here";
        lame_ = QStandardPaths::findExecutable("lame");
        if (lame_.isEmpty())
            GTEST_SKIP() << "no lame";
    }

    // An encoder that runs `lame_`, having filled the output's file system
    // first (Encoder) or after encoding the second file (PublicationRecord).
    QString Encoder()
    {
        const QString bin = root + "/bin";
        const QString fill = GetParam() == FullAt::Encoder
                                 ? QStringLiteral("cat /dev/zero > \"$dir/fill\" 2>/dev/null\n"
                                                  "exec '%1' \"$@\"\n")
                                 : QStringLiteral("'%1' \"$@\"; rc=$?\n"
                                                  "if [ -e '%2/first' ]; then ln \"$in\" \"$dir/keep\"; "
                                                  "cat /dev/zero > \"$dir/fill\" 2>/dev/null; fi\n"
                                                  ": > '%2/first'; exit $rc\n");
        // (The input and the output are handed over as descriptors 3 and
        // 4: their files are found through them.)
        const QString script = QStringLiteral("#!/bin/sh\n"
                                              "case \"$*\" in */dev/fd/*) ;; *) exec '%1' \"$@\";; esac\n"
                                              "in=$(readlink /proc/$$/fd/3); out=$(readlink /proc/$$/fd/4); "
                                              "dir=$(dirname \"$out\")\n")
                                   .arg(lame_) +
                               QString(fill).replace("%1", lame_).replace("%2", bin);
        EXPECT_TRUE(QDir().mkpath(bin));
        Write(bin + "/lame", script.toUtf8());
        EXPECT_TRUE(QFile::setPermissions(bin + "/lame", QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        return bin;
    }

    QString lame_;
};

TEST_P(BatchDiskFull, StopsTheBatchAndSaysSo)
{
    const FullAt at = GetParam();
    const double seconds = at == FullAt::OwnWrite ? 10 : 1;  // 1.7 MB of AIFF against 1 MB
    ASSERT_TRUE(Sox({"-n", "-r", "44100", "-c", "2", "-b", "16", root + "/mix/a.wav", "synth",
                     QString::number(seconds), "sine", "440", "sine", "660"}));
    ASSERT_TRUE(QFile::copy(root + "/mix/a.wav", root + "/mix/z.wav"));
    QVariantMap conversion = HeldEncoder::Conversion("Full");
    if (at == FullAt::OwnWrite)
        conversion = Keep("Full", "AIFF");
    if (at == FullAt::PublicationRecord) {
        conversion.insert("QMCSNeedsChannelTreat", true);
        conversion.insert("QMCSChannelTreat", 2);  // a split pair
    }
    const QString conversions = WriteConversions(root + "/full.plist", {{0, conversion}});
    const QString folder = root + "/out/Full";
    ASSERT_TRUE(QDir().mkpath(folder));

    QProcessEnvironment env = BatchEnvironment(defaults);
    if (at != FullAt::OwnWrite)
        env.insert("PATH", Encoder() + ":" + env.value("PATH"));
    QProcess batch;
    batch.setProcessEnvironment(env);
    const QString listing = root + "/listing";
    batch.start("unshare",
                {"-rm", "sh", "-c",
                 "mount -t tmpfs -o size=1m tmpfs \"$1\" || exit 90; mnt=$1; list=$2; shift 2; \"$@\"; rc=$?; "
                 "(cd \"$mnt\" && find . -mindepth 1 | sort) > \"$list\"; exit $rc",
                 "sh", folder, listing, QM_BATCH_EXE, "--quiet", "--set", "Easy Thru=YES", "--conversions",
                 conversions, "-o", root + "/out", root + "/mix/a.wav", root + "/mix/z.wav"});
    ASSERT_TRUE(batch.waitForFinished(120000));
    const QString err = QString::fromUtf8(batch.readAllStandardError());
    EXPECT_EQ(batch.exitCode(), 2) << err.toStdString();
    EXPECT_EQ(err.toStdString(), ("failed " + root + "/mix/a.wav: Disk full (-34)\n"
                                  "0 converted, 1 failed, 0 skipped, 0 warnings, stopped\n").toStdString());
    QStringList left = ReadText(listing).split('\n', Qt::SkipEmptyParts);
    left.removeAll("./fill");
    left.removeAll("./keep");
    EXPECT_EQ(left, QStringList()) << "nothing of ours stays";
    EXPECT_EQ(FilesUnder(root + "/out", true).filter(".QuillOutFile"), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Everywhere, BatchDiskFull,
                         ::testing::Values(FullAt::OwnWrite, FullAt::Encoder, FullAt::PublicationRecord));

}  // namespace
