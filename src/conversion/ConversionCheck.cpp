#include "ConversionCheck.h"

#include "ConvSpec.h"
#include "FileTypeDictionary.h"
#include "OutputCapabilities.h"

#include <QLocale>

#include <algorithm>

namespace {

QString NumberText(double value)
{
    return QLocale::c().toString(value, 'g', 10);
}

// A value stored in single precision, without the digits it cannot hold.
QString NumberText(float value)
{
    return QLocale::c().toString(double(value), 'g', 7);
}

QString TagsText(const QList<int>& tags)
{
    QStringList parts;
    for (int tag : tags)
        parts.append(QString::number(tag));
    return parts.join(QStringLiteral(", "));
}

constexpr double kLowestRate = 1000.0;
constexpr double kHighestRate = 192000.0;

}  // namespace

QStringList ConversionCheck::problems(const ConvSpec& spec, const KeyGiven& given)
{
    QStringList found;
    auto defaulted = [&](const QString& key) {
        return !given || given(key) ? QString() : QStringLiteral(" (the default; the key is missing)");
    };

    const SInt32 treatment = spec.needsChannelTreat() ? spec.channelTreat() : 0;
    if (treatment < 0 || treatment > 8)
        found.append(QStringLiteral("%1 %2 is not a channel treatment (allowed: 0 to 8)")
                         .arg(ConvSpec::kChannelTreatKey)
                         .arg(treatment));
    if (spec.needsStrip() && spec.needsExtraction())
        found.append(QStringLiteral("%1 and %2 cannot both be true: compacting keeps the regions in one file, "
                                    "extraction writes each region to a file of its own")
                         .arg(ConvSpec::kNeedsStripKey, ConvSpec::kNeedsExtractionKey));
    if (spec.needsSnip() && spec.snipTo() <= spec.snipFrom())
        found.append(QStringLiteral("%1 %2 s must be after %3 %4 s")
                         .arg(ConvSpec::kSnipToKey, NumberText(spec.snipTo()), ConvSpec::kSnipFromKey,
                              NumberText(spec.snipFrom())));

    const bool strict = spec.needsStrictFileType();
    const QVariantMap entry = GetFileTypeEntry(spec.outputFileType());
    const OutputCapabilities caps = OutputCapabilities::fromEntry(entry);
    // The stereo modes belong to the types that keep one; an output that
    // keeps its input's type never does.
    if (IsStereoModeTreatment(treatment) && !(strict && caps.takesStereoMode))
        found.append(QStringLiteral("%1 %2 (an MPEG stereo mode) is for the MPEG output types only; "
                                    "%3 1 makes interleaved stereo")
                         .arg(ConvSpec::kChannelTreatKey)
                         .arg(treatment)
                         .arg(ConvSpec::kChannelTreatKey));
    const int wordLength = spec.wordLength();
    const bool newWordLength = spec.needsNewWordLength();
    // A word length of its own, for a type that offers no list of them.
    auto plainWordLength = [&] {
        if (newWordLength && !QList<int>{8, 16, 24, 32}.contains(wordLength))
            found.append(QStringLiteral("%1 %2%3 is not a word length (allowed: 8, 16, 24, 32)")
                             .arg(ConvSpec::kWordLengthKey)
                             .arg(wordLength)
                             .arg(defaulted(ConvSpec::kWordLengthKey)));
    };
    if (!strict || entry.isEmpty()) {
        plainWordLength();
        return found;
    }

    // What the output type can hold, where the conversion alone decides it.
    const QString& typeName = caps.name;
    const double rate = spec.sampleRate();
    const bool convertsRate = spec.needsSampleRateConversion();
    const bool listed = !caps.discreteRates.isEmpty() || caps.rateClock > 0.0;
    if (convertsRate && rate >= kLowestRate && rate <= kHighestRate && !caps.holdsRate(rate))
        found.append(QStringLiteral("%1 %2 Hz%3 %4 %5 (allowed: %6)")
                         .arg(ConvSpec::kSampleRateKey, NumberText(rate), defaulted(ConvSpec::kSampleRateKey),
                              listed ? QStringLiteral("is not a rate") : QStringLiteral("is out of range for"),
                              listed ? typeName + QStringLiteral(" takes") : typeName,
                              caps.ratesText()));
    if (!convertsRate && caps.rateMustBeConverted())
        found.append(QStringLiteral("%1 must be true for %2: its files do not record their rate; set %3 to %4")
                         .arg(ConvSpec::kNeedsSampleRateConversionKey, typeName, ConvSpec::kSampleRateKey,
                              caps.ratesText()));

    const UInt16 channels = caps.treatmentChannels(treatment);
    if (channels != 0 && !caps.holdsChannels(channels)) {
        const QString held = TreatmentsHeldText(caps);
        found.append(QStringLiteral("%1 %2%3 makes %4 files; %5 holds %6 (allowed: %7)")
                         .arg(ConvSpec::kChannelTreatKey)
                         .arg(treatment)
                         .arg(defaulted(ConvSpec::kChannelTreatKey),
                              channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo"))
                         .arg(typeName, caps.channelsText(),
                              held.isEmpty() ? QStringLiteral("%1 false").arg(ConvSpec::kNeedsChannelTreatKey)
                                             : QStringLiteral("%1 %2").arg(ConvSpec::kChannelTreatKey, held)));
    }

    const QList<int>& tags = caps.wordLengthChoices;
    if (caps.wordLengthRequired && !newWordLength) {
        if (caps.wordLengthIsBitRate)
            found.append(QStringLiteral("%1 must be true for %2: its %3 is the bit rate")
                             .arg(ConvSpec::kNeedsNewWordLengthKey, typeName, ConvSpec::kWordLengthKey));
        else
            found.append(QStringLiteral("%1 must be true for %2: an input's own word length may not fit; "
                                        "set %3 to %4")
                             .arg(ConvSpec::kNeedsNewWordLengthKey, typeName, ConvSpec::kWordLengthKey,
                                  TagsText(tags)));
    }
    if ((newWordLength || caps.wordLengthRequired) && !tags.isEmpty()) {
        if (!tags.contains(wordLength))
            found.append(QStringLiteral("%1 %2%3 is not one %4 takes (allowed: %5)")
                             .arg(ConvSpec::kWordLengthKey)
                             .arg(wordLength)
                             .arg(defaulted(ConvSpec::kWordLengthKey), typeName, TagsText(tags)));
        else if (caps.wordLengthIsBitRate && !caps.holdsBitRate(channels, wordLength))
            found.append(QStringLiteral("%1 %2 kbit/s is not a bit rate of %3 %4 files (allowed: %5); "
                                        "%6 %7 makes them")
                             .arg(ConvSpec::kWordLengthKey)
                             .arg(wordLength)
                             .arg(channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo"), typeName,
                                  caps.bitRatesText(channels), ConvSpec::kChannelTreatKey)
                             .arg(treatment));
    } else {
        plainWordLength();
    }
    // A bit rate no rate takes, or not the conversion's own rate.
    const bool perChannel = spec.bitRatePerChannel();
    const bool atSomeRate = std::any_of(caps.bitRateRows.begin(), caps.bitRateRows.end(), [&](const auto& row) {
        return caps.holdsBitRateAt(wordLength, perChannel, channels, row.rate);
    });
    if (newWordLength && !convertsRate && tags.contains(wordLength) && !caps.bitRateRows.isEmpty() && !atSomeRate)
        found.append(QStringLiteral("%1 %2 kbit/s%3 is not a bit rate %4 takes at any sample rate")
                         .arg(ConvSpec::kWordLengthKey)
                         .arg(wordLength)
                         .arg(perChannel ? QStringLiteral(" per channel") : QString(), typeName));
    if (newWordLength && convertsRate && tags.contains(wordLength) && caps.holdsRate(rate) &&
        !caps.holdsBitRateAt(wordLength, perChannel, channels, rate)) {
        const QString allowed = caps.bitRatesAtText(rate);
        found.append(QStringLiteral("%1 %2 kbit/s%3 is not a bit rate %4 takes at %5 Hz%6 (allowed: %7)")
                         .arg(ConvSpec::kWordLengthKey)
                         .arg(wordLength)
                         .arg(perChannel ? QStringLiteral(" per channel") : QString(), typeName,
                              NumberText(rate),
                              channels == 0 ? QString()
                                            : QStringLiteral(" for %1 files")
                                                  .arg(channels == 1 ? QStringLiteral("mono")
                                                                     : QStringLiteral("stereo")),
                              allowed.isEmpty() ? QStringLiteral("none") : allowed));
    }
    return found;
}

QString ConversionCheck::whyNot(const ConvSpec& spec)
{
    const QStringList found = problems(spec);
    if (found.isEmpty())
        return QString();
    return QStringLiteral("the conversion '%1' cannot run: %2").arg(spec.conversionName(), found.first());
}
