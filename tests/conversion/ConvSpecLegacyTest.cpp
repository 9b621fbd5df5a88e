// Import of the previous version's 386-byte conversion records.
#include "ConvSpec.h"
#include "ConversionTestSupport.h"
#include "FileTypeDictionary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

// A record built field by field, big-endian.
class Record {
public:
    Record() : bytes_(ConvSpec::kLegacyRecordSize, '\0') {}

    Record& flag(int offset, UInt16 value = 1) { return word(offset, value); }
    Record& word(int offset, UInt16 value)
    {
        bytes_[offset] = char(value >> 8);
        bytes_[offset + 1] = char(value & 0xFF);
        return *this;
    }
    Record& code(int offset, const char (&text)[5])
    {
        std::memcpy(bytes_.data() + offset, text, 4);
        return *this;
    }
    Record& real(int offset, float value)
    {
        UInt32 bits;
        std::memcpy(&bits, &value, 4);
        word(offset, UInt16(bits >> 16));
        return word(offset + 2, UInt16(bits & 0xFFFF));
    }
    Record& pascal(int offset, const QByteArray& text, int lengthByte = -1)
    {
        bytes_[offset] = char(lengthByte >= 0 ? lengthByte : text.size());
        std::memcpy(bytes_.data() + offset + 1, text.constData(), size_t(text.size()));
        return *this;
    }
    QByteArray& bytes() { return bytes_; }
    operator const QByteArray&() const { return bytes_; }

private:
    QByteArray bytes_;
};

// A record with every field set.
Record FullRecord()
{
    Record r;
    r.flag(0).real(2, 75.0f).flag(6, 0xFFFF).code(8, "WAVE").flag(12).flag(14).real(16, 15.5f)
        .word(20, 0xDEAD).word(22, 3).flag(24).real(26, 22050.0f).word(30, 2).flag(32).flag(34)
        .word(36, 24).flag(38).word(40, 7).flag(42).real(44, -0.5f).flag(48).flag(52).flag(58)
        .real(60, 4.5f).real(64, 0.25f).flag(68).real(70, -48.0f).real(74, 0.5f).real(78, -20.0f)
        .flag(338).pascal(340, QByteArray("\x8e" "te")).real(372, 30.0f).flag(376).real(378, 2.0f)
        .real(382, 4.75f);
    for (int i = 0; i < 256; ++i)
        r.bytes()[82 + i] = char(i);
    return r;
}

class ConvSpecLegacyTest : public ::testing::Test {
protected:
    void SetUp() override { SetFileTypeDictionary({{"'WAVE'", convtest::TypeEntry("Wave")}}); }
    void TearDown() override { ResetFileTypeDictionary(); }
};

} // namespace

TEST_F(ConvSpecLegacyTest, ImportsEveryFieldFromItsOffset)
{
    const ConvSpecRef s = ConvSpec::fromLegacyData(FullRecord(), QStringLiteral("Old: one/two"));
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->needsStrip());
    EXPECT_EQ(s->stripMargin(), 75.0f);
    EXPECT_TRUE(s->needsStrictFileType());
    EXPECT_EQ(s->outputFileType(), FOUR_CHAR_CODE("WAVE"));
    EXPECT_TRUE(s->needsExtraction());
    EXPECT_TRUE(s->needsFades());
    EXPECT_EQ(s->fadeInTime(), 15.5f);
    EXPECT_TRUE(s->needsChannelTreat());
    EXPECT_EQ(s->channelTreat(), 3);
    EXPECT_TRUE(s->needsSampleRateConversion());
    EXPECT_EQ(s->sampleRate(), 22050.0);
    EXPECT_EQ(s->sampleRateConvertQuality(), 3);
    EXPECT_TRUE(s->needsNormalize());
    EXPECT_TRUE(s->needsNewWordLength());
    EXPECT_EQ(s->wordLength(), 24);
    EXPECT_TRUE(s->needsCompression());
    EXPECT_EQ(s->compressionType(), 7);
    EXPECT_TRUE(s->needsRedither());
    EXPECT_EQ(s->ceiling(), -0.5);
    EXPECT_TRUE(s->copyExtras());
    EXPECT_TRUE(s->needsGain());
    EXPECT_TRUE(s->needsCompressor());
    EXPECT_EQ(s->compressionBoost(), 4.5);
    EXPECT_EQ(s->compressionRelease(), 0.25);
    EXPECT_TRUE(s->needsGate());
    EXPECT_EQ(s->gateThreshold(), -48.0);
    EXPECT_EQ(s->gateGapLength(), 0.5);
    EXPECT_EQ(s->gateAttenuation(), -20.0);
    EXPECT_TRUE(s->needsNameExtension());
    EXPECT_EQ(s->nameExtension(), QStringLiteral("\u00e9te")); // Mac OS Roman 0x8E
    EXPECT_EQ(s->fadeOutTime(), 30.0f);
    EXPECT_TRUE(s->needsSnip());
    EXPECT_EQ(s->snipFrom(), 2.0f);
    EXPECT_EQ(s->snipTo(), 4.75f);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(s->fileTypeSpecifics()[i], i);
    EXPECT_EQ(s->specifics().size(), 1);
    EXPECT_TRUE(s->specificsValid());
    EXPECT_FALSE(s->active());
    EXPECT_FALSE(s->bitRatePerChannel());
    EXPECT_FALSE(s->hasValidMax());
    EXPECT_EQ(s->comment(), QString());
    EXPECT_EQ(s->conversionName(), QStringLiteral("Old- one-two"));
    EXPECT_TRUE(s->valid());
}

TEST_F(ConvSpecLegacyTest, ChannelTreatmentQualityAndTypeMapping)
{
    struct Case {
        UInt16 treat;
        bool needs;
        SInt32 stored;
    };
    for (const Case c : {Case{0, false, 2}, Case{7, true, 7}, Case{1, true, 1}, Case{0xFFFF, true, -1}}) {
        const ConvSpecRef s = ConvSpec::fromLegacyData(Record().word(22, c.treat), QStringLiteral("x"));
        ASSERT_TRUE(s);
        EXPECT_EQ(s->needsChannelTreat(), c.needs) << c.treat;
        EXPECT_EQ(s->channelTreat(), c.stored) << c.treat;
    }
    for (const auto& [in, out] : {std::pair<UInt16, SInt32>{2, 3}, {1, 1}, {0, 0}, {3, 3}, {0xFFFE, -2}})
        EXPECT_EQ(ConvSpec::fromLegacyData(Record().word(30, in), QStringLiteral("q"))->sampleRateConvertQuality(), out);

    EXPECT_EQ(ConvSpec::fromLegacyData(Record().code(8, "None"), QStringLiteral("n"))->outputFileType(),
              FOUR_CHAR_CODE("AIFF"));
    EXPECT_EQ(ConvSpec::fromLegacyData(Record().flag(6).code(8, "None"), QStringLiteral("n"))->outputFileType(),
              FOUR_CHAR_CODE("AIFF"));
    // Dropped output types: refused only when forced.
    EXPECT_EQ(ConvSpec::fromLegacyData(Record().flag(6).code(8, "PNRA"), QStringLiteral("p")), nullptr);
    EXPECT_EQ(ConvSpec::fromLegacyData(Record().flag(6, 0x8000).code(8, "RAG2"), QStringLiteral("r")), nullptr);
    const ConvSpecRef loose = ConvSpec::fromLegacyData(Record().code(8, "PNRA"), QStringLiteral("p"));
    ASSERT_TRUE(loose);
    EXPECT_EQ(loose->outputFileType(), FOUR_CHAR_CODE("PNRA"));
    EXPECT_TRUE(loose->valid());
    // Forced to a type without an entry: imported, but invalid.
    const ConvSpecRef unknown = ConvSpec::fromLegacyData(Record().flag(6).code(8, "ABCD"), QStringLiteral("u"));
    ASSERT_TRUE(unknown);
    EXPECT_FALSE(unknown->valid());
}

TEST_F(ConvSpecLegacyTest, ShortRecordsAndLongExtensionsAreHandled)
{
    const QByteArray full = FullRecord();
    for (int size : {0, 1, 82, 337, 340, 371, 385})
        EXPECT_EQ(ConvSpec::fromLegacyData(full.left(size), QStringLiteral("short")), nullptr) << size;
    // A longer block is read up to its fields.
    QByteArray longer = full + QByteArray(100, '\x55');
    EXPECT_TRUE(ConvSpec::fromLegacyData(longer, QStringLiteral("long")));

    // A length byte past the field is capped at 31 characters.
    Record r;
    r.pascal(340, QByteArray(31, 'a'), 255);
    r.real(372, 1.0f); // the bytes after the field are not part of the text
    const ConvSpecRef s = ConvSpec::fromLegacyData(r, QStringLiteral("cap"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->nameExtension(), QString(31, QLatin1Char('a')));

    // An extension with "/" and NUL cannot name a file.
    const ConvSpecRef slash =
        ConvSpec::fromLegacyData(Record().pascal(340, QByteArray(".a/b\0c", 6)), QStringLiteral("slash"));
    ASSERT_TRUE(slash);
    EXPECT_EQ(slash->nameExtension(), QStringLiteral("a-b-c"));
}

TEST_F(ConvSpecLegacyTest, MutatedRecordsNeverCrash)
{
    std::mt19937 random(20261207);
    const QByteArray valid = FullRecord();
    int imported = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray data = valid;
        const int edits = 1 + int(random() % 24);
        for (int i = 0; i < edits; ++i)
            data[int(random() % data.size())] = char(random() & 0xFF);
        switch (random() % 4) {
        case 0: data.truncate(int(random() % (data.size() + 1))); break;
        case 1: data.append(QByteArray(int(random() % 64), char(random() & 0xFF))); break;
        default: break;
        }
        const ConvSpecRef s = ConvSpec::fromLegacyData(data, QString::fromLatin1(data.left(40).toHex()));
        if (!s)
            continue;
        ++imported;
        ASSERT_EQ(s->specifics().value(QStringLiteral("oldData")).toByteArray().size(), 256);
        EXPECT_LE(s->nameExtension().size(), 31);
        EXPECT_FALSE(s->nameExtension().contains(QLatin1Char('/')));
        EXPECT_FALSE(s->nameExtension().contains(QChar(0)));
        // Everything downstream copes with what came in.
        const QString log = s->descriptionForLog();
        EXPECT_FALSE(log.contains(QStringLiteral("(null)")));
        s->descriptionForAutoName();
        const ConvSpecRef back = ConvSpec::fromArchive(s->archivedData());
        ASSERT_TRUE(back);
    }
    EXPECT_GT(imported, 1000);
}
