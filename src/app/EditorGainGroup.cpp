#include "EditorGainGroup.h"

#include "ControlTools.h"
#include "Localized.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QVBoxLayout>

using namespace ControlTools;

EditorGainGroup::EditorGainGroup(QWidget* parent)
    : QGroupBox(L("Gain"), parent)
{
    auto* gainLayout = new QVBoxLayout(this);
    gateBox = Named(new QCheckBox(L("Gate"), this), "gateCheckBox");
    gainLayout->addWidget(gateBox);
    gainLayout->addWidget(lowerThan.build(QStringLiteral("lowerThan"), L("lower than"), L("dB"), -96, 0, 1));
    gainLayout->addWidget(longerThan.build(QStringLiteral("longerThan"), L("longer than"), L("ms"), 0, 5000, 1));
    gainLayout->addWidget(attenuate.build(QStringLiteral("attenuate"), L("attenuate by"), L("dB"), -96, 0, 1));
    auto* boostRow = new QHBoxLayout;
    boostBox = Named(new QCheckBox(L("Boost"), this), "boostCheckBox");
    boostLabel = new QLabel(L("with"), this);
    ReserveWidthFor(boostLabel, {L("with"), L("non-silences with")});
    boostMenu = Named(new QComboBox(this), "boostPopUp");
    boostMenu->addItems({L("Compressor"), L("Normalise")});
    firstNormalizeBox = Named(new QCheckBox(L("Normalise first"), this), "firstNormalizeCheckBox");
    boostRow->addWidget(boostBox);
    boostRow->addWidget(boostLabel);
    boostRow->addWidget(boostMenu);
    boostRow->addWidget(firstNormalizeBox);
    boostRow->addStretch();
    gainLayout->addLayout(boostRow);
    boostTabs = new QStackedWidget(this);
    auto* compressor = new QWidget(this);
    auto* compressorLayout = new QVBoxLayout(compressor);
    compressorLayout->setContentsMargins(0, 0, 0, 0);
    compressorLayout->addWidget(amplify.build(QStringLiteral("amplify"), L("amplify"), L("dB"), 0, 40, 10));
    ReserveWidthFor(amplify.label, {L("amplify"), L("then amplify")});
    compressorLayout->addWidget(limit.build(QStringLiteral("limit"), L("limit at"), L("dB"), -40, 0, 10));
    boostTabs->addWidget(compressor);
    boostTabs->addWidget(ceiling.build(QStringLiteral("ceiling"), L("ceiling"), L("dB"), -40, 0, 10));
    gainLayout->addWidget(boostTabs);
}

void EditorGainGroup::showGate()
{
    const bool on = gateBox->isChecked();
    for (SliderPair* pair : {&lowerThan, &longerThan, &attenuate})
        pair->enable(on);
    boostLabel->setText(on ? L("non-silences with") : L("with"));
}

void EditorGainGroup::showBoost(QWidget* after)
{
    const bool on = boostBox->isChecked();
    boostMenu->setEnabled(on);
    firstNormalizeBox->setEnabled(on);
    for (SliderPair* pair : {&amplify, &limit, &ceiling})
        pair->enable(on);
    ColourLabel(boostLabel, on);
    const int tab = boostMenu->currentIndex() == 1 ? 1 : 0;
    boostTabs->setCurrentIndex(tab);
    if (tab == 0) {
        setTabOrder(attenuate.field, amplify.field);
        setTabOrder(limit.field, after);
    } else {
        setTabOrder(attenuate.field, ceiling.field);
        setTabOrder(ceiling.field, after);
    }
    amplify.label->setText(firstNormalizeBox->isChecked() ? L("then amplify") : L("amplify"));
}
