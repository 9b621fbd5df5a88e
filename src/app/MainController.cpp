#include "MainController.h"

#include "AddFilesErrorsController.h"
#include "AppPresenter.h"
#include "ConversionList.h"
#include "ConversionProcess.h"
#include "EncoderCheck.h"
#include "EngineStartup.h"
#include "FileAdder.h"
#include "InputFileCommand.h"
#include "MainBundle.h"
#include "UserDefaults.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QUrl>
#include <QVariantList>

namespace {

const QString kLastUsedDestination = QStringLiteral("Last Used Destination");
const QString kConversions = QStringLiteral("Conversions");
const QString kInputSortKey = QStringLiteral("Input Files Sort Key");
const QString kInputSortAscending = QStringLiteral("Input Files Sort Ascending");
const QString kConvSortKey = QStringLiteral("ConvSpecs Sort Key");
const QString kConvSortAscending = QStringLiteral("ConvSpecs Sort Ascending");
const QString kUnrecognizedAction = QStringLiteral("Unrecognized Input File Action");
const QString kRightSideOfSplit = QStringLiteral("Right side of a split stereo file");

} // namespace

MainController::MainController(UserDefaults& defaults, QObject* parent) : QObject(parent), m_defaults(defaults)
{
    m_adder = new FileAdder(this);
    connect(m_adder, &FileAdder::started, this, [this](int total) {
        emit addingProgress(MainBundle::localizedString(QStringLiteral("Examining input files...")), 0, total);
        emit validationChanged();
    });
    connect(m_adder, &FileAdder::progress, this, [this](int examined, int total) {
        emit addingProgress(
            MainBundle::localizedString(QStringLiteral("Examining file %1 of %2")).arg(examined).arg(total),
            examined, total);
    });
    connect(m_adder, &FileAdder::finished, this, &MainController::filesExamined);
    // Files dropped on the input table are added (appended, then sorted).
    connect(&m_inputModel, &InputFileModel::filesDropped, this, &MainController::setFilesToAdd);
    // Undo and redo of list changes keep the list in its sort order.
    connect(&m_inputUndo, &QUndoStack::indexChanged, this, [this] { sortInputs(); });
}

MainController::~MainController()
{
    for (NotificationCenter::Token token : m_observers)
        NotificationCenter::defaultCenter().removeObserver(token);
    delete m_errorsController;
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

    EncoderCheck::run(m_window);

    QList<ConvSpecRef> conversions;
    QString error;
    ConversionList::load(QString(), m_defaults, &conversions, &error);
    m_conversionModel.setConversions(conversions);

    applyStoredSort();
    emit conversionsChanged();
    emit inputsChanged();
    emit validationChanged();
}

void MainController::saveAtQuit()
{
    QVariantList array;
    for (const ConvSpecRef& spec : m_conversionModel.conversions())
        array.append(spec->dictionary());
    m_defaults.setObject(kConversions, array);
    m_defaults.synchronize();
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
        NotificationCenter::defaultCenter().postNotification(QStringLiteral("QMConvertScriptCommandReceived"),
                                                             QVariant(), this);
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
    const bool rawMode = m_defaults.integerForKey(kUnrecognizedAction) == 2;
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
            m_inputUndo.beginMacro(MainBundle::localizedString(QStringLiteral("Add File(s)")));
        m_inputUndo.push(new InputFileCommand(this, InputFileCommand::Insert, file, -1));
        ++added;
    }
    m_sorting = true;
    emit addingProgress(MainBundle::localizedString(QStringLiteral("Sorting, please wait...")), 0, 0);
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
        NotificationCenter::defaultCenter().postNotification(QStringLiteral("QMConvertScriptCommandReceived"),
                                                             QVariant(), this);
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
                duplicates, MainBundle::localizedString(
                                QStringLiteral("The following files have names that are already in the list. "
                                               "Please rename them in the Finder, if possible.")));
        if (!rejected.isEmpty())
            m_errorsController->setPaths(
                rejected, MainBundle::localizedString(QStringLiteral("The following files were not recognized "
                                                                     "as sound files.")));
        m_errorsController->show();
        m_errorsController->raise();
        emit validationChanged();
    } else if (added == 0) {
        Alert alert;
        alert.title = MainBundle::localizedString(QStringLiteral("No Files Added"));
        alert.message = MainBundle::localizedString(
            QStringLiteral("There were no recognizable sound files among the files you selected, so none were "
                           "added."));
        AppPresenter::showAlert(alert, m_window);
    }
}

void MainController::removeFiles(const QList<int>& rows)
{
    QList<std::shared_ptr<ZuSoundFile>> files;
    for (int row : rows)
        if (std::shared_ptr<ZuSoundFile> file = m_inputModel.fileAt(row))
            files.append(file);
    if (files.isEmpty())
        return;
    m_inputUndo.beginMacro(MainBundle::localizedString(QStringLiteral("Remove File(s)")));
    for (const std::shared_ptr<ZuSoundFile>& file : files)
        m_inputUndo.push(new InputFileCommand(this, InputFileCommand::Remove, file));
    m_inputUndo.endMacro();
}

void MainController::removeAll()
{
    const QList<std::shared_ptr<ZuSoundFile>> files = m_inputModel.files();
    if (files.isEmpty())
        return;
    m_inputUndo.beginMacro(MainBundle::localizedString(QStringLiteral("Remove All Files")));
    for (const std::shared_ptr<ZuSoundFile>& file : files)
        m_inputUndo.push(new InputFileCommand(this, InputFileCommand::Remove, file));
    m_inputUndo.endMacro();
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

bool MainController::validate(AppCommand command) const
{
    // No preview player exists yet: playback commands follow the
    // no-player rules.
    const bool hasPlayer = false;
    const bool playing = false;
    const int inputs = m_inputModel.rowCount();
    switch (command) {
    case AppCommand::PlayFile:
        return hasPlayer ? inputs > 0 : m_selectedInputs > 0;
    case AppCommand::PlayPreviousFromFolder:
    case AppCommand::PlayNextFromFolder:
        return false;
    case AppCommand::PlayPreviousFromInputList:
    case AppCommand::PlayNextFromInputList:
        return hasPlayer && inputs > 1;
    case AppCommand::StopFile:
        return hasPlayer && playing;
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
        return !playing && !isAddingFiles() && !(m_process && m_process->running()) && inputs > 0 &&
               atLeastOneActiveConversion() && destFolderDefined();
    case AppCommand::ShowLastFileAddingErrors:
        return m_errorsController != nullptr;
    case AppCommand::ShowDestInFinder:
    case AppCommand::EmptyOutputFolder:
        return destFolderDefined();
    default:
        return true;
    }
}
