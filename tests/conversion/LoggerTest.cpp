// The conversion log: its exact text, the classes of failure codes, "Only
// Save When Errors", names that are taken and folders that cannot be
// written.
#include "ConvSpec.h"
#include "Logger.h"
#include "NotificationCenter.h"
#include "TestTempDir.h"
#include "ThreadDictionary.h"
#include "UserDefaults.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <memory>
#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

QString ReadText(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("<missing>");
    return QString::fromUtf8(f.readAll());
}

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        defaults = std::make_unique<UserDefaults>(QString::fromStdString(prefsDir.file("prefs.plist")));
        defaults->setBool(Logger::kSaveLogKey, true);
        defaults->setBool(Logger::kOnlySaveWhenErrorsKey, false);
        clock = QDateTime(QDate(2024, 1, 31), QTime(14, 25, 1), QTimeZone(3600));
        center.addObserver(Logger::kLogMessageNotification, nullptr,
                           [this](const Notification& n) { warnings << n.object.toString(); });
    }

    Logger::Environment Env()
    {
        Logger::Environment env;
        env.defaults = defaults.get();
        env.center = &center;
        env.clock = [this] { return clock; };
        env.version = QStringLiteral("4.0.0");
        env.stopBatch = [this] { ++stops; };
        return env;
    }

    std::unique_ptr<Logger> Make(const QString& folder = QString())
    {
        return std::make_unique<Logger>(folder.isEmpty() ? out.qpath() : folder, Env());
    }

    TestTempDir prefsDir;
    TestTempDir out;
    std::unique_ptr<UserDefaults> defaults;
    NotificationCenter center;
    QDateTime clock;
    QStringList warnings;
    int stops = 0;
};

} // namespace

TEST_F(LoggerTest, WritesHeadHeaderLinesFooterAndEnd)
{
    defaults->setInteger(Logger::kUnrecognizedActionKey, 1);
    auto log = Make();
    EXPECT_EQ(log->logPath(), out.qpath() + "/QuillLog-20240131-142501.qlg");
    EXPECT_FALSE(QFile::exists(log->logPath()));  // nothing written yet

    ConvSpec spec;
    clock = clock.addSecs(2);
    log->logConversionHeader(spec);
    EXPECT_EQ(log->logDoneMessage("short.aif", ""), noErr);
    EXPECT_EQ(log->logDoneMessage("tenchars.w", "made mono"), noErr);
    EXPECT_EQ(log->logDoneMessage(QString(32, 'a'), "c"), noErr);
    EXPECT_EQ(log->logDoneMessage(QString(33, 'b'), "c"), noErr);
    EXPECT_EQ(log->logDoneMessage(QString(40, 'd'), "c"), noErr);
    clock = clock.addSecs(3 * 86400 + 3661);  // days fold into the hours
    log->logConversionFooter();
    clock = clock.addSecs(1);
    EXPECT_EQ(log->finishLogFile(), noErr);

    const QString expected =
        "Quillmarch 4.0.0 Log File\n2024-01-31 14:25:01 +0100\n" + QString(72, '_') + "\n" +
        "CONVERSION SPECIFICATIONS: \n\n" + spec.descriptionForLog() + "\n    Copy unrecognized files" +
        "\n\n    Conversion started at: 14:25:03\n\n\nCONVERTED INPUT FILES: \n\n" +
        " short.aif\n" + " tenchars.w" + QString(23, ' ') + "made mono\n" + " " + QString(32, 'a') + " c\n" +
        " " + QString(33, 'b') + " c\n" + " " + QString(40, 'd') + " c\n" +
        "\n    Total time for this conversion : 73:01:01\n" + QString(72, '_') + "\n" +
        "\nQuillmarch finished conversion at: 15:26:05\n" + "Total conversion time: 73:01:04\n";
    EXPECT_EQ(ReadText(log->logPath()).toStdString(), expected.toStdString());
    EXPECT_EQ(log->logText(), "");

    // The log is remembered as "Last Used Log".
    EXPECT_EQ(defaults->dictionaryForKey(Logger::kLastUsedLogKey).value("ZuStringValue").toString(),
              log->logPath());
    EXPECT_FALSE(log->fatal());
}

TEST_F(LoggerTest, FailureClasses)
{
    auto log = Make();
    log->logConversionHeader(QStringLiteral("desc"));
    const QString head = log->logText();

    // Warning: written, reported back, the batch goes on.
    log->logErrorMessage("take.wav\r", -48);
    EXPECT_EQ(warnings, QStringList{"'take.wav' duplicate filename error"});
    // Warning to be reported to the maker: the prefix carries the code.
    log->logErrorMessage("next.au", -22900);
    ASSERT_EQ(warnings.size(), 2);
    EXPECT_EQ(warnings[1], "'next.au' has unsupported data (NeXT.au)");
    // Logged only.
    log->logErrorMessage("right.aif", -23015);
    EXPECT_EQ(warnings.size(), 2);
    EXPECT_EQ(stops, 0);
    EXPECT_FALSE(log->fatal());

    // Fatal from the table, a platform code by its name, an unknown code.
    log->logErrorMessage("gone.aif", -43);
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(log->fatal());
    log->logErrorMessage("param.aif", -50);
    log->logErrorMessage("odd.aif", 12345);
    EXPECT_EQ(stops, 3);
    EXPECT_EQ(warnings.size(), 2);

    const QString fill8 = QString(25, ' ');
    const QString expectedLines = "*take.wav" + fill8 + "duplicate filename error\n" + "*next.au" + QString(26, ' ') +
                                  "-22900, call Corvane: has unsupported data (NeXT.au)\n" + " right.aif" +
                                  QString(24, ' ') + "was already processed with left file\n" + "*gone.aif" + fill8 +
                                  "Expected input file not found\n" + "*param.aif" + QString(24, ' ') +
                                  "Error in a parameter\n" + "*odd.aif" + QString(26, ' ') + "unknown error 12345\n";
    EXPECT_EQ(ReadText(log->logPath()).toStdString(), (head + expectedLines).toStdString());
}

TEST_F(LoggerTest, DefaultStopSetsTheThreadStopValue)
{
    Logger::Environment env = Env();
    env.stopBatch = nullptr;
    Logger log(out.qpath(), env);
    ThreadDictionary::current().clearLastError();
    log.logErrorMessage("x", -43);
    EXPECT_EQ(ThreadDictionary::current().lastError().value_or(0), -128);
    ThreadDictionary::current().clearLastError();
}

TEST_F(LoggerTest, OnlySaveWhenErrorsKeepsLogsWithFailures)
{
    defaults->setBool(Logger::kOnlySaveWhenErrorsKey, true);
    {
        // Nothing went wrong: the log written during the batch is deleted.
        auto log = Make();
        log->logConversionHeader(QStringLiteral("d"));
        log->logDoneMessage("a.aif", "");
        EXPECT_TRUE(QFile::exists(log->logPath()));
        EXPECT_EQ(log->finishLogFile(), noErr);
        EXPECT_FALSE(QFile::exists(log->logPath()));
        EXPECT_FALSE(defaults->dictionaryForKey(Logger::kLastUsedLogKey).contains("ZuStringValue"));
    }
    const auto keeps = [&](int code, int numWarnings) {
        TestTempDir dir;
        auto log = Make(dir.qpath());
        log->logErrorMessage("f.aif", code);
        log->setNumWarnings(numWarnings);
        EXPECT_EQ(log->finishLogFile(), noErr);
        const QString text = ReadText(log->logPath());
        return text.contains("f.aif") && text.contains("Total conversion time");
    };
    EXPECT_TRUE(keeps(-23015, 0));  // logged-only failure
    EXPECT_TRUE(keeps(-43, 0));     // fatal
    EXPECT_TRUE(keeps(-48, 1));     // warning
}

TEST_F(LoggerTest, SaveLogOffWritesNothing)
{
    defaults->setBool(Logger::kSaveLogKey, false);
    auto log = Make();
    log->logDoneMessage("a.aif", "");
    log->logErrorMessage("b.aif", -43);
    EXPECT_TRUE(log->fatal());
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(log->finishLogFile(), noErr);
    EXPECT_TRUE(log->logText().contains(" a.aif\n*b.aif"));
    EXPECT_TRUE(QDir(out.qpath()).isEmpty());
}

TEST_F(LoggerTest, TakenNameGetsANumber)
{
    const QString taken = out.qpath() + "/QuillLog-20240131-142501.qlg";
    {
        QFile f(taken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("someone else's log");
    }
    QFile(taken).copy(out.qpath() + "/QuillLog-20240131-142501-1.qlg");
    auto log = Make();
    log->logDoneMessage("a.aif", "");
    EXPECT_EQ(log->logPath(), out.qpath() + "/QuillLog-20240131-142501-2.qlg");
    EXPECT_EQ(log->finishLogFile(), noErr);
    EXPECT_TRUE(ReadText(log->logPath()).startsWith("Quillmarch 4.0.0 Log File\n"));
    EXPECT_EQ(ReadText(taken), "someone else's log");

    // "Only Save When Errors" never deletes a log it did not write.
    defaults->setBool(Logger::kOnlySaveWhenErrorsKey, true);
    auto quiet = Make();
    EXPECT_EQ(quiet->finishLogFile(), noErr);
    EXPECT_EQ(ReadText(taken), "someone else's log");
}

TEST_F(LoggerTest, UnwritableFolderIsReported)
{
    // A folder that does not exist.
    auto log = Make(out.qpath() + "/missing");
    EXPECT_NE(log->logDoneMessage("a.aif", ""), noErr);
    log->logErrorMessage("b.aif", -48);  // the classification still happens
    EXPECT_EQ(warnings.size(), 1);
    const OSErr err = log->finishLogFile();
    EXPECT_NE(err, noErr);
    EXPECT_EQ(log->finishLogFile(), err);
    EXPECT_TRUE(log->logText().contains("*b.aif"));  // kept, not lost
    EXPECT_FALSE(defaults->dictionaryForKey(Logger::kLastUsedLogKey).contains("ZuStringValue"));

    // A folder removed while its log is open: the log was not kept.
    const QString gone = out.qpath() + "/gone";
    ASSERT_TRUE(QDir().mkdir(gone));
    auto vanished = Make(gone);
    EXPECT_EQ(vanished->logDoneMessage("a.aif", ""), noErr);
    ASSERT_TRUE(QDir(gone).removeRecursively());
    EXPECT_EQ(vanished->finishLogFile(), dirNFErr);
    EXPECT_FALSE(vanished->logFileCreated());
    EXPECT_FALSE(defaults->dictionaryForKey(Logger::kLastUsedLogKey).contains("ZuStringValue"));

    // A "folder" that is a file.
    const QString file = out.qpath() + "/plain";
    QFile(file).open(QIODevice::WriteOnly);
    auto notFolder = Make(file);
    EXPECT_NE(notFolder->logDoneMessage("a.aif", ""), noErr);
    EXPECT_NE(notFolder->finishLogFile(), noErr);

    // A folder without write permission (root writes anyway).
    const QString locked = out.qpath() + "/locked";
    ASSERT_TRUE(QDir().mkdir(locked));
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    auto denied = Make(locked);
    denied->logDoneMessage("a.aif", "");
    const bool canWrite = QFile::exists(denied->logPath());
    if (!canWrite)
        EXPECT_EQ(denied->finishLogFile(), -54);
    else
        denied->finishLogFile();
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(LoggerTest, ControlCharactersOfNamesAreWrittenOut)
{
    auto log = Make();
    log->logConversionHeader(QStringLiteral("desc"));
    const QString head = log->logText();
    const QString name = QStringLiteral("a\n*b.wav\x1b[2J");
    const QString shown = QStringLiteral("a\\n*b.wav\\x1b[2J");  // 16 characters
    log->logDoneMessage(name);
    log->logDoneWarning(name, -39);
    log->logSkippedMessage(name, QStringLiteral("not a sound file"));
    log->logErrorMessage(name, -48, QStringLiteral("/out/b\n*.aif"));
    const QString fill = QString(17, ' ');
    EXPECT_EQ(ReadText(log->logPath()).toStdString(),
              (head + " " + shown + "\n" + " " + shown + fill + "unexpected end of file\n" + "-" + shown + fill +
               "not a sound file\n" + "*" + shown + fill + "duplicate filename error: /out/b\\n*.aif\n")
                  .toStdString());
    EXPECT_EQ(warnings, QStringList({"'" + shown + "' unexpected end of file",
                                     "'" + shown + "' duplicate filename error: /out/b\\n*.aif"}));
}
