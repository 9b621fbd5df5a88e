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
    // active and can run (cannotRun); with names, those whose name is one of
    // them, active or not (a name that matches none exactly picks the one
    // conversion whose name differs in case alone).  False and *error when a
    // name matches no conversion (the closest names are given) or several in
    // all but case, a named conversion cannot
    // run, or nothing is left to run.  Without names, an active conversion
    // that cannot run is left out and *skipped (when given) gets its line
    // (whyCannotRun).
    static bool select(const QList<ConvSpecRef>& all, const QStringList& names, QList<ConvSpecRef>* chosen,
                       QString* error, QStringList* skipped = nullptr);

    // The one verdict on a conversion, whatever its inputs, for the
    // listing, the choice by name and the choice of the active ones: why
    // it can never run (its output type cannot be written, with the type's
    // "notWritableReason" when it has one, such as where the MP3 encoder
    // was looked for; else the first problem of ConversionCheck), empty
    // when it can.  Call it after the MP3 encoder was checked for it
    // (EngineStartup::checkMP3EncoderFor).
    static QString cannotRun(const ConvSpec& spec);
    // The same as a sentence naming the conversion: "the conversion 'X'
    // cannot run: ..."; empty when it can run.
    static QString whyCannotRun(const ConvSpec& spec);

private:
    // Why the output type of `spec` cannot be written.
    static QString notWritable(const ConvSpec& spec);
};
