// Multichannel layouts through quillmarch-batch: every channel keeps its
// speaker.  Each input carries tone k on its channel k; after a conversion
// the layout ffprobe reads from the output names, for every channel, the
// speaker that carried that channel's tone in the input.  Speakers are
// compared as the program names them: a back pair is the surround pair, a
// side pair too unless the layout also has a back pair (then it is the
// rear pair).
#include "CliTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace clitest;

namespace {

constexpr int kRate = 16000;

struct Layout {
    const char* name;
    const char* ffmpeg;
    int channels;
};
const Layout kLayouts[] = {{"lcr", "3.0", 3},  {"lcrs", "4.0", 4}, {"quad", "quad", 4}, {"s50", "5.0", 5},
                           {"s51", "5.1", 6},  {"s60", "6.0", 6},  {"s71", "7.1", 8},   {"s71w", "7.1(wide)", 8}};

struct Input {
    const char* extension;
    const char* codec;
};
const Input kInputs[] = {{"wav", "pcm_s16le"}, {"caf", "pcm_s16le"}, {"flac", "flac"}, {"aiff", "pcm_s16be"}};

struct Output {
    const char* folder;
    const char* type;
    int wordLength;
};
// Every reader into WAVE and CAF; the other writers from the WAVE inputs.
const Output kFromEveryInput[] = {{"WAVE", "WAVE", 16}, {"CAF", "caff", 16}};
const Output kFromWave[] = {
    {"AIFF", "AIFF", 16}, {"AIFC", "AIFC", 16}, {"Movie", "QTIF", 24}, {"A-law movie", "QTAL", 16}};

double ToneHz(int k)
{
    return 400.0 + 300.0 * k;
}

// ffmpeg's channel names of the layouts it names ("5.1" FL+FR+FC+LFE+BL+BR).
const std::map<QString, QStringList>& NamedLayouts()
{
    static const std::map<QString, QStringList> layouts = [] {
        std::map<QString, QStringList> found;
        QByteArray text;
        RunPeer("ffmpeg", {"-hide_banner", "-layouts"}, &text);
        bool inLayouts = false;
        for (const QByteArray& raw : text.split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            if (line.startsWith("Standard channel layouts"))
                inLayouts = true;
            const QStringList parts = line.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
            if (inLayouts && parts.size() == 2)
                found[parts[0]] = parts[1].split('+');
        }
        return found;
    }();
    return layouts;
}

// The speakers, in the program's terms, of the channels of a layout as
// ffprobe spells it; an empty list for a layout without speakers.
std::vector<std::string> Speakers(const QString& layout)
{
    QStringList names;
    const auto named = NamedLayouts().find(layout);
    if (named != NamedLayouts().end())
        names = named->second;
    else if (layout.contains('+'))
        names = layout.split('+');
    const bool back = names.contains("BL") || names.contains("BR");
    const std::map<QString, std::string> same = {{"FL", "L"},    {"FR", "R"},    {"FC", "C"},   {"LFE", "LFE"},
                                                 {"BL", "Ls"},   {"BR", "Rs"},   {"FLC", "Lc"}, {"FRC", "Rc"},
                                                 {"BC", "Cs"},   {"SL", back ? "Rls" : "Ls"}, {"SR", back ? "Rrs" : "Rs"}};
    std::vector<std::string> speakers;
    for (const QString& name : names) {
        const auto it = same.find(name);
        speakers.push_back(it == same.end() ? name.toStdString() : it->second);
    }
    return speakers;
}

struct Decoded {
    QString layout;
    int channels = 0;
    std::vector<int> tones;  // per channel: the tone it carries, -1 for none
};

// The layout ffprobe reads and the tone of each channel (Goertzel power at
// every tone; one must stand out).
Decoded Decode(const QString& path, int tonesMade)
{
    Decoded d;
    const peers::RunResult run = peers::Run("ffmpeg", {"-hide_banner", "-i", path, "-f", "f32le", "-"});
    // "Stream #0:0: Audio: pcm_s16le, 16000 Hz, 5.1(side), s16, 256 kb/s"
    const QRegularExpressionMatch stream =
        QRegularExpression("Audio: .*?, \\d+ Hz, ([^,]+),").match(QString::fromUtf8(run.err));
    d.layout = stream.captured(1);
    const QRegularExpressionMatch count = QRegularExpression("^(\\d+) channels").match(d.layout);
    d.channels = count.hasMatch() ? count.captured(1).toInt() : int(Speakers(d.layout).size());
    const QByteArray& raw = run.out;
    if (d.channels <= 0 || run.exitCode != 0)
        return d;
    const std::size_t frames = std::size_t(raw.size()) / sizeof(float) / std::size_t(d.channels);
    std::vector<float> samples(frames * std::size_t(d.channels));
    std::memcpy(samples.data(), raw.constData(), samples.size() * sizeof(float));
    for (int c = 0; c < d.channels; ++c) {
        std::vector<double> power;
        for (int k = 0; k < tonesMade; ++k) {
            const double w = 2.0 * M_PI * ToneHz(k) / kRate;
            double s1 = 0, s2 = 0;
            for (std::size_t i = 0; i < frames; ++i) {
                const double s0 = samples[i * std::size_t(d.channels) + std::size_t(c)] + 2.0 * std::cos(w) * s1 - s2;
                s2 = s1;
                s1 = s0;
            }
            power.push_back(s1 * s1 + s2 * s2 - 2.0 * std::cos(w) * s1 * s2);
        }
        int best = 0;
        for (int k = 1; k < tonesMade; ++k)
            if (power[std::size_t(k)] > power[std::size_t(best)])
                best = k;
        bool standsOut = power[std::size_t(best)] > 1.0;
        for (int k = 0; k < tonesMade; ++k)
            standsOut = standsOut && (k == best || power[std::size_t(k)] * 20.0 < power[std::size_t(best)]);
        d.tones.push_back(standsOut ? best : -1);
    }
    return d;
}

// "tone 3 under Ls" for every channel, in the channel order.
std::string Describe(const Decoded& d, const std::vector<std::string>& speakers)
{
    std::string text = d.layout.toStdString() + ":";
    for (std::size_t c = 0; c < d.tones.size(); ++c)
        text += " " + std::to_string(d.tones[c]) + "@" + (c < speakers.size() ? speakers[c] : "?");
    return text;
}

// One layout per case, so that the layouts convert side by side.
class ChannelLayoutBatch : public BatchTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(ChannelLayoutBatch, EveryToneStaysUnderItsSpeaker)
{
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    ASSERT_TRUE(QDir().mkpath(root + "/wave"));
    // The layout in every input container that describes it.
    std::map<QString, std::vector<std::string>> inputSpeakers;  // by base name
    std::map<QString, int> inputChannels;
    {
        const Layout& layout = GetParam();
        QString tones;
        for (int k = 0; k < layout.channels; ++k)
            tones += QString(k ? "|" : "") + QString("0.3*sin(2*PI*%1*t)").arg(ToneHz(k));
        for (const Input& input : kInputs) {
            const QString base = QString("%1_%2").arg(layout.name, input.extension);
            const QString path = root + "/in/" + base + "." + input.extension;
            ASSERT_TRUE(RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                           QString("aevalsrc=%1:s=%2:d=0.2:c=%3").arg(tones).arg(kRate).arg(layout.ffmpeg),
                                           "-c:a", input.codec, path}))
                << base.toStdString();
            const Decoded made = Decode(path, layout.channels);
            const std::vector<std::string> speakers = Speakers(made.layout);
            ASSERT_EQ(int(speakers.size()), layout.channels) << base.toStdString() << " " << made.layout.toStdString();
            for (int k = 0; k < layout.channels; ++k)
                ASSERT_EQ(made.tones[std::size_t(k)], k) << base.toStdString();
            inputSpeakers[base] = speakers;
            inputChannels[base] = layout.channels;
            if (QLatin1String(input.extension) == QLatin1String("wav")) {
                ASSERT_TRUE(QFile::copy(path, root + "/wave/" + base + ".wav"));
            }
        }
    }

    // Run `outputs` over the inputs of `folder`; every output keeps the speakers.
    auto convert = [&](const QString& folder, const std::vector<Output>& outputs) {
        QList<QPair<int, QVariantMap>> changes;
        for (const Output& output : outputs)
            changes.append({0, TypedConversion(output.folder, output.type, output.wordLength, {})});
        const RunResult run = RunConversions(QFileInfo(folder).fileName(), changes, folder, root + "/out");
        ASSERT_FALSE(run.crashed);
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
        const int inputs = int(QDir(folder).entryList(QDir::Files).size());
        for (const Output& output : outputs) {
            QStringList files = FilesUnder(root + "/out/" + output.folder);
            files.erase(std::remove_if(files.begin(), files.end(),
                                       [](const QString& f) { return QFileInfo(f).fileName().startsWith("._"); }),
                        files.end());  // the sidecars of the Finder information
            EXPECT_EQ(files.size(), inputs) << output.folder;
            for (const QString& file : files) {
                const QString base = QFileInfo(file).completeBaseName();
                ASSERT_EQ(inputSpeakers.count(base), 1u) << file.toStdString();
                const std::vector<std::string>& in = inputSpeakers[base];
                const Decoded out = Decode(file, inputChannels[base]);
                const std::vector<std::string> speakers = Speakers(out.layout);
                const std::string what =
                    std::string(output.folder) + " from " + base.toStdString() + " " + Describe(out, speakers);
                EXPECT_EQ(out.channels, inputChannels[base]) << what;
                EXPECT_EQ(speakers.size(), in.size()) << what;
                if (speakers.size() != in.size() || out.tones.size() != in.size())
                    continue;
                std::set<int> seen;
                for (std::size_t c = 0; c < speakers.size(); ++c) {
                    const int tone = out.tones[c];
                    EXPECT_GE(tone, 0) << what;
                    if (tone < 0)
                        continue;
                    seen.insert(tone);
                    EXPECT_EQ(speakers[c], in[std::size_t(tone)]) << what;
                }
                EXPECT_EQ(seen.size(), in.size()) << what;
            }
        }
    };
    convert(root + "/in", {std::begin(kFromEveryInput), std::end(kFromEveryInput)});
    convert(root + "/wave", {std::begin(kFromWave), std::end(kFromWave)});
}

INSTANTIATE_TEST_SUITE_P(Layouts, ChannelLayoutBatch, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

}  // namespace
