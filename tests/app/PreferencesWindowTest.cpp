// The preferences window: each control writes its default at once, the
// raw-file controls map to type, byte order, word size, channels and rate,
// and what they describe reaches the sound-file layer and a headerless
// read.
#include "AppTestSupport.h"
#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "PreferencesWindow.h"
#include "RawFileSettings.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QStandardItemModel>

namespace {

class PreferencesWindowTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        EngineStartup::registerDefaults(*m_defaults);
    }
    void TearDown() override
    {
        m_window.reset();
        m_defaults->removeObject(QStringLiteral("Unrecognized Input File Action"));
        EngineStartup::syncRawSettings(*m_defaults);
        AppTest::TearDown();
    }
    PreferencesWindow& window()
    {
        if (!m_window)
            m_window = std::make_unique<PreferencesWindow>(*m_defaults);
        return *m_window;
    }
    bool rateItemEnabled(int tag)
    {
        QComboBox* popup = window().sampleRatePopup();
        auto* model = qobject_cast<QStandardItemModel*>(popup->model());
        return model->item(popup->findData(tag))->isEnabled();
    }
    QString storedType() const { return m_defaults->stringForKey(QStringLiteral("Unrecognized Input File Type")); }

    std::unique_ptr<PreferencesWindow> m_window;
};

TEST_F(PreferencesWindowTest, EveryCheckBoxWritesItsDefault)
{
    const QStringList keys = {
        QStringLiteral("Ignore Regions Containing Whole File"), QStringLiteral("Recognize number files as split"),
        QStringLiteral("Process File If No Regions"), QStringLiteral("Easy Thru"), QStringLiteral("Save Log"),
        QStringLiteral("Only Save When Errors"), QStringLiteral("Open Log"), QStringLiteral("Only Open When Errors"),
        QStringLiteral("Beep When Done"), QStringLiteral("Full Paths Into Log"), QStringLiteral("Blip At End"),
        QStringLiteral("Auto Play Next"), QStringLiteral("Preserve Finder Comments"),
        QStringLiteral("Number Duplicate Files")};
    for (const QString& key : keys) {
        QCheckBox* box = window().checkBox(key);
        ASSERT_NE(box, nullptr) << key.toStdString();
        const bool before = m_defaults->boolForKey(key);
        EXPECT_EQ(box->isChecked(), before) << key.toStdString();
        box->setEnabled(true);
        box->click();
        EXPECT_EQ(m_defaults->boolForKey(key), !before) << key.toStdString();
        box->click();
    }
    window().badRegionRadioGroup()->button(1)->click();
    EXPECT_EQ(m_defaults->integerForKey(QStringLiteral("Skip Bad Region")), 1);

    // The log boxes depend on each other.
    window().checkBox(QStringLiteral("Save Log"))->click();
    EXPECT_FALSE(window().checkBox(QStringLiteral("Open Log"))->isEnabled());
    EXPECT_FALSE(window().checkBox(QStringLiteral("Only Open When Errors"))->isEnabled());
    window().checkBox(QStringLiteral("Save Log"))->click();
    EXPECT_TRUE(window().checkBox(QStringLiteral("Only Open When Errors"))->isEnabled());
}

TEST_F(PreferencesWindowTest, RawTypeAndRateMapToTheirSettings)
{
    window().chooseRawType(5);
    EXPECT_EQ(storedType(), QStringLiteral("'DULW'"));
    EXPECT_TRUE(m_defaults->boolForKey(QStringLiteral("Unrecognized Input File Big Endian")));
    EXPECT_EQ(m_defaults->integerForKey(QStringLiteral("Unrecognized Input File Word Size")), 16);
    EXPECT_EQ(m_defaults->integerForKey(QStringLiteral("QMUnrecognizedFileNumChannels")), 1);
    EXPECT_EQ(window().channelTextField()->value(), 1);
    // A telephony type is read at 8000 Hz: shown, stored and pushed.
    EXPECT_EQ(window().sampleRatePopup()->currentData().toInt(), 17);
    EXPECT_EQ(m_defaults->doubleForKey(QStringLiteral("Unrecognized Input File Sample Rate")), 8000.0);
    EXPECT_EQ(RawFileSettings::SampleRate(), 8000.0);
    EXPECT_EQ(RawFileSettings::FileType(), OSType('DULW'));
    EXPECT_TRUE(rateItemEnabled(17));
    EXPECT_FALSE(rateItemEnabled(18));
    EXPECT_FALSE(rateItemEnabled(6));
    window().chooseRawType(4);
    EXPECT_TRUE(rateItemEnabled(18));
    window().chooseRawRate(18);
    EXPECT_EQ(RawFileSettings::SampleRate(), 6000.0);

    window().chooseRawType(0);
    EXPECT_TRUE(rateItemEnabled(6));
    window().chooseRawRate(5);
    EXPECT_EQ(m_defaults->doubleForKey(QStringLiteral("Unrecognized Input File Sample Rate")), double(47952.1f));
    // The G.72x items cannot be chosen.
    auto* types = qobject_cast<QStandardItemModel*>(window().fileTypePopup()->model());
    EXPECT_FALSE(types->item(7)->isEnabled());
    EXPECT_TRUE(types->item(14)->isEnabled());

    // The stored setting selects its item; an unknown one is replaced.
    m_window.reset();
    m_defaults->setString(QStringLiteral("Unrecognized Input File Type"), QStringLiteral("'DPCM'"));
    m_defaults->setBool(QStringLiteral("Unrecognized Input File Big Endian"), false);
    m_defaults->setInteger(QStringLiteral("Unrecognized Input File Word Size"), 24);
    m_defaults->setDouble(QStringLiteral("Unrecognized Input File Sample Rate"), 44100.4);
    EXPECT_EQ(window().fileTypePopup()->currentData().toInt(), 17);
    EXPECT_EQ(window().sampleRatePopup()->currentData().toInt(), 6);
    m_window.reset();
    m_defaults->setInteger(QStringLiteral("Unrecognized Input File Word Size"), 12);
    m_defaults->setDouble(QStringLiteral("Unrecognized Input File Sample Rate"), 44100.5);
    EXPECT_EQ(window().fileTypePopup()->currentData().toInt(), 0);
    EXPECT_EQ(m_defaults->integerForKey(QStringLiteral("Unrecognized Input File Word Size")), 16);
    EXPECT_TRUE(m_defaults->boolForKey(QStringLiteral("Unrecognized Input File Big Endian")));
    EXPECT_EQ(window().sampleRatePopup()->currentIndex(), 0); // nothing matched
}

TEST_F(PreferencesWindowTest, ChannelsAreOneToSixtyFourAndWaitForTheNextPush)
{
    window().chooseAction(2);
    window().channelTextField()->setValue(6);
    EXPECT_EQ(m_defaults->integerForKey(QStringLiteral("QMUnrecognizedFileNumChannels")), 6);
    EXPECT_EQ(RawFileSettings::NumChannels(), 1u);
    window().chooseRawRate(12);
    EXPECT_EQ(RawFileSettings::NumChannels(), 6u);
    window().channelTextField()->setValue(500);
    EXPECT_EQ(window().channelTextField()->value(), 64);
    window().channelTextField()->setValue(0);
    EXPECT_EQ(window().channelTextField()->value(), 1);
    // At start-up too, a telephony type is read at the rate it has.
    m_defaults->setString(QStringLiteral("Unrecognized Input File Type"), QStringLiteral("'DULW'"));
    m_defaults->setDouble(QStringLiteral("Unrecognized Input File Sample Rate"), 44100.0);
    EngineStartup::syncRawSettings(*m_defaults);
    EXPECT_EQ(RawFileSettings::SampleRate(), 8000.0);
    // A stored count out of range never reaches the sound-file layer.
    m_defaults->setInteger(QStringLiteral("QMUnrecognizedFileNumChannels"), 1000);
    EngineStartup::syncRawSettings(*m_defaults);
    EXPECT_EQ(RawFileSettings::NumChannels(), 64u);
}

TEST_F(PreferencesWindowTest, TheActionEnablesTheRawControls)
{
    window().chooseAction(0);
    EXPECT_FALSE(window().fileTypePopup()->isEnabled());
    EXPECT_FALSE(window().sampleRatePopup()->isEnabled());
    EXPECT_FALSE(window().channelTextField()->isEnabled());
    window().chooseAction(2);
    EXPECT_TRUE(window().fileTypePopup()->isEnabled());
    EXPECT_EQ(m_defaults->integerForKey(QStringLiteral("Unrecognized Input File Action")), 2);
    EXPECT_EQ(RawFileSettings::Action(), 2);
}

TEST_F(PreferencesWindowTest, FactoryDefaultsKeepTheChannelCountAndTellThePlayer)
{
    int blips = 0;
    int autoPlays = 0;
    auto& center = NotificationCenter::defaultCenter();
    const auto a = center.addObserver(QStringLiteral("QMBlipAtEndChanged"), nullptr, [&](const Notification&) { ++blips; });
    const auto b =
        center.addObserver(QStringLiteral("QMAutoPlayNextChanged"), nullptr, [&](const Notification&) { ++autoPlays; });
    window().chooseRawType(17);
    window().channelTextField()->setValue(4);
    // The box says what the setting does: an existing output subfolder is
    // used without the question (nothing is copied).
    EXPECT_TRUE(window().checkBox(QStringLiteral("Easy Thru"))->text().contains(QStringLiteral("without asking")));
    window().checkBox(QStringLiteral("Easy Thru"))->click();
    blips = autoPlays = 0;
    window().doFactoryDefaults();
    EXPECT_EQ(blips, 1);
    EXPECT_EQ(autoPlays, 1);
    EXPECT_TRUE(m_defaults->boolForKey(QStringLiteral("Easy Thru")));
    EXPECT_EQ(storedType(), QStringLiteral("'DPCM'"));
    EXPECT_EQ(window().fileTypePopup()->currentData().toInt(), 0);
    EXPECT_EQ(m_defaults->integerForKey(QStringLiteral("QMUnrecognizedFileNumChannels")), 4);
    center.removeObserver(a);
    center.removeObserver(b);

    // Another window's switch is followed.
    m_defaults->setBool(QStringLiteral("Blip At End"), true);
    center.postNotification(QStringLiteral("QMBlipAtEndChanged"));
    EXPECT_TRUE(window().checkBox(QStringLiteral("Blip At End"))->isChecked());
}

TEST_F(PreferencesWindowTest, ReturnResetsNothingAndTheResetAsksFirst)
{
    window().show();
    window().chooseRawType(17);
    QCheckBox* easyThru = window().checkBox(QStringLiteral("Easy Thru"));
    easyThru->click();
    easyThru->setFocus();
    const QVariantMap before = m_defaults->persistentValues();
    QTest::keyClick(easyThru, Qt::Key_Return);
    EXPECT_EQ(m_defaults->persistentValues(), before);
    EXPECT_TRUE(m_alerts.isEmpty());

    auto* reset = window().findChild<QPushButton*>(QStringLiteral("factoryDefaultsButton"));
    ASSERT_NE(reset, nullptr);
    for (const int answer : {0, 1}) {
        AppPresenter::setAlertAnswerer([&](const Alert& alert) {
            m_alerts.append(alert);
            return answer;
        });
        reset->click();
        EXPECT_EQ(m_alerts.size(), answer + 1);
        EXPECT_EQ(m_defaults->boolForKey(QStringLiteral("Easy Thru")), answer == 1);
        EXPECT_EQ(m_defaults->integerForKey(QStringLiteral("Unrecognized Input File Word Size")), answer == 1 ? 16 : 24);
        EXPECT_EQ(window().fileTypePopup()->currentData().toInt(), answer == 1 ? 0 : 17);
    }
}

TEST_F(PreferencesWindowTest, EachBoxStandsOnItsTabUnderTheBoxItDependsOn)
{
    window().show();
    window().selectLoggingTab();
    auto tabOf = [&](const char* key) {
        for (QWidget* w = window().checkBox(QString::fromLatin1(key)); w; w = w->parentWidget())
            if (w->parentWidget() && qobject_cast<QTabWidget*>(w->parentWidget()->parentWidget()))
                return w->objectName();
        return QString();
    };
    EXPECT_EQ(tabOf("Save Log"), QStringLiteral("logging"));
    EXPECT_EQ(tabOf("Blip At End"), QStringLiteral("playback"));
    EXPECT_EQ(tabOf("Auto Play Next"), QStringLiteral("playback"));
    EXPECT_EQ(tabOf("Ignore Regions Containing Whole File"), QStringLiteral("input"));
    const std::pair<const char*, const char*> dependents[] = {{"Save Log", "Only Save When Errors"},
                                                              {"Open Log", "Only Open When Errors"}};
    for (const auto& [parent, child] : dependents) {
        const int parentX = window().checkBox(QString::fromLatin1(parent))->mapTo(&window(), QPoint()).x();
        const int childX = window().checkBox(QString::fromLatin1(child))->mapTo(&window(), QPoint()).x();
        EXPECT_GE(childX - parentX, 16) << child;
    }
}

TEST_F(PreferencesWindowTest, RawSettingsReachAHeaderlessRead)
{
    MainController& controller = startController();
    if (!std::unique_ptr<CSoundFile>(CreateSoundFileObject('DPCM')))
        GTEST_SKIP() << "headerless linear PCM cannot be read in this build";
    window().chooseAction(2);
    window().chooseRawType(2); // 16-bit little-endian
    window().channelTextField()->setValue(2);
    window().chooseRawRate(12); // 22050 Hz; pushes the channel count too
    const QString raw = path(QStringLiteral("capture.xyz"));
    WriteText(raw, QByteArray(22050 * 4, '\x01'));
    ASSERT_EQ(addAndWait({raw}), 1);
    const auto& file = controller.inputModel()->files().first();
    EXPECT_EQ(file->numChannels(), 2);
    EXPECT_EQ(file->numBits(), 16);
    EXPECT_EQ(file->sampleRate(), 22050.0);
}

} // namespace
