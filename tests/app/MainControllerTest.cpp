// The controller's start-up, file adding with undo, sorting and command
// availability, on the real engine and real files; the desktop file's
// types, and quitting in the program's order.
#include "AddFilesErrorsController.h"
#include "AppCommands.h"
#include "AppTestSupport.h"
#include "ConversionList.h"
#include "ConversionProcess.h"
#include "EditorCommands.h"
#include "FileAdder.h"
#include "LogDocument.h"
#include "MainWindow.h"
#include "PeerTools.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QFile>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QMimeData>
#include <QUrl>
#include <QHeaderView>
#include <QTableView>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QFontMetrics>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

class MainControllerTest : public AppTest {};

QVariantMap conversion(const QString& name, bool active)
{
    ConvSpecRef spec = ConvSpec::create();
    spec->setConversionName(name);
    spec->setActive(active);
    return spec->dictionary();
}

} // namespace

TEST_F(MainControllerTest, StartsWithTheFactoryListAndNoOutputFolder)
{
    MainController& controller = startController();
    EXPECT_FALSE(controller.conversions().isEmpty());
    EXPECT_TRUE(controller.destFolder().isEmpty());
    EXPECT_FALSE(controller.destFolderDefined());
    EXPECT_EQ(controller.inputSortColumn(), InputFileModel::FileName);
    EXPECT_TRUE(controller.inputSortAscending());
    EXPECT_EQ(controller.conversionSortColumn(), ConversionTableModel::ConvName);
    ASSERT_NE(controller.conversionProcess(), nullptr);
    EXPECT_FALSE(controller.conversionProcess()->running());
    // The factory list reaches the defaults only when saved.
    EXPECT_TRUE(m_defaults->persistentValues().value(QStringLiteral("Conversions")).isNull());
    controller.saveAtQuit();
    UserDefaults reread(m_defaults->filePath());
    EXPECT_EQ(reread.arrayForKey(QStringLiteral("Conversions")).size(), controller.conversions().size());
    EXPECT_TRUE(m_alerts.isEmpty());
}

TEST_F(MainControllerTest, StartsFromStoredDefaults)
{
    QDir().mkpath(path(QStringLiteral("out")));
    storeDefaults({{QStringLiteral("Conversions"),
                    QVariantList{conversion(QStringLiteral("alpha"), false), conversion(QStringLiteral("Beta"), true)}},
                   {QStringLiteral("Last Used Destination"), path(QStringLiteral("out"))},
                   {QStringLiteral("Input Files Sort Key"), QStringLiteral("size")},
                   {QStringLiteral("Input Files Sort Ascending"), false},
                   {QStringLiteral("ConvSpecs Sort Ascending"), false}});
    MainController& controller = startController();
    ASSERT_EQ(controller.conversions().size(), 2);
    // Sorted by the stored direction at once: descending names.
    EXPECT_EQ(controller.conversions().at(0)->conversionName(), QStringLiteral("Beta"));
    // The batch command takes the stored conversions in the same order.
    QList<ConvSpecRef> loaded;
    QString error;
    ASSERT_TRUE(ConversionList::load(QString(), *m_defaults, &loaded, &error));
    ASSERT_EQ(loaded.size(), 2);
    EXPECT_EQ(loaded.at(0)->conversionName(), QStringLiteral("Beta"));
    EXPECT_EQ(controller.destFolder(), path(QStringLiteral("out")));
    EXPECT_TRUE(controller.destFolderDefined());
    EXPECT_EQ(controller.conversionModel()->summary(), QStringLiteral("1 Active"));

    // The headers show the stored sort too.
    MainWindow window(controller);
    EXPECT_EQ(window.inputTable()->horizontalHeader()->sortIndicatorSection(), InputFileModel::Size);
    EXPECT_EQ(window.inputTable()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(window.conversionTable()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

    // The column layout outlives the window.
    window.inputTable()->horizontalHeader()->resizeSection(InputFileModel::Size, 123);
    window.close();
    MainWindow again(controller);
    EXPECT_EQ(again.inputTable()->horizontalHeader()->sectionSize(InputFileModel::Size), 123);
    EXPECT_EQ(again.inputTable()->horizontalHeader()->sortIndicatorSection(), InputFileModel::Size);
}

TEST_F(MainControllerTest, StoredEmptyListOrMissingFolderFallsBack)
{
    storeDefaults({{QStringLiteral("Conversions"), QVariantList()},
                   {QStringLiteral("Last Used Destination"), path(QStringLiteral("gone"))}});
    MainController& controller = startController();
    EXPECT_GT(controller.conversions().size(), 0);
    EXPECT_TRUE(controller.destFolder().isEmpty());
}

TEST_F(MainControllerTest, AddsFilesFoldersAndSetsWithUndoAndRedo)
{
    QDir().mkpath(path(QStringLiteral("a")));
    QDir().mkpath(path(QStringLiteral("b/inner")));
    WriteWave(path(QStringLiteral("a/take.wav")), 1000);
    WriteWave(path(QStringLiteral("b/take.wav")), 2000);
    WriteWave(path(QStringLiteral("b/inner/x.wav")), 100);
    WriteWave(path(QStringLiteral("Mix.L.wav")), 500);
    WriteWave(path(QStringLiteral("Mix.R.wav")), 500);
    WriteText(path(QStringLiteral("notes.txt")), "not a sound\n");
    WriteText(path(QStringLiteral("broken.wav")), "RIFF\x10\0\0\0WAVEjunk");

    MainController& controller = startController();
    const int added = addAndWait({path(QStringLiteral("a/take.wav")), path(QStringLiteral("b/take.wav")),
                                  path(QStringLiteral("b/inner")), path(QStringLiteral("Mix.L.wav")),
                                  path(QStringLiteral("Mix.R.wav")), path(QStringLiteral("notes.txt")),
                                  path(QStringLiteral("broken.wav"))});
    EXPECT_EQ(added, 3);
    EXPECT_EQ(listedNames(), (QStringList{QStringLiteral("inner"), QStringLiteral("Mix.L.wav"),
                                          QStringLiteral("take.wav")}));
    EXPECT_EQ(controller.inputModel()->summary(), QStringLiteral("Input: 2 Files, 1 Folder"));

    // The second take is a duplicate name; the text and the broken file are
    // not sound files; the right side of the pair is dropped silently.
    AddFilesErrorsController* errors = controller.addFilesErrorsController();
    ASSERT_NE(errors, nullptr);
    ASSERT_EQ(errors->groups().size(), 2);
    EXPECT_EQ(errors->groups().at(0).paths, QStringList{path(QStringLiteral("b/take.wav"))});
    EXPECT_EQ(errors->groups().at(1).paths,
              (QStringList{path(QStringLiteral("notes.txt")), path(QStringLiteral("broken.wav"))}));
    EXPECT_TRUE(controller.validate(AppCommand::ShowLastFileAddingErrors));
    // Shown, each heading fits the window as far as the screen allows (and
    // is whole in its tooltip); renaming is done in the file manager.
    errors->show();
    QApplication::processEvents();
    const QTreeWidget* table = errors->findChild<QTreeWidget*>();
    ASSERT_EQ(table->topLevelItemCount(), 2);
    EXPECT_TRUE(table->topLevelItem(0)->text(0).endsWith(QStringLiteral("in the File Manager, if possible.")));
    for (int group = 0; group < 2; ++group) {
        QTreeWidgetItem* heading = table->topLevelItem(group);
        EXPECT_EQ(heading->toolTip(0), heading->text(0));
        const bool fits = QFontMetrics(heading->font(0)).horizontalAdvance(heading->text(0)) + 6 <=
                          table->visualItemRect(heading).width();
        EXPECT_TRUE(fits || errors->width() >= errors->screen()->availableGeometry().width() * 9 / 10)
            << group << " in a window " << errors->width() << " wide";
    }
    errors->hide();

    // A member of a listed set, added on its own, is dropped without a report.
    EXPECT_EQ(addAndWait({path(QStringLiteral("Mix.R.wav"))}), 0);
    EXPECT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts.at(0).title, QStringLiteral("No Files Added"));

    QUndoStack* undo = controller.inputUndoStack();
    EXPECT_EQ(undo->undoText(), QStringLiteral("Add File(s)"));
    undo->undo();
    EXPECT_EQ(controller.inputModel()->rowCount(), 0);
    EXPECT_FALSE(controller.inputModel()->containsName(QStringLiteral("take.wav")));
    undo->redo();
    EXPECT_EQ(listedNames(), (QStringList{QStringLiteral("inner"), QStringLiteral("Mix.L.wav"),
                                          QStringLiteral("take.wav")}));

    controller.removeFiles({0, 2});
    EXPECT_EQ(listedNames(), QStringList{QStringLiteral("Mix.L.wav")});
    EXPECT_EQ(undo->undoText(), QStringLiteral("Remove File(s)"));
    controller.removeAll();
    EXPECT_EQ(undo->undoText(), QStringLiteral("Remove All Files"));
    undo->undo();
    undo->undo();
    EXPECT_EQ(listedNames(), (QStringList{QStringLiteral("inner"), QStringLiteral("Mix.L.wav"),
                                          QStringLiteral("take.wav")}));
}

TEST_F(MainControllerTest, QuitsCleanlyAfterARefusedFile)
{
    // As the program builds them: the controller, then its window; at the
    // end the window goes first.  A refused text file and an upper-case
    // ".QLG" (not a log to open) leave the "Files Not Added" window over
    // the main window.
    WriteWave(path(QStringLiteral("take.wav")), 100);
    WriteText(path(QStringLiteral("notes.txt")), "not a sound\n");
    WriteText(path(QStringLiteral("OLD.QLG")), "not a log either\n");
    {
        MainController controller(*m_defaults);
        MainWindow window(controller);
        EditorCommands::install(window, controller);
        AppCommands::install(window, controller);
        controller.fileAdder()->setPollInterval(10);
        controller.start();
        QSignalSpy finished(&controller, &MainController::addingFinished);
        controller.openFiles({path(QStringLiteral("take.wav")), path(QStringLiteral("notes.txt")),
                              path(QStringLiteral("OLD.QLG"))});
        ASSERT_TRUE(finished.wait(10000));
        ASSERT_NE(controller.addFilesErrorsController(), nullptr);
        EXPECT_EQ(controller.addFilesErrorsController()->groups().at(0).paths.size(), 2);
    }  // the window and the controller go without a second delete
}

TEST_F(MainControllerTest, QuitEndsTheApplicationWithLogsOpenOnceEditsAreSettled)
{
    // Ctrl+Q in the main window with a log window open (as a batch's end
    // leaves it); the log has edits, so it asks first.
    WriteText(path(QStringLiteral("run.qlg")), "log\n");
    MainController controller(*m_defaults);
    MainWindow window(controller);
    EditorCommands::install(window, controller);
    AppCommands::install(window, controller);
    controller.start();
    window.show();
    window.openLogs({path(QStringLiteral("run.qlg"))});
    ASSERT_EQ(window.logDocuments().size(), 1);
    QPointer<LogDocument> log = window.logDocuments().constFirst();
    log->setText(QStringLiteral("edited"));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    int answer = 0;  // "Cancel": nothing closes
    AppPresenter::setAlertAnswerer([&](const Alert& alert) {
        m_alerts.append(alert);
        return answer;
    });
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(m_alerts.size(), 1);
    EXPECT_TRUE(window.isVisible());
    ASSERT_TRUE(log && log->isVisible());

    answer = -1;  // "Don't Save": the application ends
    EXPECT_EQ(QuitWithCtrlQ(&window), 0);
    EXPECT_EQ(m_alerts.size(), 2);
    EXPECT_FALSE(window.isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(!log || !log->isVisible());
}

TEST_F(MainControllerTest, TheDesktopFileOffersEveryTypeThatIsAdded)
{
    QM_REQUIRE_PEER("ffmpeg");
    const QString folder = QStringLiteral(QM_SOURCE_RESOURCES "/../src/app/desktop/");
    QFile desktop(folder + QStringLiteral("quillmarch.desktop"));
    QFile packaged(folder + QStringLiteral("quillmarch-mime.xml"));  // types the database may lack
    ASSERT_TRUE(desktop.open(QIODevice::ReadOnly | QIODevice::Text) && packaged.open(QIODevice::ReadOnly));
    QStringList offered;
    for (const QByteArray& line : desktop.readAll().split('\n'))
        if (line.startsWith("MimeType="))
            offered = QString::fromUtf8(line.mid(9)).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    const QString ownTypes = QString::fromUtf8(packaged.readAll());
    QStringList paths;
    for (const char* name : {"tone.mp3", "tone.flac", "tone.m4a", "tone.caf"}) {
        paths.append(path(QString::fromLatin1(name)));
        ASSERT_EQ(peers::Run(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"),
                                                        QStringLiteral("-f"), QStringLiteral("lavfi"),
                                                        QStringLiteral("-i"), QStringLiteral("sine=d=0.2"),
                                                        paths.last()})
                      .exitCode,
                  0)
            << name;
    }
    WriteWave(path(QStringLiteral("tone.wav")), 100);
    paths.append(path(QStringLiteral("tone.wav")));
    startController();
    ASSERT_EQ(addAndWait(paths), paths.size()) << "each is read";
    const QMimeDatabase types;
    for (const QString& file : paths) {
        const QMimeType type = types.mimeTypeForFile(file);
        QStringList names = type.aliases();
        names.append(type.name());
        // A type the installed database lacks comes with the application.
        const QRegularExpression own(
            QStringLiteral("<mime-type type=\"([^\"]+)\">(?:(?!</mime-type>).)*<glob pattern=\"\\*\\.%1\"/>")
                .arg(QFileInfo(file).suffix()),
            QRegularExpression::DotMatchesEverythingOption);
        if (const QRegularExpressionMatch match = own.match(ownTypes); match.hasMatch())
            names.append(match.captured(1));
        EXPECT_TRUE(std::any_of(names.begin(), names.end(), [&](const QString& n) { return offered.contains(n); }))
            << file.toStdString() << " is " << type.name().toStdString();
    }
}

TEST_F(MainControllerTest, InputColumnsShowTheirWholeText)
{
    QM_REQUIRE_PEER("ffmpeg");
    const QString mp3 = path(QStringLiteral("tone.mp3"));
    ASSERT_EQ(peers::Run(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                                                    QStringLiteral("lavfi"), QStringLiteral("-i"),
                                                    QStringLiteral("sine=d=0.2"), mp3})
                  .exitCode,
              0);
    WriteWave(path(QStringLiteral("take.wav")), 100);
    MainController& controller = startController();
    MainWindow window(controller);
    window.show();
    ASSERT_EQ(addAndWait({mp3, path(QStringLiteral("take.wav"))}), 2);
    // Every column but the name (elided in its middle) is as wide as what it
    // shows, the last (the room left) too once the list scrolls.
    const QAbstractItemView* view = window.inputTable();
    const QHeaderView* header = window.inputTable()->horizontalHeader();
    const auto wholeText = [&](const char* when) {
        QApplication::processEvents();
        for (int column = InputFileModel::Size; column <= InputFileModel::Timestamps; ++column)
            EXPECT_GE(header->sectionSize(column),
                      std::max(view->sizeHintForColumn(column), header->sectionSizeHint(column)))
                << InputFileModel::columnIdentifier(column).toStdString() << " " << when;
    };
    wholeText("with two files");
    QStringList more;
    for (int i = 0; i < 60; ++i) {
        more.append(path(QStringLiteral("more%1.wav").arg(i)));
        WriteWave(more.last(), 100);
    }
    ASSERT_EQ(addAndWait(more), 60);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.inputTable()->verticalScrollBar()->isVisible(); }));
    wholeText("with a scroll bar");
    window.resize(4 * window.width(), window.height());
    wholeText("in a wide window");
    EXPECT_EQ(header->sectionViewportPosition(InputFileModel::Timestamps) + header->sectionSize(InputFileModel::Timestamps),
              window.inputTable()->viewport()->width())
        << "the last column takes the room left";
}

// Two long names that differ only at their end look different in a narrow
// column (cut in the middle), and the tooltip gives each whole.
TEST_F(MainControllerTest, DuplicatesWithLongNamesLookDifferent)
{
    const QString name = QStringLiteral("Broadcast master 48 kHz 24 bit with fades and normalising copy %1");
    MainController& controller = startWithConversions({name.arg(1), name.arg(2)});
    MainWindow window(controller);
    window.resize(700, 500);
    window.show();
    window.showConversions();
    window.conversionTable()->setColumnWidth(ConversionTableModel::ConvName, 250);
    QApplication::processEvents();
    QTableView* table = window.conversionTable();
    auto ink = [table](int row) {
        const QModelIndex index = table->model()->index(row, ConversionTableModel::ConvName);
        const QImage cell = table->viewport()->grab(table->visualRect(index)).toImage();
        QImage mask(cell.size(), QImage::Format_Mono);
        for (int y = 0; y < cell.height(); ++y)
            for (int x = 0; x < cell.width(); ++x)
                mask.setPixel(x, y, QColor(cell.pixel(x, y)).lightness() < 128 ? 1 : 0);
        return mask;
    };
    EXPECT_NE(ink(0), ink(1));
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(table->model()->index(row, ConversionTableModel::ConvName).data(Qt::ToolTipRole).toString(),
                  name.arg(row + 1));
}

// At first launch Start is greyed and says why: no inputs, no output folder.
TEST_F(MainControllerTest, AGreyedStartSaysWhatIsMissing)
{
    MainController& controller = startController();
    MainWindow window(controller);
    window.show();
    ASSERT_FALSE(window.startButton()->isEnabled());
    const QString tip = window.startButton()->toolTip();
    EXPECT_TRUE(tip.contains(QStringLiteral("input list is empty"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("no output folder"))) << tip.toStdString();
    WriteWave(path(QStringLiteral("take.wav")), 100);
    ASSERT_EQ(addAndWait({path(QStringLiteral("take.wav"))}), 1);
    controller.setDestFolder(m_dir.qpath());
    QApplication::processEvents();
    EXPECT_TRUE(window.startButton()->isEnabled());
    EXPECT_TRUE(window.startButton()->toolTip().isEmpty());
}

TEST_F(MainControllerTest, FilesDroppedOnTheListAreAdded)
{
    WriteWave(path(QStringLiteral("dropped.wav")), 100);
    MainController& controller = startController();
    QSignalSpy finished(&controller, &MainController::addingFinished);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path(QStringLiteral("dropped.wav"))), QUrl(QStringLiteral("https://x/y.wav"))});
    InputFileModel* model = controller.inputModel();
    QMimeData empty;
    EXPECT_FALSE(model->canDropMimeData(&empty, Qt::CopyAction, -1, -1, QModelIndex()));
    ASSERT_TRUE(model->dropMimeData(&data, Qt::CopyAction, 0, 0, QModelIndex()));
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(listedNames(), QStringList{QStringLiteral("dropped.wav")});
}

TEST_F(MainControllerTest, RawModeAddsUnrecognizedFiles)
{
    storeDefaults({{QStringLiteral("Unrecognized Input File Action"), 2}});
    WriteText(path(QStringLiteral("notes.txt")), "plain text\n");
    MainController& controller = startController();
    EXPECT_EQ(addAndWait({path(QStringLiteral("notes.txt"))}), 1);
    EXPECT_FALSE(controller.inputModel()->fileAt(0)->descriptor().isEmpty());
    EXPECT_EQ(controller.addFilesErrorsController(), nullptr);
}

TEST_F(MainControllerTest, SecondAddWaitsForTheFirst)
{
    for (int i = 0; i < 6; ++i)
        WriteWave(path(QStringLiteral("f%1.wav").arg(i)), 200);
    MainController& controller = startController();
    QSignalSpy finished(&controller, &MainController::addingFinished);
    controller.setFilesToAdd({path(QStringLiteral("f0.wav")), path(QStringLiteral("f1.wav")),
                              path(QStringLiteral("f2.wav"))});
    controller.setFilesToAdd({path(QStringLiteral("f3.wav")), path(QStringLiteral("f4.wav")),
                              path(QStringLiteral("f2.wav"))});
    EXPECT_TRUE(controller.isAddingFiles());
    EXPECT_FALSE(controller.validate(AppCommand::Start));
    while (finished.size() < 2)
        ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(finished.at(0).at(0).toInt(), 3);
    EXPECT_EQ(finished.at(1).at(0).toInt(), 2);
    EXPECT_FALSE(controller.isAddingFiles());
    EXPECT_EQ(controller.inputModel()->rowCount(), 5);
    // Each add is one undo step.
    controller.inputUndoStack()->undo();
    EXPECT_EQ(controller.inputModel()->rowCount(), 3);
}

TEST_F(MainControllerTest, SortsByEveryColumnAndRemembersIt)
{
    WriteWave(path(QStringLiteral("b.wav")), 5000, 8000, 2, 8);
    WriteWave(path(QStringLiteral("a.wav")), 1000, 44100, 1, 16);
    WriteWave(path(QStringLiteral("c.wav")), 3000, 22050, 1, 24);
    MainController& controller = startController();
    ASSERT_EQ(addAndWait({path(QStringLiteral("b.wav")), path(QStringLiteral("a.wav")),
                          path(QStringLiteral("c.wav"))}),
              3);
    EXPECT_EQ(listedNames(), (QStringList{QStringLiteral("a.wav"), QStringLiteral("b.wav"), QStringLiteral("c.wav")}));

    struct Expected {
        int column;
        QStringList ascending;  // empty: only checked to be in compare order
    };
    const QList<Expected> cases = {
        {InputFileModel::Size, {"a.wav", "c.wav", "b.wav"}},
        {InputFileModel::SampleRate, {"b.wav", "c.wav", "a.wav"}},
        {InputFileModel::Channels, {}},
        {InputFileModel::Bits, {"b.wav", "a.wav", "c.wav"}},
        {InputFileModel::Length, {"a.wav", "c.wav", "b.wav"}},
        {InputFileModel::FileType, {}},
        {InputFileModel::Regions, {}},
        {InputFileModel::Timestamps, {}},
        {InputFileModel::FileName, {"a.wav", "b.wav", "c.wav"}},
    };
    for (const Expected& expected : cases) {
        SCOPED_TRACE(InputFileModel::columnIdentifier(expected.column).toStdString());
        controller.inputHeaderClicked(expected.column);
        EXPECT_EQ(m_defaults->stringForKey(QStringLiteral("Input Files Sort Key")),
                  InputFileModel::columnIdentifier(expected.column));
        const bool ascending = controller.inputSortAscending();
        const QList<ZuSoundFileRef>& files = controller.inputModel()->files();
        for (int i = 1; i < files.size(); ++i)
            EXPECT_LE(files.at(i - 1)->compare(files.at(i).get()), 0);
        if (!expected.ascending.isEmpty()) {
            QStringList want = expected.ascending;
            if (!ascending)
                std::reverse(want.begin(), want.end());
            EXPECT_EQ(listedNames(), want);
        }
        // The same column again reverses the direction.
        controller.inputHeaderClicked(expected.column);
        EXPECT_NE(controller.inputSortAscending(), ascending);
        if (!expected.ascending.isEmpty()) {
            QStringList want = expected.ascending;
            if (ascending)
                std::reverse(want.begin(), want.end());
            EXPECT_EQ(listedNames(), want);
        }
    }
    // The loudspeaker column does not sort.
    controller.inputHeaderClicked(InputFileModel::Playable);
    EXPECT_EQ(m_defaults->stringForKey(QStringLiteral("Input Files Sort Key")), QStringLiteral("filename"));
}

TEST_F(MainControllerTest, CommandsAreAvailableOnlyWhenTheyCanRun)
{
    QDir().mkpath(path(QStringLiteral("out")));
    WriteWave(path(QStringLiteral("one.wav")), 100);
    storeDefaults({{QStringLiteral("Conversions"), QVariantList{conversion(QStringLiteral("Only"), false)}}});
    MainController& controller = startController();

    // Nothing listed, no folder, no active conversion.
    EXPECT_FALSE(controller.validate(AppCommand::Start));
    EXPECT_FALSE(controller.validate(AppCommand::RemoveAll));
    EXPECT_FALSE(controller.validate(AppCommand::ShowDestInFinder));
    EXPECT_FALSE(controller.validate(AppCommand::EmptyOutputFolder));
    EXPECT_FALSE(controller.validate(AppCommand::ShowLastFileAddingErrors));
    EXPECT_FALSE(controller.validate(AppCommand::PlayFile));
    EXPECT_FALSE(controller.validate(AppCommand::StopFile));
    EXPECT_TRUE(controller.validate(AppCommand::AddFiles));

    ASSERT_EQ(addAndWait({path(QStringLiteral("one.wav"))}), 1);
    EXPECT_TRUE(controller.validate(AppCommand::RemoveAll));
    controller.setDestFolder(path(QStringLiteral("out")));
    EXPECT_TRUE(controller.validate(AppCommand::ShowDestInFinder));
    EXPECT_FALSE(controller.validate(AppCommand::Start));  // no active conversion
    controller.conversions().at(0)->setActive(true);
    EXPECT_TRUE(controller.validate(AppCommand::Start));
    controller.conversions().at(0)->setValid(false);
    EXPECT_FALSE(controller.validate(AppCommand::Start));  // active but cannot run
    controller.conversions().at(0)->setValid(true);

    // Selections and tabs.
    controller.setViewState(MainTab::Input, 1, 0);
    EXPECT_TRUE(controller.validate(AppCommand::Delete));
    EXPECT_TRUE(controller.validate(AppCommand::PlayFile));
    EXPECT_FALSE(controller.validate(AppCommand::EditConversion));
    controller.setViewState(MainTab::Conversions, 1, 2);
    EXPECT_TRUE(controller.validate(AppCommand::Delete));
    EXPECT_FALSE(controller.validate(AppCommand::EditConversion));
    EXPECT_TRUE(controller.validate(AppCommand::DuplicateConversion));
    controller.setViewState(MainTab::Conversions, 0, 1);
    EXPECT_TRUE(controller.validate(AppCommand::EditConversion));
    controller.setViewState(MainTab::Output, 1, 1);
    EXPECT_FALSE(controller.validate(AppCommand::Delete));

    // A folder deleted since it was chosen: still shown, Start unavailable.
    QDir(path(QStringLiteral("out"))).removeRecursively();
    EXPECT_FALSE(controller.validate(AppCommand::Start));
    EXPECT_EQ(controller.destFolder(), path(QStringLiteral("out")));

    // The window's Start button follows.
    QDir().mkpath(path(QStringLiteral("out")));
    MainWindow window(controller);
    window.updateCommands();
    EXPECT_TRUE(window.startButton()->isEnabled());
    controller.removeAll();
    EXPECT_FALSE(window.startButton()->isEnabled());
}
