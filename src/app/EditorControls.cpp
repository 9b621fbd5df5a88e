#include "EditorControls.h"

#include <QComboBox>
#include <QLabel>
#include <QStandardItemModel>

#include <cmath>

namespace EditorControls {

int ItemTag(const QComboBox* menu, int index)
{
    const QVariant tag = menu->itemData(index, kTagRole);
    return tag.isValid() ? tag.toInt() : 0;
}

int IndexOfTag(const QComboBox* menu, int tag)
{
    for (int i = 0; i < menu->count(); ++i) {
        const QVariant t = menu->itemData(i, kTagRole);
        if (t.isValid() && t.toInt() == tag)
            return i;
    }
    return kNoItem;
}

void SetItemEnabled(QComboBox* menu, int index, bool enabled)
{
    if (auto* model = qobject_cast<QStandardItemModel*>(menu->model()))
        if (QStandardItem* item = model->item(index))
            if (!item->text().isEmpty())
                item->setEnabled(enabled);
}

void ColourLabel(QLabel* label, bool on)
{
    label->setEnabled(on);
}

bool ParseNumber(const QString& text, double* value)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

}  // namespace EditorControls
