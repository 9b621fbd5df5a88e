// quillmarch: the desktop application.  Files named on the command line
// are added to the input list; when the application already runs, they
// are handed to it and this start ends.
//
// QUILLMARCH_SCREENSHOT=FILE (scripts/screenshots.sh) saves a picture of
// the main window once the files are added, and quits;
// QUILLMARCH_SCREENSHOT_TAB (0 input, 1 conversions, 2 output) picks the
// tab shown.
#include "EditorCommands.h"
#include "InstanceChannel.h"
#include "MainController.h"
#include "MainWindow.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmarch"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillmarch"));
    QApplication::setDesktopFileName(QStringLiteral("quillmarch"));

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    for (QString& argument : arguments)
        if (!argument.startsWith(QLatin1String("--")))
            argument = QFileInfo(argument).absoluteFilePath();

    if (InstanceChannel::forward(arguments))
        return 0;
    InstanceChannel channel;
    if (!channel.listen())
        std::fputs("quillmarch: cannot listen for other starts; they will open windows of their own\n", stderr);

    MainController controller(UserDefaults::standardUserDefaults());
    MainWindow window(controller);
    EditorCommands::install(window, controller);
    controller.start();
    EditorCommands::screenshotIfAsked(window, controller);
    window.show();

    QObject::connect(&channel, &InstanceChannel::received, &window, [&](const QStringList& list) {
        controller.openArguments(list);
        window.raise();
        window.activateWindow();
    });
    QObject::connect(&app, &QApplication::aboutToQuit, &controller, [&controller] { controller.saveAtQuit(); });

    const QString screenshot = qEnvironmentVariable("QUILLMARCH_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        bool ok = false;
        const int tab = qEnvironmentVariableIntValue("QUILLMARCH_SCREENSHOT_TAB", &ok);
        auto save = [&window, screenshot, tab, ok] {
            if (ok)
                window.tabs()->setCurrentIndex(tab);
            QTimer::singleShot(400, &window, [&window, screenshot] {
                const bool saved = window.grab().save(screenshot);
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
