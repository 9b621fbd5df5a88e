#include "telephony_names.h"

#include "CreateSoundFile.h"
#include "MacRoman.h"
#include "progress_channel.h"
#include "RawFileSettings.h"

#include <cmath>

double RateFromNameDigit(const std::string& name, bool nineIs32k)
{
    if (name.empty())
        return 0.0;
    switch (name.back()) {
    case '6': return 6000.0;
    case '8': return 8000.0;
    case '9': return nineIs32k ? 32000.0 : 0.0;
    default: return 0.0;
    }
}

char RateDigit(double rate, bool nineIs32k)
{
    if (rate == 6000.0)
        return '6';
    if (rate == 8000.0)
        return '8';
    return nineIs32k && rate == 32000.0 ? '9' : 0;
}

ConstStr255Param NameExtensionForRate(OSType type, double rate, bool nineIs32k, ConstStr255Param given,
                                      Str255 chosen)
{
    QString extension = given ? MacRoman::fromPascal(given) : QString();
    if (extension.isEmpty()) {
        extension = GetSoundFileProperties(type).value(QStringLiteral("extension")).toString();
        const char digit = RateDigit(rate, nineIs32k);
        if (digit && !extension.isEmpty() && RateFromNameDigit(extension.toStdString(), nineIs32k) != 0.0)
            extension[extension.size() - 1] = QLatin1Char(digit);
        if (extension.isEmpty() || !MacRoman::toPascal(extension, chosen, 255))
            return given;
        given = chosen;
    }
    if (RateFromNameDigit(extension.toStdString(), nineIs32k) != rate)
        PostOutputWarning(kTelephonyNameRateWarning);
    return given;
}

OSErr RawFileRate(double* rate)
{
    // A rate that is none fails the file alone (the preferences refuse
    // one where it is set).
    const double raw = RawFileSettings::SampleRate();
    if (!RawFileSettings::SampleRateUsable(raw))
        return kRawFileRateWarning;
    *rate = raw;
    return noErr;
}

OSErr RateFromNameOrSettings(const std::string& name, bool nineIs32k, double* rate, bool* fromSettings)
{
    const double named = RateFromNameDigit(name, nineIs32k);
    *fromSettings = named == 0.0;
    if (named == 0.0)
        return RawFileRate(rate);
    *rate = named;
    return noErr;
}

std::string NameExtension(const std::string& name)
{
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

bool ExtensionGivesType(const std::string& name, OSType type)
{
    const QString extension = QString::fromStdString(NameExtension(name)).toLower();
    if (extension.isEmpty())
        return false;
    QString key = QStringLiteral("'");
    for (int shift = 24; shift >= 0; shift -= 8)
        key += QChar(char((type >> shift) & 0xFF));
    key += QLatin1Char('\'');
    // Type detection takes the first type of an extension: a type that
    // shares its extension with an earlier one is not told by it.
    const QStringList types = GetTypesForExtension(extension);
    return !types.isEmpty() && types.first() == key;
}
