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

namespace {

// One conversion under check: its settings as the checks read them, the
// output type's capabilities, and the problems found so far (in the order
// the steps find them).
struct ConversionUnderCheck {
    ConversionUnderCheck(const ConvSpec& s, const ConversionCheck::KeyGiven& g)
        : spec(s),
          given(g),
          treatment(s.needsChannelTreat() ? s.channelTreat() : 0),
          strict(s.needsStrictFileType()),
          entry(GetFileTypeEntry(s.outputFileType())),
          caps(OutputCapabilities::fromEntry(entry)),
          wordLength(s.wordLength()),
          newWordLength(s.needsNewWordLength()),
          rate(s.sampleRate()),
          convertsRate(s.needsSampleRateConversion())
    {
    }

    // The note of a key left out.
    QString defaulted(const QString& key) const
    {
        return !given || given(key) ? QString() : QStringLiteral(" (the default; the key is missing)");
    }

    const ConvSpec& spec;
    const ConversionCheck::KeyGiven& given;
    const SInt32 treatment;
    const bool strict;
    const QVariantMap entry;
    const OutputCapabilities caps;
    const int wordLength;
    const bool newWordLength;
    const double rate;
    const bool convertsRate;
    QStringList found;
};

// What no output type allows: the treatment's range, compacting with
// extraction, a snip range backwards, a stereo mode for a type without one.
void CheckSettings(ConversionUnderCheck& c)
{
    const ConvSpec& spec = c.spec;
    if (c.treatment < 0 || c.treatment > 8)
        c.found.append(QStringLiteral("%1 %2 is not a channel treatment (allowed: 0 to 8)")
                           .arg(ConvSpec::kChannelTreatKey)
                           .arg(c.treatment));
    if (spec.needsStrip() && spec.needsExtraction())
        c.found.append(QStringLiteral("%1 and %2 cannot both be true: compacting keeps the regions in one file, "
                                      "extraction writes each region to a file of its own")
                           .arg(ConvSpec::kNeedsStripKey, ConvSpec::kNeedsExtractionKey));
    if (spec.needsSnip() && spec.snipTo() <= spec.snipFrom())
        c.found.append(QStringLiteral("%1 %2 s must be after %3 %4 s")
                           .arg(ConvSpec::kSnipToKey, NumberText(spec.snipTo()), ConvSpec::kSnipFromKey,
                                NumberText(spec.snipFrom())));
    // The stereo modes belong to the types that keep one; an output that
    // keeps its input's type never does.
    if (IsStereoModeTreatment(c.treatment) && !(c.strict && c.caps.takesStereoMode))
        c.found.append(QStringLiteral("%1 %2 (an MPEG stereo mode) is for the MPEG output types only; "
                                      "%3 1 makes interleaved stereo")
                           .arg(ConvSpec::kChannelTreatKey)
                           .arg(c.treatment)
                           .arg(ConvSpec::kChannelTreatKey));
}

// A word length of its own, for a type that offers no list of them.
void CheckPlainWordLength(ConversionUnderCheck& c)
{
    if (c.newWordLength && !QList<int>{8, 16, 24, 32}.contains(c.wordLength))
        c.found.append(QStringLiteral("%1 %2%3 is not a word length (allowed: 8, 16, 24, 32)")
                           .arg(ConvSpec::kWordLengthKey)
                           .arg(c.wordLength)
                           .arg(c.defaulted(ConvSpec::kWordLengthKey)));
}

// The rate the type takes, and a rate left unconverted for a type whose
// files do not record it.
void CheckRate(ConversionUnderCheck& c)
{
    const OutputCapabilities& caps = c.caps;
    const bool listed = !caps.discreteRates.isEmpty() || caps.rateClock > 0.0;
    if (c.convertsRate && c.rate >= kLowestRate && c.rate <= kHighestRate && !caps.holdsRate(c.rate))
        c.found.append(QStringLiteral("%1 %2 Hz%3 %4 %5 (allowed: %6)")
                           .arg(ConvSpec::kSampleRateKey, NumberText(c.rate), c.defaulted(ConvSpec::kSampleRateKey),
                                listed ? QStringLiteral("is not a rate") : QStringLiteral("is out of range for"),
                                listed ? caps.name + QStringLiteral(" takes") : caps.name, caps.ratesText()));
    if (!c.convertsRate && caps.rateMustBeConverted())
        c.found.append(QStringLiteral("%1 must be true for %2: its files do not record their rate; set %3 to %4")
                           .arg(ConvSpec::kNeedsSampleRateConversionKey, caps.name, ConvSpec::kSampleRateKey,
                                caps.ratesText()));
}

// The channels the treatment makes; returns them (0 when the input decides).
UInt16 CheckChannels(ConversionUnderCheck& c)
{
    const OutputCapabilities& caps = c.caps;
    const UInt16 channels = caps.treatmentChannels(c.treatment);
    if (channels != 0 && !caps.holdsChannels(channels)) {
        const QString held = TreatmentsHeldText(caps);
        c.found.append(QStringLiteral("%1 %2%3 makes %4 files; %5 holds %6 (allowed: %7)")
                           .arg(ConvSpec::kChannelTreatKey)
                           .arg(c.treatment)
                           .arg(c.defaulted(ConvSpec::kChannelTreatKey),
                                channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo"))
                           .arg(caps.name, caps.channelsText(),
                                held.isEmpty() ? QStringLiteral("%1 false").arg(ConvSpec::kNeedsChannelTreatKey)
                                               : QStringLiteral("%1 %2").arg(ConvSpec::kChannelTreatKey, held)));
    }
    return channels;
}

// A word length (or bit rate) the type needs or offers, and a bit rate its
// files of `channels` cannot have.
void CheckWordLength(ConversionUnderCheck& c, UInt16 channels)
{
    const OutputCapabilities& caps = c.caps;
    const QList<int>& tags = caps.wordLengthChoices;
    if (caps.wordLengthRequired && !c.newWordLength) {
        if (caps.wordLengthIsBitRate)
            c.found.append(QStringLiteral("%1 must be true for %2: its %3 is the bit rate")
                               .arg(ConvSpec::kNeedsNewWordLengthKey, caps.name, ConvSpec::kWordLengthKey));
        else
            c.found.append(QStringLiteral("%1 must be true for %2: an input's own word length may not fit; "
                                          "set %3 to %4")
                               .arg(ConvSpec::kNeedsNewWordLengthKey, caps.name, ConvSpec::kWordLengthKey,
                                    TagsText(tags)));
    }
    if ((c.newWordLength || caps.wordLengthRequired) && !tags.isEmpty()) {
        if (!tags.contains(c.wordLength))
            c.found.append(QStringLiteral("%1 %2%3 is not one %4 takes (allowed: %5)")
                               .arg(ConvSpec::kWordLengthKey)
                               .arg(c.wordLength)
                               .arg(c.defaulted(ConvSpec::kWordLengthKey), caps.name, TagsText(tags)));
        else if (caps.wordLengthIsBitRate && !caps.holdsBitRate(channels, c.wordLength))
            c.found.append(QStringLiteral("%1 %2 kbit/s is not a bit rate of %3 %4 files (allowed: %5); "
                                          "%6 %7 makes them")
                               .arg(ConvSpec::kWordLengthKey)
                               .arg(c.wordLength)
                               .arg(channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo"), caps.name,
                                    caps.bitRatesText(channels), ConvSpec::kChannelTreatKey)
                               .arg(c.treatment));
    } else {
        CheckPlainWordLength(c);
    }
}

// A bit rate no rate takes, or not the conversion's own rate.
void CheckBitRateForRate(ConversionUnderCheck& c, UInt16 channels)
{
    const OutputCapabilities& caps = c.caps;
    const int bitRate = c.wordLength;
    const bool perChannel = c.spec.bitRatePerChannel();
    const bool offered = c.newWordLength && caps.wordLengthChoices.contains(bitRate);
    const bool atSomeRate = std::any_of(caps.bitRateRows.begin(), caps.bitRateRows.end(), [&](const auto& row) {
        return caps.holdsBitRateAt(bitRate, perChannel, channels, row.rate);
    });
    if (offered && !c.convertsRate && !caps.bitRateRows.isEmpty() && !atSomeRate)
        c.found.append(QStringLiteral("%1 %2 kbit/s%3 is not a bit rate %4 takes at any sample rate")
                           .arg(ConvSpec::kWordLengthKey)
                           .arg(bitRate)
                           .arg(perChannel ? QStringLiteral(" per channel") : QString(), caps.name));
    if (offered && c.convertsRate && caps.holdsRate(c.rate) &&
        !caps.holdsBitRateAt(bitRate, perChannel, channels, c.rate)) {
        const QString allowed = caps.bitRatesAtText(c.rate);
        c.found.append(QStringLiteral("%1 %2 kbit/s%3 is not a bit rate %4 takes at %5 Hz%6 (allowed: %7)")
                           .arg(ConvSpec::kWordLengthKey)
                           .arg(bitRate)
                           .arg(perChannel ? QStringLiteral(" per channel") : QString(), caps.name,
                                NumberText(c.rate),
                                channels == 0 ? QString()
                                              : QStringLiteral(" for %1 files")
                                                    .arg(channels == 1 ? QStringLiteral("mono")
                                                                       : QStringLiteral("stereo")),
                                allowed.isEmpty() ? QStringLiteral("none") : allowed));
    }
}

}  // namespace

QStringList ConversionCheck::problems(const ConvSpec& spec, const KeyGiven& given)
{
    ConversionUnderCheck c(spec, given);
    CheckSettings(c);
    if (!c.strict || c.entry.isEmpty()) {
        CheckPlainWordLength(c);
        return c.found;
    }
    // What the output type can hold, where the conversion alone decides it.
    CheckRate(c);
    const UInt16 channels = CheckChannels(c);
    CheckWordLength(c, channels);
    CheckBitRateForRate(c, channels);
    return c.found;
}
