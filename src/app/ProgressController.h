// The progress window of a batch: a line each for the conversion, the input
// file, the step and the region, the conversion bar over the whole batch
// and the file bar (0 to 100) over the current file, the warning count with
// a panel of the warnings' texts, and Cancel.
//
// It never talks to the worker: a 0.1 s timer on the GUI thread, started by
// begin(), polls the ConversionProcess, whose fields the worker fills and
// whose change flags it raises; each flag is lowered here when read.  The
// batch's start and done notifications are posted on the worker and reach
// the window through queued calls.  Once the process no longer runs, the
// window stops its timer, closes and posts "EngineDone" (the batch's end,
// MainController) on the GUI thread.
//
// Cancel posts "UserCancelledNotification" (MainController asks the worker
// to stop) and shows "Cancelling, please wait..." with busy bars until the
// end; a cancel pressed before the worker reported its start is kept.
// While the batch runs the window stays: closing it asks whether to cancel
// (and cancels when told to), since the main window is away until the end.
#pragma once

#include "NotificationCenter.h"

#include <QString>
#include <QWidget>

#include <vector>

class ConversionProcess;
class QLabel;
class QPlainTextEdit;
class QStackedWidget;
class QProgressBar;
class QPushButton;
class QTimer;
class UserDefaults;

class ProgressController : public QWidget {
    Q_OBJECT
public:
    static const QString kEngineDoneNotification;     // "EngineDone"
    static const QString kUserCancelledNotification;  // "UserCancelledNotification"

    explicit ProgressController(UserDefaults& defaults, QWidget* parent = nullptr);
    ~ProgressController() override;

    // The batch has been started on `process`: shows the window and starts
    // polling every `intervalMs` (0.1 s).
    void begin(ConversionProcess* process, int files, int conversions, int intervalMs = 100);
    bool isPolling() const;

    void resetUI();
    void doCancel();
    // One poll (the timer's tick).
    void timedProgressDisplay();

    // What the window shows (tests, screenshots).
    QString conversionText() const;
    QString fileText() const;
    QString stepText() const;
    QString regionText() const;
    QString warningCountText() const;
    QString warningsText() const;
    bool warningsShown() const;
    int conversionBarValue() const;
    int conversionBarMaximum() const;
    double fileBarValue() const { return m_fileBar; }
    bool barsBusy() const;
    bool cancelling() const { return m_cancelling; }
    QPushButton* cancelButton() const { return m_cancelButton; }

signals:
    // Emitted with the "EngineDone" notification.
    void engineDone();

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void handleConversionStart();
    void handleConversionDone();
    void finish();
    void showWarnings();
    void setFileBar(double value);
    void saveFrame();
    void keepOnScreen();

    UserDefaults& m_defaults;
    ConversionProcess* m_process = nullptr;
    QTimer* m_timer = nullptr;
    int m_files = 0;
    int m_conversions = 0;
    double m_curSamples = 0.0;
    double m_barPart = 0.0;
    double m_curStep = 0.0;
    double m_fileBar = 0.0;
    int m_conversionBar = 0;
    bool m_running = false;
    bool m_cancelling = false;
    bool m_frameRestored = false;
    std::vector<NotificationCenter::Token> m_observers;

    QLabel* m_conversionText = nullptr;
    QProgressBar* m_conversionBarView = nullptr;
    QLabel* m_fileTextView = nullptr;
    QProgressBar* m_fileBarView = nullptr;
    QLabel* m_stepText = nullptr;
    QLabel* m_regionText = nullptr;
    QLabel* m_warningCount = nullptr;
    QPlainTextEdit* m_warnings = nullptr;
    // The warnings' place, kept while they are hidden: nothing moves when
    // they appear (Cancel above all).
    QStackedWidget* m_warningsPlace = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
