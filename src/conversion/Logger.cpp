#include "Logger.h"

#include "ConvSpec.h"
#include "FileManager.h"
#include "FileOperations.h"
#include "MainBundle.h"
#include "NotificationCenter.h"
#include "PreferenceKeys.h"
#include "PropertyList.h"
#include "ThreadDictionary.h"
#include "UserDefaults.h"
#include "ZuPath.h"
#include "error_table.h"
#include "string_utils.h"
#include "mac_errors.h"

#include <QLocale>
#include <QTimeZone>

const QString Logger::kLogMessageNotification = QStringLiteral("QMLogMessageNotification");
const QString Logger::kSaveLogKey = PreferenceKeys::kSaveLog;
const QString Logger::kOnlySaveWhenErrorsKey = PreferenceKeys::kOnlySaveWhenErrors;
const QString Logger::kUnrecognizedActionKey = PreferenceKeys::kUnrecognizedInputFileAction;
const QString Logger::kLastUsedLogKey = PreferenceKeys::kLastUsedLog;

namespace {

const char* const kBuiltInVersion = "4.0.0";
const QString kRuleLine = QString(72, QLatin1Char('_')) + QLatin1Char('\n');
constexpr int kNameColumns = 33;
// How many numbered names are tried when the log's name is taken.
constexpr int kMaxLogNameNumber = 9999;

QString Localized(const char* text)
{
    return MainBundle::localizedString(QString::fromUtf8(text));
}

QString Clock(const QDateTime& time)
{
    const QTime t = time.time();
    return QString::asprintf("%02d:%02d:%02d", t.hour(), t.minute(), t.second());
}

} // namespace

// ============================================================ helpers
QString Logger::logFileName(const QDateTime& time)
{
    const QDate d = time.date();
    const QTime t = time.time();
    return QString::asprintf("QuillLog-%04d%02d%02d-%02d%02d%02d.qlg", d.year(), d.month(), d.day(), t.hour(),
                             t.minute(), t.second());
}

QString Logger::blankFill(qsizetype length)
{
    return QString(length < kNameColumns ? kNameColumns - length : 1, QLatin1Char(' '));
}

QString Logger::formatDuration(qint64 seconds)
{
    if (seconds < 0)
        seconds = 0;
    return QString::asprintf("%02lld:%02d:%02d", static_cast<long long>(seconds / 3600), int(seconds / 60 % 60),
                             int(seconds % 60));
}

QString Logger::formatDate(const QDateTime& time)
{
    const QDate d = time.date();
    const QTime t = time.time();
    const int offset = time.offsetFromUtc() / 60;
    const int magnitude = offset < 0 ? -offset : offset;
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d %c%02d%02d", d.year(), d.month(), d.day(), t.hour(),
                             t.minute(), t.second(), offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
}

QString Logger::applicationVersion()
{
    const QString info = MainBundle::pathForResource(QStringLiteral("Info"), QStringLiteral("plist"));
    if (!info.isEmpty()) {
        const QVariant root = PropertyList::fromFile(info);
        const QString version = root.toMap().value(QStringLiteral("CFBundleVersion")).toString();
        if (!version.isEmpty())
            return version;
    }
    return QString::fromLatin1(kBuiltInVersion);
}

// ====================================================== construction
Logger::Logger(const QString& folder) : Logger(folder, Environment()) {}

Logger::Logger(const QString& folder, Environment environment) : env_(std::move(environment)), folder_(folder)
{
    numWarnings_ = 0;
    startTime_ = now();
    startConvTime_ = startTime_;
    const QString version = env_.version.isEmpty() ? applicationVersion() : env_.version;
    logText_ = QStringLiteral("Quillmarch ") + version + QStringLiteral(" Log File\n") + formatDate(startTime_) +
               QLatin1Char('\n');
    errorDict_ = env_.errorNamesGiven ? env_.errorNames : LoadMacErrorsDictionary();
    logPath_ = folder_ + QLatin1Char('/') + logFileName(startTime_);
}

Logger::~Logger()
{
    finishLogFile();
    closeLogFile();
}

void Logger::setStopHandler(std::function<void()> stopBatch)
{
    env_.stopBatch = std::move(stopBatch);
}

QDateTime Logger::now() const
{
    return env_.clock ? env_.clock() : QDateTime::currentDateTime();
}

UserDefaults& Logger::defaults() const
{
    return env_.defaults ? *env_.defaults : UserDefaults::standardUserDefaults();
}

NotificationCenter& Logger::center() const
{
    return env_.center ? *env_.center : NotificationCenter::defaultCenter();
}

// ============================================================= lines
void Logger::logConversionHeader(const ConvSpec& spec)
{
    logConversionHeader(spec.descriptionForLog());
}

void Logger::logConversionHeader(const QString& description)
{
    logText_ += kRuleLine;
    logText_ += QStringLiteral("CONVERSION SPECIFICATIONS: \n\n");
    logText_ += description;
    if (defaults().integerForKey(kUnrecognizedActionKey) == 1)
        logText_ += QStringLiteral("\n    Copy unrecognized files");
    startConvTime_ = now();
    logText_ += QStringLiteral("\n\n    Conversion started at: ") + Clock(startConvTime_) +
                QStringLiteral("\n\n\nCONVERTED INPUT FILES: \n\n");
}

void Logger::logConversionFooter()
{
    logText_ += QStringLiteral("\n    Total time for this conversion : ") +
                formatDuration(startConvTime_.secsTo(now())) + QLatin1Char('\n');
}

OSErr Logger::logConversionNotRun(const QString& why, int files)
{
    ++failures_;
    logText_ += kRuleLine;
    logText_ += QStringLiteral("CONVERSION NOT RUN: \n\n    ") + printable_text(why) +
                QStringLiteral("\n    Input files not converted: %1\n").arg(files);
    return writeLogTextToFile();
}

OSErr Logger::logDoneMessage(const QString& fileName, const QString& comment)
{
    const QString name = printable_text(fileName);
    if (comment.isEmpty())
        logText_ += QLatin1Char(' ') + name + QLatin1Char('\n');
    else
        logText_ += QLatin1Char(' ') + name + blankFill(name.size()) + comment + QLatin1Char('\n');
    return writeLogTextToFile();
}

OSErr Logger::logDoneWarning(const QString& fileName, int32_t code, const QString& detail)
{
    const QString name = printable_text(fileName);
    QString message = MainBundle::localizedString(QString::fromStdString(LookupErrorMessage(code).message));
    if (!detail.isEmpty())
        message += QStringLiteral(": ") + printable_text(detail);
    logText_ += QLatin1Char(' ') + name + blankFill(name.size()) + message + QLatin1Char('\n');
    const OSErr written = writeLogTextToFile();
    center().postNotification(kLogMessageNotification, QStringLiteral("'%1' %2").arg(name, message));
    return written;
}

OSErr Logger::logSkippedMessage(const QString& fileName, const QString& reason)
{
    const QString name = printable_text(fileName);
    logText_ += QLatin1Char('-') + name + blankFill(name.size()) + printable_text(reason) + QLatin1Char('\n');
    return writeLogTextToFile();
}

OSErr Logger::logNote(const QString& text)
{
    logText_ += QStringLiteral("Note: ") + printable_text(text) + QLatin1Char('\n');
    return writeLogTextToFile();
}

OSErr Logger::logErrorMessage(const QString& fileName, int32_t code, const QString& detail, const QString& text)
{
    QString name = fileName;
    if (name.endsWith(QLatin1Char('\r')))
        name.chop(1);
    // A line feed or other control character in a name never starts a
    // line of its own in the log.
    name = printable_text(name);
    const ErrorMessage entry = LookupErrorMessage(code);
    // The asterisk marks a failure; a note (the second member of a split
    // set, converted with the first) is lined up with the converted files.
    const bool note = entry.message_class == kErrorClassNote;
    ++failures_;
    logText_ += (note ? QLatin1Char(' ') : QLatin1Char('*')) + name + blankFill(name.size());

    QString message;
    QString prefix;
    enum class Then { Warn, Nothing, Stop } then = Then::Stop;
    switch (entry.message_class) {
    case kErrorClassReportWarning:
        // The maker's advice is for the program's own faults, which the
        // table's text alone tells; a text of the caller's names what is
        // wrong in the input or the setting, and what to do.
        if (text.isEmpty())
            prefix = Localized("%d, call Corvane: ").replace(QStringLiteral("%d"), QString::number(code));
        [[fallthrough]];
    case kErrorClassWarning:
    case kErrorClassNote:
    case kErrorClassFatal:
        // The table's text in the user's language; the class says what follows.
        message = MainBundle::localizedString(QString::fromStdString(entry.message));
        then = entry.message_class == kErrorClassNote    ? Then::Nothing
               : entry.message_class == kErrorClassFatal ? Then::Stop
                                                         : Then::Warn;
        break;
    default: {
        // Not a class of the table: the platform's error names, then the
        // table's own text, else "unknown error".
        const QVariantMap known = errorDict_.value(QString::number(code)).toMap();
        message = known.value(QStringLiteral("description")).toString().trimmed();
        if (message.isEmpty())
            message = known.value(QStringLiteral("name")).toString().trimmed();
        if (message.isEmpty())
            message = QString::fromStdString(entry.message);
        if (message.isEmpty())
            message = Localized("unknown error %d").replace(QStringLiteral("%d"), QString::number(code));
        then = Then::Stop;
        break;
    }
    }
    if (!text.isEmpty())
        message = text;
    if (!detail.isEmpty())
        message += QStringLiteral(": ") + printable_text(detail);
    logText_ += prefix + message + QLatin1Char('\n');
    const OSErr written = writeLogTextToFile();

    if (then == Then::Warn) {
        center().postNotification(kLogMessageNotification, QStringLiteral("'%1' %2").arg(name, message));
    } else if (then == Then::Stop) {
        stopBatch();
        fatal_ = true;
    }
    return written;
}

void Logger::stopBatch()
{
    if (env_.stopBatch)
        env_.stopBatch();
    else
        ThreadDictionary::current().setLastError(userCanceledErr);
}

// ============================================================ writing
void Logger::noteWriteError(OSErr err)
{
    if (err && !writeError_)
        writeError_ = err;
}

OSErr Logger::logResult() const
{
    // A write that failed and was made good by a later one (room was made
    // on a full disk) lost nothing.
    if (writeError_)
        return writeError_;
    return logText_.isEmpty() ? noErr : pendingError_;
}

OSErr Logger::createLogFile()
{
    const QString stem = logPath_.endsWith(QStringLiteral(".qlg")) ? logPath_.chopped(4) : logPath_;
    OSErr err = noErr;
    for (int number = 0; number <= kMaxLogNameNumber; ++number) {
        const QString candidate =
            number == 0 ? stem + QStringLiteral(".qlg") : stem + QStringLiteral("-%1.qlg").arg(number);
        err = CreateFileExclusive(candidate.toStdString());
        if (err == noErr) {
            logPath_ = candidate;
            created_ = true;
            return noErr;
        }
        if (err != dupFNErr)
            return err;
    }
    return err;
}

OSErr Logger::writeLogTextToFile()
{
    if (!defaults().boolForKey(kSaveLogKey))
        return noErr;
    if (logText_.isEmpty())
        return noErr;
    OSErr err = noErr;
    if (!created_)
        err = createLogFile();
    // The file stays open from the first write to the end of the batch,
    // written only through the descriptor that made it (the file layer
    // takes it for the opening); each piece goes to the file (not to a
    // buffer) as it comes, so a crash loses none of the lines written.
    if (err == noErr && logRef_ == 0) {
        FSSpec spec;
        err = PathMakeFSSpec(logPath_.toStdString(), &spec);
        SInt16 refNum = 0;
        if (err == noErr)
            err = FSpOpenDF(&spec, fsWrPerm, &refNum);
        if (err == noErr)
            logRef_ = refNum;
    }
    if (err == noErr) {
        const QByteArray bytes = logText_.toUtf8();
        SInt64 whole = 0;
        err = GetEOF(logRef_, &whole);
        if (err == noErr)
            err = SetFPos(logRef_, fsFromLEOF, 0);
        long count = 0;
        if (err == noErr) {
            count = long(bytes.size());
            err = FSWrite(logRef_, &count, bytes.constData());
        }
        if (err == noErr && count != long(bytes.size()))
            err = ioErr;
        if (err == noErr) {
            logText_.clear();
        } else {
            // The text stays, for the next write (through the same
            // descriptor: the log is never opened again by its name); what
            // this one wrote of it goes, so that the file never holds a
            // piece twice.  When it cannot, the log is not whole.
            if (count > 0 && SetEOF(logRef_, whole) != noErr)
                noteWriteError(err);
        }
    }
    pendingError_ = err;
    return err;
}

OSErr Logger::closeLogFile()
{
    if (logRef_ == 0)
        return noErr;
    const OSErr closed = FSClose(logRef_);
    logRef_ = 0;
    return closed;
}

OSErr Logger::finishLogFile()
{
    if (finished_)
        return finishResult_;
    finished_ = true;

    UserDefaults& prefs = defaults();
    if (prefs.boolForKey(kOnlySaveWhenErrorsKey) && numWarnings_ < 1 && failures_ == 0 && !fatal_) {
        // Nothing went wrong: the log goes.  Only the file this log made is
        // ever deleted.
        noteWriteError(closeLogFile());
        if (created_) {
            const OSErr err = DeletePath(logPath_.toStdString());
            if (err && err != fnfErr)
                noteWriteError(err);
            created_ = false;
        }
        LetGoOfMadeFile(logPath_.toStdString());
        finishResult_ = writeError_;
        return finishResult_;
    }

    const QDateTime end = now();
    logText_ += kRuleLine;
    logText_ += Localized("\nQuillmarch finished conversion at: ");
    logText_ += Clock(end) + QLatin1Char('\n');
    logText_ += QStringLiteral("Total conversion time: ") + formatDuration(startTime_.secsTo(end)) + QLatin1Char('\n');
    writeLogTextToFile();
    noteWriteError(closeLogFile());
    // Written to the end, yet gone with its folder (removed while the batch
    // ran), or its name taken by another program: no log was kept there.
    if (created_ && CheckMadeFile(logPath_.toStdString()) != noErr) {
        noteWriteError(IsFolder(folder_.toStdString()) ? kFileReplacedErr : dirNFErr);
        created_ = false;
    } else if (created_ && !PathExists(logPath_.toStdString())) {
        noteWriteError(dirNFErr);
        created_ = false;
    }
    LetGoOfMadeFile(logPath_.toStdString());

    finishResult_ = logResult();
    if (prefs.boolForKey(kSaveLogKey) && created_) {
        prefs.setObject(kLastUsedLogKey, ZuPath(logPath_).dictionary());
        prefs.synchronize();
    }
    return finishResult_;
}
