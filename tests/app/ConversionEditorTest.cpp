// The conversion editor on the real file-type table: what each type
// enables, what each control writes, the verdicts of OK and their texts,
// the force rules, word lengths kept only as the menu shows them, the rate
// menu with custom rates (stored by OK), its size, and the names OK
// refuses.
#include "AppTestSupport.h"
#include "ConversionEditor.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "FileTypeDictionary.h"
#include "OptionSheet.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTest>
#include <QUndoStack>

#include <cmath>

namespace {

class ConversionEditorTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        EngineStartup::start(*m_defaults);
        m_editor = std::make_unique<ConversionEditor>(*m_defaults);
        m_spec = ConvSpec::create();
        m_editor->setConvSpec(m_spec);
    }
    void TearDown() override
    {
        m_editor.reset();
        AppTest::TearDown();
    }

    template <class T> T* w(const char* name) const
    {
        T* widget = m_editor->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // Clicks a check box (its action runs as for the user).
    void click(const char* name) { w<QCheckBox>(name)->click(); }
    void choose(const char* menu, int index)
    {
        QComboBox* box = w<QComboBox>(menu);
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    void type(const char* field, const QString& text)
    {
        QLineEdit* edit = w<QLineEdit>(field);
        edit->setText(text);
        emit edit->editingFinished();
    }
    // Chooses an output type as the user does: the convert box on, then
    // the menu.
    void chooseType(OSType type)
    {
        if (!w<QCheckBox>("convertFileTypeCheckBox")->isChecked())
            click("convertFileTypeCheckBox");
        m_editor->chooseFileType(type);
    }
    bool itemEnabled(const char* menu, int index) const
    {
        auto* model = qobject_cast<QStandardItemModel*>(w<QComboBox>(menu)->model());
        return model->item(index)->isEnabled();
    }
    bool okEnabled() const { return w<QPushButton>("okButton")->isEnabled(); }

    std::unique_ptr<ConversionEditor> m_editor;
    ConvSpecRef m_spec;
};

std::vector<std::string> TypeKeys()
{
    EnsureApplication();
    std::vector<std::string> keys;
    for (const QString& key : LoadSoundFileProperties().keys())
        keys.push_back(key.toStdString());
    return keys;
}

// ------------------------------------------------------------------ every type

class EveryType : public ConversionEditorTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(EveryType, OpensWithTheTypesRulesAndConfirms)
{
    const OSType type = HFSTypeCodeFromFileType(QString::fromStdString(GetParam()));
    const QVariantMap entry = GetFileTypeEntry(type);
    ASSERT_FALSE(entry.isEmpty());
    QComboBox* typeMenu = w<QComboBox>("fileTypePopUp");
    const int item = typeMenu->findData(int(type));
    if (item >= 0) {
        chooseType(type);
        EXPECT_EQ(itemEnabled("fileTypePopUp", item), entry.value(QStringLiteral("canBeWritten")).toBool());
    } else {
        // Types the menu does not offer still open from a stored conversion.
        m_spec->setOutputFileType(type);
        m_spec->setNeedsStrictFileType(true);
        m_editor->setConvSpec(m_spec);
    }
    EXPECT_EQ(m_editor->currentFileType(), type);
    EXPECT_EQ(m_spec->outputFileType(), type);

    // The menus and titles of the type's property list.
    QVariantList bits = entry.value(QStringLiteral("numBitsPopup")).toList();
    EXPECT_EQ(w<QComboBox>("numBitsPopUp")->count(), bits.size());
    EXPECT_EQ(w<QComboBox>("channelHandlingPopUp")->count(),
              entry.value(QStringLiteral("channelHandlingPopup")).toList().size());
    EXPECT_EQ(w<QCheckBox>("numOfBitsCheckBox")->text(), entry.value(QStringLiteral("numBitsCheckBoxTitle")).toString());
    EXPECT_EQ(w<QPushButton>("optionsButton")->text(), entry.value(QStringLiteral("optionsButtonTitle")).toString());
    const auto* optionsTabs = qobject_cast<QStackedWidget*>(w<QPushButton>("optionsButton")->parentWidget());
    ASSERT_NE(optionsTabs, nullptr);
    EXPECT_EQ(optionsTabs->currentIndex(), entry.value(QStringLiteral("optionsButtonEnabled")).toBool() ? 0 : 1);
    if (item >= 0) {
        EXPECT_EQ(w<QCheckBox>("convertSampleRateCheckBox")->isChecked(),
                  entry.value(QStringLiteral("forceSampleRate")).toBool());
        EXPECT_EQ(w<QCheckBox>("numOfBitsCheckBox")->isChecked(),
                  entry.value(QStringLiteral("forceWordSize")).toBool());
        EXPECT_EQ(w<QCheckBox>("channelHandlingCheckBox")->isChecked(),
                  entry.value(QStringLiteral("forceChannels")).toBool());
        EXPECT_EQ(m_spec->nameExtension(), entry.value(QStringLiteral("extension")).toString());
    }
    // Discrete rates: only those items can be chosen, and the field is
    // fixed.
    const QVariant discrete = entry.value(QStringLiteral("discreteSampleRates"));
    QComboBox* rates = w<QComboBox>("sampleRatePopUp");
    for (int i = 0; i < ConversionEditor::kBuiltInRateCount; ++i) {
        bool listed = !discrete.isValid();
        for (const QVariant& r : discrete.toList())
            listed = listed || std::fabs(r.toDouble() - ConversionEditor::kBuiltInRates[i]) < 0.00005;
        EXPECT_EQ(itemEnabled("sampleRatePopUp", rates->findData(i)), listed) << i;
    }
    if (discrete.isValid()) {
        EXPECT_FALSE(w<QLineEdit>("sampleRateTextField")->isEnabled());
    }

    if (item < 0 || !entry.value(QStringLiteral("canBeWritten")).toBool()) {
        m_editor->ok();
        return;
    }
    // A writable type confirms once its options are confirmed.  MPEG-4
    // AAC asks for a bit rate that the sample rate allows (its word-length
    // menu holds the bit rates): pick 128 kbit/s, as a user would.
    if (type == 'Mpg4' && !okEnabled()) {
        QComboBox* bits = w<QComboBox>("numBitsPopUp");
        const int index = bits->findText(QStringLiteral("128"), Qt::MatchStartsWith);
        ASSERT_GE(index, 0);
        choose("numBitsPopUp", index);
    }
    if (!okEnabled()) {
        if (OptionSheet* sheet = m_editor->doOptionsButton())
            sheet->accept();
    }
    EXPECT_TRUE(okEnabled()) << m_editor->infoText().toStdString();
    EXPECT_TRUE(m_editor->infoText().isEmpty());
    m_editor->ok();
    EXPECT_EQ(m_editor->result(), QDialog::Accepted);
    EXPECT_TRUE(m_spec->valid());
}

INSTANTIATE_TEST_SUITE_P(AllTypes, EveryType, ::testing::ValuesIn(TypeKeys()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             QString name = QString::fromStdString(info.param);
                             name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"));
                             return name.toStdString();
                         });

// ------------------------------------------------------------------ controls

TEST_F(ConversionEditorTest, EveryControlWritesItsField)
{
    QLineEdit* name = w<QLineEdit>("conversionNameTextField");
    name->setText(QStringLiteral("Radio"));
    emit name->textEdited(name->text());
    EXPECT_EQ(m_spec->conversionName(), QStringLiteral("Radio"));

    click("convertSampleRateCheckBox");
    EXPECT_TRUE(m_spec->needsSampleRateConversion());
    choose("polyphasePopUp", 4);
    EXPECT_EQ(m_spec->sampleRateConvertQuality(), 4);
    m_editor->chooseSampleRateItem(w<QComboBox>("sampleRatePopUp")->findData(12));
    EXPECT_EQ(m_spec->sampleRate(), 22050.0);

    click("numOfBitsCheckBox");
    choose("numBitsPopUp", 2);
    EXPECT_TRUE(m_spec->needsNewWordLength());
    EXPECT_EQ(m_spec->wordLength(), 24);
    click("numOfBitsCheckBox");
    EXPECT_FALSE(m_spec->needsNewWordLength());
    EXPECT_EQ(m_spec->wordLength(), 24);

    click("channelHandlingCheckBox");
    choose("channelHandlingPopUp", 2);
    EXPECT_TRUE(m_spec->needsChannelTreat());
    EXPECT_EQ(m_spec->channelTreat(), 3);
    click("channelHandlingCheckBox");
    EXPECT_EQ(m_spec->channelTreat(), 0);

    click("extractionStripOrSnipCheckBox");
    EXPECT_TRUE(m_spec->needsExtraction());
    choose("extractionPopUp", 1);
    EXPECT_TRUE(m_spec->needsStrip());
    EXPECT_FALSE(m_spec->needsExtraction());
    type("safetyMarginTextField", QStringLiteral("250"));
    EXPECT_EQ(m_spec->stripMargin(), 250.0f);
    choose("extractionPopUp", 2);
    type("startAtTextField", QStringLiteral("2.5"));
    type("lengthTextField", QStringLiteral("3"));
    EXPECT_TRUE(m_spec->needsSnip());
    EXPECT_FALSE(m_spec->needsStrip());
    EXPECT_EQ(m_spec->snipFrom(), 2.5f);
    EXPECT_EQ(m_spec->snipTo(), 5.5f);

    click("fadeCheckBox");
    type("fadeInTextField", QStringLiteral("150"));
    type("fadeOutTextField", QStringLiteral("400"));
    EXPECT_TRUE(m_spec->needsFades());
    EXPECT_EQ(m_spec->fadeInTime(), 150.0f);
    EXPECT_EQ(m_spec->fadeOutTime(), 400.0f);
    click("copyCheckBox");
    click("ditherCheckBox");
    EXPECT_TRUE(m_spec->copyExtras());
    EXPECT_TRUE(m_spec->needsRedither());

    click("gateCheckBox");
    type("longerThanTextField", QStringLiteral("250"));
    type("lowerThanTextField", QStringLiteral("-40"));
    type("attenuateTextField", QStringLiteral("-20"));
    EXPECT_TRUE(m_spec->needsGate());
    EXPECT_TRUE(m_spec->needsGain());
    EXPECT_DOUBLE_EQ(m_spec->gateGapLength(), 0.25);
    EXPECT_EQ(m_spec->gateThreshold(), -40.0);
    EXPECT_EQ(m_spec->gateAttenuation(), -20.0);

    click("boostCheckBox");
    EXPECT_TRUE(m_spec->needsCompressor());
    EXPECT_FALSE(m_spec->needsNormalize());
    type("amplifyTextField", QStringLiteral("9"));
    type("limitTextField", QStringLiteral("-1.5"));
    EXPECT_EQ(m_spec->compressionBoost(), 9.0);
    EXPECT_EQ(m_spec->ceiling(), -1.5);
    click("firstNormalizeCheckBox");
    EXPECT_TRUE(m_spec->needsCompressor());
    EXPECT_TRUE(m_spec->needsNormalize());
    choose("boostPopUp", 1);
    EXPECT_FALSE(m_spec->needsCompressor());
    EXPECT_TRUE(m_spec->needsNormalize());
    type("ceilingTextField", QStringLiteral("-0.5"));
    EXPECT_EQ(m_spec->ceiling(), -0.5);
    click("gateCheckBox");
    EXPECT_FALSE(m_spec->needsGate());
    EXPECT_TRUE(m_spec->needsGain());

    w<QPlainTextEdit>("commentTextView")->setPlainText(QStringLiteral("for the archive\t"));
    EXPECT_EQ(m_spec->comment(), QStringLiteral("for the archive"));

    // Filled again from the conversion, the window shows what was set.
    const ConvSpecRef copy = m_spec->copy();
    m_editor->setConvSpec(copy);
    EXPECT_EQ(w<QComboBox>("extractionPopUp")->currentIndex(), 2);
    EXPECT_EQ(w<QLineEdit>("lengthTextField")->text(), QStringLiteral("3"));
    EXPECT_EQ(w<QLineEdit>("longerThanTextField")->text(), QStringLiteral("250"));
    EXPECT_EQ(w<QComboBox>("boostPopUp")->currentIndex(), 1);
    EXPECT_TRUE(w<QCheckBox>("boostCheckBox")->isChecked());
    EXPECT_EQ(w<QLineEdit>("sampleRateTextField")->text(), QStringLiteral("22050"));
    EXPECT_EQ(w<QComboBox>("polyphasePopUp")->currentIndex(), 4);
    EXPECT_EQ(copy->dictionary(), m_spec->dictionary());
}

TEST_F(ConversionEditorTest, AutomaticNameIsUndoable)
{
    chooseType('WAVE');
    m_editor->doAutomaticName();
    EXPECT_EQ(m_spec->conversionName(), m_spec->descriptionForAutoName());
    EXPECT_EQ(m_editor->undoStack()->undoText(), QStringLiteral("Automatic Conversion Name"));
    m_editor->undoStack()->undo();
    EXPECT_EQ(m_spec->conversionName(), ConvSpec::defaultConversionName());
    EXPECT_EQ(w<QLineEdit>("conversionNameTextField")->text(), ConvSpec::defaultConversionName());
}

TEST_F(ConversionEditorTest, WithoutConvertTypeTheAIFFRulesApply)
{
    // A new conversion: ticked first thing, the box brings the output
    // type's extension, never a ticked extension box over an empty one.
    click("convertFileTypeCheckBox");
    EXPECT_TRUE(m_spec->needsNameExtension());
    EXPECT_FALSE(m_spec->nameExtension().isEmpty());
    EXPECT_EQ(m_spec->nameExtension(), GetFileTypeEntry(m_spec->outputFileType()).value(QStringLiteral("extension")).toString());
    click("convertFileTypeCheckBox");

    m_editor->chooseFileType('DADP');
    EXPECT_EQ(m_spec->outputFileType(), OSType('AIFF'));
    EXPECT_EQ(m_editor->currentFileType(), OSType('AIFF'));
    // Ticked, the type is the output type's and so is the extension: the
    // box never stands ticked over an empty extension.
    click("convertFileTypeCheckBox");
    EXPECT_TRUE(m_spec->needsStrictFileType());
    EXPECT_TRUE(m_spec->needsNameExtension());
    EXPECT_TRUE(w<QCheckBox>("filenameExtensionCheckBox")->isChecked());
    EXPECT_EQ(m_spec->nameExtension(), GetFileTypeEntry('AIFF').value(QStringLiteral("extension")).toString());
    EXPECT_FALSE(m_spec->nameExtension().isEmpty());
    EXPECT_EQ(w<QLineEdit>("filenameExtensionTextField")->text(), m_spec->nameExtension());
    // Off and on again, a typed extension stays.
    click("convertFileTypeCheckBox");
    EXPECT_FALSE(m_spec->needsNameExtension());
    type("filenameExtensionTextField", QStringLiteral("snd"));
    emit w<QLineEdit>("filenameExtensionTextField")->textEdited(QStringLiteral("snd"));
    click("convertFileTypeCheckBox");
    EXPECT_TRUE(m_spec->needsNameExtension());
    EXPECT_EQ(m_spec->nameExtension(), QStringLiteral("snd"));
}

TEST_F(ConversionEditorTest, ForcedBoxesGoOffWithTheTypeAndSoDoTheirFlags)
{
    chooseType('DADP');
    EXPECT_TRUE(m_spec->needsSampleRateConversion());
    EXPECT_TRUE(m_spec->needsChannelTreat());
    EXPECT_EQ(m_spec->sampleRate(), 8000.0);
    chooseType('AIFF');
    EXPECT_FALSE(w<QCheckBox>("convertSampleRateCheckBox")->isChecked());
    EXPECT_FALSE(m_spec->needsSampleRateConversion());
    EXPECT_FALSE(m_spec->needsChannelTreat());
    EXPECT_EQ(m_spec->channelTreat(), 0);

    // A box the user had on stays on.
    click("convertSampleRateCheckBox");
    chooseType('DADP');
    chooseType('WAVE');
    EXPECT_TRUE(w<QCheckBox>("convertSampleRateCheckBox")->isChecked());
    EXPECT_TRUE(m_spec->needsSampleRateConversion());
    EXPECT_FALSE(m_spec->needsChannelTreat());
}

TEST_F(ConversionEditorTest, PopupItemsReachTheTypesOwnChecks)
{
    // The MPEG stereo modes live in the per-type block and come back as
    // the item shown.
    chooseType('MPG2');
    click("channelHandlingCheckBox");
    choose("channelHandlingPopUp", 4);
    const unsigned char* block = m_spec->fileTypeSpecifics();
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(block), 21), QByteArray("\x14MPEG joint stereo   "));
    m_editor->setConvSpec(m_spec->copy());
    EXPECT_EQ(w<QComboBox>("channelHandlingPopUp")->currentIndex(), 4);

    // Dialogic ADPCM names its files by the rate item chosen.
    m_spec = ConvSpec::create();
    m_editor->setConvSpec(m_spec);
    chooseType('DADP');
    EXPECT_EQ(m_spec->nameExtension(), QStringLiteral("ap8"));
    m_editor->chooseSampleRateItem(w<QComboBox>("sampleRatePopUp")->findData(18));
    EXPECT_EQ(m_spec->sampleRate(), 6000.0);
    EXPECT_EQ(m_spec->nameExtension(), QStringLiteral("ap6"));
    EXPECT_TRUE(okEnabled()) << m_editor->infoText().toStdString();
}

// ------------------------------------------------------------------ verdicts

TEST_F(ConversionEditorTest, EachVerdictBlocksOKWithItsText)
{
    struct Case {
        OSType type;
        std::function<void()> set;
        QString text;
    };
    auto rate = [this](const char* text) {
        return [this, text] {
            if (!w<QCheckBox>("convertSampleRateCheckBox")->isChecked())
                click("convertSampleRateCheckBox");
            m_editor->typeSampleRate(QString::fromLatin1(text));
        };
    };
    const std::vector<Case> cases = {
        {'Mp3 ', [] {}, QStringLiteral("You have to use the Options button to specify the encoder settings.")},
        {'AIFF', rate("200000"), QStringLiteral("The sample rate of AIFF files may not exceed 192000 Hz.")},
        {'AIFF', rate("500"), QStringLiteral("The sample rate of AIFF files may not be less than 1000 Hz.")},
        {'VOC ', rate("7000"), QStringLiteral("The sample rate of a VOC file must conform to the formula:")},
        {'DADP', [this] { click("convertSampleRateCheckBox"); },
         QStringLiteral("Dialogic ADPCM (no header) files have a restricted number of possible sample rates, so "
                        "please check 'Convert sample rate to' and select an available sample rate from the popup "
                        "menu")},
        {'MPG1', [this] { click("numOfBitsCheckBox"); },
         QStringLiteral("MPEG 1 Layer I must have a bit rate specified, so please check and select a bit rate.")},
        {'DPCM', [this] { click("numOfBitsCheckBox"); },
         QStringLiteral("Dialogic PCM (no header) files must have a value specified for the 'Number of bits', so "
                        "please check to select a setting.")},
        {'DADP', [this] { click("channelHandlingCheckBox"); }, QString()},
        {'8SVX', [this] { click("channelHandlingCheckBox"); },
         QStringLiteral("Amiga/IFF 8SVX files have a restricted number of possible channel handling methods, so "
                        "please check to use one of the given settings in the 'Channel handling' popup menu.")},
        {'AIFF', [this] { click("convertFileTypeCheckBox"); click("filenameExtensionCheckBox"); },
         QStringLiteral("You can't force a file name extension when you don't explicitly convert to a given file "
                        "type. Please select a file type to convert to, or leave the file name extension checkbox "
                        "unchecked.")},
    };
    for (const Case& c : cases) {
        m_spec = ConvSpec::create();
        m_editor->setConvSpec(m_spec);
        chooseType(c.type);
        c.set();
        SCOPED_TRACE(FileTypeForHFSTypeCode(c.type).toStdString());
        EXPECT_FALSE(okEnabled());
        EXPECT_FALSE(m_editor->validateOK());
        if (c.text.isEmpty()) {
            EXPECT_FALSE(m_editor->infoText().isEmpty()); // the type's own message
        } else {
            EXPECT_TRUE(m_editor->infoText().startsWith(c.text)) << m_editor->infoText().toStdString();
        }
        // Shown once, the verdict still holds: OK stays off.
        EXPECT_FALSE(m_editor->validateOK());
        m_editor->ok();
        EXPECT_NE(m_editor->result(), QDialog::Accepted);
    }
}

TEST_F(ConversionEditorTest, TheFirstFailingRuleWinsAndFixingItShowsTheNext)
{
    chooseType('MPG1');
    click("convertSampleRateCheckBox");
    click("numOfBitsCheckBox");
    EXPECT_TRUE(m_editor->infoText().startsWith(QStringLiteral("MPEG-1 Layer I ('MPG') files have a restricted")));
    click("convertSampleRateCheckBox");
    EXPECT_TRUE(m_editor->infoText().startsWith(QStringLiteral("MPEG 1 Layer I must have a bit rate")));
    click("numOfBitsCheckBox");
    EXPECT_TRUE(m_editor->infoText().isEmpty()) << m_editor->infoText().toStdString();
    EXPECT_TRUE(okEnabled());
}

TEST_F(ConversionEditorTest, OptionsWithoutASheetConfirmAtOnce)
{
    chooseType('Mp3 ');
    EXPECT_FALSE(m_spec->specificsValid());
    EXPECT_EQ(m_editor->doOptionsButton(), nullptr);
    EXPECT_TRUE(m_spec->specificsValid());
    EXPECT_NE(m_editor->infoText(), QStringLiteral("You have to use the Options button to specify the encoder settings."));
}

// ------------------------------------------------------------------ rates

TEST_F(ConversionEditorTest, TypedRatesMatchBuiltInItemsOrBecomeCustomRatesOnOK)
{
    const QString key = QStringLiteral("Custom Sample Rates");
    m_spec->setConversionName(QStringLiteral("Rates"));
    m_editor->setConvSpec(m_spec);
    QComboBox* menu = w<QComboBox>("sampleRatePopUp");
    EXPECT_EQ(menu->count(), ConversionEditor::kBuiltInRateCount);
    click("convertSampleRateCheckBox");
    m_editor->typeSampleRate(QStringLiteral("44100.00001"));
    EXPECT_EQ(menu->currentData().toInt(), 6);
    EXPECT_EQ(menu->count(), ConversionEditor::kBuiltInRateCount);

    // A new rate is shown among the custom items; only OK keeps it.
    m_editor->typeSampleRate(QStringLiteral("44100.1"));
    m_editor->typeSampleRate(QStringLiteral("50000"));
    ASSERT_EQ(menu->count(), ConversionEditor::kBuiltInRateCount + 2);
    EXPECT_EQ(menu->currentText(), QStringLiteral("50000"));
    EXPECT_EQ(m_spec->sampleRate(), 50000.0);
    EXPECT_TRUE(m_defaults->arrayForKey(key).isEmpty());
    m_editor->ok();
    ASSERT_EQ(m_editor->result(), QDialog::Accepted);
    EXPECT_EQ(m_defaults->arrayForKey(key), QVariantList{50000.0});

    // Opening a conversion with a new rate and cancelling stores nothing.
    ConvSpecRef stored = ConvSpec::create();
    stored->setNeedsSampleRateConversion(true);
    stored->setSampleRate(44100.1);
    m_editor->setConvSpec(stored);
    ASSERT_EQ(menu->count(), ConversionEditor::kBuiltInRateCount + 3);
    EXPECT_EQ(menu->itemText(ConversionEditor::kBuiltInRateCount + 1), QStringLiteral("50000"));
    EXPECT_EQ(menu->itemText(ConversionEditor::kBuiltInRateCount + 2), QStringLiteral("44100.1"));
    EXPECT_EQ(menu->currentText(), QStringLiteral("44100.1"));
    m_editor->cancel();
    EXPECT_EQ(m_defaults->arrayForKey(key), QVariantList{50000.0});
    m_editor->setConvSpec(m_spec);
    EXPECT_EQ(menu->count(), ConversionEditor::kBuiltInRateCount + 2);

    // Chosen from the menu, a custom item puts its rate into the field.
    m_editor->chooseSampleRateItem(ConversionEditor::kBuiltInRateCount + 1);
    EXPECT_EQ(m_spec->sampleRate(), 50000.0);
    // Unreadable text adds nothing and removes nothing.
    m_editor->typeSampleRate(QStringLiteral("fast"));
    EXPECT_EQ(menu->count(), ConversionEditor::kBuiltInRateCount + 2);

    // Discrete rates: custom items and unlisted built-in items are off.
    chooseType('MPG2');
    EXPECT_FALSE(itemEnabled("sampleRatePopUp", ConversionEditor::kBuiltInRateCount + 1));
    EXPECT_TRUE(itemEnabled("sampleRatePopUp", menu->findData(4)));
    EXPECT_FALSE(itemEnabled("sampleRatePopUp", menu->findData(12)));
    EXPECT_EQ(m_spec->sampleRate(), 44100.0);
}

// ------------------------------------------------------------------ word lengths

TEST_F(ConversionEditorTest, AWordLengthTheNewTypesMenuLacksBecomesTheItemShown)
{
    QComboBox* bits = w<QComboBox>("numBitsPopUp");
    auto shownTag = [bits] { return bits->itemData(bits->currentIndex()); };
    // 24 bits, then MPEG Layer II (bit rates), then WAVE.
    chooseType('AIFF');
    click("numOfBitsCheckBox");
    choose("numBitsPopUp", bits->findData(24));
    chooseType('MPG2');
    EXPECT_EQ(m_spec->wordLength(), shownTag().toInt());
    chooseType('WAVE');
    EXPECT_EQ(bits->currentText(), QStringLiteral("16 bits"));
    EXPECT_EQ(m_spec->wordLength(), 16);

    // From 8 bits to every type that can be written.
    QComboBox* types = w<QComboBox>("fileTypePopUp");
    for (int item = 0; item < types->count(); ++item) {
        const OSType type = OSType(types->itemData(item).toInt());
        if (type == 0 || !itemEnabled("fileTypePopUp", item))
            continue;
        m_spec = ConvSpec::create();
        m_editor->setConvSpec(m_spec);
        chooseType('AIFF');
        click("numOfBitsCheckBox");
        choose("numBitsPopUp", bits->findData(8));
        ASSERT_EQ(m_spec->wordLength(), 8);
        chooseType(type);
        if (shownTag().isValid()) {
            EXPECT_EQ(m_spec->wordLength(), shownTag().toInt()) << types->itemText(item).toStdString();
        }
    }
}

// ------------------------------------------------------------------ size

TEST_F(ConversionEditorTest, FitsALaptopScreen)
{
    // The tallest state: a comment shown, snipping, the gate and the
    // compressor on.
    m_spec->setComment(QStringLiteral("A comment."));
    m_editor->setConvSpec(m_spec);
    click("extractionStripOrSnipCheckBox");
    choose("extractionPopUp", 2);
    click("gateCheckBox");
    click("boostCheckBox");
    // 1366 x 768 less a panel and the title bar: OK and Cancel stay on the
    // screen.
    const QSize size = m_editor->sizeHint();
    EXPECT_LE(size.height(), 680) << size.width() << " x " << size.height();
    EXPECT_LE(size.width(), 1300) << size.width() << " x " << size.height();
    m_editor->show();
    EXPECT_LE(m_editor->height(), 680);
}

TEST_F(ConversionEditorTest, OpensAtItsFinalSizeAndKeepsIt)
{
    // Gate and boost on: rows that change the gain group's width.
    m_spec->setComment(QStringLiteral("A comment."));
    m_editor->setConvSpec(m_spec);
    click("gateCheckBox");
    click("boostCheckBox");
    m_editor->show();
    const QSize shown = m_editor->size();
    QApplication::processEvents();
    EXPECT_EQ(m_editor->size(), shown);
    click("convertSampleRateCheckBox");
    m_editor->typeSampleRate(QStringLiteral("12345.6"));
    QApplication::processEvents();
    EXPECT_EQ(m_editor->size(), shown);
}

// Opened plain, the editor keeps its size and OK its place whatever is
// ticked (the gate's "non-silences with", "then amplify") or chosen: no
// grown size to keep for the next opening.
TEST_F(ConversionEditorTest, GrowsWithNothingTickedOrChosen)
{
    m_editor->show();
    QApplication::processEvents();
    const QSize shown = m_editor->size();
    QPushButton* ok = w<QPushButton>("okButton");
    const QPoint okAt = ok->mapTo(m_editor.get(), QPoint());
    const auto same = [&](const QString& after) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QApplication::processEvents();
        EXPECT_EQ(m_editor->size(), shown) << after.toStdString() << ": " << m_editor->width() << " x "
                                           << m_editor->height();
        EXPECT_EQ(ok->mapTo(m_editor.get(), QPoint()), okAt) << after.toStdString();
    };
    for (const char* box : {"gateCheckBox", "boostCheckBox", "firstNormalizeCheckBox", "fadeCheckBox",
                            "extractionStripOrSnipCheckBox", "convertSampleRateCheckBox", "numOfBitsCheckBox",
                            "channelHandlingCheckBox"}) {
        click(box);
        same(QString::fromLatin1(box));
    }
    QComboBox* types = w<QComboBox>("fileTypePopUp");
    for (int item = 0; item < types->count(); ++item)
        if (types->itemData(item).toInt() != 0 && itemEnabled("fileTypePopUp", item)) {
            chooseType(OSType(types->itemData(item).toInt()));
            same(types->itemText(item));
        }
}

// ------------------------------------------------------------------ names

// New and Edit alike open in the name, selected, so that typing replaces it;
// a conversion's comment is shown, not focused.
TEST_F(ConversionEditorTest, OpensInTheNameSelectedWithOrWithoutAComment)
{
    for (const QString& comment : {QString(), QStringLiteral("For the radio archive.")}) {
        m_editor = std::make_unique<ConversionEditor>(*m_defaults);
        m_spec = ConvSpec::create();
        m_spec->setConversionName(QStringLiteral("Radio"));
        m_spec->setComment(comment);
        m_editor->setConvSpec(m_spec);
        m_editor->show();
        m_editor->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([this] { return QApplication::activeWindow() == m_editor.get(); }))
            << comment.toStdString();
        QLineEdit* name = w<QLineEdit>("conversionNameTextField");
        ASSERT_EQ(QApplication::focusWidget(), name) << comment.toStdString();
        EXPECT_EQ(name->selectedText(), QStringLiteral("Radio"));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("News"));
        EXPECT_EQ(name->text(), QStringLiteral("News"));
        EXPECT_EQ(w<QPlainTextEdit>("commentTextView")->toPlainText(), comment);
    }
}

TEST_F(ConversionEditorTest, OKRefusesTakenAndUnusableNames)
{
    m_editor->setNames({QStringLiteral("Radio")});
    QLineEdit* name = w<QLineEdit>("conversionNameTextField");
    for (const QString& text : {QStringLiteral("Radio"), QString(), QStringLiteral("."), QStringLiteral("..")}) {
        name->setText(text);
        emit name->textEdited(text);
        m_editor->setResult(0);
        m_editor->ok();
        EXPECT_NE(m_editor->result(), QDialog::Accepted) << text.toStdString();
    }
    ASSERT_EQ(m_alerts.size(), 4);
    EXPECT_EQ(m_alerts[0].title, QStringLiteral("Conversion Name Already Exists"));
    EXPECT_EQ(m_alerts[0].message, QStringLiteral("Conversion name 'Radio' already exists.\nConversion names must be "
                                                  "unique, please specify another one."));
    EXPECT_EQ(m_alerts[3].title, QStringLiteral("Invalid Conversion Name"));
    name->setText(QStringLiteral("Radio 2"));
    emit name->textEdited(name->text());
    m_editor->ok();
    EXPECT_EQ(m_editor->result(), QDialog::Accepted);
    EXPECT_EQ(m_spec->conversionName(), QStringLiteral("Radio 2"));
    EXPECT_TRUE(m_defaults->stringForKey(QStringLiteral("Define Conversion Dialog Frame")).startsWith(QLatin1Char('{')));
}

} // namespace
