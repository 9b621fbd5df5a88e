#include "AddFilesErrorsController.h"

#include "AppPresenter.h"
#include "ControlTools.h"
#include "Localized.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLayout>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>

namespace {
const QString kFrameKey = PreferenceKeys::kAddFilesErrorsFrame;
constexpr int kPathRole = Qt::UserRole + 1;
} // namespace

AddFilesErrorsController::AddFilesErrorsController(UserDefaults& defaults, QWidget* parent)
    : QDialog(parent), m_defaults(defaults)
{
    setWindowTitle(L("Files Not Added"));
    setModal(false);
    m_table = new QTreeWidget(this);
    m_table->setHeaderHidden(true);
    m_table->setRootIsDecorated(true);
    m_openButton = new QPushButton(L("Show in File Manager"), this);
    m_openButton->setEnabled(false);
    auto* saveButton = new QPushButton(L("Save as Text..."), this);
    auto* closeButton = new QPushButton(L("Close"), this);
    // Return closes the list, wherever the focus is.
    closeButton->setDefault(true);
    m_openButton->setAutoDefault(false);
    saveButton->setAutoDefault(false);
    ControlTools::LayOutOverButtonRow(this, m_table, 0, {m_openButton, saveButton}, {closeButton});

    connect(m_table, &QTreeWidget::itemSelectionChanged, this, &AddFilesErrorsController::selectionChanged);
    connect(m_table, &QTreeWidget::itemDoubleClicked, this, [this] { openInFileManager(); });
    connect(m_openButton, &QPushButton::clicked, this, &AddFilesErrorsController::openInFileManager);
    connect(saveButton, &QPushButton::clicked, this, &AddFilesErrorsController::chooseFileAndSave);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);

    const QByteArray frame = QByteArray::fromBase64(m_defaults.stringForKey(kFrameKey).toLatin1());
    if (frame.isEmpty() || !restoreGeometry(frame))
        resize(560, 320);
}

AddFilesErrorsController::~AddFilesErrorsController() = default;

void AddFilesErrorsController::hideEvent(QHideEvent* event)
{
    m_defaults.setString(kFrameKey, QString::fromLatin1(saveGeometry().toBase64()));
    QDialog::hideEvent(event);
}

void AddFilesErrorsController::reset()
{
    m_items.clear();
    m_table->clear();
    selectionChanged();
}

void AddFilesErrorsController::setPaths(const QStringList& paths, const QString& description)
{
    m_items.append(Group{description, paths});
    auto* title = new QTreeWidgetItem(m_table, QStringList(description));
    QFont bold = title->font(0);
    bold.setBold(true);
    title->setFont(0, bold);
    // What a narrower window cuts, the tooltip shows whole.
    title->setToolTip(0, description);
    for (const QString& path : paths) {
        auto* item = new QTreeWidgetItem(title, QStringList(path));
        item->setData(0, kPathRole, path);
        item->setToolTip(0, path);
    }
    title->setExpanded(true);
    // Wide enough for the heading, within the screen.
    const int wanted = QFontMetrics(bold).horizontalAdvance(description) + m_table->indentation() +
                       2 * m_table->frameWidth() + m_table->verticalScrollBar()->sizeHint().width() +
                       layout()->contentsMargins().left() + layout()->contentsMargins().right() + 8;
    const int room = screen() ? screen()->availableGeometry().width() * 9 / 10 : wanted;
    if (width() < std::min(wanted, room))
        resize(std::min(wanted, room), height());
}

QString AddFilesErrorsController::textForGroups(const QList<Group>& groups)
{
    QString text;
    for (const Group& group : groups) {
        text += group.description + QLatin1Char('\n');
        for (const QString& path : group.paths)
            text += QLatin1Char('\t') + path + QLatin1Char('\n');
        text += QLatin1Char('\n');
    }
    return text;
}

bool AddFilesErrorsController::saveAsText(const QString& path, QString* error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.write(textForGroups(m_items).toUtf8());
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

void AddFilesErrorsController::chooseFileAndSave()
{
    QFileDialog dialog(this, L("Save as Text"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(L("FileAddErrors.txt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    QString error;
    if (!saveAsText(path, &error)) {
        Alert alert;
        alert.title = L("Could not save the list");
        alert.message = QStringLiteral("%1: %2").arg(path, error);
        AppPresenter::showAlert(alert, this);
    }
}

QString AddFilesErrorsController::selectedPath() const
{
    const QList<QTreeWidgetItem*> selected = m_table->selectedItems();
    if (selected.size() != 1)
        return QString();
    return selected.constFirst()->data(0, kPathRole).toString();
}

void AddFilesErrorsController::selectPath(const QString& path)
{
    m_table->clearSelection();
    for (int g = 0; g < m_table->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = m_table->topLevelItem(g);
        if (group->text(0) == path) {
            group->setSelected(true);
            return;
        }
        for (int i = 0; i < group->childCount(); ++i)
            if (group->child(i)->data(0, kPathRole).toString() == path) {
                group->child(i)->setSelected(true);
                return;
            }
    }
}

void AddFilesErrorsController::selectionChanged()
{
    m_openButton->setEnabled(!selectedPath().isEmpty());
}

bool AddFilesErrorsController::openInFileManagerEnabled() const
{
    return m_openButton->isEnabled();
}

void AddFilesErrorsController::openInFileManager()
{
    const QString path = selectedPath();
    if (path.isEmpty())
        return;
    AppPresenter::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}
