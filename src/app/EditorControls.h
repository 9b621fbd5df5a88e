// Small helpers for the conversion editor's controls: menu items carry a
// tag (a type code, a rate index, a word length...), labels are greyed
// with what they name, and numbers are read from text fields.
#pragma once

#include <QString>
#include <Qt>

class QComboBox;
class QLabel;

namespace EditorControls {

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

}  // namespace EditorControls
