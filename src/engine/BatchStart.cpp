#include "BatchStart.h"

#include "BatchLogHooks.h"
#include "ConversionProcess.h"
#include "DitherTable.h"
#include "FileOperations.h"
#include "FolderCount.h"
#include "Logger.h"
#include "MainBundle.h"
#include "PreferenceKeys.h"
#include "ProvenItems.h"
#include "UserDefaults.h"
#include "batch_folder_checks.h"
#include "error_table.h"
#include "mac_errors.h"
#include "path_problems.h"
#include "string_utils.h"

#include <QDir>

namespace {

QString Text(const char* english)
{
    return MainBundle::localizedString(QString::fromUtf8(english));
}

// The nearest folder above `path` that exists (where a missing folder would
// be made).
QString ExistingParent(const QString& path)
{
    QString parent = path;
    while (!parent.isEmpty() && !IsFolder(parent.toStdString())) {
        const qsizetype slash = parent.lastIndexOf(QLatin1Char('/'));
        parent = slash > 0 ? parent.left(slash) : slash == 0 ? QStringLiteral("/") : QString();
        if (parent == QLatin1String("/"))
            break;
    }
    return parent;
}

}  // namespace

BatchStart::BatchStart(ConversionProcess& process, UserDefaults& defaults) : process_(process), defaults_(defaults)
{
}

BatchStart::~BatchStart()
{
    for (NotificationCenter::Token token : tokens_)
        NotificationCenter::defaultCenter().removeObserver(token);
}

int BatchStart::fileCount(const QStringList& inputs)
{
    int count = 0;
    for (const QString& input : inputs) {
        PathStatus status;
        if (StatPath(input.toStdString(), &status) == 0)
            count += status.isFolder ? DeepFileCount(input.toStdString()) : 1;
    }
    return count;
}

QString BatchStart::errorMessage(int code)
{
    const ErrorMessage message = LookupErrorMessage(code);
    if (!message.message.empty())
        return QString::fromStdString(message.message);
    static const QVariantMap names = LoadMacErrorsDictionary();
    const QVariantMap entry = names.value(QString::number(code)).toMap();
    const QString description = entry.value(QStringLiteral("description")).toString();
    if (!description.isEmpty())
        return description;
    const QString platformName = entry.value(QStringLiteral("name")).toString();
    if (!platformName.isEmpty())
        return platformName;
    return QStringLiteral("error %1").arg(code);
}

QString BatchStart::errorText(int code)
{
    QString text = errorMessage(code);
    // "Permission denied" inside a sentence; "NeXT" stays.
    if (text.size() > 1 && text.at(1).isLower())
        text[0] = text.at(0).toLower();
    return QStringLiteral("%1 (%2)").arg(text).arg(code);
}

std::optional<BatchStart::Refusal> BatchStart::prepare(const Request& request)
{
    request_ = request;
    files_ = fileCount(request.inputs);
    auto name = [&request](const QString& text) { return request.printableNames ? printable_text(text) : text; };
    const QString& output = request.outputFolder;

    if (request.checkInputsExist) {
        if (const std::optional<BatchFolderRefusal> refusal = CheckBatchInputsExist(request.inputs))
            return Refusal{Step::InputMissing, refusal->title, refusal->message};
    }
    // Folders compared in their canonical form; no input inside what a
    // conversion writes.
    if (const std::optional<BatchFolderRefusal> refusal = CheckBatchFolders(request.inputs, request.conversions, output))
        return Refusal{Step::Folders, refusal->title, refusal->message};
    if (request.makeOutputFolder) {
        // What stands where the folder should be (a file, a link that leads
        // nowhere) is named; a failure to make it says why.
        if (PathExists(output.toStdString()) && !IsFolder(output.toStdString()))
            return Refusal{Step::OutputFolder, Text("Error: cannot use output folder"),
                           Text("The output folder '%1' cannot be used: %2.")
                               .arg(name(output), name(FolderPathProblem(output)))};
        if (!PathExists(output.toStdString())) {
            if (const OSErr made = CreateFolderPath(output.toStdString()); made != noErr) {
                const QString problem = FolderPathProblem(output, false);
                return Refusal{Step::OutputFolder, Text("Error: could not create output folder"),
                               problem.isEmpty() ? Text("The output folder '%1' could not be created in '%2': %3.")
                                                       .arg(name(output), name(ExistingParent(output)), errorText(made))
                                                 : Text("The output folder '%1' could not be created: %2.")
                                                       .arg(name(output), name(problem))};
            }
        }
    }

    bool needsRedither = false;
    const bool easyThru = defaults_.boolForKey(PreferenceKeys::kEasyThru);
    for (const ConvSpecRef& spec : request.conversions) {
        const QString subfolder = output + QLatin1Char('/') + spec->conversionName();
        const std::string sub = subfolder.toStdString();
        if (PathExists(sub) && IsFolder(sub)) {
            if (!easyThru && !(request.useExistingSubfolder && request.useExistingSubfolder(*spec)))
                return Refusal{Step::SubfolderExists, Text("Error: output folder already exists"),
                               Text("The folder where converted audio files should be created using the "
                                    "conversion named: '%1' already exists inside the specified output "
                                    "folder.\n\nSet \"Easy Thru\" to YES to keep using the existing "
                                    "folder, or specify a different output folder.")
                                   .arg(name(spec->conversionName()))};
            // Kept: every output of the conversion is made in it, entered
            // from the output folder without a link, and none of another
            // user's (who could put a link in its place).
            const FolderBelowProblem entered =
                EnterFolderBelow(output.toStdString(), spec->conversionName().toStdString(), false);
            const QString notEntered = FolderBelowProblemText(entered, subfolder);
            if (!notEntered.isEmpty())
                return Refusal{Step::Subfolder, Text("Error: cannot write into output folder"),
                               Text("No output file can be made in the output folder '%1' of the conversion "
                                    "'%2': %3.")
                                   .arg(name(subfolder), name(spec->conversionName()), name(notEntered))};
            if (const OSErr writable = CheckFolderWritable(sub); writable != noErr)
                return Refusal{Step::Subfolder, Text("Error: cannot write into output folder"),
                               Text("No output file can be made in the output folder '%1' of the conversion "
                                    "'%2': %3.")
                                   .arg(name(subfolder), name(spec->conversionName()), errorText(writable))};
        } else if (PathExists(sub) || !FolderPathProblem(subfolder, false).isEmpty() ||
                   CheckFolderWritable(output.toStdString()) != noErr) {
            // Made with the conversion's first output (an input that fails
            // before any makes none): here only what would keep it from
            // being made.
            // A file or a link that leads nowhere in the way is named;
            // otherwise the folder could not be made in the output folder.
            const QString problem = FolderPathProblem(subfolder, false);
            if (!problem.isEmpty())
                return Refusal{Step::Subfolder, Text("Error: could not create output folder"),
                               Text("The necessary output folder named: '%1' could not be created: %2.")
                                   .arg(name(subfolder), name(problem))};
            return Refusal{Step::Subfolder, Text("Error: could not create output folder"),
                           Text("The necessary output folder named: '%1' could not be created.\n\nPlease "
                                "check if you have write permission for the destination folder: '%2'.")
                               .arg(name(subfolder), name(output))};
        }
        needsRedither = needsRedither || spec->needsRedither();
    }
    if (needsRedither && CreateDitherTable() != 0)
        return Refusal{Step::DitherTable, Text("Error"), Text("Could not create dither table")};
    return std::nullopt;
}

void BatchStart::openLog(const OutcomeObserver& observer)
{
    Logger::Environment environment;
    environment.defaults = &defaults_;
    logger_ = std::make_unique<Logger>(request_.outputFolder, environment);
    hooks_ = std::make_unique<BatchLogHooks>(process_, *logger_, &defaults_);
    for (const QString& why : request_.notRun)
        logger_->logConversionNotRun(why, files_);

    auto heard = [observer](Outcome outcome, const Notification& n) {
        if (observer)
            observer(outcome, n);
    };
    NotificationCenter& center = NotificationCenter::defaultCenter();
    tokens_.push_back(center.addObserver(ConversionProcess::kSuccessNotification, &process_,
                                         [this, heard](const Notification& n) {
                                             ++converted_;
                                             const bool warning = ConversionProcess::notificationUserInfo(n)
                                                                      .value(ConversionProcess::kWarningKey)
                                                                      .toInt() != 0;
                                             if (warning)
                                                 ++warned_;
                                             heard(warning ? Outcome::ConvertedWithWarning : Outcome::Converted, n);
                                         }));
    tokens_.push_back(center.addObserver(ConversionProcess::kFailureNotification, &process_,
                                         [this, heard](const Notification& n) {
                                             const int code = ConversionProcess::notificationUserInfo(n)
                                                                  .value(ConversionProcess::kErrorKey)
                                                                  .toInt();
                                             if (LookupErrorMessage(code).message_class == kErrorClassNote)
                                                 return;
                                             ++failed_;
                                             heard(Outcome::Failed, n);
                                         }));
    tokens_.push_back(center.addObserver(ConversionProcess::kSkippedNotification, &process_,
                                         [this, heard](const Notification& n) {
                                             ++skipped_;
                                             heard(Outcome::Skipped, n);
                                         }));
}

bool BatchStart::start()
{
    if (process_.start(request_.inputs, request_.conversions, request_.outputFolder))
        return true;
    finish();
    return false;
}

OSErr BatchStart::finish()
{
    if (finished_ || !hooks_)
        return noErr;
    finished_ = true;
    for (NotificationCenter::Token token : tokens_)
        NotificationCenter::defaultCenter().removeObserver(token);
    tokens_.clear();
    return hooks_->finish();
}
