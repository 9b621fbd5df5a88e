// Damaged, cut and very short compressed inputs through quillmarch-batch:
// an input of which nothing decodes fails alone with its reason; one whose
// packets the decoder partly refuses converts with a warning saying how
// much; a cut one converts what decodes, with the cut-file warning; a short
// one converts what ffmpeg decodes from it.  Nothing converts silently.
// The inputs are written by ffmpeg, sox and lame and damaged here: the
// middle of packets ffprobe places, a stretch of bytes, or the file's end
// cut off (also where its first packet begins).
#include "CliTestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

enum class Damage {
    None,
    Packets,  // the middle half of packets [first, last) (last 0: to the end)
    Bytes,  // 600 bytes from the middle of the file
    Cut,  // the file ends at `cut` of its length
    BeforeSound,  // the file ends where its first packet begins (after an Ogg file's header pages)
    CutUnstated,  // as Cut, the FLAC STREAMINFO's length set to 0 (unknown) first
};

enum class Outcome {
    Fails,  // exit 1, its reason
    Silenced,  // converts at full length; the refused packets' time is said
    Lost,  // converts what decodes; the time lost is said
    Damaged,  // converts with the damage warning (the amount not checked)
    Cut,  // converts what ffmpeg decodes, "unexpected end of file"
    CutBy,  // as Cut, with the time missing that the header states
    Clean,  // converts what ffmpeg decodes, no warning
};

struct DamageCase {
    const char* name;
    const char* input;  // the file's name
    const char* program;  // the peer that writes it from {SRC} into {OUT}
    const char* arguments;
    const char* source;  // sox's arguments for {SRC} ({WAV}) after "-n"
    Damage damage;
    int first, last;
    double cut;
    Outcome outcome;
    const char* reason;  // in the input's line (Fails, Damaged)
};

// The frames ffmpeg decodes from a file (0 when it decodes none).
qint64 FFmpegFrames(const QString& path)
{
    QByteArray pcm;
    RunPeer("ffmpeg", {"-nostdin", "-loglevel", "quiet", "-i", path, "-ac", "1", "-f", "s16le", "-"}, &pcm);
    return pcm.size() / 2;
}

int SampleRate(const QString& path)
{
    QByteArray out;
    RunPeer("ffprobe",
        {"-v", "error", "-select_streams", "a:0", "-show_entries", "stream=sample_rate", "-of", "csv=p=0", path}, &out);
    return out.trimmed().toInt();
}

// The byte ranges (position, size) of the sound track's packets.
QList<QPair<qint64, qint64>> PacketRanges(const QString& path)
{
    QByteArray out;
    RunPeer("ffprobe",
        {"-v", "error", "-select_streams", "a:0", "-show_entries", "packet=pos,size", "-of", "json", path}, &out);
    QList<QPair<qint64, qint64>> ranges;
    for (const QJsonValue& packet : QJsonDocument::fromJson(out).object().value("packets").toArray())
        ranges.append({packet["pos"].toString().toLongLong(), packet["size"].toString().toLongLong()});
    return ranges;
}

void Overwrite(QByteArray* bytes, qint64 from, qint64 to)
{
    for (qint64 k = std::max<qint64>(from, 0); k < std::min<qint64>(to, bytes->size()); ++k)
        (*bytes)[k] = char((k * 131 + 7) & 0xFF);
}

void PrintTo(const DamageCase& c, std::ostream* os)
{
    *os << c.name;
}

class DamagedInputBatchTest : public BatchTest, public ::testing::WithParamInterface<DamageCase> { };

TEST_P(DamagedInputBatchTest, NeverConvertsSilently)
{
    const DamageCase& c = GetParam();
    QM_REQUIRE_PEER("ffmpeg");
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    const QString source = root + "/source.wav";
    const QString intact = root + "/intact_" + c.input;
    const auto expand = [&](const char* text) {
        QStringList arguments;
        for (const QString& a : QString::fromLatin1(text).split(' ', Qt::SkipEmptyParts))
            arguments << QString(a).replace("{SRC}", source).replace("{WAV}", source).replace("{OUT}", intact);
        return arguments;
    };
    ASSERT_TRUE(Sox(QStringList{"-D", "-n"} + expand(c.source))) << c.source;
    ASSERT_TRUE(RunPeer(c.program, expand(c.arguments))) << c.arguments;

    // The damage.
    QByteArray bytes = ReadBytes(intact);
    ASSERT_FALSE(bytes.isEmpty());
    int damaged = 0;
    if (c.damage == Damage::Packets) {
        const QList<QPair<qint64, qint64>> packets = PacketRanges(intact);
        const int last = c.last > 0 ? c.last : int(packets.size()) + c.last;
        ASSERT_LT(c.first, last);
        ASSERT_LE(last, packets.size());
        for (int i = c.first; i < last; ++i, ++damaged)
            Overwrite(&bytes, packets[i].first + packets[i].second / 4, packets[i].first + packets[i].second * 3 / 4);
    } else if (c.damage == Damage::Bytes) {
        Overwrite(&bytes, bytes.size() / 2, bytes.size() / 2 + 600);
    } else if (c.damage == Damage::Cut || c.damage == Damage::CutUnstated) {
        if (c.damage == Damage::CutUnstated) {
            ASSERT_EQ(bytes.left(4), QByteArray("fLaC"));
            bytes[8 + 13] = char(bytes[8 + 13] & 0xF0);
            bytes.replace(8 + 14, 4, QByteArray(4, '\0'));
        }
        bytes.truncate(qsizetype(double(bytes.size()) * c.cut));
    } else if (c.damage == Damage::BeforeSound) {
        const QList<QPair<qint64, qint64>> packets = PacketRanges(intact);
        ASSERT_FALSE(packets.isEmpty());
        ASSERT_GT(packets[0].first, 0);
        bytes.truncate(packets[0].first);
    }
    const QString input = root + "/in/" + c.input;
    ASSERT_TRUE(WriteBytes(input, bytes));

    // Every file is described without a crash or a hang.
    const RunResult info = Run({"--info", input});
    ASSERT_FALSE(info.crashed);
    EXPECT_EQ(info.exitCode, c.outcome == Outcome::Fails ? 1 : 0) << info.out.toStdString();
    // Its description tells how the length and losses were judged: a line
    // per rule, the verdict last, which agrees with the warning.
    if (c.outcome != Outcome::Fails) {
        const QJsonArray lines =
            QJsonDocument::fromJson(info.out.split('\n').first().toUtf8()).object().value("verdict").toArray();
        ASSERT_GE(lines.size(), 2) << info.out.toStdString();
        const QString verdict = lines.last().toString();
        EXPECT_TRUE(verdict.startsWith("verdict: ")) << verdict.toStdString();
        EXPECT_EQ(verdict.contains("; cut"), c.outcome == Outcome::Cut || c.outcome == Outcome::CutBy)
            << verdict.toStdString();
        // No count said is a placeholder standing for "not known".
        for (const QJsonValue& l : lines)
            EXPECT_FALSE(l.toString().contains(QRegularExpression("[0-9]{16}"))) << l.toString().toStdString();
    }

    const QString out = root + "/out";
    const RunResult run = RunConversions("keep", {{0, TypedConversion("Keep", "AIFF", 16, QByteArray())}}, input, out);
    ASSERT_FALSE(run.crashed);
    const QString log = ReadText(LogPathFromOutput(run.out));
    const QString base = QString::fromLatin1(c.input).section('.', 0, 0);
    // An input whose extension names no type the batch knows keeps it.
    const QString output = out + "/Keep/" + (QFile::exists(out + "/Keep/" + base + ".aif") ? base : c.input) + ".aif";
    const QString line = run.err.split('\n').filter(input).join('\n');
    // The log names a converted input without its extension.
    const QString logLine = log.split('\n').filter(QRegularExpression("^[ *]" + base + "(\\.[a-z0-9]+)? ")).join('\n');
    const auto said = [&] {
        return "stderr: " + run.err.toStdString() + "\nlog: " + log.toStdString();
    };

    const double rate = SampleRate(intact);
    const auto seconds = [&](qint64 frames) {
        return QString::number(double(frames) / rate, 'f', 3);
    };
    QString warning;
    switch (c.outcome) {
    case Outcome::Fails:
        EXPECT_EQ(run.exitCode, 1) << said();
        EXPECT_TRUE(line.startsWith("failed " + input + ": " + c.reason)) << said();
        EXPECT_TRUE(logLine.startsWith('*') && logLine.contains(c.reason)) << said();
        EXPECT_FALSE(QFile::exists(output));
        return;
    case Outcome::Silenced: {
        // The refused packets' frames are what ffmpeg, which drops them,
        // decodes fewer; the output keeps the intact file's length.
        const qint64 whole = FFmpegFrames(intact);
        const qint64 lost = whole - FFmpegFrames(input);
        ASSERT_GT(lost, 0) << "the damage was refused by ffmpeg's decoder";
        warning = QStringLiteral("has sound that could not be decoded: %1 of %2 packets refused by the decoder, "
                                 "%3 s replaced by silence")
                      .arg(damaged)
                      .arg(PacketRanges(intact).size())
                      .arg(seconds(lost));
        EXPECT_EQ(FFmpegFrames(output), whole);
        break;
    }
    case Outcome::Lost: {
        // What ffmpeg decodes, no more; the time said lost is what it
        // decodes fewer (give or take the codec's own delay), and the
        // refused packets are those damaged.
        const qint64 decoded = FFmpegFrames(input);
        const qint64 lost = FFmpegFrames(intact) - decoded;
        ASSERT_GT(lost, 0);
        EXPECT_EQ(FFmpegFrames(output), decoded);
        const QRegularExpressionMatch m = QRegularExpression(
            "has sound that could not be decoded: (?:([0-9]+) of [0-9]+ packets refused by the decoder, )?"
            "([0-9.]+) s lost$")
                                              .match(line);
        ASSERT_TRUE(m.hasMatch()) << said();
        if (c.damage == Damage::Packets && !m.captured(1).isEmpty()) {
            EXPECT_EQ(m.captured(1).toInt(), damaged) << said();
        }
        EXPECT_NEAR(m.captured(2).toDouble(), double(lost) / rate, 0.02) << said();
        warning = m.captured(0);
        break;
    }
    case Outcome::Damaged:
        warning = c.reason;
        break;
    case Outcome::Cut:
        warning = QStringLiteral("unexpected end of file");
        EXPECT_EQ(FFmpegFrames(output), FFmpegFrames(input));
        break;
    case Outcome::CutBy: {
        const qint64 decoded = FFmpegFrames(input);
        EXPECT_EQ(FFmpegFrames(output), decoded);
        const QRegularExpressionMatch m =
            QRegularExpression("unexpected end of file: ([0-9.]+) s missing$").match(line);
        ASSERT_TRUE(m.hasMatch()) << said();
        EXPECT_NEAR(m.captured(1).toDouble(), double(FFmpegFrames(intact) - decoded) / rate, 0.03) << said();
        warning = m.captured(0);
        break;
    }
    case Outcome::Clean:
        EXPECT_TRUE(QFile::exists(output)) << said();
        EXPECT_EQ(FFmpegFrames(output), FFmpegFrames(input));
        EXPECT_TRUE(line.isEmpty()) << said();
        EXPECT_EQ(run.exitCode, 0) << said();
        return;
    }
    EXPECT_EQ(run.exitCode, 0) << said();
    EXPECT_TRUE(line.startsWith("warning " + input + ": " + warning)) << warning.toStdString() << "\n" << said();
    EXPECT_TRUE(logLine.startsWith(' ') && logLine.contains(warning)) << said();
}

std::string CaseName(const ::testing::TestParamInfo<DamageCase>& info)
{
    return info.param.name;
}

constexpr const char* kUndecodable = "has no sound that can be decoded";
// Sources: 1.5 s of a stereo tone at 44.1 kHz; a few milliseconds of a mono
// tone at 8 kHz.
constexpr const char* kTake = "-r 44100 -c 2 -b 16 {WAV} synth 1.5 sine 440 sine 660 gain -3";
constexpr const char* kBlip = "-r 8000 -c 1 -b 16 {WAV} synth 229s sine 440";
constexpr const char* kAAC = "-nostdin -loglevel error -y -i {SRC} -c:a aac {OUT}";
constexpr const char* kMovie = "-nostdin -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=10:duration=1.5 "
                               "-i {SRC} -c:v mpeg4 -c:a aac -shortest {OUT}";
constexpr const char* kFLAC = "-nostdin -loglevel error -y -i {SRC} {OUT}";
constexpr const char* kTake32 = "-r 44100 -c 2 -b 32 {WAV} synth 1.5 sine 440 sine 660 gain -3";
constexpr const char* kFLAC32 = "--silent -o {OUT} {SRC}";
constexpr const char* kFLACPicture = "--silent --picture=3|image/png||1x1x24|{SRC} -o {OUT} {SRC}";

INSTANTIATE_TEST_SUITE_P(Inputs, DamagedInputBatchTest,
    ::testing::Values(DamageCase{"aac_m4a_all_packets", "all.m4a", "ffmpeg", kAAC, kTake, Damage::Packets, 0, 0, 0,
                          Outcome::Fails, kUndecodable},
        DamageCase{"aac_m4a_some_packets", "some.m4a", "ffmpeg", kAAC, kTake, Damage::Packets, 10, 14, 0,
            Outcome::Silenced, nullptr},
        DamageCase{"aac_m4a_cut", "cut.m4a", "ffmpeg",
            "-nostdin -loglevel error -y -i {SRC} -c:a aac -movflags +faststart {OUT}", kTake, Damage::Cut, 0, 0, 0.6,
            Outcome::Cut, nullptr},
        DamageCase{"aac_mp4_video_all_packets", "movie.mp4", "ffmpeg", kMovie, kTake, Damage::Packets, 0, 0, 0,
            Outcome::Fails, kUndecodable},
        DamageCase{"aac_mp4_video_some_packets", "movie2.mp4", "ffmpeg", kMovie, kTake, Damage::Packets, 20, 23, 0,
            Outcome::Silenced, nullptr},
        DamageCase{"alac_m4a_some_packets", "alac.m4a", "ffmpeg",
            "-nostdin -loglevel error -y -i {SRC} -c:a alac {OUT}", kTake, Damage::Packets, 3, 5, 0, Outcome::Silenced,
            nullptr},
        DamageCase{"alac_caf_some_packets", "alac.caf", "ffmpeg",
            "-nostdin -loglevel error -y -i {SRC} -c:a alac -f caf {OUT}", kTake, Damage::Packets, 3, 5, 0,
            Outcome::Lost, nullptr},
        DamageCase{"flac_ffmpeg_all_packets", "all.flac", "ffmpeg", kFLAC, kTake, Damage::Packets, 0, 0, 0,
            Outcome::Fails, kUndecodable},
        DamageCase{"flac_ffmpeg_some_packets", "some.flac", "ffmpeg", kFLAC, kTake, Damage::Packets, 4, 6, 0,
            Outcome::Silenced, nullptr},
        DamageCase{"flac_sox_some_packets", "sox.flac", "sox", "{SRC} {OUT}", kTake, Damage::Packets, 4, 6, 0,
            Outcome::Silenced, nullptr},
        DamageCase{
            "flac_ffmpeg_cut", "cut.flac", "ffmpeg", kFLAC, kTake, Damage::Cut, 0, 0, 0.7, Outcome::Cut, nullptr},
        DamageCase{
            "flac_sox_cut", "soxcut.flac", "sox", "{SRC} {OUT}", kTake, Damage::Cut, 0, 0, 0.55, Outcome::Cut, nullptr},
        DamageCase{"mp3_bytes", "bytes.mp3", "lame", "--quiet {SRC} {OUT}", kTake, Damage::Bytes, 0, 0, 0,
            Outcome::Damaged, "has sound that could not be decoded: "},
        DamageCase{
            "mp3_cut", "cut.mp3", "lame", "--quiet {SRC} {OUT}", kTake, Damage::Cut, 0, 0, 0.6, Outcome::Cut, nullptr},
        DamageCase{"mp3_lame_tagged_blip", "blip.mp3", "lame", "--quiet -b 32 {SRC} {OUT}", kBlip, Damage::None, 0, 0,
            0, Outcome::Clean, nullptr},
        DamageCase{"opus_damaged_page", "page.opus", "ffmpeg",
            "-nostdin -loglevel error -y -i {SRC} -c:a libopus {OUT}", kTake, Damage::Packets, 30, 31, 0, Outcome::Lost,
            nullptr},
        DamageCase{"vorbis_one_second", "second.ogg", "ffmpeg",
            "-nostdin -loglevel error -y -i {SRC} -c:a libvorbis {OUT}", "-r 44100 -c 2 -b 16 {WAV} synth 1 sine 440",
            Damage::None, 0, 0, 0, Outcome::Clean, nullptr},
        DamageCase{"wma_cut", "cut.wma", "ffmpeg", "-nostdin -loglevel error -y -i {SRC} -c:a wmav2 {OUT}", kTake,
            Damage::Cut, 0, 0, 0.5, Outcome::Cut, nullptr},
        DamageCase{"aac_m4a_cut_before_movie_box", "moov.m4a", "ffmpeg", kAAC, kTake, Damage::Cut, 0, 0, 0.6,
            Outcome::Fails, "unexpected end of file"},
        DamageCase{"opus_webm_cut", "cut.webm", "ffmpeg", "-nostdin -loglevel error -y -i {SRC} -c:a libopus {OUT}",
            kTake, Damage::Cut, 0, 0, 0.5, Outcome::CutBy, nullptr},
        DamageCase{"flac_cut_in_padding", "padding.flac", "flac", "--silent --padding=65536 -o {OUT} {SRC}", kTake,
            Damage::Cut, 0, 0, 0.1, Outcome::Fails, "unexpected end of file"},
        DamageCase{"vorbis_cut_after_headers", "headers.ogg", "ffmpeg",
            "-nostdin -loglevel error -y -i {SRC} -c:a libvorbis {OUT}", kTake, Damage::BeforeSound, 0, 0, 0,
            Outcome::Fails, "unexpected end of file"},
        DamageCase{"opus_cut_after_headers", "headers.opus", "opusenc", "--quiet {SRC} {OUT}", kTake,
            Damage::BeforeSound, 0, 0, 0, Outcome::Fails, "unexpected end of file"},
        // Less than one whole frame of AAC, and oggenc's output for no
        // sound: packets that decode to nothing, an empty track.
        DamageCase{"aac_m4a_one_frame", "one.m4a", "ffmpeg", kAAC, "-r 44100 -c 1 -b 16 {WAV} synth 1s sine 440",
            Damage::None, 0, 0, 0, Outcome::Clean, nullptr},
        DamageCase{"vorbis_oggenc_empty", "empty.ogg", "oggenc", "-Q -o {OUT} {SRC}", "-r 44100 -c 2 -b 16 {WAV} trim 0 0",
            Damage::None, 0, 0, 0, Outcome::Clean, nullptr},
        // flac's 32-bit files, which only the native reading decodes: one
        // damaged or cut is refused with words that say so.
        DamageCase{"flac_32_bit_cut", "cut32.flac", "flac", kFLAC32, kTake32, Damage::Cut, 0, 0, 0.6, Outcome::Fails,
            "is a FLAC file of more than 24 bits that is damaged or cut"},
        DamageCase{"flac_32_bit_bytes", "bytes32.flac", "flac", kFLAC32, kTake32, Damage::Bytes, 0, 0, 0,
            Outcome::Fails, "is a FLAC file of more than 24 bits that is damaged or cut"},
        // Cut inside a picture block (the source itself as the picture),
        // named as FLAC or not named at all.
        DamageCase{"flac_cut_in_picture", "picture.flac", "flac", kFLACPicture, kTake, Damage::Cut, 0, 0, 0.3,
            Outcome::Fails, "unexpected end of file"},
        DamageCase{"flac_cut_in_picture_unnamed", "picturecut", "flac", kFLACPicture, kTake, Damage::Cut, 0, 0, 0.3,
            Outcome::Fails, "unexpected end of file"},
        DamageCase{"flac_unstated_cut_in_padding", "unstated.flac", "flac", "--silent --padding=65536 -o {OUT} {SRC}",
            kTake, Damage::CutUnstated, 0, 0, 0.1, Outcome::Fails, "unexpected end of file"}),
    CaseName);

}  // namespace
