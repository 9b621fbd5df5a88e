// Shows a number of seconds as a clock time and reads it back, for the
// time fields of the windows.
//
// With hours: "HH:MM:SS.sss" (always three decimals).  Without hours:
// "M:SS" followed by `precision` decimals ("M:SS.sss" for 3).  The value
// is rounded at the precision shown before it is split into fields, so a
// rounding that reaches the next minute or hour carries into it (59.9996 s
// at three decimals is "1:00.000", never "0:60.000").  Negative values get
// a leading "-".
//
// Reading: an empty text is 0; otherwise "H:M:S" with hours and "M:S"
// without, each field an unsigned number (decimals allowed), white space
// around the fields allowed, one "-" in front for a negative time.
// Anything else is refused with "invalid time format".
#pragma once

#include <QString>
#include <QVariant>

class TimeFormatter {
public:
    TimeFormatter() = default;

    bool noHours() const { return m_noHours; }
    void setNoHours(bool noHours) { m_noHours = noHours; }
    int precision() const { return m_precision; }
    // Decimals of the seconds without hours; clamped to 0..9.
    void setPrecision(int precision);

    // The text for a value that converts to a finite double; a null string
    // otherwise.
    QString stringForObjectValue(const QVariant& value) const;
    // True with the seconds in *seconds; false with "invalid time format"
    // in *error (either pointer may be null).
    bool getObjectValue(double* seconds, const QString& text, QString* error) const;

    static QString invalidFormatText() { return QStringLiteral("invalid time format"); }

private:
    bool m_noHours = false;
    int m_precision = 0;
};
