// Conversions: defaults, the dictionary and archive forms, copies and the
// sort order.
#include "ConvSpec.h"
#include "ConversionTestSupport.h"
#include "FileTypeDictionary.h"
#include "PropertyList.h"
#include "plist_values.h"

#include <gtest/gtest.h>

#include <QVariantList>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr OSType kAIFF = FOUR_CHAR_CODE("AIFF");

// Every field set to something other than its default.
ConvSpecRef Unusual()
{
    ConvSpecRef s = ConvSpec::create();
    s->setActive(false);
    s->setBitRatePerChannel(false);
    s->setCeiledMax(0.75);
    s->setCeiling(-0.3);
    s->setChannelTreat(5);
    s->setComment(QStringLiteral("for the web \u00e9t\u00e9"));
    s->setCompressionBoost(9.5);
    s->setCompressionRelease(0.125);
    s->setCompressionType(3);
    s->setConversionName(QStringLiteral("Web 48k"));
    s->setCopyExtras(true);
    s->setFadeInTime(12.5f);
    s->setFadeOutTime(250.25f);
    s->setGateAttenuation(-40.0);
    s->setGateGapLength(0.35);
    s->setGateThreshold(-55.5);
    s->setHasValidMax(true);
    s->setMax(0.987654321);
    s->setNameExtension(QStringLiteral(".web"));
    s->setNeedsChannelTreat(true);
    s->setNeedsCompression(true);
    s->setNeedsCompressor(true);
    s->setNeedsExtraction(true);
    s->setNeedsFades(true);
    s->setNeedsGain(true);
    s->setNeedsGate(true);
    s->setNeedsNameExtension(true);
    s->setNeedsNewWordLength(true);
    s->setNeedsNormalize(true);
    s->setNeedsRedither(true);
    s->setNeedsSampleRateConversion(true);
    s->setNeedsSnip(true);
    s->setNeedsStrictFileType(true);
    s->setNeedsStrip(true);
    s->setOutputFileType(0xA9FF0001u); // high bit set: written as a negative int
    s->setSampleRate(48000.5);
    s->setSampleRateConvertQuality(3);
    s->setSnipFrom(1.5f);
    s->setSnipTo(7.25f);
    s->setSpecificsValid(true);
    s->setStripMargin(33.0f);
    s->setWordLength(24);
    s->fileTypeSpecifics()[0] = 'B';
    s->fileTypeSpecifics()[255] = 0x7F;
    QVariantMap nested;
    nested.insert(QStringLiteral("list"), QVariantList{1, QStringLiteral("two"), QByteArray("3")});
    s->setSpecificsValue(QStringLiteral("Options"), nested);
    s->setSpecificsValue(ConvSpec::kAnnotationTextKey, QStringLiteral("take 3"));
    return s;
}

// Field by field (valid included).
void ExpectSameFields(const ConvSpec& a, const ConvSpec& b)
{
    EXPECT_EQ(a.dictionary(), b.dictionary());
    EXPECT_EQ(a.valid(), b.valid());
    EXPECT_EQ(0, std::memcmp(a.fileTypeSpecifics(), b.fileTypeSpecifics(), ConvSpec::kFileTypeSpecificsSize));
}

class ConvSpecTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetFileTypeDictionary(
            {{"'AIFF'", convtest::TypeEntry("AIFF")}, {"'Snip'", convtest::TypeEntry("Snippet", false)}});
    }
    void TearDown() override
    {
        ResetFileTypeDictionary();
        ConvSpec::setAscendingSort(true);
        ConvSpec::setSortKey(QStringLiteral("convName"));
    }
};

} // namespace

TEST_F(ConvSpecTest, DefaultsAreTheDocumentedOnes)
{
    const ConvSpec s;
    EXPECT_TRUE(s.active());
    EXPECT_TRUE(s.bitRatePerChannel());
    EXPECT_EQ(s.ceiledMax(), 0.0);
    EXPECT_EQ(s.ceiling(), 0.0);
    EXPECT_EQ(s.channelTreat(), 2);
    EXPECT_EQ(s.comment(), QString());
    EXPECT_FALSE(s.comment().isNull());
    EXPECT_EQ(s.compressionBoost(), 6.0);
    EXPECT_EQ(s.compressionRelease(), 0.005);
    EXPECT_EQ(s.compressionType(), 0);
    EXPECT_EQ(s.conversionName(), QStringLiteral("untitled conversion"));
    EXPECT_FALSE(s.copyExtras());
    EXPECT_EQ(s.fadeInTime(), 20.0f);
    EXPECT_EQ(s.fadeOutTime(), 20.0f);
    EXPECT_EQ(s.gateAttenuation(), -12.0);
    EXPECT_EQ(s.gateGapLength(), 0.2);
    EXPECT_EQ(s.gateThreshold(), -30.0);
    EXPECT_FALSE(s.hasValidMax());
    EXPECT_EQ(s.max(), 0.0);
    EXPECT_EQ(s.nameExtension(), QString());
    EXPECT_FALSE(s.needsChannelTreat() || s.needsCompression() || s.needsCompressor() || s.needsExtraction() ||
                 s.needsFades() || s.needsGain() || s.needsGate() || s.needsNameExtension() ||
                 s.needsNewWordLength() || s.needsNormalize() || s.needsRedither() ||
                 s.needsSampleRateConversion() || s.needsSnip() || s.needsStrictFileType() || s.needsStrip());
    EXPECT_EQ(s.outputFileType(), kAIFF);
    EXPECT_EQ(s.sampleRate(), 44100.0);
    EXPECT_EQ(s.sampleRateConvertQuality(), 1);
    EXPECT_EQ(s.snipFrom(), 0.0f);
    EXPECT_EQ(s.snipTo(), 10.0f);
    EXPECT_FALSE(s.specificsValid());
    EXPECT_EQ(s.stripMargin(), 100.0f);
    EXPECT_EQ(s.wordLength(), 16);
    EXPECT_TRUE(s.valid());

    const QVariantMap specifics = s.specifics();
    ASSERT_EQ(specifics.size(), 1);
    EXPECT_EQ(specifics.value(QStringLiteral("oldData")).toByteArray(), QByteArray(256, '\0'));

    const QVariantMap d = s.dictionary();
    EXPECT_EQ(d.size(), 43);
    for (auto it = d.cbegin(); it != d.cend(); ++it)
        EXPECT_TRUE(it.key().startsWith(QStringLiteral("QMCS"))) << it.key().toStdString();
    EXPECT_EQ(d.value(QStringLiteral("QMCSName")).toString(), QStringLiteral("untitled conversion"));
    EXPECT_EQ(d.value(QStringLiteral("QMCSOutputFileType")).typeId(), QMetaType::Int);
    EXPECT_EQ(d.value(QStringLiteral("QMCSOutputFileType")).toInt(), 0x41494646);
    EXPECT_EQ(d.value(QStringLiteral("QMCSActive")).typeId(), QMetaType::Bool);
    EXPECT_EQ(d.value(QStringLiteral("QMCSFadeInTime")).typeId(), QMetaType::Float);
    EXPECT_EQ(d.value(QStringLiteral("QMCSSampleRate")).typeId(), QMetaType::Double);
}

TEST_F(ConvSpecTest, DictionaryRoundTripsThroughXmlAndBinaryPropertyLists)
{
    const ConvSpecRef original = Unusual();
    for (PropertyList::Format format : {PropertyList::Format::Xml, PropertyList::Format::Binary}) {
        SCOPED_TRACE(format == PropertyList::Format::Xml ? "xml" : "binary");
        QString error;
        const QByteArray data = PropertyList::toData(original->dictionary(), format, &error);
        ASSERT_FALSE(data.isEmpty()) << error.toStdString();
        const QVariant back = PropertyList::fromData(data, &error);
        ASSERT_EQ(back.typeId(), QMetaType::QVariantMap) << error.toStdString();
        const ConvSpecRef copy = ConvSpec::fromDictionary(back.toMap());
        // The property list stores integers and reals in its own widths:
        // compare through the conversion.
        EXPECT_EQ(copy->dictionary(), original->dictionary());
        EXPECT_EQ(copy->outputFileType(), 0xA9FF0001u);
        EXPECT_EQ(copy->fadeOutTime(), 250.25f);
        EXPECT_EQ(copy->max(), 0.987654321);
        EXPECT_EQ(copy->fileTypeSpecifics()[0], 'B');
        EXPECT_EQ(copy->fileTypeSpecifics()[255], 0x7F);
        EXPECT_EQ(copy->nameExtension(), QStringLiteral("web"));
        // Strict to a type without a writable entry: invalid after loading.
        EXPECT_FALSE(copy->valid());

        // The archive form is the same dictionary.
        const ConvSpecRef unarchived = ConvSpec::fromArchive(original->archivedData(format));
        ASSERT_TRUE(unarchived);
        EXPECT_EQ(unarchived->dictionary(), original->dictionary());
    }
    EXPECT_EQ(ConvSpec::fromArchive(QByteArray("not a property list")), nullptr);
    EXPECT_EQ(ConvSpec::fromArchive(PropertyList::toXml(QVariantList{1, 2})), nullptr);
}

TEST_F(ConvSpecTest, EmptyDictionaryGivesZeroFieldsAndAUsableConversion)
{
    const ConvSpecRef s = ConvSpec::fromDictionary(QVariantMap());
    EXPECT_FALSE(s->active());
    EXPECT_EQ(s->channelTreat(), 0);
    EXPECT_EQ(s->sampleRate(), 0.0);
    EXPECT_EQ(s->wordLength(), 0);
    EXPECT_EQ(s->outputFileType(), 0u);
    EXPECT_EQ(s->fadeInTime(), 0.0f);
    EXPECT_EQ(s->comment(), QString());
    EXPECT_EQ(s->nameExtension(), QString());
    // An empty name would make the output folder the destination itself.
    EXPECT_EQ(s->conversionName(), QStringLiteral("untitled conversion"));
    EXPECT_TRUE(s->valid());
    EXPECT_EQ(s->specifics().value(QStringLiteral("oldData")).toByteArray(), QByteArray(256, '\0'));
}

TEST_F(ConvSpecTest, WronglyTypedValuesReadAsTheFrameworkReadsThem)
{
    QVariantMap d;
    d.insert(ConvSpec::kActiveKey, QStringLiteral("YES"));
    d.insert(ConvSpec::kNeedsGainKey, QStringLiteral("  +0007"));
    d.insert(ConvSpec::kNeedsGateKey, QStringLiteral("no"));
    d.insert(ConvSpec::kNeedsFadesKey, 2.5);
    d.insert(ConvSpec::kCopyExtrasKey, QByteArray("\x01"));
    d.insert(ConvSpec::kChannelTreatKey, QStringLiteral(" 3 treat"));
    d.insert(ConvSpec::kWordLengthKey, 24.9);
    d.insert(ConvSpec::kSampleRateConvertQualityKey, qlonglong(1) << 40);
    d.insert(ConvSpec::kCompressionTypeKey, std::nan(""));
    d.insert(ConvSpec::kSampleRateKey, QStringLiteral("48000.5 Hz"));
    d.insert(ConvSpec::kCeilingKey, QStringLiteral("-1,5"));
    d.insert(ConvSpec::kFadeInTimeKey, 1e300);
    d.insert(ConvSpec::kFadeOutTimeKey, true);
    d.insert(ConvSpec::kOutputFileTypeKey, qlonglong(0xFFFFFFFFu));
    d.insert(ConvSpec::kConversionNameKey, 42);
    d.insert(ConvSpec::kCommentKey, QVariantList{QStringLiteral("x")});
    d.insert(ConvSpec::kNameExtensionKey, QVariantMap());
    d.insert(ConvSpec::kSpecificsKey, QStringLiteral("not a dictionary"));
    d.insert(ConvSpec::kMaxKey, QVariantMap());

    const ConvSpecRef s = ConvSpec::fromDictionary(d);
    EXPECT_TRUE(s->active());
    EXPECT_TRUE(s->needsGain());
    EXPECT_FALSE(s->needsGate());
    EXPECT_TRUE(s->needsFades());
    EXPECT_FALSE(s->copyExtras());
    EXPECT_EQ(s->channelTreat(), 3);
    EXPECT_EQ(s->wordLength(), 24);
    EXPECT_EQ(s->sampleRateConvertQuality(), 2147483647);
    EXPECT_EQ(s->compressionType(), 0);
    EXPECT_EQ(s->sampleRate(), 48000.5);
    EXPECT_EQ(s->ceiling(), -1.0); // C locale: the comma ends the number
    EXPECT_TRUE(std::isinf(s->fadeInTime()));
    EXPECT_EQ(s->fadeOutTime(), 1.0f);
    EXPECT_EQ(s->outputFileType(), 0xFFFFFFFFu);
    EXPECT_EQ(s->conversionName(), QStringLiteral("untitled conversion"));
    EXPECT_EQ(s->comment(), QString());
    EXPECT_EQ(s->nameExtension(), QString());
    EXPECT_EQ(s->max(), 0.0);
    EXPECT_EQ(s->specifics().size(), 1);

    // "oldData" of the wrong size or kind is cut, padded or replaced.
    for (const QVariant& block : {QVariant(QByteArray(300, '\x05')), QVariant(QByteArray(3, '\x05')),
                                  QVariant(QStringLiteral("text")), QVariant()}) {
        QVariantMap specifics;
        if (block.isValid())
            specifics.insert(QStringLiteral("oldData"), block);
        specifics.insert(QStringLiteral("other"), 1);
        QVariantMap dd;
        dd.insert(ConvSpec::kSpecificsKey, specifics);
        const ConvSpecRef t = ConvSpec::fromDictionary(dd);
        const QByteArray bytes = t->specifics().value(QStringLiteral("oldData")).toByteArray();
        ASSERT_EQ(bytes.size(), 256);
        const int expectedFives = block.typeId() == QMetaType::QByteArray ? std::min<int>(block.toByteArray().size(), 256) : 0;
        EXPECT_EQ(bytes.count('\x05'), expectedFives);
        EXPECT_EQ(t->specificsValue(QStringLiteral("other")).toInt(), 1);
    }
}

TEST_F(ConvSpecTest, ValidationFollowsTheOutputTypeEntry)
{
    ConvSpec s;
    s.setNeedsStrictFileType(true);
    EXPECT_TRUE(s.validateSettings());
    s.setOutputFileType(FOUR_CHAR_CODE("Snip"));
    EXPECT_FALSE(s.validateSettings());
    s.setOutputFileType(FOUR_CHAR_CODE("Zzzz"));
    EXPECT_FALSE(s.validateSettings());
    EXPECT_FALSE(s.valid());
    s.setNeedsStrictFileType(false);
    EXPECT_TRUE(s.validateSettings());
}

TEST_F(ConvSpecTest, CopiesShareNothing)
{
    const ConvSpecRef original = Unusual();
    original->setValid(false);
    const ConvSpecRef copy = original->copy();
    ExpectSameFields(*original, *copy);
    EXPECT_FALSE(copy->valid());
    EXPECT_TRUE(copy->specificsValid());

    copy->fileTypeSpecifics()[0] = 'L';
    QVariantMap nested = copy->specificsValue(QStringLiteral("Options")).toMap();
    nested.insert(QStringLiteral("added"), true);
    copy->setSpecificsValue(QStringLiteral("Options"), nested);
    copy->setComment(QStringLiteral("changed"));
    copy->setConversionName(QStringLiteral("other"));
    EXPECT_EQ(original->fileTypeSpecifics()[0], 'B');
    EXPECT_FALSE(original->specificsValue(QStringLiteral("Options")).toMap().contains(QStringLiteral("added")));
    EXPECT_EQ(original->comment(), QStringLiteral("for the web \u00e9t\u00e9"));
    EXPECT_EQ(original->conversionName(), QStringLiteral("Web 48k"));

    ConvSpec assigned;
    assigned = *original;
    ExpectSameFields(*original, assigned);
    // The block pointer stays with its object.
    EXPECT_NE(assigned.fileTypeSpecifics(), original->fileTypeSpecifics());
}

// Every persisted field travels through the dictionary, the copy and the
// comparison: a conversion that differs in one field alone reads back as
// written, copies equal, and compares unequal to the one it came from.
TEST_F(ConvSpecTest, EveryFieldTravelsThroughDictionaryCopyAndComparison)
{
    const QVariantMap base = ConvSpec().dictionary();
    ASSERT_EQ(base.size(), 43);
    const ConvSpecRef unchanged = ConvSpec::fromDictionary(base);
    for (auto it = base.cbegin(); it != base.cend(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        QVariant changed;
        switch (it.value().typeId()) {
        case QMetaType::Bool: changed = !it.value().toBool(); break;
        case QMetaType::Int: changed = it.value().toInt() + 1; break;
        case QMetaType::Double: changed = it.value().toDouble() + 0.5; break;
        case QMetaType::Float: changed = it.value().toFloat() + 0.5f; break;
        case QMetaType::QString: changed = it.value().toString() + QStringLiteral("x"); break;
        case QMetaType::QVariantMap: {
            QVariantMap specifics = it.value().toMap();
            specifics.insert(QStringLiteral("LAMEQuality"), 2);
            changed = specifics;
            break;
        }
        default: FAIL() << "unexpected value type " << it.value().typeName();
        }
        QVariantMap altered = base;
        altered.insert(it.key(), changed);
        const ConvSpecRef spec = ConvSpec::fromDictionary(altered);
        EXPECT_EQ(spec->dictionary(), altered);
        EXPECT_TRUE(*spec != *unchanged);
        EXPECT_TRUE(*spec->copy() == *spec);
    }
}

TEST_F(ConvSpecTest, SortsByEveryKeyInBothDirections)
{
    auto make = [](const char* name, bool active, const char* comment) {
        ConvSpecRef s = ConvSpec::create();
        s->setConversionName(QString::fromUtf8(name));
        s->setActive(active);
        s->setComment(QString::fromUtf8(comment));
        return s;
    };
    std::vector<ConvSpecRef> list{make("beta", true, "Zulu"), make("Alpha", false, "yankee"),
                                  make("gamma", true, "X-ray"), make("ALPHA2", false, "whiskey")};
    auto names = [&](const char* key, bool ascending) {
        ConvSpec::setSortKey(QString::fromLatin1(key));
        ConvSpec::setAscendingSort(ascending);
        std::vector<ConvSpecRef> sorted = list;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const ConvSpecRef& a, const ConvSpecRef& b) { return a->compare(b.get()) < 0; });
        QStringList result;
        for (const ConvSpecRef& s : sorted)
            result << s->conversionName();
        return result.join(QLatin1Char(' ')).toStdString();
    };
    EXPECT_EQ(ConvSpec::sortKey(), QStringLiteral("convName"));
    EXPECT_EQ(names("convName", true), "Alpha ALPHA2 beta gamma");
    EXPECT_EQ(names("convName", false), "gamma beta ALPHA2 Alpha");
    EXPECT_EQ(names("active", true), "Alpha ALPHA2 beta gamma");
    EXPECT_EQ(names("active", false), "beta gamma Alpha ALPHA2");
    EXPECT_EQ(names("comment", true), "ALPHA2 gamma Alpha beta");
    EXPECT_EQ(names("comment", false), "beta Alpha gamma ALPHA2");
    EXPECT_EQ(names("unknown", true), "beta Alpha gamma ALPHA2");

    ConvSpec::setSortKey(QStringLiteral("unknown"));
    ConvSpec::setAscendingSort(true);
    EXPECT_EQ(list[0]->compare(nullptr), -1);
    ConvSpec::setAscendingSort(false);
    EXPECT_EQ(list[0]->compare(nullptr), 1);
    ConvSpec::setSortKey(QStringLiteral("convName"));
    EXPECT_EQ(list[0]->compare(list[0].get()), 0);
}

TEST(PlistValuesTest, TextAndOutOfRangeNumbers)
{
    EXPECT_TRUE(PlistBoolValue(QStringLiteral("  -0t")));
    EXPECT_FALSE(PlistBoolValue(QStringLiteral("  -00")));
    EXPECT_TRUE(PlistBoolValue(QStringLiteral("true")));
    EXPECT_TRUE(PlistBoolValue(QStringLiteral("+009")));
    EXPECT_FALSE(PlistBoolValue(QStringLiteral("NO")));
    EXPECT_FALSE(PlistBoolValue(QStringLiteral("")));
    EXPECT_EQ(PlistIntValue(QStringLiteral("99999999999")), 2147483647);
    EXPECT_EQ(PlistIntValue(QStringLiteral(" -99999999999999999999999")), -2147483647 - 1);
    EXPECT_EQ(PlistIntValue(-1e99), -2147483647 - 1);
    EXPECT_EQ(PlistIntValue(QVariant(qulonglong(1) << 63)), 2147483647);
    EXPECT_EQ(PlistTypeCodeValue(QVariant(qlonglong(-1))), 0xFFFFFFFFu);
    EXPECT_EQ(PlistTypeCodeValue(QVariant(qlonglong(0x1'4149'4646))), 0x41494646u);
    EXPECT_TRUE(std::isinf(PlistDoubleValue(QStringLiteral("1e400"))));
    EXPECT_EQ(PlistDoubleValue(QStringLiteral("-1e-400")), 0.0);
    EXPECT_EQ(PlistDoubleValue(QStringLiteral(".5e1x")), 5.0);
    EXPECT_EQ(PlistDoubleValue(QStringLiteral("inf")), 0.0);
    EXPECT_EQ(PlistDoubleValue(QStringLiteral("-")), 0.0);
    EXPECT_TRUE(std::isinf(PlistFloatValue(-1e39)));
    EXPECT_TRUE(std::isnan(PlistFloatValue(std::nan(""))));
    EXPECT_TRUE(PlistStringValue(QByteArray("text")).isNull());
}
