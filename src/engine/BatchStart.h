// One batch begun the way the application's Start button and the batch
// command both begin it: the files counted for the progress, the checks
// made before anything is written (every named input there, no input
// inside what the batch writes), the output folder and the conversions'
// subfolders made, the dither table when a conversion needs it, the log in
// the output folder with its hooks on the worker, the worker started, and
// every input's outcome counted as the summary gives it.
//
// The front end keeps what is its own: how it asks about an existing
// subfolder, how it shows a refusal, the progress and the cancel.
//
//   BatchStart batch(process, defaults);
//   if (auto refusal = batch.prepare(request)) -> show it, nothing started
//   batch.openLog(observer);
//   if (!batch.start()) -> the log is finished; say so
//   ... the worker runs ...
//   batch.finish();   // the worker is over
#pragma once

#include "ConvSpec.h"
#include "MacTypes.h"
#include "NotificationCenter.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class BatchLogHooks;
class ConversionProcess;
class Logger;
class UserDefaults;

class BatchStart {
public:
    // Where a start was refused.
    enum class Step {
        InputMissing,     // a named input is not there
        Folders,          // an input inside what the batch writes, or the output folder inside an input
        OutputFolder,     // the missing output folder could not be made
        SubfolderExists,  // a conversion's output subfolder exists and is not to be used
        Subfolder,        // a conversion's output subfolder could not be made, or no file in it
        DitherTable,      // the dither table could not be made
    };
    struct Refusal {
        Step step;
        QString title;
        QString message;
    };

    // What a front end asks for.
    struct Request {
        QStringList inputs;              // in the order the batch takes them
        QList<ConvSpecRef> conversions;  // the ones that run
        // Why each active conversion that cannot run was left out, one line
        // each (ConversionList::select's *skipped): said in the log, and
        // every file counts as not converted by each of them.
        QStringList notRun;
        QString outputFolder;
        bool checkInputsExist = false;   // refuse when a named input is not there
        bool makeOutputFolder = false;   // a missing output folder is made, with its parents
        // Control characters of the names in a message written out (a
        // terminal gets no raw ones).
        bool printableNames = false;
        // Asked, while "Easy Thru" is off, for a conversion whose output
        // subfolder exists: true keeps using it.  Empty: refused.
        std::function<bool(const ConvSpec& conversion)> useExistingSubfolder;
    };

    // How one input ended, as the summary counts it.  A note (the second
    // member of a split set, converted with the first) is for the log only
    // and not counted.
    enum class Outcome { Converted, ConvertedWithWarning, Failed, Skipped };
    // Hears each counted input, on the worker thread.
    using OutcomeObserver = std::function<void(Outcome outcome, const Notification& notification)>;

    // Both must outlive the batch.
    BatchStart(ConversionProcess& process, UserDefaults& defaults);
    ~BatchStart();
    BatchStart(const BatchStart&) = delete;
    BatchStart& operator=(const BatchStart&) = delete;

    // The message of an error code: the error table's, else the platform's
    // description or name, else "error <code>".
    static QString errorMessage(int code);
    // The same inside a sentence, with the code: "permission denied (-54)".
    static QString errorText(int code);

    // The files the inputs stand for: a file 1, a folder the entries below
    // it (DeepFileCount), a missing input none.
    static int fileCount(const QStringList& inputs);

    // In order: the inputs (when asked), the folder checks, the output
    // folder (when asked), each conversion's subfolder, the dither table.
    // Nothing when the batch may start; a refusal's texts are English, with
    // their titles as the alerts show them.
    std::optional<Refusal> prepare(const Request& request);
    // The files the prepared inputs stand for (fileCount).
    int files() const { return files_; }
    // The conversions left out (Request::notRun), and the files they did
    // not convert: each of the files once per such conversion.
    int conversionsNotRun() const { return int(request_.notRun.size()); }
    int notConverted() const { return files_ * conversionsNotRun(); }

    // The log in the output folder (each conversion left out said in it
    // first), its hooks on the worker's notifications, and the counts;
    // `observer` (when given) hears every counted input.
    void openLog(const OutcomeObserver& observer = {});
    // Starts the worker on the prepared inputs and conversions (it counts
    // as running from here).  False when it could not start: the log is
    // finished.
    bool start();
    // The end, once the worker is over: the counting stops and the log is
    // finished; the finishing result (noErr, or the first failure to
    // write).  Again: noErr.
    OSErr finish();

    Logger& logger() const { return *logger_; }
    int converted() const { return converted_.load(); }
    int failed() const { return failed_.load(); }
    int skipped() const { return skipped_.load(); }
    int warned() const { return warned_.load(); }  // converted with a warning

private:
    ConversionProcess& process_;
    UserDefaults& defaults_;
    Request request_;
    int files_ = 0;
    std::unique_ptr<Logger> logger_;
    std::unique_ptr<BatchLogHooks> hooks_;
    std::vector<NotificationCenter::Token> tokens_;
    bool finished_ = false;
    std::atomic<int> converted_{0};
    std::atomic<int> failed_{0};
    std::atomic<int> skipped_{0};
    std::atomic<int> warned_{0};
};
