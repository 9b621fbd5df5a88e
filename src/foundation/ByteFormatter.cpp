#include "ByteFormatter.h"

#include "UserDefaults.h"

#include <QMetaType>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// The user's decimal separator; "." when the default is missing or empty.
QString decimalSeparator()
{
    const QString separator =
        UserDefaults::standardUserDefaults().stringForKey(QLatin1String(ByteFormatter::kDecimalSeparatorKey));
    return separator.isEmpty() ? QStringLiteral(".") : separator;
}

bool isNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

bool isUnsignedInteger(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

// Scans a decimal number ([sign] digits [. digits] [exponent]) at `pos`,
// after optional white space; advances `pos` past it.
bool scanFloat(const QString& text, qsizetype& pos, float* result)
{
    qsizetype i = pos;
    const qsizetype n = text.size();
    while (i < n && text.at(i).isSpace())
        ++i;
    const qsizetype start = i;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && text.at(i) >= u'0' && text.at(i) <= u'9') {
        ++i;
        ++digits;
    }
    if (i < n && text.at(i) == u'.') {
        ++i;
        while (i < n && text.at(i) >= u'0' && text.at(i) <= u'9') {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < n && (text.at(i) == u'e' || text.at(i) == u'E')) {
        qsizetype j = i + 1;
        if (j < n && (text.at(j) == u'+' || text.at(j) == u'-'))
            ++j;
        qsizetype expDigits = 0;
        while (j < n && text.at(j) >= u'0' && text.at(j) <= u'9') {
            ++j;
            ++expDigits;
        }
        if (expDigits > 0)
            i = j;
    }
    bool ok = false;
    const QString number = text.mid(start, i - start);
    float value = number.toFloat(&ok);   // C locale, whatever the process locale
    if (!ok) {
        // Out of range for a float: toFloat refuses it, the scan saturates.
        const double wide = number.toDouble(&ok);
        if (!ok)
            return false;
        value = wide < 0 ? -std::numeric_limits<float>::infinity()
                         : std::numeric_limits<float>::infinity();
    }
    *result = value;
    pos = i;
    return true;
}

} // namespace

QString ByteFormatter::stringForObjectValue(const QVariant& value) const
{
    if (!isNumber(value))
        return QString();

    uint64_t n = 0;
    double d = 0;
    if (isUnsignedInteger(value)) {
        n = value.toULongLong();
        d = static_cast<double>(n);
    } else if (value.typeId() == QMetaType::Float || value.typeId() == QMetaType::Double) {
        d = value.toDouble();
        if (!std::isfinite(d) || d < 0)
            return QString();
        n = d >= 18446744073709551616.0 ? std::numeric_limits<uint64_t>::max()
                                        : static_cast<uint64_t>(d);
    } else {
        const qlonglong s = value.toLongLong();
        if (s < 0)
            return QString();
        n = static_cast<uint64_t>(s);
        d = static_cast<double>(s);
    }

    QString text;
    if (n < 1024ULL)
        text = QString::asprintf("%llu B", static_cast<unsigned long long>(n));
    else if (n < 1048576ULL)
        text = QString::asprintf("%.2f kB", d / 1024);
    else if (n < 1073741824ULL)
        text = QString::asprintf("%.2f MB", d / 1048576);
    else
        text = QString::asprintf("%.2f GB", d / 1073741824);

    const QString separator = decimalSeparator();
    if (separator != QLatin1String("."))
        text.replace(u'.', separator);
    return text;
}

bool ByteFormatter::getObjectValue(QVariant* value, const QString& string,
                                   QString* /*errorDescription*/) const
{
    if (string.isEmpty()) {
        if (value)
            *value = QVariant::fromValue<quint64>(0);
        return true;
    }

    QString text = string;
    const QString separator = decimalSeparator();
    if (separator != QLatin1String("."))
        text.replace(separator, QStringLiteral("."));

    qsizetype pos = 0;
    float number = 0;
    if (!scanFloat(text, pos, &number))
        return false;

    // The unit: the text up to the first "B", white space skipped before it.
    while (pos < text.size() && text.at(pos).isSpace())
        ++pos;
    const qsizetype bPos = text.indexOf(u'B', pos);
    const QString unit = text.mid(pos, bPos < 0 ? -1 : bPos - pos);
    if (unit.isEmpty() && bPos < 0)
        return false;                      // a bare number: no unit at all

    float factor = 1;
    if (unit.endsWith(u'G'))
        factor = 1073741824.0f;
    else if (unit.endsWith(u'M'))
        factor = 1048576.0f;
    else if (unit.endsWith(u'k'))
        factor = 1024.0f;

    const float product = number * factor;
    if (std::isnan(product) || product < 0)
        return false;
    uint64_t bytes;
    if (product >= 18446744073709551616.0f)
        bytes = std::numeric_limits<uint64_t>::max();
    else
        bytes = static_cast<uint64_t>(product);
    if (value)
        *value = QVariant::fromValue<quint64>(bytes);
    return true;
}
