#include "EditorFormatGroup.h"

#include "EditorControls.h"
#include "Localized.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>

using namespace EditorControls;

EditorFormatGroup::EditorFormatGroup(QWidget* parent)
    : QGroupBox(L("Format"), parent)
{
    auto* grid = new QGridLayout(this);
    convertTypeBox = new QCheckBox(L("Convert file type"), this);
    convertTypeBox->setObjectName(QStringLiteral("convertFileTypeCheckBox"));
    typeToLabel = new QLabel(L("to"), this);
    typeMenu = new QComboBox(this);
    typeMenu->setObjectName(QStringLiteral("fileTypePopUp"));
    typeMenu->setMaxVisibleItems(30);
    optionsTabs = new QStackedWidget(this);
    optionsButton = new QPushButton(L("Options..."));
    optionsButton->setObjectName(QStringLiteral("optionsButton"));
    optionsTabs->addWidget(optionsButton);
    optionsTabs->addWidget(new QWidget);
    grid->addWidget(convertTypeBox, 0, 0);
    grid->addWidget(typeToLabel, 0, 1);
    grid->addWidget(typeMenu, 0, 2, 1, 2);
    grid->addWidget(optionsTabs, 0, 4);

    convertRateBox = new QCheckBox(L("Convert sample rate"), this);
    convertRateBox->setObjectName(QStringLiteral("convertSampleRateCheckBox"));
    rateToLabel = new QLabel(L("to"), this);
    rateField = new QLineEdit(this);
    rateField->setObjectName(QStringLiteral("sampleRateTextField"));
    rateField->setMaximumWidth(110);
    rateMenu = new QComboBox(this);
    rateMenu->setObjectName(QStringLiteral("sampleRatePopUp"));
    rateMenu->setMaxVisibleItems(30);
    qualityLabel = new QLabel(L("Hz, using quality"), this);
    qualityMenu = new QComboBox(this);
    qualityMenu->setObjectName(QStringLiteral("polyphasePopUp"));
    const char* qualities[] = {"Linear (fastest)", "Automatic", "Low (12 taps)", "Medium (32 taps)", "High (64 taps)"};
    for (int i = 0; i < 5; ++i)
        qualityMenu->addItem(L(qualities[i]), i);
    grid->addWidget(convertRateBox, 1, 0);
    grid->addWidget(rateToLabel, 1, 1);
    grid->addWidget(rateField, 1, 2);
    grid->addWidget(rateMenu, 1, 3);
    grid->addWidget(qualityLabel, 2, 2, Qt::AlignRight);
    grid->addWidget(qualityMenu, 2, 3);

    bitsBox = new QCheckBox(L("Number of bits"), this);
    bitsBox->setObjectName(QStringLiteral("numOfBitsCheckBox"));
    bitsMenu = new QComboBox(this);
    bitsMenu->setObjectName(QStringLiteral("numBitsPopUp"));
    ditherBox = new QCheckBox(L("Redither"), this);
    ditherBox->setObjectName(QStringLiteral("ditherCheckBox"));
    grid->addWidget(bitsBox, 3, 0);
    grid->addWidget(bitsMenu, 3, 2, 1, 2);
    grid->addWidget(ditherBox, 3, 4);
    channelBox = new QCheckBox(L("Channel handling"), this);
    channelBox->setObjectName(QStringLiteral("channelHandlingCheckBox"));
    channelMenu = new QComboBox(this);
    channelMenu->setObjectName(QStringLiteral("channelHandlingPopUp"));
    grid->addWidget(channelBox, 4, 0);
    grid->addWidget(channelMenu, 4, 2, 1, 2);
}

void EditorFormatGroup::showConvertType()
{
    const bool on = convertTypeBox->isChecked();
    typeMenu->setEnabled(on);
    ColourLabel(typeToLabel, on);
}

void EditorFormatGroup::showConvertRate()
{
    const bool on = convertRateBox->isChecked();
    rateMenu->setEnabled(on);
    qualityMenu->setEnabled(on);
    ColourLabel(rateToLabel, on);
    ColourLabel(qualityLabel, on);
}
