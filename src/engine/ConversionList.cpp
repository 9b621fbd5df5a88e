#include "ConversionList.h"

#include "ClosestNames.h"
#include "ConversionCheck.h"
#include "EngineStartup.h"
#include "FileTypeDictionary.h"
#include "PreferenceKeys.h"
#include "file_type_table.h"
#include "string_utils.h"

#include "MainBundle.h"
#include "PropertyList.h"
#include "UserDefaults.h"

#include <QSet>

#include <algorithm>

QVariantMap ConversionList::withDefaults(const QVariantMap& dictionary)
{
    QVariantMap merged = ConvSpec().dictionary();
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it)
        merged.insert(it.key(), it.value());
    return merged;
}

QList<ConvSpecRef> ConversionList::fromArray(const QVariantList& array)
{
    QList<ConvSpecRef> list;
    for (const QVariant& item : array) {
        if (item.typeId() != QMetaType::QVariantMap)
            continue;
        ConvSpecRef spec = ConvSpec::fromDictionary(withDefaults(item.toMap()));
        if (!spec)
            continue;
        // What the editor gives a conversion when its output type is
        // chosen: the type's name extension (which also tells the batch
        // that an MP3 input's tags go to an MP3 output) ...
        if (spec->nameExtension().isEmpty() && spec->needsStrictFileType())
            spec->setNameExtension(GetFileTypeEntry(spec->outputFileType()).value(QStringLiteral("extension")).toString());
        // ... and the annotation where the Broadcast Wave writers read it.
        spec->storeAnnotationInBlock();
        list.append(spec);
    }
    return list;
}

bool ConversionList::load(const QString& file, const UserDefaults& defaults, QList<ConvSpecRef>* conversions,
                          QString* error, const FileCheck& check)
{
    conversions->clear();
    if (!file.isEmpty()) {
        QString readError;
        const QVariant root = PropertyList::fromFile(file, &readError);
        if (!root.isValid()) {
            *error = QStringLiteral("cannot read the conversions file '%1': %2").arg(file, readError);
            return false;
        }
        if (root.typeId() != QMetaType::QVariantList) {
            *error = QStringLiteral("the conversions file '%1' does not hold an array of conversions").arg(file);
            return false;
        }
        const QStringList problems = check ? check(root.toList()) : QStringList();
        if (!problems.isEmpty()) {
            *error = QStringLiteral("the conversions file '%1' cannot be used:\n  ").arg(file) +
                     problems.join(QStringLiteral("\n  "));
            return false;
        }
        *conversions = fromArray(root.toList());
        return true;
    }

    QVariantList array = defaults.arrayForKey(PreferenceKeys::kConversions);
    if (array.isEmpty()) {
        // A missing or unreadable factory list gives no conversions.
        const QString factory = MainBundle::pathForResource(QStringLiteral("Factory_Conversions"), QStringLiteral("plist"));
        if (!factory.isEmpty()) {
            const QVariant root = PropertyList::fromFile(factory);
            if (root.typeId() == QMetaType::QVariantList)
                array = root.toList();
        }
    }
    *conversions = fromArray(array);
    sortAsStored(conversions, defaults);
    return true;
}

void ConversionList::sortAsStored(QList<ConvSpecRef>* conversions, const UserDefaults& defaults)
{
    ConvSpec::setSortKey(defaults.stringForKey(PreferenceKeys::kConvSpecsSortKey));
    ConvSpec::setAscendingSort(defaults.boolForKey(PreferenceKeys::kConvSpecsSortAscending));
    std::stable_sort(conversions->begin(), conversions->end(),
                     [](const ConvSpecRef& a, const ConvSpecRef& b) { return a->compare(b.get()) < 0; });
}

QString ConversionList::notWritable(const ConvSpec& spec)
{
    const OSType type = spec.outputFileType();
    const QVariantMap entry = GetFileTypeEntry(type);
    QString text = QStringLiteral("its output file type cannot be written");
    if (!entry.isEmpty())
        text += QStringLiteral(" (%1, '%2')")
                    .arg(entry.value(QStringLiteral("text")).toString(),
                         QString::fromStdString(fourcc_to_string(type)));
    const QString reason = entry.value(QStringLiteral("notWritableReason")).toString();
    if (!reason.isEmpty())
        text += QStringLiteral(". ") + reason;
    // The types that do write files of its extension (MP3 is read as one
    // type and written as another).
    const QString extension = entry.value(QStringLiteral("extension")).toString();
    QStringList writers;
    for (const OSType other : GetFileTypeTableCodes()) {
        const QVariantMap otherEntry = GetFileTypeEntry(other);
        // (Through the outside encoder once it is found.)
        if (other != type && !extension.isEmpty() &&
            (FileTypeCanBeWritten(other) || EngineStartup::usesMP3Encoder(other)) &&
            otherEntry.value(QStringLiteral("extension")).toString() == extension)
            writers.append(QStringLiteral("'%1' (%2, %3 as QMCSOutputFileType)")
                               .arg(QString::fromStdString(fourcc_to_string(other)),
                                    otherEntry.value(QStringLiteral("text")).toString())
                               .arg(qint32(other)));
    }
    if (!writers.isEmpty())
        text += QStringLiteral("; .%1 files are written as %2").arg(extension, writers.join(QStringLiteral(" or ")));
    return text;
}

QString ConversionList::cannotRun(const ConvSpec& spec)
{
    if (!spec.valid())
        return notWritable(spec);
    return ConversionCheck::problems(spec).value(0);
}

QString ConversionList::whyCannotRun(const ConvSpec& spec)
{
    const QString why = cannotRun(spec);
    return why.isEmpty() ? why : QStringLiteral("the conversion '%1' cannot run: %2").arg(spec.conversionName(), why);
}

bool ConversionList::select(const QList<ConvSpecRef>& all, const QStringList& names, QList<ConvSpecRef>* chosen,
                            QString* error, QStringList* skipped)
{
    chosen->clear();
    if (names.isEmpty()) {
        QStringList cannot;
        for (const ConvSpecRef& spec : all) {
            if (!spec->active())
                continue;
            const QString why = whyCannotRun(*spec);
            if (why.isEmpty())
                chosen->append(spec);
            else
                cannot.append(why);
        }
        if (chosen->isEmpty()) {
            *error = QStringLiteral("no active conversion to run");
            for (const QString& why : cannot)
                *error += QStringLiteral("\n") + why;
            return false;
        }
        if (skipped)
            *skipped = cannot;
        return true;
    }

    // Each name picks the conversions of exactly that name, else the one
    // conversion whose name differs from it in case alone.
    QSet<const ConvSpec*> picked;
    QString missing;
    for (const QString& name : names) {
        QList<ConvSpecRef> matches;
        for (const ConvSpecRef& spec : all)
            if (spec->conversionName() == name)
                matches.append(spec);
        if (matches.isEmpty()) {
            for (const ConvSpecRef& spec : all)
                if (spec->conversionName().compare(name, Qt::CaseInsensitive) == 0)
                    matches.append(spec);
        }
        if (matches.size() > 1 && matches.first()->conversionName() != name) {
            QStringList several;
            for (const ConvSpecRef& spec : matches)
                several.append(spec->conversionName());
            *error = QStringLiteral("'%1' names %2 conversions when case is ignored: %3; give one of them exactly")
                         .arg(name)
                         .arg(matches.size())
                         .arg(ClosestNames::quotedList(several));
            return false;
        }
        if (matches.isEmpty() && missing.isEmpty()) {
            QStringList existing;
            for (const ConvSpecRef& spec : all)
                existing.append(spec->conversionName());
            const QStringList closest = ClosestNames::find(name, existing);
            missing = QStringLiteral("no conversion named '%1'").arg(name);
            if (!closest.isEmpty())
                missing += QStringLiteral("; the closest: %1").arg(ClosestNames::quotedList(closest));
            missing += QStringLiteral(" (--list-conversions lists them)");
        }
        for (const ConvSpecRef& spec : matches)
            picked.insert(spec.get());
    }
    for (const ConvSpecRef& spec : all) {
        if (!picked.contains(spec.get()))
            continue;
        if (const QString why = whyCannotRun(*spec); !why.isEmpty()) {
            *error = why;
            return false;
        }
        chosen->append(spec);
    }
    if (!missing.isEmpty()) {
        *error = missing;
        return false;
    }
    return true;
}
