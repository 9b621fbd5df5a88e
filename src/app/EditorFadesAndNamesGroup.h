// The conversion editor's box of fades and output names: fade in and out,
// copying of regions, markers and loops, and the file name extension.
#pragma once

#include "SliderPair.h"

#include <QGroupBox>

class QCheckBox;
class QLineEdit;

class EditorFadesAndNamesGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit EditorFadesAndNamesGroup(QWidget* parent);

    // The enabling that follows the fade box and the extension box.
    void showFades();
    void showNameExtension();

    QCheckBox* fadeBox;
    SliderPair fadeIn;
    SliderPair fadeOut;
    QCheckBox* copyBox;
    QCheckBox* extensionBox;
    QLineEdit* extensionField;
};
