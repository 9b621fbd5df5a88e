// The text log of one batch, written into the output folder: a head with the
// application's version and the start time, per conversion a header with the
// conversion's description and a footer with its duration, one line per
// converted or failed input file, and a closing part with the end time and
// the total duration.  It also classes every failure code through the error
// table: warnings go back to the batch as "QMLogMessageNotification", codes
// of the logged-only class are only written, every other code marks the log
// fatal and stops the batch.
//
// The application (and the batch command) makes one Logger per batch and
// calls it from its observers of the batch notifications, on the worker
// thread:
//   ZuConversionHeaderNotification  -> logConversionHeader(spec)
//   ZuConversionFooterNotification  -> logConversionFooter()
//   ZuConversionSuccessNotification -> logDoneMessage(name, comment)
//   ZuConversionFailureNotification -> logErrorMessage(name, code, output path)
//   ZuConversionSkippedNotification -> logSkippedMessage(name, reason)
// (a success carrying a warning goes to logDoneWarning(name, code))
// and at the end setNumWarnings(the batch's warning count), fatal() and
// finishLogFile() (which the destructor runs when nobody did).
//
// The file: "QuillLog" + the start time as "-%Y%m%d-%H%M%S" + ".qlg" in the
// folder, made exclusively at the first write; when that name is taken,
// "-1", "-2" ... is added before ".qlg".  It is appended to in pieces and
// never rewritten, through the descriptor that made it alone (never opened
// again by its name, which another program may take in a folder others can
// write); when at the end its name no longer holds it, no log was kept
// there: finishLogFile() says kFileReplacedErr.  Texts are UTF-8; numbers
// and dates are written the same
// in every locale.  A file name's control characters are written out
// ("\n", "\x1b"), so that no name can start a line of its own.
//
// User defaults read: "Save Log", "Only Save When Errors", "Unrecognized
// Input File Action"; written: "Last Used Log".
//
// A failure to write the log does not stop the batch: the text stays and
// goes to the file with the next write (what the failed write put in is
// cut off again), so that a log that ends whole (room was made on a full
// disk) is one; finishLogFile() returns the failure when the log is not
// whole, so that the caller can tell the user.
#pragma once

#include "MacTypes.h"

#include <QDateTime>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>

class ConvSpec;
class NotificationCenter;
class UserDefaults;

class Logger {
public:
    static const QString kLogMessageNotification;  // "QMLogMessageNotification"
    static const QString kSaveLogKey;              // "Save Log"
    static const QString kOnlySaveWhenErrorsKey;   // "Only Save When Errors"
    static const QString kUnrecognizedActionKey;   // "Unrecognized Input File Action"
    static const QString kLastUsedLogKey;          // "Last Used Log"

    // What a Logger uses of its surroundings; every member may stay empty.
    struct Environment {
        UserDefaults* defaults = nullptr;       // null: the standard store
        NotificationCenter* center = nullptr;   // null: the default center
        std::function<QDateTime()> clock;       // empty: the local time now
        QString version;                        // empty: ApplicationVersion()
        // The platform error names (LoadMacErrorsDictionary()); read from the
        // resources when not given.
        QVariantMap errorNames;
        bool errorNamesGiven = false;
        // Asks the running batch to stop (ConversionProcess::setShouldStop
        // with true).  Empty: -128 is stored as the calling thread's stop
        // value ("ZuLastError"), which the kernels and the progress posts see.
        std::function<void()> stopBatch;
    };

    // Batch start: the head goes into the log text; nothing is written yet.
    explicit Logger(const QString& folder);
    Logger(const QString& folder, Environment environment);
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void setStopHandler(std::function<void()> stopBatch);

    // The conversion's header (its descriptionForLog); starts its clock.
    void logConversionHeader(const ConvSpec& spec);
    // The same with the description given as text.
    void logConversionHeader(const QString& description);
    // "Total time for this conversion".
    void logConversionFooter();
    // An active conversion that cannot run and was left out: its own part
    // with why (`why` names it) and the count of input files it did not
    // convert.  Counts as a failure (the log is kept with "Only Save When
    // Errors").  Writes; returns the write's result.
    OSErr logConversionNotRun(const QString& why, int files);
    // A converted file: " name" and, when the comment is not empty, the blank
    // fill and the comment.  Writes; returns the write's result.
    OSErr logDoneMessage(const QString& name, const QString& comment = QString());
    // A converted file with a warning (-39 for an input cut short): " name",
    // the blank fill and the code's message, then ": " and `detail` when it
    // is given; posts the warning.
    OSErr logDoneWarning(const QString& name, int32_t code, const QString& detail = QString());
    // An input that was skipped: "-name", the blank fill and the reason.
    // Neither a warning nor a failure.
    OSErr logSkippedMessage(const QString& name, const QString& reason);
    // A word about the whole batch: "Note: " and the text on a line of its
    // own.  Neither a warning nor a failure.
    OSErr logNote(const QString& text);
    // A failed file: "*name", the blank fill, the code's message (a note of
    // the logged-only class: " name", no asterisk).  Writes,
    // then warns, stops the batch or does nothing by the code's class.
    // Returns the write's result.
    // `detail` (the output's path for a code about an output) follows the
    // message after ": ".  `text`, when given, is said in place of the
    // code's message (the class is still the code's).
    OSErr logErrorMessage(const QString& name, int32_t code, const QString& detail = QString(),
                          const QString& text = QString());

    void setNumWarnings(int warnings) { numWarnings_ = warnings; }
    int numWarnings() const { return numWarnings_; }
    void setStartConvTime(const QDateTime& time) { startConvTime_ = time; }
    // A fatal code stopped the batch.
    bool fatal() const { return fatal_; }
    // A failed-file line was logged.
    bool hasFailures() const { return failures_ > 0; }

    // Closes the log: with "Only Save When Errors" on, a log without
    // warnings, failures or fatal codes is deleted; otherwise the closing
    // part is written and, with "Save Log" on, "Last Used Log" is stored.
    // Returns noErr when the log is whole (or, not kept, deleted);
    // otherwise the failure that left it so: the first that lost part of
    // it for good (see writeError()), else the last write's, whose text
    // never reached the file.  Runs once; later calls return the same
    // result.
    OSErr finishLogFile();
    // With "Save Log" on: appends the log text to the file (making the file
    // at the first write) and empties the text.  With it off: nothing, and
    // the text keeps growing.  On failure the text is kept for the next try.
    OSErr writeLogTextToFile();

    QString logPath() const { return logPath_; }
    QString logText() const { return logText_; }
    QDateTime startTime() const { return startTime_; }
    // The first failure that lost part of the log for good (a failed
    // write that could not be cut off again, a close or deletion that
    // failed, the file gone); noErr when none did.
    OSErr writeError() const { return writeError_; }
    bool logFileCreated() const { return created_; }

    // "QuillLog-20240131-142501.qlg" for that time.
    static QString logFileName(const QDateTime& time);
    // The blank fill after a name of `length` characters: 33 - length
    // blanks, at least one.
    static QString blankFill(qsizetype length);
    // "%02d:%02d:%02d" of a duration in seconds (days fold into the hours;
    // negative durations count as 0).
    static QString formatDuration(qint64 seconds);
    // The time as "2024-01-31 14:25:01 +0100".
    static QString formatDate(const QDateTime& time);
    // "CFBundleVersion" of the resources' "Info.plist", else the built-in
    // version.
    static QString applicationVersion();

private:
    QDateTime now() const;
    UserDefaults& defaults() const;
    NotificationCenter& center() const;
    OSErr createLogFile();
    // Closes the log file when it is open; FSClose's result.
    OSErr closeLogFile();
    void noteWriteError(OSErr err);
    // finishLogFile()'s result.
    OSErr logResult() const;
    void stopBatch();

    Environment env_;
    QString folder_;
    QString logPath_;
    QString logText_;
    QDateTime startTime_;
    QDateTime startConvTime_;
    int numWarnings_ = 0;
    QVariantMap errorDict_;
    bool fatal_ = false;
    int failures_ = 0;
    bool created_ = false;
    SInt16 logRef_ = 0;  // the open log file (0: not open)
    bool finished_ = false;
    OSErr writeError_ = noErr;    // part of the log lost for good
    OSErr pendingError_ = noErr;  // the last write's, while its text waits
    OSErr finishResult_ = noErr;
};
