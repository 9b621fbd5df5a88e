#include "BatchCommand.h"

#include "BatchStart.h"
#include "EngineStartup.h"
#include "ConversionFileCheck.h"
#include "ConversionList.h"
#include "MainBundle.h"
#include "SoundFileRegistry.h"
#include "file_type_table.h"
#include "format_type_codes.h"
#include "FileTypeDictionary.h"
#include "ConversionProcess.h"
#include "CreateSoundFile.h"
#include "DitherTable.h"
#include "FileOperations.h"
#include "FolderListing.h"
#include "InputInfo.h"
#include "InterruptWatcher.h"
#include "Logger.h"
#include "NotificationCenter.h"
#include "OutputCapabilities.h"
#include "PreferenceKeys.h"
#include "ProgressPrinter.h"
#include "PropertyList.h"
#include "RawFileSettings.h"
#include "SoundFileSwitches.h"
#include "UserDefaults.h"
#include "ZuSoundFile.h"
#include "batch_folder_checks.h"
#include "error_codes.h"
#include "path_problems.h"

#include "debug_trace.h"
#include "string_utils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <mutex>

namespace {

const QString kUserCancelledNotification = QStringLiteral("UserCancelledNotification");

QString AbsoluteClean(const QString& path)
{
    // A name that is not UTF-8 stays text: its bytes would be lost.
    if (has_undecodable_bytes(path))
        return QDir::cleanPath(QDir::current().absoluteFilePath(path));
    return QString::fromStdString(AbsolutePath(path.toStdString()));
}

// The line on standard error for an input that failed, was skipped or
// converted with a warning: its path, the conversion (when `conversion` is
// not empty: more than one runs) and why.  Empty for a plain success.
// Whether `path` is a conversions file (a property list of conversions),
// given as an input by mistake.  Only a small regular file that begins as
// a property list is read.
bool IsConversionsFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > (1 << 20))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(64);
    if (!head.startsWith("bplist") && !head.contains("<plist") && !head.startsWith("<?xml"))
        return false;
    const QVariant list = PropertyList::fromData(head + file.readAll());
    const QVariantList entries = list.toList();
    return list.typeId() == QMetaType::QVariantList && !entries.isEmpty() &&
           std::all_of(entries.begin(), entries.end(),
                       [](const QVariant& e) { return e.toMap().contains(QStringLiteral("QMCSName")); });
}

QString InputReportLine(const Notification& n, const QString& conversion)
{
    // Control characters of a name are written out: a name never starts a
    // line of its own nor reaches the terminal raw.
    QString path = printable_text(ConversionProcess::notificationObject(n).toString());
    if (!conversion.isEmpty())
        path += QStringLiteral(" (conversion '%1')").arg(printable_text(conversion));
    const QVariantMap info = ConversionProcess::notificationUserInfo(n);
    if (n.name == ConversionProcess::kSkippedNotification) {
        QString reason = printable_text(info.value(ConversionProcess::kReasonKey).toString());
        if (reason == ConversionProcess::kNotSoundFileReason &&
            IsConversionsFile(ConversionProcess::notificationObject(n).toString()))
            reason += QStringLiteral(": it holds conversions, which --conversions FILE takes");
        return QStringLiteral("skipped %1: %2").arg(path, reason);
    }
    if (n.name == ConversionProcess::kSuccessNotification) {
        const int warning = info.value(ConversionProcess::kWarningKey).toInt();
        if (!warning)
            return QString();
        QString message = InputInfo::errorMessage(warning);
        const QString detail = info.value(ConversionProcess::kWarningDetailKey).toString();
        if (!detail.isEmpty())
            message += QStringLiteral(": ") + printable_text(detail);
        return QStringLiteral("warning %1: %2").arg(path, message);
    }
    const int code = info.value(ConversionProcess::kErrorKey).toInt();
    const QString reason = info.value(ConversionProcess::kReasonKey).toString();
    QString message = printable_text(reason.isEmpty() ? InputInfo::errorMessage(code) : reason);
    const QString output = printable_text(info.value(ConversionProcess::kOutputPathKey).toString());
    if (!output.isEmpty() && (code == permErr || code == wPrErr))
        message = QStringLiteral("no output can be made in '%1': %2").arg(output, message);
    else if (!output.isEmpty())
        message += QStringLiteral(": ") + output;
    // The code once: some messages name it already.
    const QString codeText = QStringLiteral("(%1)").arg(code);
    if (message.contains(codeText))
        return QStringLiteral("failed %1: %2").arg(path, message);
    return QStringLiteral("failed %1: %2 %3").arg(path, message, codeText);
}

// How to read the inputs of the batch's raw-rate warning at another rate
// (telephony files are mostly at 8000 Hz; Dialogic ADPCM also at 6000).
QString RawRateAdvice(const QVariantMap& info)
{
    const double read = info.value(ConversionProcess::kRawRateKey).toDouble();
    double other = 8000.0;
    if (read == other) {
        other = 6000.0;
        if (!GetOutputCapabilities(RawFileSettings::FileType()).headerlessRates.contains(other))
            return QString();
    }
    return QStringLiteral("; to read %1 at %2 Hz, add %3")
        .arg(info.value(ConversionProcess::kRawRateInputsKey).toInt() == 1 ? QStringLiteral("it")
                                                                           : QStringLiteral("them"))
        .arg(other)
        .arg(InputInfo::rawRateSetting(QString::number(other)));
}

}  // namespace

BatchCommand::BatchCommand(const BatchOptions& options, std::FILE* out, std::FILE* err)
    : options_(options), out_(out), err_(err)
{
}

void BatchCommand::report(const QString& text)
{
    WriteText(err_, text);
}

int BatchCommand::refuse(int status, const QString& title, const QString& message)
{
    // The texts' own lines stay; no other control character (of a path
    // quoted in them) reaches the terminal raw.
    auto printable = [](const QString& text) {
        QStringList lines = text.split(QLatin1Char('\n'));
        for (QString& line : lines)
            line = printable_text(line);
        return lines.join(QLatin1Char('\n'));
    };
    report(QStringLiteral("quillmarch-batch: ") + printable(title) + QLatin1Char('\n') +
           (message.isEmpty() ? QString() : printable(message) + QLatin1Char('\n')));
    return status;
}

ConversionList::FileCheck BatchCommand::fileCheck()
{
    // A conversions file written by hand: its problems refuse it, its
    // warnings are told before anything runs.
    return [this](const QVariantList& array) {
        for (const QString& warning : ConversionFileCheck::warnings(array))
            report(QStringLiteral("quillmarch-batch: warning: ") + printable_text(warning) + QLatin1Char('\n'));
        return ConversionFileCheck::problems(array);
    };
}

void BatchCommand::applySettings()
{
    // The --set values hold for this run alone: they are volatile, so that
    // no saving of the preferences on the way (the log remembers itself,
    // the files are counted) keeps them, however the run ends.
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    for (const auto& [key, value] : options_.settings())
        defaults.setVolatileObject(key, value);
}

int BatchCommand::run()
{
    if (!options_.defaultsFile().isEmpty())
        qputenv("QUILLMARCH_DEFAULTS", AbsoluteClean(options_.defaultsFile()).toUtf8());
    if (options_.versionRequested())
        return runVersion();
    // Without its resources the program knows no type and no conversion.
    if (const QString problem = MainBundle::resourcesProblem(); !problem.isEmpty())
        return refuse(kExitUsage, problem, QString());
    // A preferences file the user named is used only when it is one: it is
    // never made in a missing folder, put aside or replaced.
    if (const QString problem = UserDefaults::defaultFileProblem(); !problem.isEmpty())
        return refuse(kExitUsage, problem, QString());
    // The exception trace is a diagnostic: its lines come only with the
    // debug trace (QUILLMARCH_DEBUG_TRACE=1), never for an ordinary bad file.
    exception_trace_guard traces(debug_trace_enabled != 0);

    // Start-up, in the application's order.
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    EngineStartup::registerDefaults(defaults);
    applySettings();
    // A raw-file value no headerless file can have, kept in the preferences
    // file, is refused before anything reads a file with it (one given with
    // --set was refused with the command line).
    if (const QString problem = EngineStartup::preferencesProblem(defaults); !problem.isEmpty())
        return refuse(kExitUsage,
                      QStringLiteral("the preferences file '%1' cannot be used: %2")
                          .arg(UserDefaults::defaultFilePath(), problem),
                      QStringLiteral("Set another value there, or give one for this run with --set."));
    EngineStartup::syncRawSettings(defaults);
    // The MP3 encoder is looked for (it is run) only when it matters: for
    // the listings, and for a batch with a conversion to MP3 (runBatch).
    const bool batch = !options_.listTypes() && !options_.listConversions() && !options_.infoMode();
    EngineStartup::buildFileTypeTable(!batch);
    EngineStartup::pushSoundFileSwitches(defaults);

    int status = 0;
    if (options_.listTypes())
        status = runListTypes();
    else if (options_.listConversions())
        status = runListConversions();
    else
        status = options_.infoMode() ? runInfo() : runBatch();

    // Only a batch saves the preferences (the log remembers itself, the
    // files are counted); the --set values end with the run.
    defaults.clearVolatileValues();
    if (batchStarted_ && defaults.hasPendingChanges() && !defaults.synchronize())
        report(QStringLiteral("quillmarch-batch: could not save the preferences: %1\n").arg(defaults.lastError()));
    FreeDitherTable();
    ReleaseSoundFileGlobals();
    return status;
}

void BatchCommand::print(const QString& text)
{
    WriteText(out_, text);
}

int BatchCommand::runVersion()
{
    const QString resources = MainBundle::resourcesPath();
    print(QStringLiteral("quillmarch-batch %1\nresources: %2\npreferences: %3\n")
              .arg(QStringLiteral(QM_VERSION), resources.isEmpty() ? QStringLiteral("(none found)") : resources,
                   UserDefaults::defaultFilePath()));
    return kExitConverted;
}

QString BatchCommand::typeListing()
{
    auto row = [](const QString& code, const QString& type, const QString& read, const QString& write,
                  const QString& extension, const QString& name) {
        return QStringLiteral("%1  %2  %3  %4  %5  %6\n")
            .arg(code, 11)
            .arg(type, -6)
            .arg(read, -9)
            .arg(write, -5)
            .arg(extension.isEmpty() ? QStringLiteral("-") : extension, -5)
            .arg(name);
    };
    auto quoted = [](OSType code) { return QLatin1Char('\'') + InputInfo::typeCodeText(code) + QLatin1Char('\''); };
    auto yesNo = [](bool yes) { return yes ? QStringLiteral("yes") : QStringLiteral("no"); };
    QString text = row(QStringLiteral("CODE"), QStringLiteral("TYPE"), QStringLiteral("READ"), QStringLiteral("WRITE"),
                       QStringLiteral("EXT"), QStringLiteral("NAME"));
    for (const OSType code : GetFileTypeTableCodes()) {
        const QVariantMap entry = GetFileTypeEntry(code);
        if (entry.isEmpty() || entry.value(QStringLiteral("engineOnly")).toBool())
            continue;
        // How its files are read: as another type ("readAs": what its
        // header or extension shows), as this type (when its format class
        // is built in), or only as headerless input through the raw-file
        // settings (no header, no extension of its own tells it).
        QString read = QStringLiteral("no");
        if (entry.value(QStringLiteral("splitStereoSet")).toBool()) {
            // Its pair of member files is read as one split set, as --info
            // reports it.
            read = QStringLiteral("as ") + quoted(format_type_codes::kSplitSet);
        } else if (const OSType as = HFSTypeCodeFromFileType(entry.value(QStringLiteral("readAs")).toString())) {
            read = QStringLiteral("as ") + quoted(as);
        } else if (entry.value(QStringLiteral("canBeRead")).toBool() && GetSoundFileFactory(code) != nullptr) {
            const bool rawOnly = !entry.value(QStringLiteral("headerlessReadings")).toList().isEmpty() &&
                                 entry.value(QStringLiteral("extensions")).toList().isEmpty();
            read = rawOnly ? QStringLiteral("raw") : QStringLiteral("yes");
        }
        text += row(QString::number(qint32(code)), quoted(code), read, yesNo(FileTypeCanBeWritten(code)),
                    entry.value(QStringLiteral("extension")).toString(), entry.value(QStringLiteral("text")).toString());
    }

    // What the media libraries read besides, by name extension (with the
    // type such a file is read as); none of it is written.  A conversions
    // file names no such type.
    static const char* const kMediaReads[][2] = {
        {"flac", "FLAC"},
        {"ogg", "Ogg: Vorbis, Opus or FLAC"},
        {"oga", "Ogg audio: Vorbis, Opus or FLAC"},
        {"opus", "Opus"},
        {"webm", "WebM sound track: Opus or Vorbis"},
        {"mka", "Matroska audio"},
        {"mkv", "Matroska sound track"},
        {"m4a", "ALAC in MPEG-4 audio"},
        {"m4b", "MPEG-4 audio book: AAC or ALAC"},
        {"m4r", "MPEG-4 ringtone: AAC"},
        {"mp4", "ALAC in MPEG-4"},
        {"m4v", "MPEG-4 video sound track"},
        {"aac", "AAC (ADTS)"},
        {"adts", "AAC (ADTS)"},
        {"ac3", "AC-3"},
        {"amr", "AMR speech"},
        {"3gp", "3GPP sound track: AMR or AAC"},
        {"mp1", "MPEG-1 Layer I"},
        {"mp2", "MPEG-1 Layer II"},
        {"mpa", "MPEG audio"},
        {"mpg", "MPEG sound track"},
        {"avi", "AVI sound track"},
        {"mov", "QuickTime movie sound tracks: MACE, QDesign, PureVoice, ALAC and others"},
    };
    const QStringList readable = GetReadableExtensionSet();
    for (const auto& [extension, name] : kMediaReads) {
        const QString ext = QString::fromLatin1(extension);
        const QStringList types = GetTypesForExtension(ext);
        if (!readable.contains(ext) || types.isEmpty())
            continue;
        const OSType as = HFSTypeCodeFromFileType(types.first());
        text += row(QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("as ") + quoted(as), yesNo(false), ext,
                    QStringLiteral("%1 (through the media libraries)").arg(QString::fromUtf8(name)));
    }
    return text;
}

int BatchCommand::runListTypes()
{
    print(typeListing());
    return kExitConverted;
}

int BatchCommand::runListConversions()
{
    QList<ConvSpecRef> all;
    QString error;
    if (!ConversionList::load(options_.conversionsFile(), UserDefaults::standardUserDefaults(), &all, &error,
                              fileCheck()))
        return refuse(kExitUsage, error, QString());
    QString text = QStringLiteral("ACTIVE  NAME\n");
    for (const ConvSpecRef& spec : all) {
        text += (spec->active() ? QStringLiteral("yes     ") : QStringLiteral("no      ")) + spec->conversionName();
        if (const QString why = ConversionList::cannotRun(*spec); !why.isEmpty())
            text += QStringLiteral("  (cannot run: %1)").arg(why);
        text += QLatin1Char('\n');
    }
    print(text);
    return kExitConverted;
}

bool BatchCommand::describe(const QString& path)
{
    const InputInfo info(path);
    const QByteArray line = info.jsonLine().toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), out_);
    return info.readable();
}

bool BatchCommand::describeFolder(const QString& folder, std::vector<std::pair<UInt64, UInt64>>* walked)
{
    // The walk of a batch: in listing order, sidecars, invisible and
    // ignored names left out, a folder the walk is inside not entered again.
    PathStatus status;
    if (StatPath(folder.toStdString(), &status) != 0)
        return false;
    const std::pair<UInt64, UInt64> id{status.device, status.inode};
    if (std::find(walked->begin(), walked->end(), id) != walked->end())
        return true;
    walked->push_back(id);
    bool allReadable = true;
    std::vector<FolderEntry> entries;
    ListFolder(folder.toStdString(), &entries);
    for (const FolderEntry& entry : entries) {
        const QString name = QString::fromStdString(entry.name);
        const QString path = folder + QLatin1Char('/') + name;
        if (entry.isFolder) {
            allReadable = describe(path) && allReadable;
            allReadable = describeFolder(path, walked) && allReadable;
        } else if (!ConversionProcess::isDotInvisible(name) && !ConversionProcess::isHFSInvisible(path)) {
            allReadable = describe(path) && allReadable;
        }
    }
    walked->pop_back();
    return allReadable;
}

int BatchCommand::runInfo()
{
    // The regions a file holds: not the whole-file region a batch takes
    // from a file without any.
    SetProcessFileIfNoRegions(false);
    bool allReadable = true;
    for (const QString& input : options_.inputs()) {
        allReadable = describe(input) && allReadable;
        if (IsFolder(input.toStdString())) {
            std::vector<std::pair<UInt64, UInt64>> walked;
            QString folder = input;
            while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
                folder.chop(1);
            allReadable = describeFolder(folder, &walked) && allReadable;
        }
    }
    std::fflush(out_);
    // A named input that is not there is a mistake on the command line, as
    // for a batch.
    QStringList named;
    for (const QString& input : options_.inputs())
        named.append(AbsoluteClean(input));
    if (const std::optional<BatchFolderRefusal> missing = CheckBatchInputsExist(named))
        return refuse(kExitUsage, missing->title, missing->message);
    return allReadable ? kExitConverted : kExitFailures;
}

int BatchCommand::runBatch()
{
    // An interrupt is caught from here to the end of the batch command:
    // one before the batch starts keeps it from starting, one while it
    // runs cancels it, one while it ends changes nothing.
    InterruptWatcher watcher;
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    ConversionProcess process;

    // The conversion list, then the ones this batch runs.
    QList<ConvSpecRef> all;
    QList<ConvSpecRef> conversions;
    QString error;
    if (!ConversionList::load(options_.conversionsFile(), defaults, &all, &error, fileCheck()))
        return InterruptWatcher::interrupted()
                   ? refuse(kExitStopped, QStringLiteral("cancelled before the batch started"), QString())
                   : refuse(kExitUsage, error, QString());
    // Conversions to MP3 through the outside encoder are valid only with a
    // usable encoder, checked now.
    EngineStartup::checkMP3EncoderFor(all);
    QStringList skipped;
    if (!ConversionList::select(all, options_.conversionNames(), &conversions, &error, &skipped))
        return refuse(kExitUsage, error, QString());
    // An active conversion that cannot run is said once (and in the log);
    // the others run, and its files count as not converted.
    for (const QString& line : skipped)
        report(QStringLiteral("skipped: ") + printable_text(line) + QLatin1Char('\n'));

    // The folders.
    const QString output = AbsoluteClean(options_.outputFolder());
    BatchStart::Request request;
    for (const QString& input : options_.inputs())
        request.inputs.append(AbsoluteClean(input));
    request.conversions = conversions;
    request.notRun = skipped;
    request.outputFolder = output;
    // Every named input is there before anything is made, and a missing
    // output folder is made (with its parents) once the batch may start.
    request.checkInputsExist = true;
    request.makeOutputFolder = true;
    request.printableNames = true;
    BatchStart batch(process, defaults);
    if (const std::optional<BatchStart::Refusal> refusal = batch.prepare(request)) {
        // What the command line gets wrong (an input that is not there,
        // folders that overlap) is bad usage; what the folders on disk
        // keep from starting (an output folder that cannot be made, used or
        // written into, or that exists while "Easy Thru" is NO) is not.
        const bool usage = refusal->step == BatchStart::Step::InputMissing ||
                           refusal->step == BatchStart::Step::Folders;
        // The preference the refusal names, as this command sets it.
        const QString how = refusal->step == BatchStart::Step::SubfolderExists
                                ? QStringLiteral("\nHere: --set \"%1=YES\" for this run, or another -o folder.")
                                      .arg(PreferenceKeys::kEasyThru)
                                : QString();
        return refuse(usage ? kExitUsage : kExitStopped, refusal->title, refusal->message + how);
    }

    const bool showProgress = !options_.quiet();

    // The log and its hooks (they run on the worker thread), and counts of
    // the files for the summary.  Every input is accounted for: each
    // failure, skip and warning gets a line on standard error (also with
    // --quiet), printed by the main thread between progress lines.
    std::mutex linesMutex;
    QStringList lines;
    // Heard on the worker, while the conversion it names runs.
    const bool nameConversions = conversions.size() > 1;
    std::atomic<bool> nameTaken{false};
    // The batch's one warning about inputs read at the raw-file rate.
    std::atomic<bool> rawRateWarned{false};
    batch.openLog([&](BatchStart::Outcome outcome, const Notification& n) {
        if (outcome == BatchStart::Outcome::Converted)
            return;
        if (outcome == BatchStart::Outcome::Failed &&
            ConversionProcess::notificationUserInfo(n).value(ConversionProcess::kErrorKey).toInt() == dupFNErr)
            nameTaken = true;
        const ConvSpecRef running = nameConversions ? process.curConvSpec() : ConvSpecRef();
        const QString line = InputReportLine(n, running ? running->conversionName() : QString());
        std::lock_guard<std::mutex> lock(linesMutex);
        lines.append(line);
    });
    NotificationCenter& center = NotificationCenter::defaultCenter();
    // A word about the whole batch, between the inputs' lines.
    const NotificationCenter::Token noteToken =
        center.addObserver(ConversionProcess::kNoteNotification, &process, [&](const Notification& n) {
            const QString text = printable_text(ConversionProcess::notificationObject(n).toString());
            const QVariantMap info = ConversionProcess::notificationUserInfo(n);
            const bool rawRate = info.value(ConversionProcess::kWarningKey).toInt() == kRawFileRateWarning;
            rawRateWarned = rawRateWarned || rawRate;
            const QString line = rawRate ? QStringLiteral("warning: ") + text + RawRateAdvice(info)
                                         : QStringLiteral("note: ") + text;
            std::lock_guard<std::mutex> lock(linesMutex);
            lines.append(line);
        });
    auto takeLines = [&linesMutex, &lines] {
        std::lock_guard<std::mutex> lock(linesMutex);
        QStringList taken;
        taken.swap(lines);
        return taken;
    };
    auto printLines = [&](ProgressPrinter& printer) {
        for (const QString& line : takeLines()) {
            if (showProgress)
                printer.message(line);
            else
                report(line + QLatin1Char('\n'));
        }
    };
    // The Cancel button's notification, posted below on an interrupt.
    const NotificationCenter::Token cancelToken = center.addObserver(
        kUserCancelledNotification, nullptr, [&process](const Notification&) { process.setShouldStop(true); });

    // The worker, and the wait with progress.
    const bool terminal = ProgressPrinter::isTerminal(err_);
    // The terminal's width is asked at every redraw: a resize shows at once.
    ProgressPrinter printer(err_, terminal,
                            terminal ? ProgressPrinter::Width([this] { return ProgressPrinter::terminalWidth(err_); })
                                     : ProgressPrinter::Width(),
                            int(conversions.size()), batch.files());
    bool cancelled = false;
    {
        if (InterruptWatcher::interrupted()) {
            center.removeObserver(cancelToken);
            center.removeObserver(noteToken);
            batch.finish();
            return refuse(kExitStopped, QStringLiteral("cancelled before the batch started"), QString());
        }
        batchStarted_ = true;
        if (!batch.start()) {
            center.removeObserver(cancelToken);
            center.removeObserver(noteToken);
            return refuse(kExitStopped, QStringLiteral("Error: the batch could not be started"), QString());
        }
        for (;;) {
            const bool done = process.waitUntilDone(50);
            if (InterruptWatcher::interrupted() && !cancelled) {
                cancelled = true;
                if (showProgress)
                    printer.message(QStringLiteral("Cancelling (interrupt again to quit at once)..."));
                center.postNotification(kUserCancelledNotification);
            }
            // The warnings are the failure lines' own (printed with their
            // paths below); they are only fetched here.
            process.newWarnings();
            printLines(printer);
            if (showProgress && !done)
                printer.update(ProgressPrinter::snapshot(process));
            if (done)
                break;
        }
        process.newWarnings();
        printLines(printer);
        if (showProgress)
            printer.finish();
    }

    // The end of the batch.
    center.removeObserver(cancelToken);
    center.removeObserver(noteToken);
    const OSErr logError = batch.finish();
    const bool fatal = batch.logger().fatal();
    if (logError == kFileReplacedErr) {
        // Its name taken by another program: what is there now is no log
        // of ours.
        report(QStringLiteral("quillmarch-batch: the log '%1' was replaced by another program while it was written; "
                              "no log was kept\n")
                   .arg(printable_text(batch.logger().logPath())));
    } else if (logError != noErr) {
        // Its folder gone (removed while the batch ran) is said as such.
        const QString problem = FolderPathProblem(output);
        report(problem.isEmpty() ? QStringLiteral("quillmarch-batch: the log '%1' could not be written: %2\n")
                                       .arg(printable_text(batch.logger().logPath()), BatchStart::errorText(logError))
                                 : QStringLiteral("quillmarch-batch: the log could not be written into '%1': %2\n")
                                       .arg(printable_text(output), printable_text(problem)));
    }

    const int notRun = batch.conversionsNotRun();
    if (showProgress || batch.failed() > 0 || batch.skipped() > 0 || notRun > 0 || fatal || cancelled) {
        const QString notConverted =
            notRun == 0 ? QString()
                        : QStringLiteral(", %1 not converted (%2 that cannot run)")
                              .arg(batch.notConverted())
                              .arg(notRun == 1 ? QStringLiteral("a conversion")
                                               : QStringLiteral("%1 conversions").arg(notRun));
        const int warnings = batch.warned() + (rawRateWarned ? 1 : 0);
        report(QStringLiteral("%1 converted, %2 failed, %3 skipped, %4%5%6\n")
                   .arg(batch.converted())
                   .arg(batch.failed())
                   .arg(batch.skipped())
                   .arg(warnings == 1 ? QStringLiteral("1 warning") : QStringLiteral("%1 warnings").arg(warnings))
                   .arg(notConverted,
                        cancelled ? QStringLiteral(", cancelled") : fatal ? QStringLiteral(", stopped") : QString()));
    }
    // Once, however many outputs found their names taken.
    if (nameTaken && !defaults.boolForKey(PreferenceKeys::kNumberDuplicateFiles))
        report(QStringLiteral("Outputs whose names were taken were not made (the existing files are kept); to have "
                              "them numbered instead (NAME-1, NAME-2, ...), add --set \"%1=YES\"\n")
                   .arg(PreferenceKeys::kNumberDuplicateFiles));
    // The log's path alone on standard output, for scripts; never the path
    // of a log that could not be written whole (said above, with where).
    if (batch.logger().logFileCreated() && logError == noErr) {
        print(batch.logger().logPath() + QLatin1Char('\n'));
    } else if (showProgress && logError == noErr) {
        report(QStringLiteral("No log file was kept.\n"));
    }

    if (cancelled || fatal || process.err() == userCanceledErr)
        return kExitStopped;
    // Nothing converted while inputs were skipped, or a conversion asked
    // for left out: not a success either.
    if (batch.failed() > 0 || logError != noErr || notRun > 0 || (batch.converted() == 0 && batch.skipped() > 0))
        return kExitFailures;
    return kExitConverted;
}
