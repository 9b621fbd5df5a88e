// A conversions file as a user writes it by hand: an array of conversion
// dictionaries keyed by the "QMCS" keys (docs/conversions.md).
//
// Before a batch starts, every conversion of the file is checked: keys the
// conversion does not know (with the closest known key), values of the
// wrong kind (text where a number belongs) and values out of their range
// (a quality of 7, a negative fade, an output type the table does not
// know), and then what keeps the conversion from ever running, the check
// the application makes too (ConversionCheck.h: shapes the output type
// cannot hold where the conversion alone decides them, settings no
// pipeline runs), are reported with the conversion's number and name.
// A key that is
// missing keeps the value a new conversion has (quality 1, fades of 20 ms,
// 44100 Hz, ...), not the zero the stored-preferences reader gives.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

class ConversionFileCheck {
public:
    // The 43 keys of a conversion dictionary, in the order the
    // conversion's dictionary lists them.
    static QStringList knownKeys();

    // `dictionary` with every missing key taken from a new conversion.
    static QVariantMap withDefaults(const QVariantMap& dictionary);

    // What is wrong with item `index` (0-based) of a conversions file, one
    // line per problem, each naming the conversion; empty when nothing is.
    // The output type's limits come from the file-type table, so call it
    // after start-up has built the table.
    static QStringList problems(const QVariant& item, int index);

    // problems() over a whole array.
    static QStringList problems(const QVariantList& array);

    // What is accepted but probably not meant, one line each: keys of a
    // conversion's QMCSSpecifics that no output type reads (with the
    // closest one), which are ignored.
    static QStringList warnings(const QVariantList& array);
};
