// The text of a conversion's name, which also names the conversion's output
// folder: no "/", "\\", ":" or NUL (each becomes "-"), no leading ".", at
// most 255 bytes of UTF-8, never empty, "." or "..".
#pragma once

#include <QString>
#include <QVariant>

class ConvNameFormatter {
public:
    // Longest name, in bytes of UTF-8 (a folder name on Linux).
    static constexpr int kMaxNameBytes = 255;

    // The name for a string value; a null string for any other value.
    // Each of "\\", "/", ":" and NUL becomes one "-"; then one leading "."
    // is removed; then the text is cut to kMaxNameBytes bytes of UTF-8
    // without splitting a character.  A result that would be empty, "."
    // or ".." is the default conversion name instead.
    QString stringForObjectValue(const QVariant& value) const;

    // Accepts any text: `object` receives a copy of it; always true.
    bool getObjectValue(QVariant* object, const QString& string, QString* error) const;
};
