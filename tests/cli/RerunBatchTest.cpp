// A rerun into the same folder, duplicates not numbered: each output whose
// name is taken fails with the line a finished conversion would get, but as
// soon as the output exists, before any audio is written into it (the MP3
// encoder, which every route to MP3 runs last, is never started), and the
// existing file is kept.  Numbered, the same rerun converts.
#include "CliTestSupport.h"
#include "PropertyList.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

struct Route {
    const char* label;
    QVariantMap changes;
};

const Route kRoutes[] = {
    {"Plain", {}},
    {"Resampled", {{"QMCSNeedsSampleRateConversion", true}, {"QMCSSampleRate", 32000}}},
    {"Mixed", {{"QMCSNeedsChannelTreat", true}, {"QMCSChannelTreat", 3}}},
    {"Normalized", {{"QMCSNeedsGain", true}, {"QMCSNeedsNormalize", true}}},
    {"ResampledNormalized",
     {{"QMCSNeedsSampleRateConversion", true}, {"QMCSSampleRate", 32000}, {"QMCSNeedsGain", true},
      {"QMCSNeedsNormalize", true}}},
};

class Rerun : public BatchTest, public ::testing::WithParamInterface<Route> {};

TEST_P(Rerun, ATakenNameFailsBeforeTheInputIsConverted)
{
    ASSERT_TRUE(MakeStereoTake(0.5));
    // The encoder, counting its encodings.
    const QString lame = QStandardPaths::findExecutable("lame");
    ASSERT_FALSE(lame.isEmpty());
    const QString bin = root + "/bin";
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(WriteBytes(bin + "/lame", QString("#!/bin/sh\n"
                                                  "case \"$*\" in *.wav\\ *) echo run >> '%1/encodings';; esac\n"
                                                  "exec '%2' \"$@\"\n")
                                              .arg(bin, lame)
                                              .toUtf8()));
    ASSERT_TRUE(QFile::setPermissions(bin + "/lame", QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    QVariantMap conversion = HeldEncoder::Conversion("MP3");
    for (auto it = GetParam().changes.begin(); it != GetParam().changes.end(); ++it)
        conversion.insert(it.key(), it.value());
    const QString conversions = root + "/c.plist";
    ASSERT_TRUE(WriteBytes(conversions, PropertyList::toXml(QVariantList{conversion})));
    auto run = [&](const QStringList& more) {
        QProcess process;
        QProcessEnvironment env = BatchEnvironment(defaults);
        env.insert("PATH", bin);
        process.setProcessEnvironment(env);
        process.start(QM_BATCH_EXE, QStringList{"--quiet", "--conversions", conversions, "-o", root + "/out"} + more +
                                        QStringList{root + "/in/take.wav"});
        EXPECT_TRUE(process.waitForFinished(120000));
        RunResult r;
        r.exitCode = process.exitCode();
        r.err = QString::fromUtf8(process.readAllStandardError());
        return r;
    };
    auto encodings = [&] { return ReadText(bin + "/encodings").count("run"); };

    const RunResult first = run({});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    ASSERT_EQ(encodings(), 1);
    const QString made = root + "/out/MP3/take.mp3";
    const QByteArray kept = ReadBytes(made);
    ASSERT_FALSE(kept.isEmpty());

    const RunResult again = run({});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.err.startsWith("failed " + root + "/in/take.wav: duplicate filename error: " + made + " (-48)\n"))
        << again.err.toStdString();
    EXPECT_TRUE(again.err.contains("add --set \"Number Duplicate Files=YES\"")) << again.err.toStdString();
    EXPECT_EQ(encodings(), 1);
    EXPECT_EQ(ReadBytes(made), kept);
    EXPECT_EQ(FilesUnder(root + "/out/MP3", true), QStringList{"take.mp3"});

    const RunResult numbered = run({"--set", "Number Duplicate Files=YES"});
    EXPECT_EQ(numbered.exitCode, 0) << numbered.err.toStdString();
    EXPECT_EQ(encodings(), 2);
    EXPECT_EQ(FilesUnder(root + "/out/MP3", true), (QStringList{"take-1.mp3", "take.mp3"}));
}

INSTANTIATE_TEST_SUITE_P(Routes, Rerun, ::testing::ValuesIn(kRoutes),
                         [](const ::testing::TestParamInfo<Route>& info) { return std::string(info.param.label); });

}  // namespace
