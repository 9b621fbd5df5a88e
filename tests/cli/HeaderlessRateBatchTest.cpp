// Headerless telephony files whose names give no rate (Dialogic ADPCM as
// sox writes it, ".vox") are read at the raw-file rate.  A rate the user did
// not choose is said once for the batch, with the count of the inputs it
// concerns and the option that sets another; a rate the user chose is taken
// without a word, unless the type unrecognised files are read as took
// another (then the line says which and from what).  A raw-file value out
// of its range (a rate no file can have, an action other than skip, copy or
// read, a type that has a header) is refused where it is set, naming the
// preference and its range, before anything is converted.
#include "CliTestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

const QString kRate = QStringLiteral("Unrecognized Input File Sample Rate");

struct Case {
    const char* label;
    QStringList options;
    const char* storedRate;  // the preferences file's rate, when not empty ("<...": what its dictionary holds)
    int exitCode;
    double rate;          // the .vox inputs are read at (0: nothing converted)
    QStringList said;     // on standard error, once each
    bool warned = false;  // a warning line (the only one)
};

const Case kCases[] = {
    {"DefaultRate", {}, "", 0, 44100,
     {"warning: 2 inputs have no header, and their names do not give their sample rate (the first: 'ROOT/in/a.vox'): "
      "read at 44100 Hz, the raw-file rate (preference \"Unrecognized Input File Sample Rate\"); to read them at "
      "8000 Hz, add --set \"Unrecognized Input File Sample Rate=8000\"\n",
      "3 converted, 0 failed, 0 skipped, 1 warning\n"},
     true},
    {"ChosenRate", {"--set", kRate + "=8000"}, "", 0, 8000, {"3 converted, 0 failed, 0 skipped, 0 warnings\n"}},
    {"ChosenDefaultRate", {}, "44100", 0, 44100, {"3 converted, 0 failed, 0 skipped, 0 warnings\n"}},
    {"DialogicRoundsTheRate", {"--set", "Unrecognized Input File Type='DADP'"}, "", 0, 8000,
     {"(the first: 'ROOT/in/a.vox'): read at 8000 Hz, because Dialogic ADPCM (no header), the type unrecognised "
      "files are read as, is read at 6000 or 8000 Hz, and the raw-file rate (preference \"Unrecognized Input File "
      "Sample Rate\") is 44100 Hz; to read them at 6000 Hz, add --set \"Unrecognized Input File Sample Rate=6000\"\n"},
     true},
    {"RateZero", {"--set", kRate + "=0"}, "", 64, 0,
     {"quillmarch-batch: --set: 'Unrecognized Input File Sample Rate' takes a rate from 1000 to 192000 Hz, not '0'\n"}},
    {"RateNegative", {"--set", kRate + "=-5"}, "", 64, 0, {"takes a rate from 1000 to 192000 Hz, not '-5'\n"}},
    {"RateHuge", {"--set", kRate + "=1e12"}, "", 64, 0, {"takes a rate from 1000 to 192000 Hz, not '1e12'\n"}},
    {"RateNotANumber", {"--set", kRate + "=nan"}, "", 64, 0, {"'Unrecognized Input File Sample Rate' takes"}},
    {"RateInThePreferences", {}, "0", 64, 0,
     {"quillmarch-batch: the preferences file 'ROOT/prefs.plist' cannot be used: 'Unrecognized Input File Sample "
      "Rate' takes a rate from 1000 to 192000 Hz, not '0'\n"}},
    {"WordSize", {"--set", "Unrecognized Input File Word Size=13"}, "", 64, 0,
     {"'Unrecognized Input File Word Size' takes 8, 16, 24 or 32 bits, not '13'\n"}},
    {"ActionThree", {"--set", "Unrecognized Input File Action=3"}, "", 64, 0,
     {"quillmarch-batch: --set: 'Unrecognized Input File Action' takes 0 (skip such files), 1 (copy them) or 2 "
      "(read them as raw audio), not '3'\n"}},
    {"ActionNegative", {"--set", "Unrecognized Input File Action=-1"}, "", 64, 0,
     {"'Unrecognized Input File Action' takes 0 (skip such files)", ", not '-1'\n"}},
    {"TypeUnknown", {"--set", "Unrecognized Input File Type='XXXX'"}, "", 64, 0,
     {"quillmarch-batch: --set: 'Unrecognized Input File Type' takes one of the headerless types ('21-4', ",
      ", not 'XXXX'\n"}},
    {"TypeWithAHeader", {"--set", "Unrecognized Input File Type='WAVE'"}, "", 64, 0,
     {"'Unrecognized Input File Type' takes one of the headerless types ("}},
    {"TypeInThePreferences", {}, "<key>Unrecognized Input File Type</key><string>'AIFF'</string>", 64, 0,
     {"quillmarch-batch: the preferences file 'ROOT/prefs.plist' cannot be used: 'Unrecognized Input File Type' "
      "takes one of the headerless types ("}},
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.label;
}

class HeaderlessRate : public BatchTest, public ::testing::WithParamInterface<Case> {};

TEST_P(HeaderlessRate, IsSaidOnceOrRefusedWhereSet)
{
    const Case& c = GetParam();
    QDir().mkpath(root + "/in");
    // Three seconds at 8000 Hz, 4-bit Dialogic ADPCM without a header, twice,
    // and a WAVE file after them.
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "8000", "-c", "1", "-t", "vox", root + "/in/a.vox", "synth", "3", "sine", "440"}));
    ASSERT_TRUE(QFile::copy(root + "/in/a.vox", root + "/in/b.vox"));
    ASSERT_TRUE(Sox({"-D", "-n", "-r", "8000", "-c", "1", root + "/in/c.wav", "synth", "0.2", "sine", "440"}));
    if (*c.storedRate) {
        const QString held = *c.storedRate == '<'
                                 ? QString::fromUtf8(c.storedRate)
                                 : QStringLiteral("<key>%1</key><real>%2</real>").arg(kRate, c.storedRate);
        ASSERT_TRUE(WriteBytes(defaults, QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
                                                         "version=\"1.0\"><dict>%1</dict></plist>\n")
                                             .arg(held)
                                             .toUtf8()));
    }

    // Without --quiet: the closing summary counts the warnings.
    const RunResult run = Run(QStringList{"--conversion", "CD quality AIFF (44.1 kHz, 16 bits)", "-o",
                                          root + "/out"} +
                              c.options + QStringList{root + "/in"});
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
    for (QString words : c.said) {
        words.replace("ROOT", root);
        EXPECT_EQ(run.err.count(words), 1) << words.toStdString() << "\n" << run.err.toStdString();
    }
    EXPECT_EQ(run.err.split('\n').filter(QRegularExpression("^warning")).size(), c.warned ? 1 : 0)
        << run.err.toStdString();
    if (c.rate == 0) {
        EXPECT_FALSE(QFile::exists(root + "/out")) << "nothing is made";
        return;
    }
    // --info says where the rate came from, and what was read lasts as long
    // as it was read.
    const RunResult info = Run(c.options + QStringList{"--info", root + "/in/a.vox"});
    const QJsonObject described = QJsonDocument::fromJson(info.out.toUtf8()).object();
    EXPECT_EQ(described.value("sampleRate").toDouble(), c.rate) << info.out.toStdString();
    EXPECT_TRUE(described.value("sampleRateFrom").toString().contains("raw-file settings")) << info.out.toStdString();
    QByteArray seconds;
    ASSERT_TRUE(RunPeer("soxi", {"-D", root + "/out/CD quality AIFF (44.1 kHz, 16 bits)/in/b.aif"}, &seconds));
    EXPECT_NEAR(seconds.trimmed().toDouble(), 3.0 * 8000 / c.rate, 0.01);
    // The guide quotes the program's line for the default.
    if (c.warned && c.options.isEmpty()) {
        const QString line = run.err.split('\n').filter("warning").value(0);
        EXPECT_TRUE(ReadText(QStringLiteral(QM_SOURCE_RESOURCES "/../docs/conversions.md"))
                        .simplified()
                        .contains(line.mid(line.indexOf("'): ")).simplified()))
            << line.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, HeaderlessRate, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.label); });

}  // namespace
