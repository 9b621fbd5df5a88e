// A number as the conversion editor shows it: a label, a slider, a value
// field and a unit.  Moving the slider shows its value in the field;
// ending an edit of the field moves the slider; either is an edit of the
// number.
#pragma once

#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QObject;
class QSlider;
class QWidget;

class SliderPair {
public:
    SliderPair() = default;
    SliderPair(const SliderPair&) = delete;
    SliderPair& operator=(const SliderPair&) = delete;

    // The row of the four controls, named "<name>Label", "<name>Slider"
    // and "<name>TextField"; the slider runs from `minimum` to `maximum`
    // in steps of 1 / `scale`.
    QWidget* build(
        const QString& name, const QString& label, const QString& unit, double minimum, double maximum, double scale);
    // Runs `edited` after each edit (a field that does not read as a
    // number is none), for as long as `context` lives.
    void onEdited(QObject* context, const std::function<void()>& edited);

    // Shows `value` in the field and the slider (no edit).
    void set(double value);
    // The number in the field; false when it does not read as one.
    bool value(double* out) const;
    void enable(bool on);

    QLabel* label = nullptr;
    QSlider* slider = nullptr;
    QLineEdit* field = nullptr;
    QLabel* unit = nullptr;

private:
    double m_scale = 1.0;  // slider steps per unit
};
