// The application's controller: it owns the input list, the conversion
// list, the output folder and the one ConversionProcess, runs the start-up
// and the saving at quit, adds files (examined by a FileAdder on a worker
// thread, inserted here with undo), keeps both lists sorted by their
// stored column and direction, and is the one place that decides whether
// a command or button is available (validate).
//
// Everything here runs on the GUI thread.  The main window shows the state
// and reports back which tab is shown and what is selected
// (setViewState); the controller tells it about changes through signals.
//
// The conversion list is edited here too, with undo on a stack of its own
// (duplicate, remove, mark, the active box, drags in and out); every
// user-visible change is saved to "Conversions".  The conversion editor
// (not here yet) plugs in through addConversion and replaceConversion.
//
// Start runs a batch through the engine's BatchStart: the folder checks, the
// output subfolders, the dither table, the Logger with its hooks, the
// worker (ConversionProcess::start, which marks the batch running before
// it returns); then the progress window's poll and the main window's fade.  The progress window's "EngineDone"
// ends it: the worker is joined, only then is the log finished, the window
// comes back, the end sound plays and the log may open (logFilesOpened).
//
// Preferences and playback build on this class: the main window's player
// controls plug in through setPlayback, and validate answers the player
// commands and Start with the player's real state.
#pragma once

#include "AppCommand.h"
#include "AppPresenter.h"
#include "ConvSpec.h"
#include "ConversionTableModel.h"
#include "InputFileModel.h"
#include "NotificationCenter.h"
#include "debug_trace.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUndoStack>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class AddFilesErrorsController;
class BatchStart;
class ConversionProcess;
class FileAdder;
class PlaybackController;
class ProgressController;
class QTimer;
class UserDefaults;

class MainController : public QObject {
    Q_OBJECT
public:
    explicit MainController(UserDefaults& defaults, QObject* parent = nullptr);
    ~MainController() override;

    // The start-up, in order: the engine's start-up (registered defaults,
    // raw-file settings, the file-type table with its dispatchers, the
    // sound-file switches), the ConversionProcess, the output folder from
    // "Last Used Destination", the observers, the MP3 encoder check, the
    // conversions from "Conversions" or the factory list, and the stored
    // sort of both lists.
    void start();
    // Saves the conversion list to "Conversions" and writes the defaults.
    void saveAtQuit();

    UserDefaults& defaults() const { return m_defaults; }
    InputFileModel* inputModel() { return &m_inputModel; }
    ConversionTableModel* conversionModel() { return &m_conversionModel; }
    QUndoStack* inputUndoStack() { return &m_inputUndo; }
    ConversionProcess* conversionProcess() const { return m_process.get(); }
    FileAdder* fileAdder() const { return m_adder; }
    // Where alerts and windows of the controller are shown over (may be null).
    void setWindow(QWidget* window) { m_window = window; }

    // ------------------------------------------------------ input list
    // Paths opened with the application (command line, a second start, the
    // file manager): log documents (".qlg") go to logFilesOpened, the rest
    // are added.
    void openFiles(const QStringList& paths);
    // The arguments of a start (the first, or a second one handed over):
    // paths are opened as above; "--convert" is the scripting command,
    // posted as "QMConvertScriptCommandReceived" on the default
    // notification center once the files given with it are added.
    void openArguments(const QStringList& arguments);
    // Examines and adds `paths` (queued while an add runs).
    void setFilesToAdd(const QStringList& paths);
    bool isAddingFiles() const;
    bool isSortingFiles() const { return m_sorting; }
    // The list operations the undo commands call: `index` -1 appends;
    // deleteFile returns the row the file stood at (-1: not listed).
    void insertFile(const std::shared_ptr<ZuSoundFile>& file, int index);
    int deleteFile(const ZuSoundFile* file);
    // "Remove File(s)": the files at `rows`; "Remove All Files".
    void removeFiles(const QList<int>& rows);
    void removeAll();
    AddFilesErrorsController* addFilesErrorsController() const;
    void showLastFileAddingErrors();

    // ------------------------------------------------------ sorting
    // A click on a column header of the input (conversion) table: the same
    // column again inverts the stored direction, another column becomes
    // the stored key; then the list is sorted.  The "playable" column does
    // not sort.
    void inputHeaderClicked(int column);
    void conversionHeaderClicked(int column);
    // The stored sort as a column and direction (-1 when no column has the
    // stored key).
    int inputSortColumn() const;
    bool inputSortAscending() const;
    int conversionSortColumn() const;
    bool conversionSortAscending() const;

    // ------------------------------------------------------ output folder
    const QString& destFolder() const { return m_destFolder; }
    // Stores it; a non-empty path goes to "Last Used Destination".
    void setDestFolder(const QString& path);
    bool destFolderDefined() const;
    void showDestInFileManager();

    // ------------------------------------------------------ conversions
    const QList<ConvSpecRef>& conversions() const { return m_conversionModel.conversions(); }
    // At the first conversion that is active and valid.
    bool atLeastOneActiveConversion() const;
    QUndoStack* conversionUndoStack() { return &m_conversionUndo; }
    QStringList conversionNames() const;
    // The list operations the undo commands call.  insertConvSpec: `index`
    // -1 appends; the list is re-sorted.  deleteConvSpec returns the row it
    // stood at (-1: not listed).  updateConvSpec puts `spec` in the place
    // of `old` and re-sorts.
    void insertConvSpec(const ConvSpecRef& spec, int index);
    int deleteConvSpec(const ConvSpec* spec);
    void updateConvSpec(const ConvSpec* old, const ConvSpecRef& spec);
    // For the conversion editor: "Add Conversion", "Edit Conversion" (the
    // conversion at `row` replaced by `edited`).  Saved.
    void addConversion(const ConvSpecRef& spec);
    void replaceConversion(int row, const ConvSpecRef& edited);
    // "Duplicate Conversion(s)": copies of the conversions at `rows`, named
    // "NAME copy", "NAME copy 1", ...; returns the copies.  Saved.
    QList<ConvSpecRef> duplicateConversions(const QList<int>& rows);
    // "Delete Conversion(s)".  Saved.
    void removeConversions(const QList<int>& rows);
    void removeConvFromArray(const QList<ConvSpecRef>& conversions);
    // Marks the conversions at `rows` active or not (no undo, no re-sort,
    // no save).
    void markConversions(const QList<int>& rows, bool active);
    // The table's active box: set, re-sorted and saved.
    void setConversionActive(int row, bool active);
    // "Drag Conversion(s)": dictionaries dropped at `row`, read like a
    // loaded list; taken names get a free one.
    void dropConversions(const QVariantList& dictionaries, int row);
    // The conversion list to "Conversions", written at once.
    void encodeConvSpecs();
    // The name of a copy of a conversion named `base` that no conversion
    // of `taken` has: "BASE copy", then "BASE copy 1", "BASE copy 2", ...,
    // the base shortened so that no candidate is longer than 255
    // characters.
    static QString copyName(const QString& base, const QStringList& taken);

    // ------------------------------------------------------ batch
    // The Start button and menu item; true when the batch was started.
    bool doStart();
    // The checks and the start; true when the worker was started.
    bool convert();
    // The end of a batch (the progress window's "EngineDone").
    void engineDone();
    // The scripting command: Start when Start is available, else nothing;
    // reported through scriptCommandHandled, with the reason when nothing
    // was started.  A refusal's alert is shown only after the report, so
    // the command's sender hears at once.
    void asConvert();
    // Why Start is not available now (empty when it is).
    QString startUnavailableReason() const;
    bool batchRunning() const;
    ProgressController* progressController() const { return m_progress; }
    // The poll interval of the progress window and the fade's step (tests
    // shorten them).
    void setProgressInterval(int ms) { m_progressInterval = ms; }
    // The log of the last batch that kept one (empty when none).
    const QString& lastBatchLog() const { return m_lastBatchLog; }

    // ------------------------------------------------------ validation
    // What the window shows: the tab and the number of selected rows.
    void setViewState(MainTab tab, int selectedInputs, int selectedConversions);
    MainTab currentTab() const { return m_tab; }
    // Whether `command` is available now.
    bool validate(AppCommand command) const;
    // The player controls (null: none); they call playbackChanged whenever
    // what they allow may have changed (playing started or stopped).
    void setPlayback(PlaybackController* playback);
    void playbackChanged() { emit validationChanged(); }
    bool isPlaying() const;

signals:
    void inputsChanged();
    void conversionsChanged();
    void outputChanged();
    // Any change that may change what validate answers.
    void validationChanged();
    // File adding: started, progress (determinate while examining; the
    // message is the one to show, empty when done), finished and reported.
    void addingProgress(const QString& message, int value, int maximum);
    void addingFinished(int added);
    void logFilesOpened(const QStringList& paths);
    void batchStarted();
    void batchFinished();
    void scriptCommandHandled(bool started, const QString& reason);

private:
    void filesExamined(const QList<std::shared_ptr<ZuSoundFile>>& models);
    void reportAddingErrors(const QStringList& duplicates, const QStringList& rejected, int added);
    // Removes `files` from the input list as one undoable action.
    void removeInputFiles(const QList<std::shared_ptr<ZuSoundFile>>& files, const QString& actionName);
    void sortInputs();
    void applyStoredSort();
    void clickHeader(const QString& column, const QString& keyName, const QString& ascendingName, bool input);
    void conversionListChanged();
    void handleWindowFade();
    void closeProgress();
    void refuse(const QString& title, const QString& message, bool closeProgress = true);
    void showRefusal(const Alert& alert);

    UserDefaults& m_defaults;
    // The exception trace is a diagnostic: while the application runs, its
    // lines come only with the debug trace (QUILLMARCH_DEBUG_TRACE=1), never
    // for a cancel or a machine without a sound device.
    exception_trace_guard m_quietTraces{debug_trace_enabled != 0};
    InputFileModel m_inputModel;
    ConversionTableModel m_conversionModel;
    QUndoStack m_inputUndo;
    QUndoStack m_conversionUndo;
    std::unique_ptr<ConversionProcess> m_process;
    FileAdder* m_adder = nullptr;
    QPointer<QWidget> m_window;
    QPointer<PlaybackController> m_playback;
    // A window over the main window (made on the first report): it goes
    // with the main window when that goes first.
    QPointer<AddFilesErrorsController> m_errorsController;
    QString m_destFolder;
    bool m_sorting = false;
    MainTab m_tab = MainTab::Input;
    int m_selectedInputs = 0;
    int m_selectedConversions = 0;
    std::vector<NotificationCenter::Token> m_observers;
    bool m_convertPending = false;
    // While the scripting command starts a batch: the refusal's alert is
    // held back until the command is answered.
    bool m_holdRefusals = false;
    std::optional<Alert> m_heldRefusal;
    QString m_refusal;  // why the last start was refused

    ProgressController* m_progress = nullptr;
    std::unique_ptr<BatchStart> m_batch;  // from the start until the log is finished
    QTimer* m_fadeTimer = nullptr;
    double m_windowAlpha = 1.0;
    bool m_shouldStartFade = false;
    // Where the main window stood when it faded out: it comes back there,
    // not where a window manager would place a newly shown window.
    std::optional<QPoint> m_windowPosition;
    int m_progressInterval = 100;
    QString m_lastBatchLog;
};
