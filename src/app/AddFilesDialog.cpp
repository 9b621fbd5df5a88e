#include "AddFilesDialog.h"

#include "Localized.h"
#include "SoundFileInfoViewController.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTreeView>

AddFilesDialog::AddFilesDialog(QWidget* parent) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFiles);
    setWindowTitle(L("Please select one or more input files:"));
    setLabelText(QFileDialog::Accept, L("Add"));
    allowMultipleSelection();
    if (auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))) {
        m_dialogsButton = buttons->button(QDialogButtonBox::Open);
        m_acceptButton = buttons->addButton(L("Add"), QDialogButtonBox::AcceptRole);
        m_acceptButton->setObjectName(QStringLiteral("addButton"));
        m_acceptButton->setDefault(true);
        if (m_dialogsButton) {
            m_dialogsButton->hide();
            m_dialogsButton->installEventFilter(this);
            m_acceptButton->setEnabled(m_dialogsButton->isEnabled());
        }
    }
    if (auto* field = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        connect(field, &QLineEdit::textChanged, this, &AddFilesDialog::showAcceptLabel);
    // What the current file is, under the list.
    (new SoundFileInfoViewController(this))->attachTo(this);
    // Room for the list's columns and the information view.
    QSize size(960, 680);
    if (const QScreen* screen = parent ? parent->screen() : QApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 0.95);
    resize(size);
}

void AddFilesDialog::allowMultipleSelection()
{
    // Folders are chosen as they are, not only entered.
    for (QAbstractItemView* view : findChildren<QAbstractItemView*>())
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
}

void AddFilesDialog::showEvent(QShowEvent* event)
{
    allowMultipleSelection();
    QFileDialog::showEvent(event);
    // The details fit their text; the name takes the room left.
    if (auto* details = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(QHeaderView::ResizeToContents);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
    }
}

QString AddFilesDialog::typedFolder() const
{
    // Typed and confirmed with Enter in the name field, a folder is opened
    // as in any file panel; folders are added from the list.
    auto* field = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!field || !field->hasFocus())
        return QString();
    QString typed = field->text().trimmed();
    if (typed.isEmpty() || typed.startsWith(QLatin1Char('"')))
        return QString();
    if (typed == QLatin1String("~") || typed.startsWith(QLatin1String("~/")))
        typed = QDir::homePath() + typed.mid(1);
    const QString folder = QDir(directory().absolutePath()).absoluteFilePath(typed);
    return QFileInfo(folder).isDir() ? QDir::cleanPath(folder) : QString();
}

bool AddFilesDialog::openTypedFolder()
{
    const QString folder = typedFolder();
    if (folder.isEmpty())
        return false;
    setDirectory(folder);
    if (auto* field = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        field->clear();
    return true;
}

void AddFilesDialog::showAcceptLabel()
{
    if (m_acceptButton)
        m_acceptButton->setText(typedFolder().isEmpty() ? L("Add") : L("Open"));
}

bool AddFilesDialog::eventFilter(QObject* watched, QEvent* event)
{
    // The dialog enables its button as the selection allows; ours follows.
    if (watched == m_dialogsButton && event->type() == QEvent::EnabledChange && m_acceptButton)
        m_acceptButton->setEnabled(m_dialogsButton->isEnabled());
    return QFileDialog::eventFilter(watched, event);
}

void AddFilesDialog::accept()
{
    // The rows selected in the dialog's list, files and folders alike; when
    // nothing is selected there, what the name field holds.
    if (openTypedFolder())
        return;
    QStringList paths;
    QSet<QString> seen;
    for (QAbstractItemView* view : findChildren<QAbstractItemView*>()) {
        auto* model = qobject_cast<QFileSystemModel*>(view->model());
        if (!model || !view->selectionModel() || !view->isVisible())
            continue;
        for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
            const QString path = model->filePath(index);
            if (!path.isEmpty() && !seen.contains(path)) {
                seen.insert(path);
                paths.append(path);
            }
        }
    }
    if (paths.isEmpty()) {
        QFileDialog::accept();
        m_paths = selectedFiles();
        return;
    }
    m_paths = paths;
    QDialog::accept();
}
