// An active conversion that cannot run is never dropped without a word: the
// batch runs the others, says it once on standard error and once in the log
// with why (for MP3, where the encoder was looked for), counts its files as
// not converted and exits 1; the listing and the choice by name give the
// same verdict.
#include "CliTestSupport.h"
#include "ConversionFileCheck.h"
#include "PropertyList.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

struct NotRunCase {
    const char* label;
    bool stored;          // the "Conversions" preference, else a conversions file
    bool guideExample;    // the complete example of the conversions guide
    QList<QVariantMap> conversions;
    QStringList notRun;   // name, then the start of why, per conversion left out
    int inputs;           // files in the input folder
    int converted;
};

QVariantMap Conversion(const char* name, const char* type)
{
    QVariantMap c = TypedConversion(name, type, 16, {});
    c.remove("QMCSSpecifics");
    return c;
}

const QString kNoEncoder = QStringLiteral(
    "its output file type cannot be written (LAME encoded mp3, 'DMP3'). MP3 output needs the LAME encoder 'lame' "
    "(version 3.93 or newer), which was not found on PATH (%1) nor in /usr/local/bin, /opt/local/bin or "
    "/sw/local/bin.");

void PrintTo(const NotRunCase& c, std::ostream* os)
{
    *os << c.label;
}

class ConversionsNotRun : public BatchTest, public ::testing::WithParamInterface<NotRunCase> {
protected:
    // quillmarch-batch with `arguments`, the encoder hidden from PATH.
    RunResult RunWithoutEncoder(const QStringList& arguments) const
    {
        return RunBatch(arguments, defaults, 300000, nowhere());
    }
    QString nowhere() const { return root + "/no-programs-here"; }
};

TEST_P(ConversionsNotRun, AreSaidCountedAndMakeTheExitStatus)
{
    const NotRunCase& c = GetParam();
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    for (int i = 0; i < c.inputs; ++i)
        ASSERT_TRUE(Sox({"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", root + QString("/in/take%1.wav").arg(i),
                         "synth", "0.3", "sine", "440", "gain", "-6"}));
    QStringList source;
    if (c.guideExample) {
        const QString guide = ReadText(QStringLiteral(QM_SOURCE_RESOURCES "/../docs/conversions.md"));
        const qsizetype begin = guide.indexOf("```xml\n");
        const qsizetype end = guide.indexOf("```", begin + 7);
        ASSERT_TRUE(begin >= 0 && end > begin);
        ASSERT_TRUE(WriteBytes(root + "/c.plist", guide.mid(begin + 7, end - begin - 7).toUtf8()));
        source = QStringList{"--conversions", root + "/c.plist"};
    } else {
        QVariantList array;
        for (const QVariantMap& conversion : c.conversions)
            array.append(c.stored ? ConversionFileCheck::withDefaults(conversion) : QVariant(conversion));
        const QByteArray bytes = PropertyList::toXml(c.stored ? QVariant(QVariantMap{{"Conversions", array}})
                                                              : QVariant(array));
        ASSERT_TRUE(WriteBytes(c.stored ? defaults : root + "/c.plist", bytes));
        if (!c.stored)
            source = QStringList{"--conversions", root + "/c.plist"};
    }

    const RunResult r = RunWithoutEncoder(source + QStringList{"--quiet", "-o", root + "/out", root + "/in"});
    ASSERT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    const int notRun = int(c.notRun.size() / 2);
    EXPECT_TRUE(r.err.contains(QString("%1 converted, 0 failed, 0 skipped, 0 warnings, %2 not converted (%3 that "
                                       "cannot run)\n")
                                   .arg(c.converted)
                                   .arg(notRun * c.inputs)
                                   .arg(notRun == 1 ? QString("a conversion") : QString("%1 conversions").arg(notRun))))
        << r.err.toStdString();
    const QString log = ReadText(LogPathFromOutput(r.out));
    for (qsizetype i = 0; i < c.notRun.size(); i += 2) {
        const QString name = c.notRun.at(i);
        const QString why = QString(c.notRun.at(i + 1)).replace("%1", nowhere());
        const QString sentence = QString("the conversion '%1' cannot run: %2").arg(name, why);
        EXPECT_EQ(r.err.count("skipped: " + sentence), 1) << r.err.toStdString();
        EXPECT_EQ(log.count(QString("CONVERSION NOT RUN: \n\n    ") + sentence), 1) << log.toStdString();
        EXPECT_FALSE(QFileInfo::exists(root + "/out/" + name));
        // The one verdict: the listing says it, and the choice by name is
        // refused with it.
        const RunResult listed = RunWithoutEncoder(source + QStringList{"--list-conversions"});
        EXPECT_TRUE(listed.out.contains(QString("yes     %1  (cannot run: %2").arg(name, why))) << listed.out.toStdString();
        const RunResult named = RunWithoutEncoder(source + QStringList{"--conversion", name, "-o", root + "/named",
                                                                        root + "/in"});
        EXPECT_EQ(named.exitCode, 64);
        EXPECT_TRUE(named.err.contains(sentence)) << named.err.toStdString();
    }
    EXPECT_EQ(log.count(QString("Input files not converted: %1\n").arg(c.inputs)), notRun) << log.toStdString();
    EXPECT_EQ(FilesUnder(root + "/out").filter(QRegularExpression("/take\\d\\.")).size(), c.converted);
}

const QString kMACE = QStringLiteral("its output file type cannot be written (MACE 6:1 QuickTime Movie, 'QTM6')");

INSTANTIATE_TEST_SUITE_P(
    Batch, ConversionsNotRun,
    ::testing::Values(
        NotRunCase{"GuideExampleWithoutEncoder", false, true, {}, {"Web MP3", kNoEncoder}, 1, 2},
        NotRunCase{"MACEMovieBesideAIFF", false, false,
                   {Conversion("AIFF", "AIFF"), Conversion("MACE", "QTM6")}, {"MACE", kMACE}, 2, 2},
        NotRunCase{"StoredConversions", true, false,
                   {Conversion("AIFF", "AIFF"), Conversion("MACE", "QTM6"), HeldEncoder::Conversion("MP3"),
                    Conversion("WAVE", "WAVE")},
                   {"MACE", kMACE, "MP3", kNoEncoder}, 2, 4}),
    [](const ::testing::TestParamInfo<NotRunCase>& info) { return std::string(info.param.label); });

}  // namespace
