// The conversions a batch runs (the application's list and the batch
// command's): loaded from a property-list file, from the "Conversions"
// preference or from the factory list, and chosen by name or by their
// active flag.
#pragma once

#include "ConvSpec.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

class UserDefaults;

class ConversionList {
public:
    // What is wrong with the array of a conversions file, one line per
    // problem (the batch command's ConversionFileCheck::problems).
    using FileCheck = std::function<QStringList(const QVariantList& array)>;

    // Conversions from `file` (an XML or binary property list whose root is
    // an array of conversion dictionaries) when it is not empty; otherwise
    // from the "Conversions" preference, or from the resource
    // "Factory_Conversions" when that preference is missing or empty.  The
    // stored conversions come in the order the application's list shows
    // them, and its Start runs them (sortAsStored); a file's in its own.
    // False and *error for a file that cannot be read or is not such an
    // array, and for a file whose conversions have problems by `check`
    // (every problem is listed).
    static bool load(const QString& file, const UserDefaults& defaults, QList<ConvSpecRef>* conversions,
                     QString* error, const FileCheck& check = {});

    // `dictionary` with every missing key taken from a new conversion.
    static QVariantMap withDefaults(const QVariantMap& dictionary);

    // Sorts by the stored column and direction of the conversion list
    // ("ConvSpecs Sort Key", "ConvSpecs Sort Ascending"), which become the
    // class-wide sort of ConvSpec; equal ones keep their order.
    static void sortAsStored(QList<ConvSpecRef>* conversions, const UserDefaults& defaults);

    // The conversions of a property-list array (dictionaries only; a key
    // that is missing keeps the value a new conversion has).  As in the
    // editor, a conversion to a fixed type that names no extension takes
    // the type's, and an "AnnotationText" of the specifics goes into the
    // per-type block where Broadcast Wave outputs read it.
    static QList<ConvSpecRef> fromArray(const QVariantList& array);

    // The conversions to run, in list order: with no names, those that are
    // active, valid and able to run (ConversionCheck.h); with names, those
    // whose name is one of them, active or not (a name that matches none
    // exactly picks the one conversion whose name differs in case alone).
    // False and *error when a name matches no conversion (the closest names
    // are given) or several in all but case, a named
    // conversion is not valid (its output type cannot be written) or cannot
    // run, or nothing is left to run.  Without names, an active conversion
    // that cannot run is left out and *skipped (when given) gets one line
    // saying why.
    static bool select(const QList<ConvSpecRef>& all, const QStringList& names, QList<ConvSpecRef>* chosen,
                       QString* error, QStringList* skipped = nullptr);

    // Why `spec` cannot run: its output type cannot be written, and the
    // type's "notWritableReason" when it has one (MP3 without an encoder).
    static QString notWritable(const ConvSpec& spec);
};
