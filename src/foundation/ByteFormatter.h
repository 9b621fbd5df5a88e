// Byte counts as short human-readable sizes ("512 B", "1.50 kB", "2.00 GB")
// and back, with the user's decimal separator.
#pragma once

#include <QString>
#include <QVariant>

class ByteFormatter {
public:
    // "%llu B" below 1024 bytes, else "%.2f kB", "%.2f MB" or "%.2f GB" in
    // binary multiples, every "." replaced by the user's decimal separator.
    // A null string for anything that is not a number, and for a negative or
    // non-finite one.
    QString stringForObjectValue(const QVariant& value) const;

    // Parses a size as written by stringForObjectValue: a number (with the
    // user's decimal separator), then a unit ending in "B" ("B", "kB", "MB",
    // "GB"). The empty string is 0. Stores a quint64 in *value and returns
    // true; returns false for text without a number or unit, and for a
    // negative size. `errorDescription` is never set.
    bool getObjectValue(QVariant* value, const QString& string,
                        QString* errorDescription = nullptr) const;

    // The user default that holds the decimal separator.
    static constexpr const char* kDecimalSeparatorKey = "NSDecimalSeparator";
};
