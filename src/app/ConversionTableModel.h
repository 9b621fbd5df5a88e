// The conversion list as the conversions table shows it: the active flag,
// the name (grey when the conversion cannot run) and the comment.  The
// list itself (adding, editing, removing, dragging) is kept by
// MainController, which changes it through insertConversion,
// removeConversion and replaceConversion (so the table keeps its
// selection on the same conversions).  What the user does in the table
// comes back as signals: the active box ticked, conversions dropped (as a
// property-list payload, ConversionPasteboard), a drag of conversions that
// ended in a move elsewhere (the trash).
// GUI thread only.
#pragma once

#include "ConvSpec.h"
#include "SharedItemTableModel.h"

#include <QList>
#include <QVariantList>

class ConversionTableModel : public SharedItemTableModel<ConvSpec, ConversionTableModel> {
    Q_OBJECT
public:
    enum Column { Active, ConvName, Comment, ColumnCount };

    explicit ConversionTableModel(QObject* parent = nullptr);

    // The column identifiers the sort keys use; the active column's header
    // sums the list up.
    static constexpr const char* kColumnIdentifiers[] = {"active", "convName", "comment"};
    static constexpr int kSummaryColumn = Active;

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The active box: emits activeToggled, the controller sets it.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Drag and drop: the dragged rows' conversions as a property list under
    // the plain-text type; a drop is offered when ConversionPasteboard
    // accepts it against the listed names.
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    // Called by the view when a drag of rows ended with a move: reported
    // once per drag as draggedConversionsMoved; the list itself is changed
    // by the controller (undoably).
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

    const QList<ConvSpecRef>& conversions() const { return m_items; }
    void setConversions(const QList<ConvSpecRef>& conversions);
    // `index` -1 (or past the end) appends.
    void insertConversion(const ConvSpecRef& spec, int index);
    // The row it stood at, -1 when not listed.
    int removeConversion(const ConvSpec* spec);
    void replaceConversion(int row, const ConvSpecRef& spec);
    // Refreshes every row and the header (activation changes).
    void refresh();
    // Sorts by ConvSpec's class-wide key and direction (stable).
    void sortConversions();

    int activeCount() const;
    // "%d Active"
    QString summary() const;

signals:
    void activeToggled(int row, bool active);
    void conversionsDropped(const QVariantList& dictionaries, int row);
    void draggedConversionsMoved(const QList<ConvSpecRef>& conversions);

private:
    // The conversions of the last drag (promised to its target).
    mutable QList<ConvSpecRef> m_promised;
};
