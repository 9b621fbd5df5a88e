// A headerless telephony file whose name gives no rate (Dialogic ADPCM as
// sox writes it, ".vox") is read at the raw-file rate, never silently: its
// line warns with the rate used and the option that sets another, --info
// says where the rate came from, and with that option set the file reads at
// its own rate.  A name that gives the rate reads at it without a word.
#include "CliTestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

struct Case {
    const char* name;
    QStringList more;   // options
    bool warned;
    double rate;        // the rate it is read at
};

const Case kCases[] = {
    {"tone.vox", {}, true, 44100},
    {"tone.vox", {"--set", "Unrecognized Input File Sample Rate=8000"}, true, 8000},
    {"tone.ap8", {}, false, 8000},
};

class HeaderlessRate : public BatchTest {};

TEST_F(HeaderlessRate, ARateFromTheRawFileSettingsIsSaid)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.more.join(' ').toStdString());
        const QString in = root + "/in/" + c.name;
        QDir().mkpath(root + "/in");
        QFile::remove(in);
        // Three seconds at 8000 Hz, 4-bit Dialogic ADPCM without a header.
        ASSERT_TRUE(Sox({"-D", "-n", "-r", "8000", "-c", "1", "-t", "vox", in, "synth", "3", "sine", "440"}));

        const RunResult info = Run(c.more + QStringList{"--info", in});
        const QJsonObject described = QJsonDocument::fromJson(info.out.toUtf8()).object();
        EXPECT_EQ(described.value("sampleRate").toDouble(), c.rate) << info.out.toStdString();
        EXPECT_EQ(described.value("sampleRateFrom").toString().contains("raw-file settings"), c.warned)
            << info.out.toStdString();

        QDir(root + "/out").removeRecursively();
        const RunResult run = Run(QStringList{"--quiet", "--conversion", "CD quality AIFF (44.1 kHz, 16 bits)", "-o",
                                              root + "/out"} +
                                  c.more + QStringList{in});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QString warning =
            QString("warning %1: has no header, and its name does not give its sample rate: read at %2 Hz")
                .arg(in)
                .arg(c.rate);
        EXPECT_EQ(run.err.contains(warning), c.warned) << run.err.toStdString();
        EXPECT_EQ(run.err.contains("add --set \"Unrecognized Input File Sample Rate=8000\""), c.warned)
            << run.err.toStdString();
        // The guide quotes the program's line for the default.
        if (c.warned && c.more.isEmpty()) {
            const QString line = run.err.split('\n').filter("warning ").value(0);
            EXPECT_TRUE(ReadText(QStringLiteral(QM_SOURCE_RESOURCES "/../docs/conversions.md"))
                            .simplified()
                            .contains(line.mid(line.indexOf("tone.vox: ") + 10).simplified()))
                << line.toStdString();
        }
        // What was read lasts as long as it was read.
        QByteArray seconds;
        ASSERT_TRUE(RunPeer("soxi", {"-D", root + "/out/CD quality AIFF (44.1 kHz, 16 bits)/tone.aif"}, &seconds));
        EXPECT_NEAR(seconds.trimmed().toDouble(), 3.0 * 8000 / c.rate, 0.01);
    }
}

}  // namespace
