// Every writable output type of the type table (by the batch command's
// own rule), through the real batch command, under the settings people use
// most (plain, fades, normalising, a rate change, a mono mix, split stereo,
// a snip, region extraction), from a PCM input and a compressed one: 16
// combinations per type, run in one batch.  What each should give comes
// from the type's own properties (its rates, word lengths and channel
// treatments, with the rate and channels the editor forces on a type that
// holds only some): an output that our reader (--info) and a peer
// (libsndfile, ffmpeg or sox, the first that reads it) read at the expected
// rate and length, holding nowhere (nor in its sidecar) the temporary name
// it was written under; a conversion the type cannot hold refused before the
// batch (exit 64, with its reason); an input whose rate the type cannot
// hold refused for that file.  One test per type, so that they run side by
// side.
#include "CAIFFFile.h"
#include "CliTestSupport.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "FileTypeDictionary.h"
#include "MacRoman.h"
#include "PCMFileTypes.h"
#include "PropertyList.h"
#include "TypeTableRules.h"
#include "file_type_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace clitest;

namespace {

enum Setting { kPlain, kFades, kNormalise, kRateChange, kMonoMix, kSplitStereo, kSnip, kRegions, kSettings };
const char* const kSettingNames[kSettings] = {"plain",    "fades",        "normalise", "rate change",
                                              "mono mix", "split stereo", "snip",      "regions"};
enum Input { kPCM, kCoded, kInputs };
const char* const kInputStems[kInputs] = {"pcm", "coded"};

constexpr double kInputRate = 44100.0;
constexpr UInt32 kInputFrames = 13230;  // 0.3 s
constexpr double kSnipFrom = 0.05;
constexpr double kSnipTo = 0.25;
constexpr UInt32 kRegionStart = 2205;   // the PCM input's one region: 0.05 s to 0.25 s
constexpr UInt32 kRegionEnd = 11025;

// ---------------------------------------------------------------------
// KNOWN FAULTS: combinations that still fail, by faults mended elsewhere
// (or found here and left to their owners).  Each entry: type, setting (-1
// any), input (-1 any), the fault.  Empty the table as the mends land; a
// listed combination that passes is reported on standard output.
// ---------------------------------------------------------------------
struct KnownFault {
    const char* type;
    int setting;
    int input;
    const char* fault;
};
const std::vector<KnownFault> kKnownFaults = {};

const KnownFault* FindKnownFault(const QString& type, int setting, int input)
{
    for (const KnownFault& f : kKnownFaults)
        if (type == QLatin1String(f.type) && (f.setting < 0 || f.setting == setting) &&
            (f.input < 0 || f.input == input))
            return &f;
    return nullptr;
}

// What a conversion of `setting` writes: its rate and channel treatment.
double RateOf(const TypeRules& rules, int setting)
{
    return setting == kRateChange  ? rules.TargetRate()
           : rules.ForcedRate() > 0 ? rules.ForcedRate()
                                    : kInputRate;
}

int TreatmentOf(const TypeRules& rules, int setting)
{
    return setting == kMonoMix ? 3 : setting == kSplitStereo ? 2 : rules.ForcedTreatment();
}

enum class Expect { Written, RefusedBeforeBatch, RefusedForFile };

Expect Expected(const TypeRules& rules, int setting)
{
    if (setting == kMonoMix && !rules.treatments.count(3))
        return Expect::RefusedBeforeBatch;
    if (setting == kSplitStereo && !rules.treatments.count(2))
        return Expect::RefusedBeforeBatch;
    if (!rules.HoldsRate(RateOf(rules, setting)))
        return Expect::RefusedForFile;
    return Expect::Written;
}

QVariantMap ConversionFor(const TypeRules& rules, int setting)
{
    const QByteArray code = rules.type.toLatin1();
    QVariantMap c = TypedConversion(kSettingNames[setting], code.constData(), rules.wordLength, QByteArray());
    switch (setting) {
    default:
        break;
    case kFades:
        c.insert("QMCSNeedsFades", true);
        c.insert("QMCSFadeInTime", 50.0);
        c.insert("QMCSFadeOutTime", 50.0);
        break;
    case kNormalise:
        c.insert("QMCSNeedsGain", true);
        c.insert("QMCSNeedsNormalize", true);
        c.insert("QMCSCeiling", -1.0);
        break;
    case kSnip:
        c.insert("QMCSNeedsSnip", true);
        c.insert("QMCSSnipFrom", kSnipFrom);
        c.insert("QMCSSnipTo", kSnipTo);
        break;
    case kRegions:
        c.insert("QMCSNeedsExtraction", true);
        break;
    }
    // A type of fixed rates takes its rate from the conversion, as the
    // editor makes it, also where the input already has it.
    SetRateAndTreatment(&c, rules, RateOf(rules, setting), TreatmentOf(rules, setting));
    return c;
}

// A file as a reader saw it.
struct Seen {
    bool read = false;
    double rate = 0;
    int channels = 0;
    double seconds = 0;
    int members = 0;  // a set's member files (ours)
    QString how;
};

// Our reader (the batch command's --info), one line of JSON per file.  A
// file it cannot type by itself (the headerless types) is read again as a
// raw file of `type`, as the user would set it.
std::map<QString, Seen> ReadOurs(const QString& defaults, const QStringList& files, const QString& type)
{
    std::map<QString, Seen> seen;
    QStringList again;
    for (int pass = 0; pass < 2; ++pass) {
        const QStringList list = pass == 0 ? files : again;
        if (list.isEmpty())
            break;
        QStringList arguments{"--info"};
        if (pass == 1)
            arguments = QStringList{"--set", "Unrecognized Input File Action=2", "--set",
                                    "Unrecognized Input File Type='" + type + "'", "--info"};
        const RunResult r = RunBatch(arguments + list, defaults);
        for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            const QString path = o.value("path").toString();  // as given
            if (o.contains("error") && pass == 0) {
                again.append(path);
                continue;
            }
            Seen s;
            s.read = !o.contains("error");
            s.rate = o.value("sampleRate").toDouble();
            s.channels = o.value("channels").toInt();
            s.seconds = s.rate > 0 ? o.value("frames").toDouble() / s.rate : 0;
            s.members = int(o.value("members").toArray().size());
            s.how = o.contains("error") ? o.value("message").toString() : o.value("format").toString();
            seen[path] = s;
        }
    }
    return seen;
}

// Types whose files a peer misreads by their design: the peer that reads
// them.
struct PeerRule {
    const char* type;
    const char* peer;
    const char* why;
};
const PeerRule kPeerRules[] = {
    {"SAIF", "ffmpeg", "Sonic files pad 'SSND' to 256 KB; libsndfile and sox play the padding"},
    {"SpSc", "ffmpeg", "the same for the members of a Sonic split set"},
};

// What the peers read of `files`: the first of libsndfile (in this
// process), ffmpeg (one run for every file libsndfile cannot read), sox
// that reads each file; only `peer` when given.
std::map<QString, Seen> ReadPeers(const QStringList& files, const QString& peer)
{
    std::map<QString, Seen> seen;
    QStringList rest;
    for (const QString& path : files) {
        const peers::SndfileView view = peer.isEmpty() ? peers::ReadWithSndfile(path.toStdString())
                                                       : peers::SndfileView{};
        if (view.opened && view.rate > 0)
            seen[path] = {true, double(view.rate), view.channels, double(view.frames) / view.rate, 0, "libsndfile"};
        else
            rest.append(path);
    }
    if (rest.isEmpty())
        return seen;
    // ffmpeg describes every input it opens (and then wants an output).
    QStringList arguments{"-hide_banner", "-nostdin"};
    for (const QString& path : rest)
        arguments << "-i" << path;
    const peers::RunResult dump = peers::Run("ffmpeg", arguments);
    const QString text = QString::fromUtf8(dump.err);
    const QRegularExpression input(QStringLiteral("^Input #(\\d+), .*$"), QRegularExpression::MultilineOption);
    const QRegularExpression duration(QStringLiteral("Duration: (\\d+):(\\d+):([0-9.]+), start: (-?[0-9.]+)"));
    const QRegularExpression audio(QStringLiteral("Audio: .*?, (\\d+) Hz, (mono|stereo|(\\d+) channels)"));
    for (auto it = input.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const int index = m.captured(1).toInt();
        const qsizetype end = text.indexOf(QLatin1String("\nInput #"), m.capturedEnd());
        const QString block = text.mid(m.capturedStart(), end < 0 ? -1 : end - m.capturedStart());
        const QRegularExpressionMatch d = duration.match(block);
        const QRegularExpressionMatch a = audio.match(block);
        if (index < 0 || index >= rest.size() || !d.hasMatch() || !a.hasMatch())
            continue;
        const double seconds = d.captured(1).toDouble() * 3600 + d.captured(2).toDouble() * 60 +
                               d.captured(3).toDouble() - std::max(0.0, d.captured(4).toDouble());
        const int channels = a.captured(2) == "mono" ? 1 : a.captured(2) == "stereo" ? 2 : a.captured(3).toInt();
        seen[rest[index]] = {true, a.captured(1).toDouble(), channels, seconds, 0, "ffmpeg"};
    }
    for (const QString& path : rest) {
        QByteArray out;
        if (seen.count(path) || !peer.isEmpty() || !RunPeer("soxi", {path}, &out))
            continue;
        const QString info = QString::fromUtf8(out);
        const auto field = [&info](const char* name) {
            const QRegularExpression re(QStringLiteral("%1\\s*:\\s*([0-9.]+)").arg(QLatin1String(name)));
            return re.match(info).captured(1).toDouble();
        };
        const QRegularExpression samples(QStringLiteral("= ([0-9]+) samples"));
        const double rate = field("Sample Rate");
        const double frames = samples.match(info).captured(1).toDouble();
        if (rate > 0 && frames > 0)
            seen[path] = {true, rate, int(field("Channels")), frames / rate, 0, "sox"};
    }
    return seen;
}

// The failure lines of the log, by conversion name and input stem.
std::map<std::pair<QString, QString>, QString> LogFailures(const QString& logText)
{
    std::map<std::pair<QString, QString>, QString> failures;
    QString conversion;
    for (const QString& line : logText.split('\n')) {
        const qsizetype at = line.indexOf(QLatin1String("Conversion name: "));
        if (at >= 0) {
            conversion = line.mid(at + 17).trimmed();
        } else if (line.startsWith('*')) {
            const QString rest = line.mid(1);
            const QString stem = rest.section(' ', 0, 0);
            failures[{conversion, stem}] = rest.mid(stem.size()).trimmed();
        }
    }
    return failures;
}

class OutputTypeMatrix : public BatchTest, public ::testing::WithParamInterface<std::string> {
protected:
    // The inputs: pcm.aif, 16-bit stereo with one region, written by our
    // AIFF class; coded.mp3 made from it by ffmpeg.
    void MakeInputs()
    {
        ASSERT_TRUE(QDir().mkpath(root + "/in"));
        RegisterPCMFileTypes();
        CAIFFFile file;
        ASSERT_EQ(file.SetFile((root + "/in/pcm").toStdString()), noErr);
        const UInt8 extension[] = {3, 'a', 'i', 'f'};
        ASSERT_EQ(file.Create(2, 16, 0, nullptr, extension, float(kInputRate)), noErr);
        std::vector<double> samples(std::size_t(kInputFrames) * 2);
        for (UInt32 i = 0; i < kInputFrames; ++i) {
            samples[2 * i] = 0.4 * std::sin(2 * M_PI * 440.0 * i / kInputRate);
            samples[2 * i + 1] = 0.3 * std::sin(2 * M_PI * 660.0 * i / kInputRate);
        }
        UInt32 count = kInputFrames;
        ASSERT_EQ(file.WriteFrames(0, &count, samples.data()), noErr);
        SFTRegion region{1, kRegionStart, kRegionEnd};
        MacRoman::toPascal(QStringLiteral("Verse"), region.name, 31);
        ASSERT_EQ(file.AddRegion(&region), noErr);
        ASSERT_EQ(file.Close(), noErr);
        ASSERT_TRUE(RunPeer("ffmpeg", {"-v", "error", "-i", root + "/in/pcm.aif", "-c:a", "libmp3lame", "-b:a",
                                       "128k", root + "/in/coded.mp3"}));
    }
    QString InputPath(int input) const
    {
        return root + "/in/" + kInputStems[input] + (input == kPCM ? ".aif" : ".mp3");
    }

    // The seconds an output of `setting` from `input` should last.
    double ExpectedSeconds(int setting, int input) const
    {
        if (setting == kSnip)
            return kSnipTo - kSnipFrom;
        if (setting == kRegions && input == kPCM)
            return double(kRegionEnd - kRegionStart) / kInputRate;
        return inputSeconds[input];
    }

    double inputSeconds[kInputs] = {0, 0};
};

// The file, or its AppleDouble sidecar, holds the temporary word the
// outputs are written under (".QuillOutFile"), or its start as a short
// name field keeps it: a name stored before the output was published.
bool HoldsTemporaryName(const QString& path)
{
    const QFileInfo info(path);
    for (const QString& file : {path, info.path() + "/._" + info.fileName()}) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly) && f.readAll().contains(".QuillO"))
            return true;
    }
    return false;
}

// A few percent, and a codec frame or two more for encoders that pad a
// short input.
bool LengthAgrees(double seconds, double expected)
{
    return std::fabs(seconds - expected) <= 0.03 * expected + 0.03;
}

TEST_P(OutputTypeMatrix, EverySettingFromBothInputs)
{
    QM_REQUIRE_PEER("ffmpeg");
    const TypeRules rules(QString::fromStdString(GetParam()));
    ASSERT_FALSE(rules.properties.isEmpty());
    MakeInputs();
    if (HasFatalFailure())
        return;

    // Every setting in one batch.  A conversion refused before the batch is
    // taken out and the rest run again; so is one that stops the batch.
    std::set<int> pending;
    for (int s = 0; s < kSettings; ++s)
        pending.insert(s);
    std::map<int, QString> refusedBefore;
    std::map<int, QString> stoppedBatch;
    std::map<std::pair<QString, QString>, QString> failures;
    for (int attempt = 0; attempt <= kSettings && !pending.empty(); ++attempt) {
        QList<QPair<int, QVariantMap>> changes;
        const std::vector<int> order(pending.begin(), pending.end());
        for (const int s : order)
            changes.append({0, ConversionFor(rules, s)});
        const QString list = WriteConversions(root + "/conversions-" + QString::number(attempt) + ".plist", changes);
        QDir(root + "/out").removeRecursively();
        const RunResult run = Run({"--quiet", "--conversions", list, "-o", root + "/out", InputPath(kPCM),
                                   InputPath(kCoded)});
        ASSERT_FALSE(run.crashed) << run.err.toStdString();
        if (run.exitCode == 64) {
            const QRegularExpression refusal(QStringLiteral("conversion (\\d+) '[^']*'[^\\n]*"));
            const std::size_t before = refusedBefore.size();
            for (auto it = refusal.globalMatch(run.err); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                const int index = m.captured(1).toInt() - 1;
                ASSERT_TRUE(index >= 0 && index < int(order.size())) << run.err.toStdString();
                refusedBefore[order[index]] = m.captured(0);
                pending.erase(order[index]);
            }
            ASSERT_GT(refusedBefore.size(), before) << "exit 64 and no conversion refused: " << run.err.toStdString();
            continue;
        }
        QString logPath = LogPathFromOutput(run.out);
        if (logPath.isEmpty())
            logPath = QDir(root + "/out").entryInfoList({"*.qlg"}).value(0).filePath();
        const QString logText = ReadText(logPath);
        failures = LogFailures(logText);
        if (run.exitCode != 2)
            break;
        // The conversion whose failure stopped the batch: the last one the
        // log names.
        const qsizetype at = logText.lastIndexOf(QLatin1String("Conversion name: "));
        const QString name = logText.mid(at + 17).section('\n', 0, 0).trimmed();
        int stopped = -1;
        for (const int s : order)
            if (name == QLatin1String(kSettingNames[s]))
                stopped = s;
        ASSERT_GE(stopped, 0) << "the batch stopped: " << run.err.toStdString();
        stoppedBatch[stopped] = run.err.trimmed();
        pending.erase(stopped);
    }

    // The outputs of each combination, and what our reader and the peers
    // see of them.
    std::map<std::pair<int, int>, QStringList> outputs;
    QStringList all;
    for (int s = 0; s < kSettings; ++s)
        for (const QString& file : FilesUnder(root + "/out/" + kSettingNames[s], true)) {
            if (file.section('/', -1).startsWith('.'))
                continue;  // sidecars
            for (int input = 0; input < kInputs; ++input)
                if (file.startsWith(QLatin1String(kInputStems[input]))) {
                    outputs[{s, input}].append(root + "/out/" + kSettingNames[s] + "/" + file);
                    all.append(outputs[{s, input}].last());
                }
        }
    const std::map<QString, Seen> ours = ReadOurs(defaults, all + QStringList{InputPath(kPCM), InputPath(kCoded)},
                                                  rules.type);
    for (int input = 0; input < kInputs; ++input) {
        const auto it = ours.find(InputPath(input));
        ASSERT_TRUE(it != ours.end() && it->second.read) << "input " << kInputStems[input];
        inputSeconds[input] = it->second.seconds;
    }

    QString peerOnly;
    for (const PeerRule& rule : kPeerRules)
        if (rules.type == QLatin1String(rule.type))
            peerOnly = QLatin1String(rule.peer);

    const std::map<QString, Seen> theirs = ReadPeers(all, peerOnly);

    std::vector<std::string> passedKnown;
    for (int s = 0; s < kSettings; ++s) {
        for (int input = 0; input < kInputs; ++input) {
            const Expect expect = Expected(rules, s);
            const QStringList files = outputs[{s, input}];
            const auto failure = failures.find({kSettingNames[s], kInputStems[input]});
            std::vector<std::string> problems;
            const auto problem = [&problems](const std::string& text) { problems.push_back(text); };

            if (stoppedBatch.count(s)) {
                problem("stopped the batch: " + stoppedBatch[s].toStdString());
            } else if (refusedBefore.count(s)) {
                if (expect != Expect::RefusedBeforeBatch && expect != Expect::RefusedForFile)
                    problem("refused before the batch: " + refusedBefore[s].toStdString());
                else if (!refusedBefore[s].contains(':'))
                    problem("refused without a reason: " + refusedBefore[s].toStdString());
            } else if (expect == Expect::RefusedBeforeBatch) {
                problem("not refused before the batch" +
                        (failure != failures.end() ? " (failed for the file: " + failure->second.toStdString() + ")"
                                                   : std::string(" (written)")));
            } else if (expect == Expect::RefusedForFile) {
                if (failure == failures.end())
                    problem("the input's rate is not one the type holds, yet the file did not fail");
                if (!files.isEmpty())
                    problem("written although refused: " + files.join(' ').toStdString());
            } else if (failure != failures.end()) {
                problem("failed: " + failure->second.toStdString());
            } else {
                // Written: one file, two for a split, each read at the
                // expected rate and length by us and by a peer.
                // (A type that is itself a set of files shows as one to us.)
                const auto first = files.isEmpty() ? ours.end() : ours.find(files.front());
                const int members = first != ours.end() ? first->second.members : 0;
                const int wanted = members > 0 ? members : TreatmentOf(rules, s) == 2 ? 2 : 1;
                if (files.size() != wanted)
                    problem("outputs: " + files.join(' ').toStdString());
                const double rate = RateOf(rules, s);
                const double seconds = ExpectedSeconds(s, input);
                for (const QString& file : files) {
                    const auto it = ours.find(file);
                    const Seen mine = it != ours.end() ? it->second : Seen{};
                    const std::string name = file.section('/', -2).toStdString();
                    if (HoldsTemporaryName(file))
                        problem(name + " stores its temporary name");
                    if (!mine.read) {
                        problem(name + " unreadable by us: " + mine.how.toStdString());
                        continue;
                    }
                    if (mine.rate != rate || !LengthAgrees(mine.seconds, seconds))
                        problem(name + " read by us at " + std::to_string(mine.rate) + " Hz, " +
                                std::to_string(mine.seconds) + " s (expected " + std::to_string(rate) + " Hz, " +
                                std::to_string(seconds) + " s)");
                    if (TreatmentOf(rules, s) == 3 && mine.channels != 1)
                        problem(name + " has " + std::to_string(mine.channels) + " channels after a mono mix");
                    const auto read = theirs.find(file);
                    const Seen peer = read != theirs.end() ? read->second : Seen{};
                    if (peer.read && (std::fabs(peer.rate - rate) > 0.5 || !LengthAgrees(peer.seconds, seconds)))
                        problem(name + " read by " + peer.how.toStdString() + " at " + std::to_string(peer.rate) +
                                " Hz, " + std::to_string(peer.seconds) + " s (expected " + std::to_string(rate) +
                                " Hz, " + std::to_string(seconds) + " s)");
                    if (peer.read && TreatmentOf(rules, s) == 3 && peer.channels != 1)
                        problem(name + " has " + std::to_string(peer.channels) + " channels in " +
                                peer.how.toStdString() + " after a mono mix");
                }
            }

            const std::string what = rules.type.toStdString() + " x " + kSettingNames[s] + " x " + kInputStems[input];
            if (const KnownFault* known = FindKnownFault(rules.type, s, input)) {
                if (problems.empty())
                    passedKnown.push_back(what + " (" + known->fault + ")");
                continue;
            }
            for (const std::string& text : problems)
                ADD_FAILURE() << what << ": " << text;
        }
    }
    for (const std::string& what : passedKnown)
        std::printf("[ known fault now passes: take it out of the table ] %s\n", what.c_str());
}

INSTANTIATE_TEST_SUITE_P(Types, OutputTypeMatrix, ::testing::ValuesIn(WritableTypes()), TypeParamName());

}  // namespace
