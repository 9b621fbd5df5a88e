// What the LAME encoder is told for each combination of MP3 options, its
// version comparison, the genre list, and which encoder is chosen (a fake
// `lame` on PATH).
#include "ChildProcess.h"
#include "TestTempDir.h"
#include "lame_encoder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

namespace {

std::string Joined(const std::vector<std::string>& arguments)
{
    std::string text;
    for (const std::string& a : arguments)
        text += (text.empty() ? "" : "|") + a;
    return text;
}

struct ArgumentCase {
    const char* label;
    QVariantMap specifics;
    double rate;
    int channels;
    char recordMode;  // byte 6 of the format record
    const char* input;
    const char* expected;  // the arguments joined by '|'
};

void PrintTo(const ArgumentCase& c, std::ostream* os)
{
    *os << c.label;
}

class LAMEArguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(LAMEArguments, AreWhatTheOptionsAskFor)
{
    const ArgumentCase& c = GetParam();
    UInt8 record[21] = {};
    record[6] = UInt8(c.recordMode);
    EXPECT_EQ(Joined(LAMEOptionArguments(c.specifics, c.rate, c.channels, 192, record, c.input)), c.expected);
}

const QVariantMap kNoTags{{"LAMEWriteID3Tags", false}};

QVariantMap With(QVariantMap map, const QVariantMap& more)
{
    for (auto it = more.begin(); it != more.end(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LAMEArguments,
    ::testing::Values(
        ArgumentCase{"CbrStereo", With(kNoTags, {{"LAMEEncodingMode", 0}, {"LAMEQuality", 2}}), 44100, 2, 0, "a.wav",
                     "--resample|44.1|-q|2|--cbr|-b|192|-m|s|--nores"},
        ArgumentCase{"JointFromRecord", With(kNoTags, {{"LAMEUseBitReservoir", true}}), 48000, 2, 'j', "a.wav",
                     "--resample|48|-h|--cbr|-b|192|-m|j"},
        ArgumentCase{"VbrWithoutQuality", With(kNoTags, {{"LAMEEncodingMode", 2}, {"LAMEMinimumBitRate", 64}}), 11025,
                     1, 0, "a.wav", "--resample|11.025|--vbr-new|-h|-b|64|-m|m|--nores"},
        // VBR: the VBR quality for -V, the algorithm quality for -q; a
        // conversion stored with the latter alone uses it for -V.
        ArgumentCase{"VbrQualityAndAlgorithmQuality",
                     With(kNoTags, {{"LAMEEncodingMode", 2}, {"LAMEQuality", 2}, {"LAMEVBRQuality", 6},
                                    {"LAMEUseBitReservoir", true}}),
                     44100, 1, 0, "a.wav", "--resample|44.1|--vbr-new|-V|6|-q|2|-m|m"},
        ArgumentCase{"VbrStoredBeforeItsOwnQuality",
                     With(kNoTags, {{"LAMEEncodingMode", 2}, {"LAMEQuality", 3}, {"LAMEUseBitReservoir", true}}),
                     44100, 1, 0, "a.wav", "--resample|44.1|--vbr-new|-V|3|-m|m"},
        ArgumentCase{"AbrNoMinimum",
                     With(kNoTags, {{"LAMEEncodingMode", 1}, {"LAMEMinimumBitRate", 0}, {"LAMEChannelHandling", 1},
                                    {"LAMEStereoMode", 2}, {"LAMECopyrighted", true}, {"LAMECopy", true},
                                    {"LAMEUseCRC", true}, {"LAMEISOCompliant", true}}),
                     32000, 2, 0, "a.wav", "--resample|32|-h|--abr|192|-m|d|-c|-o|-p|--nores|--strictly-enforce-ISO"},
        ArgumentCase{"BadModeAndHandling",
                     With(kNoTags, {{"LAMEEncodingMode", 5}, {"LAMEChannelHandling", 4}, {"LAMEStereoMode", 0}}),
                     44100, 2, 0, "a.wav", "--resample|44.1|--nores"},
        // Tags: values go to the encoder as they are (no shell, no escaping).
        ArgumentCase{"TitleFromTags",
                     {{"LAMETitle", "07 Song (live)"}, {"LAMEArtist", "Ann & Bob's"}, {"LAMEGenre", "17"},
                      {"LAMEUseInputFileNameAsTitle", false}, {"LAMEUseBitReservoir", true}},
                     44100, 1, 0, "/in/Take 1.aif",
                     "--resample|44.1|-h|--cbr|-b|192|-m|m|--tt|Song (live)|--ta|Ann & Bob's|--tg|17|"
                     "--ignore-tag-errors"},
        ArgumentCase{"TitleFromInputName",
                     {{"LAMEUseInputFileNameAsTitle", true}, {"LAMEGenre", "Rock"}, {"LAMEComment", ""},
                      {"LAMEUseBitReservoir", true}},
                     44100, 1, 0, "/in/Take 1.aif", "--resample|44.1|-h|--cbr|-b|192|-m|m|--tt|Take 1|--tg|Rock|"
                                                    "--ignore-tag-errors"},
        ArgumentCase{"Mp3InputKeepsTheTitle",
                     {{"LAMEUseInputFileNameAsTitle", true}, {"LAMETitle", "Named"}, {"LAMEUseBitReservoir", true}},
                     44100, 1, 0, "/in/x.mp3", "--resample|44.1|-h|--cbr|-b|192|-m|m|--tt|Named|--ignore-tag-errors"},
        ArgumentCase{"BlobMeansNoTagOptions",
                     {{"LAMETitle", "Named"}, {"ID3v2 tag blob", QByteArray("ID3")}, {"LAMEUseBitReservoir", true}},
                     44100, 1, 0, "/in/x.mp3", "--resample|44.1|-h|--cbr|-b|192|-m|m"}),
    [](const ::testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.label); });

// A fake encoder: a shell script named lame that reports `version`.
class FakeLAME : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedPath = qgetenv("PATH");
        bin = dir.qpath() + "/bin";
        other = dir.qpath() + "/other";
        ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(other));
    }
    void TearDown() override { qputenv("PATH", savedPath); }
    void Script(const QString& folder, const QString& body)
    {
        QFile file(folder + "/lame");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("#!/bin/sh\nPATH=/usr/bin:/bin\n" + body + "\n").toUtf8());
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    TestTempDir dir;
    QString bin;
    QString other;
    QByteArray savedPath;
};

TEST_F(FakeLAME, VersionsCompareComponentByComponentAndOldOnesAreRefused)
{
    Script(bin, "echo 'LAME 64bits version 3.100 (http://lame.sf.net)'");
    Script(other, "echo 'LAME version 3.92'");
    EXPECT_EQ(GetLAMEVersion((bin + "/lame").toStdString()), QVersionNumber(3, 100));
    EXPECT_GT(QVersionNumber(3, 100), kLAMEMinimumVersion);
    EXPECT_LT(QVersionNumber(3, 92), kLAMEMinimumVersion);

    qputenv("PATH", bin.toUtf8());
    QString reason;
    EXPECT_TRUE(LAMEEncoderUsable(&reason)) << reason.toStdString();
    EXPECT_EQ(GetLAMEPath(), (bin + "/lame").toStdString());

    qputenv("PATH", other.toUtf8());
    EXPECT_FALSE(LAMEEncoderUsable(&reason));
    EXPECT_TRUE(reason.contains("too old. It is version 3.92")) << reason.toStdString();

    // No banner: found, but not used.
    Script(other, "echo 'some other program'");
    EXPECT_TRUE(FindLAME());
    EXPECT_EQ(GetLAMEPath(), "");
    EXPECT_FALSE(LAMEEncoderUsable(&reason));

    // None at all.
    qputenv("PATH", (dir.qpath() + "/nothing").toUtf8());
    EXPECT_FALSE(FindLAME());
    EXPECT_FALSE(LAMEEncoderUsable(&reason));
    EXPECT_TRUE(reason.contains("was not found on PATH")) << reason.toStdString();
}

TEST_F(FakeLAME, GenreListIsReadOnceAndAHangingEncoderIsEnded)
{
    EXPECT_EQ(ParseLAMEGenreList("17\tRock\n17 Rock\n 5 Funk\nnot a number\n 6 Grunge\n"),
              (QVariantMap{{"Rock", 17}, {"Funk", 5}}));
    Script(bin, "printf ' 17 Rock\\n123 A Cappella\\n  0 Blues\\n 99 Partial'");
    const QVariantMap genres = GetLAMEGenreList((bin + "/lame").toStdString());
    EXPECT_EQ(genres.value("Rock").toInt(), 17);
    EXPECT_EQ(genres.value("A Cappella").toInt(), 123);
    EXPECT_EQ(genres.value("Blues").toInt(), 0);
    EXPECT_FALSE(genres.contains("Partial"));
    EXPECT_EQ(genres.size(), 3);
    // The real encoder's list, through the cached table: the same answer.
    EXPECT_EQ(GetLAMEGenreList("/usr/bin/lame"), genres);

    // A probe that never answers is ended in time.
    Script(other, "sleep 100");
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(GetLAMEVersion((other + "/lame").toStdString()).isNull());
    EXPECT_LT(timer.elapsed(), 6000);
}

}  // namespace
