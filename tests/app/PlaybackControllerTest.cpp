// The main window's player controls with a sound output paced by the clock
// (no device needed): play and stop from the button and Space, the
// loudspeaker on the player's row and a double click, the ends of the list
// (by hand and with automatic next), Start held back while a file plays,
// the check boxes kept in step with the preferences, the remembered speed,
// and a machine without a sound device (one alert, then the controls say why).
#include "AppTestSupport.h"
#include "AudioOutput.h"
#include "ElidingLabel.h"
#include "InputFileModel.h"
#include "MainWindow.h"
#include "NotificationCenter.h"
#include "NullAudioOutput.h"
#include "PlaybackController.h"
#include "Player.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTableView>
#include <QTest>
#include <QTimer>

namespace {

class PlaybackControllerTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        AudioOutput::SetFactory([this] { return std::make_unique<NullAudioOutput>(44100.0, speed, 256); });
    }
    void TearDown() override
    {
        window.reset();
        AudioOutput::SetFactory(nullptr);
        AppTest::TearDown();
    }
    // A window over `files` (frames each) added to the input list.
    PlaybackController& Open(const QStringList& names, int frames)
    {
        startController();
        QStringList paths;
        for (const QString& name : names) {
            WriteWave(path(name), frames);
            paths << path(name);
        }
        EXPECT_EQ(addAndWait(paths), names.size());
        window = std::make_unique<MainWindow>(*m_controller);
        return *window->playback();
    }
    void SelectRow(int row) { window->inputTable()->selectRow(row); }

    // Faster than real time for the test that waits for the end of the
    // list; real time where no file may end during the test.
    double speed = 1.0;
    std::unique_ptr<MainWindow> window;
};

TEST_F(PlaybackControllerTest, PlayStopAndSpaceFollowThePlayer)
{
    PlaybackController& p = Open({"a.wav", "b.wav"}, 441000);
    EXPECT_FALSE(p.playButton()->isEnabled()) << "no player and no selection";
    SelectRow(1);
    ASSERT_TRUE(p.playButton()->isEnabled());
    p.playButton()->click();
    ASSERT_NE(p.player(), nullptr);
    EXPECT_TRUE(p.player()->isPlaying());
    EXPECT_TRUE(p.showsStopFace());
    EXPECT_EQ(p.playingLine()->text(), QStringLiteral("Playing: ") + path(QStringLiteral("b.wav")));
    // Too narrow for the path: cut in its middle, whole in the tooltip.
    EXPECT_EQ(p.playingLine()->toolTip(), path(QStringLiteral("b.wav")));
    p.playingLine()->resize(140, p.playingLine()->height());
    const QString shown = p.playingLine()->displayedText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Pla")) && shown.contains(QChar(0x2026)) &&
                shown.endsWith(QStringLiteral("b.wav")))
        << shown.toStdString();
    EXPECT_TRUE(p.button(AppCommand::PlayPreviousFromInputList)->isEnabled());
    EXPECT_FALSE(p.button(AppCommand::PlayNextFromFolder)->isEnabled()) << "not playing a folder";

    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window->inputTable(), Qt::Key_Space);  // stop
    EXPECT_FALSE(p.player()->isPlaying());
    EXPECT_FALSE(p.showsStopFace());
    EXPECT_TRUE(p.playingLine()->text().isEmpty());
    p.togglePlay();  // the same file again, from its beginning
    EXPECT_TRUE(p.player()->isPlaying());
    EXPECT_EQ(p.player()->playingFile()->path(), path(QStringLiteral("b.wav")));
    p.playPreviousFromInputList();
    EXPECT_EQ(p.player()->playingFile()->path(), path(QStringLiteral("a.wav")));
}

TEST_F(PlaybackControllerTest, TheLoudspeakerMarksThePlayersRowAndADoubleClickPlays)
{
    PlaybackController& p = Open({"a.wav", "b.wav"}, 441000);
    InputFileModel* model = m_controller->inputModel();
    auto image = [model](int row) {
        return model->data(model->index(row, InputFileModel::Playable), Qt::DecorationRole)
            .value<QPixmap>()
            .toImage()
            .convertToFormat(QImage::Format_ARGB32);
    };
    const QImage playing = QPixmap(QStringLiteral(QM_SOURCE_RESOURCES "/images/loudspeaker-small.png"))
                               .toImage()
                               .convertToFormat(QImage::Format_ARGB32);
    const QImage muted = QPixmap(QStringLiteral(QM_SOURCE_RESOURCES "/images/loudspeaker-small-muted.png"))
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(playing.isNull() || muted.isNull());
    EXPECT_EQ(model->headerData(InputFileModel::Playable, Qt::Horizontal, Qt::DecorationRole)
                  .value<QPixmap>()
                  .toImage()
                  .convertToFormat(QImage::Format_ARGB32),
              playing);
    // Before there is a player: the first row, silent.
    EXPECT_EQ(image(0), muted);
    EXPECT_TRUE(image(1).isNull());

    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTableView* table = window->inputTable();
    const QPoint second = table->visualRect(model->index(1, InputFileModel::FileName)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, second);
    ASSERT_NE(p.player(), nullptr);
    EXPECT_TRUE(p.player()->isPlaying());
    EXPECT_EQ(p.player()->playingFile()->path(), path(QStringLiteral("b.wav")));
    EXPECT_TRUE(image(0).isNull());
    EXPECT_EQ(image(1), playing);
    p.stopFile();
    EXPECT_EQ(image(1), muted);
}

TEST_F(PlaybackControllerTest, NextAtTheEndOfTheListStopsTheSound)
{
    PlaybackController& p = Open({"a.wav", "b.wav"}, 441000);
    SelectRow(1);
    p.playFile();
    ASSERT_TRUE(p.player()->isPlaying());
    p.playNextFromInputList();
    EXPECT_FALSE(p.player()->isPlaying()) << "the stop notice and the sound agree";
    EXPECT_FALSE(p.showsStopFace());
    p.playButton()->click();  // plays again (the last file)
    EXPECT_TRUE(p.player()->isPlaying());
    SelectRow(0);
    p.playFile();
    p.playPreviousFromInputList();
    EXPECT_FALSE(p.player()->isPlaying());
}

TEST_F(PlaybackControllerTest, StartAndTheScriptingCommandWaitWhileAFilePlays)
{
    QDir().mkpath(path(QStringLiteral("out")));
    ConvSpecRef copy = ConvSpec::create();
    copy->setConversionName(QStringLiteral("Copy"));
    copy->setActive(true);
    storeDefaults({{QStringLiteral("Conversions"), QVariantList{copy->dictionary()}},
                   {QStringLiteral("Last Used Destination"), path(QStringLiteral("out"))}});
    PlaybackController& p = Open({"a.wav"}, 441000);
    EXPECT_TRUE(m_controller->validate(AppCommand::Start));
    SelectRow(0);
    p.playFile();
    ASSERT_TRUE(p.player()->isPlaying());
    EXPECT_FALSE(m_controller->validate(AppCommand::Start));
    EXPECT_FALSE(window->startButton()->isEnabled());
    QSignalSpy handled(m_controller.get(), &MainController::scriptCommandHandled);
    m_controller->asConvert();
    ASSERT_EQ(handled.size(), 1);
    EXPECT_FALSE(handled.at(0).at(0).toBool());
    EXPECT_TRUE(handled.at(0).at(1).toString().contains(QStringLiteral("a file is playing")));
    EXPECT_FALSE(m_controller->batchRunning());
    p.stopFile();
    EXPECT_TRUE(m_controller->validate(AppCommand::Start));
    EXPECT_TRUE(window->startButton()->isEnabled());
}

TEST_F(PlaybackControllerTest, EndOfTheListWithAutoPlayReturnsToThePlayFace)
{
    speed = 50.0;
    storeDefaults({{QStringLiteral("Auto Play Next"), true}, {QStringLiteral("Blip At End"), false}});
    PlaybackController& p = Open({"a.wav", "b.wav"}, 2205);
    SelectRow(0);
    p.playFile();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.player()->playingFile()->path().endsWith("b.wav")
                                             && !p.player()->isPlaying() && !p.showsStopFace(); }, 10000));
    EXPECT_TRUE(p.playingLine()->text().isEmpty());
    EXPECT_TRUE(p.playButton()->isEnabled());
}

TEST_F(PlaybackControllerTest, CheckBoxesAndSpeedFollowThePreferences)
{
    PlaybackController& p = Open({"a.wav"}, 441000);
    SelectRow(0);
    p.playFile();
    // Another window (the preferences) changes "Blip At End".
    m_defaults->setBool(QStringLiteral("Blip At End"), true);
    int dummy = 0;
    NotificationCenter::defaultCenter().postNotification(PlaybackController::kBlipAtEndChanged, QVariant(), &dummy);
    EXPECT_TRUE(p.blipCheckBox()->isChecked());
    EXPECT_TRUE(p.player()->blipAtEnd());
    // The window's own box: stored and announced, the player follows.
    int seen = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        PlaybackController::kAutoPlayNextChanged, nullptr, [&](const Notification&) { ++seen; });
    p.autoPlayCheckBox()->setChecked(!p.autoPlayCheckBox()->isChecked());
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(m_defaults->boolForKey(QStringLiteral("Auto Play Next")), p.autoPlayCheckBox()->isChecked());
    EXPECT_EQ(p.player()->autoPlayNext(), p.autoPlayCheckBox()->isChecked());

    p.speedSlider()->setValue(150);
    EXPECT_EQ(p.speedField()->text(), QStringLiteral("1.50"));
    // Shown, not typed into: it takes no focus and shows no caret.
    EXPECT_EQ(p.speedField()->focusPolicy(), Qt::NoFocus);
    EXPECT_FLOAT_EQ(p.player()->varispeed(), 1.5f);
    EXPECT_DOUBLE_EQ(m_defaults->doubleForKey(QStringLiteral("Varispeed")), 1.5);
    p.resetVariSpeed();
    EXPECT_EQ(p.speedSlider()->value(), 100);
    EXPECT_DOUBLE_EQ(m_defaults->doubleForKey(QStringLiteral("Varispeed")), 1.0);
}

TEST_F(PlaybackControllerTest, SettingsComeFromTheDefaultsRegisteredAtStartUp)
{
    // The program makes its window before the start-up registers the defaults.
    m_controller = std::make_unique<MainController>(*m_defaults);
    window = std::make_unique<MainWindow>(*m_controller);
    m_controller->start();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->playback()->autoPlayCheckBox()->isChecked()) << "\"Auto Play Next\" is registered YES";
    EXPECT_FALSE(window->playback()->blipCheckBox()->isChecked());
    EXPECT_EQ(window->playback()->speedSlider()->value(), 100);
    EXPECT_FALSE(m_defaults->hasPendingChanges()) << "reading the settings writes nothing";
}

TEST_F(PlaybackControllerTest, WithoutASoundDeviceOneReadableAlertThenTheControlsSayWhy)
{
    AudioOutput::SetFactory([] { return std::unique_ptr<AudioOutput>(); });
    PlaybackController& p = Open({"a.wav", "b.wav"}, 4410);
    p.resetVariSpeed();  // no player yet: the speed is still stored
    EXPECT_DOUBLE_EQ(m_defaults->doubleForKey(QStringLiteral("Varispeed")), 1.0);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    SelectRow(0);

    // The first press, through the real presenter: the box is wide enough
    // for the title its title bar shows (the application's name after it,
    // the window's buttons beside it).
    AppPresenter::setAlertAnswerer({});
    QStringList shown;
    int width = 0, needed = 0;
    QTimer::singleShot(0, window.get(), [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        shown << box->windowTitle() << box->informativeText();
        const QString bar = box->windowTitle() + QString::fromUtf8(" \u2014 ") + QGuiApplication::applicationDisplayName();
        needed = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(bar) + 96;
        width = box->width();
        box->defaultButton()->click();
    });
    // The user's alert says it all: no developer's trace line on stderr.
    testing::internal::CaptureStderr();
    p.playFile();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("exception thrown"), std::string::npos) << err;
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[0], QStringLiteral("Cannot Play"));
    EXPECT_TRUE(shown[1].startsWith(QStringLiteral("No sound output device")));
    EXPECT_GE(width, needed);

    // From then on playback shows itself unavailable, and nothing asks again.
    AppPresenter::setAlertAnswerer([this](const Alert& alert) {
        m_alerts.append(alert);
        return 1;
    });
    EXPECT_EQ(p.unavailableReason(), shown[1]);
    EXPECT_EQ(p.playingLine()->text(), QStringLiteral("No sound output device"));
    EXPECT_EQ(p.playingLine()->toolTip(), p.unavailableReason());
    for (QWidget* control : {static_cast<QWidget*>(p.playButton()), static_cast<QWidget*>(p.speedSlider()),
                             static_cast<QWidget*>(p.blipCheckBox()),
                             static_cast<QWidget*>(p.button(AppCommand::PlayNextFromInputList))}) {
        EXPECT_FALSE(control->isEnabled());
        EXPECT_EQ(control->toolTip(), p.unavailableReason());
    }
    SelectRow(1);
    EXPECT_FALSE(p.playButton()->isEnabled()) << "another selection does not bring Play back";
    QTest::keyClick(window->inputTable(), Qt::Key_Space);
    const QModelIndex second = m_controller->inputModel()->index(1, InputFileModel::FileName);
    QTest::mouseDClick(window->inputTable()->viewport(), Qt::LeftButton, {},
                       window->inputTable()->visualRect(second).center());
    EXPECT_TRUE(m_alerts.isEmpty());
    EXPECT_FALSE(p.showsStopFace());
    EXPECT_FALSE(p.player() && p.player()->isPlaying());
}

}  // namespace
