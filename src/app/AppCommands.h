// The remaining commands of the main window: the logs ("Show Log" opens
// the last batch's log, "Open Log..." any log), the input settings of the
// preferences ("Unrecognized File Handling..."), feedback, the licence,
// the maker's web site, the check for updates and emptying the output
// folder.  (Tabs, delete, the preferences, custom rates and the about box
// are the main window's own.)
#pragma once

#include <QString>
#include <QUrl>

class MainController;
class MainWindow;
class UpdateCheck;
class FeedbackController;
class QWidget;

class AppCommands {
public:

    static void install(MainWindow& window, MainController& controller);

    // "Show Log": the log under "Last Used Log" when it still exists, else
    // the "No log file" alert, which may open the preferences' log tab.
    static void showLastLog(MainWindow& window, MainController& controller);
    // "Open Log...": a panel for ".qlg" files.
    static void showLog(MainWindow& window);
    static void unrecognizedFileHandling(MainWindow& window, MainController& controller);
    // The feedback window, run modally (made once).
    static FeedbackController* feedbackController(MainWindow& window, MainController& controller);
    static void sendFeedBack(MainWindow& window, MainController& controller);
    // "Import Conversions...": conversions of the previous major version,
    // inserted in one undo group, then the conversions tab shown.
    static void importConversions(MainWindow& window, MainController& controller);
    // The licence text with its default application.
    static bool showLicense();
    // The maker's web site, as the about box opens it (AboutView).
    static bool goToWebSite(QWidget* parent = nullptr);
    // Starts the background check of `address` (the maker's list when
    // empty); the answer is shown when it comes.  False while one runs,
    // and when the build has no list to check (which it says).
    static bool checkForUpdates(MainWindow& window, const QUrl& address = QUrl());
    static UpdateCheck* updateCheck(MainWindow& window);
    // After the confirmation, removes everything inside the output folder
    // (links removed as links) and says how it went.  True when the folder
    // was emptied.
    static bool emptyOutputFolder(MainWindow& window, MainController& controller);
    static QString runningVersion();
};
