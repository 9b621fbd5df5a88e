// The per-type setting checks, as the file-type table gives them to each
// type: verdicts, per-type block fields, extensions and log texts.
#include "CConvSpec.h"
#include "ConvSpec.h"
#include "SoundFileDispatcher.h"
#include "file_type_table.h"
#include "per_type_setting_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <utility>

namespace {

// The settings callbacks of a type as the file-type table makes them.
SoundFileDispatcherRef Type(const char* code)
{
    const SoundFileDispatcherRef dispatcher = MakeSoundFileDispatcher(FourCharCodeFromString(std::string(code, 4)));
    EXPECT_TRUE(dispatcher) << code;
    return dispatcher;
}

struct Fixture {
    ConvSpecRef spec = ConvSpec::create();
    CConvSpec view{spec};

    bool Has(const QString& key) const { return spec->specificsValue(key).isValid(); }
    bool Flag(const QString& key) const { return spec->specificsValue(key).toBool(); }
    QString Text(const QString& key) const { return spec->specificsValue(key).toString(); }
    unsigned char* Block() { return spec->fileTypeSpecifics(); }
    std::string Mode() { return std::string(reinterpret_cast<const char*>(Block() + 1), Block()[0]); }
};

} // namespace

TEST(PerTypeSettingChecks, MonoOnlyChannelChecks)
{
    // CCITT wants a treatment that yields mono.
    for (int treat : {1, 2, 3, 4, 5, 6, 0x10002}) {
        Fixture f;
        f.spec->setNeedsChannelTreat(true);
        f.spec->setChannelTreat(treat);
        EXPECT_EQ(Type("21-4")->callHandleChannelSettings(&f.view, 0, QString(), treat), 0);
        const bool mono = SInt16(treat) >= 2 && SInt16(treat) <= 5;
        EXPECT_EQ(f.Flag(kChannelHandlingValidKey), mono) << treat;
        EXPECT_EQ(f.Has(kChannelHandlingInvalidMessageKey), !mono) << treat;
    }
    {
        Fixture f;
        f.spec->setNeedsChannelTreat(false);
        f.spec->setChannelTreat(3);
        Type("21-4")->callHandleChannelSettings(&f.view, 0, QString(), 3);
        EXPECT_FALSE(f.Flag(kChannelHandlingValidKey));
        EXPECT_EQ(f.Text(kChannelHandlingInvalidMessageKey),
                  QStringLiteral("CCITT files must be mono, so please choose a 'Channel handling' setting that "
                                 "yields mono output."));
    }
    // The others only need channel handling switched on.
    Fixture dawn;
    dawn.spec->setNeedsChannelTreat(true);
    dawn.spec->setChannelTreat(1);
    EXPECT_EQ(Type("Dawn")->callHandleChannelSettings(&dawn.view, 0, QString(), 1), 0);
    EXPECT_TRUE(dawn.Flag(kChannelHandlingValidKey));

    Fixture mu;
    mu.spec->setNeedsChannelTreat(false);
    Type("DULW")->callHandleChannelSettings(&mu.view, 0, QString(), 0);
    EXPECT_FALSE(mu.Flag(kChannelHandlingValidKey));
    EXPECT_EQ(mu.Text(kChannelHandlingInvalidMessageKey),
              QStringLiteral("Dialogic \u00b5-law files must be mono, so please select a channel handling that "
                             "yields mono output."));
    // A valid verdict leaves an older message in place.
    mu.spec->setNeedsChannelTreat(true);
    Type("DULW")->callHandleChannelSettings(&mu.view, 0, QString(), 0);
    EXPECT_TRUE(mu.Flag(kChannelHandlingValidKey));
    EXPECT_TRUE(mu.Has(kChannelHandlingInvalidMessageKey));
}

TEST(PerTypeSettingChecks, RatePopupChoosesTheNameExtension)
{
    struct Row {
        const char* code;
        const char* at8000;
        const char* at6000;
    };
    const Row rows[] = {{"DADP", "ap8", "ap6"}, {"DALW", "al8", "al6"}, {"DULW", "ul8", "ul6"}, {"PADP", "pi8", "pi6"}};
    for (const Row& row : rows) {
        const SoundFileDispatcherRef type = Type(row.code);
        Fixture f;
        f.spec->setNeedsNameExtension(false);
        EXPECT_EQ(type->callHandleSampleRateSettings(&f.view, 3, QStringLiteral("8000"), 17), 0);
        EXPECT_EQ(f.spec->nameExtension(), QString::fromLatin1(row.at8000));
        EXPECT_EQ(type->callHandleSampleRateSettings(&f.view, 4, QStringLiteral("6000"), 18), 0);
        EXPECT_EQ(f.spec->nameExtension(), QString::fromLatin1(row.at6000));
        EXPECT_FALSE(f.spec->needsNameExtension());
        EXPECT_EQ(type->callHandleSampleRateSettings(&f.view, 2, QStringLiteral("11025"), 16), paramErr);
        EXPECT_EQ(f.spec->nameExtension(), QString::fromLatin1(row.at6000));
    }
    Fixture pcm;
    EXPECT_EQ(Type("DPCM")->callHandleWordLengthSettings(&pcm.view, 0, QString(), 8), 0);
    EXPECT_EQ(pcm.spec->nameExtension(), QStringLiteral("pc8"));
    for (int index : {1, 2, 3}) {
        EXPECT_EQ(Type("DPCM")->callHandleWordLengthSettings(&pcm.view, index, QString(), 16), 0);
        EXPECT_EQ(pcm.spec->nameExtension(), QStringLiteral("p16"));
    }
    EXPECT_EQ(Type("DPCM")->callHandleWordLengthSettings(&pcm.view, 4, QString(), 16), paramErr);
    EXPECT_EQ(Type("DPCM")->callHandleWordLengthSettings(&pcm.view, -1, QString(), 16), paramErr);
}

TEST(PerTypeSettingChecks, MPEGStereoModesGoIntoTheBlock)
{
    Fixture f;
    EXPECT_EQ(Type("MPG2")->callHandleChannelSettings(&f.view, 4, QString(), 1), 0);
    EXPECT_EQ(f.Block()[0], 20);
    EXPECT_EQ(f.Mode(), "MPEG joint stereo   ");
    EXPECT_EQ(f.Block()[6], 'j'); // the character the encoders read
    f.spec->setChannelTreat(1);
    EXPECT_EQ(Type("MPG2")->callChannelIndexFunc(&f.view), 4);
    EXPECT_EQ(Type("MPG2")->callLogChannelSettingsFunc(&f.view), QStringLiteral("MPEG joint stereo   "));

    EXPECT_EQ(Type("BWMP")->callHandleChannelSettings(&f.view, 5, QString(), 1), 0);
    EXPECT_EQ(f.Mode(), "MPEG separate stereo");
    EXPECT_EQ(Type("BWMP")->callChannelIndexFunc(&f.view), 5);
    // Other items leave the block alone.
    EXPECT_EQ(Type("MPG2")->callHandleChannelSettings(&f.view, 2, QString(), 2), 0);
    EXPECT_EQ(f.Mode(), "MPEG separate stereo");

    // Layer I keeps its modes one item further down.
    EXPECT_EQ(Type("MPG1")->callHandleChannelSettings(&f.view, 5, QString(), 1), 0);
    EXPECT_EQ(f.Mode(), "MPEG joint stereo   ");
    EXPECT_EQ(Type("MPG1")->callChannelIndexFunc(&f.view), 5);
    EXPECT_EQ(Type("MPG1")->callLogChannelSettingsFunc(&f.view), QStringLiteral("MPEG joint stereo   "));

    // Interleaved stereo without a stored mode: the first item.
    Fixture plain;
    plain.spec->setChannelTreat(1);
    EXPECT_EQ(Type("MPG2")->callChannelIndexFunc(&plain.view), 0);
    // Treatments the popup lists sit at their own index ...
    for (int treat : {0, 2, 3}) {
        plain.spec->setChannelTreat(treat);
        EXPECT_EQ(Type("MPG1")->callChannelIndexFunc(&plain.view), treat);
        EXPECT_EQ(Type("BWMP")->callChannelIndexFunc(&plain.view), treat);
    }
    // ... the others have no item, rather than showing a stereo mode.
    for (int treat : {4, 5, 6, 7, -1}) {
        plain.spec->setChannelTreat(treat);
        EXPECT_EQ(Type("MPG2")->callChannelIndexFunc(&plain.view), -1) << treat;
        EXPECT_EQ(Type("MPG1")->callChannelIndexFunc(&plain.view), -1) << treat;
    }
}

TEST(PerTypeSettingChecks, MP3StereoModesKeepTheStereoTreatment)
{
    // The joint and separate items of the MP3 popup are interleaved-stereo
    // items: choosing one stores the mode and never a one-channel treatment.
    Fixture f;
    f.spec->setNeedsChannelTreat(true);
    f.spec->setChannelTreat(1);
    EXPECT_EQ(Type("DMP3")->callHandleChannelSettings(&f.view, 4, QStringLiteral("MPEG joint stereo"), 1), 0);
    EXPECT_EQ(f.Block()[6], 'j');
    EXPECT_EQ(Type("DMP3")->callChannelIndexFunc(&f.view), 4);
    EXPECT_EQ(Type("DMP3")->callHandleChannelSettings(&f.view, 5, QStringLiteral("MPEG separate stereo"), 1), 0);
    EXPECT_EQ(f.Block()[6], 's');
    EXPECT_EQ(Type("DMP3")->callChannelIndexFunc(&f.view), 5);
    EXPECT_EQ(f.spec->channelTreat(), 1);
    EXPECT_FALSE(f.Has(kChannelHandlingValidKey));
}

TEST(PerTypeSettingChecks, BitRateChecks)
{
    {
        Fixture f; // 32 kbit/s mono: valid in both checks
        f.spec->setNeedsNewWordLength(true);
        f.spec->setWordLength(32);
        f.spec->setChannelTreat(3);
        EXPECT_EQ(MPEG1FileWordLengthSettings(&f.view, 0, QString(), 32), 0);
        EXPECT_EQ(Type("MPG1")->callHandleChannelSettings(&f.view, 3, QString(), 3), 0);
        EXPECT_TRUE(f.Flag(kWordSizeValidKey));
        EXPECT_TRUE(f.Flag(kChannelHandlingValidKey));
        EXPECT_FALSE(f.Has(kWordSizeValidMessageKey) || f.Has(kChannelHandlingInvalidMessageKey));
    }
    {
        Fixture f; // 32 kbit/s interleaved stereo: invalid in both
        f.spec->setNeedsNewWordLength(true);
        f.spec->setWordLength(32);
        f.spec->setChannelTreat(1);
        MPEG1FileWordLengthSettings(&f.view, 0, QString(), 32);
        Type("MPG1")->callHandleChannelSettings(&f.view, 0, QString(), 1);
        EXPECT_FALSE(f.Flag(kWordSizeValidKey));
        EXPECT_EQ(f.Text(kWordSizeValidMessageKey),
                  QStringLiteral("You have specified stereo output, but for MPEG 1 Layer I files, a bit rate of "
                                 "32 kbit/s is only allowed for mono output."));
        EXPECT_FALSE(f.Flag(kChannelHandlingValidKey));
        EXPECT_TRUE(f.Text(kChannelHandlingInvalidMessageKey).startsWith(QStringLiteral("You have specified a bit "
                                                                                        "rate of 32 kbit/s")));
    }
    {
        Fixture f;
        f.spec->setNeedsNewWordLength(false);
        MPEG1FileWordLengthSettings(&f.view, 0, QString(), 384);
        EXPECT_FALSE(f.Flag(kWordSizeValidKey));
        EXPECT_EQ(f.Text(kWordSizeValidMessageKey),
                  QStringLiteral("MPEG 1 Layer I must have a bit rate specified, so please check and select a "
                                 "bit rate."));
        Type("DMP3")->callHandleWordLengthSettings(&f.view, 0, QString(), 192);
        EXPECT_FALSE(f.Flag(kWordSizeValidKey));
        EXPECT_TRUE(f.Text(kWordSizeValidMessageKey).startsWith(QStringLiteral("To correctly convert to mp3")));
        f.spec->setNeedsNewWordLength(true);
        Type("DMP3")->callHandleWordLengthSettings(&f.view, 0, QString(), 192);
        EXPECT_TRUE(f.Flag(kWordSizeValidKey));
    }
}

TEST(PerTypeSettingChecks, ByteOrderKindAndPackingRoundTrip)
{
    Fixture paris;
    ParisLinearFileWordLengthSettings(&paris.view, 3, QString(), 16);
    EXPECT_EQ(paris.Block()[0], 'L');
    paris.spec->setWordLength(16);
    EXPECT_EQ(ParisLinearFileWordLengthPopupIndex(&paris.view), 3);
    ParisLinearFileWordLengthSettings(&paris.view, 2, QString(), 24);
    paris.spec->setWordLength(24);
    EXPECT_EQ(ParisLinearFileWordLengthPopupIndex(&paris.view), 2);
    ParisLinearFileWordLengthSettings(&paris.view, 7, QString(), 24); // out of range: nothing stored
    EXPECT_EQ(paris.Block()[0], 'B');
    paris.spec->setWordLength(32);
    EXPECT_EQ(ParisLinearFileWordLengthPopupIndex(&paris.view), 0);

    Fixture qt;
    qt.Block()[0] = 'L';
    qt.Block()[1] = 'F';
    qt.spec->setWordLength(32);
    EXPECT_EQ(QTIntFloatFileWordLengthPopupIndex(&qt.view), 7);
    EXPECT_EQ(QTIntFloatFileLogWordLength(&qt.view),
              QStringLiteral("\n    Convert number of bits to: 32 bits floating point little endian"));
    QTIntFloatFileWordLengthSettings(&qt.view, 4, QString(), 32);
    EXPECT_EQ(QTIntFloatFileWordLengthPopupIndex(&qt.view), 4);
    QTIntFloatFileWordLengthSettings(&qt.view, 1, QString(), 16); // stores nothing
    EXPECT_EQ(qt.Block()[0], 'B');
    EXPECT_EQ(qt.Block()[1], 'I');
    qt.spec->setWordLength(64);
    QTIntFloatFileWordLengthSettings(&qt.view, 9, QString(), 64);
    EXPECT_EQ(QTIntFloatFileWordLengthPopupIndex(&qt.view), 9);
    qt.spec->setWordLength(20);
    EXPECT_EQ(QTIntFloatFileWordLengthPopupIndex(&qt.view), 1);
    EXPECT_EQ(QTIntFloatFileLogWordLength(&qt.view), QStringLiteral("\n    Convert number of bits to: invalid amount"));

    Fixture sonic;
    sonic.spec->setWordLength(24);
    const int codes[] = {0, 2, 3, 10, 11};
    for (int index = 1; index <= 4; ++index) {
        SonicAIFFFileWordLengthSettings(&sonic.view, index, QString(), 24);
        EXPECT_EQ(sonic.Block()[0], codes[index]);
        EXPECT_EQ(SonicAIFFFileWordLengthPopupIndex(&sonic.view), index);
    }
    EXPECT_EQ(SonicAIFFFileLogWordLength(&sonic.view),
              QStringLiteral("\n    Word size: 24 bits HDSP 1.5 style (= Big Endian)"));
    sonic.spec->setWordLength(16);
    EXPECT_EQ(SonicAIFFFileWordLengthPopupIndex(&sonic.view), 0);
}

TEST(PerTypeSettingChecks, AACBitAndSampleRates)
{
    Fixture f;
    f.spec->setSampleRate(44100.0);
    EXPECT_EQ(QTMP4FileWordLengthSettings(&f.view, 5, QStringLiteral("40 kbit/s"), 40), 0);
    EXPECT_TRUE(f.Flag(kWordSizeValidKey));
    QTMP4FileWordLengthSettings(&f.view, 4, QStringLiteral("32 kbit/s"), 32);
    EXPECT_FALSE(f.Flag(kWordSizeValidKey));
    EXPECT_EQ(f.Text(kWordSizeValidMessageKey),
              QStringLiteral("MP4 AAC files can only have certain combinations of bit- and sample rates. You "
                             "selected a bitrate of 32 kbit/s, which allows for sample rates of 16000, 22050, "
                             "24000 or 32000 Hz. Please select one of these sample rates."));

    f.spec->setWordLength(32);
    QTMP4FileSampleRateSettings(&f.view, 6, QStringLiteral("44100"), 6);
    EXPECT_FALSE(f.Flag(kSampleRateValidKey));
    EXPECT_TRUE(f.Text(kSampleRateInvalidMessageKey)
                    .contains(QStringLiteral("40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224 or 256 kbps")));
    f.spec->setWordLength(48);
    QTMP4FileSampleRateSettings(&f.view, 4, QStringLiteral("48000"), 4);
    EXPECT_FALSE(f.Flag(kSampleRateValidKey));
    f.spec->setWordLength(64);
    QTMP4FileSampleRateSettings(&f.view, 4, QStringLiteral("48000"), 4);
    EXPECT_TRUE(f.Flag(kSampleRateValidKey));
    // A rate outside the table is not judged; a custom rate never fits.
    QTMP4FileSampleRateSettings(&f.view, 0, QStringLiteral("96000"), 2);
    EXPECT_TRUE(f.Flag(kSampleRateValidKey));
    QTMP4FileSampleRateSettings(&f.view, 22, QStringLiteral("44100"), -1);
    EXPECT_FALSE(f.Flag(kSampleRateValidKey));
    EXPECT_TRUE(f.Text(kSampleRateInvalidMessageKey).contains(QStringLiteral("custom sample rate")));
}

TEST(PerTypeSettingChecks, MP3CodecRequiredRate)
{
    Fixture f;
    const unsigned char rate[4] = {0x00, 0x00, 0x56, 0x22}; // 22050
    std::memcpy(f.Block() + kMP3RequiredSampleRateOffset, rate, 4);
    f.spec->setSampleRate(22050.9);
    EXPECT_EQ(QTMP3FileSampleRateSettings(&f.view, 0, QString(), 0), 0);
    EXPECT_TRUE(f.Flag(kSampleRateValidKey));
    f.spec->setSampleRate(44100.0);
    QTMP3FileSampleRateSettings(&f.view, 0, QString(), 0);
    EXPECT_FALSE(f.Flag(kSampleRateValidKey));
    EXPECT_EQ(f.Text(kSampleRateInvalidMessageKey),
              QStringLiteral("Your MPEG Layer III Codec options require a sample rate of 22050. Please make sure "
                             "you enter the correct value."));
}

TEST(PerTypeSettingChecks, VOCTimeConstantRule)
{
    struct Case {
        double rate;
        bool converting;
        bool valid;
        const char* messageEnd;  // how the message ends (nullptr: not checked)
        double storedRate;  // the rate the check leaves (0: not checked)
    };
    const Case cases[] = {
        {8000.0, true, true, nullptr, 0},
        {8100.0, true, false, "is: 8130.08 Hz.", 0},
        {2000.0, true, false, "is: 3921.00 Hz.", 0},
        {8000.0, false, false, nullptr, 0},  // the text below
        // Guarded rates: negative, zero, huge, not a number.
        {-5.0, true, false, nullptr, 1.0},
        {0.0, true, false, "is: 3921.00 Hz.", 0},
        {5.0e7, true, false, "is: 20000.00 Hz.", 1000000.0},
        {std::nan(""), true, false, nullptr, 0},
        // 1000000 / 256, admitted by the test's lower bound, and the top.
        {3906.25, true, true, nullptr, 0},
        {20000.0, true, true, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        Fixture f;
        f.spec->setSampleRate(c.rate);
        f.spec->setNeedsSampleRateConversion(c.converting);
        EXPECT_EQ(VOCFileSampleRateSettings(&f.view, 0, QString(), 0), 0);
        EXPECT_EQ(f.Flag(kSampleRateValidKey), c.valid);
        if (c.valid) {
            EXPECT_FALSE(f.Has(kSampleRateInvalidMessageKey));
        }
        if (c.messageEnd) {
            EXPECT_TRUE(f.Text(kSampleRateInvalidMessageKey).endsWith(QString::fromUtf8(c.messageEnd)));
        }
        if (c.storedRate) {
            EXPECT_EQ(f.spec->sampleRate(), c.storedRate);
        }
    }
    // Not converting the rate.
    Fixture f;
    f.spec->setSampleRate(8000.0);
    VOCFileSampleRateSettings(&f.view, 0, QString(), 0);
    EXPECT_EQ(f.Text(kSampleRateInvalidMessageKey),
        QStringLiteral("VOC files can only have certain valid sample rates.\nPlease check to convert the "
                       "sample rate to one one the valid possibilities."));
}

TEST(PerTypeSettingChecks, LogTexts)
{
    Fixture f;
    f.spec->setWordLength(192);
    const std::pair<const char*, const char*> texts[] = {
        {"MSAP", "\n    Convert number of bits to: 4 bits ADPCM"},
        {"NSAL", "\n    Convert number of bits to: 8 bits A-law"},
        {"QTUL", "\n    Convert number of bits to: 8 bits \u00b5-law"},
        {"QTM6", "\n    Word size: MACE words"},
        {"QTQ2", "\n    Do not convert the number of bits"},
        {"MPG2", "\n    Selected bitrate: 192 kilobits per second"},
    };
    for (const auto& [code, text] : texts)
        EXPECT_EQ(Type(code)->callLogWordLengthFunc(&f.view), QString::fromUtf8(text)) << code;
    f.spec->setWordLength(10000);
    EXPECT_EQ(QTQualcommPurevoiceFileLogWordLength(&f.view),
              QStringLiteral("\n    Selected bitrate: Purevoice half rate (19:1 compression)"));
    f.spec->setWordLength(20000);
    EXPECT_EQ(QTQualcommPurevoiceFileLogWordLength(&f.view),
              QStringLiteral("\n    Selected bitrate: Purevoice full rate (9:1 compression)"));
}
