// The main window: three tabs (input files, conversions, output folder)
// over a faint background picture, the file-adding progress and the Start
// button.  It shows what MainController keeps and enables every command
// and button as MainController::validate answers.
//
// The conversions tab shows the list with its editing buttons (duplicate,
// remove, mark, unmark; the conversion editor's add and edit plug in
// through conversionButtonRow() and the Conversions menu), the tables take
// drags (files on the input table, conversions on and from the conversion
// table), Edit > Undo follows the tab shown, and logs open in windows of
// their own (LogDocument).  The preferences and the other commands plug in
// through the menus (fileMenu(), editMenu(), ...).
#pragma once

#include "AppCommand.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>

#include <functional>

class AboutView;
class BackgroundImageView;
class ConvSpec;
class FileDropView;
class LogDocument;
class MainController;
class QUndoGroup;
class PlaybackController;
class QAction;
class QHBoxLayout;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableView;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(MainController& controller, QWidget* parent = nullptr);
    ~MainWindow() override;

    MainController& controller() { return m_controller; }
    QTableView* inputTable() const { return m_inputTable; }
    QTableView* conversionTable() const { return m_conversionTable; }
    QTabWidget* tabs() const { return m_tabs; }
    QPushButton* startButton() const { return m_startButton; }
    QHBoxLayout* conversionButtonRow() const { return m_conversionButtons; }
    FileDropView* outputWell() const { return m_outputWell; }
    QLabel* outputFolderLabel() const { return m_folderText; }
    QLabel* volumeLabel() const { return m_volumeText; }
    QLabel* freeSpaceLabel() const { return m_freeSpaceText; }
    QLabel* addingMessageLabel() const { return m_addingMessage; }
    QProgressBar* addingProgressBar() const { return m_addingProgress; }
    // The menu or button action of a command (null when it has none).
    QAction* action(AppCommand command) const { return m_actions.value(int(command)); }
    QPushButton* button(AppCommand command) const { return m_buttons.value(int(command)); }
    // The menus, for the commands that plug in.
    QMenu* fileMenu() const { return m_fileMenu; }
    QMenu* editMenu() const { return m_editMenu; }
    QMenu* conversionsMenu() const { return m_conversionsMenu; }
    QMenu* helpMenu() const { return m_helpMenu; }
    // The player controls under the input table.
    PlaybackController* playback() const { return m_playback; }
    // Puts `action` under `command`: it is enabled as validation answers.
    void registerAction(AppCommand command, QAction* action);

    void showInput();
    void showConversions();
    void showOutput();

    // Refreshes the output tab from the controller's output folder.
    void updateOutputView();
    // Enables every action and button as validation answers.
    void updateCommands();
    // The rows selected in the input (conversion) table, in row order.
    QList<int> selectedInputRows() const;
    QList<int> selectedConversionRows() const;
    // Selects `spec` alone in the conversion table and scrolls to it.
    void selectConversion(const ConvSpec* spec);
    // Opens each log in a window (one already open is brought forward).
    void openLogs(const QStringList& paths);
    QList<LogDocument*> logDocuments() const;

    void addFiles();
    void chooseFolder();
    void showAbout();

signals:
    // The window closes for good and the application quits: nothing may be
    // handed to it any more.
    void quitting();

protected:
    // Quits (the main window's close is the application's): the log windows
    // are closed first, each asking about its edits; one kept open cancels.
    // The tables' column layout is kept in the defaults.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void saveColumnLayouts();
    void restoreColumnLayouts();
    void buildMenus();
    QWidget* buildInputTab();
    QWidget* buildConversionsTab();
    QWidget* buildOutputTab();
    void reportViewState();
    // The table's last column takes the room left; a change of selection
    // is reported, and a click on a column's header sorts by it.
    void followTable(QTableView* table, void (MainController::*headerClicked)(int));
    // A button of `page` at the end of `row` that runs `action` and that
    // the commands of `command` enable.
    void addCommandButton(
        QHBoxLayout* row, QWidget* page, const QString& title, AppCommand command, const std::function<void()>& action);
    void updateSortIndicators();
    void fitInputColumns();
    void fitLastInputColumn();
    void deleteSelection();
    QAction* addCommand(QMenu* menu, AppCommand command, const QString& title, const QKeySequence& shortcut);

    MainController& m_controller;
    BackgroundImageView* m_background = nullptr;
    QTabWidget* m_tabs = nullptr;
    QTableView* m_inputTable = nullptr;
    QTableView* m_conversionTable = nullptr;
    QHBoxLayout* m_conversionButtons = nullptr;
    FileDropView* m_outputWell = nullptr;
    QLabel* m_folderIcon = nullptr;
    QLabel* m_folderText = nullptr;
    QLabel* m_volumeIcon = nullptr;
    QLabel* m_volumeText = nullptr;
    QLabel* m_freeSpaceText = nullptr;
    QLabel* m_addingMessage = nullptr;
    QProgressBar* m_addingProgress = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_chooseButton = nullptr;
    QPushButton* m_showButton = nullptr;
    AboutView* m_about = nullptr;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_editMenu = nullptr;
    QMenu* m_conversionsMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QHash<int, QAction*> m_actions;
    QHash<int, QPushButton*> m_buttons;
    QUndoGroup* m_undoGroup = nullptr;
    QList<QPointer<LogDocument>> m_logs;
    PlaybackController* m_playback = nullptr;
};
