// The conversion editor's Regions box: extraction of the regions,
// stripping of silence (with its safety margin) or snipping (start and
// length), one at a time.
#pragma once

#include "SliderPair.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QStackedWidget;

class EditorRegionsGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit EditorRegionsGroup(QWidget* parent);

    // The enabling and the page that follow the box and the menu; the tab
    // chain runs from `before` through the page's fields to `after`.
    void showExtraction(QWidget* before, QWidget* after);

    QCheckBox* extractionBox;
    // Item 0 extract, 1 strip, 2 snip.
    QComboBox* extractionMenu;
    QStackedWidget* extractionTabs;
    SliderPair margin;
    SliderPair startAt;
    SliderPair length;
};
