// Whole batches through the application: started from the Start action and
// from the scripting command (which hears why nothing started), the
// progress window sampled while it runs, cancels (also one pressed before
// the worker ran, and closing the window), the log kept, removed or opened
// as the preferences say, and the folder checks' refusals.
#include "AppCommands.h"
#include "AppTestSupport.h"
#include "AudioOutput.h"
#include "ConversionEditor.h"
#include "EditorCommands.h"
#include "EngineStartup.h"
#include "FileAdder.h"
#include "ConversionProcess.h"
#include "InstanceChannel.h"
#include "LogDocument.h"
#include "MacRoman.h"
#include "MainWindow.h"
#include "NullAudioOutput.h"
#include "PlaybackController.h"
#include "PreferenceKeys.h"
#include "PreferencesWindow.h"
#include "ProgressController.h"
#include "progress_channel.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTableView>
#include <QTimer>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QDirIterator>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

struct Sample {
    QString conversion, file, step, warnings;
    double fileBar = 0.0;
    int conversionBar = 0;
    bool startAllowed = true;
};

// Holds the batch's worker at its first progress position until release():
// a batch this short may otherwise end between two samples of the window.
class FirstPositionHold {
public:
    FirstPositionHold()
    {
        std::shared_future<void> gate = m_released.get_future().share();
        QThread* const mainThread = QThread::currentThread();
        m_token = NotificationCenter::defaultCenter().addObserver(
            kProgressPositionNotification, nullptr, [gate, held = &m_held, mainThread](const Notification&) {
                if (QThread::currentThread() != mainThread && !held->exchange(true))
                    gate.wait_for(std::chrono::seconds(60));
            });
    }
    ~FirstPositionHold()
    {
        release();
        NotificationCenter::defaultCenter().removeObserver(m_token);
    }
    void release()
    {
        if (!m_done.exchange(true))
            m_released.set_value();
    }
    bool released() const { return m_done; }

private:
    std::promise<void> m_released;
    std::atomic<bool> m_held{false};
    std::atomic<bool> m_done{false};
    NotificationCenter::Token m_token;
};

class ProgressControllerTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        AppPresenter::setSoundPlayer([this](const QString& name) { m_sounds.append(name); });
        QDir().mkpath(path(QStringLiteral("in")));
        QDir().mkpath(path(QStringLiteral("out")));
    }
    void TearDown() override
    {
        if (m_hold)
            NotificationCenter::defaultCenter().removeObserver(m_hold);
        AppPresenter::setSoundPlayer({});
        AppTest::TearDown();
    }
    // Holds the batch worker at its start until `release` is set.
    void holdWorkerAtStart(std::promise<void>& release)
    {
        std::shared_future<void> gate = release.get_future().share();
        m_hold = NotificationCenter::defaultCenter().addObserver(
            ConversionProcess::kStartNotification, nullptr, [gate](const Notification&) { gate.wait(); });
    }
    NotificationCenter::Token m_hold = 0;

    // Conversions keeping the file type: "Copy" (as is) and "Half"
    // (22050 Hz).
    void storeConversions(QVariantMap extra = {})
    {
        ConvSpecRef copy = ConvSpec::create();
        copy->setConversionName(QStringLiteral("Copy"));
        copy->setChannelTreat(0);
        ConvSpecRef half = copy->copy();
        half->setConversionName(QStringLiteral("Half"));
        half->setNeedsSampleRateConversion(true);
        half->setSampleRate(22050.0);
        extra.insert(QStringLiteral("Conversions"), QVariantList{copy->dictionary(), half->dictionary()});
        extra.insert(QStringLiteral("Last Used Destination"), path(QStringLiteral("out")));
        storeDefaults(extra);
    }
    QStringList writeInputs(int count, int frames)
    {
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            paths.append(path(QStringLiteral("in/take%1.wav").arg(i)));
            WriteWave(paths.last(), frames);
        }
        return paths;
    }
    int outputs(const QString& conversion) const
    {
        int count = 0;
        QDirIterator it(path(QStringLiteral("out/") + conversion), {QStringLiteral("take*"), QStringLiteral("a.*")}, QDir::Files);
        while (it.hasNext()) {
            it.next();
            ++count;
        }
        return count;
    }
    // Runs `start` and samples the progress window until the batch ends.
    QList<Sample> runAndSample(const std::function<void()>& start, int cancelAtFile = 0)
    {
        QSignalSpy finished(m_controller.get(), &MainController::batchFinished);
        start();
        QList<Sample> samples;
        QElapsedTimer clock;
        clock.start();
        while (finished.isEmpty() && clock.elapsed() < 60000) {
            QTest::qWait(3);
            ProgressController* progress = m_controller->progressController();
            if (!progress || !finished.isEmpty())
                continue;
            samples.append({progress->conversionText(), progress->fileText(), progress->stepText(),
                            progress->warningCountText(), progress->fileBarValue(), progress->conversionBarValue(),
                            m_controller->validate(AppCommand::Start)});
            if (m_onSample)
                m_onSample(samples.last());
            if (cancelAtFile > 0 && !progress->cancelling() && progress->conversionBarValue() >= cancelAtFile) {
                progress->cancelButton()->click();
                m_cancelShown = progress->warningCountText();
                m_cancelBusy = progress->barsBusy();
                if (m_onCancel)
                    m_onCancel();
            }
        }
        EXPECT_FALSE(finished.isEmpty()) << "the batch did not end";
        return samples;
    }

    QStringList m_sounds;
    QString m_cancelShown;
    bool m_cancelBusy = false;
    std::function<void()> m_onCancel;
    std::function<void(const Sample&)> m_onSample;
};

} // namespace

TEST_F(ProgressControllerTest, TheFileBarNeverGoesBackWithinAFile)
{
    // Two steps of one file: writing by frames, then an encoder's
    // percentages; the bar is polled after each report.
    ConversionProcess process;
    process.setFlag(ConversionProcess::kRunning, true);
    ProgressController progress(*m_defaults);
    progress.begin(&process, 1, 1, 3600000);
    QList<double> bars;
    auto step = [](const char* name) {
        Str255 pascal = {0};
        MacRoman::toPascal(QString::fromLatin1(name), pascal);
        PostProgressStep(pascal, 0);
    };
    auto poll = [&] {
        progress.timedProgressDisplay();
        bars.append(progress.fileBarValue());
    };
    PostProgressNumSampleFrames(1000);
    PostProgressNumSteps(2);
    step("Copying");
    poll();
    PostProgressPosition(500);
    poll();
    PostProgressPosition(1000);
    poll();
    step("Encoding mp3 using the LAME encoder");  // the frames were the last step's
    poll();
    PostProgressPercentage(20);
    poll();
    PostProgressPercentage(100);
    poll();
    EXPECT_EQ(bars, (QList<double>{0.0, 25.0, 50.0, 50.0, 60.0, 100.0}));
    process.setFlag(ConversionProcess::kRunning, false);
    progress.timedProgressDisplay();
}

// The warnings open in a place kept for them: Cancel, and the window,
// stay where a click was aimed.
TEST_F(ProgressControllerTest, CancelStaysPutWhenTheWarningsOpen)
{
    ConversionProcess process;
    process.setFlag(ConversionProcess::kRunning, true);
    ProgressController progress(*m_defaults);
    progress.begin(&process, 1, 1, 3600000);
    QApplication::processEvents();
    const QPoint cancel = progress.cancelButton()->mapTo(&progress, QPoint());
    const QSize size = progress.size();
    NotificationCenter::defaultCenter().postNotification(ConversionProcess::kLogMessageNotification,
                                                         QStringLiteral("'take' sounds odd"));
    progress.timedProgressDisplay();
    QApplication::processEvents();
    ASSERT_TRUE(progress.warningsShown());
    EXPECT_EQ(progress.cancelButton()->mapTo(&progress, QPoint()), cancel);
    EXPECT_EQ(progress.size(), size);
    process.setFlag(ConversionProcess::kRunning, false);
    progress.timedProgressDisplay();
}

// Faded out while the batch runs, the main window comes back where it
// stood, wherever a window manager would place a window shown anew.
TEST_F(ProgressControllerTest, TheMainWindowComesBackWhereItStood)
{
    storeConversions();
    const QStringList inputs = writeInputs(1, 1000);
    MainController& controller = startController();
    controller.setProgressInterval(5);
    MainWindow window(controller);
    window.move(137, 91);
    window.show();
    ASSERT_EQ(addAndWait(inputs), 1);
    const QPoint stood = window.pos();
    std::promise<void> release;
    holdWorkerAtStart(release);
    QSignalSpy finished(&controller, &MainController::batchFinished);
    window.action(AppCommand::Start)->trigger();
    QElapsedTimer clock;
    clock.start();
    while (window.isVisible() && clock.elapsed() < 10000)
        QTest::qWait(10);
    ASSERT_FALSE(window.isVisible()) << "the window did not fade out";
    window.move(0, 0);  // as a window manager places a window it maps again
    release.set_value();
    ASSERT_TRUE(finished.wait(60000));
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.pos(), stood);
}

// The application's own name for a conversion with several settings runs to
// 160 characters: its line elides (the name whole in the tooltip), the window
// keeps its usual width (not the wider one an older window grew to and
// saved) and stays on the screen, for this batch and the next.
TEST_F(ProgressControllerTest, ALongConversionNameNeitherWidensTheWindowNorLeavesTheScreen)
{
    const QString name = QStringLiteral("AIFF 24 bit 48 kHz, mono (mix), gate -30 dB, compressor +6 dB, normalise first, "
                                        "fade in and out 20 ms, strip silences 100 ms, snip 0 to 10 s, name extension aif");
    ASSERT_EQ(name.size(), 160);
    const ConvSpecRef spec = ConvSpec::create();
    spec->setConversionName(name);
    spec->setChannelTreat(0);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    storeDefaults({{QStringLiteral("Conversions"), QVariantList{spec->dictionary()}},
                   {QStringLiteral("Last Used Destination"), path(QStringLiteral("out"))},
                   // The second batch converts again beside the first's output.
                   {PreferenceKeys::kNumberDuplicateFiles, true},
                   {PreferenceKeys::kProgressWindowFrame,
                    QStringLiteral("%1 60 %2 230").arg(area.right() - 200).arg(area.width() * 4 / 5)}});
    const QStringList inputs = writeInputs(1, 44100);
    MainController& controller = startController();
    controller.setProgressInterval(5);
    MainWindow window(controller);
    window.show();
    ASSERT_EQ(addAndWait(inputs), 1);

    for (int batch = 0; batch < 2; ++batch) {
        // The worker waits at its first position until the line is shown.
        FirstPositionHold hold;
        m_onSample = [&](const Sample& sample) {
            if (hold.released() || sample.conversion.isEmpty())
                return;
            ProgressController* progress = controller.progressController();
            QApplication::processEvents();
            const QString line = QStringLiteral("Conversion 1 of 1: '%1'").arg(name);
            EXPECT_EQ(sample.conversion, line);
            QStringList tips;
            for (const QLabel* label : progress->findChildren<QLabel*>())
                tips.append(label->toolTip());
            EXPECT_TRUE(tips.contains(line)) << batch;
            EXPECT_LE(progress->width(), 460) << batch;
            EXPECT_TRUE(area.contains(progress->frameGeometry()))
                << batch << ": " << progress->frameGeometry().x() << " + " << progress->frameGeometry().width();
            EXPECT_TRUE(area.contains(progress->cancelButton()->mapToGlobal(progress->cancelButton()->rect().bottomRight())))
                << batch;
            hold.release();
        };
        runAndSample([&] { window.action(AppCommand::Start)->trigger(); });
        const bool shown = hold.released();
        hold.release();
        EXPECT_TRUE(shown) << batch << ": the conversion line was never shown";
        const QStringList frame = m_defaults->stringForKey(PreferenceKeys::kProgressWindowFrame).split(QLatin1Char(' '));
        ASSERT_EQ(frame.size(), 4);
        EXPECT_LE(frame[0].toInt() + frame[2].toInt(), area.right() + 1) << batch;
    }
}

TEST_F(ProgressControllerTest, StartActionRunsTheBatchShowsProgressAndOpensTheLog)
{
    storeConversions();
    const QStringList inputs = writeInputs(3, 600000);
    MainController& controller = startController();
    controller.setProgressInterval(5);
    MainWindow window(controller);
    window.show();
    ASSERT_EQ(addAndWait(inputs), 3);
    ASSERT_TRUE(controller.validate(AppCommand::Start));
    QSignalSpy logs(&controller, &MainController::logFilesOpened);
    // A warning, as the log posts one, after the first file.
    std::atomic<int> successes{0};
    const NotificationCenter::Token token = NotificationCenter::defaultCenter().addObserver(
        ConversionProcess::kSuccessNotification, nullptr, [&successes](const Notification&) {
            if (successes++ == 0)
                NotificationCenter::defaultCenter().postNotification(ConversionProcess::kLogMessageNotification,
                                                                     QStringLiteral("'take0' sounds odd"));
        });

    // The worker waits at its first position until the window has shown
    // that file and its step: a batch this short may otherwise end between
    // two samples.
    FirstPositionHold hold;
    m_onSample = [&](const Sample& sample) {
        if (!hold.released() && !sample.file.isEmpty() && sample.step.startsWith(QStringLiteral("Step: ")))
            hold.release();
    };

    const QList<Sample> samples = runAndSample([&] { window.action(AppCommand::Start)->trigger(); });
    hold.release();
    NotificationCenter::defaultCenter().removeObserver(token);
    ASSERT_FALSE(samples.isEmpty());
    ProgressController* progress = controller.progressController();
    ASSERT_NE(progress, nullptr);

    // Start stays unavailable until the log is finished.
    for (const Sample& sample : samples)
        EXPECT_FALSE(sample.startAllowed);
    QStringList conversionLines;
    QStringList fileLines;
    bool stepSeen = false;
    double lastBar = -1.0;
    int lastConversionBar = 0;
    for (const Sample& sample : samples) {
        EXPECT_GE(sample.conversionBar, lastConversionBar);
        lastConversionBar = sample.conversionBar;
        if (!sample.conversion.isEmpty() && !conversionLines.contains(sample.conversion))
            conversionLines.append(sample.conversion);
        if (!sample.file.isEmpty() && !fileLines.contains(sample.file))
            fileLines.append(sample.file);
        stepSeen = stepSeen || sample.step.startsWith(QStringLiteral("Step: "));
        EXPECT_GE(sample.fileBar, 0.0);
        EXPECT_LE(sample.fileBar, 100.0);
        EXPECT_LE(sample.conversionBar, 6);
        lastBar = sample.fileBar;
    }
    const QRegularExpression conversionLine(QStringLiteral("^Conversion [12] of 2: '(Copy|Half)'$"));
    for (const QString& line : conversionLines)
        EXPECT_TRUE(conversionLine.match(line).hasMatch()) << line.toStdString();
    const QRegularExpression fileLine(QStringLiteral("^Input File [1-3] of 3: 'take[0-2]\\.wav'$"));
    for (const QString& line : fileLines)
        EXPECT_TRUE(fileLine.match(line).hasMatch()) << line.toStdString();
    EXPECT_FALSE(fileLines.isEmpty());
    EXPECT_TRUE(stepSeen);
    EXPECT_GE(lastBar, 0.0);

    // The end: every file converted, the bars full, the window closed, the
    // main window back, the sound of success and this batch's log opened.
    EXPECT_EQ(outputs(QStringLiteral("Copy")), 3);
    EXPECT_EQ(outputs(QStringLiteral("Half")), 3);
    EXPECT_EQ(progress->conversionBarMaximum(), 6);
    // The bar stands at the last file the poll saw.
    EXPECT_GE(progress->conversionBarValue(), 1);
    EXPECT_LE(progress->conversionBarValue(), 6);
    EXPECT_DOUBLE_EQ(progress->fileBarValue(), 100.0);
    EXPECT_TRUE(progress->warningsShown());
    EXPECT_EQ(progress->warningCountText(), QStringLiteral("Warnings: 1"));
    EXPECT_EQ(progress->warningsText(), QStringLiteral("'take0' sounds odd"));
    EXPECT_FALSE(progress->isVisible());
    EXPECT_FALSE(progress->isPolling());
    EXPECT_TRUE(window.isVisible());
    EXPECT_DOUBLE_EQ(window.windowOpacity(), 1.0);
    EXPECT_EQ(m_sounds, QStringList{QStringLiteral("Pieieng")});
    EXPECT_TRUE(controller.validate(AppCommand::Start));
    ASSERT_EQ(logs.size(), 1);
    const QString log = logs.at(0).at(0).toStringList().value(0);
    EXPECT_EQ(log, controller.lastBatchLog());
    EXPECT_TRUE(QFileInfo(log).fileName().startsWith(QStringLiteral("QuillLog-")));
    EXPECT_EQ(QFileInfo(log).absolutePath(), path(QStringLiteral("out")));
    ASSERT_EQ(window.logDocuments().size(), 1);
    EXPECT_TRUE(window.logDocuments().at(0)->text().contains(QStringLiteral(" take2")));
    EXPECT_TRUE(m_alerts.isEmpty());
}

TEST_F(ProgressControllerTest, CancelShowsItsStateAndEndsTheBatchLikeAnyEnd)
{
    storeConversions({{QStringLiteral("Only Open When Errors"), true}});
    const QStringList inputs = writeInputs(10, 50000);
    MainController& controller = startController();
    controller.setProgressInterval(5);
    MainWindow window(controller);
    window.show();
    ASSERT_EQ(addAndWait(inputs), 10);
    QSignalSpy logs(&controller, &MainController::logFilesOpened);
    // The worker waits after its first file until Cancel has been pressed.
    std::promise<void> pressed;
    std::shared_future<void> gate = pressed.get_future().share();
    m_onCancel = [&pressed] { pressed.set_value(); };
    const NotificationCenter::Token token = NotificationCenter::defaultCenter().addObserver(
        ConversionProcess::kSuccessNotification, nullptr, [gate](const Notification&) { gate.wait(); });
    runAndSample([&] { window.startButton()->click(); }, 1);
    if (m_cancelShown.isEmpty())
        pressed.set_value();  // never held for good
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(m_cancelShown, QStringLiteral("Cancelling, please wait..."));
    EXPECT_TRUE(m_cancelBusy);
    EXPECT_TRUE(controller.progressController()->cancelling());
    EXPECT_EQ(controller.conversionProcess()->err(), -128);
    EXPECT_LE(outputs(QStringLiteral("Copy")) + outputs(QStringLiteral("Half")), 2);
    EXPECT_TRUE(window.isVisible());
    // Cancelled counts as an error for "Only Open When Errors".
    EXPECT_EQ(logs.size(), 1);
}

TEST_F(ProgressControllerTest, CancelPressedBeforeTheWorkerRunsIsKept)
{
    storeConversions();
    const QStringList inputs = writeInputs(4, 100000);
    MainController& controller = startController();
    MainWindow window(controller);
    ASSERT_EQ(addAndWait(inputs), 4);
    // The worker is held at its start until Cancel has been pressed.
    std::promise<void> pressed;
    holdWorkerAtStart(pressed);
    QSignalSpy finished(&controller, &MainController::batchFinished);
    controller.doStart();
    ASSERT_TRUE(controller.batchRunning());
    controller.progressController()->doCancel();
    pressed.set_value();
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(controller.conversionProcess()->err(), -128);
    EXPECT_EQ(outputs(QStringLiteral("Copy")) + outputs(QStringLiteral("Half")), 0);
    EXPECT_FALSE(controller.batchRunning());
}

TEST_F(ProgressControllerTest, AWholeSessionThroughTheWindowsEndsClean)
{
    // Add, a new conversion, start, cancel, play, preferences, quit: one
    // sitting through the real widgets, as the program builds them (the
    // sanitizer build checks its memory).
    AudioOutput::SetFactory([] { return std::make_unique<NullAudioOutput>(44100.0, 1.0, 256); });
    storeConversions();
    const QStringList inputs = writeInputs(3, 20000);
    MainController controller(*m_defaults);
    MainWindow window(controller);
    EditorCommands::install(window, controller);
    AppCommands::install(window, controller);
    controller.fileAdder()->setPollInterval(10);
    controller.setProgressInterval(10);
    controller.start();
    window.show();
    QSignalSpy added(&controller, &MainController::addingFinished);
    controller.setFilesToAdd(inputs);
    ASSERT_TRUE(added.wait(10000));

    QTimer::singleShot(0, &window, [] {
        if (auto* editor = qobject_cast<ConversionEditor*>(QApplication::activeModalWidget()))
            editor->ok();
    });
    ASSERT_TRUE(EditorCommands::newConversion(window, controller));

    std::promise<void> pressed;  // the worker waits for Cancel
    holdWorkerAtStart(pressed);
    QSignalSpy finished(&controller, &MainController::batchFinished);
    window.startButton()->click();
    ASSERT_TRUE(controller.batchRunning());
    controller.progressController()->cancelButton()->click();
    pressed.set_value();
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(controller.conversionProcess()->err(), -128);

    window.showInput();
    window.inputTable()->selectRow(0);
    window.playback()->playFile();
    EXPECT_TRUE(window.playback()->isPlaying());
    QTest::qWait(50);
    window.playback()->stopFile();

    for (QAction* action : window.editMenu()->actions())
        if (action->text() == QStringLiteral("Preferences..."))
            action->trigger();
    auto* preferences = window.findChild<PreferencesWindow*>();
    ASSERT_TRUE(preferences && preferences->isVisible());
    preferences->checkBox(QStringLiteral("Full Paths Into Log"))->click();
    preferences->close();

    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(QuitWithCtrlQ(&window), 0);
    AudioOutput::SetFactory(nullptr);
}

TEST_F(ProgressControllerTest, ClosingTheWindowMidBatchAsksAndCancels)
{
    storeConversions();
    const QStringList inputs = writeInputs(2, 100000);
    MainController& controller = startController();
    MainWindow window(controller);
    ASSERT_EQ(addAndWait(inputs), 2);
    // The worker is held at its start while the window is closed.
    std::promise<void> closed;
    holdWorkerAtStart(closed);
    QSignalSpy finished(&controller, &MainController::batchFinished);
    ASSERT_TRUE(controller.doStart());
    ProgressController* progress = controller.progressController();
    ASSERT_TRUE(progress->isVisible());

    // "Keep Converting": the window stays and the batch goes on.
    int answer = 0;
    AppPresenter::setAlertAnswerer([&](const Alert& alert) {
        m_alerts.append(alert);
        return answer;
    });
    EXPECT_FALSE(progress->close());
    EXPECT_TRUE(progress->isVisible());
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts.at(0).defaultButton, QStringLiteral("Cancel Batch"));
    EXPECT_TRUE(m_alerts.at(0).destructive);  // Return keeps converting
    EXPECT_FALSE(progress->cancelling());
    // "Cancel Batch": cancels; the window shows it until the end.
    answer = 1;
    EXPECT_FALSE(progress->close());
    EXPECT_TRUE(progress->isVisible());
    EXPECT_TRUE(progress->cancelling());
    EXPECT_FALSE(progress->close()) << "closing while cancelling asks nothing more";
    EXPECT_EQ(m_alerts.size(), 2);
    closed.set_value();
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_FALSE(progress->isVisible());
    EXPECT_EQ(controller.conversionProcess()->err(), -128);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(ProgressControllerTest, ScriptingCommandStartsWhenStartIsAllowedAndSaysWhich)
{
    storeConversions({{QStringLiteral("Open Log"), false}});
    const QStringList inputs = writeInputs(2, 20000);
    MainController& controller = startController();
    MainWindow window(controller);
    const QString name = path(QStringLiteral("instance"));  // in the test's own folder
    InstanceChannel channel;
    ASSERT_TRUE(channel.listen(name));
    QObject::connect(&channel, &InstanceChannel::received, &controller, &MainController::openArguments);
    QObject::connect(&controller, &MainController::scriptCommandHandled, &channel, &InstanceChannel::answerConvert);
    QSignalSpy handled(&controller, &MainController::scriptCommandHandled);
    QSignalSpy logs(&controller, &MainController::logFilesOpened);

    // A second start with files and the command: the files come first; it
    // hears that the batch started.
    using Answer = InstanceChannel::ConvertAnswer;
    Answer answer = Answer::None;
    std::thread sender;
    runAndSample([&] {
        sender = std::thread([&] {
            InstanceChannel::forward(QStringList(inputs) << QStringLiteral("--convert"), name, 3000, &answer, 20000);
        });
    });
    sender.join();
    EXPECT_EQ(answer, Answer::Started);
    ASSERT_EQ(handled.size(), 1);
    EXPECT_TRUE(handled.at(0).at(0).toBool());
    EXPECT_EQ(outputs(QStringLiteral("Copy")), 2);
    EXPECT_EQ(logs.size(), 0);  // "Open Log" is off
    EXPECT_FALSE(controller.lastBatchLog().isEmpty());

    // Without an output folder Start is not available: nothing happens,
    // and the sender hears why.
    controller.setDestFolder(QString());
    QString reason;
    sender = std::thread(
        [&] { InstanceChannel::forward({QStringLiteral("--convert")}, name, 3000, &answer, 20000, &reason); });
    ASSERT_TRUE(handled.wait(5000));
    QTest::qWait(50);
    sender.join();
    EXPECT_FALSE(handled.at(1).at(0).toBool());
    EXPECT_EQ(answer, Answer::NotStarted);
    EXPECT_EQ(reason, QStringLiteral("Start is not available: no output folder is chosen."));
    EXPECT_FALSE(controller.batchRunning());

    // Start available, but the start refused (the output folder inside an
    // input folder): the sender hears it before the user sees the alert.
    QDir().mkpath(path(QStringLiteral("in/out")));
    controller.setDestFolder(path(QStringLiteral("in/out")));
    ASSERT_EQ(addAndWait({path(QStringLiteral("in"))}), 1);
    m_alerts.clear();
    qsizetype alertsWhenAnswered = -1;
    QObject::connect(&controller, &MainController::scriptCommandHandled, &controller,
                     [&] { alertsWhenAnswered = m_alerts.size(); });
    sender = std::thread(
        [&] { InstanceChannel::forward({QStringLiteral("--convert")}, name, 3000, &answer, 20000, &reason); });
    ASSERT_TRUE(handled.wait(5000));
    QTest::qWait(50);
    sender.join();
    EXPECT_FALSE(handled.at(2).at(0).toBool());
    EXPECT_EQ(answer, Answer::NotStarted);
    EXPECT_TRUE(reason.startsWith(QStringLiteral("Error: output folder inside input folder: "))) << reason.toStdString();
    EXPECT_EQ(alertsWhenAnswered, 0);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts.at(0).title, QStringLiteral("Error: output folder inside input folder"));
    EXPECT_FALSE(controller.batchRunning());
}

TEST_F(ProgressControllerTest, OnlySaveWhenErrorsRemovesTheLogOfAFlawlessBatch)
{
    storeConversions({{QStringLiteral("Only Save When Errors"), true}});
    const QStringList inputs = writeInputs(2, 5000);
    MainController& controller = startController();
    MainWindow window(controller);
    ASSERT_EQ(addAndWait(inputs), 2);
    QSignalSpy logs(&controller, &MainController::logFilesOpened);
    runAndSample([&] { controller.doStart(); });
    EXPECT_EQ(outputs(QStringLiteral("Half")), 2);
    EXPECT_TRUE(controller.lastBatchLog().isEmpty());
    EXPECT_TRUE(QDir(path(QStringLiteral("out"))).entryList({QStringLiteral("*.qlg")}).isEmpty());
    EXPECT_EQ(logs.size(), 0);

    // An input gone before the start fails: that log is kept and opened.
    QFile::remove(inputs.at(0));
    runAndSample([&] { controller.doStart(); });
    EXPECT_FALSE(controller.lastBatchLog().isEmpty());
    EXPECT_EQ(QDir(path(QStringLiteral("out"))).entryList({QStringLiteral("*.qlg")}).size(), 1);
    EXPECT_EQ(logs.size(), 1);
}

TEST_F(ProgressControllerTest, ARerunIntoTheSameFolderSaysHowToNumberDuplicates)
{
    storeConversions();  // an existing subfolder is used without asking
    const QStringList inputs = writeInputs(2, 1000);
    MainController& controller = startController();
    ASSERT_EQ(addAndWait(inputs), 2);
    runAndSample([&] { controller.doStart(); });
    ASSERT_EQ(outputs(QStringLiteral("Copy")), 2);

    // Again: every file fails as a duplicate, and each line says how to
    // have it numbered; the preference is in the window.
    runAndSample([&] { controller.doStart(); });
    QFile log(controller.lastBatchLog());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList failures =
        QString::fromUtf8(log.readAll()).split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^\\*")));
    ASSERT_EQ(failures.size(), 4);
    for (const QString& line : failures)
        EXPECT_TRUE(line.contains(QStringLiteral("switch on the preference \"Number Duplicate Files\"")))
            << line.toStdString();
    PreferencesWindow preferences(*m_defaults);
    QCheckBox* numbering = preferences.checkBox(QStringLiteral("Number Duplicate Files"));
    ASSERT_NE(numbering, nullptr);
    numbering->click();
    runAndSample([&] { controller.doStart(); });
    EXPECT_EQ(outputs(QStringLiteral("Copy")), 4);
}

TEST_F(ProgressControllerTest, TheRightSideOfASplitSetIsNoErrorForOnlyOpenWhenErrors)
{
    // The right side, met after its set was converted, is a note in the
    // log: it opens no log, as it counts as no failure in the batch
    // command's summary.
    storeConversions({{QStringLiteral("Only Open When Errors"), true}});
    WriteWave(path(QStringLiteral("in/Mix.L.wav")), 1000);
    WriteWave(path(QStringLiteral("in/Mix.R.wav")), 1000);
    MainController& controller = startController();
    ASSERT_EQ(addAndWait({path(QStringLiteral("in"))}), 1);
    QSignalSpy logs(&controller, &MainController::logFilesOpened);
    runAndSample([&] { controller.doStart(); });
    QFile log(controller.lastBatchLog());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll().count("was already processed with left file"), 2);
    EXPECT_EQ(logs.size(), 0);
}

TEST_F(ProgressControllerTest, FolderChecksRefuseBeforeAnythingStarts)
{
    storeConversions({{QStringLiteral("Easy Thru"), false}});
    QDir().mkpath(path(QStringLiteral("in/sub")));
    WriteWave(path(QStringLiteral("in/sub/a.wav")), 1000);
    QDir().mkpath(path(QStringLiteral("inbox")));
    WriteWave(path(QStringLiteral("inbox/b.wav")), 1000);
    MainController& controller = startController();
    ASSERT_EQ(addAndWait({path(QStringLiteral("in/sub"))}), 1);

    // The output folder inside an input folder.
    controller.setDestFolder(path(QStringLiteral("in/sub/../sub/deeper")));
    QDir().mkpath(path(QStringLiteral("in/sub/deeper")));
    controller.doStart();
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts.at(0).title, QStringLiteral("Error: output folder inside input folder"));
    EXPECT_FALSE(controller.batchRunning());

    // A sibling with a longer name is not inside: the existing subfolder
    // asks, and "Choose Different Destination" (1) refuses.
    controller.setDestFolder(path(QStringLiteral("in/subx")));
    QDir().mkpath(path(QStringLiteral("in/subx/Copy")));
    controller.doStart();
    ASSERT_EQ(m_alerts.size(), 2);
    EXPECT_EQ(m_alerts.at(1).title, QStringLiteral("Warning: output folder already exists"));
    EXPECT_EQ(m_alerts.at(1).defaultButton, QStringLiteral("Choose Different Destination"));
    EXPECT_EQ(m_alerts.at(1).alternateButton, QStringLiteral("Use Existing Folder"));
    EXPECT_FALSE(controller.batchRunning());
    EXPECT_FALSE(controller.progressController()->isVisible());

    // "Use Existing Folder" (0) goes on.
    AppPresenter::setAlertAnswerer([this](const Alert& alert) {
        m_alerts.append(alert);
        return 0;
    });
    QSignalSpy finished(&controller, &MainController::batchFinished);
    controller.doStart();
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("in/subx/Copy/sub/a.wav"))));
}

// Start runs the stored conversions that can run and says once each which
// it left out and why (an MPEG stereo mode of an older conversion on WAVE,
// a type that is never written, MP3 without the encoder, with where it was
// looked for), in the alert and in the log; a conversion left out is an
// error for "Only Save When Errors" and "Only Open When Errors".
TEST_F(ProgressControllerTest, StartLeavesOutAConversionThatCannotRunAndSaysWhy)
{
    ConvSpecRef copy = ConvSpec::create();
    copy->setConversionName(QStringLiteral("Copy"));
    copy->setChannelTreat(0);
    QVariantList stored{copy->dictionary()};
    const std::pair<const char*, OSType> cannot[] = {
        {"Seven", FOUR_CHAR_CODE("WAVE")}, {"MACE", FOUR_CHAR_CODE("QTM3")}, {"MP3", FOUR_CHAR_CODE("DMP3")}};
    for (const auto& [name, type] : cannot) {
        ConvSpecRef spec = copy->copy();
        spec->setConversionName(QString::fromLatin1(name));
        spec->setNeedsStrictFileType(true);
        spec->setOutputFileType(type);
        if (type == FOUR_CHAR_CODE("WAVE")) {
            spec->setNeedsChannelTreat(true);
            spec->setChannelTreat(7);
        }
        stored.append(spec->dictionary());
    }
    storeDefaults({{QStringLiteral("Conversions"), stored},
                   {QStringLiteral("Last Used Destination"), path(QStringLiteral("out"))},
                   {QStringLiteral("Only Save When Errors"), true},
                   {QStringLiteral("Only Open When Errors"), true}});
    const QStringList inputs = writeInputs(1, 1000);
    // The encoder looked for where there is none (the start-up looks).
    const QByteArray oldPath = qgetenv("PATH");
    const QString nowhere = path(QStringLiteral("no-programs-here"));
    qputenv("PATH", nowhere.toUtf8());
    MainController& controller = startController();
    qputenv("PATH", oldPath);
    struct FoundAgain {  // as the other tests find it
        ~FoundAgain() { EngineStartup::checkMP3Encoder(); }
    } foundAgain;
    MainWindow window(controller);
    ASSERT_EQ(addAndWait(inputs), 1);
    QSignalSpy logs(&controller, &MainController::logFilesOpened);
    runAndSample([&] { window.action(AppCommand::Start)->trigger(); });
    EXPECT_EQ(outputs(QStringLiteral("Copy")), 1);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts.at(0).title, QStringLiteral("Conversions skipped"));
    const QStringList said = m_alerts.at(0).message.split(QLatin1Char('\n'));
    ASSERT_EQ(said.size(), 3) << m_alerts.at(0).message.toStdString();
    for (const QString& why :
         {QStringLiteral("the conversion 'Seven' cannot run: QMCSChannelTreat 7"),
          QStringLiteral("the conversion 'MACE' cannot run: its output file type cannot be written (MACE 3:1 "
                         "QuickTime Movie, 'QTM3')"),
          QStringLiteral("the conversion 'MP3' cannot run: its output file type cannot be written (LAME encoded "
                         "mp3, 'DMP3'). MP3 output needs the LAME encoder 'lame' (version 3.93 or newer), which "
                         "was not found on PATH (%1)")
              .arg(nowhere)})
        EXPECT_EQ(said.filter(why).size(), 1) << why.toStdString() << "\n" << m_alerts.at(0).message.toStdString();
    QFile file(controller.lastBatchLog());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString log = QString::fromUtf8(file.readAll());
    for (const QString& line : said) {
        EXPECT_FALSE(QDir(path(QStringLiteral("out/") + line.section(QLatin1Char('\''), 1, 1))).exists());
        EXPECT_EQ(log.count(QStringLiteral("CONVERSION NOT RUN: \n\n    ") + line +
                            QStringLiteral("\n    Input files not converted: 1\n")),
                  1)
            << log.toStdString();
    }
    EXPECT_EQ(logs.size(), 1);
}
