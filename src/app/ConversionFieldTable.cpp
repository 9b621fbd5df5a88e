#include "ConversionFieldTable.h"

#include "ControlTools.h"
#include "SliderPair.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <algorithm>

using namespace ControlTools;

ConversionFieldTable::ConversionFieldTable(QObject* context, std::function<ConvSpec*()> target)
    : m_context(context)
    , m_target(std::move(target))
{
}

int ConversionFieldTable::add(Row row)
{
    m_rows.append(std::move(row));
    return int(m_rows.size()) - 1;
}

int ConversionFieldTable::check(
    QCheckBox* box, const QString& key, bool (ConvSpec::*get)() const, void (ConvSpec::*set)(bool), Step then)
{
    const int row = add({{key}, [box, get](ConvSpec& s) { box->setChecked((s.*get)()); },
        [box, set](ConvSpec& s) { (s.*set)(box->isChecked()); }, std::move(then)});
    editOn(row, box, &QCheckBox::clicked);
    return row;
}

int ConversionFieldTable::numberRow(SliderPair& pair, const QString& key,
    const std::function<double(const ConvSpec&)>& get, const std::function<void(ConvSpec&, double)>& set)
{
    SliderPair* p = &pair;
    const int row = add({{key}, [p, get](ConvSpec& s) { p->set(get(s)); },
        [p, set](ConvSpec& s) {
            double value = 0;
            if (p->value(&value))
                set(s, value);
        },
        {}});
    editOnPair(row, pair);
    return row;
}

int ConversionFieldTable::text(QLineEdit* field, const QString& key, const QString& (ConvSpec::*get)() const,
    void (ConvSpec::*set)(const QString&))
{
    const int row = add({{key}, [field, get](ConvSpec& s) { field->setText((s.*get)()); },
        [field, set](ConvSpec& s) { (s.*set)(field->text()); }, {}});
    editOn(row, field, &QLineEdit::textEdited);
    return row;
}

int ConversionFieldTable::tag(
    QComboBox* menu, const QString& key, SInt32 (ConvSpec::*get)() const, void (ConvSpec::*set)(SInt32))
{
    const int row
        = add({{key}, [menu, get](ConvSpec& s) { menu->setCurrentIndex(std::max(0, IndexOfTag(menu, (s.*get)()))); },
            [menu, set](ConvSpec& s) { (s.*set)(ItemTag(menu, menu->currentIndex())); }, {}});
    editOn(row, menu, &QComboBox::activated);
    return row;
}

void ConversionFieldTable::editOnPair(int row, SliderPair& pair)
{
    pair.onEdited(m_context, [this, row] { edit(row); });
}

void ConversionFieldTable::edit(int index)
{
    const Row& row = m_rows[index];
    if (ConvSpec* spec = m_target())
        if (row.store)
            row.store(*spec);
    if (row.then)
        row.then();
}

void ConversionFieldTable::showAll(ConvSpec& spec)
{
    for (const Row& row : m_rows) {
        if (row.show)
            row.show(spec);
        if (row.show && row.then)
            row.then();
    }
}
