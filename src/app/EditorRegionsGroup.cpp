#include "EditorRegionsGroup.h"

#include "ControlTools.h"
#include "Localized.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace ControlTools;

EditorRegionsGroup::EditorRegionsGroup(QWidget* parent)
    : QGroupBox(L("Regions"), parent)
{
    auto* regionLayout = new QVBoxLayout(this);
    auto* extractionRow = new QHBoxLayout;
    extractionBox = Named(new QCheckBox(this), "extractionStripOrSnipCheckBox");
    extractionMenu = Named(new QComboBox(this), "extractionPopUp");
    extractionMenu->addItems({L("Extract regions"), L("Strip silence"), L("Snip")});
    extractionRow->addWidget(extractionBox);
    extractionRow->addWidget(extractionMenu);
    extractionRow->addStretch();
    regionLayout->addLayout(extractionRow);
    extractionTabs = new QStackedWidget(this);
    extractionTabs->addWidget(new QLabel(L("Every region becomes a file of its own."), this));
    extractionTabs->addWidget(margin.build(QStringLiteral("safetyMargin"), L("Safety margin"), L("ms"), 0, 1000, 1));
    auto* snip = new QWidget(this);
    auto* snipLayout = new QVBoxLayout(snip);
    snipLayout->setContentsMargins(0, 0, 0, 0);
    snipLayout->addWidget(startAt.build(QStringLiteral("startAt"), L("Start at"), L("s"), 0, 3600, 10));
    snipLayout->addWidget(length.build(QStringLiteral("length"), L("Length"), L("s"), 0, 3600, 10));
    extractionTabs->addWidget(snip);
    regionLayout->addWidget(extractionTabs);
}

void EditorRegionsGroup::showExtraction(QWidget* before, QWidget* after)
{
    const bool on = extractionBox->isChecked();
    extractionMenu->setEnabled(on);
    for (SliderPair* pair : {&margin, &startAt, &length})
        pair->enable(on);
    const int item = std::max(0, extractionMenu->currentIndex());
    extractionTabs->setCurrentIndex(item);
    if (item == 0) {
        setTabOrder(before, after);
    } else if (item == 1) {
        setTabOrder(before, margin.field);
        setTabOrder(margin.field, after);
    } else {
        setTabOrder(before, startAt.field);
        setTabOrder(length.field, after);
    }
}
