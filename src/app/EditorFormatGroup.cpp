#include "EditorFormatGroup.h"

#include "ControlTools.h"
#include "Localized.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>

using namespace ControlTools;

EditorFormatGroup::EditorFormatGroup(QWidget* parent)
    : QGroupBox(L("Format"), parent)
{
    auto* grid = new QGridLayout(this);
    convertTypeBox = Named(new QCheckBox(L("Convert file type"), this), "convertFileTypeCheckBox");
    typeToLabel = new QLabel(L("to"), this);
    typeMenu = Named(new QComboBox(this), "fileTypePopUp");
    typeMenu->setMaxVisibleItems(30);
    optionsTabs = new QStackedWidget(this);
    optionsButton = Named(new QPushButton(L("Options...")), "optionsButton");
    optionsTabs->addWidget(optionsButton);
    optionsTabs->addWidget(new QWidget);
    grid->addWidget(convertTypeBox, 0, 0);
    grid->addWidget(typeToLabel, 0, 1);
    grid->addWidget(typeMenu, 0, 2, 1, 2);
    grid->addWidget(optionsTabs, 0, 4);

    convertRateBox = Named(new QCheckBox(L("Convert sample rate"), this), "convertSampleRateCheckBox");
    rateToLabel = new QLabel(L("to"), this);
    rateField = Named(new QLineEdit(this), "sampleRateTextField");
    rateField->setMaximumWidth(110);
    rateMenu = Named(new QComboBox(this), "sampleRatePopUp");
    rateMenu->setMaxVisibleItems(30);
    qualityLabel = new QLabel(L("Hz, using quality"), this);
    qualityMenu = Named(new QComboBox(this), "polyphasePopUp");
    const char* qualities[] = {"Linear (fastest)", "Automatic", "Low (12 taps)", "Medium (32 taps)", "High (64 taps)"};
    for (int i = 0; i < 5; ++i)
        qualityMenu->addItem(L(qualities[i]), i);
    grid->addWidget(convertRateBox, 1, 0);
    grid->addWidget(rateToLabel, 1, 1);
    grid->addWidget(rateField, 1, 2);
    grid->addWidget(rateMenu, 1, 3);
    grid->addWidget(qualityLabel, 2, 2, Qt::AlignRight);
    grid->addWidget(qualityMenu, 2, 3);

    bitsBox = Named(new QCheckBox(L("Number of bits"), this), "numOfBitsCheckBox");
    bitsMenu = Named(new QComboBox(this), "numBitsPopUp");
    ditherBox = Named(new QCheckBox(L("Redither"), this), "ditherCheckBox");
    grid->addWidget(bitsBox, 3, 0);
    grid->addWidget(bitsMenu, 3, 2, 1, 2);
    bitsNote = Named(new QLabel(this), "numBitsNote");
    bitsNote->hide();
    grid->addWidget(bitsNote, 3, 2, 1, 2);
    grid->addWidget(ditherBox, 3, 4);
    channelBox = Named(new QCheckBox(L("Channel handling"), this), "channelHandlingCheckBox");
    channelMenu = Named(new QComboBox(this), "channelHandlingPopUp");
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

void EditorFormatGroup::showInPlaceOfBits(const QString& text)
{
    bitsNote->setText(text);
    bitsNote->setVisible(!text.isEmpty());
    bitsMenu->setVisible(text.isEmpty());
}
