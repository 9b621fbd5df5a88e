#include "EditorFadesAndNamesGroup.h"

#include "ControlTools.h"
#include "Localized.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

using namespace ControlTools;

EditorFadesAndNamesGroup::EditorFadesAndNamesGroup(QWidget* parent)
    : QGroupBox(L("Fades and output names"), parent)
{
    auto* otherLayout = new QVBoxLayout(this);
    fadeBox = Named(new QCheckBox(L("Fade in and out"), this), "fadeCheckBox");
    otherLayout->addWidget(fadeBox);
    otherLayout->addWidget(fadeIn.build(QStringLiteral("fadeIn"), L("Fade in"), L("ms"), 0, 10000, 1));
    otherLayout->addWidget(fadeOut.build(QStringLiteral("fadeOut"), L("Fade out"), L("ms"), 0, 10000, 1));
    copyBox = Named(new QCheckBox(L("Copy regions, markers and loops"), this), "copyCheckBox");
    otherLayout->addWidget(copyBox);
    auto* extensionRow = new QHBoxLayout;
    extensionBox = Named(new QCheckBox(L("File name extension"), this), "filenameExtensionCheckBox");
    extensionField = Named(new QLineEdit(this), "filenameExtensionTextField");
    extensionRow->addWidget(extensionBox);
    extensionRow->addWidget(extensionField, 1);
    otherLayout->addLayout(extensionRow);
}

void EditorFadesAndNamesGroup::showFades()
{
    const bool on = fadeBox->isChecked();
    fadeIn.enable(on);
    fadeOut.enable(on);
}

void EditorFadesAndNamesGroup::showNameExtension()
{
    extensionField->setEnabled(extensionBox->isChecked());
}
