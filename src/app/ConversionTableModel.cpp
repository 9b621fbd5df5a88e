#include "ConversionTableModel.h"

#include "ConversionPasteboard.h"
#include "Localized.h"

#include <QBrush>
#include <QColor>
#include <QMimeData>

#include <algorithm>

namespace {
const char* const kIdentifiers[] = {"active", "convName", "comment"};
}

ConversionTableModel::ConversionTableModel(QObject* parent) : QAbstractTableModel(parent) {}

QString ConversionTableModel::columnIdentifier(int column)
{
    if (column < 0 || column >= ColumnCount)
        return QString();
    return QString::fromLatin1(kIdentifiers[column]);
}

int ConversionTableModel::columnForIdentifier(const QString& identifier)
{
    for (int i = 0; i < ColumnCount; ++i)
        if (identifier == QLatin1String(kIdentifiers[i]))
            return i;
    return -1;
}

int ConversionTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_conversions.size());
}

int ConversionTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ConversionTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_conversions.size())
        return QVariant();
    const ConvSpec& spec = *m_conversions.at(index.row());
    switch (index.column()) {
    case Active:
        if (role == Qt::CheckStateRole)
            return spec.active() ? Qt::Checked : Qt::Unchecked;
        return QVariant();
    case ConvName:
        if (role == Qt::DisplayRole)
            return spec.conversionName();
        if (role == Qt::ForegroundRole && !spec.valid())
            return QBrush(QColor(Qt::gray));
        return QVariant();
    case Comment:
        return role == Qt::DisplayRole ? QVariant(spec.comment()) : QVariant();
    default:
        return QVariant();
    }
}

QVariant ConversionTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Active: return summary();
    case ConvName: return L("Conversion");
    case Comment: return L("Comment");
    default: return QVariant();
    }
}

Qt::ItemFlags ConversionTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    // The check box is shown enabled only for a conversion that can run.
    if (index.isValid() && index.column() == Active && index.row() < m_conversions.size()) {
        if (m_conversions.at(index.row())->valid())
            result |= Qt::ItemIsUserCheckable;
        else
            result &= ~Qt::ItemIsEnabled;
    }
    if (index.isValid())
        result |= Qt::ItemIsDragEnabled;
    else
        result |= Qt::ItemIsDropEnabled;
    return result;
}

bool ConversionTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() != Active || role != Qt::CheckStateRole ||
        index.row() >= m_conversions.size())
        return false;
    emit activeToggled(index.row(), value.toInt() == Qt::Checked);
    return true;
}

QStringList ConversionTableModel::mimeTypes() const
{
    return {ConversionPasteboard::kMimeType};
}

QMimeData* ConversionTableModel::mimeData(const QModelIndexList& indexes) const
{
    QList<int> rows;
    for (const QModelIndex& index : indexes)
        if (index.isValid() && !rows.contains(index.row()) && index.row() < m_conversions.size())
            rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    m_promised.clear();
    for (int row : rows)
        m_promised.append(m_conversions.at(row));
    return ConversionPasteboard::mimeData(m_promised);
}

Qt::DropActions ConversionTableModel::supportedDropActions() const
{
    return Qt::CopyAction;
}

Qt::DropActions ConversionTableModel::supportedDragActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

bool ConversionTableModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                           const QModelIndex&) const
{
    QStringList names;
    for (const ConvSpecRef& spec : m_conversions)
        names.append(spec->conversionName());
    return ConversionPasteboard::acceptsDrop(data, names);
}

bool ConversionTableModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                        const QModelIndex& parent)
{
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    const QVariantList dictionaries = ConversionPasteboard::dictionaries(data);
    emit conversionsDropped(dictionaries, parent.isValid() ? parent.row() : row);
    return true;
}

bool ConversionTableModel::removeRows(int, int, const QModelIndex&)
{
    if (m_promised.isEmpty())
        return false;
    const QList<ConvSpecRef> moved = m_promised;
    m_promised.clear();
    emit draggedConversionsMoved(moved);
    return true;
}

void ConversionTableModel::setConversions(const QList<ConvSpecRef>& conversions)
{
    beginResetModel();
    m_conversions = conversions;
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, Active, Active);
}

void ConversionTableModel::insertConversion(const ConvSpecRef& spec, int index)
{
    const int row = index < 0 || index > m_conversions.size() ? int(m_conversions.size()) : index;
    beginInsertRows(QModelIndex(), row, row);
    m_conversions.insert(row, spec);
    endInsertRows();
    emit headerDataChanged(Qt::Horizontal, Active, Active);
}

int ConversionTableModel::removeConversion(const ConvSpec* spec)
{
    const int row = rowOf(spec);
    if (row < 0)
        return -1;
    beginRemoveRows(QModelIndex(), row, row);
    m_conversions.removeAt(row);
    endRemoveRows();
    emit headerDataChanged(Qt::Horizontal, Active, Active);
    return row;
}

void ConversionTableModel::replaceConversion(int row, const ConvSpecRef& spec)
{
    if (row < 0 || row >= m_conversions.size())
        return;
    m_conversions[row] = spec;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    emit headerDataChanged(Qt::Horizontal, Active, Active);
}

int ConversionTableModel::rowOf(const ConvSpec* spec) const
{
    for (int row = 0; row < m_conversions.size(); ++row)
        if (m_conversions.at(row).get() == spec)
            return row;
    return -1;
}

void ConversionTableModel::refresh()
{
    if (!m_conversions.isEmpty())
        emit dataChanged(index(0, 0), index(int(m_conversions.size()) - 1, ColumnCount - 1));
    emit headerDataChanged(Qt::Horizontal, Active, Active);
}

void ConversionTableModel::sortConversions()
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QList<const ConvSpec*> owners;
    for (const QModelIndex& index : before)
        owners.append(m_conversions.value(index.row()).get());
    std::stable_sort(m_conversions.begin(), m_conversions.end(),
                     [](const ConvSpecRef& a, const ConvSpecRef& b) { return a->compare(b.get()) < 0; });
    QModelIndexList after;
    for (int i = 0; i < before.size(); ++i) {
        int row = -1;
        for (int r = 0; r < m_conversions.size(); ++r)
            if (m_conversions.at(r).get() == owners.at(i))
                row = r;
        after.append(row < 0 ? QModelIndex() : index(row, before.at(i).column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int ConversionTableModel::activeCount() const
{
    return int(std::count_if(m_conversions.begin(), m_conversions.end(),
                             [](const ConvSpecRef& spec) { return spec->active(); }));
}

QString ConversionTableModel::summary() const
{
    return L("%1 Active").arg(activeCount());
}
