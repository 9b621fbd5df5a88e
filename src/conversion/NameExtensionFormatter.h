// The output-name extension of a conversion: stored without its first "."
// and shown with one.  A "/" or NUL in an extension becomes "-" (it is
// part of a file name).
#pragma once

#include <QString>
#include <QVariant>

class NameExtensionFormatter {
public:
    // The stored extension shown with a dot: as it is when it begins with
    // ".", else "." + it; a null string for a non-string value.
    QString stringForObjectValue(const QVariant& value) const;

    // The extension to store for typed text: without its first character
    // when that is ".", "/" and NUL replaced by "-".  Always true.
    bool getObjectValue(QVariant* object, const QString& string, QString* error) const;

    // The stored form of `string`, as getObjectValue makes it.
    static QString storedExtension(const QString& string);
};
