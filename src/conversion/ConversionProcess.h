// ConversionProcess: the batch driver.  One object lives as long as the
// application (or the batch command); each batch runs on a worker thread of
// its own: every active conversion over every input file or folder, each
// conversion writing into its subfolder (output folder + "/" + conversion
// name), folders walked recursively and mirrored there.
//
// Starting and waiting (main thread):
//   process.start(inputPaths, activeConversions, outputFolder);
//   ... poll the progress fields, call setShouldStop(true) to cancel ...
//   process.waitUntilDone();
// doConversion() is the worker's body; it may also be run on any thread
// directly (it returns when the batch is over).
//
// Per-thread context.  While a batch runs, the worker thread's dictionary
// (ThreadDictionary) carries:
//   "QMConversionProcess"   this object (ConversionProcess*)
//   "QMCurConvSpec"         the current conversion (ConvSpecRef)
//   "ConversionSpecificationDictionary"  its dictionary()
//   "ZuOutputSpecifics"     a copy of its specifics made for each input file
//                           (MP3 tags of that input are added to the copy
//                           only, so they never reach the conversion itself
//                           or a later file)
//   "QMCurInputFilePath"    the current input's path
//   "QMCurLongName"         the input's display name
//   "ZuOutputFolderRef"     the current output folder (FSRefSerialize)
//   "id3tags"               the ID3v1 fields of the current MP3 input
//   "ZuLastError"           0 at the start of each file, the file's error
//                           when it fails, -128 after a stop request
//   "ZuNumberOfInputSamples" written by the progress channel.
// The outputs do not read these: each input's CConvSpec carries the typed
// OutputContext made from them (its specifics, the conversion's word-length
// settings, the input's path and name, the output folder), which the
// pipelines hand to every output they make.
//
// Notifications (default center, posted synchronously on the worker
// thread, sender = this object).  The payload of every one of them is a
// QVariantMap holding the notification's object under "object" and its
// further values under their own keys (see notificationObject /
// notificationUserInfo):
//   ZuConversionStartNotification   object: ConversionProcess*;
//       "total conversions" (conversions x top-level inputs, qulonglong),
//       "process thread" (QThread*)
//   ZuConversionHeaderNotification  object: the ConvSpecRef
//   ZuConversionFooterNotification  object: the ConvSpecRef (also after a stop)
//   ZuConversionSuccessNotification object: the input path; "converted file
//       path" (QStringList of final output paths, or the copy's path as a
//       string), "comment" (only for copied, unrecognised files)
//   ZuConversionFailureNotification object: the input path; "error" (int),
//       "converted file path" (QStringList).  When the output folder has
//       gone meanwhile: object the folder, "error" -21002 (which stops the
//       batch), once instead of the input's failure.
//   ZuConversionSkippedNotification object: the input path; "error" (int),
//       "reason" (text).  A success carries "warning" (int, -39) when the
//       input held less audio than its header promised.
//   ZuConversionWillRenameNotification object: a copy of the worker
//       thread's dictionary (QVariantMap)
//   ZuConversionRenameDuplicateNotification object: the new file name;
//       "QMOrigInputFile": the input's std::shared_ptr<ZuSoundFile>
//   ZuConversionDoneNotification    object: ConversionProcess*
//
// Progress.  The object observes the eight progress notifications
// (progress_channel.h) and "QMLogMessageNotification" (warnings from the
// Logger); their handlers store the values in fields that the main thread
// polls.  Every polled field is an atomic or read under a lock; the eight
// change flags are raised by the worker and lowered by the poller.
//
// Cancel.  setShouldStop(true) from any thread sets the stop flag and
// stores -128 under "ZuLastError" in the worker's dictionary; the kernels
// see it through the progress posts, the file and folder loops through the
// flag.  A stop requested after start() but before the worker runs is kept;
// start() itself clears a stop left from an earlier batch.
#pragma once

#include "ConvSpec.h"
#include "FileManager.h"
#include "MacTypes.h"
#include "NotificationCenter.h"
#include "ThreadDictionary.h"

#include <QSet>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class PathMemo;

class CConvSpec;
class CSoundFile;
struct FolderBelowProblem;
struct OutputContext;
struct OutputRenameSettings;
class QThread;
class TemporaryLedger;
class UserDefaults;
class ZuSoundFile;

class ConversionProcess {
public:
    // Notification names.
    static const QString kStartNotification;           // "ZuConversionStartNotification"
    static const QString kHeaderNotification;          // "ZuConversionHeaderNotification"
    static const QString kFooterNotification;          // "ZuConversionFooterNotification"
    static const QString kDoneNotification;            // "ZuConversionDoneNotification"
    static const QString kSuccessNotification;         // "ZuConversionSuccessNotification"
    static const QString kFailureNotification;         // "ZuConversionFailureNotification"
    static const QString kWillRenameNotification;      // "ZuConversionWillRenameNotification"
    static const QString kRenameDuplicateNotification; // "ZuConversionRenameDuplicateNotification"
    static const QString kLogMessageNotification;      // "QMLogMessageNotification"
    // An input that is not converted and not counted as failed: not a
    // regular file (FIFO, device, socket; never opened), or not a sound file
    // while "Unrecognized Input File Action" is 0.
    static const QString kSkippedNotification;         // "ZuConversionSkippedNotification"
    // A word about the batch as a whole, not about one input (object: the
    // text): a record in the output folder that was not trusted, a ledger
    // that could not be kept.
    static const QString kNoteNotification;            // "QMBatchNoteNotification"

    // Payload keys.
    static const QString kObjectKey;            // "object"
    static const QString kTotalConversionsKey;  // "total conversions"
    static const QString kProcessThreadKey;     // "process thread"
    static const QString kErrorKey;             // "error"
    static const QString kCommentKey;           // "comment"
    static const QString kConvertedFilePathKey; // "converted file path"
    static const QString kOrigInputFileKey;     // "QMOrigInputFile"
    static const QString kWarningKey;           // "warning": a success's warning code (-39: cut short)
    // "warning detail": what follows a success's warning message (how much
    // sound could not be decoded).
    static const QString kWarningDetailKey;
    // "output path": a failure's output whose name was taken, or the folder
    // where no output could be made.
    static const QString kOutputPathKey;
    static const QString kReasonKey;            // "reason": why an input was skipped, or a failure's own text
    // A note that is the batch's warning about inputs read at the raw-file
    // rate carries kWarningKey (-23906), "raw rate inputs" (their count)
    // and "raw rate" (the rate they were read at).
    static const QString kRawRateInputsKey;
    static const QString kRawRateKey;
    static const QString kNotSoundFileReason;   // "not a sound file"
    static const QString kNotRegularFileReason; // "not a regular file"
    static const QString kNotFoundReason;       // "no longer there": an entry of a walked folder removed meanwhile
    // Why a sidecar named as an input is skipped: "an AppleDouble sidecar
    // (the Finder information and resource fork of 'NAME'), not a sound
    // file of its own".
    static QString sidecarReason(const QString& sidecarName);

    // Per-thread context keys.
    static const QString kConversionProcessKey;  // "QMConversionProcess"
    static const QString kCurConvSpecKey;        // "QMCurConvSpec"
    static const QString kConvSpecDictionaryKey; // "ConversionSpecificationDictionary"
    static const QString kOutputSpecificsKey;    // "ZuOutputSpecifics"
    static const QString kCurInputFilePathKey;   // "QMCurInputFilePath"
    static const QString kCurLongNameKey;        // "QMCurLongName"
    static const QString kOutputFolderRefKey;    // "ZuOutputFolderRef"
    static const QString kID3TagsKey;            // "id3tags"
    static const QString kID3v2BlobKey;          // "ID3v2 tag blob" (in the output specifics)

    // User defaults read.
    static const QString kUnrecognizedActionKey; // "Unrecognized Input File Action" (0 skip, 1 copy, 2 raw)
    static const QString kPreserveCommentsKey;   // "Preserve Finder Comments"
    static const QString kNumberDuplicatesKey;   // "Number Duplicate Files"

    // The comment a copied, unrecognised file is logged with.
    static const QString kCopiedComment;  // "(not recognized as a sound file, just copied)"
    // The log's note for an MP3 output that carries its MP3 input's tag.
    static const QString kInputTagComment;

    struct Environment {
        UserDefaults* defaults = nullptr;  // null: the standard store
    };

    ConversionProcess();
    explicit ConversionProcess(Environment environment);
    // Waits for a running batch (after asking it to stop).
    ~ConversionProcess();
    ConversionProcess(const ConversionProcess&) = delete;
    ConversionProcess& operator=(const ConversionProcess&) = delete;

    // The notification's object and its further values (see above).
    static QVariant notificationObject(const Notification& notification);
    static QVariantMap notificationUserInfo(const Notification& notification);

    // ------------------------------------------------------ batch control
    // Starts a worker thread on doConversion.  False (nothing started) while
    // an earlier batch still runs.  Clears an earlier stop request and
    // raises the running flag before it returns.
    bool start(const QStringList& inputPaths, const QList<ConvSpecRef>& conversions, const QString& destPath);
    // Waits for the worker started by start(); true when none runs (any
    // more).  timeoutMs < 0 waits without limit.
    bool waitUntilDone(int timeoutMs = -1);
    // The worker thread exists and has not finished.
    bool isBatchThreadRunning() const;

    // The batch, on the calling thread.
    void doConversion(const QStringList& inputPaths, const QList<ConvSpecRef>& conversions,
                      const QString& destPath);

    // Stop request (any thread).  With true: the flag, err() = -128 and, while
    // a worker runs, -128 under "ZuLastError" in its dictionary.
    void setShouldStop(bool stop);

    // ------------------------------------------------------ polled state
    bool shouldStop() const { return shouldStop_.load(); }
    bool usePercentage() const { return usePercentage_.load(); }
    bool determinateStep() const { return determinateStep_.load(); }
    SInt16 err() const { return err_.load(); }
    int warnings() const { return warnings_.load(); }
    int curNumSteps() const { return curNumSteps_.load(); }
    int curStep() const { return curStep_.load(); }
    // The conversion and the file within it (both from 1), read together: a
    // poll between two conversions never pairs the new conversion with the
    // last file number of the one before.
    struct Position {
        int conversion = 0;
        int file = 0;
    };
    Position curPosition() const
    {
        const std::uint64_t packed = convAndFile_.load();
        return {int(packed >> 32), int(packed & 0xffffffffu)};
    }
    int curFile() const { return curPosition().file; }
    int curConv() const { return curPosition().conversion; }
    int curSampleFrames() const { return curSampleFrames_.load(); }
    int curValue() const { return curValue_.load(); }
    int curChannels() const { return curChannels_.load(); }
    int curChannel() const { return curChannel_.load(); }
    int curRegions() const { return curRegions_.load(); }
    int curRegionIndex() const { return curRegionIndex_.load(); }
    int curRegionStart() const { return curRegionStart_.load(); }
    int curRegionEnd() const { return curRegionEnd_.load(); }
    SInt64 curNumInSamples() const { return curNumInSamples_.load(); }
    QString curFilePath() const;
    QString curFolder() const;
    QString curStepDesc() const;
    QString curRegion() const;
    ConvSpecRef curConvSpec() const;
    QString comment() const;
    QStringList curOutputPaths() const;
    // The model of the input being converted (null between files); for the
    // worker thread's own observers, which run while it is set.
    std::shared_ptr<ZuSoundFile> curInputModel() const { return inFile_; }

    // The change flags (raised by the worker, lowered by the poller).
    enum Flag {
        kConvSpecChanged,
        kFileChanged,
        kStepChanged,
        kRegionChanged,
        kNumSampleFramesChanged,
        kChannelsChanged,
        kWarningChanged,
        kRunning,
        kNumFlags
    };
    bool flag(Flag which) const { return flags_[which].load(); }
    void setFlag(Flag which, bool raised) { flags_[which].store(raised); }
    bool convSpecChanged() const { return flag(kConvSpecChanged); }
    bool fileChanged() const { return flag(kFileChanged); }
    bool stepChanged() const { return flag(kStepChanged); }
    bool regionChanged() const { return flag(kRegionChanged); }
    bool numSampleFramesChanged() const { return flag(kNumSampleFramesChanged); }
    bool channelsChanged() const { return flag(kChannelsChanged); }
    bool warningChanged() const { return flag(kWarningChanged); }
    bool running() const { return flag(kRunning); }

    // The warnings not fetched yet (emptied); nothing at once while the
    // worker holds the warnings lock.
    std::optional<QStringList> newWarnings();

    // ------------------------------------------------ per-file flow (worker)
    // One input file under the current conversion.  `outputName` null: the
    // outputs are named after the input's display name.
    void processFile(const QString& path, const QString& outputName = QString());
    // One input folder: mirrored in the current output folder and walked in
    // listing order.  Folders already being walked (links back up the tree)
    // and folders inside the conversion's own output folder are not entered.
    void deepProcessFolder(const QString& path);
    // Open, count, check, run, close.
    SInt16 processOther(CSoundFile* in, CConvSpec* spec);
    // The same on the conversion's snip window of the input.
    SInt16 processSnippet(CSoundFile* in, CConvSpec* spec);
    // A conversion that keeps the input's type needs a type that can be
    // written: 0, or kTypeNotWritableErr with the failure's text (naming
    // the type) kept for the failure notification.
    SInt16 checkKeptTypeWritable(CSoundFile* in, CConvSpec* spec);
    // CheckConversionLimits, its refusal's line kept for the failure
    // notification.
    SInt16 checkLimits(CSoundFile* in, CConvSpec* spec);
    // Finder flag "invisible" (from the sidecar); NO on any error.
    static bool isHFSInvisible(const QString& path);
    // A name beginning with "." that the resource "dotignore" lists.
    static bool isDotInvisible(const QString& name);
    // FSSpec (folder path, empty name) and FSRef of the current output
    // folder, made first when it is still to be made (pendingFolders_).
    OSErr getOutputSpec(FSSpec* spec, FSRef* ref);
    // Why `folder` cannot take outputs, as EnterFolderBelow found it, into
    // unmadeFolders_.
    void noteUnmadeFolder(const QString& folder, const FolderBelowProblem& problem);
    // `folder` (a file's output folder) relative to the batch's output folder.
    std::string outputRelative(const QString& folder) const;
    // ID3 tags of an input whose extension is "mp3": the ID3v2 tag into the
    // file's output specifics, else the ID3v1 fields under "id3tags".
    void readID3TagsFromFile(const QString& path);
    // Whether the file just converted by `convSpec` got its input's ID3v2
    // tag instead of the conversion's tag values.
    bool inputTagKept(const ConvSpecRef& convSpec);
    // "id3tags" into the output specifics under the MP3 encoder's keys.
    void writeID3Tags();
    // Final names for the outputs listed for the current input; 0 or -48.
    SInt16 renameOutputTo(const QString& finalName);
    // The same, asked before anything is written (CConvSpec::CheckOutputNames)
    // for the created-files list's entries from `firstEntry` on: -48 when a
    // final name is taken and duplicates are not numbered.
    SInt16 checkOutputNames(const QString& finalName, qsizetype firstEntry);
    // The preferences of renaming, with the duplicates' notification.
    OutputRenameSettings renameSettings();

    // The window [start, end) that snip times give on `frames` frames at
    // `rate`: start = rate x from, end = rate x to (to = -1.0: the file's
    // end), truncated; inside the file the end is cut at the file's end; a
    // window starting at or after the end moves back to end there, keeping
    // its length (the whole file when longer).  -39 for a window that
    // neither fits nor can be moved (no length), -22002 for an empty window
    // or a negative or not-a-number time.
    static OSErr SnippetWindow(UInt32 frames, double rate, double snipFrom, double snipTo, UInt32* start,
                               UInt32* end);

private:
    // The stages of doConversion: the batch's state reset, the worker's
    // context opened, each conversion run over every input, the context
    // closed.
    void resetBatchState();
    void openWorkerContext();
    void runConversion(const ConvSpecRef& conversion);
    void closeWorkerContext();

    // The stages of processFile, on the per-file values of FileRun: detect
    // (missing, special, hidden, the file's context), decide (set members,
    // the input object, skip, copy or raw), the output folder, run and
    // rename, and the outcome posted.
    struct FileRun;
    bool reportMissingInput(const QString& path);
    void resetFileState(const QString& path);
    bool detectFile(FileRun& run);
    void checkSetMembers(FileRun& run);
    void decideFile(FileRun& run);
    void handleUnrecognized(FileRun& run);
    // The output folder of an input that is to make outputs, and the
    // conversion's context for them (run.spec); the folder's failure in
    // run.error.
    void enterOutputFolder(FileRun& run);
    // A dot-named file met inside a walked folder (never one the user named).
    bool hiddenInWalk(const FileRun& run) const;
    // What the outputs of this input are told: the specifics made for it,
    // the conversion's word-length settings, the input and the folder.
    OutputContext outputContextFor(const FileRun& run) const;
    void runAndRename(FileRun& run);
    void postOutcome(FileRun& run);

    struct FolderId {
        UInt64 device = 0;
        UInt64 inode = 0;
    };

    UserDefaults& defaults() const;
    ThreadDictionary dict() const;
    // A field of the polled state (below), read or written under stateMutex_.
    template <typename T>
    T readState(const T& field) const
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        return field;
    }
    template <typename T>
    void writeState(T& field, const T& value)
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        field = value;
    }
    void setCurConvSpec(const ConvSpecRef& spec);
    void setCurFile(const QString& path);
    void setCurFolder(const QString& folder);
    void setComment(const QString& comment);
    void post(const QString& name, const QVariant& object, const QVariantMap& userInfo = QVariantMap());
    // `reason`, when given, is said in place of the code's message.
    void postFailure(const QString& path, int error, const QString& reason = QString());
    void postSkipped(const QString& path, int error, const QString& reason);
    // The sidecars of `folder` into the conversion's memo (see PathMemo).
    void rememberSidecars(const QString& folder);
    void setLastErrorForFile(SInt64 code);
    void deleteCreatedOutputs();
    // The output folder (or the highest of its missing parents up to the
    // destination) when the current file's output folder has gone; empty
    // while it is there.
    QString vanishedOutputFolder() const;
    bool insideOutputFolder(const std::string& resolvedPath) const;
    void registerObservers();
    void unregisterObservers();

    Environment env_;
    std::vector<NotificationCenter::Token> tokens_;

    // Batch thread and the handle on its dictionary (threadMutex_).
    mutable std::mutex threadMutex_;
    std::unique_ptr<QThread> thread_;
    QThread* curThread_ = nullptr;
    ThreadDictionary workerDict_;

    std::atomic<bool> shouldStop_{false};
    std::atomic<bool> usePercentage_{false};
    std::atomic<bool> determinateStep_{false};
    std::atomic<SInt16> err_{0};
    std::atomic<int> warnings_{0};
    std::atomic<int> curNumSteps_{0};
    std::atomic<int> curStep_{0};
    std::atomic<std::uint64_t> convAndFile_{0};  // the conversion above the file, as curPosition() reads them
    std::atomic<int> curSampleFrames_{0};
    std::atomic<int> curValue_{0};
    std::atomic<int> curChannels_{0};
    std::atomic<int> curChannel_{0};
    std::atomic<int> curRegions_{0};
    std::atomic<int> curRegionIndex_{0};
    std::atomic<int> curRegionStart_{0};
    std::atomic<int> curRegionEnd_{0};
    std::atomic<SInt64> curNumInSamples_{0};
    std::atomic<bool> flags_[kNumFlags];

    // Texts and the conversion the poller reads (stateMutex_).
    mutable std::mutex stateMutex_;
    QString curFilePath_;
    QString curFolder_;
    QString curStepDesc_;
    QString curRegion_;
    ConvSpecRef curConvSpec_;
    QString comment_;
    QStringList curOutputPaths_;
    QString refusedOutputPath_;  // the first output whose final name was taken (this file)
    QString failureReason_;      // the current file's failure text, when its code's message is not enough
    // Members of sets that cannot be read as a whole (this conversion), and
    // the inputs whose failure was posted already (worker only), so that a
    // broken member is reported once, by whichever member meets it first.
    QSet<QString> brokenSetMembers_;
    QSet<QString> reportedSetMembers_;

    // Warnings not fetched yet (warningsMutex_).
    std::mutex warningsMutex_;
    QStringList newWarnings_;
    // The inputs of this batch read at the raw-file rate, the first of
    // them, and that rate (worker thread only): said once at the batch's
    // end (RawRateNote).
    QSet<QString> rawRateInputs_;
    QString rawRateFirst_;
    double rawRateRead_ = 0.0;

    // Worker-only state.
    QStringList inputFiles_;
    QList<ConvSpecRef> conversions_;
    QString destPath_;
    std::shared_ptr<ZuSoundFile> inFile_;
    CSoundFile* sf_ = nullptr;
    QString lastPathProcessed_;
    bool hasLastPathProcessed_ = false;
    std::vector<FolderId> walkStack_;
    std::string curConvOutputResolved_;  // the conversion's subfolder, links resolved
    // The mirrored folders this conversion's walk could not make, with what
    // kept them from being made: their files fail alone, naming it.
    QHash<QString, QString> unmadeFolders_;
    // This conversion's output folders not made yet (its subfolder, the
    // mirrors of walked folders): each is made with the first output that
    // goes into it, so an input that fails before any output makes none.
    QSet<QString> pendingFolders_;
    // The memo of the conversion that runs (what its folders hold).
    PathMemo* conversionMemo_ = nullptr;
    // The record of the batch's temporary files, from its start to its end.
    std::unique_ptr<TemporaryLedger> ledger_;
};
