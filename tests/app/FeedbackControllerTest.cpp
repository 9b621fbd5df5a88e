// The feedback window: when it may be sent, the subject by type, the mail
// handed to sendmail (a stand-in script records it), a failing sendmail,
// no sendmail at all and a build without a feedback address (the text goes
// to the clipboard).
#include "AppTestSupport.h"
#include "FeedbackController.h"
#include "MakerAddresses.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

// A line of one "." and a character beyond Latin-1.
QString Text()
{
    return QString::fromUtf8("one\n.\ntwo \xE2\x82\xAC");
}

const MakerAddresses kAddresses{{}, {}, QStringLiteral("feedback@example.org")};

class FeedbackControllerTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        MakerAddresses::setForTesting(&kAddresses);
    }
    void TearDown() override
    {
        MakerAddresses::setForTesting(nullptr);
        AppTest::TearDown();
    }
    void fill(FeedbackController& window, const QString& subject, const QString& text)
    {
        window.subjectTextField()->setText(subject);
        window.descriptionTextView()->setPlainText(text);
    }
    // A stand-in sendmail that keeps its arguments and input, and exits
    // with `status`.
    QString fakeSendmail(int status)
    {
        const QString script = path(QStringLiteral("sendmail"));
        WriteText(script, QStringLiteral("#!/bin/sh\necho \"$@\" > '%1.args'\ncat > '%1.mail'\nexit %2\n")
                              .arg(script)
                              .arg(status)
                              .toUtf8());
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_defaults->setString(FeedbackController::kMailProgramKey, script);
        return script;
    }
};

} // namespace

TEST_F(FeedbackControllerTest, SendableOnlyWithSubjectAndDescription)
{
    FeedbackController window(*m_defaults);
    EXPECT_FALSE(window.okButton()->isEnabled());
    fill(window, QStringLiteral("Crash"), QString());
    EXPECT_FALSE(window.okButton()->isEnabled());
    fill(window, QString(), QStringLiteral("It crashed."));
    EXPECT_FALSE(window.okButton()->isEnabled());
    fill(window, QStringLiteral("Crash"), QStringLiteral("It crashed."));
    EXPECT_TRUE(window.okButton()->isEnabled());

    EXPECT_EQ(window.mailSubject(), QStringLiteral("Quillmarch 4 Feature Request"));
    window.typeGroup()->button(1)->click();
    EXPECT_EQ(window.mailSubject(), QStringLiteral("Quillmarch 4 Bug Report"));
    window.typeGroup()->button(2)->click();
    EXPECT_EQ(window.mailSubject(), QStringLiteral("Quillmarch 4 Feedback"));
    EXPECT_EQ(FeedbackController::typeName(7), QStringLiteral("Feedback"));
    EXPECT_EQ(window.mailBody(), QStringLiteral("Subject: Crash\n\nDescription: It crashed."));
}

TEST_F(FeedbackControllerTest, DeliveryThroughSendmailOrTheClipboard)
{
    QApplication::clipboard()->setText(QStringLiteral("before"));
    const QString body = QStringLiteral("Subject: Dots\n\nDescription: ") + Text();

    // A working sendmail gets the whole message with -t -oi; nothing is
    // copied and nothing is shown.
    {
        const QString script = fakeSendmail(0);
        FeedbackController window(*m_defaults);
        window.show();
        EXPECT_TRUE(window.deliveryNote().isEmpty());
        EXPECT_EQ(window.okButton()->text(), QStringLiteral("Send"));
        window.typeGroup()->button(1)->click();
        fill(window, QStringLiteral("Dots"), Text());
        window.doOK();
        EXPECT_EQ(window.result(), 1);
        EXPECT_TRUE(m_alerts.isEmpty());
        EXPECT_TRUE(window.subjectTextField()->text().isEmpty());
        EXPECT_TRUE(window.descriptionTextView()->toPlainText().isEmpty());
        QFile args(script + QStringLiteral(".args"));
        QFile mail(script + QStringLiteral(".mail"));
        ASSERT_TRUE(args.open(QIODevice::ReadOnly) && mail.open(QIODevice::ReadOnly));
        EXPECT_EQ(args.readAll(), QByteArray("-t -oi\n"));
        const QByteArray message = mail.readAll();
        EXPECT_EQ(message, FeedbackController::mailMessage(kAddresses.feedback, QStringLiteral("Quillmarch 4 Bug Report"),
                                                           body));
        EXPECT_TRUE(message.startsWith("To: feedback@example.org\nSubject: Quillmarch 4 Bug Report\n"));
        EXPECT_TRUE(message.endsWith(body.toUtf8() + "\n"));
        EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
    }

    // A failing sendmail: the alert; "Copy Text" copies the body only,
    // "Don't Copy Text" copies nothing.
    fakeSendmail(75);
    for (int answer : {0, 1}) {
        AppPresenter::setAlertAnswerer([this, answer](const Alert& alert) {
            m_alerts.append(alert);
            return answer;
        });
        m_alerts.clear();
        FeedbackController window(*m_defaults);
        fill(window, QStringLiteral("Dots"), Text());
        window.doOK();
        ASSERT_EQ(m_alerts.size(), 1);
        EXPECT_EQ(m_alerts[0].title, QStringLiteral("Message not sent"));
        EXPECT_EQ(m_alerts[0].defaultButton, QStringLiteral("Copy Text"));
        EXPECT_EQ(m_alerts[0].alternateButton, QStringLiteral("Don't Copy Text"));
        EXPECT_EQ(QApplication::clipboard()->text(), answer == 1 ? body : QStringLiteral("before"));
        EXPECT_EQ(window.result(), 1);
    }

    // No mail program: the body goes to the clipboard, and the user is told.
    QApplication::clipboard()->setText(QStringLiteral("before"));
    m_defaults->setString(FeedbackController::kMailProgramKey, path(QStringLiteral("no-such-sendmail")));
    m_alerts.clear();
    FeedbackController window(*m_defaults);
    EXPECT_TRUE(window.mailProgram().isEmpty());
    // Said when the window opens, not only after the button.
    window.show();
    EXPECT_TRUE(window.deliveryNote().contains(kAddresses.feedback));
    EXPECT_EQ(window.okButton()->text(), QStringLiteral("Copy Text"));
    fill(window, QStringLiteral("Dots"), Text());
    window.doOK();
    EXPECT_EQ(QApplication::clipboard()->text(), body);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].title, QStringLiteral("Feedback copied to the clipboard"));
    EXPECT_TRUE(m_alerts[0].message.contains(kAddresses.feedback));
    EXPECT_EQ(window.result(), 1);

    // A build without a feedback address: nothing goes to sendmail, the
    // text goes to the clipboard, and the alert says why.
    const QString script = fakeSendmail(0);
    QFile::remove(script + QStringLiteral(".mail"));
    MakerAddresses::setForTesting(nullptr);
    if (!MakerAddresses::current().feedback.isEmpty())
        return;  // this build has an address
    QApplication::clipboard()->setText(QStringLiteral("before"));
    m_alerts.clear();
    FeedbackController unaddressed(*m_defaults);
    unaddressed.show();
    EXPECT_TRUE(unaddressed.deliveryNote().startsWith(QStringLiteral("This build of Quillmarch has no address")));
    fill(unaddressed, QStringLiteral("Dots"), Text());
    unaddressed.doOK();
    EXPECT_FALSE(QFile::exists(script + QStringLiteral(".mail")));
    EXPECT_EQ(QApplication::clipboard()->text(), body);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_TRUE(m_alerts[0].message.startsWith(QStringLiteral("This build of Quillmarch has no address")));
}
