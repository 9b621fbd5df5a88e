#include "MainWindow.h"

#include "AboutView.h"
#include "AddFilesDialog.h"
#include "AppPresenter.h"
#include "BackgroundImageView.h"
#include "ByteFormatter.h"
#include "ControlTools.h"
#include "ConversionTableModel.h"
#include "FileDropView.h"
#include "InputFileModel.h"
#include "Localized.h"
#include "LogDocument.h"
#include "MainBundle.h"
#include "MainController.h"
#include "OutputFolderInfo.h"
#include "PlaybackController.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QAction>
#include <QCloseEvent>
#include <QApplication>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QUndoGroup>
#include <QUndoStack>
#include <QVBoxLayout>

namespace {

const QString kInputColumnsKey = PreferenceKeys::kInputTableColumns;
const QString kConversionColumnsKey = PreferenceKeys::kConversionTableColumns;

// A table of `page` showing `model`: whole rows selected, not editable, no
// grid, sortable by its column headers.
QTableView* NewTable(QWidget* page, QAbstractItemModel* model)
{
    auto* table = new QTableView(page);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // One line a row, cut in its middle: the ends that tell names apart
    // (a duplicate's number, a take's extension) stay in sight.
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideMiddle);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(22);
    table->horizontalHeader()->setSectionsClickable(true);
    table->horizontalHeader()->setSortIndicatorShown(true);
    table->horizontalHeader()->setHighlightSections(false);
    table->setModel(model);
    return table;
}

} // namespace

MainWindow::MainWindow(MainController& controller, QWidget* parent) : QMainWindow(parent), m_controller(controller)
{
    setWindowTitle(QStringLiteral("Quillmarch"));
    setWindowIcon(QIcon(MainBundle::pathForResource(QStringLiteral("quillmarch"), QStringLiteral("png"),
                                                    QStringLiteral("images"))));
    controller.setWindow(this);

    m_background = new BackgroundImageView(this);
    m_background->setImage(QImage(MainBundle::pathForResource(QStringLiteral("backgroundquill"),
                                                              QStringLiteral("png"), QStringLiteral("images"))));
    m_tabs = new QTabWidget(m_background);
    m_tabs->addTab(buildInputTab(), L("Input"));
    m_tabs->addTab(buildConversionsTab(), L("Conversions"));
    m_tabs->addTab(buildOutputTab(), L("Output"));

    m_addingMessage = new QLabel(m_background);
    m_addingProgress = new QProgressBar(m_background);
    m_addingProgress->setTextVisible(false);
    m_addingProgress->setMaximumWidth(180);
    m_addingProgress->hide();
    m_startButton = new QPushButton(L("Start"), m_background);
    m_startButton->setMinimumWidth(100);
    m_buttons.insert(int(AppCommand::Start), m_startButton);
    connect(m_startButton, &QPushButton::clicked, &m_controller, &MainController::doStart);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_addingProgress);
    bottom->addWidget(m_addingMessage, 1);
    bottom->addWidget(m_startButton);
    auto* layout = new QVBoxLayout(m_background);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(bottom);
    setCentralWidget(m_background);
    buildMenus();

    connect(&controller, &MainController::logFilesOpened, this, &MainWindow::openLogs);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == int(MainTab::Output))
            updateOutputView();
        m_undoGroup->setActiveStack(index == int(MainTab::Conversions) ? m_controller.conversionUndoStack()
                                                                       : m_controller.inputUndoStack());
        reportViewState();
    });
    connect(&controller, &MainController::validationChanged, this, &MainWindow::updateCommands);
    connect(&controller, &MainController::outputChanged, this, &MainWindow::updateOutputView);
    connect(&controller, &MainController::inputsChanged, this, [this] {
        updateSortIndicators();
        fitInputColumns();
        reportViewState();
    });
    connect(&controller, &MainController::conversionsChanged, this, [this] {
        updateSortIndicators();
        reportViewState();
    });
    connect(&controller, &MainController::addingProgress, this,
            [this](const QString& message, int value, int maximum) {
                m_addingMessage->setText(message);
                if (message.isEmpty()) {
                    m_addingProgress->hide();
                    m_addingProgress->setRange(0, 1);
                    m_addingProgress->setValue(0);
                    return;
                }
                // A maximum of 0 shows a busy bar: nothing is divided by zero.
                m_addingProgress->setRange(0, std::max(maximum, 0));
                m_addingProgress->setValue(std::clamp(value, 0, std::max(maximum, 0)));
                m_addingProgress->show();
            });

    restoreColumnLayouts();
    showInput();
    updateOutputView();
    updateSortIndicators();
    updateCommands();
    // Room for every column of the input list, within the screen.
    QSize size(1080, 600);
    if (const QScreen* screen = QApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(size);
}

MainWindow::~MainWindow()
{
    m_controller.setWindow(nullptr);
    for (const QPointer<LogDocument>& log : m_logs)
        delete log.data();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing the main window is quitting: each log window asks first about
    // edits it has, and one kept open keeps the application.
    for (const QPointer<LogDocument>& log : std::as_const(m_logs))
        if (log && log->isVisible() && !log->close()) {
            event->ignore();
            return;
        }
    saveColumnLayouts();
    QMainWindow::closeEvent(event);
    emit quitting();
    QCoreApplication::quit();
}

void MainWindow::saveColumnLayouts()
{
    UserDefaults& defaults = m_controller.defaults();
    defaults.setString(kInputColumnsKey, QString::fromLatin1(m_inputTable->horizontalHeader()->saveState().toBase64()));
    defaults.setString(kConversionColumnsKey,
                       QString::fromLatin1(m_conversionTable->horizontalHeader()->saveState().toBase64()));
}

void MainWindow::restoreColumnLayouts()
{
    // The sort indicators come from the stored sort, set afterwards.
    const UserDefaults& defaults = m_controller.defaults();
    const QByteArray input = QByteArray::fromBase64(defaults.stringForKey(kInputColumnsKey).toLatin1());
    if (!input.isEmpty())
        m_inputTable->horizontalHeader()->restoreState(input);
    const QByteArray conversions = QByteArray::fromBase64(defaults.stringForKey(kConversionColumnsKey).toLatin1());
    if (!conversions.isEmpty())
        m_conversionTable->horizontalHeader()->restoreState(conversions);
}

QAction* MainWindow::addCommand(QMenu* menu, AppCommand command, const QString& title, const QKeySequence& shortcut)
{
    QAction* action = menu->addAction(title);
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    m_actions.insert(int(command), action);
    return action;
}

void MainWindow::registerAction(AppCommand command, QAction* action)
{
    m_actions.insert(int(command), action);
    action->setEnabled(m_controller.validate(command));
}

void MainWindow::buildMenus()
{
    QMenu* file = m_fileMenu = menuBar()->addMenu(L("&File"));
    connect(addCommand(file, AppCommand::AddFiles, L("Add Files..."), QKeySequence::Open), &QAction::triggered,
            this, &MainWindow::addFiles);
    connect(addCommand(file, AppCommand::ShowLastFileAddingErrors, L("Show Last File Adding Errors"), {}),
            &QAction::triggered, &m_controller, &MainController::showLastFileAddingErrors);
    file->addSeparator();
    connect(addCommand(file, AppCommand::ChooseFolder, L("Choose Output Folder..."), {}), &QAction::triggered,
            this, &MainWindow::chooseFolder);
    connect(addCommand(file, AppCommand::ShowDestInFinder, L("Show Output Folder"), {}), &QAction::triggered,
            &m_controller, &MainController::showDestInFileManager);
    file->addSeparator();
    connect(addCommand(file, AppCommand::Start, L("Start"), QKeySequence(Qt::CTRL | Qt::Key_R)),
            &QAction::triggered, &m_controller, &MainController::doStart);
    file->addSeparator();
    QAction* quit = file->addAction(L("Quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));  // on every desktop, whatever its scheme
    quit->setShortcutContext(Qt::ApplicationShortcut);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu* edit = m_editMenu = menuBar()->addMenu(L("&Edit"));
    // Undo follows the tab: the input list's or the conversion list's.
    m_undoGroup = new QUndoGroup(this);
    m_undoGroup->addStack(m_controller.inputUndoStack());
    m_undoGroup->addStack(m_controller.conversionUndoStack());
    m_undoGroup->setActiveStack(m_controller.inputUndoStack());
    QAction* undo = m_undoGroup->createUndoAction(this, L("Undo"));
    undo->setShortcut(QKeySequence::Undo);
    QAction* redo = m_undoGroup->createRedoAction(this, L("Redo"));
    redo->setShortcut(QKeySequence::Redo);
    edit->addAction(undo);
    edit->addAction(redo);
    edit->addSeparator();
    connect(addCommand(edit, AppCommand::Delete, L("Delete"), QKeySequence::Delete), &QAction::triggered, this,
            &MainWindow::deleteSelection);
    connect(addCommand(edit, AppCommand::RemoveAll, L("Remove All Files"), {}), &QAction::triggered,
            &m_controller, &MainController::removeAll);

    // The conversion editor adds "New Conversion..." and "Edit
    // Conversion..." here.
    QMenu* conversionsMenu = m_conversionsMenu = menuBar()->addMenu(L("&Conversions"));
    connect(addCommand(conversionsMenu, AppCommand::DuplicateConversion, L("Duplicate"), {}), &QAction::triggered,
            this, [this] { m_controller.duplicateConversions(selectedConversionRows()); });
    connect(addCommand(conversionsMenu, AppCommand::MarkConversion, L("Mark Active"), {}), &QAction::triggered,
            this, [this] { m_controller.markConversions(selectedConversionRows(), true); });
    connect(addCommand(conversionsMenu, AppCommand::UnmarkConversion, L("Mark Inactive"), {}),
            &QAction::triggered, this, [this] { m_controller.markConversions(selectedConversionRows(), false); });

    QMenu* window = menuBar()->addMenu(L("&Window"));
    QAction* input = window->addAction(L("Input"));
    input->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    connect(input, &QAction::triggered, this, &MainWindow::showInput);
    QAction* conversions = window->addAction(L("Conversions"));
    conversions->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_2));
    connect(conversions, &QAction::triggered, this, &MainWindow::showConversions);
    QAction* output = window->addAction(L("Output"));
    output->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_3));
    connect(output, &QAction::triggered, this, &MainWindow::showOutput);

    m_playback->addMenu(menuBar());

    QMenu* help = m_helpMenu = menuBar()->addMenu(L("&Help"));
    connect(help->addAction(L("About Quillmarch")), &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::followTable(QTableView* table, void (MainController::*headerClicked)(int))
{
    table->horizontalHeader()->setStretchLastSection(true);
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &MainWindow::reportViewState);
    connect(
        table->horizontalHeader(), &QHeaderView::sectionClicked, this,
        [this, headerClicked](int column) {
            (m_controller.*headerClicked)(column);
            updateSortIndicators();
        },
        Qt::QueuedConnection);
}

void MainWindow::addCommandButton(QHBoxLayout* row, QWidget* page, const QString& title, AppCommand command,
                                  const std::function<void()>& action)
{
    auto* button = new QPushButton(title, page);
    m_buttons.insert(int(command), button);
    connect(button, &QPushButton::clicked, this, action);
    row->addWidget(button);
}

QWidget* MainWindow::buildInputTab()
{
    auto* page = new QWidget;
    m_inputTable = NewTable(page, m_controller.inputModel());
    m_inputTable->setAcceptDrops(true);
    m_inputTable->setDragDropMode(QAbstractItemView::DropOnly);
    m_inputTable->setDropIndicatorShown(false);
    m_inputTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_inputTable->horizontalHeader()->resizeSection(InputFileModel::Playable, 24);
    m_inputTable->horizontalHeader()->resizeSection(InputFileModel::FileName, 240);
    // The other columns start narrow and grow to what they show.
    for (int column = InputFileModel::Size; column < InputFileModel::ColumnCount; ++column)
        m_inputTable->horizontalHeader()->resizeSection(column, 80);
    followTable(m_inputTable, &MainController::inputHeaderClicked);
    // The list's width changes with the window and with its scroll bar.
    m_inputTable->viewport()->installEventFilter(this);

    auto* buttons = new QHBoxLayout;
    addCommandButton(buttons, page, L("Add..."), AppCommand::AddFiles, [this] { addFiles(); });
    addCommandButton(buttons, page, L("Remove"), AppCommand::RemoveFiles,
                     [this] { m_controller.removeFiles(selectedInputRows()); });
    addCommandButton(buttons, page, L("Remove All"), AppCommand::RemoveAll, [this] { m_controller.removeAll(); });
    buttons->addStretch();
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_inputTable, 1);
    layout->addLayout(buttons);
    m_playback = new PlaybackController(m_controller, m_inputTable, this);
    layout->addWidget(m_playback->bar());
    return page;
}

QWidget* MainWindow::buildConversionsTab()
{
    auto* page = new QWidget;
    m_conversionTable = NewTable(page, m_controller.conversionModel());
    // Conversions drag out as property lists (a move elsewhere deletes
    // them, undoably) and in from other tables and programs.
    m_conversionTable->setDragEnabled(true);
    m_conversionTable->setAcceptDrops(true);
    m_conversionTable->setDragDropMode(QAbstractItemView::DragDrop);
    m_conversionTable->setDefaultDropAction(Qt::CopyAction);
    m_conversionTable->setDragDropOverwriteMode(false);
    m_conversionTable->setDropIndicatorShown(true);
    m_conversionTable->horizontalHeader()->resizeSection(ConversionTableModel::Active, 80);
    m_conversionTable->horizontalHeader()->resizeSection(ConversionTableModel::ConvName, 320);
    followTable(m_conversionTable, &MainController::conversionHeaderClicked);
    // The conversion editor puts its add and edit buttons at the front of
    // this row.
    m_conversionButtons = new QHBoxLayout;
    addCommandButton(m_conversionButtons, page, L("Duplicate"), AppCommand::DuplicateConversion,
                     [this] { m_controller.duplicateConversions(selectedConversionRows()); });
    addCommandButton(m_conversionButtons, page, L("Remove"), AppCommand::Delete,
                     [this] { m_controller.removeConversions(selectedConversionRows()); });
    addCommandButton(m_conversionButtons, page, L("Mark"), AppCommand::MarkConversion,
                     [this] { m_controller.markConversions(selectedConversionRows(), true); });
    addCommandButton(m_conversionButtons, page, L("Unmark"), AppCommand::UnmarkConversion,
                     [this] { m_controller.markConversions(selectedConversionRows(), false); });
    m_conversionButtons->addStretch();
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_conversionTable, 1);
    layout->addLayout(m_conversionButtons);
    return page;
}

QWidget* MainWindow::buildOutputTab()
{
    auto* page = new QWidget;
    m_folderIcon = new QLabel(page);
    m_folderText = new QLabel(page);
    m_folderText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_volumeIcon = new QLabel(page);
    m_volumeText = new QLabel(page);
    m_freeSpaceText = new QLabel(page);
    m_outputWell = new FileDropView(page);
    m_outputWell->setAcceptsDirectories(true);
    m_outputWell->setAcceptsFiles(false);
    m_outputWell->setOnlyNotifyOnDrop(true);
    m_chooseButton = new QPushButton(L("Choose..."), page);
    m_showButton = new QPushButton(L("Show in File Manager"), page);
    m_buttons.insert(int(AppCommand::ChooseFolder), m_chooseButton);
    m_buttons.insert(int(AppCommand::ShowDestInFinder), m_showButton);
    connect(m_chooseButton, &QPushButton::clicked, this, &MainWindow::chooseFolder);
    connect(m_showButton, &QPushButton::clicked, &m_controller, &MainController::showDestInFileManager);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(L("Folder:"), page), 0, 0, Qt::AlignRight);
    grid->addWidget(m_folderIcon, 0, 1);
    grid->addWidget(m_folderText, 0, 2);
    grid->addWidget(new QLabel(L("Volume:"), page), 1, 0, Qt::AlignRight);
    grid->addWidget(m_volumeIcon, 1, 1);
    grid->addWidget(m_volumeText, 1, 2);
    grid->addWidget(new QLabel(L("Free space:"), page), 2, 0, Qt::AlignRight);
    grid->addWidget(m_freeSpaceText, 2, 2);
    grid->setColumnStretch(2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_outputWell);
    buttons->addStretch();
    buttons->addWidget(m_chooseButton);
    buttons->addWidget(m_showButton);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(grid);
    layout->addStretch();
    layout->addLayout(buttons);
    return page;
}

void MainWindow::showInput()
{
    m_tabs->setCurrentIndex(int(MainTab::Input));
    m_inputTable->setFocus();
}

void MainWindow::showConversions()
{
    m_tabs->setCurrentIndex(int(MainTab::Conversions));
    m_conversionTable->setFocus();
}

void MainWindow::showOutput()
{
    m_tabs->setCurrentIndex(int(MainTab::Output));
    updateOutputView();
}

void MainWindow::updateOutputView()
{
    const OutputFolderInfo info = OutputFolderInfo::describe(m_controller.destFolder());
    QFileIconProvider icons;
    if (info.defined) {
        m_folderIcon->setPixmap(icons.icon(QFileIconProvider::Folder).pixmap(16, 16));
        m_volumeIcon->setPixmap(icons.icon(QFileIconProvider::Drive).pixmap(16, 16));
        m_volumeText->setText(info.volumeName);
        m_freeSpaceText->setText(ByteFormatter().stringForObjectValue(QVariant(qulonglong(info.freeBytes))));
        m_showButton->setShortcut(QKeySequence(Qt::Key_Return));
        m_chooseButton->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    } else {
        m_folderIcon->clear();
        m_volumeIcon->clear();
        m_volumeText->clear();
        m_freeSpaceText->clear();
        m_showButton->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S));
        m_chooseButton->setShortcut(QKeySequence(Qt::Key_Return));
    }
    m_folderText->setText(info.folderText);
    m_folderText->setToolTip(m_controller.destFolder());
    updateCommands();
}

void MainWindow::updateCommands()
{
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it)
        it.value()->setEnabled(m_controller.validate(AppCommand(it.key())));
    for (auto it = m_buttons.cbegin(); it != m_buttons.cend(); ++it)
        it.value()->setEnabled(m_controller.validate(AppCommand(it.key())));
    // A greyed Start says what it waits for (inputs, an active conversion,
    // an output folder, the end of playing or adding).
    const QString missing = m_controller.startUnavailableReason();
    m_startButton->setToolTip(missing);
    if (QAction* start = action(AppCommand::Start))
        start->setStatusTip(missing);
}

QList<int> MainWindow::selectedInputRows() const
{
    return ControlTools::SortedSelectedRows(m_inputTable);
}

QList<int> MainWindow::selectedConversionRows() const
{
    return ControlTools::SortedSelectedRows(m_conversionTable);
}

void MainWindow::selectConversion(const ConvSpec* spec)
{
    const QList<ConvSpecRef>& list = m_controller.conversions();
    for (int row = 0; row < list.size(); ++row)
        if (list.at(row).get() == spec) {
            const QModelIndex index = m_conversionTable->model()->index(row, ConversionTableModel::ConvName);
            m_conversionTable->selectionModel()->setCurrentIndex(
                index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            m_conversionTable->scrollTo(index);
            return;
        }
}

void MainWindow::openLogs(const QStringList& paths)
{
    for (const QString& path : paths) {
        const QString absolute = QFileInfo(path).absoluteFilePath();
        LogDocument* open = nullptr;
        for (const QPointer<LogDocument>& log : m_logs)
            if (log && log->path() == absolute)
                open = log;
        if (!open) {
            auto* log = new LogDocument;
            QString error;
            if (!log->load(absolute, &error)) {
                delete log;
                AppPresenter::showAlert(
                    {L("Error"), L("The log '%1' could not be opened: %2").arg(absolute, error), {}, {}, {}}, this);
                continue;
            }
            m_logs.append(log);
            open = log;
        }
        open->show();
        open->raise();
        open->activateWindow();
    }
    m_logs.removeAll(nullptr);
}

QList<LogDocument*> MainWindow::logDocuments() const
{
    QList<LogDocument*> logs;
    for (const QPointer<LogDocument>& log : m_logs)
        if (log)
            logs.append(log);
    return logs;
}

void MainWindow::reportViewState()
{
    const int inputs = int(m_inputTable->selectionModel()->selectedRows().size());
    const int conversions = int(m_conversionTable->selectionModel()->selectedRows().size());
    m_controller.setViewState(MainTab(m_tabs->currentIndex()), inputs, conversions);
}

void MainWindow::fitInputColumns()
{
    // The name elides in its middle and the last column takes the room
    // left; the others grow to what they show, so none cuts its text.
    QHeaderView* header = m_inputTable->horizontalHeader();
    for (int column = InputFileModel::Size; column < InputFileModel::Timestamps; ++column) {
        const QAbstractItemView* view = m_inputTable;
        const int wanted = std::max(view->sizeHintForColumn(column), header->sectionSizeHint(column));
        if (header->sectionSize(column) < wanted)
            header->resizeSection(column, wanted);
    }
    fitLastInputColumn();
}

void MainWindow::fitLastInputColumn()
{
    // The last column takes the room the others leave, but never less than
    // its text needs: short of room, the list scrolls sideways instead.
    QHeaderView* header = m_inputTable->horizontalHeader();
    const int last = InputFileModel::Timestamps;
    const QAbstractItemView* view = m_inputTable;
    const int wanted = std::max(view->sizeHintForColumn(last), header->sectionSizeHint(last));
    const bool room = m_inputTable->viewport()->width() - header->sectionPosition(last) >= wanted;
    if (header->stretchLastSection() != room)
        header->setStretchLastSection(room);
    if (!room && header->sectionSize(last) != wanted)
        header->resizeSection(last, wanted);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && m_inputTable && watched == m_inputTable->viewport())
        fitLastInputColumn();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::updateSortIndicators()
{
    // Neither header highlights a column whose identifier is not the key.
    const int input = m_controller.inputSortColumn();
    m_inputTable->horizontalHeader()->setSortIndicator(
        input, m_controller.inputSortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
    const int conversion = m_controller.conversionSortColumn();
    m_conversionTable->horizontalHeader()->setSortIndicator(
        conversion, m_controller.conversionSortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void MainWindow::deleteSelection()
{
    switch (MainTab(m_tabs->currentIndex())) {
    case MainTab::Input:
        m_controller.removeFiles(selectedInputRows());
        m_inputTable->clearSelection();
        break;
    case MainTab::Conversions:
        m_controller.removeConversions(selectedConversionRows());
        break;
    case MainTab::Output:
        break;
    }
}

void MainWindow::addFiles()
{
    showInput();
    auto* dialog = new AddFilesDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QDialog::accepted, this, [this, dialog] { m_controller.setFilesToAdd(dialog->chosenPaths()); });
    dialog->open();
}

void MainWindow::chooseFolder()
{
    showOutput();
    auto* dialog = new QFileDialog(this, L("Please choose a folder for output files:"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setLabelText(QFileDialog::Accept, L("Choose"));
    dialog->setWindowModality(Qt::WindowModal);
    if (m_controller.destFolderDefined())
        dialog->setDirectory(m_controller.destFolder());
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        m_controller.setDestFolder(path);
    });
    dialog->open();
}

void MainWindow::showAbout()
{
    if (!m_about)
        m_about = new AboutView(m_controller.defaults(), this);
    m_about->move(geometry().center() - m_about->rect().center());
    m_about->show();
    m_about->raise();
}
