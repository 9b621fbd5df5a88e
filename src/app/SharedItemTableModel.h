// A table model over a list of shared items the application keeps in its
// own order (the input files, the conversions): one row per item, a fixed
// set of columns named by the identifiers the sort preferences store, and
// the changes that keep the views' selections on the same items (insert,
// remove, a stable sort by the items' class-wide key and direction).
// `Model` names its columns in `kColumnIdentifiers`, one per column, and
// the column whose header sums the list up in `kSummaryColumn`.
// GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>

#include <algorithm>
#include <iterator>
#include <memory>

template <typename Item, typename Model>
class SharedItemTableModel : public QAbstractTableModel {
public:
    using ItemRef = std::shared_ptr<Item>;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_items.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(std::size(Model::kColumnIdentifiers));
    }

    // A column's identifier (empty outside the columns), and the column of
    // an identifier (-1 for none).
    static QString columnIdentifier(int column)
    {
        if (column < 0 || column >= int(std::size(Model::kColumnIdentifiers)))
            return QString();
        return QString::fromLatin1(Model::kColumnIdentifiers[column]);
    }
    static int columnForIdentifier(const QString& identifier)
    {
        for (int i = 0; i < int(std::size(Model::kColumnIdentifiers)); ++i)
            if (identifier == QLatin1String(Model::kColumnIdentifiers[i]))
                return i;
        return -1;
    }

    // The row of `item`, -1 when it is not listed.
    int rowOf(const Item* item) const
    {
        for (int row = 0; row < m_items.size(); ++row)
            if (m_items.at(row).get() == item)
                return row;
        return -1;
    }

protected:
    explicit SharedItemTableModel(QObject* parent) : QAbstractTableModel(parent) {}

    // Puts `item` at `index` (-1 or past the end: at the end).
    void insertItem(const ItemRef& item, int index)
    {
        const int row = index < 0 || index > m_items.size() ? int(m_items.size()) : index;
        beginInsertRows(QModelIndex(), row, row);
        m_items.insert(row, item);
        endInsertRows();
        summaryChanged();
    }

    // The row `item` stood at, -1 when it was not listed.
    int removeItem(const Item* item)
    {
        const int row = rowOf(item);
        if (row < 0)
            return -1;
        beginRemoveRows(QModelIndex(), row, row);
        m_items.removeAt(row);
        endRemoveRows();
        summaryChanged();
        return row;
    }

    void summaryChanged() { emit headerDataChanged(Qt::Horizontal, Model::kSummaryColumn, Model::kSummaryColumn); }

    // A stable sort by Item::compare; the persistent indexes (the views'
    // selections) follow their items.
    void sortItems()
    {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        QList<const Item*> owners;
        for (const QModelIndex& index : before)
            owners.append(m_items.value(index.row()).get());
        std::stable_sort(m_items.begin(), m_items.end(),
                         [](const ItemRef& a, const ItemRef& b) { return a->compare(b.get()) < 0; });
        QModelIndexList after;
        for (int i = 0; i < before.size(); ++i) {
            const int row = rowOf(owners.at(i));
            after.append(row < 0 ? QModelIndex() : this->index(row, before.at(i).column()));
        }
        changePersistentIndexList(before, after);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    QList<ItemRef> m_items;
};
