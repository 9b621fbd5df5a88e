// The conversion editor's controls bound to the fields of the conversion:
// one row a field, or the few fields one set of controls shows together.
// A row says how its controls show the conversion, how an edit of them
// writes it back, and what the window does after either (the enabling
// that follows a check box, the type's checks...).  Filling the window
// shows every row in the table's order; an edit of a row's controls
// stores that row.
#pragma once

#include "ConvSpec.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class SliderPair;

class ConversionFieldTable {
public:
    using Show = std::function<void(ConvSpec&)>;
    using Store = std::function<void(ConvSpec&)>;
    using Step = std::function<void()>;

    struct Row {
        // The fields, by their keys in a conversion's dictionary.
        QStringList keys;
        // Shows the fields (none: the output type's rules show them).
        Show show;
        // Writes what the controls show.
        Store store;
        // Follows showing and storing.
        Step then;
    };

    // `context` holds the connections; `target` is the conversion that
    // edits write, null while there is none to write (no conversion, or the
    // window is being filled).
    ConversionFieldTable(QObject* context, std::function<ConvSpec*()> target);

    // A check box showing a flag; an edit is a click.
    int check(
        QCheckBox* box, const QString& key, bool (ConvSpec::*get)() const, void (ConvSpec::*set)(bool), Step then = {});
    // A slider pair showing a number, `shown` times the field (the gate's
    // gap is kept in seconds and shown in milliseconds).
    template <class T>
    int number(
        SliderPair& pair, const QString& key, T (ConvSpec::*get)() const, void (ConvSpec::*set)(T), double shown = 1.0)
    {
        return numberRow(
            pair, key, [get, shown](const ConvSpec& s) { return double((s.*get)()) * shown; },
            [set, shown](ConvSpec& s, double value) { (s.*set)(T(value / shown)); });
    }
    // A text field, written as typed.
    int text(QLineEdit* field, const QString& key, const QString& (ConvSpec::*get)() const,
        void (ConvSpec::*set)(const QString&));
    // A menu whose item tags are the values; a value without an item
    // shows item 0.
    int tag(QComboBox* menu, const QString& key, SInt32 (ConvSpec::*get)() const, void (ConvSpec::*set)(SInt32));
    // A row of its own; editOn and editOnPair say which edits store it.
    int add(Row row);
    template <class Sender, class Signal> void editOn(int row, Sender* sender, Signal signal)
    {
        QObject::connect(sender, signal, m_context, [this, row] { edit(row); });
    }
    void editOnPair(int row, SliderPair& pair);

    // An edit of row `index`'s controls: the row is stored when there is a
    // conversion to write, then its step follows.
    void edit(int index);
    // Shows every row of `spec`, in order.
    void showAll(ConvSpec& spec);
    const QList<Row>& rows() const { return m_rows; }

private:
    int numberRow(SliderPair& pair, const QString& key, const std::function<double(const ConvSpec&)>& get,
        const std::function<void(ConvSpec&, double)>& set);

    QObject* m_context;
    std::function<ConvSpec*()> m_target;
    QList<Row> m_rows;
};
