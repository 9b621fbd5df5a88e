#include "ControlTools.h"

#include "Localized.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QItemSelectionModel>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QRadioButton>
#include <QSpacerItem>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace ControlTools {

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

QRadioButton* AddRadioCell(QButtonGroup* group, QLayout* layout, int tag, const char* title)
{
    auto* button = new QRadioButton(L(title));
    group->addButton(button, tag);
    layout->addWidget(button);
    return button;
}

void LayOutOverButtonRow(QWidget* window, QWidget* body, int bodyStretch, std::initializer_list<QWidget*> leading,
                         std::initializer_list<QWidget*> trailing)
{
    auto* row = new QHBoxLayout;
    for (QWidget* button : leading)
        row->addWidget(button);
    row->addStretch();
    for (QWidget* button : trailing)
        row->addWidget(button);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(body, bodyStretch);
    layout->addLayout(row);
}

int TitleBarWidth(const QString& title)
{
    // Room a title bar takes beside its title: the window's buttons and margins.
    constexpr int kTitleBarButtons = 120;
    QString bar = title;
    if (!QGuiApplication::applicationDisplayName().isEmpty())
        bar += QString::fromUtf8(" \u2014 ") + QGuiApplication::applicationDisplayName();
    return QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(bar) + kTitleBarButtons;
}

void ReserveTitleBarWidth(QWidget* window)
{
    if (QLayout* layout = window->layout())
        layout->addItem(
            new QSpacerItem(TitleBarWidth(window->windowTitle()), 0, QSizePolicy::Fixed, QSizePolicy::Minimum));
}

QList<int> SortedSelectedRows(const QAbstractItemView* view)
{
    QList<int> rows;
    for (const QModelIndex& index : view->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

} // namespace ControlTools
