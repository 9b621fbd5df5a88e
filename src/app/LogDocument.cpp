#include "LogDocument.h"

#include "AppPresenter.h"
#include "Localized.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTextDocument>

namespace {

// Logs larger than this are not opened as documents.
constexpr qint64 kMaxLogSize = 256LL * 1024 * 1024;

QFont courier(int size)
{
    QFont font(QStringLiteral("Courier"), size);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

} // namespace

LogDocument::LogDocument(QWidget* parent) : QMainWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    m_view = new QPlainTextEdit(this);
    m_view->setFont(courier(12));
    // Long lines (a failure's reason, the hint on duplicates) wrap at the
    // window's width: nothing of a log needs scrolling sideways.
    m_view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_view->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setCentralWidget(m_view);
    connect(m_view->document(), &QTextDocument::modificationChanged, this, &QWidget::setWindowModified);

    QMenu* file = menuBar()->addMenu(L("&File"));
    QAction* save = file->addAction(L("Save"));
    save->setShortcut(QKeySequence::Save);
    connect(save, &QAction::triggered, this, &LogDocument::save);
    QAction* saveAs = file->addAction(L("Save As..."));
    saveAs->setShortcut(QKeySequence::SaveAs);
    connect(saveAs, &QAction::triggered, this, &LogDocument::saveAs);
    file->addSeparator();
    QAction* print = file->addAction(L("Print..."));
    print->setShortcut(QKeySequence::Print);
    connect(print, &QAction::triggered, this, [this] { printShowingPrintPanel(true); });
    file->addSeparator();
    QAction* close = file->addAction(L("Close"));
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, this, &QWidget::close);

    // A hundred characters a line, within the screen.
    QSize size(QFontMetrics(m_view->font()).horizontalAdvance(QString(100, QLatin1Char('x'))) + 40, 560);
    if (const QScreen* screen = QApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(size);
    updateTitle();
}

bool LogDocument::load(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (file.size() > kMaxLogSize) {
        if (error)
            *error = L("The file is too large to be shown.");
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    m_lossy = decoder.hasError();
    m_path = QFileInfo(path).absoluteFilePath();
    m_view->setPlainText(text);
    m_view->document()->setModified(false);
    updateTitle();
    return true;
}

QString LogDocument::text() const
{
    return m_view->toPlainText();
}

void LogDocument::setText(const QString& text)
{
    m_view->setPlainText(text);
    m_view->document()->setModified(true);
}

bool LogDocument::isEdited() const
{
    return m_view->document()->isModified();
}

void LogDocument::save()
{
    if (m_path.isEmpty() || m_lossy) {
        saveAs();
        return;
    }
    QString error;
    if (!saveTo(m_path, &error))
        AppPresenter::showAlert({L("Error"), L("The log could not be saved: %1").arg(error), {}, {}, {}}, this);
}

void LogDocument::saveAs()
{
    auto* dialog = new QFileDialog(this, L("Save Log"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("qlg"));
    dialog->setNameFilter(L("Quillmarch logs (*.qlg)"));
    if (!m_path.isEmpty())
        dialog->setDirectory(QFileInfo(m_path).absolutePath());
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        QString error;
        if (!saveTo(path, &error))
            AppPresenter::showAlert({L("Error"), L("The log could not be saved: %1").arg(error), {}, {}, {}},
                                    this);
    });
    dialog->open();
}

bool LogDocument::saveTo(const QString& path, QString* error)
{
    // A lossy text never replaces the file it came from.
    if (m_lossy && QFileInfo(path).absoluteFilePath() == m_path) {
        if (error)
            *error = L("The file was not valid UTF-8; save it under a new name.");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.write(text().toUtf8());
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    m_path = QFileInfo(path).absoluteFilePath();
    m_lossy = false;
    m_view->document()->setModified(false);
    updateTitle();
    return true;
}

void LogDocument::printTo(QPrinter* printer) const
{
    QTextDocument document;
    document.setDefaultFont(courier(9));
    document.setPlainText(text());
    document.print(printer);
}

void LogDocument::printShowingPrintPanel(bool showPanels)
{
    QPrinter printer;
    if (showPanels) {
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() != QDialog::Accepted)
            return;
    }
    printTo(&printer);
}

void LogDocument::closeEvent(QCloseEvent* event)
{
    if (!isEdited()) {
        event->accept();
        return;
    }
    Alert alert;
    alert.title = L("Do you want to save the changes you made in the log?");
    alert.message = L("Your changes will be lost if you don't save them.");
    alert.defaultButton = L("Save");
    alert.alternateButton = L("Cancel");
    alert.otherButton = L("Don't Save");
    switch (AppPresenter::showAlert(alert, this)) {
    case 1:
        if (!m_path.isEmpty() && !m_lossy && saveTo(m_path)) {
            event->accept();
        } else {
            event->ignore();
            saveAs();
        }
        break;
    case -1: event->accept(); break;
    default: event->ignore(); break;
    }
}

void LogDocument::updateTitle()
{
    const QString name = m_path.isEmpty() ? L("Untitled") : QFileInfo(m_path).fileName();
    setWindowTitle(name + QStringLiteral("[*]"));
    setWindowModified(isEdited());
}
