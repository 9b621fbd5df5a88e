// The conversion list as the conversions table shows it: the active flag,
// the name (grey when the conversion cannot run) and the comment.  The
// list itself (adding, editing, removing, dragging) is kept by the
// conversion-list editing, which replaces the list through setConversions.
// GUI thread only.
#pragma once

#include "ConvSpec.h"

#include <QAbstractTableModel>
#include <QList>

class ConversionTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Active, ConvName, Comment, ColumnCount };

    explicit ConversionTableModel(QObject* parent = nullptr);

    // "active", "convName", "comment"
    static QString columnIdentifier(int column);
    static int columnForIdentifier(const QString& identifier);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const QList<ConvSpecRef>& conversions() const { return m_conversions; }
    void setConversions(const QList<ConvSpecRef>& conversions);
    // Sorts by ConvSpec's class-wide key and direction (stable).
    void sortConversions();

    int activeCount() const;
    // "%d Active"
    QString summary() const;

private:
    QList<ConvSpecRef> m_conversions;
};
