// The link between a running batch and its log, as the application makes it
// and the batch command makes it too: observers of the batch notifications
// of one ConversionProcess that call the Logger on the worker thread, and
// the Logger's stop request routed to the process.
//
//   Header  -> logConversionHeader(the conversion)
//   Footer  -> logConversionFooter()
//   Success -> logDoneMessage(name, "comment"); "Number of Files Ever
//              Converted" counts one up (not synchronised here)
//   Failure -> logErrorMessage(name, "error")
//   Note    -> logNote(text)
// The name is the display name of the input (a ZuSoundFile's name), put
// after the input's folder path when "Full Paths Into Log" is on.
#pragma once

#include "MacTypes.h"
#include "NotificationCenter.h"

#include <QString>

#include <vector>

class ConversionProcess;
class Logger;
class UserDefaults;

class BatchLogHooks {
public:
    static const QString kFullPathsIntoLogKey;        // "Full Paths Into Log"
    static const QString kNumberOfFilesConvertedKey;  // "Number of Files Ever Converted"

    // Observes `process` and writes into `logger`; both must outlive the
    // hooks.  `defaults` null: the standard store.
    BatchLogHooks(ConversionProcess& process, Logger& logger, UserDefaults* defaults = nullptr);
    // Stops observing.
    ~BatchLogHooks();
    BatchLogHooks(const BatchLogHooks&) = delete;
    BatchLogHooks& operator=(const BatchLogHooks&) = delete;

    // The name a file is logged under.
    QString logName(const QString& inputPath) const;

    // The batch's end: the warning count goes to the log, which is finished;
    // returns the finishing result (noErr, or the first failure to write).
    OSErr finish();

private:
    UserDefaults& defaults() const;

    ConversionProcess& process_;
    Logger& logger_;
    UserDefaults* defaults_;
    std::vector<NotificationCenter::Token> tokens_;  // one per notification name
};
