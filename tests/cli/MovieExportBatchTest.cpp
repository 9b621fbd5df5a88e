// quillmarch-batch writing every movie type that can be written here: each
// output reads in ffprobe with the codec and channel count asked for and the
// input's length; a conversion naming a type nothing here can write is
// refused.
#include "CliTestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

using MovieExportBatch = BatchTest;

TEST_F(MovieExportBatch, EveryWritableMovieTypeIsAnOutput)
{
    ASSERT_TRUE(MakeStereoTake(0.6));

    struct Expected {
        const char* folder;
        const char* type;
        int wordLength;
        const char* specifics;
        const char* extension;
        const char* codec;
    } expected[] = {
        {"A-law movie", "QTAL", 16, "", ".mov", "pcm_alaw"},
        {"mu-law movie", "QTUL", 16, "", ".mov", "pcm_mulaw"},
        {"IMA movie", "QTIM", 16, "", ".mov", "adpcm_ima_qt"},
        {"Float movie", "QTIF", 32, "LF", ".mov", "pcm_f32le"},
        {"AAC", "Mpg4", 128, "", ".m4a", "aac"},
        {"AIFC IMA", "A1t4", 16, "", ".aifc", "adpcm_ima_qt"},
    };
    QList<QPair<int, QVariantMap>> changes;
    for (const Expected& e : expected)
        changes.append({0, TypedConversion(e.folder, e.type, e.wordLength, QByteArray(e.specifics))});
    const RunResult run = RunConversions("conversions", changes, root + "/in", root + "/out");
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();

    for (const Expected& e : expected) {
        const QStringList files = FilesUnder(root + "/out/" + e.folder);
        ASSERT_EQ(files.size(), 1) << e.folder << " " << files.join(' ').toStdString();
        EXPECT_TRUE(files[0].endsWith(QLatin1String(e.extension))) << files[0].toStdString();
        const QJsonObject stream = Probe(files[0]).value("streams").toArray().at(0).toObject();
        EXPECT_EQ(stream.value("codec_name").toString(), e.codec) << e.folder;
        EXPECT_EQ(stream.value("channels").toInt(), 2) << e.folder;
        EXPECT_NEAR(stream.value("duration").toString().toDouble(), 0.6, 0.03) << e.folder;
    }

    // MACE cannot be written here: the conversion is refused, nothing is made.
    const RunResult refused
        = RunConversions("mace", {{0, TypedConversion("MACE", "QTM3", 16, {})}}, root + "/in", root + "/mace");
    ASSERT_FALSE(refused.crashed);
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(refused.err.contains("cannot be written") || refused.out.contains("cannot be written"))
        << refused.out.toStdString() << refused.err.toStdString();
    EXPECT_TRUE(QDir(root + "/mace/MACE").entryList(QDir::Files | QDir::Hidden).isEmpty());
}

}  // namespace
