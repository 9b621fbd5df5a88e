#include "TimeFormatter.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kMaxPrecision = 9;
// Beyond this many units the value no longer fits the integer fields.
constexpr double kMaxUnits = 9.0e18;

// A field of the text: an unsigned number, nothing else (white space
// around it is allowed).
bool ParseField(const QString& field, double* value)
{
    const QString text = field.trimmed();
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (!(c.isDigit() || c == QLatin1Char('.')))
            return false;
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}
}

void TimeFormatter::setPrecision(int precision)
{
    m_precision = std::clamp(precision, 0, kMaxPrecision);
}

QString TimeFormatter::stringForObjectValue(const QVariant& value) const
{
    bool ok = false;
    const double t = value.toDouble(&ok);
    if (!ok || !std::isfinite(t))
        return QString();
    const int decimals = m_noHours ? m_precision : 3;
    long long unitsPerSecond = 1;
    for (int i = 0; i < decimals; ++i)
        unitsPerSecond *= 10;
    const double scaled = std::fabs(t) * double(unitsPerSecond);
    if (scaled >= kMaxUnits)
        return QString();
    // Round at the precision shown first; the fields then carry.
    const long long units = std::llround(scaled);
    const long long whole = units / unitsPerSecond;
    const long long fraction = units % unitsPerSecond;
    const QString sign = (t < 0 && units != 0) ? QStringLiteral("-") : QString();
    QString text;
    if (m_noHours) {
        text = QString::asprintf("%lld:%02lld", whole / 60, whole % 60);
    } else {
        text = QString::asprintf("%02lld:%02lld:%02lld", whole / 3600, (whole % 3600) / 60, whole % 60);
    }
    if (decimals > 0)
        text += QString::asprintf(".%0*lld", decimals, fraction);
    return sign + text;
}

bool TimeFormatter::getObjectValue(double* seconds, const QString& text, QString* error) const
{
    if (text.isEmpty()) {
        if (seconds)
            *seconds = 0.0;
        if (error)
            error->clear();
        return true;
    }
    // One sign in front applies to the whole time.
    QString body = text.trimmed();
    const bool negative = body.startsWith(QLatin1Char('-'));
    if (negative)
        body.remove(0, 1);
    const QStringList fields = body.split(QLatin1Char(':'));
    const int expected = m_noHours ? 2 : 3;
    double h = 0, m = 0, s = 0;
    bool ok = fields.size() == expected;
    int at = 0;
    if (ok && !m_noHours)
        ok = ParseField(fields[at++], &h);
    if (ok)
        ok = ParseField(fields[at++], &m);
    if (ok)
        ok = ParseField(fields[at], &s);
    if (!ok) {
        if (error)
            *error = invalidFormatText();
        return false;
    }
    if (seconds)
        *seconds = (negative ? -1 : 1) * (h * 3600 + m * 60 + s);
    if (error)
        error->clear();
    return true;
}
