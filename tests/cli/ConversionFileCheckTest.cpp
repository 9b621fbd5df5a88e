// A hand-written conversions file: missing keys take a new conversion's
// values, and unknown keys, wrong kinds and values out of range are each
// reported with the conversion's number and name.
#include "ConversionFileCheck.h"
#include "ConversionList.h"
#include "EngineStartup.h"
#include "MainBundle.h"
#include "PropertyList.h"

#include <gtest/gtest.h>

namespace {

class ConversionFileCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EngineStartup::buildFileTypeTable(); }
};

TEST_F(ConversionFileCheckTest, MissingKeysKeepTheNewConversionValues)
{
    const QList<ConvSpecRef> list = ConversionList::fromArray(
        {QVariantMap{{"QMCSName", "Short"}, {"QMCSNeedsSampleRateConversion", true}, {"QMCSSampleRate", 22050}}});
    ASSERT_EQ(list.size(), 1);
    const ConvSpec& c = *list.first();
    EXPECT_EQ(c.conversionName(), "Short");
    EXPECT_EQ(c.sampleRate(), 22050.0);
    EXPECT_EQ(c.sampleRateConvertQuality(), 1);
    EXPECT_EQ(c.fadeInTime(), 20.0f);
    EXPECT_EQ(c.fadeOutTime(), 20.0f);
    EXPECT_EQ(c.wordLength(), 16);
    EXPECT_EQ(c.channelTreat(), 2);
    EXPECT_EQ(c.outputFileType(), OSType('AIFF'));
    EXPECT_EQ(c.snipTo(), 10.0f);
    EXPECT_TRUE(c.active());
    EXPECT_TRUE(ConversionFileCheck::problems(QVariantList{c.dictionary()}).isEmpty());
}

struct BadCase {
    const char* label;
    QVariantMap conversion;
    const char* expected;  // a part of the one problem reported
};

void PrintTo(const BadCase& c, std::ostream* os)
{
    *os << c.label;
}

class ConversionFileProblems : public ConversionFileCheckTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(ConversionFileProblems, EachIsReportedWithTheConversionName)
{
    const BadCase& c = GetParam();
    QVariantMap conversion = c.conversion;
    conversion.insert("QMCSName", "Mine");
    const QStringList found = ConversionFileCheck::problems(QVariantList{QVariantMap{}, conversion});
    ASSERT_EQ(found.size(), 1) << found.join('\n').toStdString();
    EXPECT_TRUE(found.first().startsWith("conversion 2 'Mine': ")) << found.first().toStdString();
    EXPECT_TRUE(found.first().contains(c.expected)) << found.first().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConversionFileProblems,
    ::testing::Values(
        BadCase{"UnknownKey", {{"QMCSFadeInTim", 5}}, "unknown key 'QMCSFadeInTim' (did you mean 'QMCSFadeInTime'?)"},
        BadCase{"QualityAbove", {{"QMCSSampleRateConvertQuality", 7}}, "QMCSSampleRateConvertQuality is 7, out of range (allowed: 0 to 4)"},
        BadCase{"NegativeFade", {{"QMCSFadeOutTime", -3.5}}, "QMCSFadeOutTime is -3.5, out of range (allowed: 0 ms or more)"},
        BadCase{"RateTooHigh", {{"QMCSSampleRate", 500000}}, "(allowed: 1000 to 192000 Hz)"},
        BadCase{"TreatBeyond", {{"QMCSChannelTreat", 9}}, "QMCSChannelTreat is 9"},
        BadCase{"TextForNumber", {{"QMCSSampleRate", "fast"}}, "QMCSSampleRate is \"fast\"; it must be a number"},
        // Numbers written as text, as no property-list writer stores them.
        BadCase{"WholeNumberAsText", {{"QMCSWordLength", "16"}},
                "QMCSWordLength is \"16\"; it must be a whole number (<integer>) (write <integer>16</integer>)"},
        BadCase{"NumberAsText", {{"QMCSSampleRate", "22050.5"}}, "(write <real>22050.5</real>)"},
        BadCase{"FractionalLong", {{"QMCSWordLength", 16.5}}, "must be a whole number"},
        BadCase{"BadFlag", {{"QMCSActive", "maybe"}}, "QMCSActive is \"maybe\"; it must be a boolean"},
        BadCase{"TypeAsText", {{"QMCSOutputFileType", "WAVE"}}, "('WAVE' is <integer>1463899717</integer>)"},
        BadCase{"UnknownType", {{"QMCSOutputFileType", 0x41424344}}, "1094861636 ('ABCD') is not a type"},
        BadCase{"WordLengthOfType",
                {{"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", qint32('Sd2f')},
                 {"QMCSNeedsNewWordLength", true}, {"QMCSWordLength", 32}},
                "QMCSWordLength 32 is not one SoundDesigner II takes (allowed: 8, 16, 24)"},
        BadCase{"BitRateNeedsNewWordLength",
                {{"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", qint32('DMP3')}, {"QMCSWordLength", 128}},
                "QMCSNeedsNewWordLength must be true for LAME encoded mp3: its QMCSWordLength is the bit rate"},
        BadCase{"WordLengthDefaulted", {{"QMCSNeedsNewWordLength", true}, {"QMCSWordLength", 12}},
                "is not a word length (allowed: 8, 16, 24, 32)"},
        BadCase{"SnipBackwards", {{"QMCSNeedsSnip", true}, {"QMCSSnipFrom", 12}}, "QMCSSnipTo 10 s must be after"},
        BadCase{"CommentNotText", {{"QMCSComment", 3}}, "QMCSComment is 3; it must be text"},
        // What no pipeline runs, and what every input of the type would fail.
        BadCase{"StereoModeOffMPEG",
                {{"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", qint32('WAVE')},
                 {"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 7}},
                "QMCSChannelTreat 7 (an MPEG stereo mode) is for the MPEG output types only"},
        BadCase{"StereoModeKeptType", {{"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 8}},
                "QMCSChannelTreat 8 (an MPEG stereo mode) is for the MPEG output types only"},
        BadCase{"CompactAndExtract", {{"QMCSNeedsStrip", true}, {"QMCSNeedsExtraction", true}},
                "QMCSNeedsStrip and QMCSNeedsExtraction cannot both be true"},
        BadCase{"CDWordLengthOfTheInput",
                {{"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", qint32('IDAT')},
                 {"QMCSNeedsSampleRateConversion", true}, {"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 1}},
                "QMCSNeedsNewWordLength must be true for Audio CD Image File: an input's own word length may not "
                "fit; set QMCSWordLength to 16"},
        BadCase{"LayerIStereoAt32",
                {{"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", qint32('MPG1')},
                 {"QMCSNeedsNewWordLength", true}, {"QMCSWordLength", 32}, {"QMCSNeedsChannelTreat", true},
                 {"QMCSChannelTreat", 1}},
                "QMCSWordLength 32 kbit/s is not a bit rate of stereo MPEG-1 Layer I ('MPG') files (allowed: 64, "},
        BadCase{"LayerIIJointStereoAt48",
                {{"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", qint32('MPG2')},
                 {"QMCSNeedsNewWordLength", true}, {"QMCSWordLength", 48}, {"QMCSNeedsChannelTreat", true},
                 {"QMCSChannelTreat", 7}},
                "QMCSWordLength 48 kbit/s is not a bit rate of stereo MPEG-1 Layer II ('MP2') files"},
        BadCase{"LayerIIMonoAt256",
                {{"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", qint32('BWMP')},
                 {"QMCSNeedsNewWordLength", true}, {"QMCSWordLength", 256}, {"QMCSNeedsChannelTreat", true},
                 {"QMCSChannelTreat", 3}},
                "QMCSWordLength 256 kbit/s is not a bit rate of mono Compressed Broadcast Wave files"},
        BadCase{"AACBitRateAtRate",
                {{"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", qint32('Mpg4')},
                 {"QMCSNeedsNewWordLength", true}, {"QMCSWordLength", 320}, {"QMCSNeedsSampleRateConversion", true},
                 {"QMCSSampleRate", 8000}},
                "QMCSWordLength 320 kbit/s per channel is not a bit rate MPEG-4 Audio takes at 8000 Hz (allowed: 8 "
                "to 48 kbit/s per channel)"},
        BadCase{"VOCRateOffItsClock",
                {{"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", qint32('VOC ')},
                 {"QMCSNeedsSampleRateConversion", true}, {"QMCSSampleRate", 11025}, {"QMCSNeedsChannelTreat", true},
                 {"QMCSChannelTreat", 3}},
                "QMCSSampleRate 11025 Hz is not a rate Voc takes"}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.label); });

// The stored conversions run as the file's would: one that cannot is left
// out with its reason (named, it is refused), and the MPEG types take the
// stereo modes.
TEST_F(ConversionFileCheckTest, StoredConversionsThatCannotRunAreLeftOut)
{
    const QList<ConvSpecRef> all = ConversionList::fromArray(
        {QVariantMap{{"QMCSName", "Seven"}, {"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 7}},
         QVariantMap{{"QMCSName", "Joint"}, {"QMCSNeedsStrictFileType", true}, {"QMCSOutputFileType", qint32('MPG2')},
                     {"QMCSNeedsNewWordLength", true}, {"QMCSWordLength", 128}, {"QMCSNeedsChannelTreat", true},
                     {"QMCSChannelTreat", 7}},
         QVariantMap{{"QMCSName", "Plain"}}});
    QList<ConvSpecRef> chosen;
    QString error;
    QStringList skipped;
    ASSERT_TRUE(ConversionList::select(all, {}, &chosen, &error, &skipped)) << error.toStdString();
    ASSERT_EQ(chosen.size(), 2);
    EXPECT_EQ(chosen.at(0)->conversionName(), "Joint");
    EXPECT_EQ(skipped, QStringList{"the conversion 'Seven' cannot run: QMCSChannelTreat 7 (an MPEG stereo mode) is "
                                   "for the MPEG output types only; QMCSChannelTreat 1 makes interleaved stereo"});
    EXPECT_FALSE(ConversionList::select(all, {"Seven"}, &chosen, &error));
    EXPECT_TRUE(error.startsWith("the conversion 'Seven' cannot run")) << error.toStdString();
    EXPECT_FALSE(ConversionList::select(all.mid(0, 1), {}, &chosen, &error));
    EXPECT_TRUE(error.startsWith("no active conversion to run\nthe conversion 'Seven' cannot run"))
        << error.toStdString();
}

TEST_F(ConversionFileCheckTest, EveryProblemOfAFileIsListedAndTheFactoryListHasNone)
{
    const QStringList found = ConversionFileCheck::problems(
        QVariantList{QVariantMap{{"QMCSName", "A"}, {"QMCSBogus", 1}, {"QMCSFadeInTime", -1}}, QString("oops"),
                     QVariantMap{{"QMCSName", ""}}});
    ASSERT_EQ(found.size(), 4) << found.join('\n').toStdString();
    EXPECT_TRUE(found.at(2).startsWith("item 2 of the conversions file is not a conversion dictionary"));
    EXPECT_TRUE(found.at(3).contains("a conversion needs a name"));

    const QVariantList factory =
        PropertyList::fromFile(MainBundle::pathForResource("Factory_Conversions", "plist")).toList();
    EXPECT_FALSE(factory.isEmpty());
    EXPECT_TRUE(ConversionFileCheck::problems(factory).isEmpty());
}

}  // namespace
