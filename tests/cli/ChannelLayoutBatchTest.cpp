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
    else if (layout.contains('+'))  // "FL+FR+LFE", "4 channels (FL+FR+LFE+BC)"
        names = QString(layout).remove(QRegularExpression("^.*\\(|\\)$")).split('+');
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

// The layout ffprobe reads (the file's own: a multichannel file that
// describes none has "N channels", where ffmpeg's decoder would guess one;
// a stereo file without one is stereo) and the tone of each channel
// (Goertzel power at every tone; one must stand out).
Decoded Decode(const QString& path, int tonesMade)
{
    Decoded d;
    d.channels = QString::fromStdString(peers::FFprobeField(path.toStdString(), "channels")).toInt();
    d.layout = QString::fromStdString(peers::FFprobeField(path.toStdString(), "channel_layout"));
    if (d.layout.isEmpty() || d.layout == "unknown")
        d.layout = d.channels == 2 ? QString("stereo") : QString("%1 channels").arg(d.channels);
    const peers::RunResult run = peers::Run("ffmpeg", {"-hide_banner", "-i", path, "-f", "f32le", "-"});
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

// ffmpeg writes `path`: 0.2 s of tone k on its channel k, in `layout`.
bool MakeTones(const QString& path, int channels, const QString& layout, const QString& codec)
{
    QString tones;
    for (int k = 0; k < channels; ++k)
        tones += QString(k ? "|" : "") + QString("0.3*sin(2*PI*%1*t)").arg(ToneHz(k));
    return RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                              QString("aevalsrc=%1:s=%2:d=0.2:c=%3").arg(tones).arg(kRate).arg(layout), "-c:a", codec,
                              path});
}

// Each channel of the output `file` holds the tone of the input channel
// whose speaker (inSpeakers, by tone) its layout names.
void ExpectSpeakersKept(const QString& file, const std::vector<std::string>& in, const std::string& what)
{
    const Decoded out = Decode(file, int(in.size()));
    const std::vector<std::string> speakers = Speakers(out.layout);
    const std::string where = what + " " + Describe(out, speakers);
    EXPECT_EQ(out.channels, int(in.size())) << where;
    EXPECT_EQ(speakers.size(), in.size()) << where;
    if (speakers.size() != in.size() || out.tones.size() != in.size())
        return;
    std::set<int> seen;
    for (std::size_t c = 0; c < speakers.size(); ++c) {
        const int tone = out.tones[c];
        EXPECT_GE(tone, 0) << where;
        if (tone < 0)
            continue;
        seen.insert(tone);
        EXPECT_EQ(speakers[c], in[std::size_t(tone)]) << where;
    }
    EXPECT_EQ(seen.size(), in.size()) << where;
}

// Runs `outputs` over the inputs of `folder`: every output keeps the
// speakers of its input (`inputSpeakers`, by base name).
class SpeakerBatch : public BatchTest {
protected:
    void ConvertKeepingSpeakers(const QString& folder, const std::vector<Output>& outputs,
                                const std::map<QString, std::vector<std::string>>& inputSpeakers)
    {
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
                const auto in = inputSpeakers.find(QFileInfo(file).completeBaseName());
                ASSERT_TRUE(in != inputSpeakers.end()) << file.toStdString();
                ExpectSpeakersKept(file, in->second, std::string(output.folder) + " from " + in->first.toStdString());
            }
        }
    }
};

// One layout per case, so that the layouts convert side by side.
class ChannelLayoutBatch : public SpeakerBatch, public ::testing::WithParamInterface<Layout> {};

TEST_P(ChannelLayoutBatch, EveryToneStaysUnderItsSpeaker)
{
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    ASSERT_TRUE(QDir().mkpath(root + "/wave"));
    // The layout in every input container that describes it.
    std::map<QString, std::vector<std::string>> inputSpeakers;  // by base name
    {
        const Layout& layout = GetParam();
        for (const Input& input : kInputs) {
            const QString base = QString("%1_%2").arg(layout.name, input.extension);
            const QString path = root + "/in/" + base + "." + input.extension;
            ASSERT_TRUE(MakeTones(path, layout.channels, layout.ffmpeg, input.codec)) << base.toStdString();
            const Decoded made = Decode(path, layout.channels);
            const std::vector<std::string> speakers = Speakers(made.layout);
            ASSERT_EQ(int(speakers.size()), layout.channels) << base.toStdString() << " " << made.layout.toStdString();
            for (int k = 0; k < layout.channels; ++k)
                ASSERT_EQ(made.tones[std::size_t(k)], k) << base.toStdString();
            inputSpeakers[base] = speakers;
            if (QLatin1String(input.extension) == QLatin1String("wav")) {
                ASSERT_TRUE(QFile::copy(path, root + "/wave/" + base + ".wav"));
            }
        }
    }
    ConvertKeepingSpeakers(root + "/in", {std::begin(kFromEveryInput), std::end(kFromEveryInput)}, inputSpeakers);
    ConvertKeepingSpeakers(root + "/wave", {std::begin(kFromWave), std::end(kFromWave)}, inputSpeakers);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ChannelLayoutBatch, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });


// Layouts as other programs store them: a CAF and an AIFF-C built here byte
// by byte, and a MOV whose 'chan' atom is set here, name the speakers of
// their channels by a layout tag (each of the table's multichannel tags,
// most of them in an order other than the speaker mask's), by a bitmap, or
// (CAF, AIFF-C) by channel descriptions in any order.  Channel k carries tone k; every
// output channel holds the tone of the input channel of its speaker.
struct StoredLayout {
    const char* name;
    quint32 tag;
    quint32 bitmap;
    const char* speakers;  // the channels' speakers, in the file's order
};
const StoredLayout kStoredLayouts[] = {
    {"MPEG_3_0_A", 0x710003, 0, "L R C"},
    {"MPEG_3_0_B", 0x720003, 0, "C L R"},
    {"ITU_2_1", 0x830003, 0, "L R Cs"},
    {"AC3_3_0", 0x960003, 0, "L C R"},
    {"Quadraphonic", 0x6C0004, 0, "L R Ls Rs"},
    {"ITU_2_2", 0x840004, 0, "L R Ls Rs"},
    {"MPEG_4_0_B", 0x740004, 0, "C L R Cs"},
    {"MPEG_4_0_A", 0x730004, 0, "L R C Cs"},
    {"MPEG_5_0_B", 0x760005, 0, "L R Ls Rs C"},
    {"Pentagonal", 0x6D0005, 0, "L R Rls Rrs C"},
    {"MPEG_5_0_A", 0x750005, 0, "L R C Ls Rs"},
    {"MPEG_5_0_C", 0x770005, 0, "L C R Ls Rs"},
    {"MPEG_5_0_D", 0x780005, 0, "C L R Ls Rs"},
    {"MPEG_5_1_A", 0x790006, 0, "L R C LFE Ls Rs"},
    {"MPEG_5_1_B", 0x7A0006, 0, "L R Ls Rs C LFE"},
    {"MPEG_5_1_C", 0x7B0006, 0, "L C R Ls Rs LFE"},
    {"MPEG_5_1_D", 0x7C0006, 0, "C L R Ls Rs LFE"},
    {"AudioUnit_6_0", 0x8B0006, 0, "L R Ls Rs C Cs"},
    {"Hexagonal", 0x6E0006, 0, "L R Rls Rrs C Cs"},
    {"AAC_6_0", 0x8D0006, 0, "C L R Ls Rs Cs"},
    {"MPEG_6_1_A", 0x7D0007, 0, "L R C LFE Ls Rs Cs"},
    {"AAC_6_1", 0x8E0007, 0, "C L R Ls Rs Cs LFE"},
    {"MPEG_7_1_B", 0x7F0008, 0, "C Lc Rc L R Ls Rs LFE"},
    {"MPEG_7_1_A", 0x7E0008, 0, "L R C LFE Ls Rs Lc Rc"},
    {"MPEG_7_1_C", 0x800008, 0, "L R C LFE Ls Rs Rls Rrs"},
    {"Emagic_7_1", 0x810008, 0, "L R Ls Rs C LFE Lc Rc"},
    // The rest of the published tags, a sample of each family.
    {"DVD_4", 0x850003, 0, "L R LFE"},
    {"DVD_10", 0x880004, 0, "L R C LFE"},
    {"AC3_2_1_1", 0x990004, 0, "L R Cs LFE"},
    {"DTS_4_1", 0xA90005, 0, "C L R Cs LFE"},
    {"DTS_6_0_A", 0xAA0006, 0, "Lc Rc L R Ls Rs"},
    {"WAVE_5_1_B", 0xBB0006, 0, "L R C LFE Rls Rrs"},
    {"AAC_7_0", 0x8F0007, 0, "C L R Ls Rs Rls Rrs"},
    {"AudioUnit_7_0", 0x8C0007, 0, "L R Ls Rs C Rls Rrs"},
    {"AudioUnit_7_0_Front", 0x940007, 0, "L R Ls Rs C Lc Rc"},
    {"Octagonal", 0x6F0008, 0, "L R Rls Rrs C Cs Ls Rs"},
    {"AAC_Octagonal", 0x900008, 0, "C L R Ls Rs Rls Rrs Cs"},
    {"EAC3_7_1_A", 0xA00008, 0, "L C R Ls Rs LFE Rls Rrs"},
    {"DTS_7_1", 0xB10008, 0, "Lc C Rc L R Ls Rs LFE"},
    {"Bitmap", 0x10000, 0x137, "L R C Ls Rs Cs"},
    {"Descriptions", 0, 0, "Rs LFE L Ls C R"},
    // 7.1 with a surround pair and a surround direct pair (side speakers),
    // by bitmap and by descriptions out of order; a pair stored right first.
    {"BitmapSurroundDirect", 0x10000, 0x63F, "L R C LFE Ls Rs Lsd Rsd"},
    {"DescriptionsSurroundDirect", 0, 0, "Lsd LFE L Rs C Rsd R Ls"},
    {"DescriptionsRightFirst", 0, 0, "R L"},
};

void PrintTo(const StoredLayout& layout, std::ostream* os)
{
    *os << layout.name;
}

quint32 Label(const QString& speaker)
{
    static const QStringList kLabels = {"", "L", "R", "C", "LFE", "Ls", "Rs", "Lc", "Rc", "Cs", "Lsd", "Rsd"};
    if (speaker == "Rls" || speaker == "Rrs")
        return speaker == "Rls" ? 33 : 34;
    return quint32(kLabels.indexOf(speaker));
}

QByteArray BE32(quint32 v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char(v >> (24 - 8 * i));
    return b;
}

QByteArray BE64(quint64 v)
{
    return BE32(quint32(v >> 32)) + BE32(quint32(v));
}

// The layout as a CAF 'chan' body (a MOV 'chan' atom holds the same after
// its version and flags).
QByteArray ChanBody(const StoredLayout& layout, const QStringList& speakers)
{
    QByteArray body = BE32(layout.tag) + BE32(layout.bitmap);
    if (layout.tag != 0)
        return body + BE32(0);
    body += BE32(quint32(speakers.size()));
    for (const QString& speaker : speakers)
        body += BE32(Label(speaker)) + BE32(0) + QByteArray(12, '\0');
    return body;
}

// A 16-bit big-endian linear-PCM CAF of 0.2 s, tone k on channel k.
QByteArray HandMadeCaf(int channels, const QByteArray& chan)
{
    const int frames = kRate / 5;
    QByteArray samples;
    for (int i = 0; i < frames; ++i)
        for (int k = 0; k < channels; ++k) {
            const auto v = qint16(std::lround(0.3 * 32767 * std::sin(2 * M_PI * ToneHz(k) * i / kRate)));
            samples += char(quint16(v) >> 8);
            samples += char(quint16(v) & 0xFF);
        }
    double rate = kRate;
    quint64 rateBits;
    std::memcpy(&rateBits, &rate, sizeof rateBits);
    return QByteArray("caff") + BE32(0x00010000) + "desc" + BE64(32) + BE64(rateBits) + "lpcm" + BE32(0) +
           BE32(quint32(2 * channels)) + BE32(1) + BE32(quint32(channels)) + BE32(16) + "chan" +
           BE64(quint64(chan.size())) + chan + "data" + BE64(quint64(4 + samples.size())) + BE32(0) + samples;
}

// The same sound as a 16-bit AIFF-C whose 'CHAN' holds the layout.
QByteArray HandMadeAifc(int channels, const QByteArray& chan)
{
    const QByteArray caf = HandMadeCaf(channels, chan);
    const QByteArray samples = caf.mid(caf.indexOf("data") + 16);
    // 16000 Hz as an 80-bit extended: exponent 16383 + 13, 16000 << (63 - 13).
    const QByteArray rate = QByteArray::fromHex("400CFA00000000000000");
    const QByteArray comm = QByteArray(1, '\0') + char(channels) + BE32(quint32(samples.size() / 2 / channels)) +
                            QByteArray(1, '\0') + char(16) + rate + "NONE" + QByteArray(2, '\0');
    const QByteArray chunks = QByteArray("FVER") + BE32(4) + BE32(0xA2805140) + "COMM" + BE32(quint32(comm.size())) +
                              comm + "CHAN" + BE32(quint32(chan.size())) + chan + "SSND" +
                              BE32(quint32(8 + samples.size())) + BE32(0) + BE32(0) + samples;
    return QByteArray("FORM") + BE32(quint32(4 + chunks.size())) + "AIFC" + chunks;
}

class StoredLayoutBatch : public SpeakerBatch, public ::testing::WithParamInterface<StoredLayout> {};

TEST_P(StoredLayoutBatch, EveryChannelKeepsTheSpeakerItsFileNames)
{
    QM_REQUIRE_PEER("ffmpeg");
    const StoredLayout& layout = GetParam();
    const QStringList speakers = QString(layout.speakers).split(' ');
    const int channels = int(speakers.size());
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    const QByteArray chan = ChanBody(layout, speakers);
    ASSERT_TRUE(WriteBytes(root + "/in/stored_caf.caf", HandMadeCaf(channels, chan)));
    ASSERT_TRUE(WriteBytes(root + "/in/stored_aifc.aifc", HandMadeAifc(channels, chan)));
    if (layout.tag != 0) {
        // ffmpeg writes a 'chan' atom for these channel counts; its layout
        // is replaced by the case's.
        const char* made[] = {"", "", "", "3.0", "quad", "5.0", "5.1(side)", "6.1", "7.1"};
        const QString path = root + "/in/stored_mov.mov";
        ASSERT_TRUE(MakeTones(path, channels, made[channels], "pcm_s16le"));
        QFile mov(path);
        ASSERT_TRUE(mov.open(QIODevice::ReadWrite));
        QByteArray bytes = mov.readAll();
        const qsizetype at = bytes.indexOf("chan");
        ASSERT_GT(at, 0);
        ASSERT_EQ(bytes.mid(at + 16, 4), BE32(0));  // no descriptions
        bytes.replace(at + 8, 12, chan);
        ASSERT_TRUE(mov.seek(0) && mov.write(bytes) == bytes.size());
    }
    // The speakers as the outputs name them: a rear or direct pair stands
    // for the surround pair a layout lacks, and a direct pair beside a
    // surround pair is the rear pair (the side pair beside the back pair).
    std::vector<std::string> in;
    for (const QString& speaker : speakers) {
        const bool left = speaker.startsWith('L') || speaker == "Rls";
        const bool surround = speakers.contains(left ? "Ls" : "Rs");
        if (speaker == "Rls" || speaker == "Rrs" || speaker == "Lsd" || speaker == "Rsd")
            in.push_back(surround ? (left ? "Rls" : "Rrs") : (left ? "Ls" : "Rs"));
        else
            in.push_back(speaker.toStdString());
    }
    ConvertKeepingSpeakers(root + "/in", {std::begin(kFromEveryInput), std::end(kFromEveryInput)},
                           {{"stored_caf", in}, {"stored_aifc", in}, {"stored_mov", in}});
}

INSTANTIATE_TEST_SUITE_P(Layouts, StoredLayoutBatch, ::testing::ValuesIn(kStoredLayouts),
                         [](const ::testing::TestParamInfo<StoredLayout>& info) { return std::string(info.param.name); });

// A CAF layout whose speakers no channel mask names (Ambisonic B, one with
// matrix-encoded channels, a tag not published) converts in the file's
// order, and the file's line says so; a layout that says itself it has no
// speakers (discrete in order) or one with speakers does not.
TEST_F(SpeakerBatch, ALayoutNoMaskNamesIsSaidOnTheFilesLine)
{
    QM_REQUIRE_PEER("ffmpeg");
    const std::pair<const char*, quint32> inputs[] = {{"ambisonic", 0x6B0004}, {"smpte_dtv", 0x820008},
                                                      {"unpublished", 0xF00004}, {"discrete", 0x930004},
                                                      {"aac_7_0", 0x8F0007}};
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    for (const auto& [name, tag] : inputs)
        ASSERT_TRUE(WriteBytes(root + "/in/" + name + ".caf", HandMadeCaf(int(tag & 0xFFFF), BE32(tag) + BE64(0))));
    const RunResult run = RunConversions("wave", {{0, TypedConversion("WAVE", "WAVE", 16, {})}}, root + "/in",
                                         root + "/out");
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    for (const auto& [name, tag] : inputs) {
        const bool said = tag == 0x6B0004 || tag == 0x820008 || tag == 0xF00004;
        const QString line = QString("warning %1/in/%2.caf: has a channel layout no channel mask "
                                     "names: channels kept in the file's order")
                                 .arg(root, name);
        EXPECT_EQ(run.err.contains(line), said) << name << "\n" << run.err.toStdString();
        // Channel k still carries tone k.
        const Decoded out = Decode(root + "/out/WAVE/in/" + name + ".wav", int(tag & 0xFFFF));
        ASSERT_EQ(out.tones.size(), std::size_t(tag & 0xFFFF)) << name;
        if (said)
            for (int k = 0; k < int(tag & 0xFFFF); ++k)
                EXPECT_EQ(out.tones[std::size_t(k)], k) << name;
    }
}

}  // namespace
