#include "OutputCapabilities.h"

#include "ConvSpec.h"
#include "CreateSoundFile.h"
#include "FileTypeDictionary.h"
#include "MainBundle.h"
#include "PropertyList.h"

#include <QHash>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <mutex>
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

// The rows of a bit-rate combinations resource, read once per resource.
QList<OutputCapabilities::BitRateRow> BitRateRows(const QString& resource)
{
    if (resource.isEmpty())
        return {};
    static std::mutex mutex;
    static QHash<QString, QList<OutputCapabilities::BitRateRow>> read;
    std::lock_guard<std::mutex> lock(mutex);
    if (const auto it = read.constFind(resource); it != read.constEnd())
        return *it;
    QList<OutputCapabilities::BitRateRow> rows;
    const QVariantMap all =
        PropertyList::fromFile(MainBundle::pathForResource(resource, QStringLiteral("plist"))).toMap();
    for (const QVariant& value : all.value(QStringLiteral("combinations")).toList()) {
        const QVariantMap map = value.toMap();
        OutputCapabilities::BitRateRow row;
        row.rate = map.value(QStringLiteral("sampleRate")).toDouble();
        for (const QVariant& c : map.value(QStringLiteral("channels")).toList())
            row.channels.append(UInt16(c.toUInt()));
        row.lowest = map.value(QStringLiteral("minBitRatePerChannel")).toInt();
        row.highest = map.value(QStringLiteral("maxBitRatePerChannel")).toInt();
        rows.append(row);
    }
    read.insert(resource, rows);
    return rows;
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
    caps.rateClock = entry.value(QStringLiteral("sampleRateClock")).toDouble();
    caps.recordedRateLimited = Flag(entry, "recordedRateLimited");
    caps.recordedRateMax = entry.value(QStringLiteral("recordedRateMax")).toDouble();
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
    for (const QVariant& v : entry.value(QStringLiteral("monoBitRates")).toList())
        caps.monoBitRates.append(v.toInt());
    for (const QVariant& v : entry.value(QStringLiteral("stereoBitRates")).toList())
        caps.stereoBitRates.append(v.toInt());
    caps.takesStereoMode = Flag(entry, "takesStereoMode");
    caps.bitRateRows = BitRateRows(entry.value(QStringLiteral("bitRateCombinations")).toString());
    caps.wordLengthRequired = Flag(entry, "forceWordSize");
    caps.maxSoundBytes = entry.value(QStringLiteral("maxSoundBytes")).toDouble();
    caps.storedBits = SInt16(entry.value(QStringLiteral("storedBitsPerSample")).toInt());
    caps.refusalCode = SInt16(entry.value(QStringLiteral("refusalCode")).toInt());
    const QVariantMap codes = entry.value(QStringLiteral("refusalCodes")).toMap();
    for (auto it = codes.cbegin(); it != codes.cend(); ++it)
        caps.refusalCodes.insert(it.key(), SInt16(it.value().toInt()));
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
    if (rateClock > 0.0 && !(rate > 0.0 && std::fabs(rateClock / std::round(rateClock / rate) - rate) < 0.5))
        return false;
    return (rateMin <= 0.0 || rate >= rateMin) && (rateMax <= 0.0 || rate <= rateMax);
}

bool OutputCapabilities::holdsWordLength(SInt16 bits) const
{
    return wordLengths.isEmpty() || wordLengths.contains(bits);
}

bool OutputCapabilities::holdsBitRate(UInt16 channels, int bitRate) const
{
    const QList<int>& rates = channels == 1 ? monoBitRates : stereoBitRates;
    return channels == 0 || channels > 2 || rates.isEmpty() || rates.contains(bitRate);
}

bool OutputCapabilities::holdsBitRateAt(int bitRate, bool perChannel, UInt16 channels, double rate) const
{
    if (bitRateRows.isEmpty())
        return true;
    for (const BitRateRow& row : bitRateRows) {
        if (std::fabs(row.rate - rate) >= kSameRate)
            continue;
        // Channels not known: any count of the row may be the file's.
        for (UInt16 count : channels != 0 ? QList<UInt16>{channels} : row.channels) {
            if (!row.channels.contains(count) || (!perChannel && bitRate % count != 0))
                continue;
            // Each channel's share is one of the rates offered.
            const int each = perChannel ? bitRate : bitRate / count;
            if (each >= row.lowest && each <= row.highest &&
                (wordLengthChoices.isEmpty() || wordLengthChoices.contains(each)))
                return true;
        }
    }
    return false;
}

bool OutputCapabilities::refusesCombination(UInt16 channels, double rate, int bitRate, bool perChannel) const
{
    if (bitRateRows.isEmpty() || channels == 0)
        return false;
    const double whole = std::floor(rate);
    if (bitRate > 0)
        return !holdsBitRateAt(bitRate, perChannel, channels, whole);
    return std::none_of(bitRateRows.begin(), bitRateRows.end(), [&](const BitRateRow& row) {
        return std::fabs(row.rate - whole) < kSameRate && row.channels.contains(channels);
    });
}

SInt16 OutputCapabilities::refusalCodeFor(const QString& shapeCase, UInt16 channels, SInt16 general) const
{
    if (channels == 1 || channels == 2) {
        const auto it =
            refusalCodes.constFind(shapeCase + (channels == 1 ? QStringLiteral("Mono") : QStringLiteral("Stereo")));
        if (it != refusalCodes.cend())
            return *it;
    }
    if (const auto it = refusalCodes.constFind(shapeCase); it != refusalCodes.cend())
        return *it;
    return refusalCode != 0 ? refusalCode : general;
}

QString OutputCapabilities::bitRatesAtText(double rate) const
{
    for (const BitRateRow& row : bitRateRows)
        if (std::fabs(row.rate - rate) < kSameRate)
            return QStringLiteral("%1 to %2 kbit/s per channel").arg(row.lowest).arg(row.highest);
    return QString();
}

QString OutputCapabilities::bitRatesText(UInt16 channels) const
{
    QStringList rates;
    for (int rate : channels == 1 ? monoBitRates : stereoBitRates)
        rates.append(QString::number(rate));
    return Alternatives(rates);
}

QString OutputCapabilities::wordLengthsText() const
{
    QStringList bits;
    for (SInt16 b : wordLengths)
        bits.append(QString::number(b));
    return Alternatives(bits);
}

QString OutputCapabilities::ratesText() const
{
    if (!discreteRates.isEmpty()) {
        QStringList rates;
        for (double r : discreteRates)
            rates.append(Number(r));
        return Alternatives(rates) + QStringLiteral(" Hz");
    }
    if (rateClock > 0.0)
        return QStringLiteral("%1 to %2 Hz, %3 Hz divided by a whole number")
            .arg(Number(rateMin), Number(rateMax), Number(rateClock));
    if (rateMin > 0.0 && rateMax > 0.0)
        return QStringLiteral("%1 to %2 Hz").arg(Number(rateMin), Number(rateMax));
    if (rateMin > 0.0)
        return QStringLiteral("%1 Hz or more").arg(Number(rateMin));
    if (rateMax > 0.0)
        return QStringLiteral("%1 Hz or less").arg(Number(rateMax));
    return QString();
}

bool OutputCapabilities::refusesRate(double rate) const
{
    if (rateMustBeConverted() || recordedRateLimited)
        return !holdsRate(rate);
    return recordedRateMax > 0.0 && rate > recordedRateMax;
}

QString OutputCapabilities::heldRatesText() const
{
    if (rateMustBeConverted() || recordedRateLimited)
        return ratesText();
    return QStringLiteral("%1 Hz or less").arg(Number(recordedRateMax));
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

namespace {

// A bit rate the type's files of `channels` cannot have.
bool RefusesBitRate(const OutputCapabilities& caps, UInt16 channels, SInt16 bits)
{
    return caps.wordLengthIsBitRate && bits > 0 && !caps.holdsBitRate(channels, bits);
}

QString ChannelsText(UInt16 channels)
{
    return channels == 1 ? QStringLiteral("1 channel") : QStringLiteral("%1 channels").arg(channels);
}

}  // namespace

SInt16 CheckOutputShape(const OutputCapabilities& caps, UInt16 channels, double rate, SInt16 bits, bool perChannel)
{
    if (!caps.holdsChannels(channels))
        return caps.refusalCodeFor(QStringLiteral("channels"), channels, kIncompatibleChannelsErr);
    if (caps.refusesRate(rate) || caps.refusesCombination(channels, rate, 0, perChannel))
        return caps.refusalCodeFor(QStringLiteral("sampleRate"), channels, kIncompatibleSampleRateErr);
    if (RefusesBitRate(caps, channels, bits) || caps.refusesCombination(channels, rate, bits, perChannel))
        return caps.refusalCodeFor(QStringLiteral("bitRate"), channels, kMPEGBitRateErr);
    if (!caps.holdsWordLength(bits))
        return caps.refusalCodeFor(QStringLiteral("wordLength"), channels, kIncompatibleWordSizeErr);
    return noErr;
}

QString ChannelAdvice(const OutputCapabilities& caps, const QList<SInt32>& fitting, UInt16 inputChannels)
{
    if (fitting.isEmpty())
        return QStringLiteral("no handling of the channels makes %1 files from this input's %2")
            .arg(caps.name, ChannelsText(inputChannels));
    QStringList phrases;
    for (SInt32 t : fitting)
        phrases.append(ConvSpec::channelTreatmentPhrase(t));
    return QStringLiteral("have this conversion change the number of channels by %1").arg(Alternatives(phrases));
}

QString OutputShapeRefusal(const OutputCapabilities& caps, UInt16 channels, double rate, SInt16 bits,
                           const QList<SInt32>& fitting, SInt32 treatment, UInt16 inputChannels, bool perChannel)
{
    // Said of one input file: in the words of the log's description of
    // the conversion, never in its keys.
    if (!caps.holdsChannels(channels)) {
        if (treatment > 0 && inputChannels > 2 && caps.holdsChannels(caps.treatmentChannels(treatment)))
            return QStringLiteral("%1 holds %2, made from stereo input by %3, and this input has %4 channels: %5")
                .arg(caps.name, caps.channelsText(), ConvSpec::channelTreatmentPhrase(treatment))
                .arg(inputChannels)
                .arg(ChannelAdvice(caps, fitting, inputChannels));
        return QStringLiteral("the output would have %1, and %2 holds %3: %4")
            .arg(ChannelsText(channels), caps.name, caps.channelsText(),
                 ChannelAdvice(caps, fitting, inputChannels ? inputChannels : channels));
    }
    if (caps.refusesRate(rate))
        return QStringLiteral("the output would be at %1 Hz, and %2 takes %3: have this conversion convert the "
                              "sample rate")
            .arg(Number(rate), caps.name, caps.heldRatesText());
    const QString shape = channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo");
    if (caps.refusesCombination(channels, rate, 0, perChannel))
        return QStringLiteral("the output would be %1 at %2 Hz, and %3 %1 files take %4: have this conversion convert "
                              "the sample rate")
            .arg(shape, Number(rate), caps.name, caps.ratesText());
    if (caps.refusesCombination(channels, rate, bits, perChannel))
        return QStringLiteral("the output would be %1 at %2 Hz and %3 kbit/s%4, and %5 %1 files at %2 Hz take %6: have "
                              "this conversion use one of those bit rates")
            .arg(shape, Number(rate))
            .arg(bits)
            .arg(perChannel ? QStringLiteral(" per channel") : QString(), caps.name,
                 caps.bitRatesAtText(std::floor(rate)));
    if (RefusesBitRate(caps, channels, bits))
        return QStringLiteral("the output would be %1 at %2 kbit/s, and %3 %1 files take %4 kbit/s: have this "
                              "conversion use one of those bit rates")
            .arg(shape)
            .arg(bits)
            .arg(caps.name, caps.bitRatesText(channels));
    if (!caps.holdsWordLength(bits))
        return QStringLiteral("the output would have %1 bits, and %2 holds %3 bits: have this conversion convert the "
                              "number of bits")
            .arg(bits)
            .arg(caps.name, caps.wordLengthsText());
    return QString();
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
