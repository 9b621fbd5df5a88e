// quillmarch-batch end to end through the coded types: a WAVE input
// converted to Microsoft ADPCM, Dialogic ADPCM, annotated voice, A-law,
// G.726 and G.729, the outputs read by sox, and those outputs converted back
// to WAVE (the G.726 stream through the raw-file settings, its only way in).
#include "CodedTestSupport.h"
#include "PropertyList.h"
#include "TestTempDir.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

using namespace codedtest;

namespace {

QVariantMap Conversion(const QVariantMap& factory, const char* name, const char* type)
{
    QVariantMap c = factory;
    c.insert("QMCSName", name);
    c.insert("QMCSOutputFileType", qint64((OSType(UInt8(type[0])) << 24) | (OSType(UInt8(type[1])) << 16) |
                                          (OSType(UInt8(type[2])) << 8) | OSType(UInt8(type[3]))));
    c.insert("QMCSActive", true);
    c.insert("QMCSNeedsSampleRateConversion", false);
    c.insert("QMCSNeedsRedither", false);
    c.insert("QMCSNeedsNewWordLength", false);
    c.insert("QMCSNeedsNameExtension", false);
    return c;
}

bool RunBatch(const QString& root, const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUILLMARCH_DEFAULTS", root + "/prefs.plist");
    env.insert("QUILLMARCH_RESOURCES", QM_SOURCE_RESOURCES);
    process.setProcessEnvironment(env);
    process.start(QM_BATCH_EXE, QStringList{"--quiet"} + arguments);
    if (!process.waitForStarted(30000) || !process.waitForFinished(300000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Files below `folder` with the given name suffix.
QStringList Found(const QString& folder, const QString& suffix)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(suffix) && !QFileInfo(path).fileName().startsWith("._"))
            files.append(path);
    }
    files.sort();
    return files;
}

} // namespace

TEST(CodedBatch, CodedTypesAreOutputsAndInputsOfTheBatchCommand)
{
    TestTempDir dir;
    const QString root = dir.qpath();
    ASSERT_TRUE(QDir().mkpath(root + "/in") && QDir().mkpath(root + "/coded") && QDir().mkpath(root + "/back"));
    ASSERT_TRUE(RunPeer("sox", {"-n", "-r", "8000", "-c", "1", "-b", "16", root + "/in/voice.wav", "synth", "0.5",
                                "sine", "300-3000", "vol", "0.5"}));
    const QVariantMap factory =
        PropertyList::fromFile(QM_SOURCE_RESOURCES "/Factory_Conversions.plist").toList().value(0).toMap();
    QVariantList conversions;
    for (const auto& [name, type] : {std::pair{"msap", "MSAP"}, std::pair{"dadp", "DADP"}, std::pair{"vap", "DVAP"},
                                     std::pair{"alaw", "DALW"}, std::pair{"g726", "26-4"}, std::pair{"g729", "G729"}}) {
        // Most of these types do not record their rate: the conversion sets it.
        QVariantMap c = Conversion(factory, name, type);
        c.insert("QMCSNeedsSampleRateConversion", true);
        c.insert("QMCSSampleRate", 8000.0);
        conversions.append(c);
    }
    QFile list(root + "/coded.plist");
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write(PropertyList::toXml(conversions));
    list.close();
    ASSERT_TRUE(RunBatch(root, {"--conversions", root + "/coded.plist", "-o", root + "/coded", root + "/in"}));

    // Each output is where its type puts it, and sox reads it.
    const QStringList msap = Found(root + "/coded", "voice.wav");
    const QStringList dadp = Found(root + "/coded", "voice.ap8");
    ASSERT_EQ(msap.size(), 1);
    ASSERT_EQ(dadp.size(), 1);
    EXPECT_EQ(Found(root + "/coded", "voice.vap").size(), 1);
    EXPECT_EQ(Found(root + "/coded", "voice.al8").size(), 1);
    ASSERT_EQ(Found(root + "/coded", "voice.g726").size(), 1);
    const QStringList g729 = Found(root + "/coded", "voice.g729");
    ASSERT_EQ(g729.size(), 1);
    EXPECT_EQ(QFileInfo(g729[0]).size(), 500);  // 4000 samples: 50 packed frames
    QByteArray err;
    EXPECT_TRUE(RunPeer("sox", {msap[0], "-n"}, &err)) << err.toStdString();
    EXPECT_TRUE(RunPeer("sox", {"-t", "vox", "-r", "8000", dadp[0], "-n"}, &err)) << err.toStdString();

    // Back to WAVE: every coded output is an input, the G.726 stream read
    // through the raw-file settings.
    QFile back(root + "/back.plist");
    ASSERT_TRUE(back.open(QIODevice::WriteOnly));
    back.write(PropertyList::toXml(QVariantList{Conversion(factory, "wave", "WAVE")}));
    back.close();
    ASSERT_TRUE(RunBatch(root, {"--set", "Unrecognized Input File Action=2", "--set",
                                "Unrecognized Input File Type='26-4'", "--conversions", root + "/back.plist", "-o",
                                root + "/back", root + "/coded"}));
    // (The log of the first run is read as raw G.726 too: it is no voice file.)
    const QStringList waves = Found(root + "/back", ".wav").filter("/in/voice.");
    ASSERT_EQ(waves.size(), 6) << Found(root + "/back", "").join(" ").toStdString();
    for (const QString& wave : waves) {
        EXPECT_EQ(PeerOutput("soxi", {"-s", wave}).trimmed().toInt(), 4000) << wave.toStdString();
    }
}
