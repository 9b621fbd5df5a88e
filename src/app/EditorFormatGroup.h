// The conversion editor's Format box: the output type with its Options
// button, the sample rate with the resampling quality, the word length
// with redither, and the channel handling.  The editor fills the menus by
// the type's rules and follows the controls.
#pragma once

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

class EditorFormatGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit EditorFormatGroup(QWidget* parent);

    // The enabling that follows the convert-type and the convert-rate
    // boxes (the rate field follows the type's rules too: the editor's).
    void showConvertType();
    void showConvertRate();
    // `text` in the word-length row in place of its menu (empty: the menu).
    void showInPlaceOfBits(const QString& text);

    QCheckBox* convertTypeBox;
    QLabel* typeToLabel;
    QComboBox* typeMenu;
    // Page 0 the Options button, page 1 nothing (a type without options).
    QStackedWidget* optionsTabs;
    QPushButton* optionsButton;
    QCheckBox* convertRateBox;
    QLabel* rateToLabel;
    QLineEdit* rateField;
    QComboBox* rateMenu;
    QLabel* qualityLabel;
    QComboBox* qualityMenu;
    QCheckBox* bitsBox;
    QComboBox* bitsMenu;
    QLabel* bitsNote;
    QCheckBox* ditherBox;
    QCheckBox* channelBox;
    QComboBox* channelMenu;
};
