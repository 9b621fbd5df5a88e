// A type's descriptor: what a file of the type can hold and what a
// conversion to it must choose, as data read from the type's entry of the
// file-type dictionary (its property list in resources/SoundFileProperties),
// so that the conversions-file check (before a batch), the pre-conversion
// check (per input file), the conversion editor and the preferences'
// headerless readings apply the same rules without knowing type codes.
//
// Keys read from an entry:
//   "text"                 the type's name, for messages
//   "channelCounts"        array: the channel counts one output file may have;
//                          absent: any (the type refuses what it cannot hold)
//   "splitStereoSet"       boolean: each file of the type is a split stereo
//                          set (a pair of mono member files), so splitting
//                          stereo into mono files writes one file of the type
//   "sampleRateSource"     "header" (absent): the file records its rate;
//                          "name": the name's extension tells it;
//                          "fixed": the type has its rates by definition.
//                          Unless "header", a conversion to the type must
//                          convert the rate to one the type allows.
//   "discreteSampleRates"  array: the only rates the type takes, else
//   "sampleRateMin", "sampleRateMax"  the range it takes (0: none given)
//   "sampleRateClock"      the type takes only this rate divided by a whole
//                          number (within half a hertz), in its range
//   "recordedRateLimited"  boolean: a file of the type records its rate, but
//                          only one of these rates (its header's field is
//                          too narrow, its frames know no other): an input's
//                          own rate, kept, must be one of them as well
//   "recordedRateMax"      the highest rate a file of the type records (its
//                          header's field), whatever rates a conversion may
//                          set
//   "wordLengths"          array: the word lengths the file stores; absent:
//                          any (the type codes, converts or refuses them)
//   "wordLengthIsBitRate"  boolean: the word length is a bit rate in kbit/s
//   "monoBitRates", "stereoBitRates"  arrays: the bit rates a mono or a
//                          stereo file may have (absent: any the popup offers)
//   "bitRateCombinations"  the resource (a property list) whose
//                          "combinations" rows give, per sample rate, the
//                          channel counts and the bit rates per channel a
//                          file may have (absent: no such rule)
//   "takesStereoMode"      boolean: channel treatments 7 and 8 name the
//                          stereo mode (joint, separate) of an interleaved
//                          stereo file, kept in the per-type block
//   "sampleRateDefault"    the rate the editor offers first
//   "forceSampleRate"      boolean: a conversion must convert the rate
//   "numBitsPopup"         the word lengths (or bit rates) a conversion may ask for
//   "forceWordSize"        boolean: a conversion must ask for one of them
//   "forceChannels"        boolean: a conversion must choose a channel handling
//   "optionsButtonEnabled" boolean: the type has options (see "optionSheet")
//   "specificsMustBeValid" boolean: a conversion must confirm them
//   "maxSoundBytes"        the largest sound data its header can describe
//                          (absent: no limit checked here)
//   "storedBitsPerSample"  the bits each sample takes in the file whatever
//                          the word length (absent: the word length in bytes)
//   "refusalCodes"         dictionary: the error a file of the type is
//                          refused with, per case: "channels", "sampleRate",
//                          "bitRate", "wordLength"; a case ending in "Mono"
//                          or "Stereo" ("bitRateMono") is for files of one
//                          or two channels and wins over the plain case.
//                          The type's own codes, as its writer refuses.
//   "refusalCode"          the error for every case refusalCodes does not
//                          name; absent: the table's general error of what
//                          does not fit (channels, rate, word length)
//   "soundBlockBytes"      the type keeps its sound in one data block of at
//                          most this many bytes: an input split over several
//                          blocks, or an output that would not fit one, is
//                          refused (absent: no such limit)
//   "headerlessReadings"   array: the ways the preferences offer to read a
//                          file of no recognised type as this type (see
//                          HeaderlessReading)
//   "headerlessSampleRates" array: the rates such a file is read at (the
//                          stored rate when it is one of them, else the
//                          first); absent: the stored rate
//   "optionSheet"          the sheet the editor's Options button opens:
//                          "MPEG", "broadcastWave", "MP3", "G.729" or
//                          "creativeVoice"; absent: none, and a type whose
//                          "optionsButtonEnabled" is set has its options
//                          confirmed at once
#pragma once

#include "error_codes.h"
#include "MacTypes.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QVariantMap>


struct OutputCapabilities {
    enum class RateSource { Header, Name, Fixed };
    enum class OptionSheet { None, ConfirmAtOnce, MPEG, BroadcastWave, MP3, G729, CreativeVoice };

    QString name;
    QList<UInt16> channelCounts;  // empty: any
    bool splitStereoSet = false;
    QList<double> discreteRates;  // empty: the range
    double rateMin = 0.0;  // 0: no limit
    double rateMax = 0.0;  // 0: no limit
    double rateClock = 0.0;  // 0: any rate of the range
    double rateDefault = 0.0;
    RateSource rateSource = RateSource::Header;
    bool recordedRateLimited = false;
    double recordedRateMax = 0.0;  // 0: no limit of its own
    bool rateRequired = false;
    bool channelsRequired = false;
    QList<SInt16> wordLengths;  // empty: any
    QList<int> wordLengthChoices;  // the popup's tags, in order, once each
    bool wordLengthIsBitRate = false;
    QList<int> monoBitRates;    // empty: any
    QList<int> stereoBitRates;  // empty: any
    bool takesStereoMode = false;
    // A row of the bit-rate combinations: at `rate`, files of `channels`
    // channels take `lowest` to `highest` kbit/s per channel.
    struct BitRateRow {
        double rate = 0.0;
        QList<UInt16> channels;
        int lowest = 0;
        int highest = 0;
    };
    QList<BitRateRow> bitRateRows;  // empty: no such rule
    bool wordLengthRequired = false;
    double maxSoundBytes = 0.0;  // 0: no limit
    SInt16 storedBits = 0;       // 0: the word length in whole bytes
    SInt16 refusalCode = 0;
    QHash<QString, SInt16> refusalCodes;  // see "refusalCodes"
    double soundBlockBytes = 0.0;  // 0: the sound may take several blocks
    OptionSheet optionSheet = OptionSheet::None;
    bool hasOptions = false;
    bool optionsRequired = false;
    QList<double> headerlessRates;

    // An entry of the file-type dictionary (an empty entry holds anything).
    static OutputCapabilities fromEntry(const QVariantMap& entry);

    bool holdsChannels(UInt16 channels) const;
    // The channels of each file of the type that a channel treatment alone
    // decides (TreatmentOutputChannels): splitting stereo into mono files
    // makes one stereo file of a type whose files are split stereo sets.
    UInt16 treatmentChannels(SInt32 treatment) const;
    // One of the discrete rates when the type lists them, else within the
    // range (and a whole divisor of the clock when it has one).
    bool holdsRate(double rate) const;
    bool holdsWordLength(SInt16 bits) const;
    // A bit rate (the word length of a type whose word length is one) that
    // a file of `channels` channels may have.
    bool holdsBitRate(UInt16 channels, int bitRate) const;
    // A bit rate (per channel when `perChannel`, else the file's) that a
    // file of `channels` channels (0: not known, any of the row's) at `rate`
    // may have by the bit-rate combinations (true when the type has none).
    bool holdsBitRateAt(int bitRate, bool perChannel, UInt16 channels, double rate) const;
    // The bit-rate combinations refuse a file of `channels` at `rate`: with
    // `bitRate` > 0, that bit rate (per channel when `perChannel`); with 0
    // (the input's own, kept as near as allowed), any bit rate.  The
    // encoder takes the rate in whole hertz.  False for a type without
    // combinations.
    bool refusesCombination(UInt16 channels, double rate, int bitRate, bool perChannel) const;
    // The error a file of `channels` is refused with in `shapeCase` (see
    // "refusalCodes"), else `general`.
    SInt16 refusalCodeFor(const QString& shapeCase, UInt16 channels, SInt16 general) const;
    // "8 to 48 kbit/s per channel" at `rate`; empty when no row has it.
    QString bitRatesAtText(double rate) const;
    // The bit rates a file of `channels` channels may have ("64, 96 or 128").
    QString bitRatesText(UInt16 channels) const;
    // The word lengths the file stores ("8 or 16").
    QString wordLengthsText() const;
    // The file does not record its rate: a conversion must set it.
    bool rateMustBeConverted() const { return rateSource != RateSource::Header; }
    // An output file at `rate` the type cannot have: one it does not take
    // (holdsRate) when it does not record its rate or records only those,
    // else a rate above what its header records.
    bool refusesRate(double rate) const;
    // The rates refusesRate lets pass: ratesText(), or "65535 Hz or less".
    QString heldRatesText() const;

    // "6000 or 8000 Hz", "1000 to 48000 Hz" (with ", 1000000 Hz divided by a
    // whole number" for a clock); empty when the type takes any rate.
    QString ratesText() const;
    // "1 channel", "1 or 2 channels".
    QString channelsText() const;
};

// The capabilities of a type code as the installed file-type dictionary
// gives them.
OutputCapabilities GetOutputCapabilities(OSType type);

// The channels of each output file that a channel treatment alone decides:
// 2 for interleaved stereo (1, and the MPEG stereo modes 7 and 8), 1 for
// the treatments that make mono files (2 to 5); 0 when the input decides.
UInt16 TreatmentOutputChannels(SInt32 treatment);

// The channel treatments that name a stereo mode (7 joint, 8 separate):
// interleaved stereo for a type that takes a stereo mode.
constexpr bool IsStereoModeTreatment(SInt32 treatment)
{
    return treatment == 7 || treatment == 8;
}

// The treatments whose files have a channel count the type holds ("2, 3, 4
// or 5"); empty when none does.
QString TreatmentsHeldText(const OutputCapabilities& caps);

// An output file of `channels` channels at `rate` Hz with `bits` bits per
// sample (for a type whose word length is a bit rate: `bits` kbit/s, per
// channel when `perChannel`, 0 for the input's own): 0 when the type holds
// it, else the type's refusal code of the case (refusalCodeFor) or the
// error of what does not fit.  The rate is checked only for types that
// limit it (refusesRate: a header that records any rate takes what its
// writer accepts) and by the bit-rate combinations.
SInt16 CheckOutputShape(const OutputCapabilities& caps, UInt16 channels, double rate, SInt16 bits,
                        bool perChannel = false);

// What CheckOutputShape refuses for one input, as a line naming what the
// output would have, what the type holds and what to have the conversion
// do, in the words of the log's description of a conversion (never its
// keys).  `fitting`: the channel treatments (1 to 5) that would make files
// the type holds from this input; the line suggests only those.  Given the
// conversion's channel treatment and the input's channels, a treatment that
// already is one the type holds for stereo input says that the input has
// too many channels rather than asking for itself.
QString OutputShapeRefusal(const OutputCapabilities& caps, UInt16 channels, double rate, SInt16 bits,
                           const QList<SInt32>& fitting, SInt32 treatment = 0, UInt16 inputChannels = 0,
                           bool perChannel = false);

// What to have a conversion do about its channels, for an input that
// `fitting` treatments (1 to 5) fit: "have this conversion change the
// number of channels by splitting ...", or, with none, that no handling of
// the channels makes a file the type holds from it.
QString ChannelAdvice(const OutputCapabilities& caps, const QList<SInt32>& fitting, UInt16 inputChannels);

// One way to read files of no recognised type as headerless audio: an item
// of the preferences' type menu.
struct HeaderlessReading {
    OSType type = 0;
    int tag = 0;  // the item's place in the menu
    QString title;
    bool bigEndian = true;
    SInt16 wordSize = 16;
    bool channelsFromField = false;  // else the file has one channel
    bool choosable = true;
};

// Every type's headerless readings, by tag.
QList<HeaderlessReading> GetHeaderlessReadings();

// The rate a headerless file of `type` is read at when the preferences
// store `storedRate` (its "headerlessSampleRates").
double HeaderlessSampleRate(OSType type, double storedRate);
