// The option sheets of the conversion editor: what each shows for a stored
// conversion and writes on OK (nothing on Cancel), and conversions made in
// the editor running in a batch (the batch command, checked with sox and
// ffprobe and the files' bytes).
#include "AppTestSupport.h"
#include "BWFAnnotationSheet.h"
#include "ConversionEditor.h"
#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "FileTypeDictionary.h"
#include "FullUserName.h"
#include "G729OptionsSheet.h"
#include "LAMEOptionsSheet.h"
#include "MPEGOptionsSheet.h"
#include "PeerTools.h"
#include "PropertyList.h"
#include "VOCSampleRateSheet.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QLabel>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

namespace {

class OptionSheetTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        EngineStartup::start(*m_defaults);
        LAMEOptionsSheet::setGenreSource([] {
            return QVariantMap{{QStringLiteral("Blues"), 0}, {QStringLiteral("Classic Rock"), 1},
                               {QStringLiteral("Country"), 2}, {QStringLiteral("Jazz"), 8}};
        });
        m_editor = std::make_unique<ConversionEditor>(*m_defaults);
        newConversion();
    }
    void TearDown() override
    {
        LAMEOptionsSheet::setGenreSource({});
        m_editor.reset();
        AppTest::TearDown();
    }
    void newConversion()
    {
        m_spec = ConvSpec::create();
        m_editor->setConvSpec(m_spec);
        m_editor->findChild<QCheckBox*>(QStringLiteral("convertFileTypeCheckBox"))->click();
    }
    template <class Sheet> Sheet* open(OSType type)
    {
        m_editor->chooseFileType(type);
        auto* sheet = dynamic_cast<Sheet*>(m_editor->doOptionsButton());
        EXPECT_NE(sheet, nullptr);
        return sheet;
    }

    std::unique_ptr<ConversionEditor> m_editor;
    ConvSpecRef m_spec;
};

TEST_F(OptionSheetTest, MPEGFramePaddingIsOnUntilSwitchedOff)
{
    auto* sheet = open<MPEGOptionsSheet>('MPG2');
    EXPECT_TRUE(sheet->framePaddingCheckbox()->isChecked());
    sheet->accept();
    EXPECT_EQ(m_spec->specificsValue(QStringLiteral("Use MPEG Frame Padding")), QVariant(true));
    EXPECT_TRUE(m_spec->specificsValid());
    sheet = dynamic_cast<MPEGOptionsSheet*>(m_editor->doOptionsButton());
    sheet->framePaddingCheckbox()->setChecked(false);
    sheet->reject();
    EXPECT_EQ(m_spec->specificsValue(QStringLiteral("Use MPEG Frame Padding")), QVariant(true));
    sheet = dynamic_cast<MPEGOptionsSheet*>(m_editor->doOptionsButton());
    sheet->framePaddingCheckbox()->setChecked(false);
    sheet->accept();
    EXPECT_EQ(m_spec->specificsValue(QStringLiteral("Use MPEG Frame Padding")), QVariant(false));
}

// Every sheet opens with the keys in its first field, not on OK or Cancel:
// a space typed first presses no button, and text typed lands in the field.
// Its title bar shows the whole title.
class OptionSheetFocusTest : public OptionSheetTest, public ::testing::WithParamInterface<OSType> {};

TEST_P(OptionSheetFocusTest, OpensWithTheKeysInItsFirstField)
{
    m_editor->show();
    m_editor->chooseFileType(GetParam());
    OptionSheet* sheet = m_editor->doOptionsButton();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([sheet] { return QApplication::activeWindow() == sheet; }));
    EXPECT_GE(sheet->width(), TitleBarNeeds(sheet)) << sheet->windowTitle().toStdString();
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(sheet->isAncestorOf(focus));
    EXPECT_EQ(qobject_cast<QPushButton*>(focus), nullptr) << focus->objectName().toStdString();
    QTest::keyClick(focus, Qt::Key_Space);
    EXPECT_TRUE(sheet->isVisible()) << "the space pressed " << focus->objectName().toStdString();
    if (auto* text = qobject_cast<QPlainTextEdit*>(focus)) {
        QTest::keyClicks(focus, QStringLiteral("Take 2"));
        EXPECT_EQ(text->toPlainText(), QStringLiteral(" Take 2"));
    }
    sheet->reject();
}

INSTANTIATE_TEST_SUITE_P(EverySheet, OptionSheetFocusTest,
                         ::testing::Values(OSType('MPG2'), OSType('BWLN'), OSType('VOC '), OSType('G729'),
                                           OSType('DMP3')));

TEST_F(OptionSheetTest, BroadcastWaveAnnotationFitsTheBlockOnACharacterBoundary)
{
    // Bytes before the text (the stereo mode of compressed Broadcast Wave)
    // are kept.
    m_spec->fileTypeSpecifics()[6] = 'j';
    auto* sheet = open<BWFAnnotationSheet>('BWLN');
    EXPECT_TRUE(sheet->annotationTextView()->toPlainText().isEmpty());
    const QString ascii(300, QLatin1Char('a'));
    sheet->annotationTextView()->setPlainText(ascii);
    sheet->accept();
    EXPECT_EQ(m_spec->specificsValue(ConvSpec::kAnnotationTextKey).toString(), ascii);
    const unsigned char* block = m_spec->fileTypeSpecifics();
    EXPECT_EQ(block[6], 'j');
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(block + 22), 233), QByteArray(233, 'a'));
    EXPECT_EQ(block[255], 0);

    // Two-byte characters: the cut never splits one.
    const QString accents(150, QChar(0x00E9));
    const QByteArray cut = BWFAnnotationSheet::blockForAnnotation(accents);
    EXPECT_EQ(cut.size(), 256);
    EXPECT_EQ(BWFAnnotationSheet::annotationInBlock(reinterpret_cast<const unsigned char*>(cut.constData())),
              QString(116, QChar(0x00E9)));

    // Without the text entry the sheet reads the block where it writes it.
    m_spec->removeSpecificsValue(ConvSpec::kAnnotationTextKey);
    sheet = dynamic_cast<BWFAnnotationSheet*>(m_editor->doOptionsButton());
    EXPECT_EQ(sheet->annotationTextView()->toPlainText(), QString(233, QLatin1Char('a')));
    sheet->reject();
}

TEST_F(OptionSheetTest, CreativeVoiceRatesComeFromTheMatrix)
{
    m_spec->setSampleRate(8000.0);
    auto* sheet = open<VOCSampleRateSheet>('VOC ');
    // The type's default rate was put in; open again at 8000 Hz.
    sheet->reject();
    m_spec->setSampleRate(8000.0);
    sheet = dynamic_cast<VOCSampleRateSheet*>(m_editor->doOptionsButton());
    QTableWidget* matrix = sheet->sampleRateMatrix();
    EXPECT_EQ(matrix->currentRow(), 4);
    EXPECT_EQ(matrix->currentColumn(), 6);
    EXPECT_EQ(VOCSampleRateSheet::divisor(4, 6), 125);
    EXPECT_TRUE(matrix->item(17, 9)->text().isEmpty()); // d = 49: above 20000 Hz
    EXPECT_FALSE(matrix->item(16, 9)->text().isEmpty()); // d = 50: 20000 Hz
    EXPECT_EQ(VOCSampleRateSheet::divisor(20, 9), 46);
    sheet->reject();

    m_spec->setSampleRate(22050.0);
    sheet = dynamic_cast<VOCSampleRateSheet*>(m_editor->doOptionsButton());
    EXPECT_EQ(sheet->sampleRateMatrix()->selectedItems().size(), 0);
    sheet->doMatrix(1, 5); // d = 149
    EXPECT_NEAR(sheet->value(), 1000000.0 / 149, 0.01);
    sheet->doMatrix(20, 9); // empty: no change
    EXPECT_NEAR(sheet->value(), 1000000.0 / 149, 0.01);
    sheet->accept();
    EXPECT_NEAR(m_spec->sampleRate(), 6711.41, 0.001);
    EXPECT_EQ(m_editor->sampleRateTextField()->text(), QStringLiteral("6711.41"));
    EXPECT_EQ(m_editor->findChild<QComboBox*>(QStringLiteral("sampleRatePopUp"))->currentText(),
              QStringLiteral("6711.41"));
}

TEST_F(OptionSheetTest, G729LayoutIsThreeBytesAndTheMatricesFollowTheFileFormat)
{
    auto* sheet = open<G729OptionsSheet>('G729');
    EXPECT_EQ(sheet->fileFormatMatrix()->checkedId(), 0);
    EXPECT_TRUE(sheet->headerMatrix()->button(1)->isEnabled());
    EXPECT_FALSE(sheet->dataFormatMatrix()->button(1)->isEnabled());
    sheet->fileFormatMatrix()->button(1)->click();
    EXPECT_FALSE(sheet->headerMatrix()->button(1)->isEnabled());
    EXPECT_TRUE(sheet->dataFormatMatrix()->button(1)->isEnabled());
    sheet->dataFormatMatrix()->button(1)->click();
    sheet->accept();
    const unsigned char* block = m_spec->fileTypeSpecifics();
    EXPECT_EQ(block[0], 1);
    EXPECT_EQ(block[1], 1);
    EXPECT_EQ(block[2], 0);

    block = nullptr;
    m_spec->fileTypeSpecifics()[1] = 0;
    m_spec->fileTypeSpecifics()[2] = 1;
    sheet = dynamic_cast<G729OptionsSheet*>(m_editor->doOptionsButton());
    EXPECT_EQ(sheet->fileFormatMatrix()->checkedId(), 0);
    EXPECT_EQ(sheet->headerMatrix()->checkedId(), 1);
    EXPECT_EQ(sheet->dataFormatMatrix()->checkedId(), 1);
    sheet->reject();
}

TEST_F(OptionSheetTest, MP3OptionsOpenWithTheirDefaultsAndStoreTheKeys)
{
    auto* sheet = open<LAMEOptionsSheet>('DMP3');
    EXPECT_EQ(sheet->genres(), (QStringList{QStringLiteral("Blues"), QStringLiteral("Classic Rock"),
                                            QStringLiteral("Country"), QStringLiteral("Jazz")}));
    EXPECT_EQ(sheet->genreWithID(8), QStringLiteral("Jazz"));
    EXPECT_TRUE(sheet->genreWithID(99).isEmpty());
    EXPECT_EQ(sheet->encodingModeMatrix()->checkedId(), 0);
    EXPECT_EQ(sheet->qualityPopup()->currentIndex(), 2);
    EXPECT_EQ(sheet->vbrQualityPopup()->currentIndex(), 4);
    EXPECT_FALSE(sheet->vbrQualityPopup()->isEnabled());
    EXPECT_EQ(sheet->titleMatrix()->checkedId(), 0);
    EXPECT_FALSE(sheet->titleTextField()->isEnabled());
    EXPECT_TRUE(sheet->writeID3TagsCheckbox()->isChecked());
    EXPECT_EQ(sheet->genreTable()->currentRow(), 1);
    EXPECT_EQ(sheet->tagsFormCell(0)->text(), NSFullUserName());
    EXPECT_EQ(sheet->tagsFormCell(2)->text(), QStringLiteral("1"));
    EXPECT_EQ(sheet->tagsFormCell(3)->text(), QString::number(QDate::currentDate().year()));
    EXPECT_TRUE(sheet->originalCheckbox()->isChecked());
    EXPECT_FALSE(m_spec->specificsValid());

    sheet->encodingModeMatrix()->button(2)->click();
    EXPECT_TRUE(sheet->vbrQualityPopup()->isEnabled());
    sheet->vbrQualityPopup()->setCurrentIndex(1);
    sheet->titleMatrix()->button(1)->click();
    EXPECT_TRUE(sheet->titleTextField()->isEnabled());
    sheet->titleTextField()->setText(QStringLiteral("Nocturne"));
    sheet->genreTable()->setCurrentRow(3);
    sheet->accept();
    EXPECT_TRUE(m_spec->specificsValid());
    const QVariantMap s = m_spec->specifics();
    EXPECT_EQ(s.value(QStringLiteral("LAMEEncodingMode")).toInt(), 2);
    EXPECT_EQ(s.value(QStringLiteral("LAMEVBRQuality")).toInt(), 1);
    EXPECT_EQ(s.value(QStringLiteral("LAMEQuality")).toInt(), 2);
    EXPECT_EQ(s.value(QStringLiteral("LAMECopy")), QVariant(false));  // an original
    EXPECT_EQ(s.value(QStringLiteral("LAMEUseBitReservoir")), QVariant(true));
    EXPECT_EQ(s.value(QStringLiteral("LAMEUseCRC")), QVariant(false));
    EXPECT_EQ(s.value(QStringLiteral("LAMEUseInputFileNameAsTitle")), QVariant(false));
    EXPECT_EQ(s.value(QStringLiteral("LAMETitle")).toString(), QStringLiteral("Nocturne"));
    EXPECT_EQ(s.value(QStringLiteral("LAMEGenre")).toInt(), 8);

    // An emptied genre selection keeps the genre; with tags off the tag
    // values stay as they were.
    sheet = dynamic_cast<LAMEOptionsSheet*>(m_editor->doOptionsButton());
    EXPECT_EQ(sheet->genreTable()->currentRow(), 3);
    EXPECT_EQ(sheet->titleMatrix()->checkedId(), 1);
    sheet->genreTable()->clearSelection();
    sheet->accept();
    EXPECT_EQ(m_spec->specificsValue(QStringLiteral("LAMEGenre")).toInt(), 8);
    sheet = dynamic_cast<LAMEOptionsSheet*>(m_editor->doOptionsButton());
    sheet->writeID3TagsCheckbox()->click();
    EXPECT_FALSE(sheet->genreTable()->isEnabled());
    sheet->titleTextField()->setText(QStringLiteral("changed"));
    sheet->accept();
    EXPECT_EQ(m_spec->specificsValue(QStringLiteral("LAMEWriteID3Tags")), QVariant(false));
    EXPECT_EQ(m_spec->specificsValue(QStringLiteral("LAMETitle")).toString(), QStringLiteral("Nocturne"));
}

// The original bit of an MP3 file's first frame (after its ID3v2 tag);
// -1 when there is no frame.
int FirstFrameOriginalBit(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = file.readAll();
    qsizetype at = 0;
    if (bytes.startsWith("ID3") && bytes.size() >= 10) {
        at = 10 + ((qsizetype(bytes[6] & 0x7F) << 21) | (qsizetype(bytes[7] & 0x7F) << 14) |
                   (qsizetype(bytes[8] & 0x7F) << 7) | qsizetype(bytes[9] & 0x7F));
        if (bytes[5] & 0x10)
            at += 10;
    }
    for (; at + 3 < bytes.size(); ++at)
        if (quint8(bytes[at]) == 0xFF && (quint8(bytes[at + 1]) & 0xE0) == 0xE0)
            return (quint8(bytes[at + 3]) >> 2) & 1;
    return -1;
}

// What the sheets write is what a batch does with the conversion.
TEST_F(OptionSheetTest, ConversionsMadeInTheEditorRunInABatch)
{
    QM_REQUIRE_PEER("sox");
    const QString input = path(QStringLiteral("tone.wav"));
    WriteWave(input, 44100, 44100, 2);
    QVariantList conversions;

    // Creative Voice at the matrix's 8000 Hz.
    m_editor->findChild<QLineEdit*>(QStringLiteral("conversionNameTextField"))->setText(QStringLiteral("voc"));
    m_spec->setConversionName(QStringLiteral("voc"));
    auto* voc = open<VOCSampleRateSheet>('VOC ');
    voc->doMatrix(4, 6);
    voc->accept();
    m_editor->findChild<QCheckBox*>(QStringLiteral("numOfBitsCheckBox"))->click();
    auto* vocBits = m_editor->findChild<QComboBox*>(QStringLiteral("numBitsPopUp"));
    vocBits->setCurrentIndex(vocBits->findData(8));
    emit vocBits->activated(vocBits->currentIndex());
    auto* vocChannels = m_editor->findChild<QComboBox*>(QStringLiteral("channelHandlingPopUp"));
    vocChannels->setCurrentIndex(vocChannels->findData(3));
    emit vocChannels->activated(vocChannels->currentIndex());
    ASSERT_TRUE(m_editor->validateOK()) << m_editor->infoText().toStdString();
    conversions.append(m_spec->dictionary());

    // Uncompressed Broadcast Wave with an annotation.
    newConversion();
    m_spec->setConversionName(QStringLiteral("bwf"));
    auto* bwf = open<BWFAnnotationSheet>('BWLN');
    bwf->annotationTextView()->setPlainText(QStringLiteral("Take 3, room B"));
    bwf->accept();
    ASSERT_TRUE(m_editor->validateOK()) << m_editor->infoText().toStdString();
    conversions.append(m_spec->dictionary());

    // WAVE at 22050 Hz, 8 bits, mixed to mono.
    newConversion();
    m_spec->setConversionName(QStringLiteral("wave"));
    m_editor->chooseFileType('WAVE');
    m_editor->findChild<QCheckBox*>(QStringLiteral("convertSampleRateCheckBox"))->click();
    m_editor->typeSampleRate(QStringLiteral("22050"));
    auto* bits = m_editor->findChild<QCheckBox*>(QStringLiteral("numOfBitsCheckBox"));
    bits->click();
    auto* bitsMenu = m_editor->findChild<QComboBox*>(QStringLiteral("numBitsPopUp"));
    bitsMenu->setCurrentIndex(0);
    emit bitsMenu->activated(0);
    m_editor->findChild<QCheckBox*>(QStringLiteral("channelHandlingCheckBox"))->click();
    auto* channels = m_editor->findChild<QComboBox*>(QStringLiteral("channelHandlingPopUp"));
    const int mix = channels->findData(3);
    channels->setCurrentIndex(mix);
    emit channels->activated(mix);
    ASSERT_TRUE(m_editor->validateOK()) << m_editor->infoText().toStdString();
    conversions.append(m_spec->dictionary());

    // MP3 through the encoder, with a typed title and a genre.
    QString vbrName;
    const bool withMP3 = GetFileTypeEntry('DMP3').value(QStringLiteral("canBeWritten")).toBool() &&
                         peers::Have(QStringLiteral("ffprobe"));
    if (withMP3) {
        newConversion();
        m_spec->setConversionName(QStringLiteral("mp3"));
        auto* lame = open<LAMEOptionsSheet>('DMP3');
        lame->titleMatrix()->button(1)->click();
        lame->titleTextField()->setText(QStringLiteral("Nocturne"));
        lame->genreTable()->setCurrentRow(lame->genres().indexOf(QStringLiteral("Jazz")));
        lame->accept();
        ASSERT_TRUE(m_editor->validateOK()) << m_editor->infoText().toStdString();
        conversions.append(m_spec->dictionary());

        // Variable bit rate, marked as a copy: the name, the editor's row
        // and the log say the quality, not a bit rate.
        newConversion();
        lame = open<LAMEOptionsSheet>('DMP3');
        lame->encodingModeMatrix()->button(2)->click();
        lame->vbrQualityPopup()->setCurrentIndex(2);
        lame->originalCheckbox()->click();
        lame->accept();
        m_editor->doAutomaticName();
        ASSERT_TRUE(m_editor->validateOK()) << m_editor->infoText().toStdString();
        vbrName = m_spec->conversionName();
        EXPECT_TRUE(vbrName.endsWith(QStringLiteral(", VBR quality 2"))) << vbrName.toStdString();
        auto* note = m_editor->findChild<QLabel*>(QStringLiteral("numBitsNote"));
        EXPECT_TRUE(note && note->isVisibleTo(m_editor.get()) && note->text() == QStringLiteral("VBR quality 2"));
        EXPECT_FALSE(m_editor->findChild<QComboBox*>(QStringLiteral("numBitsPopUp"))->isVisibleTo(m_editor.get()));
        conversions.append(m_spec->dictionary());
    }

    // G.729, packed with a RIFF header, where the build writes it.
    const bool withG729 = GetFileTypeEntry('G729').value(QStringLiteral("canBeWritten")).toBool() &&
                          std::unique_ptr<CSoundFile>(CreateSoundFileObject('G729'));
    if (withG729) {
        newConversion();
        m_spec->setConversionName(QStringLiteral("g729"));
        auto* g729 = open<G729OptionsSheet>('G729');
        g729->headerMatrix()->button(1)->click();
        g729->accept();
        auto* g729Channels = m_editor->findChild<QComboBox*>(QStringLiteral("channelHandlingPopUp"));
        g729Channels->setCurrentIndex(g729Channels->findData(3));
        emit g729Channels->activated(g729Channels->currentIndex());
        ASSERT_TRUE(m_editor->validateOK()) << m_editor->infoText().toStdString();
        conversions.append(m_spec->dictionary());
    }

    const QString list = path(QStringLiteral("conversions.plist"));
    WriteText(list, PropertyList::toXml(conversions));
    const QString out = path(QStringLiteral("out"));
    QProcess batch;
    batch.setProcessChannelMode(QProcess::MergedChannels);
    batch.start(QStringLiteral(QM_BATCH_EXE),
                {QStringLiteral("--defaults"), path(QStringLiteral("defaults.plist")), QStringLiteral("--conversions"),
                 list, QStringLiteral("--quiet"), QStringLiteral("-o"), out, input});
    ASSERT_TRUE(batch.waitForFinished(60000));
    QString log;
    for (const QString& name : QDir(out).entryList({QStringLiteral("*.qlg")})) {
        QFile file(out + QLatin1Char('/') + name);
        if (file.open(QIODevice::ReadOnly))
            log += QString::fromUtf8(file.readAll());
    }
    ASSERT_EQ(batch.exitCode(), 0) << batch.readAll().toStdString() << log.toStdString();

    auto soxi = [](const QString& option, const QString& file) {
        return QString::fromUtf8(peers::Run(QStringLiteral("soxi"), {option, file}).out).trimmed();
    };
    const QString vocFile = out + QStringLiteral("/voc/tone.voc");
    QFile vocData(vocFile);
    ASSERT_TRUE(vocData.open(QIODevice::ReadOnly)) << QDir(out + QStringLiteral("/voc")).entryList().join(QLatin1Char(' ')).toStdString();
    const QByteArray vocBytes = vocData.readAll();
    ASSERT_GT(vocBytes.size(), 31);
    EXPECT_EQ(quint8(vocBytes[26]), 1);   // a sound-data block
    EXPECT_EQ(quint8(vocBytes[30]), 131); // its time constant: 256 - 125
    EXPECT_EQ(soxi(QStringLiteral("-r"), vocFile), QStringLiteral("8000"));

    QFile bwfData(out + QStringLiteral("/bwf/tone.wav"));
    ASSERT_TRUE(bwfData.open(QIODevice::ReadOnly));
    EXPECT_TRUE(bwfData.readAll().contains("Take 3, room B"));

    const QString waveFile = out + QStringLiteral("/wave/tone.wav");
    EXPECT_EQ(soxi(QStringLiteral("-r"), waveFile), QStringLiteral("22050"));
    EXPECT_EQ(soxi(QStringLiteral("-b"), waveFile), QStringLiteral("8"));
    EXPECT_EQ(soxi(QStringLiteral("-c"), waveFile), QStringLiteral("1"));

    if (withG729) {
        QDir g729Folder(out + QStringLiteral("/g729"));
        const QStringList made = g729Folder.entryList(QDir::Files);
        ASSERT_EQ(made.size(), 1) << made.join(QLatin1Char(' ')).toStdString();
        QFile g729Data(g729Folder.filePath(made.first()));
        ASSERT_TRUE(g729Data.open(QIODevice::ReadOnly));
        EXPECT_EQ(g729Data.read(4), QByteArray("RIFF"));
    }

    if (withMP3) {
        const QString tags = QString::fromUtf8(
            peers::Run(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format_tags=title,genre", "-of",
                                                   "default=nw=1", out + QStringLiteral("/mp3/tone.mp3")})
                .out);
        EXPECT_TRUE(tags.contains(QStringLiteral("title=Nocturne"))) << tags.toStdString();
        EXPECT_TRUE(tags.contains(QStringLiteral("genre=Jazz"))) << tags.toStdString();
        // The frames' original bit is what the box said.
        EXPECT_EQ(FirstFrameOriginalBit(out + QStringLiteral("/mp3/tone.mp3")), 1);
        EXPECT_EQ(FirstFrameOriginalBit(out + QLatin1Char('/') + vbrName + QStringLiteral("/tone.mp3")), 0);
        EXPECT_TRUE(log.contains(QStringLiteral("Convert number of bits to: VBR quality 2,")));

        // An MP3 input keeps its own tag, and its log line says so.
        const QString song = path(QStringLiteral("song.mp3"));
        ASSERT_EQ(peers::Run(QStringLiteral("ffmpeg"), {"-v", "error", "-f", "lavfi", "-i", "sine=d=0.3", "-metadata",
                                                        "title=Own Title", song})
                      .exitCode,
                  0);
        const QString out2 = path(QStringLiteral("out2"));
        batch.start(QStringLiteral(QM_BATCH_EXE),
                    {QStringLiteral("--defaults"), path(QStringLiteral("defaults.plist")),
                     QStringLiteral("--conversions"), list, QStringLiteral("--conversion"), QStringLiteral("mp3"),
                     QStringLiteral("--quiet"), QStringLiteral("-o"), out2, song});
        ASSERT_TRUE(batch.waitForFinished(60000));
        EXPECT_EQ(batch.exitCode(), 0) << batch.readAll().toStdString();
        const QString title = QString::fromUtf8(
            peers::Run(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format_tags=title", "-of",
                                                   "default=nw=1", out2 + QStringLiteral("/mp3/song.mp3")})
                .out);
        EXPECT_TRUE(title.contains(QStringLiteral("title=Own Title"))) << title.toStdString();
        QString songLog;
        for (const QString& name : QDir(out2).entryList({QStringLiteral("*.qlg")})) {
            QFile file(out2 + QLatin1Char('/') + name);
            if (file.open(QIODevice::ReadOnly))
                songLog += QString::fromUtf8(file.readAll());
        }
        EXPECT_TRUE(songLog.contains(QStringLiteral("the input's own ID3 tag was copied"))) << songLog.toStdString();
        EXPECT_NE(m_editor->findChild<QLabel*>(QStringLiteral("inputTagNote")), nullptr);
    }
}

} // namespace
