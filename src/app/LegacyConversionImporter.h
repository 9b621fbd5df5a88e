// Import of the conversions that the previous major version (3) kept as
// 'Libs' resources in its preferences file "Quillmarch Prefs".
//
// Reading opens the file's resource fork read-only (its AppleDouble
// sidecar) or, when the file has none, the file itself as a bare resource
// fork, as copies taken from a Mac often are; the Resource Manager checks
// the map against the fork.  Each record becomes a conversion through
// ConvSpec::fromLegacyData; records of types no longer supported, and
// records shorter than the record layout, are counted as unsupported.
//
// Importing names each conversion "<name> (imported from Quillmarch 3)",
// numbered "... 1", "... 2" while the name is taken, and hands the list to
// an inserter (the conversion list's undoable insert, then its sort and
// the conversions tab).
#pragma once

#include "ConvSpec.h"

#include <QList>
#include <QSet>
#include <QString>

#include <functional>

class QWidget;

class LegacyConversionImporter {
public:
    struct ReadResult {
        QList<ConvSpecRef> conversions;
        int unsupported = 0;
    };
    // Receives the named conversions, in order, for one undoable insert.
    using Inserter = std::function<void(const QList<ConvSpecRef>&)>;

    static constexpr OSType kLegacyResourceType = FOUR_CHAR_CODE("Libs");

    // legacyConvSpecsFromFile without its alert: the conversions of the
    // file and the number of unsupported records.  A missing path, a
    // folder, or a file without a readable resource map gives nothing.
    static ReadResult readFile(const QString& path);
    // Where the previous version kept its preferences: the Preferences
    // folder when the platform has one, else the user's configuration
    // folder of this program; joined with "Quillmarch Prefs".
    static QString defaultPrefsPath();
    // " (imported from Quillmarch 3)" after `name`, then " 1", " 2" ...
    // while the name is in `taken`.
    static QString importedName(const QString& name, const QSet<QString>& taken);
    // Copies of `conversions` under their imported names (each name joins
    // the taken set for the ones after it).
    static QList<ConvSpecRef> namedForImport(const QList<ConvSpecRef>& conversions, QSet<QString> taken);

    // The "Import Conversions" command: asks for automatic import or a file
    // (alerts and the open panel over `parent`), reads it and imports.
    static void importConversions(QWidget* parent, const QSet<QString>& taken, const Inserter& insert);
    // legacyConvSpecsFromFile: readFile, with the "Unsupported File Types"
    // alert when records were skipped.
    static QList<ConvSpecRef> legacyConvSpecsFromFile(const QString& path, QWidget* parent);
    // "No Conversions Found" for an empty list; otherwise the named
    // conversions go to the inserter.
    static void importLegacyConversionsFromArray(const QList<ConvSpecRef>& conversions, QWidget* parent,
                                                 const QSet<QString>& taken, const Inserter& insert);
};
