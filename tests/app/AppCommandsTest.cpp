// The application commands of the main window: which are available when,
// emptying the output folder (links inside are removed, never followed),
// and the last log.
#include "AboutView.h"
#include "AppCommands.h"
#include "AppTestSupport.h"
#include "LegacyPrefsFile.h"
#include "LogDocument.h"
#include "Logger.h"
#include "MainWindow.h"
#include "MakerAddresses.h"
#include "PreferencesWindow.h"
#include "UpdateCheck.h"
#include "ZuPath.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QApplication>
#include <QTabWidget>
#include <QTest>
#include <QTableView>

namespace {

class AppCommandsTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        startController();
        m_window = std::make_unique<MainWindow>(*m_controller);
        AppCommands::install(*m_window, *m_controller);
    }
    void TearDown() override
    {
        m_window.reset();
        AppTest::TearDown();
    }
    QAction* named(const QString& name) const { return m_window->findChild<QAction*>(name); }
    std::unique_ptr<MainWindow> m_window;
};

} // namespace

TEST_F(AppCommandsTest, CommandsAreAvailableAsTheStateAllows)
{
    for (const char* name : {"showLastLog", "showLog", "emptyOutputFolder", "unrecognizedFileHandling",
                             "sendFeedBack", "checkForUpdates", "goToWebSite", "showLicense"})
        EXPECT_NE(named(QString::fromLatin1(name)), nullptr) << name;

    // Emptying needs an output folder.
    QAction* empty = named(QStringLiteral("emptyOutputFolder"));
    EXPECT_FALSE(empty->isEnabled());
    EXPECT_FALSE(AppCommands::emptyOutputFolder(*m_window, *m_controller));
    EXPECT_TRUE(m_alerts.isEmpty());
    QDir().mkpath(path(QStringLiteral("out")));
    m_controller->setDestFolder(path(QStringLiteral("out")));
    EXPECT_TRUE(empty->isEnabled());

    // Delete follows the tab; on the output tab it does nothing.
    WriteWave(path(QStringLiteral("a.wav")), 2000);
    ASSERT_EQ(addAndWait({path(QStringLiteral("a.wav"))}), 1);
    QAction* remove = m_window->action(AppCommand::Delete);
    m_window->showInput();
    m_window->inputTable()->selectRow(0);
    EXPECT_TRUE(remove->isEnabled());
    m_window->showOutput();
    EXPECT_FALSE(remove->isEnabled());
    remove->trigger();
    EXPECT_EQ(m_controller->inputModel()->rowCount(), 1);

    // The licence opens through the desktop.
    QList<QUrl> opened;
    AppPresenter::setUrlOpener([&opened](const QUrl& url) {
        opened.append(url);
        return true;
    });
    named(QStringLiteral("showLicense"))->trigger();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].isLocalFile() && opened[0].path().endsWith(QStringLiteral("/License.rtf")));
    EXPECT_TRUE(QFileInfo(opened[0].toLocalFile()).isFile());

    // A build without the maker's addresses says so and reaches for none.
    const MakerAddresses none;
    MakerAddresses::setForTesting(&none);
    m_alerts.clear();
    named(QStringLiteral("goToWebSite"))->trigger();
    named(QStringLiteral("checkForUpdates"))->trigger();
    EXPECT_EQ(opened.size(), 1);
    ASSERT_EQ(m_alerts.size(), 2);
    EXPECT_EQ(m_alerts[0].title, QStringLiteral("No Web Site"));
    EXPECT_EQ(m_alerts[1].title, QStringLiteral("Check for Updates"));
    EXPECT_TRUE(m_alerts[1].message.startsWith(QStringLiteral("This build of Quillmarch has no address")));
    EXPECT_EQ(m_window->findChild<UpdateCheck*>(), nullptr) << "nothing fetched";
    EXPECT_TRUE(AboutView(*m_defaults).webSiteRect().isEmpty()) << "no link drawn";

    // With a site, the menu item and the about box's link open it; a click
    // elsewhere closes the box.
    const MakerAddresses site{QStringLiteral("https://example.org/quillmarch/"), {}, {}};
    MakerAddresses::setForTesting(&site);
    named(QStringLiteral("goToWebSite"))->trigger();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[1], QUrl(site.webSite));
    AboutView about(*m_defaults);
    about.show();
    QTest::mouseClick(&about, Qt::LeftButton, {}, about.webSiteRect().center());
    EXPECT_EQ(opened.size(), 3);
    EXPECT_EQ(opened.last(), opened[1]);
    EXPECT_TRUE(about.isVisible());
    QTest::mouseClick(&about, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(about.isVisible());
    MakerAddresses::setForTesting(nullptr);
}

TEST_F(AppCommandsTest, EmptyingNeverFollowsLinksOutOfTheFolder)
{
    const QString out = path(QStringLiteral("out"));
    const QString outside = path(QStringLiteral("keep"));
    QDir().mkpath(out + QStringLiteral("/conv/deep"));
    QDir().mkpath(outside);
    WriteText(outside + QStringLiteral("/precious.wav"), "data");
    WriteText(out + QStringLiteral("/conv/deep/x.wav"), "x");
    WriteText(out + QStringLiteral("/.hidden"), "h");
    WriteText(out + QStringLiteral("/QuillLog-1.qlg"), "log");
    ASSERT_TRUE(QFile::link(outside, out + QStringLiteral("/linked folder")));
    ASSERT_TRUE(QFile::link(outside, out + QStringLiteral("/conv/deep/inner link")));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/precious.wav"), out + QStringLiteral("/linked file.wav")));
    m_controller->setDestFolder(out);

    // Anything but "Delete All" keeps everything.
    AppPresenter::setAlertAnswerer([this](const Alert& alert) {
        m_alerts.append(alert);
        return 0;
    });
    EXPECT_FALSE(AppCommands::emptyOutputFolder(*m_window, *m_controller));
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].title, QStringLiteral("Really empty output folder?"));
    EXPECT_EQ(m_alerts[0].message, QStringLiteral("Are you sure you want to delete all files and folders from '%1' "
                                                  "?\n\nThis is NOT undoable!")
                                       .arg(out));
    EXPECT_EQ(m_alerts[0].defaultButton, QStringLiteral("Delete All"));
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size(), 5);

    AppPresenter::setAlertAnswerer([this](const Alert& alert) {
        m_alerts.append(alert);
        return 1;
    });
    m_alerts.clear();
    EXPECT_TRUE(AppCommands::emptyOutputFolder(*m_window, *m_controller));
    EXPECT_TRUE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_TRUE(QFileInfo(out).isDir());
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/precious.wav")));
    ASSERT_EQ(m_alerts.size(), 2);
    EXPECT_EQ(m_alerts[1].title, QStringLiteral("The output folder is now empty"));
    EXPECT_EQ(m_alerts[1].message, QStringLiteral("'%1' has been successfully emptied.").arg(out));

    // An empty folder empties fine; a folder that went missing does not.
    EXPECT_TRUE(AppCommands::emptyOutputFolder(*m_window, *m_controller));
    QDir(out).removeRecursively();
    m_alerts.clear();
    EXPECT_FALSE(AppCommands::emptyOutputFolder(*m_window, *m_controller));
    EXPECT_TRUE(m_alerts.isEmpty() || m_alerts.last().title == QStringLiteral("The output folder could not be emptied"));
}

TEST_F(AppCommandsTest, ShowLastLog)
{
    // None kept: the alert offers the preferences' logging tab.
    AppCommands::showLastLog(*m_window, *m_controller);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].title, QStringLiteral("No log file"));
    EXPECT_EQ(m_alerts[0].defaultButton, QStringLiteral("Open Preferences"));
    PreferencesWindow* prefs = PreferencesWindow::shared(m_window.get(), *m_defaults);
    EXPECT_TRUE(prefs->isVisible());
    EXPECT_EQ(prefs->tabView()->currentIndex(), 1);
    AppCommands::unrecognizedFileHandling(*m_window, *m_controller);
    EXPECT_EQ(prefs->tabView()->currentIndex(), 0);

    const QString log = path(QStringLiteral("QuillLog-20260101-120000.qlg"));
    WriteText(log, "Quillmarch log\n");
    m_defaults->setObject(Logger::kLastUsedLogKey, ZuPath(log).dictionary());
    AppCommands::showLastLog(*m_window, *m_controller);
    EXPECT_EQ(m_alerts.size(), 1);
    ASSERT_EQ(m_window->logDocuments().size(), 1);
    EXPECT_EQ(m_window->logDocuments().first()->path(), log);
}

TEST_F(AppCommandsTest, ImportedConversionsAreOneUndoGroupOnTheConversionsTab)
{
    qputenv("QUILLMARCH_DEFAULTS", path(QStringLiteral("defaults.plist")).toUtf8());
    ASSERT_TRUE(legacy_prefs::WritePrefs(path(QStringLiteral("Quillmarch Prefs")).toStdString(),
                                         {{"Old AIFF", legacy_prefs::MakeRecord(FOUR_CHAR_CODE("AIFF"), 44100.0f)},
                                          {"Old WAVE", legacy_prefs::MakeRecord(FOUR_CHAR_CODE("WAVE"), 8000.0f)}},
                                         false));
    const int before = int(m_controller->conversions().size());
    ASSERT_NE(named(QStringLiteral("importConversions")), nullptr);
    named(QStringLiteral("importConversions"))->trigger();  // the alert's default: "Auto Import"

    const QStringList names = m_controller->conversionNames();
    EXPECT_EQ(names.size(), before + 2);
    EXPECT_TRUE(names.contains(QStringLiteral("Old AIFF (imported from Quillmarch 3)")));
    EXPECT_EQ(m_window->findChild<QTabWidget*>()->currentIndex(), 1);
    m_controller->conversionUndoStack()->undo();
    EXPECT_EQ(m_controller->conversions().size(), before);
    qunsetenv("QUILLMARCH_DEFAULTS");
}

// Return, pressed from habit in a question whose default would destroy
// something, answers Cancel: the real message box, the real key.
TEST_F(AppCommandsTest, ReturnInADestructiveQuestionDestroysNothing)
{
    const QString out = path(QStringLiteral("out"));
    QDir().mkpath(out);
    WriteText(out + QStringLiteral("/take.wav"), "data");
    m_controller->setDestFolder(out);
    m_defaults->setBool(QStringLiteral("Easy Thru"), true);
    PreferencesWindow* prefs = PreferencesWindow::shared(m_window.get(), m_controller->defaults());
    auto* reset = prefs->findChild<QPushButton*>(QStringLiteral("factoryDefaultsButton"));
    ASSERT_NE(reset, nullptr);

    const std::vector<std::pair<const char*, std::function<void()>>> questions = {
        {"Really empty output folder?", [&] { AppCommands::emptyOutputFolder(*m_window, *m_controller); }},
        {"Reset the preferences?", [&] { reset->click(); }},
    };
    AppPresenter::setAlertAnswerer({});
    // Every box that opens gets Return once (a box that reports what was
    // done follows a destroying answer).
    QStringList shown;
    QPointer<QMessageBox> pressed;
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box != pressed) {
            pressed = box;
            shown.append(box->text());
            QTest::keyClick(box, Qt::Key_Return);
        }
    });
    press.start(10);
    for (const auto& [title, ask] : questions) {
        shown.clear();
        ask();
        EXPECT_EQ(shown, QStringList{QString::fromLatin1(title)});
    }
    EXPECT_TRUE(QFileInfo::exists(out + QStringLiteral("/take.wav")));
    EXPECT_TRUE(m_defaults->boolForKey(QStringLiteral("Easy Thru")));
}
