#include "per_type_setting_checks.h"

#include "CConvSpec.h"
#include "ConvSpec.h"
#include "MainBundle.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

const QString kChannelHandlingValidKey = QStringLiteral("channelHandlingValid");
const QString kChannelHandlingInvalidMessageKey = QStringLiteral("channelHandlingInvalidMessage");
const QString kWordSizeValidKey = QStringLiteral("wordSizeValid");
const QString kWordSizeValidMessageKey = QStringLiteral("wordSizeValidMessage");
const QString kSampleRateValidKey = QStringLiteral("sampleRateValid");
const QString kSampleRateInvalidMessageKey = QStringLiteral("sampleRateInvalidMessage");

const char kMPEGJointStereoMode[] = "MPEG joint stereo   ";
const char kMPEGSeparateStereoMode[] = "MPEG separate stereo";

namespace {

constexpr SInt16 kHandled = 0;
constexpr int kModeLength = 20; // characters of either stereo mode

// Every rule.
const std::pair<const char*, SettingHook> kHooks[] = {
    {"layerIBitRate", {MPEG1FileWordLengthSettings, MPEG1FileChannelBitRateSettings}},
    {"aacRates", {QTMP4FileWordLengthSettings, nullptr, QTMP4FileSampleRateSettings}},
    {"mp3CodecRate", {nullptr, nullptr, QTMP3FileSampleRateSettings}},
    {"vocTimeConstant", {nullptr, nullptr, VOCFileSampleRateSettings}},
    {"parisByteOrder", {ParisLinearFileWordLengthSettings, nullptr, nullptr, ParisLinearFileWordLengthPopupIndex}},
    {"intFloatLayout",
     {QTIntFloatFileWordLengthSettings, nullptr, nullptr, QTIntFloatFileWordLengthPopupIndex,
      QTIntFloatFileLogWordLength}},
    {"sonicPacking",
     {SonicAIFFFileWordLengthSettings, nullptr, nullptr, SonicAIFFFileWordLengthPopupIndex,
      SonicAIFFFileLogWordLength}},
    {"purevoiceRate", {nullptr, nullptr, nullptr, nullptr, QTQualcommPurevoiceFileLogWordLength}},
};

QString Localized(const char* text)
{
    return MainBundle::localizedString(QString::fromUtf8(text));
}

// ------------------------------------------------------------ AAC tables

struct RateList {
    int key;
    const char* text;
    int values[12];
    int count;
};

// Sample rates allowed for an AAC bit rate (kbit/s); the last row is the
// rule for any bit rate not listed.
const RateList kAACRatesByBitRate[] = {
    {8, "8000 or 11025", {8000, 11025}, 2},
    {16, "8000, 11025, 12000, 16000 or 22050", {8000, 11025, 12000, 16000, 22050}, 5},
    {20, "11025, 12000, 16000, 22050 or 24000", {11025, 12000, 16000, 22050, 24000}, 5},
    {24, "12000, 16000, 22050, 24000 or 32000", {12000, 16000, 22050, 24000, 32000}, 5},
    {28, "16000, 22050, 24000 or 32000", {16000, 22050, 24000, 32000}, 4},
    {32, "16000, 22050, 24000 or 32000", {16000, 22050, 24000, 32000}, 4},
    {40, "16000, 22050, 24000, 32000 or 44100", {16000, 22050, 24000, 32000, 44100}, 5},
    {48, "22050, 24000, 32000 or 44100", {22050, 24000, 32000, 44100}, 4},
    {56, "24000, 32000, 44100 or 48000", {24000, 32000, 44100, 48000}, 4},
    {64, "32000, 44100 or 48000", {32000, 44100, 48000}, 3},
};
const RateList kAACRatesOtherBitRate = {0, "44100 or 48000", {44100, 48000}, 2};

// Bit rates allowed for an AAC sample rate (Hz).
const RateList kAACBitRatesBySampleRate[] = {
    {8000, "8 or 16", {8, 16}, 2},
    {11025, "8, 16 or 20", {8, 16, 20}, 3},
    {12000, "16, 20 or 24", {16, 20, 24}, 3},
    {16000, "16, 20, 24, 28, 32 or 40", {16, 20, 24, 28, 32, 40}, 6},
    {22050, "16, 20, 24, 28, 32, 40 or 48", {16, 20, 24, 28, 32, 40, 48}, 7},
    {24000, "20, 24, 28, 32, 40, 48 or 56", {20, 24, 28, 32, 40, 48, 56}, 7},
    {32000, "24, 28, 32, 40, 48, 56 or 64", {24, 28, 32, 40, 48, 56, 64}, 7},
    {44100, "40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224 or 256",
     {40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256}, 12},
    {48000, "56, 64, 80, 96, 112, 128, 160, 192, 224 or 256", {56, 64, 80, 96, 112, 128, 160, 192, 224, 256}, 10},
};

bool ListHolds(const RateList& list, long value)
{
    for (int i = 0; i < list.count; ++i)
        if (list.values[i] == value)
            return true;
    return false;
}

// A double truncated toward zero into a long, saturating at the long's
// limits (NaN gives 0).
long TruncateToLong(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= double(std::numeric_limits<long>::max()))
        return std::numeric_limits<long>::max();
    if (value <= double(std::numeric_limits<long>::min()))
        return std::numeric_limits<long>::min();
    return long(value);
}

// The leading integer of a text, read as a number field's integer value is
// (leading blanks, an optional sign, digits; 0 when there are none).
long LeadingInteger(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    long value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        if (value > (std::numeric_limits<long>::max() - 9) / 10)
            break; // saturate rather than overflow
        value = value * 10 + (c.unicode() - '0');
    }
    return negative ? -value : value;
}

SInt32 ReadBigEndian32(const unsigned char* bytes)
{
    return SInt32((UInt32(bytes[0]) << 24) | (UInt32(bytes[1]) << 16) | (UInt32(bytes[2]) << 8) |
                  UInt32(bytes[3]));
}

// The time-constant arithmetic of the VOC check, in single precision.  The
// constant is the 16-bit integer part, saturated at the 16-bit limits so
// that tiny or zero rates give a defined (invalid) result.
SInt16 VOCTimeConstant(float rate)
{
    const float value = (256.0f - 1000000.0f / rate) + 0.5f;
    if (std::isnan(value))
        return 0;
    const float truncated = std::trunc(value);
    if (truncated >= 32767.0f)
        return 32767;
    if (truncated <= -32768.0f)
        return -32768;
    return SInt16(truncated);
}

} // namespace

void WriteSettingVerdict(ConvSpec* spec, const QString& validKey, const QString& messageKey, bool valid,
                         const QString& message)
{
    spec->setSpecificsValue(validKey, QVariant(valid));
    if (!valid)
        spec->setSpecificsValue(messageKey, message);
}

const SettingHook* FindSettingHook(const QString& name)
{
    for (const auto& [hookName, hook] : kHooks)
        if (name == QLatin1String(hookName))
            return &hook;
    return nullptr;
}

void StoreStereoMode(CConvSpec* cspec, const char* mode)
{
    unsigned char* block = cspec->FileTypeSpecifics();
    block[0] = kModeLength;
    std::memcpy(block + 1, mode, kModeLength);
}

// ============================================ MPEG Layer I at 32 kbit/s

SInt16 MPEG1FileChannelBitRateSettings(CConvSpec* cspec, int, const QString&, int)
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    if (!spec)
        return paramErr;
    const bool invalid = spec->channelTreat() == 1 && spec->wordLength() == 32;
    WriteSettingVerdict(spec, kChannelHandlingValidKey, kChannelHandlingInvalidMessageKey, !invalid,
                        Localized("You have specified a bit rate of 32 kbit/s together with a stereo output, but "
                                  "for MPEG 1 Layer I files that bit rate is only allowed for mono output."));
    return kHandled;
}

SInt16 MPEG1FileWordLengthSettings(CConvSpec* cspec, int, const QString&, int)
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    if (!spec)
        return paramErr;
    const bool stereoAt32 = spec->channelTreat() == 1 && spec->wordLength() == 32;
    const bool valid = spec->needsNewWordLength() && !stereoAt32;
    QString message;
    if (!spec->needsNewWordLength())
        message = Localized("MPEG 1 Layer I must have a bit rate specified, so please check and select a bit rate.");
    else
        message = Localized("You have specified stereo output, but for MPEG 1 Layer I files, a bit rate of 32 "
                            "kbit/s is only allowed for mono output.");
    WriteSettingVerdict(spec, kWordSizeValidKey, kWordSizeValidMessageKey, valid, message);
    return kHandled;
}

// ================================== byte order, sample kind and packing

SInt16 ParisLinearFileWordLengthSettings(CConvSpec* cspec, int index, const QString&, int)
{
    if (!cspec || !cspec->GetConvSpec())
        return paramErr;
    unsigned char* block = cspec->FileTypeSpecifics();
    if (index >= 0 && index <= 2)
        block[0] = 'B';
    else if (index == 3 || index == 4)
        block[0] = 'L';
    return kHandled;
}

int ParisLinearFileWordLengthPopupIndex(CConvSpec* cspec)
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    if (!spec)
        return -1;
    const unsigned char order = cspec->FileTypeSpecifics()[0];
    const SInt32 bits = spec->wordLength();
    if (order == 'B') {
        if (bits == 16)
            return 1;
        if (bits == 24)
            return 2;
    } else if (order == 'L') {
        if (bits == 16)
            return 3;
        if (bits == 24)
            return 4;
    }
    return 0;
}

SInt16 QTIntFloatFileWordLengthSettings(CConvSpec* cspec, int index, const QString&, int)
{
    if (!cspec || !cspec->GetConvSpec())
        return paramErr;
    unsigned char* block = cspec->FileTypeSpecifics();
    switch (index) {
    case 2:
    case 4:
        block[0] = 'B';
        block[1] = 'I';
        break;
    case 3:
    case 5:
        block[0] = 'L';
        block[1] = 'I';
        break;
    case 6:
    case 8:
        block[0] = 'B';
        block[1] = 'F';
        break;
    case 7:
    case 9:
        block[0] = 'L';
        block[1] = 'F';
        break;
    default:
        break;
    }
    return kHandled;
}

int QTIntFloatFileWordLengthPopupIndex(CConvSpec* cspec)
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    if (!spec)
        return -1;
    const unsigned char* block = cspec->FileTypeSpecifics();
    const int little = block[0] == 'L' ? 1 : 0;
    const int floating = block[1] == 'F' ? 1 : 0;
    switch (spec->wordLength()) {
    case 8:
        return 0;
    case 24:
        return 2 + little;
    case 32:
        return 4 + little + 2 * floating;
    case 64:
        return 8 + little;
    default:
        return 1;
    }
}

SInt16 SonicAIFFFileWordLengthSettings(CConvSpec* cspec, int index, const QString&, int)
{
    if (!cspec || !cspec->GetConvSpec())
        return paramErr;
    unsigned char* block = cspec->FileTypeSpecifics();
    switch (index) {
    case 1:
        block[0] = 2;
        break;
    case 2:
        block[0] = 3;
        break;
    case 3:
        block[0] = 10;
        break;
    case 4:
        block[0] = 11;
        break;
    default:
        break;
    }
    return kHandled;
}

int SonicAIFFFileWordLengthPopupIndex(CConvSpec* cspec)
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    if (!spec)
        return -1;
    if (spec->wordLength() == 16)
        return 0;
    switch (cspec->FileTypeSpecifics()[0]) {
    case 2:
        return 1;
    case 3:
        return 2;
    case 10:
        return 3;
    case 11:
        return 4;
    default:
        return 0;
    }
}

// ===================================================== sample-rate rules

SInt16 QTMP3FileSampleRateSettings(CConvSpec* cspec, int, const QString&, int)
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    if (!spec)
        return paramErr;
    const SInt32 required = ReadBigEndian32(cspec->FileTypeSpecifics() + kMP3RequiredSampleRateOffset);
    const bool valid = TruncateToLong(spec->sampleRate()) == long(required);
    WriteSettingVerdict(spec, kSampleRateValidKey, kSampleRateInvalidMessageKey, valid,
                 Localized("Your MPEG Layer III Codec options require a sample rate of %ld. Please make sure you "
                           "enter the correct value.")
                     .replace(QLatin1String("%ld"), QString::number(required)));
    return kHandled;
}

SInt16 QTMP4FileWordLengthSettings(CConvSpec* cspec, int, const QString& title, int tag)
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    if (!spec)
        return paramErr;
    const long rate = TruncateToLong(spec->sampleRate());
    const RateList* rates = &kAACRatesOtherBitRate;
    for (const RateList& row : kAACRatesByBitRate)
        if (row.key == tag) {
            rates = &row;
            break;
        }
    const bool valid = ListHolds(*rates, rate);
    QString message = Localized("MP4 AAC files can only have certain combinations of bit- and sample rates. You "
                                "selected a bitrate of %@, which allows for sample rates of %@ Hz. Please select "
                                "one of these sample rates.");
    message.replace(message.indexOf(QLatin1String("%@")), 2, title);
    message.replace(message.indexOf(QLatin1String("%@")), 2, QString::fromLatin1(rates->text));
    WriteSettingVerdict(spec, kWordSizeValidKey, kWordSizeValidMessageKey, valid, message);
    return kHandled;
}

SInt16 QTMP4FileSampleRateSettings(CConvSpec* cspec, int, const QString& title, int tag)
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    if (!spec)
        return paramErr;
    if (tag < 0) {
        WriteSettingVerdict(spec, kSampleRateValidKey, kSampleRateInvalidMessageKey, false,
                     Localized("MP4 AAC files can only have certain combinations of bit- and sample rates. You "
                               "selected a custom sample rate, which cannot be used with any of the valid "
                               "bitrates."));
        return kHandled;
    }
    const long rate = LeadingInteger(title);
    const RateList* bitRates = nullptr;
    for (const RateList& row : kAACBitRatesBySampleRate)
        if (row.key == rate) {
            bitRates = &row;
            break;
        }
    if (!bitRates) {
        WriteSettingVerdict(spec, kSampleRateValidKey, kSampleRateInvalidMessageKey, true, QString());
        return kHandled;
    }
    const bool valid = ListHolds(*bitRates, spec->wordLength());
    QString message = Localized("MP4 AAC files can only have certain combinations of bit- and sample rates. You "
                                "selected a sample rate of %@, which allows for bitrates of %@ kbps. Please select "
                                "one of these bitrates.");
    message.replace(message.indexOf(QLatin1String("%@")), 2, title);
    message.replace(message.indexOf(QLatin1String("%@")), 2, QString::fromLatin1(bitRates->text));
    WriteSettingVerdict(spec, kSampleRateValidKey, kSampleRateInvalidMessageKey, valid, message);
    return kHandled;
}

SInt16 VOCFileSampleRateSettings(CConvSpec* cspec, int, const QString&, int)
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    if (!spec)
        return paramErr;

    // Keep the rate within what a time constant can express (the clamped
    // value stays with the conversion).
    if (spec->sampleRate() < 0.0 || std::isnan(spec->sampleRate()))
        cspec->SetSampleRate(1.0);
    else if (spec->sampleRate() > 1000000.0)
        cspec->SetSampleRate(1000000.0);
    const double rate = spec->sampleRate();

    const SInt16 timeConstant = VOCTimeConstant(float(rate));
    const float nearest = 1000000.0f / float(256 - int(timeConstant));
    const bool valid = std::fabs(rate - double(nearest)) < 0.5 && rate >= 3609.0 && rate <= 20000.0;

    const bool converting = spec->needsSampleRateConversion();
    spec->setSpecificsValue(kSampleRateValidKey, QVariant(valid && converting));
    if (!converting) {
        // Used as it stands.
        spec->setSpecificsValue(kSampleRateInvalidMessageKey,
                                QStringLiteral("VOC files can only have certain valid sample rates.\nPlease check "
                                               "to convert the sample rate to one one the valid possibilities."));
    } else if (!valid) {
        double shown = nearest;
        if (shown < 3921.0)
            shown = 3921.0;
        else if (shown > 20000.0)
            shown = 20000.0;
        QString message = Localized("The sample rate of a VOC file must conform to the formula:\nsample rate = 1 "
                                    "million / (whole number between 50 and 255).\nThe allowed sample rate which is "
                                    "closest to your choice is: %.2f Hz.");
        message.replace(QLatin1String("%.2f"), QString::asprintf("%.2f", shown));
        spec->setSpecificsValue(kSampleRateInvalidMessageKey, message);
    }
    return kHandled;
}

// ================================================== log word-length texts

namespace {

QString LogText(const char* text)
{
    return Localized(text);
}

} // namespace

QString QTQualcommPurevoiceFileLogWordLength(CConvSpec* cspec)
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    const bool half = spec && spec->wordLength() == 10000;
    QString text = LogText("\n    Selected bitrate: Purevoice %@ rate (%@9:1 compression)");
    text.replace(text.indexOf(QLatin1String("%@")), 2, half ? QStringLiteral("half") : QStringLiteral("full"));
    text.replace(text.indexOf(QLatin1String("%@")), 2, half ? QStringLiteral("1") : QString());
    return text;
}

QString QTIntFloatFileLogWordLength(CConvSpec* cspec)
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    QString bits = QStringLiteral("invalid amount");
    if (spec) {
        const unsigned char* block = cspec->FileTypeSpecifics();
        const QString order = block[0] == 'B' ? QStringLiteral("big") : QStringLiteral("little");
        const QString kind = block[1] == 'F' ? QStringLiteral("floating point") : QStringLiteral("integer");
        switch (spec->wordLength()) {
        case 8:
            bits = QStringLiteral("8 bits integer");
            break;
        case 16:
            bits = QStringLiteral("16 bits integer");
            break;
        case 24:
            bits = QStringLiteral("24 bits integer ") + order + QStringLiteral(" endian");
            break;
        case 32:
            bits = QStringLiteral("32 bits ") + kind + QLatin1Char(' ') + order + QStringLiteral(" endian");
            break;
        case 64:
            bits = QStringLiteral("64 bits floating point ") + order + QStringLiteral(" endian");
            break;
        default:
            break;
        }
    }
    return LogText("\n    Convert number of bits to: %@").replace(QLatin1String("%@"), bits);
}

QString SonicAIFFFileLogWordLength(CConvSpec* cspec)
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    QString size = QStringLiteral("invalid");
    if (spec) {
        if (spec->wordLength() == 16) {
            size = QStringLiteral("16 bits USP/HDSP");
        } else {
            switch (cspec->FileTypeSpecifics()[0]) {
            case 2:
                size = QStringLiteral("24 bits 'unpacked' SSP/USP style");
                break;
            case 3:
                size = QStringLiteral("24 bits 'packed' USP style");
                break;
            case 10:
                size = QStringLiteral("24 bits HDSP 1.4 style (= Little Endian)");
                break;
            case 11:
                size = QStringLiteral("24 bits HDSP 1.5 style (= Big Endian)");
                break;
            default:
                break;
            }
        }
    }
    return LogText("\n    Word size: %@").replace(QLatin1String("%@"), size);
}
