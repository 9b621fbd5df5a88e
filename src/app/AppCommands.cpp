#include "AppCommands.h"

#include "AboutView.h"
#include "AppPresenter.h"
#include "ConvSpecCommand.h"
#include "EmptyFolder.h"
#include "FeedbackController.h"
#include "LegacyConversionImporter.h"
#include "Localized.h"
#include "Logger.h"
#include "MainBundle.h"
#include "MakerAddresses.h"
#include "MainController.h"
#include "MainWindow.h"
#include "PreferencesWindow.h"
#include "UpdateCheck.h"
#include "UserDefaults.h"
#include "ZuPath.h"

#include <QAction>
#include <QFileDialog>
#include <QMenu>

namespace {

PreferencesWindow* ShowPreferences(MainWindow& window, MainController& controller)
{
    PreferencesWindow* prefs = PreferencesWindow::shared(&window, controller.defaults());
    prefs->updateUI();
    prefs->show();
    prefs->raise();
    prefs->activateWindow();
    return prefs;
}

} // namespace

QString AppCommands::runningVersion()
{
    return AboutView::version();
}

void AppCommands::showLastLog(MainWindow& window, MainController& controller)
{
    const QVariantMap stored = controller.defaults().objectForKey(Logger::kLastUsedLogKey).toMap();
    const ZuPath log(stored);
    if (!stored.isEmpty() && !log.stringValue().isEmpty() && log.exists()) {
        window.openLogs({log.stringValue()});
        return;
    }
    const int answer = AppPresenter::showAlert(
        {L("No log file"),
         L("There is no previous log file to show you. A log file will be created and shown according to the "
           "preferences for logging.\n\nWould you like the preference window opened for you now?"),
         L("Open Preferences"), L("Cancel"), {}},
        &window);
    if (answer == 1)
        ShowPreferences(window, controller)->selectLoggingTab();
}

void AppCommands::showLog(MainWindow& window)
{
    auto* panel = new QFileDialog(&window, L("Open Log"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setNameFilter(L("Logs (*.qlg)"));
    panel->setWindowModality(Qt::WindowModal);
    MainWindow* w = &window;
    QObject::connect(panel, &QFileDialog::fileSelected, w, [w](const QString& path) { w->openLogs({path}); });
    panel->open();
}

void AppCommands::unrecognizedFileHandling(MainWindow& window, MainController& controller)
{
    PreferencesWindow* prefs = PreferencesWindow::shared(&window, controller.defaults());
    prefs->selectInputTab();
    ShowPreferences(window, controller);
}

FeedbackController* AppCommands::feedbackController(MainWindow& window, MainController& controller)
{
    auto* feedback = window.findChild<FeedbackController*>();
    if (!feedback)
        feedback = new FeedbackController(controller.defaults(), &window);
    return feedback;
}

void AppCommands::sendFeedBack(MainWindow& window, MainController& controller)
{
    FeedbackController* feedback = feedbackController(window, controller);
    feedback->exec();
}

bool AppCommands::showLicense()
{
    const QString path = MainBundle::pathForResource(QStringLiteral("License"), QStringLiteral("rtf"));
    return !path.isEmpty() && AppPresenter::openUrl(QUrl::fromLocalFile(path));
}

bool AppCommands::goToWebSite(QWidget* parent)
{
    return AboutView::openWebSite(parent);
}

UpdateCheck* AppCommands::updateCheck(MainWindow& window)
{
    auto* check = window.findChild<UpdateCheck*>();
    if (!check) {
        check = new UpdateCheck(&window);
        MainWindow* w = &window;
        QObject::connect(check, &UpdateCheck::finished, w, [w](const UpdateCheck::Result& result) {
            UpdateCheck::present(result, runningVersion(), w);
        });
    }
    return check;
}

bool AppCommands::checkForUpdates(MainWindow& window, const QUrl& address)
{
    const QString list = MakerAddresses::current().versionList;
    if (address.isEmpty() && list.isEmpty()) {
        AppPresenter::showAlert({L("Check for Updates"),
                                 L("This build of Quillmarch has no address to look for new versions at: it is set "
                                   "when the program is built. You are using version %1.")
                                     .arg(runningVersion()),
                                 {}, {}, {}},
                                &window);
        return false;
    }
    return updateCheck(window)->start(address.isEmpty() ? QUrl(list) : address, runningVersion());
}

bool AppCommands::emptyOutputFolder(MainWindow& window, MainController& controller)
{
    if (!controller.validate(AppCommand::EmptyOutputFolder))
        return false;
    const QString folder = controller.destFolder();
    const int answer = AppPresenter::showAlert(
        {L("Really empty output folder?"),
         L("Are you sure you want to delete all files and folders from '%1' ?\n\nThis is NOT undoable!").arg(folder),
         L("Delete All"), L("Cancel"), {}, true},
        &window);
    if (answer != 1)
        return false;
    const bool emptied = EmptyFolder(folder.toStdString()) == 0;
    if (emptied)
        AppPresenter::showAlert(
            {L("The output folder is now empty"), L("'%1' has been successfully emptied.").arg(folder), {}, {}, {}},
            &window);
    else
        AppPresenter::showAlert({L("The output folder could not be emptied"),
                                 L("Some files and/or folders from '%1' could not be deleted.").arg(folder),
                                 {}, {}, {}},
                                &window);
    window.updateOutputView();
    return emptied;
}

void AppCommands::importConversions(MainWindow& window, MainController& controller)
{
    const QStringList names = controller.conversionNames();
    const QSet<QString> taken(names.begin(), names.end());
    MainWindow* w = &window;
    MainController* c = &controller;
    LegacyConversionImporter::importConversions(w, taken, [w, c](const QList<ConvSpecRef>& conversions) {
        QUndoStack* undo = c->conversionUndoStack();
        undo->beginMacro(L("Import Conversions"));
        for (const ConvSpecRef& spec : conversions)
            undo->push(new ConvSpecCommand(c, ConvSpecCommand::Insert, spec, -1));
        undo->endMacro();
        w->showConversions();
    });
}

void AppCommands::install(MainWindow& window, MainController& controller)
{
    MainWindow* w = &window;
    MainController* c = &controller;
    {
        QMenu* file = window.fileMenu();
        // Before "Start".
        QAction* before = nullptr;
        for (QAction* action : file->actions())
            if (action == window.action(AppCommand::Start))
                before = action;
        auto* lastLog = new QAction(L("Show Log"), file);
        lastLog->setObjectName(QStringLiteral("showLastLog"));
        lastLog->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
        auto* openLog = new QAction(L("Open Log..."), file);
        openLog->setObjectName(QStringLiteral("showLog"));
        auto* empty = new QAction(L("Empty Output Folder..."), file);
        empty->setObjectName(QStringLiteral("emptyOutputFolder"));
        file->insertAction(before, lastLog);
        file->insertAction(before, openLog);
        file->insertAction(before, empty);
        auto* import = new QAction(L("Import Conversions..."), file);
        import->setObjectName(QStringLiteral("importConversions"));
        file->insertAction(before, import);
        file->insertSeparator(before);
        QObject::connect(import, &QAction::triggered, w, [w, c] { importConversions(*w, *c); });
        QObject::connect(lastLog, &QAction::triggered, w, [w, c] { showLastLog(*w, *c); });
        QObject::connect(openLog, &QAction::triggered, w, [w] { showLog(*w); });
        QObject::connect(empty, &QAction::triggered, w, [w, c] { emptyOutputFolder(*w, *c); });
        window.registerAction(AppCommand::EmptyOutputFolder, empty);
    }
    {
        QMenu* edit = window.editMenu();
        QAction* unrecognized = edit->addAction(L("Unrecognized File Handling..."));
        unrecognized->setObjectName(QStringLiteral("unrecognizedFileHandling"));
        QObject::connect(unrecognized, &QAction::triggered, w, [w, c] { unrecognizedFileHandling(*w, *c); });
    }
    {
        QMenu* help = window.helpMenu();
        help->addSeparator();
        QAction* feedback = help->addAction(L("Send Feedback..."));
        feedback->setObjectName(QStringLiteral("sendFeedBack"));
        QObject::connect(feedback, &QAction::triggered, w, [w, c] { sendFeedBack(*w, *c); });
        QAction* updates = help->addAction(L("Check for Updates..."));
        updates->setObjectName(QStringLiteral("checkForUpdates"));
        QObject::connect(updates, &QAction::triggered, w, [w] { checkForUpdates(*w); });
        QAction* site = help->addAction(L("Quillmarch Web Site"));
        site->setObjectName(QStringLiteral("goToWebSite"));
        QObject::connect(site, &QAction::triggered, w, [w] { goToWebSite(w); });
        QAction* license = help->addAction(L("License"));
        license->setObjectName(QStringLiteral("showLicense"));
        QObject::connect(license, &QAction::triggered, w, [] { showLicense(); });
    }
}
