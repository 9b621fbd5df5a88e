#include "MainController.h"

#include "AddFilesErrorsController.h"
#include "AppPresenter.h"
#include "BatchStart.h"
#include "ConvSpecCommand.h"
#include "ConversionList.h"
#include "ConversionProcess.h"
#include "EncoderCheck.h"
#include "EngineStartup.h"
#include "FileAdder.h"
#include "InputFileCommand.h"
#include "Localized.h"
#include "Logger.h"
#include "PlaybackController.h"
#include "PreferenceKeys.h"
#include "ProgressController.h"
#include "UserDefaults.h"
#include "debug_trace.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QTimer>
#include <QUrl>
#include <QVariantList>
#include <QWindow>

#include <cstdio>
#include <utility>

namespace {

const QString kLastUsedDestination = PreferenceKeys::kLastUsedDestination;
const QString kConversions = PreferenceKeys::kConversions;
const QString kInputSortKey = PreferenceKeys::kInputFilesSortKey;
const QString kInputSortAscending = PreferenceKeys::kInputFilesSortAscending;
const QString kConvSortKey = PreferenceKeys::kConvSpecsSortKey;
const QString kConvSortAscending = PreferenceKeys::kConvSpecsSortAscending;
const QString kRightSideOfSplit = QStringLiteral("Right side of a split stereo file");
const QString kConvertScriptCommand = QStringLiteral("QMConvertScriptCommandReceived");
constexpr int kMaxConversionName = 255;

} // namespace

MainController::MainController(UserDefaults& defaults, QObject* parent) : QObject(parent), m_defaults(defaults)
{
    m_adder = new FileAdder(this);
    connect(m_adder, &FileAdder::started, this, [this](int total) {
        emit addingProgress(L("Examining input files..."), 0, total);
        emit validationChanged();
    });
    connect(m_adder, &FileAdder::progress, this, [this](int examined, int total) {
        emit addingProgress(
            L("Examining file %1 of %2").arg(examined).arg(total),
            examined, total);
    });
    connect(m_adder, &FileAdder::finished, this, &MainController::filesExamined);
    // Files dropped on the input table are added (appended, then sorted).
    connect(&m_inputModel, &InputFileModel::filesDropped, this, &MainController::setFilesToAdd);
    // Undo and redo of list changes keep the list in its sort order.
    connect(&m_inputUndo, &QUndoStack::indexChanged, this, [this] { sortInputs(); });
    // What the user does in the conversion table.
    connect(&m_conversionModel, &ConversionTableModel::activeToggled, this, &MainController::setConversionActive);
    connect(&m_conversionModel, &ConversionTableModel::conversionsDropped, this, &MainController::dropConversions);
    connect(&m_conversionModel, &ConversionTableModel::draggedConversionsMoved, this,
            &MainController::removeConvFromArray, Qt::QueuedConnection);
    // An undone or redone conversion change is saved as well.
    connect(&m_conversionUndo, &QUndoStack::indexChanged, this, [this] { encodeConvSpecs(); });
    m_fadeTimer = new QTimer(this);
    connect(m_fadeTimer, &QTimer::timeout, this, &MainController::handleWindowFade);
}

MainController::~MainController()
{
    for (NotificationCenter::Token token : m_observers)
        NotificationCenter::defaultCenter().removeObserver(token);
    // A batch still running is stopped and its log finished before the
    // process goes.
    if (m_process && m_batch) {
        m_process->setShouldStop(true);
        m_process->waitUntilDone();
        m_batch->finish();
    }
    m_batch.reset();
    delete m_progress;
    delete m_errorsController.data();
    // The adder (a child) stops its worker when deleted.
    delete m_adder;
    m_adder = nullptr;
}

void MainController::start()
{
    EngineStartup::start(m_defaults);
    m_process = std::make_unique<ConversionProcess>(ConversionProcess::Environment{&m_defaults});

    const QString last = m_defaults.stringForKey(kLastUsedDestination);
    const QFileInfo lastInfo(last);
    setDestFolder(!last.isEmpty() && lastInfo.isDir() ? last : QString());

    // The output-folder well posts the dropped folder's path.
    m_observers.push_back(NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("ZuFileDropViewNotification"), nullptr, [this](const Notification& notification) {
            const QString path = notification.object.toString();
            if (!path.isEmpty())
                setDestFolder(path);
        }));

    // The batch's end and its Cancel button, the scripting command.
    m_observers.push_back(NotificationCenter::defaultCenter().addObserver(
        ProgressController::kEngineDoneNotification, nullptr, [this](const Notification& notification) {
            if (m_progress && notification.sender == m_progress)
                engineDone();
        }));
    m_observers.push_back(NotificationCenter::defaultCenter().addObserver(
        ProgressController::kUserCancelledNotification, nullptr, [this](const Notification& notification) {
            if (m_process && m_progress && notification.sender == m_progress)
                m_process->setShouldStop(true);
        }));
    m_observers.push_back(NotificationCenter::defaultCenter().addObserver(
        kConvertScriptCommand, nullptr, [this](const Notification&) {
            // Run from the event loop: the post may come from inside the
            // file adding's end.
            QMetaObject::invokeMethod(this, [this] { asConvert(); }, Qt::QueuedConnection);
        }));

    EncoderCheck::run(m_window);

    QList<ConvSpecRef> loaded;
    QString error;
    ConversionList::load(QString(), m_defaults, &loaded, &error);
    // Names are unique: a name already taken gets a free one.
    QList<ConvSpecRef> conversions;
    QStringList names;
    for (const ConvSpecRef& spec : loaded) {
        if (names.contains(spec->conversionName()))
            spec->setConversionName(copyName(spec->conversionName(), names));
        names.append(spec->conversionName());
        conversions.append(spec);
    }
    m_conversionModel.setConversions(conversions);

    applyStoredSort();
    emit conversionsChanged();
    emit inputsChanged();
    emit validationChanged();
}

void MainController::saveAtQuit()
{
    encodeConvSpecs();
}

// ============================================================ input list
void MainController::openFiles(const QStringList& paths)
{
    QStringList logs;
    QStringList others;
    for (const QString& path : paths) {
        if (QFileInfo(path).suffix() == QLatin1String("qlg"))
            logs.append(path);
        else
            others.append(QFileInfo(path).absoluteFilePath());
    }
    if (!logs.isEmpty())
        emit logFilesOpened(logs);
    if (!others.isEmpty())
        setFilesToAdd(others);
}

void MainController::openArguments(const QStringList& arguments)
{
    QStringList paths;
    bool convert = false;
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--convert"))
            convert = true;
        else if (!argument.startsWith(QLatin1String("--")))
            paths.append(argument);
    }
    openFiles(paths);
    if (!convert)
        return;
    if (isAddingFiles())
        m_convertPending = true;  // posted when the adding is over
    else
        NotificationCenter::defaultCenter().postNotification(kConvertScriptCommand, QVariant(), this);
}

void MainController::setFilesToAdd(const QStringList& paths)
{
    m_adder->add(paths);
}

bool MainController::isAddingFiles() const
{
    return m_adder->isBusy() || m_sorting;
}

void MainController::insertFile(const std::shared_ptr<ZuSoundFile>& file, int index)
{
    m_inputModel.insertFile(file, index);
    emit inputsChanged();
    emit validationChanged();
}

int MainController::deleteFile(const ZuSoundFile* file)
{
    const int row = m_inputModel.removeFile(file);
    emit inputsChanged();
    emit validationChanged();
    return row;
}

void MainController::filesExamined(const QList<std::shared_ptr<ZuSoundFile>>& models)
{
    const bool rawMode = m_defaults.integerForKey(Logger::kUnrecognizedActionKey) == 2;
    QStringList duplicates;
    QStringList rejected;
    int added = 0;
    QMimeDatabase mimeTypes;

    for (const std::shared_ptr<ZuSoundFile>& file : models) {
        if (!file->isPlayable() && !file->isDirectory() && !rawMode) {
            if (!file->isRightSideOfSplit() && file->descriptor() != kRightSideOfSplit)
                rejected.append(file->path());
            continue;
        }
        if (m_inputModel.containsName(InputFileModel::lastComponent(*file))) {
            duplicates.append(file->path());
            continue;
        }
        if (!file->isDirectory()) {
            // A member of a split set already listed is dropped without a report.
            const std::string path = file->path().toStdString();
            bool member = false;
            for (const std::shared_ptr<ZuSoundFile>& listed : m_inputModel.files()) {
                if (!listed->isSplit())
                    continue;
                const std::vector<std::string>& set = listed->surround_set();
                if (std::find(set.begin(), set.end(), path) != set.end()) {
                    member = true;
                    break;
                }
            }
            if (member)
                continue;
        }
        if (rawMode && file->descriptor().isEmpty())
            file->setDescriptor(mimeTypes.mimeTypeForFile(file->path(), QMimeDatabase::MatchExtension).comment());
        if (added == 0)
            m_inputUndo.beginMacro(L("Add File(s)"));
        m_inputUndo.push(new InputFileCommand(this, InputFileCommand::Insert, file, -1));
        ++added;
    }
    m_sorting = true;
    emit addingProgress(L("Sorting, please wait..."), 0, 0);
    if (added > 0)
        m_inputUndo.endMacro();  // sorts the list (indexChanged)
    m_sorting = false;
    emit addingProgress(QString(), 0, 0);
    emit inputsChanged();
    emit validationChanged();
    reportAddingErrors(duplicates, rejected, added);
    emit addingFinished(added);
    if (m_convertPending && !m_adder->isBusy()) {
        m_convertPending = false;
        NotificationCenter::defaultCenter().postNotification(kConvertScriptCommand, QVariant(), this);
    }
}

void MainController::reportAddingErrors(const QStringList& duplicates, const QStringList& rejected, int added)
{
    if (!duplicates.isEmpty() || !rejected.isEmpty()) {
        if (!m_errorsController)
            m_errorsController = new AddFilesErrorsController(m_defaults, m_window);
        else
            m_errorsController->reset();
        if (!duplicates.isEmpty())
            m_errorsController->setPaths(
                duplicates, L("The following files have names that are already in the list. "
                                               "Please rename them in the File Manager, if possible."));
        if (!rejected.isEmpty())
            m_errorsController->setPaths(
                rejected, L("The following files were not recognized "
                                                                     "as sound files."));
        m_errorsController->show();
        m_errorsController->raise();
        emit validationChanged();
    } else if (added == 0) {
        Alert alert;
        alert.title = L("No Files Added");
        alert.message = L("There were no recognizable sound files among the files you selected, so none were "
                           "added.");
        AppPresenter::showAlert(alert, m_window);
    }
}

void MainController::removeFiles(const QList<int>& rows)
{
    QList<std::shared_ptr<ZuSoundFile>> files;
    for (int row : rows)
        if (std::shared_ptr<ZuSoundFile> file = m_inputModel.fileAt(row))
            files.append(file);
    removeInputFiles(files, L("Remove File(s)"));
}

void MainController::removeAll()
{
    removeInputFiles(m_inputModel.files(), L("Remove All Files"));
}

void MainController::removeInputFiles(const QList<std::shared_ptr<ZuSoundFile>>& files, const QString& actionName)
{
    if (files.isEmpty())
        return;
    m_inputUndo.beginMacro(actionName);
    for (const std::shared_ptr<ZuSoundFile>& file : files)
        m_inputUndo.push(new InputFileCommand(this, InputFileCommand::Remove, file));
    m_inputUndo.endMacro();
}

AddFilesErrorsController* MainController::addFilesErrorsController() const
{
    return m_errorsController.data();
}

void MainController::showLastFileAddingErrors()
{
    if (m_errorsController) {
        m_errorsController->show();
        m_errorsController->raise();
    }
}

// ============================================================ sorting
void MainController::sortInputs()
{
    const bool wasSorting = m_sorting;
    m_sorting = true;
    m_inputModel.sortFiles();
    m_sorting = wasSorting;
}

void MainController::applyStoredSort()
{
    ZuSoundFile::setSortKey(m_defaults.stringForKey(kInputSortKey));
    ZuSoundFile::setAscendingSort(m_defaults.boolForKey(kInputSortAscending));
    ConvSpec::setSortKey(m_defaults.stringForKey(kConvSortKey));
    ConvSpec::setAscendingSort(m_defaults.boolForKey(kConvSortAscending));
    sortInputs();
    m_conversionModel.sortConversions();
}

void MainController::clickHeader(const QString& column, const QString& keyName, const QString& ascendingName,
                                 bool input)
{
    if (column.isEmpty())
        return;
    if (m_defaults.stringForKey(keyName) == column)
        m_defaults.setBool(ascendingName, !m_defaults.boolForKey(ascendingName));
    else
        m_defaults.setString(keyName, column);
    if (input) {
        ZuSoundFile::setSortKey(m_defaults.stringForKey(keyName));
        ZuSoundFile::setAscendingSort(m_defaults.boolForKey(ascendingName));
        sortInputs();
        emit inputsChanged();
    } else {
        ConvSpec::setSortKey(m_defaults.stringForKey(keyName));
        ConvSpec::setAscendingSort(m_defaults.boolForKey(ascendingName));
        m_conversionModel.sortConversions();
        emit conversionsChanged();
    }
}

void MainController::inputHeaderClicked(int column)
{
    if (column == InputFileModel::Playable)
        return;
    clickHeader(InputFileModel::columnIdentifier(column), kInputSortKey, kInputSortAscending, true);
}

void MainController::conversionHeaderClicked(int column)
{
    clickHeader(ConversionTableModel::columnIdentifier(column), kConvSortKey, kConvSortAscending, false);
}

int MainController::inputSortColumn() const
{
    return InputFileModel::columnForIdentifier(m_defaults.stringForKey(kInputSortKey));
}

bool MainController::inputSortAscending() const
{
    return m_defaults.boolForKey(kInputSortAscending);
}

int MainController::conversionSortColumn() const
{
    return ConversionTableModel::columnForIdentifier(m_defaults.stringForKey(kConvSortKey));
}

bool MainController::conversionSortAscending() const
{
    return m_defaults.boolForKey(kConvSortAscending);
}

// ============================================================ output folder
void MainController::setDestFolder(const QString& path)
{
    m_destFolder = path;
    if (!path.isEmpty())
        m_defaults.setString(kLastUsedDestination, path);
    emit outputChanged();
    emit validationChanged();
}

bool MainController::destFolderDefined() const
{
    return !m_destFolder.isEmpty() && QFileInfo(m_destFolder).isDir();
}

void MainController::showDestInFileManager()
{
    if (destFolderDefined())
        AppPresenter::openUrl(QUrl::fromLocalFile(m_destFolder));
}

// ============================================================ validation
bool MainController::atLeastOneActiveConversion() const
{
    for (const ConvSpecRef& spec : m_conversionModel.conversions())
        if (spec->active() && spec->valid())
            return true;
    return false;
}

void MainController::setViewState(MainTab tab, int selectedInputs, int selectedConversions)
{
    m_tab = tab;
    m_selectedInputs = selectedInputs;
    m_selectedConversions = selectedConversions;
    emit validationChanged();
}

void MainController::setPlayback(PlaybackController* playback)
{
    m_playback = playback;
}

bool MainController::isPlaying() const
{
    return m_playback && m_playback->isPlaying();
}

bool MainController::validate(AppCommand command) const
{
    const bool playing = isPlaying();
    const int inputs = m_inputModel.rowCount();
    switch (command) {
    case AppCommand::PlayFile:
    case AppCommand::PlayPreviousFromFolder:
    case AppCommand::PlayNextFromFolder:
    case AppCommand::PlayPreviousFromInputList:
    case AppCommand::PlayNextFromInputList:
    case AppCommand::StopFile:
        // The player's rules; without player controls, those of no player.
        if (m_playback)
            return m_playback->validate(command);
        return command == AppCommand::PlayFile && m_selectedInputs > 0;
    case AppCommand::EditConversion:
        return m_selectedConversions == 1;
    case AppCommand::MarkConversion:
    case AppCommand::UnmarkConversion:
    case AppCommand::DuplicateConversion:
        return m_selectedConversions > 0;
    case AppCommand::RemoveFiles:
        return m_selectedInputs > 0;
    case AppCommand::Delete:
        if (m_tab == MainTab::Input)
            return m_selectedInputs > 0;
        if (m_tab == MainTab::Conversions)
            return m_selectedConversions > 0;
        return false;
    case AppCommand::RemoveAll:
        return inputs > 0;
    case AppCommand::Start:
        return !playing && !isAddingFiles() && !batchRunning() && inputs > 0 && atLeastOneActiveConversion() &&
               destFolderDefined();
    case AppCommand::ShowLastFileAddingErrors:
        return !m_errorsController.isNull();
    case AppCommand::ShowDestInFinder:
    case AppCommand::EmptyOutputFolder:
        return destFolderDefined();
    default:
        return true;
    }
}

// ============================================================ conversion list
QStringList MainController::conversionNames() const
{
    QStringList names;
    for (const ConvSpecRef& spec : m_conversionModel.conversions())
        names.append(spec->conversionName());
    return names;
}

void MainController::conversionListChanged()
{
    emit conversionsChanged();
    emit validationChanged();
}

void MainController::insertConvSpec(const ConvSpecRef& spec, int index)
{
    m_conversionModel.insertConversion(spec, index);
    m_conversionModel.sortConversions();
    conversionListChanged();
}

int MainController::deleteConvSpec(const ConvSpec* spec)
{
    const int row = m_conversionModel.removeConversion(spec);
    conversionListChanged();
    return row;
}

void MainController::updateConvSpec(const ConvSpec* old, const ConvSpecRef& spec)
{
    const int row = m_conversionModel.rowOf(old);
    if (row < 0)
        return;
    m_conversionModel.replaceConversion(row, spec);
    m_conversionModel.sortConversions();
    conversionListChanged();
}

void MainController::addConversion(const ConvSpecRef& spec)
{
    if (conversionNames().contains(spec->conversionName()))
        spec->setConversionName(copyName(spec->conversionName(), conversionNames()));
    m_conversionUndo.beginMacro(L("Add Conversion"));
    m_conversionUndo.push(new ConvSpecCommand(this, ConvSpecCommand::Insert, spec, -1));
    m_conversionUndo.endMacro();
    encodeConvSpecs();
}

void MainController::replaceConversion(int row, const ConvSpecRef& edited)
{
    const ConvSpecRef old = m_conversionModel.conversions().value(row);
    if (!old)
        return;
    QStringList others = conversionNames();
    others.removeAt(row);
    if (others.contains(edited->conversionName()))
        edited->setConversionName(copyName(edited->conversionName(), others));
    m_conversionUndo.beginMacro(L("Edit Conversion"));
    m_conversionUndo.push(new ConvSpecCommand(this, ConvSpecCommand::Update, edited, -1, old));
    m_conversionUndo.endMacro();
    encodeConvSpecs();
}

QString MainController::copyName(const QString& base, const QStringList& taken)
{
    const QString word = L("copy");
    QString name = base;
    auto fit = [&name](const QString& candidate) -> QString {
        // The base is shortened by the excess and stays shortened.
        const qsizetype excess = candidate.size() - kMaxConversionName;
        if (excess <= 0)
            return candidate;
        const qsizetype suffix = candidate.size() - name.size();
        name.truncate(std::max<qsizetype>(0, name.size() - excess));
        return candidate.right(suffix).prepend(name);
    };
    QString candidate = fit(QStringLiteral("%1 %2").arg(name, word));
    for (int counter = 1; taken.contains(candidate); ++counter)
        candidate = fit(QStringLiteral("%1 %2 %3").arg(name, word).arg(counter));
    return candidate;
}

QList<ConvSpecRef> MainController::duplicateConversions(const QList<int>& rows)
{
    QList<ConvSpecRef> originals;
    for (int row : rows)
        if (ConvSpecRef spec = m_conversionModel.conversions().value(row))
            originals.append(spec);
    QList<ConvSpecRef> copies;
    if (originals.isEmpty())
        return copies;
    m_conversionUndo.beginMacro(L("Duplicate Conversion(s)"));
    for (const ConvSpecRef& original : originals) {
        ConvSpecRef copy = original->copy();
        copy->setConversionName(copyName(original->conversionName(), conversionNames()));
        m_conversionUndo.push(new ConvSpecCommand(this, ConvSpecCommand::Insert, copy, -1));
        copies.append(copy);
    }
    m_conversionUndo.endMacro();
    encodeConvSpecs();
    return copies;
}

void MainController::removeConversions(const QList<int>& rows)
{
    QList<ConvSpecRef> selected;
    for (int row : rows)
        if (ConvSpecRef spec = m_conversionModel.conversions().value(row))
            selected.append(spec);
    removeConvFromArray(selected);
}

void MainController::removeConvFromArray(const QList<ConvSpecRef>& conversions)
{
    QList<ConvSpecRef> listed;
    for (const ConvSpecRef& spec : conversions)
        if (m_conversionModel.rowOf(spec.get()) >= 0)
            listed.append(spec);
    if (listed.isEmpty())
        return;
    m_conversionUndo.beginMacro(L("Delete Conversion(s)"));
    for (const ConvSpecRef& spec : listed)
        m_conversionUndo.push(new ConvSpecCommand(this, ConvSpecCommand::Remove, spec));
    m_conversionUndo.endMacro();
    encodeConvSpecs();
}

void MainController::markConversions(const QList<int>& rows, bool active)
{
    for (int row : rows)
        if (ConvSpecRef spec = m_conversionModel.conversions().value(row))
            spec->setActive(active);
    m_conversionModel.refresh();
    conversionListChanged();
}

void MainController::setConversionActive(int row, bool active)
{
    const ConvSpecRef spec = m_conversionModel.conversions().value(row);
    if (!spec || !spec->valid())
        return;
    spec->setActive(active);
    m_conversionModel.refresh();
    m_conversionModel.sortConversions();
    conversionListChanged();
    encodeConvSpecs();
}

void MainController::dropConversions(const QVariantList& dictionaries, int row)
{
    if (dictionaries.isEmpty()) {
        QM_TRACE("dropConversions", "No correct conv spec property list in dragging pasteboard");
        return;
    }
    m_conversionUndo.beginMacro(L("Drag Conversion(s)"));
    for (const QVariant& item : dictionaries) {
        // The same reading as a loaded list: a safe folder name and a full
        // settings block; a taken name gets a free one.
        ConvSpecRef spec = ConvSpec::fromDictionary(item.toMap());
        const QStringList names = conversionNames();
        if (names.contains(spec->conversionName()))
            spec->setConversionName(copyName(spec->conversionName(), names));
        m_conversionUndo.push(new ConvSpecCommand(this, ConvSpecCommand::Insert, spec, row));
    }
    m_conversionUndo.endMacro();
    encodeConvSpecs();
}

void MainController::encodeConvSpecs()
{
    QVariantList array;
    for (const ConvSpecRef& spec : m_conversionModel.conversions())
        array.append(spec->dictionary());
    m_defaults.setObject(kConversions, array);
    m_defaults.synchronize();
}

// ============================================================ batch
bool MainController::batchRunning() const
{
    // From the start until the log is finished at the end.
    return (m_process && m_process->running()) || m_batch != nullptr;
}

bool MainController::doStart()
{
    if (!m_progress)
        m_progress = new ProgressController(m_defaults);
    m_shouldStartFade = true;
    m_refusal.clear();
    const bool started = convert();
    if (started && m_shouldStartFade) {
        emit validationChanged();
        m_windowAlpha = 1.0;
        m_fadeTimer->start(50);
    }
    return started;
}

void MainController::closeProgress()
{
    if (m_progress)
        m_progress->close();
}

void MainController::refuse(const QString& title, const QString& message, bool close)
{
    Alert alert;
    alert.title = L(title.toUtf8().constData());
    alert.message = message;
    showRefusal(alert);
    if (close)
        closeProgress();
}

void MainController::showRefusal(const Alert& alert)
{
    m_refusal = alert.title + QStringLiteral(": ") + alert.message;
    if (m_holdRefusals)
        m_heldRefusal = alert;
    else
        AppPresenter::showAlert(alert, m_window);
}

bool MainController::convert()
{
    if (batchRunning() || !m_process)
        return false;
    // The active conversions that can run (the batch command's choice); one
    // that cannot is said once (and in the log) and left out.
    QList<ConvSpecRef> active;
    QStringList skipped;
    QString none;
    if (!ConversionList::select(m_conversionModel.conversions(), {}, &active, &none, &skipped)) {
        refuse(QStringLiteral("Error"), none, false);
        return false;
    }
    if (!skipped.isEmpty()) {
        std::fprintf(stderr, "quillmarch: %s\n", qPrintable(skipped.join(QStringLiteral("\nquillmarch: "))));
        if (!m_holdRefusals) {
            Alert alert;
            alert.title = L("Conversions skipped");
            alert.message = skipped.join(QLatin1Char('\n'));
            AppPresenter::showAlert(alert, m_window);
        }
    }

    BatchStart::Request request;
    for (const std::shared_ptr<ZuSoundFile>& file : m_inputModel.files())
        request.inputs.append(file->path());
    request.conversions = active;
    request.notRun = skipped;
    request.outputFolder = m_destFolder;
    // An existing subfolder while "Easy Thru" is off: the user chooses.
    std::optional<Alert> asked;
    request.useExistingSubfolder = [this, &asked](const ConvSpec& spec) {
        Alert alert;
        alert.title = L("Warning: output folder already exists");
        alert.message =
            L("The folder where converted audio files should be created using the conversion named: "
                "'%1' already exists inside the specified output folder.\n\nDo you want to keep using the "
                "existing folder, or would you like to specify a different output folder?")
                .arg(spec.conversionName());
        alert.defaultButton = L("Choose Different Destination");
        alert.alternateButton = L("Use Existing Folder");
        if (AppPresenter::showAlert(alert, m_window) != 1)
            return true;
        asked = alert;
        return false;
    };
    auto batch = std::make_unique<BatchStart>(*m_process, m_defaults);
    if (const std::optional<BatchStart::Refusal> refusal = batch->prepare(request)) {
        if (asked) {
            m_refusal = asked->title + QStringLiteral(": ") + asked->message + L(" (another output folder was asked for)");
            closeProgress();
        } else {
            refuse(refusal->title, refusal->message, refusal->step != BatchStart::Step::DitherTable);
        }
        return false;
    }

    batch->openLog();
    // The process counts as running from here (start raises its flag
    // before it returns), so no poll can end the batch before it began.
    if (!batch->start()) {
        refuse(QStringLiteral("Error"), L("The batch could not be started."));
        return false;
    }
    const int fileCount = batch->files();
    m_batch = std::move(batch);
    m_lastBatchLog.clear();
    m_progress->begin(m_process.get(), fileCount, int(active.size()), m_progressInterval);
    emit validationChanged();
    emit batchStarted();
    return true;
}

void MainController::handleWindowFade()
{
    if (m_windowAlpha > 0.0) {
        if (m_window)
            m_window->setWindowOpacity(m_windowAlpha);
        m_windowAlpha -= 0.075;
        return;
    }
    if (m_window) {
        // Its inside: unmapped, the window has no frame to measure by.
        m_windowPosition = m_window->geometry().topLeft();
        m_window->hide();
    }
    m_fadeTimer->stop();
}

void MainController::engineDone()
{
    if (!m_batch)
        return;
    m_shouldStartFade = false;
    m_fadeTimer->stop();
    if (m_window) {
        m_window->setWindowOpacity(1.0);
        // Shown again where it stood.  Hidden, the window is no longer the
        // window manager's: mapped anew with no position of its own it
        // would be placed as a new window.  A position set on the window
        // itself goes out as the user's, which the manager keeps.
        if (const std::optional<QPoint> position = std::exchange(m_windowPosition, std::nullopt)) {
            m_window->setGeometry(QRect(*position, m_window->size()));
            if (QWindow* handle = m_window->windowHandle())
                handle->setPosition(*position);
        }
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
    }

    // The worker is over before the log is finished.
    m_process->waitUntilDone();
    const OSErr logError = m_batch->finish();
    const bool fatal = m_batch->logger().fatal();
    // Counted as the batch command's summary counts: the right side of a
    // split set is a note in the log, not a failure; a conversion left out
    // is one.
    const bool failures = m_batch->failed() > 0 || m_batch->conversionsNotRun() > 0;
    const QString logPath = m_batch->logger().logPath();
    const bool kept = m_batch->logger().logFileCreated() && !logPath.isEmpty() && QFileInfo(logPath).isFile();
    m_batch.reset();
    m_defaults.synchronize();
    m_lastBatchLog = kept ? logPath : QString();
    emit validationChanged();

    if (m_defaults.boolForKey(PreferenceKeys::kBeepWhenDone))
        AppPresenter::playSound(fatal ? QStringLiteral("Toeter") : QStringLiteral("Pieieng"));

    if (logError != noErr) {
        Alert alert;
        alert.title = L("Error");
        alert.message = L("The log could not be written completely (error %1).").arg(logError);
        AppPresenter::showAlert(alert, m_window);
    }

    // This batch's log, when it was kept; "Only Open When Errors" opens it
    // when any file failed, the batch was stopped or cancelled (the
    // worker's last error is a failed file's, counted already, or the
    // cancel's).
    const bool errors = failures || fatal || m_process->err() == userCanceledErr;
    if (kept && m_defaults.boolForKey(Logger::kSaveLogKey) && m_defaults.boolForKey(PreferenceKeys::kOpenLog) &&
        (!m_defaults.boolForKey(PreferenceKeys::kOnlyOpenWhenErrors) || errors))
        emit logFilesOpened({logPath});
    emit batchFinished();
}

QString MainController::startUnavailableReason() const
{
    QStringList reasons;
    if (batchRunning())
        reasons.append(L("a batch is running"));
    if (isPlaying())
        reasons.append(L("a file is playing"));
    if (isAddingFiles())
        reasons.append(L("files are still being added"));
    if (m_inputModel.rowCount() == 0)
        reasons.append(L("the input list is empty"));
    if (!atLeastOneActiveConversion())
        reasons.append(L("no conversion is active (and can be written)"));
    if (m_destFolder.isEmpty())
        reasons.append(L("no output folder is chosen"));
    else if (!destFolderDefined())
        reasons.append(L("the output folder '%1' does not exist").arg(m_destFolder));
    if (reasons.isEmpty())
        return QString();
    return L("Start is not available: %1.").arg(reasons.join(QStringLiteral("; ")));
}

void MainController::asConvert()
{
    if (!validate(AppCommand::Start)) {
        const QString reason = startUnavailableReason();
        std::fprintf(stderr, "quillmarch: convert command received: %s Nothing was done.\n", qPrintable(reason));
        emit scriptCommandHandled(false, reason);
        return;
    }
    std::fputs("quillmarch: convert command received: starting the batch\n", stderr);
    m_holdRefusals = true;
    m_heldRefusal.reset();
    const bool started = doStart();
    m_holdRefusals = false;
    if (started) {
        emit scriptCommandHandled(true, QString());
        return;
    }
    std::fprintf(stderr, "quillmarch: the batch was not started: %s\n", qPrintable(m_refusal));
    emit scriptCommandHandled(false, m_refusal);
    // Now the user sees why too.
    if (const std::optional<Alert> alert = std::exchange(m_heldRefusal, std::nullopt))
        AppPresenter::showAlert(*alert, m_window);
}
