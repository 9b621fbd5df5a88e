#include "plist_values.h"

#include <QByteArray>

#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool IsIntegerType(int typeId)
{
    switch (typeId) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool IsRealType(int typeId)
{
    return typeId == QMetaType::Double || typeId == QMetaType::Float;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The text after leading blanks, as Latin-1 bytes (digits, signs and the
// letters that matter are all ASCII; anything else stops the parse).
QByteArray TrimmedStart(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    qsizetype i = 0;
    while (i < bytes.size() && IsBlank(bytes[i]))
        ++i;
    return bytes.mid(i);
}

SInt32 SaturateToInt32(long long value)
{
    if (value > std::numeric_limits<SInt32>::max())
        return std::numeric_limits<SInt32>::max();
    if (value < std::numeric_limits<SInt32>::min())
        return std::numeric_limits<SInt32>::min();
    return static_cast<SInt32>(value);
}

// A leading decimal integer: optional sign, digits; saturating.
SInt32 ParseInt(const QString& text)
{
    const QByteArray bytes = TrimmedStart(text);
    qsizetype i = 0;
    bool negative = false;
    if (i < bytes.size() && (bytes[i] == '+' || bytes[i] == '-')) {
        negative = bytes[i] == '-';
        ++i;
    }
    long long value = 0;
    bool overflow = false;
    for (; i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9'; ++i) {
        if (!overflow) {
            value = value * 10 + (bytes[i] - '0');
            if (value > (1LL << 40))
                overflow = true;
        }
    }
    if (overflow)
        return negative ? std::numeric_limits<SInt32>::min() : std::numeric_limits<SInt32>::max();
    return SaturateToInt32(negative ? -value : value);
}

// A leading decimal number in the C locale ("1.5e3", "-.25", "inf" is not
// accepted: 0).
double ParseDouble(const QString& text)
{
    QByteArray bytes = TrimmedStart(text);
    qsizetype start = 0;
    bool negative = false;
    if (start < bytes.size() && (bytes[start] == '+' || bytes[start] == '-')) {
        negative = bytes[start] == '-';
        ++start;
    }
    // Only digits, a point and an exponent may follow; anything else ends
    // the number.
    const char* first = bytes.constData() + start;
    const char* last = bytes.constData() + bytes.size();
    if (first == last || !((*first >= '0' && *first <= '9') || *first == '.'))
        return 0.0;
    double value = 0.0;
    const std::from_chars_result result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large or too small: infinity or zero of the sign, as strtod.
        bool huge = false;
        for (const char* p = first; p < result.ptr; ++p) {
            if (*p == 'e' || *p == 'E') {
                huge = p + 1 < result.ptr && p[1] != '-';
                break;
            }
            if (*p >= '1' && *p <= '9') {
                huge = true;
            }
        }
        value = huge ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc()) {
        return 0.0;
    }
    return negative ? -value : value;
}

} // namespace

float DoubleToFloat(double value)
{
    if (std::isnan(value))
        return std::numeric_limits<float>::quiet_NaN();
    if (value > static_cast<double>(std::numeric_limits<float>::max()))
        return std::numeric_limits<float>::infinity();
    if (value < -static_cast<double>(std::numeric_limits<float>::max()))
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

SInt32 DoubleToInt32(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<SInt32>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<SInt32>::min();
    return static_cast<SInt32>(value);
}

bool PlistBoolValue(const QVariant& value)
{
    const int type = value.typeId();
    if (type == QMetaType::Bool)
        return value.toBool();
    if (IsIntegerType(type))
        return value.toLongLong() != 0 || value.toULongLong() != 0;
    if (IsRealType(type))
        return value.toDouble() != 0.0; // NaN counts as YES, as != says
    if (type == QMetaType::QString) {
        const QByteArray bytes = TrimmedStart(value.toString());
        qsizetype i = 0;
        if (i < bytes.size() && (bytes[i] == '+' || bytes[i] == '-'))
            ++i;
        while (i < bytes.size() && bytes[i] == '0')
            ++i;
        if (i >= bytes.size())
            return false;
        const char c = bytes[i];
        return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
    }
    return false;
}

SInt32 PlistIntValue(const QVariant& value)
{
    const int type = value.typeId();
    if (type == QMetaType::Bool)
        return value.toBool() ? 1 : 0;
    if (type == QMetaType::ULongLong || type == QMetaType::ULong || type == QMetaType::UInt) {
        const qulonglong v = value.toULongLong();
        return v > static_cast<qulonglong>(std::numeric_limits<SInt32>::max()) ? std::numeric_limits<SInt32>::max()
                                                                               : static_cast<SInt32>(v);
    }
    if (IsIntegerType(type))
        return SaturateToInt32(value.toLongLong());
    if (IsRealType(type))
        return DoubleToInt32(value.toDouble());
    if (type == QMetaType::QString)
        return ParseInt(value.toString());
    return 0;
}

UInt32 PlistTypeCodeValue(const QVariant& value)
{
    const int type = value.typeId();
    if (type == QMetaType::ULongLong || type == QMetaType::ULong || type == QMetaType::UInt)
        return static_cast<UInt32>(value.toULongLong() & 0xFFFFFFFFu);
    if (IsIntegerType(type))
        return static_cast<UInt32>(static_cast<qulonglong>(value.toLongLong()) & 0xFFFFFFFFu);
    return static_cast<UInt32>(PlistIntValue(value));
}

double PlistDoubleValue(const QVariant& value)
{
    const int type = value.typeId();
    if (type == QMetaType::Bool)
        return value.toBool() ? 1.0 : 0.0;
    if (type == QMetaType::ULongLong || type == QMetaType::ULong || type == QMetaType::UInt)
        return static_cast<double>(value.toULongLong());
    if (IsIntegerType(type))
        return static_cast<double>(value.toLongLong());
    if (IsRealType(type))
        return value.toDouble();
    if (type == QMetaType::QString)
        return ParseDouble(value.toString());
    return 0.0;
}

float PlistFloatValue(const QVariant& value)
{
    return DoubleToFloat(PlistDoubleValue(value));
}

QString PlistStringValue(const QVariant& value)
{
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return QString();
}
