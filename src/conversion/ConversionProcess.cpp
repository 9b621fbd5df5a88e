#include "ConversionProcess.h"

#include "AppleDoubleFile.h"
#include "CConvSpec.h"
#include "CSnippetFile.h"
#include "CSoundFile.h"
#include "CSplitFile.h"
#include "CreateSoundFile.h"
#include "CreatedFilesList.h"
#include "error_codes.h"
#include "FileOperations.h"
#include "FileTypeDictionary.h"
#include "FolderCount.h"
#include "FolderListing.h"
#include "format_type_codes.h"
#include "frame_times.h"
#include "FrameworkException.h"
#include "MacErrorMapping.h"
#include "MemoryManager.h"
#include "OutputNaming.h"
#include "InputHandOff.h"
#include "PathMemo.h"
#include "PathResolution.h"
#include "PreConversionCheck.h"
#include "PreferenceKeys.h"
#include "ProvenItems.h"
#include "TemporaryLedger.h"
#include "UserDefaults.h"
#include "ZuSoundFile.h"
#include "debug_trace.h"
#include "dot_ignore.h"
#include "error_table.h"
#include "error_code_exception.h"
#include "finder_comments.h"
#include "format_type_codes.h"
#include "id3_tags.h"
#include "progress_channel.h"
#include "raw_rate_note.h"
#include "resampling_filter.h"
#include "path_problems.h"
#include "string_utils.h"

#include <QStringDecoder>
#include <QStringList>
#include <QLocale>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <limits>
#include <utility>

const QString ConversionProcess::kStartNotification = QStringLiteral("ZuConversionStartNotification");
const QString ConversionProcess::kHeaderNotification = QStringLiteral("ZuConversionHeaderNotification");
const QString ConversionProcess::kFooterNotification = QStringLiteral("ZuConversionFooterNotification");
const QString ConversionProcess::kDoneNotification = QStringLiteral("ZuConversionDoneNotification");
const QString ConversionProcess::kSuccessNotification = QStringLiteral("ZuConversionSuccessNotification");
const QString ConversionProcess::kFailureNotification = QStringLiteral("ZuConversionFailureNotification");
const QString ConversionProcess::kWillRenameNotification = QStringLiteral("ZuConversionWillRenameNotification");
const QString ConversionProcess::kRenameDuplicateNotification =
    QStringLiteral("ZuConversionRenameDuplicateNotification");
const QString ConversionProcess::kLogMessageNotification = QStringLiteral("QMLogMessageNotification");
const QString ConversionProcess::kNoteNotification = QStringLiteral("QMBatchNoteNotification");
const QString ConversionProcess::kSkippedNotification = QStringLiteral("ZuConversionSkippedNotification");

const QString ConversionProcess::kObjectKey = QStringLiteral("object");
const QString ConversionProcess::kTotalConversionsKey = QStringLiteral("total conversions");
const QString ConversionProcess::kProcessThreadKey = QStringLiteral("process thread");
const QString ConversionProcess::kErrorKey = QStringLiteral("error");
const QString ConversionProcess::kCommentKey = QStringLiteral("comment");
const QString ConversionProcess::kConvertedFilePathKey = QStringLiteral("converted file path");
const QString ConversionProcess::kOrigInputFileKey = QStringLiteral("QMOrigInputFile");
const QString ConversionProcess::kWarningKey = QStringLiteral("warning");
const QString ConversionProcess::kWarningDetailKey = QStringLiteral("warning detail");
const QString ConversionProcess::kOutputPathKey = QStringLiteral("output path");
const QString ConversionProcess::kReasonKey = QStringLiteral("reason");
const QString ConversionProcess::kRawRateInputsKey = QStringLiteral("raw rate inputs");
const QString ConversionProcess::kRawRateKey = QStringLiteral("raw rate");
const QString ConversionProcess::kNotSoundFileReason = QStringLiteral("not a sound file");
const QString ConversionProcess::kNotRegularFileReason = QStringLiteral("not a regular file");
const QString ConversionProcess::kNotFoundReason = QStringLiteral("no longer there");

QString ConversionProcess::sidecarReason(const QString& sidecarName)
{
    return QStringLiteral("an AppleDouble sidecar (the Finder information and resource fork of '%1'), not a sound "
                          "file of its own")
        .arg(sidecarName.mid(2));
}

const QString ConversionProcess::kConversionProcessKey = QStringLiteral("QMConversionProcess");
const QString ConversionProcess::kCurConvSpecKey = QStringLiteral("QMCurConvSpec");
const QString ConversionProcess::kConvSpecDictionaryKey = QStringLiteral("ConversionSpecificationDictionary");
const QString ConversionProcess::kOutputSpecificsKey = QStringLiteral("ZuOutputSpecifics");
const QString ConversionProcess::kCurInputFilePathKey = QStringLiteral("QMCurInputFilePath");
const QString ConversionProcess::kCurLongNameKey = QStringLiteral("QMCurLongName");
const QString ConversionProcess::kOutputFolderRefKey = QStringLiteral("ZuOutputFolderRef");
const QString ConversionProcess::kID3TagsKey = QStringLiteral("id3tags");
const QString ConversionProcess::kID3v2BlobKey = QStringLiteral("ID3v2 tag blob");

const QString ConversionProcess::kUnrecognizedActionKey = PreferenceKeys::kUnrecognizedInputFileAction;
const QString ConversionProcess::kPreserveCommentsKey = PreferenceKeys::kPreserveFinderComments;
const QString ConversionProcess::kNumberDuplicatesKey = PreferenceKeys::kNumberDuplicateFiles;

const QString ConversionProcess::kCopiedComment = QStringLiteral("(not recognized as a sound file, just copied)");
const QString ConversionProcess::kInputTagComment =
    QStringLiteral("(the input's own ID3 tag was copied; the conversion's tag values were not used)");

namespace {

// The first member of a set that cannot be opened on its own, with its
// code; empty when every member opens.
QString UnreadableSetMember(const std::vector<std::string>& members, SInt16* code)
{
    for (const std::string& member : members) {
        OSType type = 0;
        OSErr err = DetectFileType(member, &type);
        if (err == noErr) {
            std::unique_ptr<CSoundFile> file(CreateSoundFileObject(type));
            err = file ? file->SetFile(member) : kUnknownFileFormatErr;
            if (err == noErr) {
                err = file->Open();
                file->Close();  // also after a failed open (nothing happens when none is open)
            }
        }
        if (err != noErr) {
            *code = err;
            return QString::fromStdString(member);
        }
    }
    return QString();
}

// What a cut input lost, where it can be known, for its warning after
// "unexpected end of file": "2.040 s missing" (the header states more), "the
// stream stops at 3.000 s without its end mark"; empty when nothing tells.
QString CutText(const SFTDecodeLoss& loss, double sampleRate)
{
    const auto seconds = [&](UInt64 frames) {
        return QString::number(sampleRate > 0 ? double(frames) / sampleRate : 0.0, 'f', 3);
    };
    if (loss.cutFrames > 0)
        return QStringLiteral("%1 s missing").arg(seconds(loss.cutFrames));
    if (loss.unmarkedEnd > 0)
        return QStringLiteral("the stream stops at %1 s without its end mark").arg(seconds(loss.unmarkedEnd));
    return QString();
}

// How much of an input's sound could not be decoded, for its warning:
// "3 of 131 packets refused by the decoder, 0.070 s replaced by silence",
// "2.040 s lost" ...; "unexpected end of file" follows for an input that
// was also cut short.
QString DecodeLossText(const SFTDecodeLoss& loss, double sampleRate, bool cutShort)
{
    const auto seconds = [&](UInt64 frames) {
        return QString::number(sampleRate > 0 ? double(frames) / sampleRate : 0.0, 'f', 3);
    };
    QStringList parts;
    if (loss.refusedPackets > 0)
        parts << QStringLiteral("%1 of %2 packets refused by the decoder")
                     .arg(loss.refusedPackets)
                     .arg(std::max(loss.packets, loss.refusedPackets));
    if (loss.silencedFrames > 0)
        parts << QStringLiteral("%1 s replaced by silence").arg(seconds(loss.silencedFrames));
    if (loss.missingFrames > 0)
        parts << QStringLiteral("%1 s lost").arg(seconds(loss.missingFrames));
    if (loss.repeatedFrames > 0)
        parts << QStringLiteral("%1 s repeated").arg(seconds(loss.repeatedFrames));
    if (loss.misplacedFrames > 0)
        parts << QStringLiteral("%1 s out of order").arg(seconds(loss.misplacedFrames));
    if (loss.gaps > 0)
        parts << (loss.gaps == 1 ? QStringLiteral("sound damaged at 1 place, how much no header states")
                                 : QStringLiteral("sound damaged at %1 places, how much no header states").arg(loss.gaps));
    // (A header stating more than its file can hold states ~0.)
    if (loss.headerFrames == ~UInt64(0))
        parts << QStringLiteral("the header states more than the file can hold, the stream holds %1 s")
                     .arg(seconds(loss.heldFrames));
    else if (loss.headerFrames != loss.heldFrames)
        parts << QStringLiteral("the header states %1 s, the stream holds %2 s")
                     .arg(seconds(loss.headerFrames), seconds(loss.heldFrames));
    if (loss.checksumMismatch)
        parts << QStringLiteral("the sound decoded does not match the MD5 checksum the file stores");
    QString text = parts.join(QStringLiteral(", "));
    if (cutShort) {
        text += QStringLiteral("; ") + QString::fromStdString(LookupErrorMessage(eofErr).message);
        if (const QString cut = CutText(loss, sampleRate); !cut.isEmpty())
            text += QStringLiteral(", ") + cut;
    }
    return text;
}

// "1 sample clipped", "21700 samples clipped".
QString ClippedSamplesText(quint64 count)
{
    return count == 1 ? QStringLiteral("1 sample clipped") : QStringLiteral("%1 samples clipped").arg(count);
}

// The table's message of a code, else "error <code>".
QString ErrorText(int code)
{
    const std::string message = LookupErrorMessage(code).message;
    return message.empty() ? QStringLiteral("error %1").arg(code) : QString::fromStdString(message);
}

// The table's message of a code, else "not a sound file".
QString ReasonText(int code)
{
    const std::string message = LookupErrorMessage(code).message;
    return message.empty() ? ConversionProcess::kNotSoundFileReason : QString::fromStdString(message);
}

// Why an output could not take its final name `target` (-37): its name, or
// its sidecar's ("._" and the name), is longer than a file name may be.
QString NameTooLongReason(const QString& target)
{
    constexpr qsizetype kMaxNameBytes = 255;
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    const QString name = target.mid(slash + 1);
    const qsizetype bytes = name.toUtf8().size();
    if (bytes > kMaxNameBytes)
        return QStringLiteral("the output's name is too long for the file system (%1 bytes, at most %2): %3")
            .arg(bytes)
            .arg(kMaxNameBytes)
            .arg(target);
    return QStringLiteral("the name of the output's sidecar is too long for the file system (%1 bytes, at most %2): %3")
        .arg(bytes + 2)
        .arg(kMaxNameBytes)
        .arg(target.left(slash + 1) + QStringLiteral("._") + name);
}

using format_type_codes::kSplitSet;
using format_type_codes::kSurroundSet;

std::string ParentOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

QString ParentPath(const QString& path)
{
    return QString::fromStdString(ParentOf(path.toStdString()));
}

QString LastPathComponent(const QString& path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    const qsizetype slash = p.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? p : p.mid(slash + 1);
}

// The path extension: what follows the last "." of the last component
// (none for a name that only begins with ".").
QString PathExtension(const QString& path)
{
    const QString name = LastPathComponent(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return QString();
    return name.mid(dot + 1);
}

// The file's header, or its name's extension, gives a sound file type.
bool ShowsASoundType(const QString& path)
{
    OSType type = 0;
    if (DetectFileTypeFromContents(path.toStdString(), &type) != kUnknownFileFormatErr)
        return true;
    const QString extension = PathExtension(path).toLower();
    return !extension.isEmpty() && GetReadableTypes().contains(extension);
}

int ToInt(const QVariant& v)
{
    return v.toInt();
}

// A snip time as the nearest frame; false for a negative or not-a-number
// product.  Saturates far inside the 64-bit range.
bool TimeToFrames(double rate, double seconds, SInt64* frames)
{
    const double product = rate * seconds;
    if (std::isnan(product) || product < 0.0)
        return false;
    *frames = SInt64(FramesFromSeconds(seconds, rate, UInt64(std::numeric_limits<SInt64>::max() / 2)));
    return true;
}

// Why a snip gives no window on an input of `frames` frames at `rate` Hz
// (SnippetWindow's -39 or -22002): the snip, and what of the input it
// missed.
QString SnipRefusal(UInt32 frames, double rate, double from, double to)
{
    auto number = [](double value) { return QLocale::c().toString(value, 'g', 10); };
    const QString snip = to == -1.0 ? QStringLiteral("the snip from %1 s to the end").arg(number(from))
                                    : QStringLiteral("the snip from %1 s to %2 s").arg(number(from), number(to));
    if (frames == 0)
        return QStringLiteral("this input holds no audio (0 frames), so %1 holds nothing").arg(snip);
    SInt64 start = 0;
    SInt64 end = 0;
    if (!TimeToFrames(rate, from, &start) || (to != -1.0 && !TimeToFrames(rate, to, &end)))
        return QStringLiteral("%1 cannot be counted in frames at %2 Hz").arg(snip, number(rate));
    return QStringLiteral("%1 holds no whole frame at %2 Hz (one frame lasts %3 ms): have the snip last at least "
                          "that long")
        .arg(snip, number(rate), QLocale::c().toString(1000.0 / rate, 'g', 3));
}

} // namespace

// ============================================================ life

ConversionProcess::ConversionProcess() : ConversionProcess(Environment{}) {}

ConversionProcess::ConversionProcess(Environment environment) : env_(environment)
{
    for (auto& f : flags_)
        f.store(false);
    CreatedFilesListInit();
    registerObservers();
}

ConversionProcess::~ConversionProcess()
{
    if (isBatchThreadRunning())
        setShouldStop(true);
    waitUntilDone();
    unregisterObservers();
    CreatedFilesListRelease();
}

UserDefaults& ConversionProcess::defaults() const
{
    return env_.defaults ? *env_.defaults : UserDefaults::standardUserDefaults();
}

ThreadDictionary ConversionProcess::dict() const
{
    return ThreadDictionary::current();
}

QVariant ConversionProcess::notificationObject(const Notification& notification)
{
    return notification.object.toMap().value(kObjectKey);
}

QVariantMap ConversionProcess::notificationUserInfo(const Notification& notification)
{
    QVariantMap info = notification.object.toMap();
    info.remove(kObjectKey);
    return info;
}

void ConversionProcess::post(const QString& name, const QVariant& object, const QVariantMap& userInfo)
{
    QVariantMap payload = userInfo;
    payload.insert(kObjectKey, object);
    NotificationCenter::defaultCenter().postNotification(name, payload, this);
}

void ConversionProcess::postSkipped(const QString& path, int error, const QString& reason)
{
    post(kSkippedNotification, path, QVariantMap{{kErrorKey, error}, {kReasonKey, reason}});
}

void ConversionProcess::postFailure(const QString& path, int error, const QString& reason)
{
    // A member of a set that failed is not reported again by another member.
    reportedSetMembers_.insert(path);
    QVariantMap info{{kErrorKey, error}, {kConvertedFilePathKey, curOutputPaths()}};
    // No output can be made where this input's outputs go: the folder is
    // named, so that the failure does not read as the input's.
    const QString folder = curFolder();
    if ((error == permErr || error == wPrErr) && CheckFolderWritable(folder.toStdString()) == error)
        info.insert(kOutputPathKey, folder);
    // An output another program replaced: the folder where it happened.
    const QString replaced =
        error == kOutputReplacedErr
            ? QStringLiteral("its output in '%1' was replaced by another program while it was written").arg(folder)
            : QString();
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (error == dupFNErr && !refusedOutputPath_.isEmpty())
            info.insert(kOutputPathKey, refusedOutputPath_);
        // A reason belongs to the one failure it was kept for.
        const QString kept = std::exchange(failureReason_, QString());
        if (!reason.isEmpty() || !kept.isEmpty() || !replaced.isEmpty())
            info.insert(kReasonKey, !reason.isEmpty() ? reason : !replaced.isEmpty() ? replaced : kept);
    }
    post(kFailureNotification, path, info);
}

// ============================================================ observers

void ConversionProcess::registerObservers()
{
    NotificationCenter& center = NotificationCenter::defaultCenter();
    auto add = [&](const QString& name, NotificationCenter::Callback cb) {
        tokens_.push_back(center.addObserver(name, nullptr, std::move(cb)));
    };
    add(kProgressNumSampleFramesNotification, [this](const Notification& n) {
        curSampleFrames_.store(ToInt(n.object));
        setFlag(kNumSampleFramesChanged, true);
    });
    add(kProgressPositionNotification, [this](const Notification& n) {
        usePercentage_.store(false);
        curValue_.store(ToInt(n.object));
    });
    add(kProgressPercentageNotification, [this](const Notification& n) {
        usePercentage_.store(true);
        curValue_.store(ToInt(n.object));
    });
    add(kProgressNumChannelsNotification, [this](const Notification& n) {
        curChannels_.store(ToInt(n.object));
        setFlag(kChannelsChanged, true);
    });
    add(kProgressChannelNotification, [this](const Notification& n) {
        const QVariantList list = n.object.toList();
        if (list.size() >= 2) {
            curChannel_.store(list.at(0).toInt());
            curChannels_.store(list.at(1).toInt());
        }
        setFlag(kChannelsChanged, true);
    });
    add(kProgressNumStepsNotification, [this](const Notification& n) {
        curNumSteps_.store(ToInt(n.object));
        curStep_.store(0);
    });
    add(kProgressStepNotification, [this](const Notification& n) {
        const QVariantList list = n.object.toList();
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            curStepDesc_ = list.value(0).toString();
        }
        determinateStep_.store(!list.value(1).toBool());
        // A step starts at its beginning: the last step's position (all of
        // its frames) is not this one's.
        curValue_.store(0);
        curStep_.fetch_add(1);
        setFlag(kStepChanged, true);
    });
    add(kProgressRegionNotification, [this](const Notification& n) {
        const QVariantList list = n.object.toList();
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            curRegion_ = list.value(0).toString();
        }
        curRegionStart_.store(list.value(1).toInt());
        curRegionEnd_.store(list.value(2).toInt());
        curRegionIndex_.store(list.value(3).toInt());
        curRegions_.store(list.value(4).toInt());
        setFlag(kRegionChanged, true);
    });
    add(kLogMessageNotification, [this](const Notification& n) {
        const QString text = n.object.toString();
        {
            std::lock_guard<std::mutex> lock(warningsMutex_);
            newWarnings_.append(text);
        }
        setFlag(kWarningChanged, true);
        const int count = warnings_.fetch_add(1) + 1;
        QM_TRACE("handleLogMessage", "warning " << count << ": " << text.toStdString());
    });
}

void ConversionProcess::unregisterObservers()
{
    for (NotificationCenter::Token token : tokens_)
        NotificationCenter::defaultCenter().removeObserver(token);
    tokens_.clear();
}

std::optional<QStringList> ConversionProcess::newWarnings()
{
    std::unique_lock<std::mutex> lock(warningsMutex_, std::try_to_lock);
    if (!lock.owns_lock())
        return std::nullopt;
    QStringList out = newWarnings_;
    newWarnings_.clear();
    return out;
}

// ============================================================ polled texts

QString ConversionProcess::curFilePath() const
{
    return readState(curFilePath_);
}

QString ConversionProcess::curFolder() const
{
    return readState(curFolder_);
}

QString ConversionProcess::curStepDesc() const
{
    return readState(curStepDesc_);
}

QString ConversionProcess::curRegion() const
{
    return readState(curRegion_);
}

ConvSpecRef ConversionProcess::curConvSpec() const
{
    return readState(curConvSpec_);
}

QString ConversionProcess::comment() const
{
    return readState(comment_);
}

QStringList ConversionProcess::curOutputPaths() const
{
    return readState(curOutputPaths_);
}

void ConversionProcess::setCurFolder(const QString& folder)
{
    writeState(curFolder_, folder);
}

void ConversionProcess::setComment(const QString& comment)
{
    writeState(comment_, comment);
}

void ConversionProcess::setCurConvSpec(const ConvSpecRef& spec)
{
    writeState(curConvSpec_, spec);
    if (!spec)
        return;
    ThreadDictionary d = dict();
    d.setValue(kCurConvSpecKey, QVariant::fromValue(spec));
    d.setValue(kConvSpecDictionaryKey, spec->dictionary());
    d.setValue(kOutputSpecificsKey, spec->specifics());
}

void ConversionProcess::setCurFile(const QString& path)
{
    writeState(curFilePath_, path);
    convAndFile_.fetch_add(1);
    setFlag(kFileChanged, true);
    if (!path.isNull())
        dict().setValue(kCurInputFilePathKey, path);
}

// ============================================================ batch control

bool ConversionProcess::start(const QStringList& inputPaths, const QList<ConvSpecRef>& conversions,
                              const QString& destPath)
{
    std::unique_ptr<QThread> finished;
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        if (thread_ && !thread_->isFinished())
            return false;
        finished = std::move(thread_);
        // A new batch forgets the stop request of the previous one; a stop
        // requested from now on, even before the worker runs, is kept.
        shouldStop_.store(false);
        err_.store(0);
        setFlag(kRunning, true);
    }
    if (finished)
        finished->wait();
    finished.reset();

    QThread* thread = QThread::create([this, inputPaths, conversions, destPath] {
        doConversion(inputPaths, conversions, destPath);
    });
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        thread_.reset(thread);
    }
    thread->start();
    return true;
}

bool ConversionProcess::waitUntilDone(int timeoutMs)
{
    QThread* thread = nullptr;
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        thread = thread_.get();
    }
    if (!thread)
        return true;
    if (timeoutMs < 0)
        return thread->wait();
    return thread->wait(QDeadlineTimer(timeoutMs));
}

bool ConversionProcess::isBatchThreadRunning() const
{
    std::lock_guard<std::mutex> lock(threadMutex_);
    return thread_ && !thread_->isFinished();
}

void ConversionProcess::setShouldStop(bool stop)
{
    std::lock_guard<std::mutex> lock(threadMutex_);
    shouldStop_.store(stop);
    if (stop) {
        err_.store(userCanceledErr);
        if (workerDict_.isValid())
            workerDict_.setLastError(userCanceledErr);
    }
}

void ConversionProcess::setLastErrorForFile(SInt64 code)
{
    // Under the thread lock, so that a stop request racing with the reset at
    // the start of a file is never overwritten by the 0.
    std::lock_guard<std::mutex> lock(threadMutex_);
    ThreadDictionary d = dict();
    d.setLastError(code);
    if (shouldStop_.load())
        d.setLastError(userCanceledErr);
}

void ConversionProcess::doConversion(const QStringList& inputPaths, const QList<ConvSpecRef>& conversions,
                                     const QString& destPath)
{
    // Every file makes and frees the same working buffers.
    KeepFreedMemoryForReuse();
    resetBatchState();
    openWorkerContext();

    inputFiles_ = inputPaths;
    conversions_ = conversions;
    destPath_ = destPath;

    post(kStartNotification, QVariant::fromValue(this),
         QVariantMap{{kTotalConversionsKey, qulonglong(conversions.size()) * qulonglong(inputPaths.size())},
                     {kProcessThreadKey, QVariant::fromValue(QThread::currentThread())}});

    {
        // What killed runs into this output folder left, proven theirs by
        // their ledgers, goes first (every conversion folder's); then this
        // run keeps its own ledger until its end.
        const std::string destination = destPath.toStdString();
        std::vector<std::string> untrusted;
        if (TemporaryLedger::RemoveLeftovers(destination, &untrusted) > 0)
            QM_TRACE("doConversion", "removed the leftovers of killed runs in '" << destination << "'");
        // What proves nothing is left alone, and said.
        for (const std::string& record : untrusted)
            post(kNoteNotification,
                 QStringLiteral("the record '%1' is left alone: it is not a record of this program's that "
                                "only you own and can write, so nothing it names is removed")
                     .arg(QString::fromStdString(record)));
        ledger_ = std::make_unique<TemporaryLedger>(destination);
        if (ledger_->error() != noErr) {
            QM_TRACE("doConversion", "no ledger of temporary files in '" << destination << "': " << ledger_->error());
            post(kNoteNotification,
                 QStringLiteral("the record of temporary files cannot be made in '%1' (%2): if this run is "
                                "killed, its temporary files there are not removed by later runs")
                     .arg(destPath, QString::number(ledger_->error())));
        }
        for (const ConvSpecRef& conversion : conversions_) {
            if (shouldStop_.load() || !conversion)
                break;
            runConversion(conversion);
            if (shouldStop_.load())
                break;
        }
        ledger_.reset();
    }
    // The inputs read at a rate the user did not choose, once for the
    // batch: a warning (also where the progress shows them) that names the
    // rate and where it came from.
    if (const QString note = RawRateNote(rawRateInputs_.size(), rawRateFirst_, rawRateRead_, defaults());
        !note.isEmpty()) {
        post(kNoteNotification, note,
             QVariantMap{{kWarningKey, int(kRawFileRateWarning)}, {kRawRateInputsKey, rawRateInputs_.size()},
                         {kRawRateKey, rawRateRead_}});
        NotificationCenter::defaultCenter().postNotification(kLogMessageNotification, note);
    }

    post(kDoneNotification, QVariant::fromValue(this));
    closeWorkerContext();
    setFlag(kRunning, false);
}

void ConversionProcess::resetBatchState()
{
    determinateStep_.store(false);
    curNumSteps_.store(0);
    warnings_.store(0);
    convAndFile_.store(0);
    // The seven change flags; the running flag stays raised from start() on,
    // so that a poll never sees the batch end before it began.
    for (int f = 0; f < kRunning; ++f)
        setFlag(Flag(f), false);
    setFlag(kRunning, true);
    rawRateInputs_.clear();
    rawRateFirst_.clear();
    rawRateRead_ = 0.0;
    std::lock_guard<std::mutex> lock(warningsMutex_);
    newWarnings_.clear();
}

void ConversionProcess::openWorkerContext()
{
    std::lock_guard<std::mutex> lock(threadMutex_);
    curThread_ = QThread::currentThread();
    workerDict_ = ThreadDictionary::current();
    workerDict_.setValue(kConversionProcessKey, QVariant::fromValue(this));
    if (shouldStop_.load())
        workerDict_.setLastError(userCanceledErr);
}

void ConversionProcess::closeWorkerContext()
{
    std::lock_guard<std::mutex> lock(threadMutex_);
    // The context ends with the batch (the thread may live on when the
    // batch ran on a thread of the caller's).
    for (const QString& key : {kConversionProcessKey, kCurConvSpecKey, kConvSpecDictionaryKey, kOutputSpecificsKey,
                               kCurInputFilePathKey, kCurLongNameKey, kOutputFolderRefKey, kID3TagsKey})
        workerDict_.remove(key);
    workerDict_.clearLastError();
    curThread_ = nullptr;
    workerDict_ = ThreadDictionary();
}

void ConversionProcess::runConversion(const ConvSpecRef& conversion)
{
    // The next conversion, at no file yet, in one step.
    convAndFile_.store(std::uint64_t(curConv() + 1) << 32);
    setFlag(kConvSpecChanged, true);
    setCurConvSpec(conversion);
    hasLastPathProcessed_ = false;
    lastPathProcessed_.clear();
    brokenSetMembers_.clear();
    reportedSetMembers_.clear();
    unmadeFolders_.clear();
    pendingFolders_.clear();

    post(kHeaderNotification, QVariant::fromValue(conversion));

    const QString folder = destPath_ + QLatin1Char('/') + conversion->conversionName();
    setCurFolder(folder);
    // The conversion's subfolder is made with its first output.
    std::string resolved;
    if (ResolvePath(folder.toStdString(), &resolved) == noErr) {
        curConvOutputResolved_ = resolved;
    } else if (ResolvePath(destPath_.toStdString(), &resolved) == noErr) {
        pendingFolders_.insert(folder);
        curConvOutputResolved_ = resolved + '/' + conversion->conversionName().toStdString();
    } else {
        curConvOutputResolved_.clear();
    }
    walkStack_.clear();
    // What the walk learns of its folders (which sidecars they hold) holds
    // for this conversion.
    PathMemo conversionMemo;
    conversionMemo_ = &conversionMemo;
    const struct MemoEnds {
        PathMemo*& memo;
        ~MemoEnds() { memo = nullptr; }
    } memoEnds{conversionMemo_};
    rememberSidecars(folder);

    for (const QString& input : inputFiles_) {
        if (shouldStop_.load())
            break;
        if (IsFolder(input.toStdString()))
            deepProcessFolder(input);
        else
            processFile(input, QString());
    }

    post(kFooterNotification, QVariant::fromValue(conversion));
}

// ============================================================ per file

// What one call of processFile carries from stage to stage.
struct ConversionProcess::FileRun {
    QString path;
    QString outputName;
    QString name;       // the path's last component
    QString longName;   // the input's display name: the outputs' base name
    SInt16 error = noErr;
    FSSpec folderSpec;
    FSRef folderRef;
    std::unique_ptr<CConvSpec> spec;
    bool finished = false;  // skipped or copied: no outcome to post
    bool alone = false;     // a member of a broken set, converted on its own
    bool cutShort = false;  // the input held less audio than its header said
    SFTDecodeLoss loss;     // what of the input's sound could not be decoded
    double sampleRate = 0;  // the input's
    bool rawRate = false;   // the input's rate is the raw-file settings'
};

void ConversionProcess::processFile(const QString& path, const QString& outputName)
{
    // The input, its folder and the output folder are asked about once for
    // the file (the model, the detection and the pipeline each look).
    PathMemo memo;
    {
        const std::string input = path.toStdString();
        const std::string output = curFolder().toStdString();
        memo.pin(input);
        memo.pin(ParentOf(input));
        // (A folder still to be made changes when it is.)
        if (!pendingFolders_.contains(curFolder())) {
            memo.pin(output);
            memo.pin(ParentOf(output));
        }
    }
    // What the first look at the input opened goes to its conversion
    // (before the memo ends, while the file layer still sees it).
    InputHandOff handOff(path.toStdString());
    FileRun run;
    run.path = path;
    run.outputName = outputName;
    if (detectFile(run)) {
        decideFile(run);
        // Without its output folder the file fails at once.
        if (!run.finished && run.error == noErr)
            enterOutputFolder(run);
        if (run.spec && !run.finished)
            runAndRename(run);
        // Clean-up: the input object goes (never the input file).
        if (sf_) {
            sf_->CloseAndDelete(false);
            sf_ = nullptr;
        }
        run.spec.reset();
        if (!run.finished)
            postOutcome(run);
    }
    CreatedFilesListClear();
    inFile_.reset();
    // The file is done with: none of its temporaries is in use any more.
    if (ledger_)
        ledger_->settle();
}

bool ConversionProcess::reportMissingInput(const QString& path)
{
    const int missing = StatPath(path.toStdString(), nullptr);
    if (!missing)
        return false;
    // A name whose bytes were not UTF-8 reaches us with them set apart
    // (file_name_text), and so is not found: it fails alone.
    if (has_undecodable_bytes(path)) {
        postFailure(path, kNameNotUTF8Err);
        return true;
    }
    // An input named by the user that has vanished stops the batch; an
    // entry of a walked folder only fails, or is skipped, alone: a link
    // whose original is gone or that leads back into itself, or a file
    // removed since the folder was listed.
    PathStatus link;
    if (walkStack_.empty())
        postFailure(path, fnfErr);
    else if (StatPathNoFollow(path.toStdString(), &link) == 0 && link.isSymlink)
        postFailure(path, missing == ELOOP ? kAliasLoopErr : kAliasOriginalNotFoundErr, BrokenLinkProblem(path));
    else
        postSkipped(path, fnfErr, kNotFoundReason);
    return true;
}

void ConversionProcess::resetFileState(const QString& path)
{
    err_.store(0);
    setLastErrorForFile(0);
    TakeOutputWarning();  // none is left from an earlier file
    TakeClippedSamples();
    setCurFile(path);

    // The file's own context: a fresh copy of the conversion's specifics,
    // no tags or outputs of an earlier file.
    ThreadDictionary d = dict();
    const ConvSpecRef convSpec = curConvSpec();
    d.setValue(kOutputSpecificsKey, convSpec ? convSpec->specifics() : QVariantMap());
    d.remove(kID3TagsKey);
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        curOutputPaths_.clear();
        comment_.clear();
        refusedOutputPath_.clear();
        failureReason_.clear();
    }
    CreatedFilesListClear();
    curNumInSamples_.store(0);
}

bool ConversionProcess::detectFile(FileRun& run)
{
    const QString& path = run.path;
    if (reportMissingInput(path))
        return false;
    resetFileState(path);

    run.name = LastPathComponent(path);
    const QString& name = run.name;
    // A sidecar is one by its content, not its name alone (a sound file
    // named "._x.wav" is an input like any other).
    const bool sidecar = name.startsWith(QLatin1String("._")) && AppleDoubleFile::IsSidecarFile(path.toStdString());
    // A FIFO, device or socket is never opened: reading one could wait for
    // ever, and it cannot be a sound file.
    PathStatus status;
    if (!sidecar && StatPath(path.toStdString(), &status) == 0 && !status.isFile && !status.isFolder) {
        postSkipped(path, notAFileErr, kNotRegularFileReason);
        return false;
    }
    inFile_ = std::make_shared<ZuSoundFile>(path);
    run.longName = inFile_->name();

    // Inside a walked folder, AppleDouble sidecars (which go with their
    // files), invisible and ignored files are passed over without a line;
    // an input the user named is converted, or a sidecar skipped with its
    // reason.
    const bool named = walkStack_.empty();
    if (sidecar) {
        if (named)
            postSkipped(path, kUnknownFileFormatErr, sidecarReason(name));
        return false;
    }
    if (!named && (isHFSInvisible(path) || isDotInvisible(run.longName)))
        return false;

    // "07 Title.mp3" -> "Title.mp3"
    QString& longName = run.longName;
    if (PathExtension(name) == QLatin1String("mp3") && longName.size() >= 3 && longName.at(0).isDigit() &&
        longName.at(1).isDigit() && longName.at(0).unicode() < 128 && longName.at(1).unicode() < 128 &&
        longName.at(2) == QLatin1Char(' '))
        longName = longName.mid(3);

    ThreadDictionary d = dict();
    d.setValue(kCurLongNameKey, longName);

    if (defaults().boolForKey(kPreserveCommentsKey)) {
        const QString c = finder_get_comment(path);
        setComment(c.isEmpty() ? QString() : c);
    }
    const ConvSpecRef convSpec = curConvSpec();
    if (convSpec && convSpec->nameExtension().compare(QLatin1String("mp3"), Qt::CaseInsensitive) == 0)
        readID3TagsFromFile(path);
    return true;
}

void ConversionProcess::enterOutputFolder(FileRun& run)
{
    run.error = getOutputSpec(&run.folderSpec, &run.folderRef);
    if (run.error)
        return;
    run.spec = std::make_unique<CConvSpec>(curConvSpec(), &run.folderSpec, &run.folderRef, run.longName);
    dict().setValue(kOutputFolderRefKey, FSRefSerialize(run.folderRef));
}

void ConversionProcess::checkSetMembers(FileRun& run)
{
    // A split or surround set with a member that cannot be read: that
    // member fails under its own name (once), and the readable members
    // are converted on their own.
    const QString& path = run.path;
    if (reportedSetMembers_.contains(path))
        run.finished = true;  // failed already, under its own name
    const OSType groupType = inFile_->hfsFileType();
    if (run.finished || (groupType != kSplitSet && groupType != kSurroundSet))
        return;
    if (!brokenSetMembers_.contains(path)) {
        SInt16 memberError = noErr;
        const QString bad = UnreadableSetMember(inFile_->surround_set(), &memberError);
        if (!bad.isEmpty()) {
            for (const std::string& member : inFile_->surround_set())
                brokenSetMembers_.insert(QString::fromStdString(member));
            // The broken member is reported once, whichever member
            // finds it (a broken member may not see its own set).
            if (bad == path)
                run.error = memberError;
            else if (!reportedSetMembers_.contains(bad))
                postFailure(bad, memberError);
        }
    }
    if (brokenSetMembers_.contains(path)) {
        run.alone = true;
        inFile_->setHfsFileType(inFile_->hfsRealType());
    }
}

void ConversionProcess::decideFile(FileRun& run)
{
    checkSetMembers(run);

    OSErr created = noErr;
    if (run.error == noErr && !run.finished) {
        sf_ = inFile_->createSoundFile(&created);
        run.error = created;
    }

    // The second member of a split or surround set right after the
    // first: converted with it already.
    const OSType setType = inFile_->hfsFileType();
    if (sf_ && !run.alone && hasLastPathProcessed_ && (setType == kSplitSet || setType == kSurroundSet)) {
        const std::string last = lastPathProcessed_.toStdString();
        for (const std::string& member : inFile_->surround_set())
            if (member == last) {
                run.error = kSplitRightAlreadyProcessedErr;
                break;
            }
    }
    lastPathProcessed_ = inFile_->path();
    hasLastPathProcessed_ = true;

    if (!run.finished && run.error == noErr && !sf_ && run.alone)
        run.error = kUnknownFileFormatErr;
    if (!run.finished && !run.alone && (!sf_ || run.error == kUnknownFileFormatErr || run.error == eofErr))
        handleUnrecognized(run);

    if (!run.finished && hiddenInWalk(run))
        run.finished = true;
}

bool ConversionProcess::hiddenInWalk(const FileRun& run) const
{
    return !walkStack_.empty() && run.name.startsWith(QLatin1Char('.'));
}

void ConversionProcess::handleUnrecognized(FileRun& run)
{
    const QString& path = run.path;
    const QString& name = run.name;
    // Only what is no sound file is skipped, copied or read as raw: a file
    // whose header or extension gives its type, and that could not be read
    // after all, has failed.
    if (ShowsASoundType(path)) {
        if (run.error == noErr)
            run.error = inFile_->errorCode() ? SInt16(inFile_->errorCode()) : kUnknownFileFormatErr;
        return;
    }
    const qlonglong action = defaults().integerForKey(kUnrecognizedActionKey);
    if (action == 0) {
        // Skipped, but never without a word (a dot-named file in a walked
        // folder stays silent, as below).
        if (!hiddenInWalk(run)) {
            const SInt16 why = run.error                ? run.error
                               : inFile_->errorCode() ? SInt16(inFile_->errorCode())
                                                      : noErr;
            postSkipped(path, why ? why : kUnknownFileFormatErr,
                        why == noErr || why == kUnknownFileFormatErr ? kNotSoundFileReason : ReasonText(why));
        }
        run.finished = true;
    } else if (action == 1) {
        QM_TRACE("processFile", "'" << name.toStdString() << "' unrecognized as a sound file, just copying");
        const QString destination = curFolder() + QLatin1Char('/') + name;
        FSSpec folderSpec;
        FSRef folderRef;
        OSErr copied = getOutputSpec(&folderSpec, &folderRef);
        if (copied == noErr)
            copied = CopyFileNoReplace(path.toStdString(), destination.toStdString());
        if (copied == noErr) {
            post(kSuccessNotification, path,
                 QVariantMap{{kCommentKey, kCopiedComment}, {kConvertedFilePathKey, destination}});
            run.finished = true;
        } else {
            debug_nslog("%s Could not copy file '%s' to '%s'", "processFile", path.toUtf8().constData(),
                        destination.toUtf8().constData());
            // The copy failure is reported like any failed file (the copy
            // never replaces an existing file): a name taken names the
            // output, a folder gone or never made says so.
            run.error = copied;
            if (copied == dupFNErr) {
                std::lock_guard<std::mutex> lock(stateMutex_);
                refusedOutputPath_ = destination;
            }
        }
    } else if (!sf_ && run.error == noErr) {
        // Read as raw, and still nothing could be made of it.
        run.error = inFile_->errorCode() ? inFile_->errorCode() : kUnknownFileFormatErr;
    }
}

OutputContext ConversionProcess::outputContextFor(const FileRun& run) const
{
    OutputContext context;
    context.specifics = dict().value(kOutputSpecificsKey).toMap();
    if (const ConvSpecRef convSpec = curConvSpec()) {
        context.wordLength =
            OutputContext::WordLength{convSpec->needsNewWordLength(), convSpec->bitRatePerChannel()};
        context.keepsInputType = !convSpec->needsStrictFileType();
    }
    context.inputPath = run.path;
    context.longName = run.longName;
    context.outputFolder = run.folderRef;
    return context;
}

void ConversionProcess::runAndRename(FileRun& run)
{
    // The resampling filter is built once for the file, whatever the
    // number of its channels.
    HoldSincTable(true);
    SInt16& error = run.error;
    try {
        if (error == noErr) {
            writeID3Tags();
            run.spec->SetOutputContext(outputContextFor(run));
            const QString finalName = run.outputName.isNull() ? run.longName : run.outputName;
            run.spec->SetOutputNamesCheck(
                [this, finalName](qsizetype firstEntry) { return checkOutputNames(finalName, firstEntry); });
            error = run.spec->NeedsSnip() ? processSnippet(sf_, run.spec.get()) : processOther(sf_, run.spec.get());
        }
        if (error == noErr) {
            if (shouldStop_.load()) {
                error = userCanceledErr;
            } else {
                // The payload copies the whole context: built only for an
                // observer.
                if (NotificationCenter::defaultCenter().hasObservers(kWillRenameNotification, this))
                    post(kWillRenameNotification, dict().toMap());
                error = renameOutputTo(run.outputName.isNull() ? run.longName : run.outputName);
            }
        }
    } catch (const FrameworkException& e) {
        debug_nslog("%s %s thrown during conversion: %s - %s", "processFile", e.name().c_str(), e.reason().c_str(),
                    "");
        error = paramErr;
    } catch (const error_code_exception& e) {
        error = e.code() ? SInt16(e.code()) : ioErr;
        if (error == noErr)
            error = ioErr;
    } catch (const std::exception& e) {
        debug_nslog("%s exception thrown during conversion: %s", "processFile", e.what());
        error = paramErr;
    }
    HoldSincTable(false);
    // The file layer found an output's name taken by another program.
    if (error == kFileReplacedErr)
        error = kOutputReplacedErr;
    run.cutShort = sf_ && sf_->DataCutShort();
    if (sf_) {
        run.loss = sf_->GetDecodeLoss();
        run.sampleRate = sf_->GetSampleRate();
        run.rawRate = sf_->RateFromRawSettings();
    }
}

void ConversionProcess::postOutcome(FileRun& run)
{
    SInt16 error = run.error;
    // Never read at a rate the user did not see: said once for the batch.
    if (error == noErr && run.rawRate) {
        if (rawRateInputs_.isEmpty())
            rawRateFirst_ = run.path;
        rawRateInputs_.insert(run.path);
        rawRateRead_ = run.sampleRate;
    }
    if (error == kRawFileRateWarning) {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (failureReason_.isEmpty())
            failureReason_ = UnusableRawRateLine();
    }
    if (error == noErr) {
        QVariantMap info{{kConvertedFilePathKey, curOutputPaths()}};
        QString outputWarningDetail;
        const int32_t outputWarning = TakeOutputWarning(&outputWarningDetail);
        const quint64 clipped = TakeClippedSamples();
        if (run.loss.Any()) {
            // All the sound there, only the header's length wrong: said as such.
            SFTDecodeLoss soundOnly = run.loss;
            soundOnly.headerFrames = soundOnly.heldFrames = 0;
            info.insert(kWarningKey, int(soundOnly.Any() ? kDamagedSoundWarning : kHeaderLengthWarning));
            info.insert(kWarningDetailKey, DecodeLossText(run.loss, run.sampleRate, run.cutShort));
        } else if (run.cutShort) {
            info.insert(kWarningKey, int(eofErr));
            if (const QString cut = CutText(run.loss, run.sampleRate); !cut.isEmpty())
                info.insert(kWarningDetailKey, cut);
        } else if (outputWarning) {
            info.insert(kWarningKey, int(outputWarning));
            if (!outputWarningDetail.isEmpty())
                info.insert(kWarningDetailKey, outputWarningDetail);
        }
        else if (clipped)
            info.insert(kWarningKey, int(kClippedSamplesWarning));
        else if (inputTagKept(curConvSpec()))
            info.insert(kCommentKey, kInputTagComment);
        // The samples clipped are told on the file's line, beside any other
        // warning it has.
        if (clipped) {
            QString text = ClippedSamplesText(clipped);
            if (info.value(kWarningKey).toInt() != kClippedSamplesWarning)
                text = QStringLiteral("also %1 beyond full scale").arg(text);
            const QString detail = info.value(kWarningDetailKey).toString();
            info.insert(kWarningDetailKey, detail.isEmpty() ? text : detail + QStringLiteral("; ") + text);
        }
        post(kSuccessNotification, run.path, info);
        return;
    }
    // A mirrored folder the walk could not make: its files fail alone,
    // saying why (not as an input that was not found).
    const auto unmade = unmadeFolders_.constFind(curFolder());
    if (unmade != unmadeFolders_.cend() && error != userCanceledErr) {
        error = dirNFErr;
        std::lock_guard<std::mutex> lock(stateMutex_);
        failureReason_ = QStringLiteral("no output can be made in '%1': %2").arg(unmade.key(), unmade.value());
    }
    // The output folder gone (removed while the batch ran): the batch's own
    // failure, not the input's; one report names it.
    const QString vanished =
        error == userCanceledErr || unmade != unmadeFolders_.cend() ? QString() : vanishedOutputFolder();
    if (!vanished.isEmpty())
        error = kOutputFolderVanishedErr;
    err_.store(error);
    ThreadDictionary d = dict();
    d.setLastError(error);
    if (shouldStop_.load())
        d.setLastError(userCanceledErr);
    if (error != kNameNotExtendedErr)
        deleteCreatedOutputs();
    CreatedFilesListClear();
    postFailure(vanished.isEmpty() ? run.path : vanished, error);
}

QString ConversionProcess::vanishedOutputFolder() const
{
    // The highest folder gone between the current output folder and the
    // destination, each asked anew (what the file remembers of its folders
    // dates from its start).
    auto isFolder = [](const std::string& path) {
        PathMemo::Forget(path);
        return IsFolder(path);
    };
    // (A folder still to be made has not vanished: the one it goes into
    // is looked at.)
    QString first = curFolder();
    while (pendingFolders_.contains(first))
        first = ParentPath(first);
    std::string folder = first.toStdString();
    if (folder.empty() || isFolder(folder))
        return QString();
    const std::string top = destPath_.toStdString();
    for (;;) {
        const std::string parent = ParentOf(folder);
        if (folder == top || parent.empty() || parent == folder || isFolder(parent))
            break;
        folder = parent;
    }
    return QString::fromStdString(folder);
}

void ConversionProcess::deleteCreatedOutputs()
{
    const QString folder = curFolder();
    // Region extraction's files keep their own names in a folder that it
    // made for this input and named after it: those files are ours too.
    const QString regionFolder = dict().value(kCurLongNameKey).toString();
    for (const QString& entry : GetCreatedFilesList()) {
        // Only our own outputs, and never outside the folder.
        const QStringList parts = entry.split(QLatin1Char('/'));
        const bool regionFile = !regionFolder.isEmpty() && parts.size() == 2 && parts[0] == regionFolder;
        if ((!entry.contains(kTemporaryOutputWord) && !regionFile) || entry.startsWith(QLatin1Char('/')) ||
            parts.contains(QStringLiteral("..")))
            continue;
        const std::string full = (folder + QLatin1Char('/') + entry).toStdString();
        PathStatus status;
        if (StatPathNoFollow(full, &status) == 0 && status.isFile)
            DeletePath(full);
    }
}

void ConversionProcess::rememberSidecars(const QString& folder)
{
    PathMemo* memo = PathMemo::Current();
    std::set<std::string> names;
    if (memo && ListSidecarNames(folder.toStdString(), &names) == noErr)
        memo->setSidecarNames(folder.toStdString(), std::move(names));
}

bool ConversionProcess::insideOutputFolder(const std::string& resolvedPath) const
{
    if (curConvOutputResolved_.empty())
        return false;
    const std::string& out = curConvOutputResolved_;
    if (resolvedPath == out)
        return true;
    return resolvedPath.size() > out.size() && resolvedPath.compare(0, out.size(), out) == 0 &&
           (out == "/" || resolvedPath[out.size()] == '/');
}

void ConversionProcess::deepProcessFolder(const QString& path)
{
    const std::string folderPath = path.toStdString();
    PathStatus status;
    if (StatPath(folderPath, &status) != 0 || !status.isFolder) {
        // Named by the user: the batch stops; inside a walk: that entry alone.
        if (walkStack_.empty())
            postFailure(path, fnfErr);
        else
            postSkipped(path, fnfErr, kNotFoundReason);
        return;
    }
    // A folder the walk is already inside (a link back up the tree), or
    // one where this conversion writes: not entered.
    for (const FolderId& id : walkStack_)
        if (id.device == status.device && id.inode == status.inode) {
            QM_TRACE("deepProcessFolder", "not entering '" << folderPath << "': already being walked");
            return;
        }
    std::string resolved;
    if (ResolvePath(folderPath, &resolved) == noErr && insideOutputFolder(resolved)) {
        QM_TRACE("deepProcessFolder", "not entering '" << folderPath << "': inside the output folder");
        return;
    }

    const QString parentFolder = curFolder();
    const QString mirror = parentFolder + QLatin1Char('/') + LastPathComponent(path);
    setCurFolder(mirror);
    // A folder that is a link or another user's, or where a file or a link
    // that leads nowhere stands, fails each file below it, saying why (it
    // is entered without following a link, as the clean-up goes); one that
    // is missing is made with its first output.
    if (const QString above = unmadeFolders_.value(parentFolder); !above.isEmpty()) {
        unmadeFolders_.insert(mirror, above.startsWith(QLatin1String("it "))
                                          ? QStringLiteral("'%1' %2").arg(parentFolder, above.mid(3))
                                          : above);
    } else if (pendingFolders_.contains(parentFolder)) {
        pendingFolders_.insert(mirror);
    } else {
        const FolderBelowProblem entered = EnterFolderBelow(destPath_.toStdString(), outputRelative(mirror), false);
        if (entered.kind == FolderBelowProblem::Failed && entered.error == ENOENT &&
            FolderPathProblem(mirror, false).isEmpty())
            pendingFolders_.insert(mirror);
        else if (entered.kind != FolderBelowProblem::None)
            noteUnmadeFolder(mirror, entered);
    }
    rememberSidecars(mirror);

    walkStack_.push_back({status.device, status.inode});
    std::vector<FolderEntry> entries;
    if (ListFolder(folderPath, &entries) == noErr) {
        QString base = path;
        while (base.size() > 1 && base.endsWith(QLatin1Char('/')))
            base.chop(1);
        rememberSidecars(base);
        for (const FolderEntry& entry : entries) {
            if (shouldStop_.load())
                break;
            const QString full = base + QLatin1Char('/') + file_name_text(entry.name);
            // A name that is not UTF-8 cannot be named again through a
            // path string: that entry fails alone.
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString decoded = utf8.decode(QByteArrayView(entry.name.data(), qsizetype(entry.name.size())));
            if (utf8.hasError()) {
                if (!entry.isFolder)
                    setCurFile(full);
                postFailure(full, kNameNotUTF8Err);
                continue;
            }
            if (entry.isFolder)
                deepProcessFolder(full);
            else
                processFile(full, QString());
        }
    }
    walkStack_.pop_back();
    setCurFolder(parentFolder);
}

SInt16 ConversionProcess::processOther(CSoundFile* in, CConvSpec* spec)
{
    OSErr err = in->Open();
    if (err)
        return err;
    curNumInSamples_.store(in->GetNumFrames());
    PostProgressNumSampleFrames(in->GetNumFrames());
    SInt16 result = checkKeptTypeWritable(in, spec);
    if (result == noErr)
        result = checkLimits(in, spec);
    if (result == noErr)
        result = spec->Run(in);
    const OSErr closed = in->Close();
    return result ? result : closed;
}

SInt16 ConversionProcess::checkLimits(CSoundFile* in, CConvSpec* spec)
{
    QString reason;
    const SInt16 result = CheckConversionLimits(in, spec, &reason);
    if (result != noErr && !reason.isEmpty()) {
        std::lock_guard<std::mutex> lock(stateMutex_);
        failureReason_ = reason;
    }
    return result;
}

SInt16 ConversionProcess::checkKeptTypeWritable(CSoundFile* in, CConvSpec* spec)
{
    if (spec->NeedsStrictFileType())
        return noErr;
    const OSType type = spec->OutputFileTypeFor(in);
    if (FileTypeCanBeWritten(type))
        return noErr;
    // The type by its name (its code is no word of the user's).
    const QString reason =
        QStringLiteral("%1 files cannot be written, and this conversion keeps the input's type: choose an output type "
                       "for this conversion")
            .arg(in->GetFormatName());
    std::lock_guard<std::mutex> lock(stateMutex_);
    failureReason_ = reason;
    return kTypeNotWritableErr;
}

OSErr ConversionProcess::SnippetWindow(UInt32 frames, double rate, double snipFrom, double snipTo, UInt32* start,
                                       UInt32* end)
{
    SInt64 s = 0;
    SInt64 e = frames;
    if (!TimeToFrames(rate, snipFrom, &s))
        return kWrongRegionErr;
    if (snipTo != -1.0 && !TimeToFrames(rate, snipTo, &e))
        return kWrongRegionErr;
    const SInt64 n = frames;
    if (s < n) {
        e = std::min(e, n);
        if (e <= s)
            return kWrongRegionErr;
    } else {
        const SInt64 length = e - s;
        if (length <= 0)
            return eofErr;
        if (length > n) {
            s = 0;
            e = n;
        } else {
            s = n - length;
            e = n;
        }
        if (e <= s)
            return eofErr;
    }
    *start = UInt32(s);
    *end = UInt32(e);
    return noErr;
}

SInt16 ConversionProcess::processSnippet(CSoundFile* in, CConvSpec* spec)
{
    CSoundFile* made = CreateSoundFileObject(kSnippetFileType);
    auto* snippet = dynamic_cast<CSnippetFile*>(made);
    if (!snippet) {
        delete made;
        return kCreateSoundFileErr;
    }
    std::unique_ptr<CSnippetFile> owner(snippet);
    // The input stays owned by the per-file flow, which destroys it.
    snippet->SetInnerFile(in, false);
    OSErr err = snippet->Open();
    if (err)
        return err;

    UInt32 start = 0;
    UInt32 end = 0;
    // The input's own header first: the window is worked out from its rate.
    SInt16 result = in->CheckReadShape();
    if (result == noErr) {
        result = SnippetWindow(in->GetNumFrames(), in->GetSampleRate(), spec->SnipFrom(), spec->SnipTo(), &start, &end);
        if (result != noErr) {
            std::lock_guard<std::mutex> lock(stateMutex_);
            failureReason_ = SnipRefusal(in->GetNumFrames(), in->GetSampleRate(), spec->SnipFrom(), spec->SnipTo());
        }
    }
    if (result == noErr)
        result = snippet->SetWindow(start, end);
    if (result == noErr) {
        curNumInSamples_.store(snippet->GetNumFrames());
        PostProgressNumSampleFrames(snippet->GetNumFrames());
        result = checkKeptTypeWritable(snippet, spec);
        if (result == noErr)
            result = checkLimits(snippet, spec);
        if (result == noErr)
            result = spec->Run(snippet);
    }
    const OSErr closed = snippet->Close();
    return result ? result : closed;
}

bool ConversionProcess::isHFSInvisible(const QString& path)
{
    FSRef ref;
    if (FSPathMakeRef(path.toStdString(), &ref) != noErr)
        return false;
    FSCatalogInfo info;
    if (FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr) != noErr)
        return false;
    return (info.finderInfo.finderFlags & kIsInvisible) != 0;
}

bool ConversionProcess::isDotInvisible(const QString& name)
{
    if (!name.startsWith(QLatin1Char('.')))
        return false;
    return IsDotIgnoredName(name);
}

std::string ConversionProcess::outputRelative(const QString& folder) const
{
    return folder.mid(destPath_.size() + 1).toStdString();
}

void ConversionProcess::noteUnmadeFolder(const QString& folder, const FolderBelowProblem& problem)
{
    // Said of the folder itself ("it ..."), or of what stands in its way.
    QString why = FolderBelowProblemText(problem, folder);
    if (why.isEmpty())
        why = FolderPathProblem(folder, false);
    if (why.isEmpty())
        why = QStringLiteral("it could not be made: %1").arg(ErrorText(MacErrorFromErrno(problem.error)));
    unmadeFolders_.insert(folder, why);
}

OSErr ConversionProcess::getOutputSpec(FSSpec* spec, FSRef* ref)
{
    // The file's outputs go into its folder only when that is still reached
    // from the output folder without a link and is none of another user's
    // (a link may have taken a folder's place since the batch began).  A
    // folder still to be made is made now, with the missing ones above it.
    const QString folder = curFolder();
    if (unmadeFolders_.contains(folder))
        return dirNFErr;
    const bool make = pendingFolders_.contains(folder);
    const FolderBelowProblem entered = EnterFolderBelow(destPath_.toStdString(), outputRelative(folder), make);
    if (make) {
        if (entered.kind != FolderBelowProblem::None) {
            noteUnmadeFolder(folder, entered);
            return dirNFErr;
        }
        // (A folder just made holds no sidecar.)
        for (QString made = folder; pendingFolders_.remove(made); made = ParentPath(made)) {
            PathMemo::Forget(made.toStdString());
            if (conversionMemo_)
                conversionMemo_->setSidecarNames(made.toStdString(), {});
        }
    } else if (const QString why = FolderBelowProblemText(entered, folder); !why.isEmpty()) {
        unmadeFolders_.insert(folder, why);
        return dirNFErr;
    }
    OSErr err = FSPathMakeRef(folder.toStdString(), ref);
    if (err)
        return err;
    FSCatalogInfo info;
    err = FSGetCatalogInfo(ref, kFSCatInfoVolume | kFSCatInfoNodeID | kFSCatInfoNodeFlags, &info, nullptr, nullptr,
                           nullptr);
    if (err)
        return err;
    if (!(info.nodeFlags & kFSNodeIsDirectoryMask))
        return dirNFErr;
    spec->parent = ref->path;
    spec->name.clear();
    return noErr;
}

bool ConversionProcess::inputTagKept(const ConvSpecRef& convSpec)
{
    // An MP3 input's own ID3v2 tag goes into the MP3 output in place of the
    // tag values the conversion holds (which are then not written).
    const QVariantMap specifics = dict().value(kOutputSpecificsKey).toMap();
    const QVariant wanted = specifics.value(QStringLiteral("LAMEWriteID3Tags"));
    return convSpec && convSpec->needsStrictFileType() && convSpec->outputFileType() == format_type_codes::kOutsideEncoderMP3 &&
           specifics.contains(kID3v2BlobKey) && (!wanted.isValid() || wanted.toBool());
}

void ConversionProcess::readID3TagsFromFile(const QString& path)
{
    if (PathExtension(path).compare(QLatin1String("mp3"), Qt::CaseInsensitive) != 0)
        return;
    ThreadDictionary d = dict();
    d.setValue(kID3TagsKey, QVariantMap());
    QVariantMap specifics = d.value(kOutputSpecificsKey).toMap();
    try {
        std::ifstream in(path.toStdString(), std::ios::binary);
        if (!in)
            return;
        const QByteArray v2 = ReadID3v2TagData(in);
        if (!v2.isEmpty()) {
            specifics.insert(kID3v2BlobKey, v2);
        } else {
            specifics.remove(kID3v2BlobKey);
            in.clear();
            UInt8 record[kID3v1RecordSize];
            if (ReadID3v1Tag(in, record))
                d.setValue(kID3TagsKey, ID3v1TagDictionary(record));
        }
    } catch (...) {
        // Tags are a nicety: a file whose tags cannot be read converts without them.
    }
    d.setValue(kOutputSpecificsKey, specifics);
}

void ConversionProcess::writeID3Tags()
{
    ThreadDictionary d = dict();
    const QVariant tagsValue = d.value(kID3TagsKey);
    if (!tagsValue.isValid())
        return;
    const QVariantMap tags = tagsValue.toMap();
    QVariantMap specifics = d.value(kOutputSpecificsKey).toMap();
    struct Rule {
        const char* contains;
        const char* key;
        bool number;
    };
    static const Rule rules[] = {
        {"Album", "LAMEAlbum", false},         {"performer", "LAMEArtist", false},
        {"Title", "LAMETitle", false},         {"Track", "LAMETrack", false},
        {"Recording time", "LAMEYear", false}, {"Content type", "LAMEGenre", true},
        {"Comment", "LAMEComment", false},
    };
    for (auto it = tags.cbegin(); it != tags.cend(); ++it) {
        for (const Rule& rule : rules) {
            if (!it.key().contains(QLatin1String(rule.contains), Qt::CaseInsensitive))
                continue;
            specifics.insert(QLatin1String(rule.key), rule.number ? QVariant(it.value().toInt()) : it.value());
            break;
        }
    }
    d.setValue(kOutputSpecificsKey, specifics);
}

OutputRenameSettings ConversionProcess::renameSettings()
{
    OutputRenameSettings settings;
    settings.numberDuplicates = defaults().boolForKey(kNumberDuplicatesKey);
    settings.preserveComments = defaults().boolForKey(kPreserveCommentsKey);
    settings.comment = comment();
    // Only the names this run drew are its temporaries.
    settings.ownTemporary = [](const QString& name) { return IsOwnTemporaryName(name.toStdString()); };
    std::shared_ptr<ZuSoundFile> input = inFile_;
    const QString folder = curFolder();
    settings.duplicateFound = [this, input, folder](const QString& newName) {
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            if (refusedOutputPath_.isEmpty())
                refusedOutputPath_ = folder + QLatin1Char('/') + newName;
        }
        post(kRenameDuplicateNotification, newName, QVariantMap{{kOrigInputFileKey, QVariant::fromValue(input)}});
    };
    // A name too long is said with the name (a folder that cannot be
    // written is named by postFailure).
    settings.publishFailed = [this](const QString& target, OSErr err) {
        if (err != bdNamErr)
            return;
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (failureReason_.isEmpty())
            failureReason_ = NameTooLongReason(target);
    };
    return settings;
}

SInt16 ConversionProcess::checkOutputNames(const QString& finalName, qsizetype firstEntry)
{
    // Only the output just made: a work file beside it is never published.
    const QString taken =
        FirstTakenOutputName(curFolder(), GetCreatedFilesList().mid(firstEntry), finalName, renameSettings());
    return taken.isEmpty() ? SInt16(noErr) : SInt16(dupFNErr);
}

SInt16 ConversionProcess::renameOutputTo(const QString& finalName)
{
    QM_TRACE("renameOutputTo", finalName.toStdString());
    QStringList paths;
    const SInt16 result = RenameCreatedOutputs(curFolder(), finalName, renameSettings(), &paths);
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        curOutputPaths_ = paths;
    }
    return result;
}
