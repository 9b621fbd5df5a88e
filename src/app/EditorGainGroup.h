// The conversion editor's Gain box: the gate (threshold, gap, attenuation)
// and the boost, by compressor (amplify, limit) or by normalising
// (ceiling), optionally normalising first.
#pragma once

#include "SliderPair.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QLabel;
class QStackedWidget;

class EditorGainGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit EditorGainGroup(QWidget* parent);

    // The enabling and the texts that follow the gate box.
    void showGate();
    // The enabling, page and texts that follow the boost controls; the tab
    // chain ends at `after`.
    void showBoost(QWidget* after);

    QCheckBox* gateBox;
    SliderPair lowerThan;
    SliderPair longerThan;
    SliderPair attenuate;
    QCheckBox* boostBox;
    QLabel* boostLabel;
    // Item 0 compressor, 1 normalise.
    QComboBox* boostMenu;
    QCheckBox* firstNormalizeBox;
    QStackedWidget* boostTabs;
    SliderPair amplify;
    SliderPair limit;
    SliderPair ceiling;
};
