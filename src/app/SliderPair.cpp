#include "SliderPair.h"

#include "ControlTools.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>

#include <cmath>

using namespace ControlTools;

QWidget* SliderPair::build(const QString& name, const QString& labelText, const QString& unitText, double minimum,
    double maximum, double scale)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    label = new QLabel(labelText, row);
    label->setObjectName(name + QStringLiteral("Label"));
    slider = new QSlider(Qt::Horizontal, row);
    slider->setObjectName(name + QStringLiteral("Slider"));
    slider->setRange(int(std::lround(minimum * scale)), int(std::lround(maximum * scale)));
    field = new QLineEdit(row);
    field->setObjectName(name + QStringLiteral("TextField"));
    field->setMaximumWidth(80);
    unit = new QLabel(unitText, row);
    m_scale = scale;
    layout->addWidget(label);
    layout->addWidget(slider, 1);
    layout->addWidget(field);
    layout->addWidget(unit);
    return row;
}

void SliderPair::onEdited(QObject* context, const std::function<void()>& edited)
{
    QObject::connect(slider, &QSlider::sliderMoved, context, [this, edited](int position) {
        field->setText(QString::number(position / m_scale, 'g', 10));
        field->setFocus();
        edited();
    });
    QObject::connect(field, &QLineEdit::editingFinished, context, [this, edited] {
        double number = 0;
        if (!value(&number))
            return;
        const QSignalBlocker block(slider);
        slider->setValue(int(std::lround(number * m_scale)));
        edited();
    });
}

void SliderPair::set(double number)
{
    field->setText(QString::number(number, 'g', 10));
    const QSignalBlocker block(slider);
    slider->setValue(int(std::lround(number * m_scale)));
}

bool SliderPair::value(double* out) const
{
    return ParseNumber(field->text(), out);
}

void SliderPair::enable(bool on)
{
    slider->setEnabled(on);
    field->setEnabled(on);
    ColourLabel(label, on);
    ColourLabel(unit, on);
}
