#include "InputFileModel.h"

#include "Localized.h"
#include "MainBundle.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include <algorithm>

namespace {

const char* const kTitles[] = {"", "", "Size", "Type", "Sample Rate", "Channels", "Bits", "Length", "Regions",
                               "Time Stamps"};

QString plural(int count)
{
    return count == 1 ? QString() : QStringLiteral("s");
}

} // namespace

InputFileModel::InputFileModel(QObject* parent) : SharedItemTableModel(parent)
{
    QFileIconProvider provider;
    m_fileIcon = provider.icon(QFileIconProvider::File);
    m_folderIcon = provider.icon(QFileIconProvider::Folder);
    const QString images = QStringLiteral("images");
    m_playingImage = QPixmap(MainBundle::pathForResource(QStringLiteral("loudspeaker-small"), QStringLiteral("png"), images));
    m_mutedImage =
        QPixmap(MainBundle::pathForResource(QStringLiteral("loudspeaker-small-muted"), QStringLiteral("png"), images));
}

QVariant InputFileModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size())
        return QVariant();
    const ZuSoundFile& file = *m_items.at(index.row());
    if (role == PathRole)
        return file.path();
    if (role == Qt::DecorationRole && index.column() == FileName)
        return file.isDirectory() ? m_folderIcon : m_fileIcon;
    if (role == Qt::DecorationRole && index.column() == Playable && index.row() == m_playRow)
        return m_playing ? m_playingImage : m_mutedImage;
    if (role == Qt::ToolTipRole && index.column() == Playable && index.row() == m_playRow)
        return m_playing ? L("Playing") : L("Plays next");
    if (role == Qt::ToolTipRole && index.column() == FileName)
        return file.path();
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case FileName: return file.name();
    case Size: return file.displaySize();
    case FileType: return file.descriptor();
    case SampleRate: return file.displaySampleRate();
    case Channels: return file.displayChannels();
    case Bits: return file.displayBits();
    case Length: return file.lengthStr();
    case Regions: return file.displayRegions();
    case Timestamps: return file.timestamps();
    default: return QVariant();
    }
}

QVariant InputFileModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == Playable && role == Qt::DecorationRole)
        return m_playingImage;
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return SharedItemTableModel::headerData(section, orientation, role);
    if (section == FileName)
        return summary();
    return L(kTitles[section]);
}

Qt::ItemFlags InputFileModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = SharedItemTableModel::flags(index);
    if (!index.isValid())
        result |= Qt::ItemIsDropEnabled;
    return result;
}

QStringList InputFileModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

Qt::DropActions InputFileModel::supportedDropActions() const
{
    return Qt::CopyAction;
}

bool InputFileModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int, const QModelIndex&) const
{
    if (!data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

bool InputFileModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                  const QModelIndex& parent)
{
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    QStringList paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    emit filesDropped(paths);
    return true;
}

ZuSoundFileRef InputFileModel::fileAt(int row) const
{
    return row >= 0 && row < m_items.size() ? m_items.at(row) : ZuSoundFileRef();
}

QString InputFileModel::lastComponent(const ZuSoundFile& file)
{
    return QFileInfo(file.path()).fileName();
}

void InputFileModel::insertFile(const ZuSoundFileRef& file, int index)
{
    if (!file)
        return;
    m_names.insert(lastComponent(*file));
    insertItem(file, index);
}

int InputFileModel::removeFile(const ZuSoundFile* file)
{
    const int row = rowOf(file);
    if (row >= 0)
        m_names.remove(lastComponent(*m_items.at(row)));
    return removeItem(file);
}

void InputFileModel::sortFiles()
{
    sortItems();
}

void InputFileModel::setPlayState(int row, bool playing)
{
    if (row == m_playRow && playing == m_playing)
        return;
    const int old = m_playRow;
    m_playRow = row;
    m_playing = playing;
    for (int changed : {old, row})
        if (changed >= 0 && changed < m_items.size())
            emit dataChanged(index(changed, Playable), index(changed, Playable), {Qt::DecorationRole});
}

int InputFileModel::folderCount() const
{
    return int(std::count_if(m_items.begin(), m_items.end(), [](const ZuSoundFileRef& f) { return f->isDirectory(); }));
}

QString InputFileModel::summary() const
{
    const int folders = folderCount();
    const int files = int(m_items.size()) - folders;
    const QString fileText = QStringLiteral("%1 File%2").arg(files).arg(plural(files));
    const QString folderText = QStringLiteral("%1 Folder%2").arg(folders).arg(plural(folders));
    return L("Input: %1, %2").arg(fileText, folderText);
}
