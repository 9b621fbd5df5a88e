#include "raw_rate_note.h"

#include "OutputCapabilities.h"
#include "PreferenceKeys.h"
#include "RawFileSettings.h"
#include "UserDefaults.h"
#include "error_codes.h"
#include "error_table.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

QString Number(double value)
{
    return QLocale::c().toString(value, 'g', 10);
}

}  // namespace

QString RawRateNote(qsizetype count, const QString& first, double readRate, const UserDefaults& defaults)
{
    if (count == 0)
        return QString();
    const QString key = PreferenceKeys::kUnrecognizedInputFileSampleRate;
    // The preferences hold the rate as a float.
    const double stored = double(float(defaults.doubleForKey(key)));
    const bool chosen = defaults.persistentValues().contains(key);
    const bool taken = std::fabs(stored - readRate) < 0.5;
    if (chosen && taken)
        return QString();

    QString text = count == 1 ? QStringLiteral("'%1' has no header, and its name does not give its sample rate")
                                    .arg(first)
                              : QStringLiteral("%1 inputs have no header, and their names do not give their sample "
                                               "rate (the first: '%2')")
                                    .arg(count)
                                    .arg(first);
    if (taken)
        return text + QStringLiteral(": read at %1 Hz, the raw-file rate (preference \"%2\")")
                          .arg(Number(readRate), key);
    // The type unrecognised files are read as knows only some rates.
    const OutputCapabilities type = GetOutputCapabilities(RawFileSettings::FileType());
    QList<double> rates = type.headerlessRates;
    std::sort(rates.begin(), rates.end());
    QStringList shown;
    for (double rate : rates)
        shown.append(Number(rate));
    const QString alternatives = shown.size() > 1 ? QStringList(shown.mid(0, shown.size() - 1)).join(QStringLiteral(", "))
                                                        + QStringLiteral(" or ") + shown.last()
                                                  : shown.value(0);
    return text + QStringLiteral(": read at %1 Hz, because %2, the type unrecognised files are read as, is read at "
                                 "%3 Hz, and the raw-file rate (preference \"%4\") is %5 Hz")
                      .arg(Number(readRate), type.name, alternatives, key, Number(stored));
}

QString UnusableRawRateLine()
{
    return QStringLiteral("%1 (%2): the raw-file rate (preference \"%3\") is %4 Hz, not one from %5 to %6 Hz")
        .arg(QString::fromStdString(LookupErrorMessage(kRawFileRateWarning).message))
        .arg(kRawFileRateWarning)
        .arg(PreferenceKeys::kUnrecognizedInputFileSampleRate, Number(RawFileSettings::SampleRate()),
             Number(RawFileSettings::kMinSampleRate), Number(RawFileSettings::kMaxSampleRate));
}
