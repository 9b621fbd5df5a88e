// The log window: opening, editing, saving and reopening logs, logs that
// are not UTF-8, closing with unsaved edits, and printing the current text.
#include "AppTestSupport.h"
#include "LogDocument.h"

#include <QCoreApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrinter>
#include <QScrollBar>

namespace {

class LogDocumentTest : public AppTest {
protected:
    // Writes `bytes` as `name`; its path.
    QString write(const QString& name, const QByteArray& bytes) const
    {
        WriteText(path(name), bytes);
        return path(name);
    }
    QByteArray read(const QString& name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    int printedPages(LogDocument& log, const QString& name) const
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path(name));
        log.printTo(&printer);
        return int(read(name).count("/Type /Page\n") + read(name).count("/Type /Page\r"));
    }
};

} // namespace

TEST_F(LogDocumentTest, OpensEditsSavesAndReopensUnchanged)
{
    const QByteArray original = "Quillmarch Log File\n \xC3\xA9t\xC3\xA9 \xE2\x99\xAA take\n*broken \xF0\x9F\x8E\xB5\n";
    LogDocument log;
    ASSERT_TRUE(log.load(write(QStringLiteral("run.qlg"), original)));
    EXPECT_FALSE(log.lossyLoad());
    EXPECT_EQ(log.text().toUtf8(), original);
    EXPECT_FALSE(log.isEdited());
    EXPECT_EQ(log.textView()->font().pointSize(), 12);
    EXPECT_TRUE(log.textView()->font().fixedPitch());
    // A long line (a reason, the hint on duplicates) wraps at the window's
    // width: nothing needs scrolling sideways.
    LogDocument wide;
    ASSERT_TRUE(wide.load(write(QStringLiteral("wide.qlg"), QByteArray("word ").repeated(60))));
    wide.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(wide.textView()->horizontalScrollBar()->maximum(), 0);

    log.textView()->appendPlainText(QStringLiteral("note: \u00fcber"));
    EXPECT_TRUE(log.isEdited());
    EXPECT_TRUE(log.isWindowModified());
    log.save();
    EXPECT_FALSE(log.isEdited());
    const QByteArray saved = read(QStringLiteral("run.qlg"));
    EXPECT_TRUE(saved.startsWith(original));
    EXPECT_TRUE(saved.endsWith("note: \xC3\xBC" "ber"));
    EXPECT_EQ(saved, log.text().toUtf8());

    LogDocument again;
    ASSERT_TRUE(again.load(path(QStringLiteral("run.qlg"))));
    EXPECT_EQ(again.text(), log.text());

    // Unreadable files open no document.
    LogDocument missing;
    QString error;
    EXPECT_FALSE(missing.load(path(QStringLiteral("none.qlg")), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(LogDocumentTest, ALogThatIsNotUtf8IsShownButNeverSavedOver)
{
    const QByteArray bytes = "caf\xE9 \xFF\xFE ok\n";
    LogDocument log;
    ASSERT_TRUE(log.load(write(QStringLiteral("latin.qlg"), bytes)));
    EXPECT_TRUE(log.lossyLoad());
    EXPECT_TRUE(log.text().contains(QChar(QChar::ReplacementCharacter)));
    EXPECT_TRUE(log.text().endsWith(QStringLiteral(" ok\n")));

    log.textView()->appendPlainText(QStringLiteral("edited"));
    QString error;
    EXPECT_FALSE(log.saveTo(path(QStringLiteral("latin.qlg")), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(read(QStringLiteral("latin.qlg")), bytes);
    // Under a new name it is saved, and from then on it is that file's.
    ASSERT_TRUE(log.saveTo(path(QStringLiteral("fixed.qlg"))));
    EXPECT_FALSE(log.lossyLoad());
    EXPECT_EQ(log.path(), path(QStringLiteral("fixed.qlg")));
    EXPECT_EQ(QString::fromUtf8(read(QStringLiteral("fixed.qlg"))), log.text());
    EXPECT_EQ(read(QStringLiteral("latin.qlg")), bytes);
}

TEST_F(LogDocumentTest, ClosingWithEditsAsksAndPrintingUsesTheCurrentText)
{
    QPointer<LogDocument> log = new LogDocument;
    ASSERT_TRUE(log->load(write(QStringLiteral("short.qlg"), "one line\n")));
    const int before = printedPages(*log, QStringLiteral("before.pdf"));
    EXPECT_EQ(before, 1);

    // Unsaved edits are printed.
    QString many;
    for (int i = 0; i < 400; ++i)
        many += QStringLiteral("line %1 of the edited log\n").arg(i);
    log->setText(many);
    EXPECT_GT(printedPages(*log, QStringLiteral("after.pdf")), 1);

    // Cancel (0) keeps the window; "Don't Save" (-1) closes without saving.
    AppPresenter::setAlertAnswerer([this](const Alert& alert) {
        m_alerts.append(alert);
        return 0;
    });
    log->show();
    EXPECT_FALSE(log->close());
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts.at(0).defaultButton, QStringLiteral("Save"));
    AppPresenter::setAlertAnswerer([](const Alert&) { return -1; });
    EXPECT_TRUE(log->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(log.isNull());
    EXPECT_EQ(read(QStringLiteral("short.qlg")), QByteArray("one line\n"));
}
