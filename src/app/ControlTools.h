// Small helpers for the application's controls: menu items carry a tag (a
// type code, a rate index, a word length...), labels are greyed with what
// they name, numbers are read from text fields, radio buttons stand in
// groups by tag, and controls carry the names the tests find them by.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <Qt>

#include <algorithm>
#include <initializer_list>

class QAbstractItemView;
class QButtonGroup;
class QComboBox;
class QLabel;
class QLayout;
class QRadioButton;
class QWidget;

namespace ControlTools {

// The item data role that holds an item's tag.
constexpr int kTagRole = Qt::UserRole;
// The index of no item.
constexpr int kNoItem = -1;

// The tag of item `index` (0 when the item has none).
int ItemTag(const QComboBox* menu, int index);
// The first item whose tag is `tag`; kNoItem when none.
int IndexOfTag(const QComboBox* menu, int tag);
// Enables or disables one item (separators stay as they are).
void SetItemEnabled(QComboBox* menu, int index, bool enabled);
// Black when the control the label names is enabled, grey when not.
void ColourLabel(QLabel* label, bool on);
// A finite number in `text` (white space around it allowed).
bool ParseNumber(const QString& text, double* value);
// A radio button titled `title` (localised), in `group` with the id `tag`
// and laid out in `layout`.
QRadioButton* AddRadioCell(QButtonGroup* group, QLayout* layout, int tag, const char* title);
// `window` laid out as `body` (with the stretch factor `bodyStretch`) over
// a row of buttons: `leading` at the left, `trailing` at the right.
void LayOutOverButtonRow(QWidget* window, QWidget* body, int bodyStretch, std::initializer_list<QWidget*> leading,
                         std::initializer_list<QWidget*> trailing);
// The rows selected in `view`, in ascending order.
QList<int> SortedSelectedRows(const QAbstractItemView* view);

// `widget`, named `name`.
template <class Widget> Widget* Named(Widget* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// The width a title bar needs for `title` (the application's name follows
// it) and the window's buttons.
int TitleBarWidth(const QString& title);
// Reserves that width in `window`'s layout: a small window's title is never
// cut.
void ReserveTitleBarWidth(QWidget* window);
// `widget` (a label or a button) at least as wide as it is with the longest
// of `texts`: showing one or the other never widens its window.
template <class Widget> void ReserveWidthFor(Widget* widget, const QStringList& texts)
{
    const QString shown = widget->text();
    int width = 0;
    for (const QString& text : texts) {
        widget->setText(text);
        width = std::max(width, widget->sizeHint().width());
    }
    widget->setText(shown);
    widget->setMinimumWidth(width);
}

} // namespace ControlTools
