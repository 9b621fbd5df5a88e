// quillmarch: the desktop application.  Files named on the command line
// are added to the input list; when the application already runs for this
// user and session, they are handed to it and this start ends.
//
// QUILLMARCH_SCREENSHOT=FILE (scripts/screenshots.sh) saves a picture of
// the main window once the files are added, and quits;
// QUILLMARCH_SCREENSHOT_TAB (0 input, 1 conversions, 2 output) picks the
// tab shown, and QUILLMARCH_SCREENSHOT_WINDOW another window instead
// (preferences, preferences-logging, preferences-playback, feedback,
// custom-rates, about, add-errors: the report of the files named that were
// not added).  QUILLMARCH_SCREENSHOT_INFO=FILE saves the add-files panel
// describing the first file named (its file-information view).  QUILLMARCH_SCREENSHOT_PROGRESS=FILE and
// QUILLMARCH_SCREENSHOT_LOG=FILE instead wait for a batch (started with
// --convert): the progress window is saved once a file is under way, the
// log window once the batch's log opens; then the program quits.
#include "AboutView.h"
#include "AddFilesDialog.h"
#include "AddFilesErrorsController.h"
#include "AppCommands.h"
#include "CustomRatesWindow.h"
#include "FeedbackController.h"
#include "EditorCommands.h"
#include "EngineStartup.h"
#include "InstanceChannel.h"
#include "LogDocument.h"
#include "MainBundle.h"
#include "MainController.h"
#include "MainWindow.h"
#include "PreferencesWindow.h"
#include "ProgressController.h"
#include "SoundFileInfoViewController.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <memory>

namespace {

volatile std::sig_atomic_t gQuitSignal = 0;

extern "C" void OnQuitSignal(int signal)
{
    gQuitSignal = signal;
    // The next one is not caught.
    std::signal(signal, SIG_DFL);
}

// Ctrl-C, SIGTERM and a closed terminal (SIGHUP, unless it is ignored, as
// under nohup) end the application without asking anything (nobody may be
// there to answer): a batch under way is stopped as at quitting, its
// temporaries removed and its log finished.  The signal only leaves a
// mark, looked at by a timer of `app`'s.
void QuitOnSignals(QCoreApplication& app)
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        if (std::signal(signal, SIG_IGN) != SIG_IGN)
            std::signal(signal, OnQuitSignal);
    auto* watch = new QTimer(&app);
    QObject::connect(watch, &QTimer::timeout, &app, [] {
        if (gQuitSignal != 0)
            QCoreApplication::exit(0);
    });
    watch->start(100);
}

const char kUsage[] =
    "Usage: quillmarch [--convert] [FILE_OR_FOLDER...]\n"
    "\n"
    "The desktop application of Quillmarch, the batch audio-file converter.\n"
    "Files and folders named are added to the input list; when the application\n"
    "already runs for this user and session (the same display, home folder and\n"
    "preferences file), they are handed to it.\n"
    "\n"
    "  --convert   once the files are added, start the batch as the Start button\n"
    "              does (when Start is available); a second start waits for the\n"
    "              running application's answer and exits with status 0 when the\n"
    "              batch started, 1 (with the reason) when nothing was started\n"
    "  --help      this text\n"
    "\n"
    "For batches without a display, use quillmarch-batch (quillmarch-batch --help).\n";

// The window named `name` (QUILLMARCH_SCREENSHOT_WINDOW) opened over the
// main window, for its picture; null for an unknown name.
QWidget* OpenWindowForPicture(const QString& name, MainWindow& window, MainController& controller)
{
    if (name.startsWith(QLatin1String("preferences"))) {
        PreferencesWindow* prefs = PreferencesWindow::shared(&window, controller.defaults());
        prefs->updateUI();
        if (name.endsWith(QLatin1String("-logging")))
            prefs->selectLoggingTab();
        else if (name.endsWith(QLatin1String("-playback")))
            prefs->findChild<QTabWidget*>()->setCurrentIndex(2);
        prefs->show();
        return prefs;
    }
    QWidget* shown = nullptr;
    if (name == QLatin1String("feedback"))
        shown = AppCommands::feedbackController(window, controller);
    else if (name == QLatin1String("custom-rates"))
        shown = new CustomRatesWindow(controller.defaults(), &window);
    else if (name == QLatin1String("add-errors"))
        shown = controller.addFilesErrorsController();
    else if (name == QLatin1String("about")) {
        window.showAbout();
        shown = window.findChild<AboutView*>();
    }
    if (shown)
        shown->show();
    return shown;
}

}  // namespace

int main(int argc, char* argv[])
{
    // The media libraries allocate each packet 64-byte aligned and free it
    // a moment later; with the allocator's fast bins on, every such free
    // beside the heap's top gathers them all again (malloc_consolidate),
    // 5% of a compressed input's time.  Small blocks are still kept per
    // thread (tcache).
    mallopt(M_MXFAST, 0);
    // Before any display is opened.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }

    // Without its resources the program knows no type and no conversion.
    if (const QString problem = MainBundle::resourcesProblem(); !problem.isEmpty()) {
        std::fprintf(stderr, "quillmarch: %s\n", qPrintable(problem));
        return 64;
    }
    // A preferences file named by QUILLMARCH_DEFAULTS is used only when it is
    // one: it is never made in a missing folder, put aside or replaced.
    if (const QString problem = UserDefaults::defaultFileProblem(); !problem.isEmpty()) {
        std::fprintf(stderr, "quillmarch: %s\n", qPrintable(problem));
        return 64;
    }
    // So is one holding a raw-file value no headerless file can have.
    if (UserDefaults::defaultFileKind() == UserDefaults::FileKind::Named) {
        if (const QString problem = EngineStartup::preferencesProblem(UserDefaults::standardUserDefaults());
            !problem.isEmpty()) {
            std::fprintf(stderr, "quillmarch: the preferences file '%s' cannot be used: %s\n",
                         qPrintable(UserDefaults::defaultFilePath()), qPrintable(problem));
            return 64;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmarch"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillmarch"));
    QApplication::setDesktopFileName(QStringLiteral("quillmarch"));

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    for (QString& argument : arguments)
        if (!argument.startsWith(QLatin1String("--")))
            argument = QFileInfo(argument).absoluteFilePath();

    // A second start of this user's session hands over its files; with
    // "--convert" it reports what the running application did with the
    // command.
    QString why;
    const QString serverName = InstanceChannel::defaultServerName(&why);
    if (serverName.isEmpty())
        std::fprintf(stderr, "quillmarch: no private folder for this session's socket: %s; other starts will open "
                             "windows of their own\n", qPrintable(why));
    else if (!why.isEmpty())
        std::fprintf(stderr, "quillmarch: %s; this session's socket is %s\n", qPrintable(why), qPrintable(serverName));
    InstanceChannel::ConvertAnswer answer = InstanceChannel::ConvertAnswer::None;
    QString reason;
    if (!serverName.isEmpty() &&
        InstanceChannel::forward(arguments, serverName, 3000, &answer, 600000, &reason, &why)) {
        if (arguments.contains(QStringLiteral("--convert"))) {
            switch (answer) {
            case InstanceChannel::ConvertAnswer::Started:
                std::fputs("quillmarch: the running application started the batch\n", stdout);
                return 0;
            case InstanceChannel::ConvertAnswer::NotStarted:
                std::fprintf(stdout, "quillmarch: the running application did not start the batch: %s\n",
                             reason.isEmpty() ? "no reason given" : qPrintable(reason));
                return 1;
            case InstanceChannel::ConvertAnswer::None:
                std::fputs("quillmarch: the running application did not answer the convert command\n", stdout);
                return 1;
            }
        }
        return 0;
    }
    if (!serverName.isEmpty() && !why.isEmpty())
        std::fprintf(stderr, "quillmarch: nothing handed over: %s; this start opens a window of its own\n",
                     qPrintable(why));
    InstanceChannel channel;
    if (!serverName.isEmpty() && !channel.listen(serverName, &why))
        std::fprintf(stderr, "quillmarch: cannot listen for other starts: %s; they will open windows of their own\n",
                     qPrintable(why));

    MainController controller(UserDefaults::standardUserDefaults());
    MainWindow window(controller);
    EditorCommands::install(window, controller);
    AppCommands::install(window, controller);
    controller.start();
    EditorCommands::screenshotIfAsked(window, controller);
    window.show();

    QObject::connect(&controller, &MainController::scriptCommandHandled, &channel, &InstanceChannel::answerConvert);
    // Without its main window the application takes nothing more.
    QObject::connect(&window, &MainWindow::quitting, &channel, &InstanceChannel::close);
    QObject::connect(&channel, &InstanceChannel::received, &window, [&](const QStringList& list) {
        controller.openArguments(list);
        window.raise();
        window.activateWindow();
    });
    QObject::connect(&app, &QApplication::aboutToQuit, &controller, [&controller] { controller.saveAtQuit(); });
    QuitOnSignals(app);

    const QString progressShot = qEnvironmentVariable("QUILLMARCH_SCREENSHOT_PROGRESS");
    const QString logShot = qEnvironmentVariable("QUILLMARCH_SCREENSHOT_LOG");
    const QString screenshot = qEnvironmentVariable("QUILLMARCH_SCREENSHOT");
    const QString infoShot = qEnvironmentVariable("QUILLMARCH_SCREENSHOT_INFO");
    if (!infoShot.isEmpty()) {
        const QFileInfo file(arguments.value(0));
        arguments.clear();
        QTimer::singleShot(300, &window, [&window, infoShot, file] {
            auto* panel = new AddFilesDialog(&window);
            panel->setDirectory(file.absolutePath());
            panel->selectFile(file.fileName());
            panel->show();
            // The information view describes the file chosen.
            if (auto* info = panel->findChild<SoundFileInfoViewController*>())
                info->showPath(file.absoluteFilePath());
            QTimer::singleShot(800, panel, [panel, infoShot] {
                const bool saved = panel->grab().save(infoShot);
                QApplication::exit(saved ? 0 : 1);
            });
        });
    } else if (!progressShot.isEmpty() || !logShot.isEmpty()) {
        auto* poll = new QTimer(&window);
        auto progressSaved = std::make_shared<bool>(progressShot.isEmpty());
        QObject::connect(poll, &QTimer::timeout, &window, [&controller, poll, progressShot, progressSaved] {
            ProgressController* progress = controller.progressController();
            if (*progressSaved || !progress)
                return;
            // A file under way, or the batch already over.
            if ((!progress->fileText().isEmpty() && progress->fileBarValue() > 25.0) || !controller.batchRunning()) {
                const bool saved = progress->grab().save(progressShot);
                std::fprintf(stderr, "quillmarch: %s %s\n", saved ? "saved" : "could not save",
                             qPrintable(progressShot));
                *progressSaved = true;
                poll->stop();
            }
        });
        QObject::connect(&controller, &MainController::batchStarted, poll, [poll] { poll->start(15); });
        QObject::connect(&controller, &MainController::batchFinished, &window, [&controller, &window, logShot] {
            QTimer::singleShot(600, &window, [&controller, &window, logShot] {
                bool saved = true;
                if (!logShot.isEmpty()) {
                    const QList<LogDocument*> logs = window.logDocuments();
                    saved = !logs.isEmpty() && logs.constFirst()->grab().save(logShot);
                    std::fprintf(stderr, "quillmarch: %s %s\n", saved ? "saved" : "could not save", qPrintable(logShot));
                }
                controller.saveAtQuit();
                QApplication::exit(saved ? 0 : 1);
            });
        });
    } else if (!screenshot.isEmpty()) {
        bool ok = false;
        const int tab = qEnvironmentVariableIntValue("QUILLMARCH_SCREENSHOT_TAB", &ok);
        const QString other = qEnvironmentVariable("QUILLMARCH_SCREENSHOT_WINDOW");
        auto save = [&window, &controller, screenshot, tab, ok, other] {
            if (ok)
                window.tabs()->setCurrentIndex(tab);
            QWidget* shown = other.isEmpty() ? &window : OpenWindowForPicture(other, window, controller);
            if (!shown) {
                std::fprintf(stderr, "quillmarch: no window '%s' to picture\n", qPrintable(other));
                QApplication::exit(1);
                return;
            }
            QTimer::singleShot(400, &window, [shown, screenshot] {
                const bool saved = shown->grab().save(screenshot);
                QApplication::exit(saved ? 0 : 1);
            });
        };
        if (arguments.isEmpty())
            QTimer::singleShot(200, &window, save);
        else
            QObject::connect(&controller, &MainController::addingFinished, &window, save);
    }

    controller.openArguments(arguments);
    return app.exec();
}
