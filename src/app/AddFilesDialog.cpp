#include "AddFilesDialog.h"

#include "Localized.h"
#include "SoundFileInfoViewController.h"

#include <QAbstractItemView>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QSet>

AddFilesDialog::AddFilesDialog(QWidget* parent) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFiles);
    setWindowTitle(L("Please select one or more input files:"));
    setLabelText(QFileDialog::Accept, L("Add"));
    allowMultipleSelection();
    // What the current file is, under the list.
    (new SoundFileInfoViewController(this))->attachTo(this);
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
}

void AddFilesDialog::accept()
{
    // The rows selected in the dialog's list, files and folders alike; when
    // nothing is selected there, what the name field holds.
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
