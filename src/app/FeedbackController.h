// The feedback window: a feature request, a bug report or general feedback
// with a subject and a description, sent by mail to the maker.  The mail
// goes through the computer's sendmail program (`sendmail -t -oi`, the
// message on its standard input); where none is configured the text is put
// on the clipboard, and the user is told so, to be sent by other means.
// When sendmail fails the user may have the text copied to the clipboard.
//
// The mail program is the user default "Mail Program" when set (a path;
// nothing when it cannot be run), else the first of /usr/sbin/sendmail,
// /usr/lib/sendmail and a "sendmail" on the PATH.  The address is a setting
// of the build (MakerAddresses); a build without one puts the text on the
// clipboard and says that it has no address to send it to.
#pragma once

#include <QDialog>
#include <QString>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class UserDefaults;

class FeedbackController : public QDialog {
    Q_OBJECT
public:
    static const QString kMailProgramKey;  // "Mail Program"

    explicit FeedbackController(UserDefaults& defaults, QWidget* parent = nullptr);
    ~FeedbackController() override;

    // The feedback type's name by its tag: 0 "Feature Request", 1 "Bug
    // Report", any other "Feedback".
    static QString typeName(int tag);
    // "Quillmarch 4 TYPE" and "Subject: SUBJECT\n\nDescription: TEXT".
    QString mailSubject() const;
    QString mailBody() const;
    // The program that sends mail; empty when none is configured.
    QString mailProgram() const;
    // The whole message sendmail reads, to `address`.
    static QByteArray mailMessage(const QString& address, const QString& subject, const QString& body);

    QLineEdit* subjectTextField() const { return m_subject; }
    QPlainTextEdit* descriptionTextView() const { return m_description; }
    QPushButton* okButton() const { return m_ok; }
    // What the window says at once when the feedback cannot be sent (empty
    // when it can): the build has no address or the computer no mail
    // program, so the button copies the text instead.
    QString deliveryNote() const;
    QButtonGroup* typeGroup() const { return m_types; }
    int choice() const { return m_choice; }

    // Sends (or copies), empties the fields, closes with code 1.
    void doOK();
    // Empties the fields and closes.
    void doCancel();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void validateOK();
    // The note and the button's title for how the feedback leaves.
    void showDelivery();
    void clearFields();
    void saveFrame();
    // Runs the mail program; false when it failed or took too long.
    bool deliver(const QString& program, const QByteArray& message) const;

    UserDefaults& m_defaults;
    int m_choice = 0;
    QButtonGroup* m_types = nullptr;
    QLineEdit* m_subject = nullptr;
    QPlainTextEdit* m_description = nullptr;
    QPushButton* m_ok = nullptr;
    QLabel* m_note = nullptr;
};
