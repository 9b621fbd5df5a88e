// Damage that reviews found converted as if whole, or said with the wrong
// words or amounts, one row each: the input made by the peers (ffmpeg, sox,
// flac, oggenc, lame) and damaged here, or built by hand, converted by the
// batch, and the line and the output held against what the damage did.
// What a row asks:
//   - Lost, Repeated, Missing: the line says that many seconds lost,
//     repeated, or missing after "unexpected end of file", within a packet
//     (or a tenth) of what the output's length differs from the intact
//     file's decode (`packet`: one packet's frames);
//   - Whole: no line, and the length of the intact file's decode;
//   - Quiet: no line;
//   - Fails: the input fails, its line holding `words`;
//   - Said: a line holding `words`.
// `unsaid`: words the line must not hold.  A row whose mend is pending
// (`pending`, why) is run and must still miss: one that holds is said, so
// that it leaves the list.
#include "CliTestSupport.h"
#include "IntactShapes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <functional>

using namespace clitest;

namespace {

using intactshape::Bytes;

enum class Want { Lost, Repeated, Missing, Whole, Quiet, Fails, Said };

// What a row's input is made of: the intact file (its decode the
// reference) and the bytes converted.
struct Made {
    QString intact;
    Bytes input;
};

class Maker;

struct Row {
    const char* name;
    const char* input;  // the converted file's name
    std::function<Made(Maker&)> make;
    Want want;
    int packet = 0;  // frames of one packet (the tolerance)
    const char* words = nullptr;
    const char* unsaid = nullptr;
    const char* pending = nullptr;  // why the row misses today
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

// Makes sources with sox and encodes with the peers, in one folder.
class Maker {
public:
    explicit Maker(const QString& folder) : folder_(folder) {}

    // `seconds` of a tone at `rate` with `channels` and `bits`, as WAVE.
    QString Tone(int rate, int channels, const QString& seconds, int bits = 16)
    {
        const QString path = QString("%1/tone_%2_%3_%4_%5.wav").arg(folder_).arg(rate).arg(channels).arg(seconds).arg(bits);
        if (!QFile::exists(path)) {
            QStringList a = {"-D", "-r", QString::number(rate), "-n", "-c", QString::number(channels), "-b",
                             QString::number(bits), path, "synth", seconds};
            for (int c = 0; c < channels; ++c)
                a << "sine" << QString::number(440 + 220 * c);
            a << "gain" << "-3";
            EXPECT_TRUE(Sox(a)) << a.join(' ').toStdString();
        }
        return path;
    }
    // The encode of `source` by `program` ({SRC}, {OUT} in `arguments`).
    QString Encode(const QString& name, const QString& program, const QString& arguments, const QString& source)
    {
        const QString out = folder_ + "/" + name;
        QStringList a;
        for (const QString& part : arguments.split(' ', Qt::SkipEmptyParts))
            a << (part == "{SRC}" ? source : part == "{OUT}" ? out : part);
        EXPECT_TRUE(RunPeer(program, a)) << program.toStdString() << " " << a.join(' ').toStdString();
        return out;
    }
    QString FFmpeg(const QString& name, const QString& options, const QString& source)
    {
        return Encode(name, "ffmpeg", "-nostdin -v error -y -i {SRC} " + options + " {OUT}", source);
    }
    static Bytes Read(const QString& path) { return peers::ReadAll(path.toStdString()); }
    QString Write(const QString& name, const Bytes& bytes)
    {
        peers::WriteAll((folder_ + "/" + name).toStdString(), bytes);
        return folder_ + "/" + name;
    }

private:
    QString folder_;
};

// ---------------------------------------------------------------- damage

uint32_t LE32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

void PutBE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (24 - 8 * i));
}

Bytes Head(Bytes b, double share)
{
    b.resize(std::size_t(double(b.size()) * share));
    return b;
}

Bytes Joined(const Bytes& a, const Bytes& b)
{
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

struct Page {
    std::size_t at, size;
};

std::vector<Page> OggPages(const Bytes& b)
{
    std::vector<Page> pages;
    std::size_t at = 0;
    while (at + 27 <= b.size() && std::memcmp(&b[at], "OggS", 4) == 0) {
        std::size_t size = 27 + b[at + 26];
        for (std::size_t i = 0; i < b[at + 26]; ++i)
            size += b[at + 27 + i];
        pages.push_back({at, size});
        at += size;
    }
    return pages;
}

void OggRecheck(Bytes* b, std::size_t at, std::size_t size)
{
    const uint32_t crc = intactshape::OggChecksum(b->data() + at, size);
    PutLE32(b->data() + at + 22, crc);
}

// The page in the middle of an Ogg file of one stream written again after
// itself, given the next number, the pages after it renumbered, every
// checksum made again.
Bytes OggPageRepeated(const Bytes& in)
{
    Bytes b = in;
    const std::vector<Page> pages = OggPages(b);
    if (pages.size() < 4)
        return {};
    const Page mid = pages[pages.size() / 2];
    for (const Page& p : pages)
        if (p.at > mid.at) {
            PutLE32(&b[p.at + 18], LE32(&b[p.at + 18]) + 1);
            OggRecheck(&b, p.at, p.size);
        }
    Bytes copy(b.begin() + std::ptrdiff_t(mid.at), b.begin() + std::ptrdiff_t(mid.at + mid.size));
    PutLE32(&copy[18], LE32(&copy[18]) + 1);
    OggRecheck(&copy, 0, copy.size());
    b.insert(b.begin() + std::ptrdiff_t(mid.at + mid.size), copy.begin(), copy.end());
    return b;
}

// An Ogg file whose last page states `granule`.
Bytes OggLastGranule(Bytes b, int64_t granule)
{
    const std::vector<Page> pages = OggPages(b);
    if (pages.empty())
        return {};
    std::memcpy(&b[pages.back().at + 6], &granule, 8);
    OggRecheck(&b, pages.back().at, pages.back().size);
    return b;
}

// The packets ffprobe lists: position and size.
std::vector<std::pair<qint64, qint64>> Packets(const QString& path)
{
    QByteArray out;
    RunPeer("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries", "packet=pos,size", "-of", "json", path},
        &out);
    std::vector<std::pair<qint64, qint64>> packets;
    for (const QJsonValue& p : QJsonDocument::fromJson(out).object().value("packets").toArray())
        packets.emplace_back(p["pos"].toString().toLongLong(), p["size"].toString().toLongLong());
    return packets;
}

// The middle packet of `path` overwritten by zeros of its size.
Bytes MiddlePacketZeroed(const QString& path)
{
    Bytes b = Maker::Read(path);
    const auto packets = Packets(path);
    if (packets.size() < 4)
        return {};
    const auto [at, size] = packets[packets.size() / 2];
    std::fill(b.begin() + at, b.begin() + at + size, 0);
    return b;
}

// An MPEG-4 file whose sample-size table (of one size for all) lists
// `fewer` samples less; `timesToo`: its times as well (the demuxer then
// reads a shorter track; the media header still states the whole).
Bytes FewerSamplesListed(Bytes b, uint32_t fewer, bool timesToo = false)
{
    const std::string_view view(reinterpret_cast<const char*>(b.data()), b.size());
    const std::size_t stsz = view.find("stsz"), stts = view.find("stts");
    if (stsz == std::string_view::npos || stsz + 16 > b.size() || intactshape::BE32(&b[stsz + 8]) == 0)
        return {};
    PutBE32(&b[stsz + 12], intactshape::BE32(&b[stsz + 12]) - fewer);
    if (timesToo) {
        if (stts == std::string_view::npos || stts + 16 > b.size() || intactshape::BE32(&b[stts + 12]) < fewer)
            return {};
        PutBE32(&b[stts + 12], intactshape::BE32(&b[stts + 12]) - fewer);
    }
    return b;
}

// An MPEG-4 file (its movie box after its data) whose time table states
// twice its duration for the middle sample of its first run: that packet
// decodes to half what it states.
Bytes MiddleSampleStatesTwice(Bytes b)
{
    const std::string_view view(reinterpret_cast<const char*>(b.data()), b.size());
    const std::size_t stts = view.find("stts");
    if (stts == std::string_view::npos || stts + 20 > b.size() || view.find("moov") < view.find("mdat"))
        return {};
    const uint32_t count = intactshape::BE32(&b[stts + 12]), delta = intactshape::BE32(&b[stts + 16]);
    if (count < 3)
        return {};
    // The table and every box holding it grow by the two runs.
    std::vector<std::size_t> boxes;
    for (const char* box : {"stts", "stbl", "minf", "mdia", "trak", "moov"})
        boxes.push_back(view.rfind(box, stts));
    Bytes runs(24);
    for (const auto& [k, value] : {std::pair<int, uint32_t>{0, count / 2}, {1, delta}, {2, 1}, {3, 2 * delta},
                                   {4, count - count / 2 - 1}, {5, delta}})
        PutBE32(&runs[std::size_t(4 * k)], value);
    b.erase(b.begin() + std::ptrdiff_t(stts + 12), b.begin() + std::ptrdiff_t(stts + 20));
    b.insert(b.begin() + std::ptrdiff_t(stts + 12), runs.begin(), runs.end());
    PutBE32(&b[stts + 8], intactshape::BE32(&b[stts + 8]) + 2);
    for (const std::size_t at : boxes)
        PutBE32(&b[at - 4], intactshape::BE32(&b[at - 4]) + 16);
    return b;
}

// The frame count an MP3's Xing or Info frame states set to `frames`, its
// encoder's tag (and the checksums in it) taken away.
Bytes InfoFrameStates(Bytes b, uint32_t frames)
{
    const std::string_view view(reinterpret_cast<const char*>(b.data()), std::min<std::size_t>(b.size(), 4096));
    std::size_t at = view.find("Info");
    if (at == std::string_view::npos)
        at = view.find("Xing");
    if (at == std::string_view::npos || !(b[at + 7] & 1))
        return {};
    PutBE32(&b[at + 8], frames);
    if (const std::size_t tag = view.find("LAME", at); tag != std::string_view::npos)
        std::fill(b.begin() + std::ptrdiff_t(tag), b.begin() + std::ptrdiff_t(tag + 36), 0);
    return b;
}

// A Vorbis file's identification header stating `rate`, its stream given
// the serial `serial`, checksums made again.
Bytes VorbisStates(Bytes b, uint32_t rate, uint32_t serial)
{
    const std::string_view view(reinterpret_cast<const char*>(b.data()), b.size());
    const std::size_t head = view.find("\x01vorbis");
    if (head == std::string_view::npos)
        return {};
    PutLE32(&b[head + 12], rate);
    for (const Page& p : OggPages(b)) {
        PutLE32(&b[p.at + 14], serial);
        OggRecheck(&b, p.at, p.size);
    }
    return b;
}

// An AIFF-C file whose COMM chunk states 0xFFFFFFFF frames.
Bytes UnknownFrameCount(Bytes b)
{
    const std::string_view view(reinterpret_cast<const char*>(b.data()), std::min<std::size_t>(b.size(), 4096));
    const std::size_t comm = view.find("COMM");
    if (comm == std::string_view::npos)
        return {};
    PutBE32(&b[comm + 10], 0xFFFFFFFFu);
    return b;
}

// A VGM tune, gzipped by hand (a stored deflate block), that loops for
// ever: a square wave on the SN76489, one second, the loop back to it.
Bytes EndlessTune()
{
    const Bytes body = {0x50, 0x8E, 0x50, 0x08, 0x50, 0x90, 0x61, 0x44, 0xAC, 0x66};
    Bytes vgm(0x40, 0);
    std::memcpy(vgm.data(), "Vgm ", 4);
    PutLE32(&vgm[0x08], 0x150);
    PutLE32(&vgm[0x0C], 3579545);
    PutLE32(&vgm[0x18], 44100);
    PutLE32(&vgm[0x1C], 0x40 + 6 - 0x1C);
    PutLE32(&vgm[0x20], 44100);
    PutLE32(&vgm[0x34], 0x40 - 0x34);
    vgm.insert(vgm.end(), body.begin(), body.end());
    PutLE32(&vgm[0x04], uint32_t(vgm.size() - 4));
    // gzip: a header, one stored block, the CRC-32 and the length.
    const uint16_t n = uint16_t(vgm.size());
    Bytes gz = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 1, uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)};
    gz.insert(gz.end(), vgm.begin(), vgm.end());
    uint32_t crc = 0xFFFFFFFFu;
    for (const uint8_t v : vgm) {
        crc ^= v;
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    crc = ~crc;
    gz.resize(gz.size() + 8);
    PutLE32(&gz[gz.size() - 8], crc);
    PutLE32(&gz[gz.size() - 4], uint32_t(vgm.size()));
    return gz;
}

// ---------------------------------------------------------------- checks

qint64 FFmpegFrames(const QString& path)
{
    QByteArray pcm;
    RunPeer("ffmpeg", {"-nostdin", "-v", "quiet", "-i", path, "-ac", "1", "-f", "s16le", "-"}, &pcm);
    return pcm.size() / 2;
}

struct Output {
    qint64 frames = -1;
    int rate = 0;
};

Output OutputOf(const QString& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.toUtf8().constData(), SFM_READ, &info);
    if (!file)
        return {};
    sf_close(file);
    return {info.frames, info.samplerate};
}

// The seconds the line says of `kind` ("lost", "repeated", "missing"); -1
// when it says none.
double Said(const QString& line, const char* kind)
{
    const QRegularExpressionMatch m = QRegularExpression(QString("([0-9]+\\.[0-9]+) s %1").arg(kind)).match(line);
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}

// Every row's failures ("" when it holds).
QString Misses(const Row& row, const RunResult& run, const QString& line, const Output& out, qint64 intactFrames)
{
    QStringList misses;
    const auto expect = [&](bool holds, const QString& what) {
        if (!holds)
            misses << what;
    };
    if (row.unsaid && line.contains(row.unsaid))
        misses << QString("says \"%1\"").arg(row.unsaid);
    if (row.words && !line.contains(row.words))
        misses << QString("does not say \"%1\"").arg(row.words);
    switch (row.want) {
    case Want::Fails:
        expect(run.exitCode == 1 && line.startsWith("failed"), "does not fail");
        return misses.join("; ");
    case Want::Said:
        expect(!line.isEmpty(), "says nothing");
        return misses.join("; ");
    case Want::Whole:
        expect(out.frames == intactFrames, QString("%1 frames, the intact file %2").arg(out.frames).arg(intactFrames));
        [[fallthrough]];
    case Want::Quiet:
        expect(line.isEmpty() && run.exitCode == 0, "not clean");
        return misses.join("; ");
    default:
        break;
    }
    if (out.frames < 0 || out.rate <= 0)
        return "no output";
    const char* kind = row.want == Want::Lost ? "lost" : row.want == Want::Repeated ? "repeated" : "missing";
    const double gone = double(std::llabs(intactFrames - out.frames)) / out.rate;
    const double said = Said(line, kind);
    const double tolerance = std::max(double(row.packet) / out.rate, 0.1 * gone) + 0.001;
    expect(said >= 0 && std::fabs(said - gone) <= tolerance,
        QString("%1 s %2 wanted, said %3").arg(gone, 0, 'f', 3).arg(kind).arg(said < 0 ? QString("none")
                                                                                      : QString::number(said, 'f', 3)));
    if (row.want == Want::Missing)
        expect(line.contains("unexpected end of file"), "not said as cut");
    return misses.join("; ");
}

class HeldLengthBatch : public BatchTest, public ::testing::WithParamInterface<Row> {};

TEST_P(HeldLengthBatch, SaysWhatTheDamageDid)
{
    const Row& row = GetParam();
    for (const char* peer : {"ffmpeg", "ffprobe", "sox", "flac", "oggenc", "lame"})
        if (!peers::Have(peer)) {
            if (peers::InCI())
                FAIL() << peer << " is not installed (a peer every CI run needs)";
            GTEST_SKIP() << peer << " is not installed";
        }
    ASSERT_TRUE(QDir().mkpath(root + "/made") && QDir().mkpath(root + "/in"));
    Maker maker(root + "/made");
    const Made made = row.make(maker);
    ASSERT_FALSE(made.input.empty()) << "the damage did not apply";
    const QString input = root + "/in/" + row.input;
    peers::WriteAll(input.toStdString(), made.input);

    // One batch over the input, timed: none may take long.
    const QString out = root + "/out";
    QElapsedTimer timer;
    timer.start();
    const RunResult run = RunConversions("keep", {{0, TypedConversion("Keep", "AIFF", 16, QByteArray())}}, input, out);
    const qint64 took = timer.elapsed();
    ASSERT_FALSE(run.crashed) << run.err.toStdString();
    const QString line = run.err.split('\n').filter(input + ":").join(" | ");
    const QString base = QString(row.input).section('.', 0, -2);
    const Output output = OutputOf(out + "/Keep/" + base + ".aif");
    const qint64 intactFrames = made.intact.isEmpty() ? -1 : FFmpegFrames(made.intact);
    QString misses = Misses(row, run, line, output, intactFrames);
    if (took > 20000)
        misses += QString("%1took %2 s").arg(misses.isEmpty() ? "" : "; ").arg(took / 1000);
    const std::string seen = "line: " + (line.isEmpty() ? std::string("none") : line.toStdString()) + "; " +
                             std::to_string(output.frames) + " frames, the intact file " +
                             std::to_string(intactFrames);
    if (row.pending) {
        EXPECT_FALSE(misses.isEmpty()) << "holds now: take it off the pending list (" << row.pending << ")\n" << seen;
        return;
    }
    EXPECT_TRUE(misses.isEmpty()) << misses.toStdString() << "\n" << seen;
}

// The sources: three seconds of a stereo tone at 44.1 kHz (48 kHz for the
// coders of that rate), a mono one at 8 kHz.
QString Take(Maker& m)
{
    return m.Tone(44100, 2, "3");
}
QString Take48(Maker& m)
{
    return m.Tone(48000, 2, "3");
}

Made CutWave(Maker& m, const char* name, const char* codec, const QString& source)
{
    const QString intact = m.FFmpeg(name, QString("-c:a %1").arg(codec), source);
    return {intact, Head(Maker::Read(intact), 0.6)};
}

// The first `bytes` of ffmpeg's encode (with `options`) of the take.
Made FirstBytes(Maker& m, const char* name, const char* options, std::size_t bytes)
{
    const QString intact = m.FFmpeg(name, options, Take(m));
    Bytes b = Maker::Read(intact);
    b.resize(std::min(bytes, b.size()));
    return {intact, b};
}

Made Repeated(const QString& intact)
{
    return {intact, OggPageRepeated(Maker::Read(intact))};
}

INSTANTIATE_TEST_SUITE_P(Rows, HeldLengthBatch,
    ::testing::Values(
        // A compressed WAVE cut: its 'fact' chunk states the frames.
        Row{"ac3_wave_cut", "ac3.wav", [](Maker& m) { return CutWave(m, "ac3.wav", "ac3", Take(m)); }, Want::Missing,
            1536},
        Row{"ima_wave_cut", "ima.wav", [](Maker& m) { return CutWave(m, "ima.wav", "adpcm_ima_wav", Take(m)); },
            Want::Missing, 2036},
        Row{"gsm_wave_cut", "gsm.wav",
            [](Maker& m) { return CutWave(m, "gsm.wav", "gsm_ms", m.Tone(8000, 1, "3")); }, Want::Missing, 320,
            nullptr, " s lost"},
        // RF64 and Wave64 cut: their data sizes state the length.
        Row{"rf64_cut", "rf64.wav", [](Maker& m) { return FirstBytes(m, "rf64.wav", "-rf64 always", 100000); },
            Want::Missing, 1024},
        Row{"w64_cut", "cut.w64", [](Maker& m) { return FirstBytes(m, "w64.w64", "", 100000); }, Want::Missing, 1024},
        // An MPEG-4 sample table listing four samples fewer than its times.
        Row{"eac3_mp4_fewer_samples", "eac3.mp4",
            [](Maker& m) {
                const QString intact = m.FFmpeg("eac3.mp4", "-c:a eac3", Take48(m));
                return Made{intact, FewerSamplesListed(Maker::Read(intact), 4)};
            },
            Want::Lost, 1536},
        Row{"eac3_mp4_table_shortened", "short.mp4",
            [](Maker& m) {
                const QString intact = m.FFmpeg("short.mp4", "-c:a eac3", Take48(m));
                return Made{intact, FewerSamplesListed(Maker::Read(intact), 4, true)};
            },
            Want::Lost, 1536},
        // A packet of a codec whose packets state their frames exactly that
        // decodes to fewer than its container states: refused whole (what
        // it gave is not passed through).
        Row{"alac_mp4_sample_states_more", "more.m4a",
            [](Maker& m) {
                const QString intact = m.FFmpeg("more.m4a", "-c:a alac", Take(m));
                return Made{intact, MiddleSampleStatesTwice(Maker::Read(intact))};
            },
            Want::Said, 0, "1 of 32 packets refused by the decoder, 0.186 s replaced by silence"},
        // An Ogg page written again, renumbered, its checksum valid.
        Row{"vorbis_page_repeated", "vorbis.ogg",
            [](Maker& m) { return Repeated(m.FFmpeg("vorbis.ogg", "-c:a libvorbis -page_duration 250000", Take(m))); },
            Want::Repeated, 2048},
        Row{"ogg_flac_page_repeated", "flac.oga",
            [](Maker& m) { return Repeated(m.Encode("flac.oga", "flac", "--silent --ogg -f -o {OUT} {SRC}", Take(m))); },
            Want::Repeated, 4608},
        Row{"opus_120ms_page_repeated", "opus.opus",
            [](Maker& m) {
                return Repeated(m.FFmpeg("opus.opus", "-c:a libopus -frame_duration 120 -page_duration 250000", Take48(m)));
            },
            Want::Repeated, 5760},
        // A raw frame overwritten by zeros of its size.
        Row{"mp3_frame_zeroed", "frame.mp3",
            [](Maker& m) {
                const QString intact = m.Encode("frame.mp3", "lame", "--quiet -t {SRC} {OUT}", Take(m));
                return Made{intact, MiddlePacketZeroed(intact)};
            },
            Want::Lost, 1152},
        Row{"mp2_frame_zeroed", "frame.mp2",
            [](Maker& m) {
                const QString intact = m.FFmpeg("frame.mp2", "-c:a mp2", Take(m));
                return Made{intact, MiddlePacketZeroed(intact)};
            },
            Want::Lost, 1152},
        Row{"adts_frame_zeroed", "frame.aac",
            [](Maker& m) {
                const QString intact = m.FFmpeg("frame.aac", "-c:a aac -f adts", Take(m));
                return Made{intact, MiddlePacketZeroed(intact)};
            },
            Want::Lost, 1024},
        // An intact RF64 file whose data ends on its pad byte.
        Row{"rf64_odd_bytes", "odd.wav",
            [](Maker& m) {
                const QString source = m.Tone(44100, 1, "4095s", 24);
                return Made{source, Maker::Read(m.FFmpeg("odd.wav", "-c:a pcm_s24le -rf64 always", source))};
            },
            Want::Whole},
        // Joined to itself: the second copy is repeated, nothing lost.
        Row{"opus_joined_to_itself", "self.opus",
            [](Maker& m) {
                const QString intact = m.FFmpeg("self.opus", "-c:a libopus", Take48(m));
                const Bytes b = Maker::Read(intact);
                return Made{intact, Joined(b, b)};
            },
            Want::Repeated, 960, nullptr, "refused"},
        Row{"flac_joined_to_itself", "self.flac",
            [](Maker& m) {
                const QString intact = m.Encode("self.flac", "flac", "--silent -f -o {OUT} {SRC}", Take(m));
                const Bytes b = Maker::Read(intact);
                return Made{intact, Joined(b, b)};
            },
            Want::Repeated, 4096},
        // Raw AAC at two rates, one after the other: whole.
        Row{"adts_7350_then_96000", "rates.aac",
            [](Maker& m) {
                const QString low = m.FFmpeg("low.aac", "-c:a aac -f adts", m.Tone(7350, 1, "1.5"));
                const QString high = m.FFmpeg("high.aac", "-c:a aac -f adts", m.Tone(96000, 1, "1.5"));
                return Made{QString(), Joined(Maker::Read(low), Maker::Read(high))};
            },
            Want::Quiet},
        // A frame of a lame MP3 with an Info frame zeroed: lost, not cut.
        Row{"lame_info_frame_zeroed", "info.mp3",
            [](Maker& m) {
                const QString intact = m.Encode("info.mp3", "lame", "--quiet {SRC} {OUT}", Take(m));
                return Made{intact, MiddlePacketZeroed(intact)};
            },
            Want::Lost, 1152, nullptr, "unexpected end of file"},
        // The two halves of a FLAC file of 65535-frame blocks swapped.
        Row{"flac_big_blocks_halves_swapped", "halves.flac",
            [](Maker& m) {
                const QString intact = m.Encode("halves.flac", "flac", "--silent -f -b 65535 --lax -o {OUT} {SRC}", Take(m));
                const Bytes b = Maker::Read(intact);
                const std::size_t half = b.size() / 2;
                Bytes swapped(b.begin() + std::ptrdiff_t(half), b.end());
                swapped.insert(swapped.end(), b.begin(), b.begin() + std::ptrdiff_t(half));
                return Made{intact, swapped};
            },
            Want::Lost, 4096},
        // Lengths that cannot be true: said as such, never as an amount.
        Row{"mp3_info_states_no_frames", "zero.mp3",
            [](Maker& m) {
                const QString intact = m.Encode("zero.mp3", "lame", "--quiet {SRC} {OUT}", Take(m));
                Bytes b = InfoFrameStates(Maker::Read(intact), 0);
                b.resize(std::min<std::size_t>(b.size(), 4096));
                return Made{intact, b};
            },
            Want::Said, 0, "unexpected end of file", " s repeated"},
        Row{"ogg_last_granule_max", "granule.ogg",
            [](Maker& m) {
                const QString intact = m.FFmpeg("granule.ogg", "-c:a libvorbis", Take(m));
                return Made{intact, OggLastGranule(Maker::Read(intact), INT64_MAX)};
            },
            Want::Said, 0, nullptr, " s lost"},
        // An AIFF-C IMA 4:1 file whose frame count is the placeholder
        // "to the end": read to the end.
        Row{"aifc_ima4_count_unknown", "count.aifc",
            [](Maker& m) {
                const QString intact = m.FFmpeg("count.aifc", "-c:a adpcm_ima_qt -f aiff", Take(m));
                return Made{intact, UnknownFrameCount(Maker::Read(intact))};
            },
            Want::Whole},
        // Chains settled alike: a link of another channel count fails as
        // the Vorbis chain does; a link stating an absurd rate is said.
        Row{"ogg_flac_chain_channels", "chain.oga",
            [](Maker& m) {
                const QString a = m.Encode("a.oga", "flac", "--silent -f --ogg --serial-number=1 -o {OUT} {SRC}", Take(m));
                const QString b = m.Encode("b.oga", "flac", "--silent -f --ogg --serial-number=2 -o {OUT} {SRC}",
                                           m.Tone(44100, 1, "2"));
                return Made{QString(), Joined(Maker::Read(a), Maker::Read(b))};
            },
            Want::Fails, 0, "another number of channels"},
        Row{"ogg_flac_chain_word_length", "bits.oga",
            [](Maker& m) {
                const QString a = m.Encode("a.oga", "flac", "--silent -f --ogg --serial-number=1 -o {OUT} {SRC}", Take(m));
                const QString b = m.Encode("c.oga", "flac", "--silent -f --ogg --serial-number=3 -o {OUT} {SRC}",
                                           m.Tone(44100, 2, "2", 24));
                return Made{QString(), Joined(Maker::Read(a), Maker::Read(b))};
            },
            Want::Fails, 0, "another word length"},
        Row{"vorbis_link_rate_max", "link.ogg",
            [](Maker& m) {
                const QString a = m.Encode("a.ogg", "oggenc", "-Q -o {OUT} {SRC}", Take(m));
                const Bytes b = Maker::Read(a);
                return Made{QString(), Joined(b, VorbisStates(b, 0xFFFFFFFFu, 77))};
            },
            Want::Fails, 0, "another sample rate"},
        Row{"ogg_flac_32_bit", "wide.oga",
            [](Maker& m) {
                const QString source = m.Tone(44100, 1, "1.2", 32);
                return Made{source, Maker::Read(m.Encode("wide.oga", "flac", "--silent -f --ogg -o {OUT} {SRC}", source))};
            },
            Want::Whole},
        // Game music that plays for ever: refused at once.
        Row{"game_music_without_end", "tune.vgz", [](Maker&) { return Made{QString(), EndlessTune()}; }, Want::Fails,
            0, "game music"}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
