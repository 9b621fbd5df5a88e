// quillmarch-batch writing every movie type that can be written here: each
// output reads in ffprobe with the codec and channel count asked for and the
// input's length; a conversion naming a type nothing here can write is
// refused.
#include "CliTestSupport.h"
#include "TestTempDir.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

TEST(MovieExportBatch, EveryWritableMovieTypeIsAnOutput)
{
    TestTempDir dir;
    const QString root = dir.qpath();
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    ASSERT_TRUE(QDir().mkpath(root + "/out"));
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", root + "/in/take.wav", "synth", "0.6", "sine",
                     "440", "sine", "660", "gain", "-3"}));

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
    const QString conversions = WriteConversions(root + "/conversions.plist", changes);
    ASSERT_FALSE(conversions.isEmpty());
    const RunResult run = RunBatch({"--quiet", "--conversions", conversions, "-o", root + "/out", root + "/in"},
                                   root + "/prefs.plist");
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();

    for (const Expected& e : expected) {
        QDirIterator it(root + "/out/" + e.folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QStringList files;
        while (it.hasNext())
            files << it.next();
        ASSERT_EQ(files.size(), 1) << e.folder << " " << files.join(' ').toStdString();
        EXPECT_TRUE(files[0].endsWith(QLatin1String(e.extension))) << files[0].toStdString();
        QByteArray out;
        ASSERT_TRUE(RunPeer("ffprobe", {"-v", "error", "-show_streams", "-of", "json", files[0]}, &out));
        const QJsonObject stream =
            QJsonDocument::fromJson(out).object().value("streams").toArray().at(0).toObject();
        EXPECT_EQ(stream.value("codec_name").toString(), e.codec) << e.folder;
        EXPECT_EQ(stream.value("channels").toInt(), 2) << e.folder;
        EXPECT_NEAR(stream.value("duration").toString().toDouble(), 0.6, 0.03) << e.folder;
    }

    // MACE cannot be written here: the conversion is refused, nothing is made.
    const QString mace = WriteConversions(root + "/mace.plist", {{0, TypedConversion("MACE", "QTM3", 16, {})}});
    const RunResult refused = RunBatch({"--quiet", "--conversions", mace, "-o", root + "/mace", root + "/in"},
                                       root + "/prefs.plist");
    ASSERT_FALSE(refused.crashed);
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(refused.err.contains("cannot be written") || refused.out.contains("cannot be written"))
        << refused.out.toStdString() << refused.err.toStdString();
    EXPECT_TRUE(QDir(root + "/mace/MACE").entryList(QDir::Files | QDir::Hidden).isEmpty());
}

}  // namespace
