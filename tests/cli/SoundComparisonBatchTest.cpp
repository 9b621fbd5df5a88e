// The sound of every output, through the real batch command, against an
// independent decoder and an independently computed reference.
//
// The table: every writable type of the type table (each item of its
// word-length popup; the default bit rate of a type whose word length is a
// bit rate) x mono, stereo and 6-channel inputs (those the type holds) x the
// rate kept (44.1 kHz), converted down (48 kHz) and up (22.05 kHz) to
// 32 kHz (or the held rate nearest it) x plain, gain (normalise to -1 dBFS),
// fades, the gate and a snip.  The inputs are 24-bit WAVE files written
// here, 39,503 frames (more than three 12,288-frame blocks), a tone per
// channel with a quiet stretch for the gate.
//
// Each output is decoded by libsndfile, ffmpeg or sox (whichever reads the
// type; the program's own reader, through the batch command, only where
// none does) and compared over the whole file with sox's rendering of the
// same steps (trim, rate -v, gain -n, a linear fade applied twice, which is
// the square-law fade), or the input itself for a plain copy:
// - linear PCM frame by frame, within the bound of kLinearSteps;
// - A-law and mu-law frame by frame, within their segment's step;
// - lossy codecs by level and spectrum (kLossyBounds): each channel's tone
//   level in the loud stretches, its purity (tone against everything else,
//   the other channels' tones included) and the quiet stretch's level.
// The gate is checked on the same reference: outside the quiet stretch the
// output is the reference, inside its interior the reference attenuated.
//
// In CI a seeded random sample runs (QM_SOUND_TABLE_SEED sets the seed,
// QM_SOUND_TABLE_CASES the sample's size), with the combinations named in
// kPinned always among them; QM_SOUND_TABLE_FULL=1 runs the whole table and
// QM_SOUND_TABLE_ONLY=<regular expression> the combinations whose names
// match.  Every failure names its combination, the seed and how to replay
// it.  One test per input, so that ctest runs them side by side.
//
// The same inputs encoded by the flac program (FlacInputs/*) go through the
// compressed reader instead; FLAC keeps every sample, so the same
// references hold.  A quarter of each input's sample runs so (all of it with
// the whole table).
#include "CConvSpec.h"
#include "CliTestSupport.h"
#include "ConvSpec.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "FileTypeDictionary.h"
#include "OutputCapabilities.h"
#include "file_type_table.h"
#include "per_type_setting_checks.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <spandsp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace clitest;

namespace {

#ifdef QM_SANITIZED
constexpr int kDefaultCases = 48;
#else
constexpr int kDefaultCases = 480;
#endif

// ------------------------------------------------------------- the input
constexpr int kInputFrames = 39503;     // 3.2 blocks of 12288, no whole group of ten
constexpr double kAmplitude = 0.5;      // -6 dBFS
constexpr double kQuietGain = 0.00316;  // -50 dB below the tone
constexpr double kQuietFrom = 0.35;     // the quiet stretch, as parts of the input
constexpr double kQuietTo = 0.65;
constexpr double kEdgeSeconds = 0.005;  // raised-cosine edges
const double kTones[6] = {440.0, 620.0, 820.0, 1020.0, 1230.0, 1450.0};
const int kChannelCounts[] = {1, 2, 6};
const double kInputRates[] = {44100.0, 48000.0, 22050.0};  // kept, down, up
constexpr double kTargetRate = 32000.0;

// The gain of input frame i: the edges, and the quiet stretch.
double Envelope(int i)
{
    const double n = kInputFrames;
    const double edge = kEdgeSeconds * 44100.0;
    const auto rise = [](double x) { return x <= 0 ? 0.0 : x >= 1 ? 1.0 : 0.5 - 0.5 * std::cos(M_PI * x); };
    const double outer = rise(i / edge) * rise((n - 1 - i) / edge);
    const double from = kQuietFrom * n, to = kQuietTo * n;
    const double dip = std::min(rise((from - i) / edge), 1.0) + std::min(rise((i - to) / edge), 1.0);
    return outer * (kQuietGain + (1.0 - kQuietGain) * std::min(dip, 1.0));
}

// ---------------------------------------------------------- processing
enum Processing { kPlain, kGain, kFade, kGate, kSnip, kProcessings };
const char* const kProcessingNames[kProcessings] = {"plain", "gain", "fade", "gate", "snip"};
constexpr double kCeiling = -1.0;       // dBFS, normalising
constexpr double kFadeMs = 50.0;
constexpr double kGateThreshold = -30.0;
constexpr double kGateGap = 0.05;       // s
constexpr double kGateAttenuation = -12.0;
constexpr double kGateMargin = 0.06;    // s: where the gate may ramp, at the quiet stretch's ends
constexpr double kSnipFrom = 0.15;      // parts of the input's length
constexpr double kSnipTo = 0.85;

// -------------------------------------------------------------- bounds
// Linear PCM: the largest difference from the reference, in steps of the
// output word: 1.5 (the writer truncates; the reference is exact), one more
// where fades read the written output back and write it again, one more
// after normalising (to half a step below the ceiling), one more for 8 bits
// (its writer scales by 127, its readers by 128); plus where the rate
// changes the difference of two good resamplers (this program's automatic
// filter and sox's very high quality one keep the tones alike to -110 dBFS),
// except within kCutEdgeSeconds of a snip's cut, where each rings in its
// own way.
constexpr double kLinearSteps = 1.5;
constexpr double kResamplerDifference = 4e-6;
constexpr double kCutEdgeSeconds = 0.01;
// A-law and mu-law: a sample within a sixteenth of itself (the segment's
// step is at most a 32nd) and three steps of the smallest segment.
constexpr double kLawRelative = 1.0 / 16.0;
constexpr double kLawFloor = 3.0 / 4096.0;

// Lossy codecs: a channel's tone level within `level` dB of the
// reference's in the loud stretches, its tone at least `purity` dB above
// everything else there (the other channels' tones too), the quiet
// stretch's RMS within `level` dB of the reference's (attenuated by the
// gate) with the codec's noise, of RMS `floor`, added, and the length
// within `frames` of the reference's.
struct LossyBound {
    const char* types;   // type codes, ',' between
    double level;        // dB
    double purity;       // dB
    double floor;        // RMS of the noise the codec may add in the quiet stretch
    int frames;          // length difference
};
const LossyBound kLossyBounds[] = {
    {"A1t4,QTIM", 0.5, 36.0, 2e-4, 64},        // IMA 4:1, 64-frame packets
    {"MSAP", 0.5, 45.0, 4e-4, 2048},           // Microsoft ADPCM: the peers decode whole blocks
    {"DADP,PADP,DVAP", 0.5, 24.0, 1.2e-3, 1},  // Dialogic 4-bit ADPCM, two codes a byte
    {"21-4,26-4", 0.5, 35.0, 2e-4, 8},         // G.721 / G.726 32 kbit/s
    {"23-3,26-3", 0.5, 30.0, 2e-4, 8},         // 24 kbit/s
    {"23-5,26-5", 0.5, 42.0, 2e-4, 8},         // 40 kbit/s
    {"23-2", 0.5, 18.0, 6e-4, 8},              // 16 kbit/s
    {"G729", 1.0, 20.0, 2e-3, 80},             // 10 ms frames
    {"MPG1", 0.5, 40.0, 2e-4, 2304},           // two 1152-frame frames of delay and padding
    {"MPG2,BWMP", 0.5, 55.0, 2e-4, 2304},
    {"DMP3", 0.5, 55.0, 2e-4, 1152},
    {"Mpg4", 0.5, 24.0, 2e-4, 1024},
};

// Types whose files hold whole groups of frames: 24-bit Paris files hold
// groups of ten frames and no frame count, AIFF-C IMA 4:1 files whole
// 64-frame packets and a count of packets.
int FramesPerUnit(const struct Variant& v);

// Combinations that always run, whatever the sample: the faults this
// suite was made to catch.
const char* const kPinned[] = {
    "caff/16 mono 48000->32000 plain",  // the rate converter's blocks into CAF
    "caff/16 mono 22050->32000 plain",
    "caff/24 6ch 48000->32000 plain",
    " paf/24 bits big-endian mono 44100 plain",  // whole groups of ten frames
    " paf/24 bits little-endian stereo 44100 snip",
};

QString TypeText(OSType code)
{
    return QString::fromLatin1(QByteArray(1, char(code >> 24)) + char(code >> 16) + char(code >> 8) + char(code));
}

OSType TypeCode(const QString& text)
{
    const QByteArray b = text.toLatin1();
    return OSType(UInt8(b[0])) << 24 | OSType(UInt8(b[1])) << 16 | OSType(UInt8(b[2])) << 8 | OSType(UInt8(b[3]));
}

bool InList(const char* list, const QString& type)
{
    return QString::fromLatin1(list).split(',').contains(type);
}

const LossyBound* LossyBoundOf(const QString& type)
{
    for (const LossyBound& b : kLossyBounds)
        if (InList(b.types, type))
            return &b;
    return nullptr;
}

// ------------------------------------------------------------ the table
struct Variant {
    QString type;
    int bits = 16;
    QByteArray specifics;  // the first bytes of the per-type block
    QString label;         // "caff/16", " paf/24 bits big-endian"
    bool floats = false;   // the file holds floats
};

struct Combination {
    Variant variant;
    int channels = 1;
    double inputRate = 44100;
    double outputRate = 44100;
    int processing = kPlain;
    int treatment = 0;  // the channel treatment the type makes the editor set
    bool forcesRate = false;
    QString name;
};

int FramesPerUnit(const Variant& v)
{
    if (v.type == "A1t4")
        return 64;
    return v.type == " paf" && v.bits == 24 ? 10 : 1;
}

std::vector<Variant> VariantsOf(const QString& type)
{
    const QVariantMap entry = GetSoundFileProperties(TypeCode(type));
    const OutputCapabilities caps = GetOutputCapabilities(TypeCode(type));
    const QVariantList popup = entry.value("numBitsPopup").toList();
    const SettingHook* hook = FindSettingHook(entry.value("settingHook").toString());
    std::vector<Variant> variants;
    for (int i = 0; i < popup.size(); ++i) {
        const QVariantMap item = popup[i].toMap();
        if (!item.contains("tag"))
            continue;
        if (caps.wordLengthIsBitRate && i != entry.value("numBitsPopupDefault").toInt())
            continue;
        Variant v;
        v.type = type;
        v.bits = item.value("tag").toInt();
        const QString text = item.value("text").toString();
        if (!caps.wordLengths.isEmpty() && !caps.wordLengths.contains(SInt16(v.bits)))
            continue;
        // The per-type block as the editor leaves it for this item.
        ConvSpecRef spec = ConvSpec::create();
        spec->setWordLength(v.bits);
        CConvSpec cspec(spec);
        if (hook && hook->wordLength)
            hook->wordLength(&cspec, i, text, v.bits);
        v.specifics = QByteArray(reinterpret_cast<const char*>(cspec.FileTypeSpecifics()), 16);
        const bool sameBits = std::count_if(popup.begin(), popup.end(), [&](const QVariant& o) {
                                  return o.toMap().value("tag").toInt() == v.bits;
                              }) > 1;
        v.label = type + "/" + (sameBits ? text : QString::number(v.bits));
        v.floats = text.contains("floating") || type == "WVfl";
        variants.push_back(v);
    }
    return variants;
}

// The rate an output of `type` gets from `inputRate`: the input's own when
// the rate is kept and the type holds it, else the held rate nearest 32 kHz
// (0: none).
double OutputRateFor(const OutputCapabilities& caps, double inputRate, bool keep)
{
    if (keep)
        return caps.holdsRate(inputRate) ? inputRate : 0.0;
    std::vector<double> candidates(caps.discreteRates.begin(), caps.discreteRates.end());
    if (candidates.empty() && caps.rateClock > 0) {
        // The clock divided by the first whole number that gives a rate
        // the type holds at or below 32 kHz.
        for (double n = std::ceil(caps.rateClock / kTargetRate); caps.rateClock / n >= caps.rateMin; ++n)
            if (caps.holdsRate(caps.rateClock / n)) {
                candidates.push_back(caps.rateClock / n);
                break;
            }
    } else if (candidates.empty()) {
        candidates.push_back(std::clamp(kTargetRate, caps.rateMin > 0 ? caps.rateMin : kTargetRate,
                                        caps.rateMax > 0 ? caps.rateMax : kTargetRate));
    }
    const auto distance = [](double r) { return std::fabs(std::log(r / kTargetRate)); };
    double best = 0;
    for (const double r : candidates)
        if (caps.holdsRate(r) && (best == 0 || distance(r) < distance(best)))
            best = r;
    return best;
}

QString RateText(double inputRate, double outputRate)
{
    return inputRate == outputRate ? QString::number(inputRate)
                                   : QString::number(inputRate) + "->" + QString::number(outputRate);
}

QString ChannelText(int channels)
{
    return channels == 1 ? "mono" : channels == 2 ? "stereo" : QString::number(channels) + "ch";
}

std::vector<Combination> WholeTable()
{
    EngineStartup::buildFileTypeTable();
    std::vector<Combination> table;
    for (const OSType code : GetFileTypeTableCodes()) {
        if (!FileTypeCanBeWritten(code))
            continue;
        const QString type = TypeText(code);
        const QVariantMap entry = GetSoundFileProperties(code);
        const OutputCapabilities caps = GetOutputCapabilities(code);
        // The treatment the editor forces on a type that holds one channel
        // only (or stereo only).
        int treatment = 0;
        if (entry.value("forceChannels").toBool()) {
            const QVariantList items = entry.value("channelHandlingPopup").toList();
            treatment = items.value(entry.value("channelHandlingPopupDefault").toInt()).toMap().value("tag").toInt();
        }
        const bool forcesRate = entry.value("forceSampleRate").toBool() || caps.rateMustBeConverted();
        for (const Variant& v : VariantsOf(type))
            for (const int channels : kChannelCounts) {
                const UInt16 written = caps.splitStereoSet && channels == 2 ? 2 : UInt16(channels);
                if (!caps.holdsChannels(written) && !(caps.splitStereoSet && channels == 2))
                    continue;
                if (treatment && TreatmentOutputChannels(treatment) && TreatmentOutputChannels(treatment) != channels)
                    continue;
                for (int r = 0; r < 3; ++r) {
                    const double out = OutputRateFor(caps, kInputRates[r], r == 0 && !forcesRate);
                    if (out <= 0)
                        continue;
                    for (int p = 0; p < kProcessings; ++p) {
                        Combination c;
                        c.variant = v;
                        c.channels = channels;
                        c.inputRate = kInputRates[r];
                        c.outputRate = out;
                        c.processing = p;
                        c.treatment = treatment;
                        c.forcesRate = forcesRate;
                        c.name = v.label + " " + ChannelText(channels) + " " + RateText(c.inputRate, out) + " " +
                                 kProcessingNames[p];
                        table.push_back(c);
                    }
                }
            }
    }
    return table;
}

int EnvNumber(const char* name, int fallback)
{
    bool ok = false;
    const int n = qEnvironmentVariable(name).toInt(&ok);
    return ok && n > 0 ? n : fallback;
}

// The seed: QM_SOUND_TABLE_SEED, else the day's date (one sample a day).
quint64 Seed()
{
    bool ok = false;
    const quint64 seed = qEnvironmentVariable("QM_SOUND_TABLE_SEED").toULongLong(&ok);
    return ok ? seed : quint64(QDate::currentDate().toString("yyyyMMdd").toULongLong());
}

bool FullTable()
{
    return qEnvironmentVariable("QM_SOUND_TABLE_FULL") == "1";
}

// The combinations this run covers: the pinned ones and a sample (or the
// whole table, or the ones QM_SOUND_TABLE_ONLY names).
std::vector<Combination> Selection()
{
    std::vector<Combination> table = WholeTable();
    const QString only = qEnvironmentVariable("QM_SOUND_TABLE_ONLY");
    if (!only.isEmpty()) {
        const QRegularExpression re(only);
        std::vector<Combination> chosen;
        for (const Combination& c : table)
            if (re.match(c.name).hasMatch())
                chosen.push_back(c);
        return chosen;
    }
    if (FullTable())
        return table;
    std::vector<bool> take(table.size(), false);
    for (std::size_t i = 0; i < table.size(); ++i)
        for (const char* pinned : kPinned)
            take[i] = take[i] || table[i].name == QLatin1String(pinned);
    std::mt19937_64 rng(Seed());
    const int cases = EnvNumber("QM_SOUND_TABLE_CASES", kDefaultCases);
    for (int n = 0; n < cases && table.size() > 0; ++n)
        take[std::size_t(rng() % table.size())] = true;
    std::vector<Combination> chosen;
    for (std::size_t i = 0; i < table.size(); ++i)
        if (take[i])
            chosen.push_back(table[i]);
    return chosen;
}

QString InputStem(int channels, double rate)
{
    return QString("in_%1_%2").arg(ChannelText(channels)).arg(rate);
}

std::vector<std::string> InputNames()
{
    std::vector<std::string> names;
    for (const int channels : kChannelCounts)
        for (const double rate : kInputRates)
            names.push_back(InputStem(channels, rate).toStdString());
    return names;
}

// ------------------------------------------------------------- samples
// Interleaved samples at full scale 1.0.
struct Sound {
    int channels = 0;
    double rate = 0;
    std::vector<double> samples;
    std::size_t frames() const { return channels ? samples.size() / std::size_t(channels) : 0; }
    double at(std::size_t frame, int channel) const
    {
        return samples[frame * std::size_t(channels) + std::size_t(channel)];
    }
};

// The input as a 24-bit WAVE file (written by hand).
bool WriteInput(const QString& path, int channels, double rate)
{
    QByteArray data;
    data.reserve(kInputFrames * channels * 3);
    for (int i = 0; i < kInputFrames; ++i)
        for (int c = 0; c < channels; ++c) {
            const double x = kAmplitude * Envelope(i) * std::sin(2 * M_PI * kTones[c] * i / rate);
            const qint32 word = qint32(std::lround(x * 8388608.0));
            data.append(char(word & 0xFF)).append(char((word >> 8) & 0xFF)).append(char((word >> 16) & 0xFF));
        }
    const auto le32 = [](quint32 v) {
        return QByteArray(1, char(v)) + char(v >> 8) + char(v >> 16) + char(v >> 24);
    };
    const auto le16 = [](quint16 v) { return QByteArray(1, char(v)) + char(v >> 8); };
    QByteArray fmt = le16(1) + le16(quint16(channels)) + le32(quint32(rate)) + le32(quint32(rate) * 3 * channels) +
                     le16(quint16(3 * channels)) + le16(24);
    QByteArray file = "RIFF" + le32(quint32(4 + 8 + fmt.size() + 8 + data.size())) + "WAVE" + "fmt " +
                      le32(quint32(fmt.size())) + fmt + "data" + le32(quint32(data.size())) + data;
    return WriteBytes(path, file);
}

Sound FromS32(const std::vector<SInt32>& words, int channels, double rate)
{
    Sound s;
    s.channels = channels;
    s.rate = rate;
    s.samples.reserve(words.size());
    for (const SInt32 w : words)
        s.samples.push_back(double(w) / 2147483648.0);
    return s;
}

Sound FromF64(const QByteArray& bytes, int channels, double rate)
{
    Sound s;
    s.channels = channels;
    s.rate = rate;
    s.samples.resize(std::size_t(bytes.size()) / 8);
    std::memcpy(s.samples.data(), bytes.constData(), s.samples.size() * 8);
    return s;
}

// What a peer decodes: libsndfile in this process, ffmpeg or sox (as
// 64-bit floats), each with its input options; `how` names it.
struct Decoded {
    Sound sound;
    QString how;
    QString error;
};

Decoded WithSndfile(const QString& path)
{
    Decoded d;
    d.how = "libsndfile";
    const peers::SndfileView view = peers::ReadWithSndfile(path.toStdString());
    if (!view.opened || view.channels <= 0)
        d.error = "libsndfile cannot open it";
    else
        d.sound = FromS32(view.samples, view.channels, view.rate);
    return d;
}

Decoded WithFFmpeg(const QString& path, const QStringList& options, int channels, double rate)
{
    Decoded d;
    d.how = "ffmpeg " + options.join(' ');
    const peers::RunResult r = peers::Run(
        "ffmpeg", QStringList{"-nostdin", "-v", "error"} + options + QStringList{"-i", path, "-f", "f64le", "-"});
    if (r.exitCode != 0)
        d.error = "ffmpeg failed: " + QString::fromUtf8(r.err).trimmed();
    else
        d.sound = FromF64(r.out, channels, rate);
    return d;
}

Decoded WithSox(const QString& path, const QStringList& options, int channels, double rate)
{
    Decoded d;
    d.how = "sox " + options.join(' ');
    const peers::RunResult r =
        peers::Run("sox", QStringList{"-D"} + options + QStringList{path, "-t", "f64", "-"});
    if (r.exitCode != 0)
        d.error = "sox failed: " + QString::fromUtf8(r.err).trimmed();
    else
        d.sound = FromF64(r.out, channels, rate);
    return d;
}

Decoded WithSpandsp(const QString& path, int bits, double rate)
{
    Decoded d;
    d.how = QString("libspandsp G.726 at %1 kbit/s").arg(bits * 8);
    const QByteArray bytes = ReadBytes(path);
    if (bytes.isEmpty()) {
        d.error = "nothing to read";
        return d;
    }
    g726_state_t* state = g726_init(nullptr, bits * 8000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
    std::vector<int16_t> samples(std::size_t(bytes.size()) * 8 / std::size_t(bits) + 16);
    const int n = g726_decode(state, samples.data(), reinterpret_cast<const uint8_t*>(bytes.constData()),
                              int(bytes.size()));
    g726_free(state);
    d.sound.channels = 1;
    d.sound.rate = rate;
    for (int i = 0; i < n; ++i)
        d.sound.samples.push_back(samples[std::size_t(i)] / 32768.0);
    return d;
}

// The reader each type's files get.  A type not named here is read by the
// program itself (the batch command copying it to a 32-bit WAVE file).
enum class Peer { Sndfile, FFmpeg, Sox, Spandsp, Ours };
struct ReaderRule {
    const char* types;
    Peer peer;
    const char* options;  // "{rate}" is the output's rate
};
const ReaderRule kReaders[] = {
    {"AIFF,AIFC,WAVE,BWLN,NxTS,ulaw,NSAL,WVal,WVau,WVfl,caff, paf,.AVR,Sd2f,MMIX,Dawn,A1t4,VOC2,VOC ",
     Peer::Sndfile, ""},
    // libsndfile plays the pad byte of an odd 8SVX body as a frame.
    {"QTAL,QTIF,QTIM,QTUL,Mpg4,MPG1,MPG2,BWMP,DMP3,MSAP,8SVX", Peer::FFmpeg, ""},
    // Sonic files pad their sound to 256 KB: the frames ffprobe counts in
    // the header are the sound.
    {"SAIF,SpSc", Peer::FFmpeg, "{header frames}"},
    {"G729", Peer::FFmpeg, "-f g729"},
    // ffmpeg's G.726 decoder leaves the recommendation's arithmetic at high
    // levels (a 24 kbit/s stream at -1 dBFS diverges for 200 frames where
    // libspandsp and the recommendation do not): libspandsp reads them, its
    // codes packed least significant bits first.
    {"21-4,26-4", Peer::Spandsp, "4"},
    {"23-3,26-3", Peer::Spandsp, "3"},
    {"23-5,26-5", Peer::Spandsp, "5"},
    {"23-2", Peer::Spandsp, "2"},
    {"711a,DALW", Peer::Sox, "-t al -c 1 -r {rate}"},
    {"711u,DULW", Peer::Sox, "-t ul -c 1 -r {rate}"},
    {"DADP", Peer::Sox, "-t vox -c 1 -r {rate}"},
    {"IDAT", Peer::Sox, "-t raw -e signed -b 16 -L -c 2 -r {rate}"},
};

const ReaderRule* ReaderOf(const QString& type)
{
    for (const ReaderRule& r : kReaders)
        if (InList(r.types, type))
            return &r;
    return nullptr;
}

// The linear-PCM and companded types (the rest are lossy codecs).
bool IsLaw(const QString& type)
{
    return InList("ulaw,NSAL,WVal,WVau,QTAL,QTUL,711a,711u,DALW,DULW", type);
}

// ------------------------------------------------------------ analysis
// The least-squares fit of a tone of `frequency` to channel `c` over the
// frames [from, to): its amplitude, and the RMS of what is left.
struct ToneFit {
    double amplitude = 0;
    double residual = 0;
    double rms = 0;
};

ToneFit FitTone(const Sound& s, int c, std::size_t from, std::size_t to, double frequency)
{
    ToneFit fit;
    to = std::min(to, s.frames());
    if (from >= to)
        return fit;
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0, xx = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double w = 2 * M_PI * frequency * double(i) / s.rate;
        const double co = std::cos(w), si = std::sin(w), x = s.at(i, c);
        cc += co * co;
        ss += si * si;
        cs += co * si;
        xc += x * co;
        xs += x * si;
        xx += x * x;
    }
    const double det = cc * ss - cs * cs;
    const double a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det;
    const double n = double(to - from);
    fit.amplitude = std::hypot(a, b);
    fit.rms = std::sqrt(xx / n);
    fit.residual = std::sqrt(std::max(0.0, xx - a * xc - b * xs) / n);
    return fit;
}

double Db(double ratio)
{
    return 20.0 * std::log10(std::max(ratio, 1e-12));
}

// Where the input's stretches land in the output: input frame f maps to
// output frame (f - snipStart) x ratio.
struct Layout {
    double ratio = 1.0;
    double snipStart = 0;  // input frames cut from the start
    std::size_t frames = 0;  // the reference's
    std::size_t Map(double inputFrame) const
    {
        return std::size_t(std::clamp((inputFrame - snipStart) * ratio, 0.0, double(frames)));
    }
};

// --------------------------------------------------------------- tests
class SoundComparison : public BatchTest, public ::testing::WithParamInterface<std::string> {
protected:
    QString replay;  // how to run a failure again

    // The conversion of one combination.
    QVariantMap ConversionFor(const Combination& c, const QString& name) const
    {
        const QByteArray type = c.variant.type.toLatin1();
        QVariantMap conversion = TypedConversion(name.toUtf8().constData(), type.constData(), c.variant.bits,
                                                 c.variant.specifics);
        conversion.insert("QMCSNeedsRedither", false);
        conversion.insert("QMCSCopyExtras", false);
        conversion.insert("QMCSNeedsChannelTreat", c.treatment != 0);
        if (c.treatment)
            conversion.insert("QMCSChannelTreat", c.treatment);
        if (c.outputRate != c.inputRate || c.forcesRate) {
            conversion.insert("QMCSNeedsSampleRateConversion", true);
            conversion.insert("QMCSSampleRate", c.outputRate);
            conversion.insert("QMCSSampleRateConvertQuality", 1);
        }
        switch (c.processing) {
        case kGain:
            conversion.insert("QMCSNeedsGain", true);
            conversion.insert("QMCSNeedsNormalize", true);
            conversion.insert("QMCSCeiling", kCeiling);
            break;
        case kFade:
            conversion.insert("QMCSNeedsFades", true);
            conversion.insert("QMCSFadeInTime", kFadeMs);
            conversion.insert("QMCSFadeOutTime", kFadeMs);
            break;
        case kGate:
            conversion.insert("QMCSNeedsGain", true);
            conversion.insert("QMCSNeedsGate", true);
            conversion.insert("QMCSGateThreshold", kGateThreshold);
            conversion.insert("QMCSGateGapLength", kGateGap);
            conversion.insert("QMCSGateAttenuation", kGateAttenuation);
            break;
        case kSnip:
            conversion.insert("QMCSNeedsSnip", true);
            conversion.insert("QMCSSnipFrom", SnipSeconds(c, kSnipFrom));
            conversion.insert("QMCSSnipTo", SnipSeconds(c, kSnipTo));
            break;
        default:
            break;
        }
        return conversion;
    }

    static double SnipSeconds(const Combination& c, double part)
    {
        return std::round(part * kInputFrames / c.inputRate * 1000.0) / 1000.0;
    }

    // sox's rendering of the combination's steps (the gate left out: it is
    // checked on this), as 64-bit floats.
    Sound Reference(const Combination& c, const QString& input, std::map<QString, Sound>* cache) const
    {
        QStringList effects;
        if (c.processing == kSnip)
            effects << "trim" << QString::number(SnipSeconds(c, kSnipFrom))
                    << "=" + QString::number(SnipSeconds(c, kSnipTo));
        if (c.outputRate != c.inputRate)
            effects << "rate" << "-v" << QString::number(c.outputRate);
        if (c.processing == kGain)
            effects << "gain" << "-n" << QString::number(kCeiling);
        const QString key = input + " " + effects.join(' ') + (c.processing == kFade ? " fades" : "");
        const auto it = cache->find(key);
        if (it != cache->end())
            return it->second;
        peers::RunResult r = peers::Run("sox", QStringList{"-D", input, "-t", "f64", "-"} + effects);
        if (r.exitCode == 0 && c.processing == kFade) {
            // On what the steps before made (its length known): a time
            // becomes the nearest frame, a half frame the later one.
            const QString raw = root + "/unfaded.f64";
            WriteBytes(raw, r.out);
            const QString n = QString::number(std::floor(kFadeMs / 1000.0 * c.outputRate + 0.5)) + "s";
            r = peers::Run("sox", {"-D", "-t", "f64", "-c", QString::number(c.channels), "-r",
                                   QString::number(c.outputRate), raw, "-t", "f64", "-", "fade", "t", n, "-0", n,
                                   "fade", "t", n, "-0", n});
        }
        Sound s = r.exitCode == 0 ? FromF64(r.out, c.channels, c.outputRate) : Sound{};
        (*cache)[key] = s;
        return s;
    }

    // Decodes the output files of `c` (two mono files for a split pair).
    Decoded Decode(const Combination& c, const QStringList& files) const
    {
        const ReaderRule* rule = ReaderOf(c.variant.type);
        const Peer peer = rule ? rule->peer : Peer::Ours;
        std::vector<Decoded> parts;
        for (const QString& file : files) {
            const int channels = files.size() == 2 ? 1 : c.channels;
            QStringList options;
            bool headerFrames = false;
            if (rule && *rule->options)
                for (const QString& word : QString::fromLatin1(rule->options).split(' ')) {
                    if (word == "{header")
                        headerFrames = true;
                    else if (word != "frames}")
                        options << QString(word).replace("{rate}", QString::number(c.outputRate));
                }
            switch (peer) {
            case Peer::Sndfile: parts.push_back(WithSndfile(file)); break;
            case Peer::FFmpeg: parts.push_back(WithFFmpeg(file, options, channels, c.outputRate)); break;
            case Peer::Sox: parts.push_back(WithSox(file, options, channels, c.outputRate)); break;
            case Peer::Spandsp: parts.push_back(WithSpandsp(file, options.value(0).toInt(), c.outputRate)); break;
            case Peer::Ours: parts.push_back(WithOurs(c, file)); break;
            }
            if (!parts.back().error.isEmpty())
                return parts.back();
            if (headerFrames) {
                bool ok = false;
                const std::size_t frames =
                    QString::fromStdString(peers::FFprobeField(file.toStdString(), "duration_ts")).toULongLong(&ok);
                Sound& sound = parts.back().sound;
                if (ok && frames < sound.frames())
                    sound.samples.resize(frames * std::size_t(sound.channels));
            }
        }
        if (parts.size() == 1)
            return parts.front();
        // A split pair: its members side by side.
        Decoded both;
        both.how = parts.front().how;
        both.sound.channels = 2;
        both.sound.rate = c.outputRate;
        const std::size_t frames = std::min(parts[0].sound.frames(), parts[1].sound.frames());
        if (parts[0].sound.frames() != parts[1].sound.frames())
            both.error = QString("the pair's members hold %1 and %2 frames")
                             .arg(parts[0].sound.frames())
                             .arg(parts[1].sound.frames());
        for (std::size_t i = 0; i < frames; ++i) {
            both.sound.samples.push_back(parts[0].sound.samples[i]);
            both.sound.samples.push_back(parts[1].sound.samples[i]);
        }
        return both;
    }

    // The program's own reader: the batch command copies the file to a
    // 32-bit WAVE, which libsndfile reads.
    Decoded WithOurs(const Combination& c, const QString& file) const
    {
        Decoded d;
        d.how = "this program's reader";
        const QString out = root + "/ours/" + QFileInfo(file).path().section('/', -1);
        QDir().mkpath(root + "/ours");
        QVariantMap back = TypedConversion("back", "WAVE", 32, {});
        back.insert("QMCSNeedsRedither", false);
        const QString list = WriteConversions(out + ".plist", {{0, back}});
        const QStringList arguments{"--quiet", "--conversions", list, "-o", out, file};
        RunResult run = Run(arguments);
        // A headerless type it reads only as the raw-file settings say.
        if (run.err.contains("not a sound file"))
            run = Run(QStringList{"--set", "Unrecognized Input File Action=2", "--set",
                                  "Unrecognized Input File Type='" + c.variant.type + "'", "--set",
                                  "Unrecognized Input File Sample Rate=" + QString::number(c.outputRate)} +
                      arguments);
        const QStringList written = FilesUnder(out + "/back");
        if (run.exitCode != 0 || written.size() != 1) {
            d.error = "this program cannot read it back: " + run.err.trimmed();
            return d;
        }
        d = WithSndfile(written.first());
        d.how = "this program's reader";
        return d;
    }

    // Everything wrong with one output, compared with its reference.
    std::vector<std::string> Compare(const Combination& c, const Decoded& decoded, const Sound& reference,
                                     QString* metrics) const
    {
        std::vector<std::string> problems;
        const auto problem = [&](const QString& text) {
            problems.push_back((text + " (read by " + decoded.how + ")").toStdString());
        };
        const Sound& out = decoded.sound;
        if (out.channels != c.channels)
            problem(QString("%1 channels, expected %2").arg(out.channels).arg(c.channels));
        if (std::fabs(out.rate - c.outputRate) > 0.5)
            problem(QString("read at %1 Hz, expected %2 Hz").arg(out.rate).arg(c.outputRate));
        if (!problems.empty())
            return problems;

        Layout layout;
        layout.ratio = c.outputRate / c.inputRate;
        layout.snipStart = c.processing == kSnip ? std::floor(SnipSeconds(c, kSnipFrom) * c.inputRate + 0.5) : 0;
        layout.frames = reference.frames();
        const std::size_t quietFrom = layout.Map(kQuietFrom * kInputFrames);
        const std::size_t quietTo = layout.Map(kQuietTo * kInputFrames);
        const std::size_t margin = std::size_t(kGateMargin * c.outputRate);
        const double attenuation = std::pow(10.0, kGateAttenuation / 20.0);
        // The gate may act only inside the quiet stretch, and must over its
        // interior.
        const auto gateGain = [&](std::size_t frame, double* low, double* high) {
            *low = *high = 1.0;
            if (c.processing != kGate)
                return;
            if (frame >= quietFrom && frame < quietTo)
                *low = attenuation;
            if (frame >= quietFrom + margin && frame + margin < quietTo)
                *high = attenuation;
        };

        const LossyBound* lossy = LossyBoundOf(c.variant.type);
        const QString type = c.variant.type;
        if (!lossy) {
            if (out.frames() != reference.frames())
                problem(QString("%1 frames, expected %2").arg(out.frames()).arg(reference.frames()));
            const bool law = IsLaw(type);
            const int bits = c.variant.floats ? 32 : std::min(c.variant.bits, 32);
            const double step = c.variant.floats ? std::ldexp(1.0, -24) : std::ldexp(1.0, 1 - bits);
            const double steps = kLinearSteps + (c.processing == kFade ? 1 : 0) + (c.processing == kGain ? 1 : 0) +
                                 (bits == 8 ? 1 : 0);
            const bool resampled = c.outputRate != c.inputRate;
            const double bound = steps * step + (resampled ? kResamplerDifference : 0.0);
            const std::size_t cutEdge =
                resampled && c.processing == kSnip ? std::size_t(kCutEdgeSeconds * c.outputRate) : 0;
            double worst = 0, worstRatio = 0;
            std::size_t worstFrame = 0;
            int worstChannel = 0;
            const std::size_t frames = std::min(out.frames(), reference.frames());
            for (std::size_t i = cutEdge; i + cutEdge < frames; ++i) {
                double low, high;
                gateGain(i, &low, &high);
                for (int ch = 0; ch < c.channels; ++ch) {
                    const double r = reference.at(i, ch), y = out.at(i, ch);
                    // The output within the bound of the reference times a
                    // gain between `low` and `high`.
                    const double lo = std::min(r * low, r * high), hi = std::max(r * low, r * high);
                    const double allowed = law ? kLawRelative * std::fabs(r) + kLawFloor : bound;
                    const double error = y < lo ? lo - y : y > hi ? y - hi : 0.0;
                    if (error / allowed > worstRatio) {
                        worstRatio = error / allowed;
                        worst = error;
                        worstFrame = i;
                        worstChannel = ch;
                    }
                }
            }
            *metrics += QString(" worst %1 of the bound (%2)").arg(worstRatio, 0, 'f', 3).arg(worst, 0, 'g', 3);
            if (worstRatio > 1.0)
                problem(QString("frame %1 channel %2 is %3 from the reference (%4 there), beyond the bound %5")
                            .arg(worstFrame)
                            .arg(worstChannel)
                            .arg(worst, 0, 'g', 3)
                            .arg(reference.at(worstFrame, worstChannel), 0, 'g', 6)
                            .arg(law ? kLawRelative * std::fabs(reference.at(worstFrame, worstChannel)) + kLawFloor
                                     : bound,
                                 0, 'g', 3));
            return problems;
        }

        // Lossy: by level and spectrum.
        const long long difference = (long long)(out.frames()) - (long long)(reference.frames());
        if (std::llabs(difference) > lossy->frames)
            problem(QString("%1 frames, expected %2 (within %3)")
                        .arg(out.frames())
                        .arg(reference.frames())
                        .arg(lossy->frames));
        // The loud stretches, clear of fades, of the quiet stretch and of a
        // codec's delay.
        const std::size_t guard = std::size_t(0.06 * c.outputRate);
        const std::pair<std::size_t, std::size_t> loud[] = {
            {layout.Map(0.04 * kInputFrames) + guard, quietFrom - guard},
            {quietTo + guard, layout.Map(0.96 * kInputFrames) - guard}};
        for (int ch = 0; ch < c.channels; ++ch) {
            for (const auto& [from, to] : loud) {
                if (from + 256 > to)
                    continue;
                const ToneFit want = FitTone(reference, ch, from, to, kTones[ch]);
                const ToneFit got = FitTone(out, ch, from, to, kTones[ch]);
                const double level = Db(got.amplitude / want.amplitude);
                const double purity = Db(got.amplitude / std::sqrt(2.0) / got.residual);
                *metrics += QString(" ch%1 level %2 purity %3").arg(ch).arg(level, 0, 'f', 2).arg(purity, 0, 'f', 1);
                if (std::fabs(level) > lossy->level || purity < lossy->purity)
                    problem(QString("channel %1, frames %2 to %3: tone %4 dB from the reference's (bound %5), "
                                    "%6 dB above the rest (bound %7)")
                                .arg(ch)
                                .arg(from)
                                .arg(to)
                                .arg(level, 0, 'f', 2)
                                .arg(lossy->level)
                                .arg(purity, 0, 'f', 1)
                                .arg(lossy->purity));
            }
            // The quiet stretch: no louder than the reference's (attenuated
            // by the gate) and the codec's noise.
            if (quietFrom + margin + 256 < quietTo && quietTo > margin) {
                const std::size_t from = quietFrom + margin, to = quietTo - margin;
                const double want = FitTone(reference, ch, from, to, kTones[ch]).rms *
                                    (c.processing == kGate ? attenuation : 1.0);
                const double got = FitTone(out, ch, from, to, kTones[ch]).rms;
                *metrics += QString(" quiet %1 (want %2)").arg(got, 0, 'g', 3).arg(want, 0, 'g', 3);
                if (got > std::hypot(want * std::pow(10.0, lossy->level / 20.0), lossy->floor))
                    problem(QString("channel %1, the quiet stretch (frames %2 to %3) at %4 dBFS, expected %5 dBFS")
                                .arg(ch)
                                .arg(from)
                                .arg(to)
                                .arg(Db(got), 0, 'f', 1)
                                .arg(Db(want), 0, 'f', 1));
            }
        }
        return problems;
    }
};

// Combinations that fail for faults outside this suite's mends, with the
// fault.  They run and are reported when they pass.
struct KnownFault {
    const char* pattern;  // regular expression on the combination's name
    const char* fault;
};
const KnownFault kKnownFaults[] = {
    {"", ""},
};

const KnownFault* FindKnownFault(const QString& name)
{
    for (const KnownFault& k : kKnownFaults)
        if (*k.pattern && QRegularExpression(k.pattern).match(name).hasMatch())
            return &k;
    return nullptr;
}

// Output channel limits that some encoders set beyond the type table: the
// file fails alone, with these codes.
bool IsEncoderChannelRefusal(const QString& line)
{
    return line.contains("(-23804)") || line.contains("(-24702)") || line.contains("(-24601)");
}

TEST_P(SoundComparison, OutputsSoundAsTheReferenceSays)
{
    QM_REQUIRE_PEER("sox");
    QM_REQUIRE_PEER("ffmpeg");
    QString stem = QString::fromStdString(GetParam());
    const bool flac = stem.endsWith(".flac");
    if (flac) {
        QM_REQUIRE_PEER("flac");
        stem.chop(5);
    }
    const quint64 seed = Seed();
    replay = FullTable() ? QString("QM_SOUND_TABLE_FULL=1")
                         : QString("QM_SOUND_TABLE_SEED=%1 (or QM_SOUND_TABLE_ONLY='<name>')").arg(seed);

    std::vector<Combination> mine;
    int seen = 0;
    const bool every = FullTable() || !qEnvironmentVariable("QM_SOUND_TABLE_ONLY").isEmpty();
    for (const Combination& c : Selection())
        if (InputStem(c.channels, c.inputRate) == stem && (!flac || every || seen++ % 4 == 0))
            mine.push_back(c);
    if (mine.empty())
        GTEST_SKIP() << "no combination of this input in the sample (seed " << seed << ")";

    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    const QString input = root + "/in/" + stem + ".wav";
    ASSERT_TRUE(WriteInput(input, mine.front().channels, mine.front().inputRate));
    const QString batchInput = flac ? root + "/in/" + stem + ".flac" : input;
    if (flac) {
        ASSERT_EQ(peers::Run("flac", {"--silent", "--channel-map=none", "-o", batchInput, input}).exitCode, 0);
    }

    // Every combination of this input in one batch.
    QList<QPair<int, QVariantMap>> conversions;
    for (std::size_t i = 0; i < mine.size(); ++i)
        conversions.append({0, ConversionFor(mine[i], QString("c%1").arg(i))});
    const RunResult run = RunConversions("conversions", conversions, batchInput, root + "/out");
    ASSERT_FALSE(run.crashed) << run.err.toStdString();
    ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.err.toStdString();

    // The lines the batch printed for each conversion.
    std::map<QString, QString> lines;
    static const QRegularExpression said(QStringLiteral("^(\\w+) .*\\(conversion '(c\\d+)'\\): (.*)$"),
                                         QRegularExpression::MultilineOption);
    for (auto it = said.globalMatch(run.err); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        lines[m.captured(2)] = m.captured(1) + " " + m.captured(3);
    }

    std::map<QString, Sound> references;
    int compared = 0, refused = 0, known = 0;
    for (std::size_t i = 0; i < mine.size(); ++i) {
        const Combination& c = mine[i];
        const QString name = QString("c%1").arg(i);
        std::vector<std::string> problems;
        const QString line = lines.count(name) ? lines[name] : QString();
        QString metrics;
        QStringList files;
        for (const QString& file : FilesUnder(root + "/out/" + name))
            if (!QFileInfo(file).fileName().startsWith('.'))
                files.append(file);
        if (line.startsWith("failed") && IsEncoderChannelRefusal(line)) {
            ++refused;
            continue;
        }
        if (files.isEmpty() || files.size() > 2) {
            problems.push_back(("outputs: " + files.join(' ')).toStdString());
        } else {
            Sound reference = Reference(c, input, &references);
            // A format that holds whole groups of frames only: the last
            // group filled with silence, and said on the file's line.
            QString expectedLine;
            const int unit = FramesPerUnit(c.variant);
            if (unit > 1 && reference.frames() % std::size_t(unit) != 0) {
                const std::size_t padded = (reference.frames() / std::size_t(unit) + 1) * std::size_t(unit);
                expectedLine = unit == 64
                                   ? QString("warning was padded with silence to whole packets of 64 frames (IMA "
                                             "4:1): %1 frames written as %2: an AIFF-C IMA 4:1 file holds whole "
                                             "packets of 64 frames and counts packets, not frames")
                                   : QString("warning was padded with silence to whole groups of ten frames (Paris "
                                             "24 bits): %1 frames written as %2: a 24-bit Paris file holds whole "
                                             "groups of ten frames and no frame count");
                expectedLine = expectedLine.arg(reference.frames()).arg(padded);
                reference.samples.resize(padded * std::size_t(reference.channels), 0.0);
            }
            if (line != expectedLine)
                problems.push_back(("the batch said: '" + line + "', expected '" + expectedLine + "'").toStdString());
            const Decoded decoded = Decode(c, files);
            if (reference.samples.empty())
                problems.push_back("sox made no reference");
            else if (!decoded.error.isEmpty())
                problems.push_back(decoded.error.toStdString());
            else
                for (const std::string& p : Compare(c, decoded, reference, &metrics))
                    problems.push_back(p);
            ++compared;
        }
        if (qEnvironmentVariable("QM_SOUND_TABLE_VERBOSE") == "1")
            std::printf("[ metrics ] %s:%s\n", qPrintable(c.name), qPrintable(metrics));
        if (const KnownFault* k = FindKnownFault(c.name)) {
            ++known;
            if (problems.empty())
                std::printf("[ known fault now passes: take it out of the table ] %s (%s)\n", qPrintable(c.name),
                            k->fault);
            continue;
        }
        for (const std::string& p : problems)
            ADD_FAILURE() << qPrintable(c.name) << ": " << p << "\n  seed " << seed
                          << "; replay: " << qPrintable(replay) << " ctest -R SoundComparison";
    }
    std::printf("[ sound table ] %s: %zu combinations (%d compared, %d refused by their encoder, %d known faults), "
                "seed %llu%s\n",
                qPrintable(stem), mine.size(), compared, refused, known, (unsigned long long)seed,
                FullTable() ? " (the whole table)" : "");
}

INSTANTIATE_TEST_SUITE_P(Inputs, SoundComparison, ::testing::ValuesIn(InputNames()), TypeParamName());

std::vector<std::string> FlacInputNames()
{
    std::vector<std::string> names = InputNames();
    for (std::string& name : names)
        name += ".flac";
    return names;
}

INSTANTIATE_TEST_SUITE_P(FlacInputs, SoundComparison, ::testing::ValuesIn(FlacInputNames()), TypeParamName());

}  // namespace
