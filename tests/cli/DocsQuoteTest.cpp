// Every message the docs quote (README, docs/*.md and the manual page) is
// the program's own: each quote that reads as a line or message of the
// program (a "failed", "skipped", "warning" or "note:" line, a refusal of
// quillmarch-batch, a text with an error code, a message of the error table)
// is found in what real batches print, made here to print each of them, or
// is a message of the error table.  Example figures ("500 inputs", "21700
// samples clipped") and paths stand for any; "...", "…" and 'X' for any text.
#include "CliTestSupport.h"
#include "PropertyList.h"
#include "error_table.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

const QString kDocs = QStringLiteral(QM_SOURCE_RESOURCES "/..");

// The text of a manual page as it reads: requests and font changes gone.
QString RoffText(const QString& page)
{
    QStringList lines;
    for (QString line : page.split('\n')) {
        const QRegularExpressionMatch request = QRegularExpression(R"(^\.(B|I|BR|RB|IR|RI|BI|IB)\s+(.*))").match(line);
        if (request.hasMatch()) {
            QStringList words;
            for (const QRegularExpressionMatch& m : QRegularExpression(R"re("[^"]*"|\S+)re").globalMatch(request.captured(2)))
                words.append(m.captured().remove('"'));
            line = words.join(request.captured(1).size() == 2 ? "" : " ");
        } else if (line.startsWith('.')) {
            continue;
        }
        lines.append(line);
    }
    return lines.join(' ').replace("\\-", "-").replace("\\(aq", "'").remove(QRegularExpression(R"(\\f[BRIP])"));
}

// The quotes of a document: its `code spans`, then its "double-quoted" texts
// outside them (fenced code blocks left out).
QStringList Quotes(const QString& file)
{
    QString text = ReadText(kDocs + "/" + file);
    if (file.endsWith(".1"))
        text = RoffText(text);
    text.remove(QRegularExpression("```.*?```", QRegularExpression::DotMatchesEverythingOption));  // code blocks
    text = text.simplified();
    QStringList quotes;
    static const QRegularExpression span("`([^`]+)`");
    for (const QRegularExpressionMatch& m : span.globalMatch(text))
        quotes.append(m.captured(1));
    text.replace(span, "``");
    for (const QRegularExpressionMatch& m : QRegularExpression(R"re("([^"]+)")re").globalMatch(text))
        quotes.append(m.captured(1));
    return quotes;
}

// The error table's messages.
const QStringList& TableMessages()
{
    static const QStringList messages = [] {
        QStringList all;
        for (const ErrorTableEntry* e = ErrorTableBegin(); e != ErrorTableEnd(); ++e)
            all.append(QString::fromLatin1(e->message).simplified());
        return all;
    }();
    return messages;
}

// A quote that reads as the program's line or message.
bool IsMessage(const QString& quote)
{
    static const QRegularExpression line(
        R"(^(failed |skipped|warning|note:|Note: |quillmarch-batch: |--set: |the preferences file )|\(-\d+\))");
    if (line.match(quote).hasMatch())
        return true;
    // A text that begins as a message of the table does (its first two
    // words).
    return std::any_of(TableMessages().begin(), TableMessages().end(), [&](const QString& m) {
        const QString start = m.section(' ', 0, 1);
        return start.contains(' ') && quote.startsWith(start + ' ');
    });
}

// Paths to their last component, example counts to '#', the conversion a
// line names left out.
QString Normal(QString text)
{
    text = text.simplified();
    text.replace(QRegularExpression(R"( \(conversion '[^']*'\))"), "");
    text.replace(QRegularExpression(R"('[^' ]*/([^'/ ]+)')"), "'\\1'");
    text.replace(QRegularExpression(R"((^| )/(?:[^\s/']+/)+)"), "\\1");
    text.replace(QRegularExpression(R"(\b\d+ (inputs|samples clipped))"), "# \\1");
    text.replace(QRegularExpression(R"(^(failed|skipped|warning) [^:]*: )"), "\\1 FILE: ");
    return text;
}

// The quote's pieces around its stand-ins ("...", "…", 'X') are found in
// this order in one line of `said`.
bool Said(const QString& quote, const QStringList& said)
{
    const QStringList pieces = Normal(quote).split(QRegularExpression(R"(\.\.\.|…|(?<=')X(?='))"));
    for (const QString& line : said) {
        qsizetype at = 0;
        bool all = true;
        for (const QString& piece : pieces) {
            at = line.indexOf(piece, at);
            if (at < 0) {
                all = false;
                break;
            }
            at += piece.size();
        }
        if (all)
            return true;
    }
    return false;
}

// A table message, alone or with its own code ("Disk full (-34)").
bool TableMessage(const QString& quote)
{
    const QRegularExpressionMatch coded = QRegularExpression(R"(^(.*) \((-?\d+)\)$)").match(quote);
    if (coded.hasMatch())
        return QString::fromStdString(LookupErrorMessage(coded.captured(2).toInt()).message).simplified() ==
               coded.captured(1);
    return TableMessages().contains(quote);
}

// Quotes whose line needs a batch held still or run as another user: the
// test that checks the line word for word.
const QMap<QString, QString> kCheckedElsewhere = {
    {"cancelled before the batch started", "ConversionsFromAPipe.AreWaitedForUntilASignal"},
    {"note: the record of temporary files cannot be made in ...", "RecordCannotBeMade.IsSaidAtTheStart"},
};

QVariantMap To(const char* type, const QVariantMap& changes = {})
{
    QVariantMap c = TypedConversion("x", type, 16, QByteArray());
    c.insert("QMCSNeedsNewWordLength", false);
    for (auto it = changes.begin(); it != changes.end(); ++it)
        c.insert("QMCS" + it.key(), it.value());
    return c;
}

QVariantMap Named(QVariantMap conversion, const char* name)
{
    conversion.insert("QMCSName", name);
    return conversion;
}

class DocsQuotes : public BatchTest {
protected:
    // Standard error and the log of a run, line by line, normalised.
    void Hear(const RunResult& run)
    {
        const QString log = LogPathFromOutput(run.out);
        for (const QString& line : run.err.split('\n') + (log.isEmpty() ? QString() : ReadText(log)).split('\n'))
            if (!line.trimmed().isEmpty())
                said.append(Normal(line));
    }
    QStringList said;
};

TEST_F(DocsQuotes, AreTheProgramsOwn)
{
    if (QStandardPaths::findExecutable("lame").isEmpty())
        GTEST_SKIP() << "no lame: the MP3 lines are not made";
    // The inputs of the quoted lines.
    const QString in = root + "/in";
    QDir().mkpath(in);
    const QStringList tone = {"synth", "0.3", "sine", "440"};
    ASSERT_TRUE(Sox(QStringList{"-D", "-n", "-r", "44100", "-c", "1", "-b", "16", in + "/take.wav"} + tone));
    ASSERT_TRUE(Sox(QStringList{"-D", "-n", "-r", "8000", "-c", "1", "-b", "16", in + "/eight.wav"} + tone));
    ASSERT_TRUE(Sox(QStringList{"-D", "-n", "-r", "44100", "-c", "6", "-b", "16", in + "/six.wav"} + tone));
    ASSERT_TRUE(Sox(QStringList{"-D", "-n", "-r", "44100", "-c", "2", "-b", "32", in + "/deep.wav"} + tone));
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "44100", "-c", "1", "-b", "16", in + "/empty.wav", "trim", "0", "0"}));
    ASSERT_TRUE(RunPeer("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "aevalsrc=1.5*sin(2*PI*1000*t):s=44100:d=0.3",
                                   "-c:a", "pcm_f32le", in + "/hot.wav"}));
    ASSERT_TRUE(RunPeer("lame", {"--quiet", in + "/take.wav", in + "/song.mp3"}));
    const QVariantMap aiff = To("AIFF");
    const QVariantList conversions = {
        Named(To("VOC "), "Voc"),
        Named(To("SAIF"), "Sonic"),
        Named(To("MPG2", {{"NeedsNewWordLength", true}, {"WordLength", 224}}), "Mp2"),
        Named(To("Mpg4", {{"NeedsNewWordLength", true}, {"WordLength", 128}}), "Mp4"),
        Named(To("DMP3", {{"NeedsNewWordLength", true}, {"WordLength", 128}}), "Mp3"),
        Named(To("AIFF", {{"NeedsStrictFileType", false}}), "Keep"),
        Named(To("AIFF", {{"NeedsChannelTreat", true}, {"ChannelTreat", 3}}), "Mix"),
        Named(To("AIFF", {{"NeedsChannelTreat", true}, {"ChannelTreat", 1}}), "Stereo"),
        Named(To("AIFF", {{"NeedsSnip", true}, {"SnipFrom", 0.1}, {"SnipTo", 0.10001}}), "SnipFrame"),
        Named(To("AIFF", {{"NeedsSnip", true}, {"SnipFrom", 0.0}, {"SnipTo", 1.0}}), "SnipAll"),
        Named(To("AIFF", {{"NeedsNewWordLength", true}, {"WordLength", 16}}), "Plain"),
        Named(To("QTM3"), "NotRun"),
    };
    ASSERT_TRUE(WriteBytes(root + "/all.plist", PropertyList::toXml(conversions)));
    // A record another user could have written, in the output folder.
    QDir().mkpath(root + "/out");
    ASSERT_TRUE(WriteBytes(root + "/out/.QuillOutFile-Forged.run", "QMLEDGER1"));
    ASSERT_TRUE(QFile::setPermissions(root + "/out/.QuillOutFile-Forged.run", QFileDevice::Permissions(0x6666)));
    Hear(Run({"--quiet", "--conversions", root + "/all.plist", "-o", root + "/out", in}));
    // Headerless files whose names give no rate, and rates no file has.
    QDir().mkpath(root + "/calls");
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "8000", "-c", "1", "-t", "vox", root + "/calls/0001.vox", "synth", "0.2",
                     "sine", "440"}));
    ASSERT_TRUE(QFile::copy(root + "/calls/0001.vox", root + "/calls/0002.vox"));
    Hear(Run({"--quiet", "--conversion", "CD quality AIFF (44.1 kHz, 16 bits)", "-o", root + "/calls-out",
              root + "/calls"}));
    Hear(Run({"--set", "Unrecognized Input File Sample Rate=0", "--list-types"}));
    ASSERT_TRUE(WriteBytes(defaults, "<plist version=\"1.0\"><dict><key>Unrecognized Input File Sample Rate</key>"
                                     "<real>0</real></dict></plist>\n"));
    Hear(Run({"--list-types"}));

    int checked = 0;
    QStringList elsewhere;
    for (const char* file : {"README.md", "docs/conversions.md", "docs/adding-a-format.md", "docs/architecture.md",
                             "docs/quillmarch-batch.1"}) {
        for (const QString& quote : Quotes(file)) {
            if (kCheckedElsewhere.contains(quote)) {
                elsewhere.append(quote);
                continue;
            }
            if (!IsMessage(quote))
                continue;
            ++checked;
            EXPECT_TRUE(TableMessage(quote) || Said(quote, said))
                << file << " quotes what the program does not say:\n  " << quote.toStdString();
        }
    }
    EXPECT_GE(checked, 40) << "the quotes are no longer found";
    // What is checked elsewhere is still quoted.
    for (auto it = kCheckedElsewhere.cbegin(); it != kCheckedElsewhere.cend(); ++it)
        EXPECT_TRUE(elsewhere.contains(it.key())) << it.key().toStdString() << " (" << it.value().toStdString() << ")";
}

}  // namespace
