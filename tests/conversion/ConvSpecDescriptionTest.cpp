// The conversion's log block and automatic name.
#include "CConvSpec.h"
#include "ConvSpec.h"
#include "ConversionTestSupport.h"
#include "CreateSoundFile.h"
#include "FileTypeDictionary.h"
#include "SoundFileDispatcher.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QVariantList>

namespace {

QVariantMap Item(const char* text, int tag)
{
    QVariantMap item;
    item.insert(QStringLiteral("text"), QString::fromUtf8(text));
    item.insert(QStringLiteral("tag"), qlonglong(tag));
    return item;
}

// Popup index functions of a made-up MPEG-like type.
int g_channelIndex = 0;
int ChannelIndex(CConvSpec* spec)
{
    EXPECT_NE(spec, nullptr);
    EXPECT_NE(spec->GetConvSpec(), nullptr);
    return g_channelIndex;
}
int WordLengthIndex(CConvSpec* spec) { return spec->WordLength() == 24 ? 2 : 99; }
QString LogChannel(CConvSpec* spec) { return QStringLiteral("MPEG joint stereo   "); }

// Strict type (AIFF by default), 48 kHz, 24 bits dithered, split.
void StrictAiff48kSplit(ConvSpec& s)
{
    s.setNeedsStrictFileType(true);
    s.setNeedsSampleRateConversion(true);
    s.setSampleRate(48000.0);
    s.setNeedsNewWordLength(true);
    s.setWordLength(24);
    s.setNeedsRedither(true);
    s.setNeedsChannelTreat(true);
    s.setChannelTreat(2);
}

class ConvSpecDescriptionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QVariantMap aiff = convtest::TypeEntry("AIFF");
        aiff.insert(QStringLiteral("numBitsPopup"),
                    QVariantList{Item("8 bits", 8), Item("16 bits", 16), Item("24 bits", 24), Item("32 bits", 32)});
        aiff.insert(QStringLiteral("channelHandlingPopup"),
                    QVariantList{Item("Force interleaved stereo", 1), Item("Split stereo to mono files", 2)});
        SetEntryDispatcher(&aiff, std::make_shared<SoundFileDispatcher>());

        QVariantMap mpeg = convtest::TypeEntry("MPEG 1 Layer II");
        mpeg.insert(QStringLiteral("numBitsPopup"),
                    QVariantList{Item("32 kbit/s", 32), Item("64 kbit/s", 64), Item("odd", 24)});
        mpeg.insert(QStringLiteral("channelHandlingPopup"),
                    QVariantList{Item("Stereo", 1), Item("Split", 2), Item("Mix", 3), Item("Left", 4),
                                 Item("Joint stereo", 1), QVariant(QStringLiteral("not an item"))});
        auto dispatcher = std::make_shared<SoundFileDispatcher>();
        dispatcher->setChannelHandlingPopupIndexFunc(ChannelIndex);
        dispatcher->setWordLengthPopupIndexFunc(WordLengthIndex);
        dispatcher->setLogChannelSettingsFunc(LogChannel);
        SetEntryDispatcher(&mpeg, dispatcher);

        QVariantMap bare; // no text, no popups, no dispatcher
        bare.insert(QStringLiteral("canBeWritten"), true);

        SetFileTypeDictionary({{"'AIFF'", aiff}, {"'MPG2'", mpeg}, {"'Bare'", bare}});
        g_channelIndex = 0;
    }
    void TearDown() override
    {
        ResetFileTypeDictionary();
        QLocale::setDefault(QLocale::c());
    }
};

} // namespace

TEST_F(ConvSpecDescriptionTest, DefaultConversion)
{
    const ConvSpec s;
    EXPECT_EQ(s.descriptionForLog().toStdString(),
              "    Conversion name: untitled conversion\n"
              "    Do not convert file format\n"
              "    Do not convert the sample rate\n"
              "    Do not convert the number of bits\n"
              "    Do not change the gain");
    EXPECT_EQ(s.descriptionForAutoName(), QStringLiteral("Same type"));
}

TEST_F(ConvSpecDescriptionTest, StrictAiffConversion)
{
    ConvSpec s;
    StrictAiff48kSplit(s);
    EXPECT_EQ(s.descriptionForAutoName(), QStringLiteral("AIFF, 48000.00 Hz, 24 bits dithered, split"));
    EXPECT_EQ(s.descriptionForLog().toStdString(),
              "    Conversion name: untitled conversion\n"
              "    Convert file format to: AIFF\n"
              "    Convert the sample rate to: 48000.0000 Hz\n"
              "    Convert number of bits to: 24 bits, using dithering\n"
              "    Change number of channels by: splitting stereo files to separate mono files\n"
              "    Do not change the gain");
}

TEST_F(ConvSpecDescriptionTest, EverythingSwitchedOn)
{
    // The user's locale must not change the numbers.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ConvSpec s;
    s.setConversionName(QStringLiteral("All"));
    s.setComment(QStringLiteral("note"));
    s.setNeedsExtraction(true);
    s.setNeedsStrip(true);
    s.setStripMargin(12.25f);
    s.setNeedsSnip(true);
    s.setSnipFrom(1.5f);
    s.setSnipTo(2.0625f);
    s.setCopyExtras(true);
    s.setNeedsFades(true);
    s.setFadeInTime(5.0f);
    s.setFadeOutTime(7.5f);
    s.setNeedsGain(true);
    s.setNeedsGate(true);
    s.setGateGapLength(0.25);
    s.setGateThreshold(-40.0);
    s.setGateAttenuation(-6.5);
    s.setNeedsCompressor(true);
    s.setNeedsNormalize(true);
    s.setCompressionBoost(3.0);
    s.setCeiling(-0.1);
    s.setNeedsNameExtension(true);
    s.setNameExtension(QStringLiteral("..x")); // stored ".x"
    s.setNeedsChannelTreat(true);
    s.setChannelTreat(7);
    s.setSpecificsValue(QStringLiteral("AnnotationText"), QStringLiteral("take 2"));
    EXPECT_EQ(s.descriptionForLog().toStdString(),
              "    Conversion name: All\n"
              "    Comment: note\n"
              "    Do not convert file format\n"
              "    Do not convert the sample rate\n"
              "    Do not convert the number of bits\n"
              "    Change number of channels by: making MPEG joint stereo\n"
              "    Extract regions\n"
              "    Compact audio (by region) with a 12.2 ms safety margin\n"
              "    Convert only a snippet from 1.500 to 2.062 s\n"
              "    Convert any marker-, loop-, region definitions, and time stamps\n"
              "    Supply output files with a fade in of 5.0 ms\n"
              "                        and a fade out of 7.5 ms\n"
              "    Gate silences with following settings:\n"
              "        A silence is longer than 250.0 ms\n"
              "        and lower than -40.0 dBfs\n"
              "        Attenuate silences -6.5 dB\n"
              "    Boost non-silences with Look Ahead Peak Limiter, using following settings:\n"
              "        First normalize to full scale\n"
              "\t\t Then amplify 3.0 dB\n"
              "        Then limit at -0.1 dBfs\n"
              "    Add or replace filename extension: .x\n"
              "    BWF annotation: take 2");
    EXPECT_EQ(s.descriptionForAutoName().toStdString(),
              "Same type, MPEG joint stereo, extract, strip (margin 12.2 ms), snippet from 1.500 to 2.062 s, "
              "copy extras, fade in 5.0 ms, out 7.5 ms, att -6.5 dB when below -40.0 dBfs for over 250.0 ms, "
              "boost rest, normalize, amp 3.0 dB, limit @ -0.1 dBfs");

    // Gain without gate, limiter without normalising, and normalising alone.
    s.setNeedsGate(false);
    s.setNeedsNormalize(false);
    EXPECT_TRUE(s.descriptionForLog().contains(
        QStringLiteral("\n    Boost with Look Ahead Peak Limiter, using following settings:\n\t\t      Amplify 3.0 dB\n")));
    EXPECT_TRUE(s.descriptionForAutoName().endsWith(QStringLiteral(", boost, amp 3.0 dB, limit @ -0.1 dBfs")));
    s.setNeedsCompressor(false);
    s.setNeedsNormalize(true);
    EXPECT_TRUE(s.descriptionForLog().contains(QStringLiteral("\n    Boost by normalizing to: -0.1 dB\n")));
    EXPECT_TRUE(s.descriptionForAutoName().endsWith(QStringLiteral(", boost by normalizing to -0.1 dBfs")));
}

TEST_F(ConvSpecDescriptionTest, UnmatchedPopupsFallBackToNumbers)
{
    ConvSpec s;
    s.setNeedsStrictFileType(true);
    s.setNeedsNewWordLength(true);
    s.setWordLength(20);
    EXPECT_EQ(s.descriptionForWordLength(), QStringLiteral("20 bits"));
    EXPECT_TRUE(s.descriptionForLog().contains(QStringLiteral("Convert number of bits to: 20 bits, without dithering")));
    s.setChannelTreat(5);
    EXPECT_EQ(s.descriptionForChannelHandling(), QStringLiteral("channel treatment 5"));

    // A type without an entry, or an entry without text and popups.
    for (const char* code : {"Zzzz", "Bare"}) {
        s.setOutputFileType(FourCharCodeFromString(code));
        const QString log = s.descriptionForLog();
        EXPECT_FALSE(log.contains(QStringLiteral("(null)")));
        EXPECT_TRUE(log.contains(QStringLiteral("Convert file format to: '") + QLatin1String(code) +
                                 QLatin1Char('\'')))
            << log.toStdString();
        EXPECT_EQ(s.descriptionForWordLength(), QStringLiteral("20 bits"));
    }
}

TEST_F(ConvSpecDescriptionTest, PopupIndexFunctionsAreCheckedAgainstTheItems)
{
    ConvSpecRef s = ConvSpec::create();
    s->setOutputFileType(FOUR_CHAR_CODE("MPG2"));
    s->setNeedsStrictFileType(true);
    s->setNeedsChannelTreat(true);
    s->setChannelTreat(1);
    g_channelIndex = 4;
    EXPECT_EQ(s->descriptionForChannelHandling(), QStringLiteral("Joint stereo"));
    EXPECT_EQ(s->descriptionForAutoName(), QStringLiteral("MPEG 1 Layer II, Joint stereo"));
    // The log takes the type's own channel text.
    EXPECT_TRUE(s->descriptionForLog().contains(QStringLiteral("Change number of channels by: MPEG joint stereo   ")));

    for (int index : {-1, 6, 5, 1000}) {
        g_channelIndex = index; // outside the list, or not an item: by tag
        EXPECT_EQ(s->descriptionForChannelHandling(), QStringLiteral("Stereo")) << index;
    }
    s->setChannelTreat(9);
    EXPECT_EQ(s->descriptionForChannelHandling(), QStringLiteral("channel treatment 9"));

    // A conversion that is not owned by a shared pointer works too.
    ConvSpec onStack(*s);
    onStack.setWordLength(24);
    EXPECT_EQ(onStack.descriptionForWordLength(), QStringLiteral("odd"));
    onStack.setWordLength(64);
    EXPECT_EQ(onStack.descriptionForWordLength(), QStringLiteral("64 kbit/s")); // index 99: by tag
}

TEST_F(ConvSpecDescriptionTest, ExtensionsInTheLogAndTheName)
{
    ConvSpec s;
    s.setNeedsNameExtension(true);
    s.setNameExtension(QStringLiteral(".aif"));
    EXPECT_TRUE(s.descriptionForLog().endsWith(QStringLiteral("\n    Add or replace filename extension: .aif")));
    // Not strict: the name does not show the extension.
    EXPECT_EQ(s.descriptionForAutoName(), QStringLiteral("Same type"));
    s.setNeedsStrictFileType(true);
    EXPECT_EQ(s.descriptionForAutoName(), QStringLiteral("AIFF (.aif)"));
    s.setNameExtension(QStringLiteral("..aif"));
    EXPECT_TRUE(s.descriptionForLog().endsWith(QStringLiteral("\n    Add or replace filename extension: .aif")));
}

TEST_F(ConvSpecDescriptionTest, RealFileTypeDictionary)
{
    ResetFileTypeDictionary();
    if (!LoadSoundFileProperties().contains(QStringLiteral("'AIFF'")))
        GTEST_SKIP() << "no AIFF property list among the resources";
    ConvSpec s;
    StrictAiff48kSplit(s);
    EXPECT_EQ(s.descriptionForAutoName(), QStringLiteral("AIFF, 48000.00 Hz, 24 bits dithered, split"));
    EXPECT_TRUE(s.validateSettings());
    s.setOutputFileType(FOUR_CHAR_CODE("Temp"));
    EXPECT_FALSE(s.validateSettings());
    s.setOutputFileType(FOUR_CHAR_CODE("WVau"));
    s.setWordLength(16);
    EXPECT_EQ(s.descriptionForWordLength(), QStringLiteral("8 bits \u03bc-law"));
}

// A bit rate per channel is logged per channel only for a type whose
// properties say its bit rate can be (MPEG-4 audio), for stereo doubled.
TEST_F(ConvSpecDescriptionTest, BitRatePerChannelOnlyWhereTheTypeTakesIt)
{
    ResetFileTypeDictionary();
    if (!LoadSoundFileProperties().contains(QStringLiteral("'Mpg4'")))
        GTEST_SKIP() << "no MPEG-4 property list among the resources";
    ConvSpec s;
    s.setNeedsStrictFileType(true);
    s.setNeedsNewWordLength(true);
    s.setWordLength(64);
    s.setBitRatePerChannel(true);
    s.setOutputFileType(FOUR_CHAR_CODE("Mpg4"));
    EXPECT_EQ(s.descriptionForWordLengthInLog(), QStringLiteral("64 kbit/s per channel (128 kbit/s for stereo)"));
    s.setNeedsChannelTreat(true);
    s.setChannelTreat(3);
    EXPECT_EQ(s.descriptionForWordLengthInLog(), QStringLiteral("64 kbit/s per channel"));
    s.setOutputFileType(FOUR_CHAR_CODE("MPG2"));
    EXPECT_EQ(s.descriptionForWordLengthInLog(), s.descriptionForWordLength());
    EXPECT_FALSE(s.descriptionForWordLengthInLog().contains(QStringLiteral("per channel")));
}

TEST(SoundFileDispatcherTest, EmptyFieldsGiveTheirFixedResults)
{
    SoundFileDispatcher d;
    ConvSpecRef spec = ConvSpec::create();
    CConvSpec view(spec);
    EXPECT_EQ(d.callCreateSoundFileObject(), nullptr);
    EXPECT_EQ(d.callHandleWordLengthSettings(&view, 0, QString(), 0), -50);
    EXPECT_EQ(d.callHandleChannelSettings(&view, 0, QString(), 0), -50);
    EXPECT_EQ(d.callHandleSampleRateSettings(&view, 0, QString(), 0), -50);
    EXPECT_FALSE(d.callIsMyFileType(nullptr));
    EXPECT_EQ(d.callChannelIndexFunc(&view), -1);
    EXPECT_EQ(d.callWordLengthIndexFunc(&view), -1);
    EXPECT_EQ(d.callLogWordLengthFunc(&view), QStringLiteral("internal error during logging"));
    EXPECT_EQ(d.callLogChannelSettingsFunc(&view), QStringLiteral("internal error during logging"));
    EXPECT_EQ(d.callAutoNameWordLengthFunc(&view), QStringLiteral("internal error during auto name generation"));
    EXPECT_EQ(d.callAutoNameChannelSettingsFunc(&view),
              QStringLiteral("internal error during auto name generation"));
    EXPECT_FALSE(d.hasChannelIndexFunc() || d.hasWordLengthIndexFunc() || d.hasLogChannelSettingsFunc());

    d.setChannelHandlingPopupIndexFunc(ChannelIndex);
    g_channelIndex = 3;
    EXPECT_TRUE(d.hasChannelIndexFunc());
    EXPECT_EQ(d.callChannelIndexFunc(&view), 3);
    const QString description = d.description();
    EXPECT_TRUE(description.startsWith(QStringLiteral("dispatcher 0x")));
    EXPECT_TRUE(description.contains(QStringLiteral(", auto name channel settings func ")));
    EXPECT_FALSE(description.contains(QLatin1Char('%')));

    // An entry keeps its dispatcher; other values under the key are none.
    QVariantMap entry;
    EXPECT_EQ(GetEntryDispatcher(entry), nullptr);
    entry.insert(QStringLiteral("dispatcher"), QStringLiteral("text"));
    EXPECT_EQ(GetEntryDispatcher(entry), nullptr);
    auto shared = std::make_shared<SoundFileDispatcher>();
    SetEntryDispatcher(&entry, shared);
    EXPECT_EQ(GetEntryDispatcher(entry), shared);
}
