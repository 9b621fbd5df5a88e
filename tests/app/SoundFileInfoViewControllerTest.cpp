// The file-information view of the add-files panel on real files (AIFF made
// by sox, WAVE, an MP3 with ID3 tags made by lame), on folders, unreadable
// files and several files, and its attribute table.
#include "AddFilesDialog.h"
#include "AppTestSupport.h"
#include "ChildProcess.h"
#include "SoundFileInfoViewController.h"
#include "ZuSoundFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>

#include <sys/stat.h>

namespace {

class SoundFileInfoViewControllerTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        startController();
    }
    QMap<QString, QString> describe(const QString& file)
    {
        m_info.showPath(file);
        QMap<QString, QString> lines;
        for (const auto& line : m_info.info())
            lines.insert(line.first, line.second);
        return lines;
    }
    bool run(const std::string& program, const std::vector<std::string>& arguments)
    {
        const std::string found = ChildProcess::findOnPath(program);
        if (found.empty())
            return false;
        std::string output;
        return ChildProcess::run(found, arguments, &output, 20000) == 0;
    }
    SoundFileInfoViewController m_info;
};

} // namespace

TEST_F(SoundFileInfoViewControllerTest, DescribesAiffWaveAndTaggedMp3)
{
    const QString wave = path(QStringLiteral("tone.wav"));
    WriteWave(wave, 11025, 22050, 1, 16);
    const QString aiff = path(QStringLiteral("tone.aif"));
    const QString mp3 = path(QStringLiteral("song.mp3"));
    if (!run("sox", {"-n", "-r", "48000", "-c", "2", "-b", "24", aiff.toStdString(), "synth", "0.5", "sine", "440"}) ||
        !run("lame", {"--quiet", "-b", "128", "--tt", "Quill Song", "--ta", "The Quills", "--tl", "Feathers",
                      "--ty", "2001", "--add-id3v2", wave.toStdString(), mp3.toStdString()}))
        GTEST_SKIP() << "sox or lame missing";

    struct Case {
        QString path, bitsLabel, bits, rate, length;
    };
    const Case cases[] = {
        {wave, QStringLiteral("Word Size"), QStringLiteral("^16 bits$"), QStringLiteral("22050.00 Hz"),
         QStringLiteral("00:00:00.500")},
        {aiff, QStringLiteral("Word Size"), QStringLiteral("^24 bits$"), QStringLiteral("48000.00 Hz"),
         QStringLiteral("00:00:00.500")},
        {mp3, QStringLiteral("Bit Rate"), QStringLiteral("^1[0-9][0-9] kbps$"), QStringLiteral("22050.00 Hz"), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const QMap<QString, QString> lines = describe(c.path);
        const QString name = ZuSoundFile::soundFileWithPath(c.path)->name();
        EXPECT_EQ(lines.value(QStringLiteral("File")), name);
        EXPECT_FALSE(lines.value(QStringLiteral("Type")).isEmpty());
        EXPECT_EQ(lines.value(QStringLiteral("Sample Rate")), c.rate);
        // The MP3's rate is what the movie layer measures over the file.
        EXPECT_TRUE(QRegularExpression(c.bits).match(lines.value(c.bitsLabel)).hasMatch()) << c.bitsLabel.toStdString();
        EXPECT_FALSE(lines.contains(QStringLiteral("Bits")));
        EXPECT_FALSE(lines.value(QStringLiteral("Channels")).isEmpty());
        if (!c.length.isEmpty()) {
            EXPECT_EQ(lines.value(QStringLiteral("Length")), c.length);
        }
        // The first line is the selection; the view shows every line as
        // "\tLABEL:\tVALUE".
        EXPECT_EQ(m_info.info().first().first, QStringLiteral("File"));
        const QTextDocument* document = m_info.infoTextView()->document();
        EXPECT_EQ(document->blockCount(), m_info.info().size());
        EXPECT_EQ(document->firstBlock().text(), QStringLiteral("\tFile:\t") + name);
    }
    const QMap<QString, QString> tagged = describe(mp3);
    EXPECT_EQ(tagged.value(QStringLiteral("Title")), QStringLiteral("Quill Song"));
    EXPECT_EQ(tagged.value(QStringLiteral("Artist")), QStringLiteral("The Quills"));
    EXPECT_EQ(tagged.value(QStringLiteral("Album")), QStringLiteral("Feathers"));
    EXPECT_EQ(tagged.value(QStringLiteral("Year")), QStringLiteral("2001"));
    EXPECT_FALSE(describe(wave).contains(QStringLiteral("Title")));
    // The panel follows its current file.
    AddFilesDialog panel;
    panel.setDirectory(QFileInfo(mp3).absolutePath());
    panel.show();
    auto* info = panel.findChild<QTextEdit*>(QStringLiteral("infoTextView"));
    ASSERT_NE(info, nullptr);
    emit panel.currentChanged(mp3);
    EXPECT_TRUE(info->toPlainText().contains(QStringLiteral("Title:\tQuill Song")));
}

TEST_F(SoundFileInfoViewControllerTest, SelectionsFoldersAndUnreadableFiles)
{
    EXPECT_EQ(describe(QString()), (QMap<QString, QString>{{QStringLiteral("Selection"), QStringLiteral("Nothing selected.")}}));

    QDir().mkpath(path(QStringLiteral("Takes")));
    WriteWave(path(QStringLiteral("Takes/a.wav")), 1000);
    EXPECT_EQ(describe(path(QStringLiteral("Takes"))),
              (QMap<QString, QString>{{QStringLiteral("Folder"), QStringLiteral("Takes")}}));

    WriteText(path(QStringLiteral("notes.txt")), QByteArray(2048, 'x'));
    const QMap<QString, QString> text = describe(path(QStringLiteral("notes.txt")));
    ASSERT_EQ(text.size(), 1);
    const auto model = ZuSoundFile::soundFileWithPath(path(QStringLiteral("notes.txt")));
    // Its name, size and (when it has one) its type: no empty piece.
    const QString described = text.value(QStringLiteral("File"));
    EXPECT_EQ(described, QStringList({QStringLiteral("'notes.txt'"), QStringLiteral("2.00 kB"), model->descriptor()})
                             .filter(QRegularExpression(QStringLiteral("."))).join(QStringLiteral(", ")));
    EXPECT_FALSE(described.endsWith(QLatin1Char(',')) || described.endsWith(QStringLiteral(", ")));

    // A pipe is described without being opened (that would wait).
    const QString fifo = path(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    EXPECT_EQ(describe(fifo), (QMap<QString, QString>{{QStringLiteral("File"), QStringLiteral("'pipe'")}}));

    m_info.setList({model, ZuSoundFile::soundFileWithPath(path(QStringLiteral("Takes/a.wav")))});
    m_info.updateInfo();
    ASSERT_EQ(m_info.info().size(), 1);
    EXPECT_EQ(m_info.info().first(), qMakePair(QStringLiteral("Selection"), QStringLiteral("2 items.")));
}

TEST_F(SoundFileInfoViewControllerTest, AttributeTableAndTabStops)
{
    const QString wave = path(QStringLiteral("bwf.wav"));
    WriteWave(wave, 4410, 44100, 2, 16);
    auto entry = [](const char* key, const char* value) {
        return QVariantMap{{QStringLiteral("key"), QString::fromUtf8(key)},
                           {QStringLiteral("value"), QString::fromUtf8(value)}};
    };
    // Unknown names and empty values add nothing; "Status" shows its text;
    // a label met again keeps its place and takes the later value.
    m_info.setAttributes({entry("Rate", "displaySampleRate"), entry("Bogus", "noSuchReader"),
                          entry("Markers", "displayMarkers"), entry("Status", "Ready to convert"),
                          entry("Extra", "specifics:noSuchKey"), entry("Rate", "displayChannels"),
                          entry("Bits", "displayBits")});
    const auto lines = [&] {
        m_info.showPath(wave);
        return m_info.info();
    }();
    const QList<SoundFileInfoViewController::Line> expected = {
        {QStringLiteral("File"), ZuSoundFile::soundFileWithPath(wave)->name()},
        {QStringLiteral("Rate"), ZuSoundFile::soundFileWithPath(wave)->displayChannels()},
        {QStringLiteral("Status"), QStringLiteral("Ready to convert")},
        {QStringLiteral("Word Size"), QStringLiteral("16 bits")},
    };
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(SoundFileInfoViewController::valueForName(*ZuSoundFile::soundFileWithPath(wave),
                                                          QStringLiteral("deleteLater"))
                    .isNull());

    // The label column ends two spaces after the widest bold label; the
    // value column 8 points further, where wrapped lines start too.
    QFont bold = m_info.infoTextView()->document()->firstBlock().begin().fragment().charFormat().font();
    EXPECT_TRUE(bold.bold());
    const QFontMetricsF metrics(bold);
    const double widest = metrics.horizontalAdvance(QStringLiteral("Word Size")) + metrics.horizontalAdvance(QStringLiteral("  "));
    EXPECT_DOUBLE_EQ(m_info.labelColumnWidth(), widest);
    const QTextBlockFormat format = m_info.infoTextView()->document()->lastBlock().blockFormat();
    ASSERT_EQ(format.tabPositions().size(), 2);
    EXPECT_DOUBLE_EQ(format.tabPositions()[0].position, widest);
    EXPECT_EQ(format.tabPositions()[0].type, QTextOption::RightTab);
    EXPECT_DOUBLE_EQ(format.tabPositions()[1].position, widest + 8.0);
    EXPECT_DOUBLE_EQ(format.leftMargin(), widest + 8.0);
    // Labels and values stand on the view's own background.
    for (QTextBlock block = m_info.infoTextView()->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            EXPECT_FALSE(it.fragment().charFormat().hasProperty(QTextFormat::BackgroundBrush))
                << it.fragment().text().toStdString();
}
