#include "ProgressController.h"

#include "AppPresenter.h"
#include "BackgroundImageView.h"
#include "ElidingLabel.h"
#include "ConversionProcess.h"
#include "Localized.h"
#include "MainBundle.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

const QString ProgressController::kEngineDoneNotification = QStringLiteral("EngineDone");
const QString ProgressController::kUserCancelledNotification = QStringLiteral("UserCancelledNotification");

namespace {

const QString kFrameKey = PreferenceKeys::kProgressWindowFrame;
// The file bar's steps: a tenth of a per cent.
constexpr int kFileBarScale = 10;

// A line that may name more than the window has room for: cut in its middle,
// whole in its tooltip.
void ShowLine(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setToolTip(text);
}

} // namespace

ProgressController::ProgressController(UserDefaults& defaults, QWidget* parent)
    : QWidget(parent, Qt::Window), m_defaults(defaults)
{
    setWindowTitle(L("Progress"));
    // Closing it at the end of a batch (the main window still faded out)
    // does not end the application.
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* background = new BackgroundImageView(this);
    background->setImage(QImage(
        MainBundle::pathForResource(QStringLiteral("backgroundquill"), QStringLiteral("png"), QStringLiteral("images"))));

    // The lines that hold names elide: a long name never widens the window.
    m_conversionText = new ElidingLabel(background);
    m_conversionBarView = new QProgressBar(background);
    m_fileTextView = new ElidingLabel(background);
    m_fileBarView = new QProgressBar(background);
    m_stepText = new QLabel(background);
    m_regionText = new ElidingLabel(background);
    m_warningCount = new QLabel(background);
    m_cancelButton = new QPushButton(L("Cancel"), background);
    m_warnings = new QPlainTextEdit(background);
    m_warnings->setReadOnly(true);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(11);
    m_warnings->setFont(font);
    m_warnings->setMinimumHeight(90);
    m_warningsPlace = new QStackedWidget(background);
    m_warningsPlace->addWidget(new QWidget(m_warningsPlace));
    m_warningsPlace->addWidget(m_warnings);
    for (QLabel* label : {m_conversionText, m_fileTextView, m_stepText, m_regionText})
        label->setTextFormat(Qt::PlainText);
    m_conversionBarView->setTextVisible(false);
    m_fileBarView->setTextVisible(false);
    connect(m_cancelButton, &QPushButton::clicked, this, &ProgressController::doCancel);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_warningCount, 1);
    bottom->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(background);
    layout->addWidget(m_conversionText);
    layout->addWidget(m_conversionBarView);
    layout->addSpacing(6);
    layout->addWidget(m_fileTextView);
    layout->addWidget(m_fileBarView);
    layout->addWidget(m_stepText);
    layout->addWidget(m_regionText);
    layout->addWidget(m_warningsPlace, 1);
    layout->addLayout(bottom);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(background);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &ProgressController::timedProgressDisplay);

    // The frame saved under "Progress", else centred; on the screen either way.
    // A saved width beyond the usual one is what older versions grew to for
    // a long name: it is not taken up.
    constexpr int kWidth = 460;
    resize(kWidth, 230);
    const QStringList frame = m_defaults.stringForKey(kFrameKey).split(QLatin1Char(' '));
    if (frame.size() == 4) {
        setGeometry(frame.at(0).toInt(), frame.at(1).toInt(), std::clamp(frame.at(2).toInt(), 200, kWidth),
                    std::max(frame.at(3).toInt(), 120));
    } else if (QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    keepOnScreen();
    m_frameRestored = true;
    resetUI();

    // Posted on the worker: the window hears of them on the GUI thread.
    NotificationCenter& center = NotificationCenter::defaultCenter();
    m_observers.push_back(center.addObserver(ConversionProcess::kStartNotification, nullptr, [this](const Notification&) {
        QMetaObject::invokeMethod(this, [this] { handleConversionStart(); }, Qt::QueuedConnection);
    }));
    m_observers.push_back(center.addObserver(ConversionProcess::kDoneNotification, nullptr, [this](const Notification&) {
        QMetaObject::invokeMethod(this, [this] { handleConversionDone(); }, Qt::QueuedConnection);
    }));
}

ProgressController::~ProgressController()
{
    for (NotificationCenter::Token token : m_observers)
        NotificationCenter::defaultCenter().removeObserver(token);
}

void ProgressController::begin(ConversionProcess* process, int files, int conversions, int intervalMs)
{
    m_process = process;
    m_files = files;
    m_conversions = conversions;
    m_cancelling = false;
    m_running = false;
    m_warningsPlace->setCurrentIndex(0);
    m_curSamples = 0.0;
    m_barPart = 0.0;
    m_curStep = 0.0;
    m_conversionBar = 0;
    resetUI();
    m_conversionBarView->setMinimum(0);
    m_conversionBarView->setValue(0);
    m_fileBarView->setMinimum(0);
    setFileBar(0.0);
    show();
    // Shown, its frame counts too.
    keepOnScreen();
    raise();
    m_timer->start(intervalMs);
}

bool ProgressController::isPolling() const
{
    return m_timer->isActive();
}

void ProgressController::resetUI()
{
    for (QLabel* line : {m_conversionText, m_fileTextView, m_regionText})
        ShowLine(line, QString());
    m_stepText->clear();
    m_warningCount->clear();
    m_warnings->clear();
    m_conversionBarView->setRange(0, std::max(m_files * m_conversions, 1));
    m_fileBarView->setRange(0, 100 * kFileBarScale);
}

void ProgressController::doCancel()
{
    NotificationCenter::defaultCenter().postNotification(kUserCancelledNotification, QVariant(), this);
    m_cancelling = true;
    m_conversionBarView->setRange(0, 0);
    m_fileBarView->setRange(0, 0);
    m_warningCount->setText(L("Cancelling, please wait..."));
}

void ProgressController::handleConversionStart()
{
    // begin() has reset and shown the window on this thread already; what
    // the poll showed since (and a Cancel pressed) stays.
    if (!isVisible())
        show();
    m_running = true;
}

void ProgressController::handleConversionDone()
{
    m_running = false;
}

void ProgressController::timedProgressDisplay()
{
    if (!m_process)
        return;
    ConversionProcess& process = *m_process;
    const int total = m_files * m_conversions;
    if (!m_cancelling)
        m_conversionBarView->setMaximum(std::max(total, 1));

    if (!process.running()) {
        finish();
        return;
    }
    // A new batch's worker has not begun its first conversion while the
    // last batch's conversion is still set: wait for it rather than show
    // "Conversion 0 of n".
    if (m_running && process.curConv() > 0) {
        process.setFlag(ConversionProcess::kConvSpecChanged, false);
        const ConvSpecRef spec = process.curConvSpec();
        ShowLine(m_conversionText, L("Conversion %1 of %2: '%3'")
                                       .arg(process.curConv())
                                       .arg(m_conversions)
                                       .arg(spec ? spec->conversionName() : QString()));
    }
    // Between two conversions the file count is back at 0 while the last
    // file's path is still set: wait for the next file rather than show
    // "Input File 0 of n".
    const bool fileChanged = process.fileChanged();
    const ConversionProcess::Position at = process.curPosition();
    const bool newFile = fileChanged && at.file > 0;
    if (newFile) {
        process.setFlag(ConversionProcess::kFileChanged, false);
        const QString path = process.curFilePath();
        ShowLine(m_fileTextView, L("Input File %1 of %2: '%3'")
                                     .arg(at.file)
                                     .arg(m_files)
                                     .arg(path.section(QLatin1Char('/'), -1)));
        // One step per file; files the poll did not see (several may pass
        // between two ticks) count too, so the bar shows where the batch is.
        m_conversionBar = std::max(m_conversionBar + 1, (at.conversion - 1) * m_files + at.file);
        if (!m_cancelling)
            m_conversionBarView->setValue(std::min(m_conversionBar, m_conversionBarView->maximum()));
        ShowLine(m_regionText, QString());
    }
    if (process.stepChanged()) {
        process.setFlag(ConversionProcess::kStepChanged, false);
        const int steps = process.curNumSteps();
        // With no step count the whole bar is one step.
        m_barPart = steps > 0 ? 100.0 / steps : 100.0;
        m_stepText->setText(L("Step: %1").arg(process.curStepDesc()));
        m_curStep = std::max(0, std::min(process.curStep() - 1, std::max(steps - 1, 0)));
    }
    if (process.numSampleFramesChanged()) {
        process.setFlag(ConversionProcess::kNumSampleFramesChanged, false);
        m_curSamples = process.curSampleFrames();
    }
    if (process.regionChanged()) {
        process.setFlag(ConversionProcess::kRegionChanged, false);
        ShowLine(m_regionText, L("Region %1 of %2: '%3'")
                                   .arg(process.curRegionIndex())
                                   .arg(process.curRegions())
                                   .arg(process.curRegion()));
    }
    showWarnings();
    double fraction = 0.0;
    if (process.usePercentage())
        fraction = process.curValue() / 100.0;
    else if (m_curSamples > 0.0)
        fraction = process.curValue() / m_curSamples;
    // Within a file the bar never goes back: a value read before the step
    // it belongs to (the worker runs on) waits for the step.
    const double value = m_barPart * (m_curStep + std::clamp(fraction, 0.0, 1.0));
    setFileBar(newFile ? value : std::max(m_fileBar, value));
}

void ProgressController::showWarnings()
{
    ConversionProcess& process = *m_process;
    if (process.warningChanged()) {
        process.setFlag(ConversionProcess::kWarningChanged, false);
        m_warningsPlace->setCurrentWidget(m_warnings);
        if (!m_cancelling)
            m_warningCount->setText(L("Warnings: %1").arg(process.warnings()));
    }
    // Warnings still held back by a busy lock come at a later tick.
    if (std::optional<QStringList> warnings = process.newWarnings()) {
        for (const QString& warning : *warnings)
            m_warnings->appendPlainText(warning);
        if (!warnings->isEmpty())
            m_warnings->verticalScrollBar()->setValue(m_warnings->verticalScrollBar()->maximum());
    }
}

void ProgressController::finish()
{
    // The last warnings are not lost with the end.
    showWarnings();
    m_fileBarView->setRange(0, 100 * kFileBarScale);
    setFileBar(100.0);
    m_timer->stop();
    m_running = false;
    // The frame as the batch left it, brought onto the screen or not.
    saveFrame();
    close();
    NotificationCenter::defaultCenter().postNotification(kEngineDoneNotification, QVariant(), this);
    emit engineDone();
}

void ProgressController::setFileBar(double value)
{
    m_fileBar = std::clamp(value, 0.0, 100.0);
    if (m_fileBarView->maximum() > 0)
        m_fileBarView->setValue(int(std::lround(m_fileBar * kFileBarScale)));
}

void ProgressController::keepOnScreen()
{
    // A frame saved on a larger screen (or grown by an older version of the
    // window) is made to fit, Cancel and the close box within reach.
    const QScreen* screen = this->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize margins = frameGeometry().size() - size();
    const QSize fitted = size().boundedTo(area.size() - margins);
    if (fitted != size())
        resize(fitted);
    const QRect frame = frameGeometry();
    const QPoint at(std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width())),
                    std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height())));
    if (at != frame.topLeft())
        move(at);
}

void ProgressController::saveFrame()
{
    if (!m_frameRestored || !isVisible())
        return;
    const QRect frame = geometry();
    m_defaults.setString(kFrameKey,
                         QStringLiteral("%1 %2 %3 %4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height()));
}

void ProgressController::closeEvent(QCloseEvent* event)
{
    // The end of a batch (and a refused start) closes it; the user does not
    // while the batch runs.
    if (!isPolling()) {
        QWidget::closeEvent(event);
        return;
    }
    event->ignore();
    if (m_cancelling)
        return;
    Alert alert;
    alert.title = L("Cancel the batch?");
    alert.message = L("The batch is still running. Closing the progress window cancels it; the files converted so "
                        "far stay.");
    alert.defaultButton = L("Cancel Batch");
    alert.alternateButton = L("Keep Converting");
    alert.destructive = true;
    if (AppPresenter::showAlert(alert, this) == 1)
        doCancel();
}

void ProgressController::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    saveFrame();
}

void ProgressController::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    saveFrame();
}

QString ProgressController::conversionText() const { return m_conversionText->text(); }
QString ProgressController::fileText() const { return m_fileTextView->text(); }
QString ProgressController::stepText() const { return m_stepText->text(); }
QString ProgressController::regionText() const { return m_regionText->text(); }
QString ProgressController::warningCountText() const { return m_warningCount->text(); }
QString ProgressController::warningsText() const { return m_warnings->toPlainText(); }
bool ProgressController::warningsShown() const { return m_warningsPlace->currentWidget() == m_warnings; }
int ProgressController::conversionBarValue() const { return m_conversionBar; }
int ProgressController::conversionBarMaximum() const { return m_files * m_conversions; }
bool ProgressController::barsBusy() const { return m_fileBarView->maximum() == 0; }
