// Import of conversions from a preferences file of the previous major
// version: hand-built files in the resource fork and as a bare fork, the
// unsupported and short records, the names given on import, and damaged
// files refused without harm.
#include "AppTestSupport.h"
#include "LegacyConversionImporter.h"
#include "LegacyPrefsFile.h"

#include <QFile>

using legacy_prefs::MakeRecord;
using legacy_prefs::Record;

namespace {

class LegacyConversionImporterTest : public AppTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LegacyConversionImporterTest, ReadsRecordsAndCountsTheUnsupported)
{
    const std::string file = path(QStringLiteral("Quillmarch Prefs")).toStdString();
    ASSERT_TRUE(legacy_prefs::WritePrefs(file,
                                         {{"To WAVE 22k", MakeRecord(FOUR_CHAR_CODE("WAVE"), 22050.0f)},
                                          {"Old RA", MakeRecord(FOUR_CHAR_CODE("PNRA"), 8000.0f, true)},
                                          {"Short", MakeRecord(FOUR_CHAR_CODE("AIFF"), 44100.0f).left(385)},
                                          {"Long ext \xA5", MakeRecord(FOUR_CHAR_CODE("AIFF"), 48000.0f, false, 200)}},
                                         GetParam()));
    const auto result = LegacyConversionImporter::readFile(QString::fromStdString(file));
    ASSERT_EQ(result.conversions.size(), 2);
    EXPECT_EQ(result.unsupported, 2) << "a type no longer offered and a record shorter than the layout";
    const ConvSpecRef& wave = result.conversions[0];
    EXPECT_EQ(wave->conversionName(), QStringLiteral("To WAVE 22k"));
    EXPECT_EQ(wave->outputFileType(), FOUR_CHAR_CODE("WAVE"));
    EXPECT_TRUE(wave->needsSampleRateConversion());
    EXPECT_EQ(wave->sampleRate(), 22050.0);
    EXPECT_TRUE(wave->needsFades());
    EXPECT_EQ(wave->fadeInTime(), 250.0f);
    EXPECT_EQ(wave->nameExtension(), QStringLiteral("abc"));
    const ConvSpecRef& aiff = result.conversions[1];
    EXPECT_EQ(aiff->conversionName(), QStringLiteral("Long ext \u2022")) << "names are Mac OS Roman";
    EXPECT_EQ(aiff->nameExtension().size(), 31) << "the Pascal length is capped at its field";

    // The alert counts the skipped records.
    const auto specs = LegacyConversionImporter::legacyConvSpecsFromFile(QString::fromStdString(file), nullptr);
    EXPECT_EQ(specs.size(), 2);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].title, QStringLiteral("Unsupported File Types"));
    EXPECT_TRUE(m_alerts[0].message.startsWith(QStringLiteral("There were 2 conversions for file types")));
}

INSTANTIATE_TEST_SUITE_P(Forks, LegacyConversionImporterTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "BareFork" : "ResourceFork"; });

TEST_F(AppTest, LegacyImportNamesAreMarkedAndNumbered)
{
    const std::string file = path(QStringLiteral("prefs")).toStdString();
    ASSERT_TRUE(legacy_prefs::WritePrefs(
        file, {{"Mono", MakeRecord(FOUR_CHAR_CODE("AIFF"), 44100.0f)}, {"Mono", MakeRecord(FOUR_CHAR_CODE("WAVE"), 8000.0f)}},
        false));
    const auto specs = LegacyConversionImporter::readFile(QString::fromStdString(file)).conversions;
    QList<ConvSpecRef> inserted;
    auto insert = [&](const QList<ConvSpecRef>& list) { inserted += list; };
    QSet<QString> taken{QStringLiteral("Mono")};
    LegacyConversionImporter::importLegacyConversionsFromArray(specs, nullptr, taken, insert);
    for (const ConvSpecRef& s : inserted)
        taken.insert(s->conversionName());
    LegacyConversionImporter::importLegacyConversionsFromArray(specs, nullptr, taken, insert);
    QStringList names;
    for (const ConvSpecRef& s : inserted)
        names << s->conversionName();
    EXPECT_EQ(names.join(QStringLiteral("|")).toStdString(),
              "Mono (imported from Quillmarch 3)|Mono (imported from Quillmarch 3) 1|"
              "Mono (imported from Quillmarch 3) 2|Mono (imported from Quillmarch 3) 3");
    EXPECT_EQ(specs[0]->conversionName(), QStringLiteral("Mono")) << "the read conversions stay as they were";
    EXPECT_TRUE(m_alerts.isEmpty());

    LegacyConversionImporter::importLegacyConversionsFromArray({}, nullptr, taken, insert);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].title, QStringLiteral("No Conversions Found"));
}

TEST_F(AppTest, LegacyImportRefusesDamagedFiles)
{
    const QString good = path(QStringLiteral("good"));
    const std::string bytes = legacy_prefs::BareForkBytes(
        good.toStdString(), {{"A", MakeRecord(FOUR_CHAR_CODE("AIFF"), 44100.0f)},
                             {"B", MakeRecord(FOUR_CHAR_CODE("WAVE"), 44100.0f)}});
    ASSERT_GT(bytes.size(), 256u + 2 * 386);
    EXPECT_EQ(LegacyConversionImporter::readFile(good).conversions.size(), 2);

    const QString bad = path(QStringLiteral("bad"));
    auto readDamaged = [&](std::string damaged) {
        WriteText(bad, QByteArray::fromStdString(damaged));
        return LegacyConversionImporter::readFile(bad);
    };
    // Cut anywhere: the map is gone or out of the fork; nothing is read.
    for (std::size_t cut : {std::size_t(0), std::size_t(15), std::size_t(300), bytes.size() - 1})
        EXPECT_TRUE(readDamaged(bytes.substr(0, cut)).conversions.isEmpty()) << cut;
    // A map offset past the end, a data length beyond the fork, a huge
    // resource length inside the data.
    std::string wrongMap = bytes;
    wrongMap[4] = char(0x7F);
    EXPECT_TRUE(readDamaged(wrongMap).conversions.isEmpty());
    std::string wrongData = bytes;
    wrongData[8] = char(0x7F);
    EXPECT_TRUE(readDamaged(wrongData).conversions.isEmpty());
    std::string hugeResource = bytes;
    hugeResource[256] = char(0x7F);
    const auto result = readDamaged(hugeResource);
    EXPECT_LE(result.conversions.size(), 1);
    // Folders and missing files give nothing.
    EXPECT_TRUE(LegacyConversionImporter::readFile(m_dir.qpath()).conversions.isEmpty());
    EXPECT_TRUE(LegacyConversionImporter::readFile(path(QStringLiteral("missing"))).conversions.isEmpty());
    EXPECT_EQ(OpenResFileCount(), 0) << "every resource file is closed again";
}

}  // namespace
