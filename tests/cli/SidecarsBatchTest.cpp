// AppleDouble sidecars through the real batch: a headerless output whose
// name does not tell its type reads back through the sidecar written beside
// it, and a "._NAME" file is a sidecar by its content, not its name alone.
#include "CliTestSupport.h"
#include "PropertyList.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

const QString kToAiff = QStringLiteral("CD quality AIFF (44.1 kHz, 16 bits)");

class HeaderlessReadBack : public BatchTest, public ::testing::WithParamInterface<const char*> {};

// A second of a tone at 8000 Hz written as the type with the name extension
// "raw", then converted back: it is read as its sidecar says, at the rate
// set for files whose names give none, for as long as it was written.
TEST_P(HeaderlessReadBack, ThroughItsSidecar)
{
    QDir().mkpath(root + "/in");
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "8000", "-c", "1", "-b", "16", root + "/in/tone.wav", "synth", "1", "sine",
                     "440", "gain", "-6"}));
    QVariantMap conversion = TypedConversion("raw", GetParam(), 16, QByteArray());
    conversion.insert("QMCSNeedsSampleRateConversion", true);
    conversion.insert("QMCSSampleRate", 8000.0);
    conversion.insert("QMCSNeedsNameExtension", true);
    conversion.insert("QMCSNameExtension", "raw");
    const QString conversions = root + "/raw.plist";
    ASSERT_TRUE(WriteBytes(conversions, PropertyList::toXml(QVariantList{conversion})));
    RunResult run = Run({"--quiet", "--conversions", conversions, "-o", root + "/out", root + "/in/tone.wav"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_TRUE(QFile::exists(root + "/out/raw/._tone.raw")) << FilesUnder(root + "/out").join(' ').toStdString();

    run = Run({"--quiet", "--set", "Unrecognized Input File Sample Rate=8000", "--conversion", kToAiff, "-o",
               root + "/back", root + "/out/raw/tone.raw"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.err.toStdString(), "");
    QByteArray seconds;
    ASSERT_TRUE(RunPeer("soxi", {"-D", root + "/back/" + kToAiff + "/tone.raw.aif"}, &seconds)) << run.err.toStdString();
    EXPECT_NEAR(seconds.trimmed().toDouble(), 1.0, 0.01);
}

INSTANTIATE_TEST_SUITE_P(Types, HeaderlessReadBack, ::testing::Values("DULW", "DALW", "DADP", "PADP", "DPCM", "21-4"),
                         TypeParamName());

class SidecarContent : public BatchTest {};

// A sound file named "._real.wav" (no "real.wav" beside it) is an input
// like any other; an AppleDouble file so named is a sidecar, skipped with
// that reason when named; a walk passes hidden files over without a line.
TEST_F(SidecarContent, MakesTheSidecar)
{
    QDir().mkpath(root + "/in");
    const QString sound = root + "/in/._real.wav";
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "8000", "-c", "1", "-b", "16", sound, "synth", "0.5", "sine", "440"}));
    ASSERT_TRUE(QFile::copy(sound, root + "/in/take.wav"));
    // The Finder information of take.wav: AppleDouble version 2, one entry.
    QByteArray sidecar = QByteArray::fromHex("00051607000200000000000000000000000000000000000000010000000900000026"
                                             "00000020");
    sidecar.append(QByteArray::fromHex("57415645") + QByteArray(28, '\0'));
    ASSERT_TRUE(WriteBytes(root + "/in/._take.wav", sidecar));

    RunResult run = Run({"--quiet", "--conversion", kToAiff, "-o", root + "/named", sound, root + "/in/._take.wav"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.err.toStdString(), QString("skipped %1/in/._take.wav: an AppleDouble sidecar (the Finder "
                                             "information and resource fork of 'take.wav'), not a sound file of "
                                             "its own\n1 converted, 0 failed, 1 skipped, 0 warnings\n")
                                         .arg(root)
                                         .toStdString());
    EXPECT_TRUE(QFile::exists(root + "/named/" + kToAiff + "/._real.aif"));

    run = Run({"--quiet", "--conversion", kToAiff, "-o", root + "/walked", root + "/in"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.err.toStdString(), "");
    EXPECT_EQ(FilesUnder(root + "/walked/" + kToAiff, true).join(' ').toStdString(), "in/take.aif");
}

}  // namespace
