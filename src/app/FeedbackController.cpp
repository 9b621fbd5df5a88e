#include "FeedbackController.h"

#include "AppPresenter.h"
#include "ChildProcess.h"
#include "Localized.h"
#include "MakerAddresses.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

namespace {

const QString kFrameKey = PreferenceKeys::kFeedbackWindowFrame;
// sendmail normally hands the message to the local queue at once.
constexpr int kMailTimeoutMs = 30000;

} // namespace

const QString FeedbackController::kMailProgramKey = PreferenceKeys::kMailProgram;

FeedbackController::FeedbackController(UserDefaults& defaults, QWidget* parent) : QDialog(parent), m_defaults(defaults)
{
    setWindowTitle(L("Feedback"));
    setModal(true);
    m_types = new QButtonGroup(this);
    auto* types = new QHBoxLayout;
    for (int tag = 0; tag < 3; ++tag) {
        auto* button = new QRadioButton(typeName(tag), this);
        m_types->addButton(button, tag);
        types->addWidget(button);
    }
    types->addStretch();
    m_types->button(0)->setChecked(true);
    connect(m_types, &QButtonGroup::idClicked, this, [this](int tag) { m_choice = tag; });

    m_subject = new QLineEdit(this);
    m_subject->setObjectName(QStringLiteral("subjectTextField"));
    m_description = new QPlainTextEdit(this);
    m_description->setObjectName(QStringLiteral("descriptionTextView"));
    connect(m_subject, &QLineEdit::textChanged, this, &FeedbackController::validateOK);
    connect(m_description, &QPlainTextEdit::textChanged, this, &FeedbackController::validateOK);

    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(L("Send"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(L("Cancel"), QDialogButtonBox::RejectRole);
    connect(m_ok, &QPushButton::clicked, this, &FeedbackController::doOK);
    connect(cancel, &QPushButton::clicked, this, &FeedbackController::doCancel);

    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("deliveryNote"));
    m_note->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow(L("Type:"), types);
    form->addRow(L("Subject:"), m_subject);
    form->addRow(L("Description:"), m_description);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_note);
    layout->addLayout(form, 1);
    layout->addWidget(buttons);
    resize(520, 380);

    // The frame saved last time, else centred.
    const QByteArray frame = QByteArray::fromBase64(m_defaults.stringForKey(kFrameKey).toLatin1());
    if (frame.isEmpty() || !restoreGeometry(frame)) {
        if (const QScreen* screen = parent ? parent->screen() : QApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    validateOK();
    showDelivery();
}

void FeedbackController::showEvent(QShowEvent* event)
{
    showDelivery();
    QDialog::showEvent(event);
}

void FeedbackController::showDelivery()
{
    const QString address = MakerAddresses::current().feedback;
    QString note;
    if (address.isEmpty())
        note = L("This build of Quillmarch has no address to send feedback to (it is set when the program is "
                 "built): \"Copy Text\" puts your text on the clipboard instead.");
    else if (mailProgram().isEmpty())
        note = L("No mail program (sendmail) is configured on this computer: \"Copy Text\" puts your text on the "
                 "clipboard, to paste into a new message to %1.")
                   .arg(address);
    m_note->setText(note);
    m_note->setVisible(!note.isEmpty());
    m_ok->setText(note.isEmpty() ? L("Send") : L("Copy Text"));
}

QString FeedbackController::deliveryNote() const
{
    return m_note->text();
}

FeedbackController::~FeedbackController() = default;

QString FeedbackController::typeName(int tag)
{
    switch (tag) {
    case 0:
        return L("Feature Request");
    case 1:
        return L("Bug Report");
    default:
        return L("Feedback");
    }
}

QString FeedbackController::mailSubject() const
{
    return L("Quillmarch 4 %1").arg(typeName(m_choice));
}

QString FeedbackController::mailBody() const
{
    return QStringLiteral("Subject: %1\n\nDescription: %2").arg(m_subject->text(), m_description->toPlainText());
}

QString FeedbackController::mailProgram() const
{
    const QString chosen = m_defaults.stringForKey(kMailProgramKey);
    if (!chosen.isEmpty())
        return ChildProcess::isExecutableFile(chosen.toStdString()) ? chosen : QString();
    for (const char* path : {"/usr/sbin/sendmail", "/usr/lib/sendmail"})
        if (ChildProcess::isExecutableFile(path))
            return QString::fromLatin1(path);
    return QString::fromStdString(ChildProcess::findOnPath("sendmail"));
}

QByteArray FeedbackController::mailMessage(const QString& address, const QString& subject, const QString& body)
{
    // The user's text is only in the body: nothing typed reaches a header.
    QByteArray message;
    message += "To: " + address.toUtf8().replace('\n', ' ').replace('\r', ' ') + "\n";
    message += "Subject: " + subject.toUtf8().replace('\n', ' ').replace('\r', ' ') + "\n";
    message += "MIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n";
    message += body.toUtf8();
    if (!message.endsWith('\n'))
        message += '\n';
    return message;
}

bool FeedbackController::deliver(const QString& program, const QByteArray& message) const
{
    // -t: the recipients from the header; -oi: a line of one "." does not
    // end the message early.
    ChildProcess child;
    child.setStandardInput(message.toStdString());
    if (child.start(program.toStdString(), {"-t", "-oi"}) != 0)
        return false;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kMailTimeoutMs);
    std::string output;
    while (child.read(&output, 100) != ChildProcess::ReadResult::End) {
        if (Clock::now() >= deadline) {
            child.kill();
            return false;
        }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (!child.exited(int(std::max<long long>(0, left)))) {
        child.kill();
        return false;
    }
    return child.reap() == 0;
}

void FeedbackController::doOK()
{
    if (m_subject->text().isEmpty() || m_description->toPlainText().isEmpty())
        return;
    const QString subject = mailSubject();
    const QString body = mailBody();
    const QString address = MakerAddresses::current().feedback;
    const QString program = address.isEmpty() ? QString() : mailProgram();
    if (address.isEmpty()) {
        QApplication::clipboard()->setText(body);
        AppPresenter::showAlert(
            {L("Feedback copied to the clipboard"),
             L("This build of Quillmarch has no address to send feedback to (it is set when the program is built), "
               "so your feedback was not sent. Its text is now on the clipboard."),
             {}, {}, {}},
            this);
    } else if (program.isEmpty()) {
        QApplication::clipboard()->setText(body);
        AppPresenter::showAlert(
            {L("Feedback copied to the clipboard"),
             L("No mail program (sendmail) is configured on this computer, so your feedback was not sent. Its text "
               "is now on the clipboard: please paste it into a new message to %1.")
                 .arg(address),
             {}, {}, {}},
            this);
    } else if (!deliver(program, mailMessage(address, subject, body))) {
        const int answer = AppPresenter::showAlert(
            {L("Message not sent"),
             L("Could not send your feedback message using your current mail configuration, so please try to send "
               "it using your favorite email program.\n\nWould you like to have the text copied to the clipboard, "
               "so you can simply paste it into a new message?"),
             L("Copy Text"), L("Don't Copy Text"), {}},
            this);
        if (answer == 1)
            QApplication::clipboard()->setText(body);
    }
    clearFields();
    saveFrame();
    done(1);
}

void FeedbackController::doCancel()
{
    clearFields();
    saveFrame();
    done(0);
}

void FeedbackController::closeEvent(QCloseEvent* event)
{
    saveFrame();
    QDialog::closeEvent(event);
}

void FeedbackController::validateOK()
{
    m_ok->setEnabled(!m_subject->text().isEmpty() && !m_description->toPlainText().isEmpty());
}

void FeedbackController::clearFields()
{
    m_subject->clear();
    m_description->clear();
}

void FeedbackController::saveFrame()
{
    m_defaults.setString(kFrameKey, QString::fromLatin1(saveGeometry().toBase64()));
}
