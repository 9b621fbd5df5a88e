#include "OutputCapabilities.h"

#include "CreateSoundFile.h"
#include "FileTypeDictionary.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Rates closer than this are the same rate.
constexpr double kSameRate = 0.01;

QString Number(double value)
{
    return QLocale::c().toString(value, 'g', 10);
}

// "a", "a or b", "a, b or c".
QString Alternatives(const QStringList& items)
{
    if (items.size() <= 1)
        return items.join(QString());
    return QStringList(items.mid(0, items.size() - 1)).join(QStringLiteral(", ")) + QStringLiteral(" or ")
        + items.last();
}

bool Flag(const QVariantMap& entry, const char* key)
{
    return entry.value(QLatin1String(key)).toBool();
}

OutputCapabilities::OptionSheet SheetNamed(const QString& name, bool optionsButton)
{
    using Sheet = OutputCapabilities::OptionSheet;
    static const std::pair<const char*, Sheet> kSheets[] = {
        {"MPEG", Sheet::MPEG}, {"broadcastWave", Sheet::BroadcastWave}, {"MP3", Sheet::MP3},
        {"G.729", Sheet::G729}, {"creativeVoice", Sheet::CreativeVoice}};
    for (const auto& [text, sheet] : kSheets)
        if (name == QLatin1String(text))
            return sheet;
    return optionsButton ? Sheet::ConfirmAtOnce : Sheet::None;
}

}  // namespace

OutputCapabilities OutputCapabilities::fromEntry(const QVariantMap& entry)
{
    OutputCapabilities caps;
    caps.name = entry.value(QStringLiteral("text")).toString();
    for (const QVariant& v : entry.value(QStringLiteral("channelCounts")).toList())
        caps.channelCounts.append(UInt16(v.toUInt()));
    caps.splitStereoSet = Flag(entry, "splitStereoSet");
    for (const QVariant& v : entry.value(QStringLiteral("discreteSampleRates")).toList())
        caps.discreteRates.append(v.toDouble());
    std::sort(caps.discreteRates.begin(), caps.discreteRates.end());
    caps.rateMin = entry.value(QStringLiteral("sampleRateMin")).toDouble();
    caps.rateMax = entry.value(QStringLiteral("sampleRateMax")).toDouble();
    caps.rateDefault = entry.value(QStringLiteral("sampleRateDefault")).toDouble();
    caps.rateRequired = Flag(entry, "forceSampleRate");
    caps.channelsRequired = Flag(entry, "forceChannels");
    const QString source = entry.value(QStringLiteral("sampleRateSource")).toString();
    if (source == QLatin1String("name"))
        caps.rateSource = RateSource::Name;
    else if (source == QLatin1String("fixed"))
        caps.rateSource = RateSource::Fixed;
    for (const QVariant& v : entry.value(QStringLiteral("wordLengths")).toList())
        caps.wordLengths.append(SInt16(v.toInt()));
    for (const QVariant& item : entry.value(QStringLiteral("numBitsPopup")).toList()) {
        const QVariantMap map = item.toMap();
        if (map.contains(QStringLiteral("tag"))
            && !caps.wordLengthChoices.contains(map.value(QStringLiteral("tag")).toInt()))
            caps.wordLengthChoices.append(map.value(QStringLiteral("tag")).toInt());
    }
    caps.wordLengthIsBitRate = Flag(entry, "wordLengthIsBitRate");
    caps.wordLengthRequired = Flag(entry, "forceWordSize");
    caps.maxSoundBytes = entry.value(QStringLiteral("maxSoundBytes")).toDouble();
    caps.storedBits = SInt16(entry.value(QStringLiteral("storedBitsPerSample")).toInt());
    caps.refusalCode = SInt16(entry.value(QStringLiteral("refusalCode")).toInt());
    caps.soundBlockBytes = entry.value(QStringLiteral("soundBlockBytes")).toDouble();
    for (const QVariant& v : entry.value(QStringLiteral("headerlessSampleRates")).toList())
        caps.headerlessRates.append(v.toDouble());
    caps.hasOptions = Flag(entry, "optionsButtonEnabled");
    caps.optionsRequired = Flag(entry, "specificsMustBeValid");
    caps.optionSheet = SheetNamed(entry.value(QStringLiteral("optionSheet")).toString(), caps.hasOptions);
    return caps;
}

bool OutputCapabilities::holdsChannels(UInt16 channels) const
{
    return channelCounts.isEmpty() || channelCounts.contains(channels);
}

UInt16 OutputCapabilities::treatmentChannels(SInt32 treatment) const
{
    return splitStereoSet && treatment == 2 ? 2 : TreatmentOutputChannels(treatment);
}

bool OutputCapabilities::holdsRate(double rate) const
{
    if (!discreteRates.isEmpty())
        return std::any_of(
            discreteRates.begin(), discreteRates.end(), [rate](double r) { return std::fabs(r - rate) < kSameRate; });
    return (rateMin <= 0.0 || rate >= rateMin) && (rateMax <= 0.0 || rate <= rateMax);
}

bool OutputCapabilities::holdsWordLength(SInt16 bits) const
{
    return wordLengths.isEmpty() || wordLengths.contains(bits);
}

QString OutputCapabilities::ratesText() const
{
    if (!discreteRates.isEmpty()) {
        QStringList rates;
        for (double r : discreteRates)
            rates.append(Number(r));
        return Alternatives(rates) + QStringLiteral(" Hz");
    }
    if (rateMin > 0.0 && rateMax > 0.0)
        return QStringLiteral("%1 to %2 Hz").arg(Number(rateMin), Number(rateMax));
    if (rateMin > 0.0)
        return QStringLiteral("%1 Hz or more").arg(Number(rateMin));
    if (rateMax > 0.0)
        return QStringLiteral("%1 Hz or less").arg(Number(rateMax));
    return QString();
}

QString OutputCapabilities::channelsText() const
{
    QStringList counts;
    for (UInt16 c : channelCounts)
        counts.append(QString::number(c));
    const bool one = channelCounts.size() == 1 && channelCounts.first() == 1;
    return Alternatives(counts) + (one ? QStringLiteral(" channel") : QStringLiteral(" channels"));
}

OutputCapabilities GetOutputCapabilities(OSType type)
{
    return OutputCapabilities::fromEntry(GetFileTypeEntry(type));
}

UInt16 TreatmentOutputChannels(SInt32 treatment)
{
    switch (treatment) {
    case 1:
    case 7:
    case 8:
        return 2;
    case 2:
    case 3:
    case 4:
    case 5:
        return 1;
    default:
        return 0;
    }
}

QString TreatmentsHeldText(const OutputCapabilities& caps)
{
    QStringList held;
    for (SInt32 treatment = 1; treatment <= 5; ++treatment)
        if (caps.holdsChannels(caps.treatmentChannels(treatment)))
            held.append(QString::number(treatment));
    return Alternatives(held);
}

SInt16 CheckOutputShape(const OutputCapabilities& caps, UInt16 channels, double rate, SInt16 bits)
{
    SInt16 err = noErr;
    if (!caps.holdsChannels(channels))
        err = kOutputChannelsErr;
    else if (caps.rateMustBeConverted() && !caps.holdsRate(rate))
        err = kOutputSampleRateErr;
    else if (!caps.holdsWordLength(bits))
        err = kOutputWordLengthErr;
    return err != noErr && caps.refusalCode != 0 ? caps.refusalCode : err;
}

QList<HeaderlessReading> GetHeaderlessReadings()
{
    QList<HeaderlessReading> readings;
    const QVariantMap dictionary = GetFileTypeDictionary();
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
        for (const QVariant& item : it.value().toMap().value(QStringLiteral("headerlessReadings")).toList()) {
            const QVariantMap map = item.toMap();
            HeaderlessReading reading;
            reading.type = HFSTypeCodeFromFileType(it.key());
            reading.tag = map.value(QStringLiteral("tag")).toInt();
            reading.title = map.value(QStringLiteral("text")).toString();
            reading.bigEndian = map.value(QStringLiteral("bigEndian")).toBool();
            reading.wordSize = SInt16(map.value(QStringLiteral("wordSize")).toInt());
            reading.channelsFromField = map.value(QStringLiteral("channelsFromField")).toBool();
            reading.choosable = map.value(QStringLiteral("choosable")).toBool();
            readings.append(reading);
        }
    }
    std::sort(readings.begin(), readings.end(),
              [](const HeaderlessReading& a, const HeaderlessReading& b) { return a.tag < b.tag; });
    return readings;
}

double HeaderlessSampleRate(OSType type, double storedRate)
{
    const QList<double> rates = GetOutputCapabilities(type).headerlessRates;
    if (rates.isEmpty())
        return storedRate;
    for (double rate : rates)
        if (std::fabs(storedRate - rate) < 0.5)
            return rate;
    return rates.first();
}
