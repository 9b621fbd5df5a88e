#include "ConversionTableModel.h"

#include "ConversionPasteboard.h"
#include "Localized.h"

#include <QBrush>
#include <QColor>
#include <QMimeData>

#include <algorithm>

ConversionTableModel::ConversionTableModel(QObject* parent) : SharedItemTableModel(parent) {}

QVariant ConversionTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size())
        return QVariant();
    const ConvSpec& spec = *m_items.at(index.row());
    switch (index.column()) {
    case Active:
        if (role == Qt::CheckStateRole)
            return spec.active() ? Qt::Checked : Qt::Unchecked;
        return QVariant();
    case ConvName:
        // Cut in its middle when the column is narrow (the numbers that tell
        // duplicates apart stay), whole in the tooltip.
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
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
        return SharedItemTableModel::headerData(section, orientation, role);
    switch (section) {
    case Active: return summary();
    case ConvName: return L("Conversion");
    case Comment: return L("Comment");
    default: return QVariant();
    }
}

Qt::ItemFlags ConversionTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = SharedItemTableModel::flags(index);
    // The check box is shown enabled only for a conversion that can run.
    if (index.isValid() && index.column() == Active && index.row() < m_items.size()) {
        if (m_items.at(index.row())->valid())
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
        index.row() >= m_items.size())
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
        if (index.isValid() && !rows.contains(index.row()) && index.row() < m_items.size())
            rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    m_promised.clear();
    for (int row : rows)
        m_promised.append(m_items.at(row));
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
    for (const ConvSpecRef& spec : m_items)
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
    m_items = conversions;
    endResetModel();
    summaryChanged();
}

void ConversionTableModel::insertConversion(const ConvSpecRef& spec, int index)
{
    insertItem(spec, index);
}

int ConversionTableModel::removeConversion(const ConvSpec* spec)
{
    return removeItem(spec);
}

void ConversionTableModel::replaceConversion(int row, const ConvSpecRef& spec)
{
    if (row < 0 || row >= m_items.size())
        return;
    m_items[row] = spec;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    summaryChanged();
}

void ConversionTableModel::refresh()
{
    if (!m_items.isEmpty())
        emit dataChanged(index(0, 0), index(int(m_items.size()) - 1, ColumnCount - 1));
    summaryChanged();
}

void ConversionTableModel::sortConversions()
{
    sortItems();
}

int ConversionTableModel::activeCount() const
{
    return int(std::count_if(m_items.begin(), m_items.end(),
                             [](const ConvSpecRef& spec) { return spec->active(); }));
}

QString ConversionTableModel::summary() const
{
    return L("%1 Active").arg(activeCount());
}
