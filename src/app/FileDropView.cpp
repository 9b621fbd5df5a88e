#include "FileDropView.h"

#include "CreateSoundFile.h"
#include "FileManager.h"
#include "Localized.h"
#include "MainBundle.h"
#include "NotificationCenter.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

namespace {

QString firstDropItem(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return QString();
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return QString();
}

} // namespace

FileDropView::FileDropView(QWidget* parent) : QWidget(parent)
{
    setAcceptDrops(true);
    m_filename = L("<drop a file or folder here>");
    m_icon = QIcon(MainBundle::pathForResource(QStringLiteral("quillmarch"), QStringLiteral("png"),
                                               QStringLiteral("images")));
}

QSize FileDropView::sizeHint() const
{
    return QSize(260, 40);
}

bool FileDropView::accepts(const QString& path) const
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return false;
    if (info.isDir())
        return m_acceptsDirectories;
    if (!m_acceptsFiles)
        return false;
    if (m_acceptableTypes.isEmpty())
        return true;
    if (m_acceptableTypes.contains(info.suffix()))
        return true;
    // The HFS type from the file's Finder information (links followed).
    FSSpec spec;
    FInfo finderInfo;
    if (PathMakeFSSpec(info.canonicalFilePath().toStdString(), &spec) != noErr ||
        FSpGetFInfo(&spec, &finderInfo) != noErr || finderInfo.fdType == 0)
        return false;
    for (const QString& type : m_acceptableTypes)
        if (HFSTypeCodeFromFileType(type) == finderInfo.fdType)
            return true;
    return false;
}

bool FileDropView::dropPath(const QString& path)
{
    if (!accepts(path))
        return false;
    m_dragSessionInProgress = false;
    m_filename = path;
    m_icon = QFileIconProvider().icon(QFileInfo(path));
    update();
    NotificationCenter::defaultCenter().postNotification(QStringLiteral("ZuFileDropViewNotification"), path, this);
    return true;
}

void FileDropView::dragEnterEvent(QDragEnterEvent* event)
{
    if (accepts(firstDropItem(event->mimeData()))) {
        m_dragSessionInProgress = true;
        update();
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void FileDropView::dragLeaveEvent(QDragLeaveEvent* event)
{
    m_dragSessionInProgress = false;
    update();
    QWidget::dragLeaveEvent(event);
}

void FileDropView::dropEvent(QDropEvent* event)
{
    if (dropPath(firstDropItem(event->mimeData()))) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        m_dragSessionInProgress = false;
        update();
        event->ignore();
    }
}

void FileDropView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    painter.setPen(QPen(palette().color(QPalette::Mid), 1, Qt::DashLine));
    painter.drawRoundedRect(frame, 6, 6);
    if (m_dragSessionInProgress) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 3));
        painter.drawRoundedRect(frame, 6, 6);
    }
    if (m_onlyNotifyOnDrop) {
        // The owner shows the result; the well shows what it takes.
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter,
                         L("Drop a folder here"));
        return;
    }
    const QRect iconRect(8, (height() - 16) / 2, 16, 16);
    m_icon.paint(&painter, iconRect);
    const QString title = m_fullPath ? m_filename : QFileInfo(m_filename).fileName();
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect textRect = rect().adjusted(30, 0, -6, 0);
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                     fontMetrics().elidedText(title.isEmpty() ? m_filename : title, Qt::ElideMiddle,
                                              textRect.width()));
}
