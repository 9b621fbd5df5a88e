#include "ConversionTableModel.h"

#include "MainBundle.h"

#include <QBrush>
#include <QColor>

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
    case ConvName: return MainBundle::localizedString(QStringLiteral("Conversion"));
    case Comment: return MainBundle::localizedString(QStringLiteral("Comment"));
    default: return QVariant();
    }
}

Qt::ItemFlags ConversionTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    // The check box is shown enabled only for a conversion that can run.
    if (index.isValid() && index.column() == Active && index.row() < m_conversions.size() &&
        !m_conversions.at(index.row())->valid())
        result &= ~Qt::ItemIsEnabled;
    return result;
}

void ConversionTableModel::setConversions(const QList<ConvSpecRef>& conversions)
{
    beginResetModel();
    m_conversions = conversions;
    endResetModel();
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
    return MainBundle::localizedString(QStringLiteral("%1 Active")).arg(activeCount());
}
