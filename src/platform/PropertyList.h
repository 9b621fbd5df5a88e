// Property lists <-> QVariant, through libplist.
//
//   dict    <-> QVariantMap         array <-> QVariantList (QStringList too)
//   string  <-> QString             integer <-> qlonglong (any integer type)
//   real    <-> double (float too)  bool <-> bool
//   data    <-> QByteArray          date <-> QDateTime (UTC)
//
// A UID (keyed archives) reads as the map {"CF$UID": number}.  Dates are
// seconds from 2001-01-01 00:00:00 UTC; XML keeps whole seconds, binary keeps
// milliseconds for dates from 2001 on and whole seconds before (rounded
// down); the range is what a signed 32-bit second count holds
// (1932..2069) and a date outside it is refused rather than wrapped.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <functional>

class PropertyList {
public:
    enum class Format { Xml, Binary };

    // Reads a property list in XML or binary form.  On failure: an invalid
    // QVariant and, when `error` is given, a description.
    static QVariant fromData(const QByteArray& data, QString* error = nullptr);
    static QVariant fromFile(const QString& path, QString* error = nullptr);
    // What ends a wait for the writer of a file that is not a regular one
    // (a named pipe, the shell's "<(...)"), asked every tenth of a second:
    // fromFile then fails.  Empty: the wait goes on.
    static void setWaitStop(std::function<bool()> stop);

    // Writes `value` (which must be made of the types above only).  On
    // failure: an empty array and, when `error` is given, a description.
    static QByteArray toData(const QVariant& value, Format format, QString* error = nullptr);
    static QByteArray toXml(const QVariant& value, QString* error = nullptr)
    {
        return toData(value, Format::Xml, error);
    }
    static QByteArray toBinary(const QVariant& value, QString* error = nullptr)
    {
        return toData(value, Format::Binary, error);
    }

    // True when `value` can be written as a property list.
    static bool isPropertyListValue(const QVariant& value);

    // Largest input that fromData and fromFile accept.
    static constexpr qint64 kMaxInputSize = 256LL * 1024 * 1024;
    // Deepest nesting of arrays and dictionaries accepted either way.
    static constexpr int kMaxDepth = 512;
};
