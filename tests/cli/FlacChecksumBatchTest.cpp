// FLAC inputs written by ffmpeg, sox and flac, damaged here where their
// checksums see it, through quillmarch-batch: a frame whose frame CRC-16
// fails (bits flipped near its end, where the decoder alone reads on
// without noticing; 64 bytes of noise) reads as silence, said with its
// time; a frame header whose CRC-8 fails, one that states another rate
// than STREAMINFO, damage at the file's end (not a cut) and the "fLaC"
// marker and the second frame trading places are said as sound lost, with
// the time the output lacks; a STREAMINFO MD5 signature that does not match
// the sound is said; the last frame written again is said as repeated and
// given once.  The intact files, and those whose STREAMINFO states a
// largest block below the frames' (libFLAC reads them), convert without a
// word, sample for sample.
#include "CliTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>

using namespace clitest;

namespace {

enum class Damage {
    None,
    FrameEnds,  // one bit flipped 16 bytes before the end of `count` frames
    Noise,  // 64 bytes of noise in the middle of one frame
    LastKilobyte,  // the file's last 1024 bytes overwritten
    HeaderChecksum,  // a bit of one frame header's CRC-8 flipped
    Signature,  // a bit of the MD5 signature STREAMINFO stores flipped
    OtherRate,  // one frame's header states 8 kHz, its CRC-8 and CRC-16 made again
    LastFrameAgain,  // the last frame appended again
    MarkerSwapped,  // "fLaC" and the second frame trading places
    LowMaxBlock,  // STREAMINFO's block sizes set to 1024, below the frames'
};

struct FlacCase {
    const char* name;
    const char* encoder;  // ffmpeg, sox, flac
    Damage damage;
    int count;
};

struct Packet {
    qint64 pos, size, frames;
};

QList<Packet> Packets(const QString& path)
{
    QByteArray out;
    RunPeer("ffprobe",
        {"-v", "error", "-select_streams", "a:0", "-show_entries", "packet=pos,size,duration", "-of", "json", path},
        &out);
    QList<Packet> packets;
    for (const QJsonValue& p : QJsonDocument::fromJson(out).object().value("packets").toArray())
        packets.append({p["pos"].toVariant().toLongLong(), p["size"].toVariant().toLongLong(),
            p["duration"].toVariant().toLongLong()});
    return packets;
}

// The samples as ffmpeg decodes them, interleaved, left-justified in 32 bits.
QVector<qint32> Samples(const QString& path)
{
    QByteArray pcm;
    RunPeer("ffmpeg", {"-nostdin", "-loglevel", "quiet", "-i", path, "-f", "s32le", "-"}, &pcm);
    QVector<qint32> samples(pcm.size() / 4);
    std::memcpy(samples.data(), pcm.constData(), std::size_t(samples.size()) * 4);
    return samples;
}

// The first frame at which two decodes differ (in length or samples); -1
// when they are equal.
qint64 FirstDifference(const QVector<qint32>& a, const QVector<qint32>& b, int channels)
{
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return at.first == a.end() && at.second == b.end() ? -1 : qint64(at.first - a.begin()) / channels;
}

// The length of a frame header (sync to CRC-8, the CRC excluded).
int HeaderBytes(const QByteArray& bytes, qint64 at)
{
    const auto byte = [&](qint64 k) {
        return uint8_t(bytes[k]);
    };
    const uint8_t lead = byte(at + 4);
    int number = 1;
    for (uint8_t mask = 0x80; number < 7 && (lead & mask) && (lead & (mask >> 1)); mask >>= 1)
        ++number;
    const unsigned sizeCode = byte(at + 2) >> 4, rateCode = byte(at + 2) & 15;
    const int sizeBytes = sizeCode < 6 || sizeCode > 7 ? 0 : int(sizeCode) - 5;
    const int rateBytes = rateCode < 12 || rateCode > 14 ? 0 : rateCode == 12 ? 1 : 2;
    return 4 + number + sizeBytes + rateBytes;
}

void PrintTo(const FlacCase& c, std::ostream* os)
{
    *os << c.name;
}

class FlacChecksumBatchTest : public BatchTest, public ::testing::WithParamInterface<FlacCase> { };

TEST_P(FlacChecksumBatchTest, SaysWhatTheChecksumsSee)
{
    const FlacCase& c = GetParam();
    QM_REQUIRE_PEER("ffmpeg");
    QM_REQUIRE_PEER("sox");
    if (QString(c.encoder) == "flac")
        QM_REQUIRE_PEER("flac");
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    // 3 s of a 16-bit stereo tone at 44.1 kHz; for flac, 24-bit mono at 48 kHz.
    const bool wide = QString(c.encoder) == "flac";
    const QString source = root + "/source.wav";
    ASSERT_TRUE(Sox({"-D", "-n", "-r", wide ? "48000" : "44100", "-c", wide ? "1" : "2", "-b", wide ? "24" : "16",
        source, "synth", "3", "sine", "440", "sine", "660", "gain", "-3"}));
    const QString intact = root + "/intact.flac";
    const QString encoder = c.encoder;
    QStringList arguments = {source, intact};
    if (encoder == "ffmpeg")
        arguments = QStringList{"-nostdin", "-loglevel", "error", "-i"} + arguments;
    else if (encoder == "flac")
        arguments = {"-s", "-o", intact, source};
    ASSERT_TRUE(RunPeer(encoder, arguments));
    const int rate = wide ? 48000 : 44100;
    const int channels = wide ? 1 : 2;

    QByteArray bytes = ReadBytes(intact);
    const QList<Packet> packets = Packets(intact);
    ASSERT_GE(packets.size(), 12);
    QList<int> damaged;  // the frames damaged where the decoder reads
    switch (c.damage) {
    case Damage::None:
        break;
    case Damage::FrameEnds:
        for (int i = 0; i < c.count; ++i) {
            const Packet& p = packets[packets.size() / 3 + 2 * i];
            bytes[p.pos + p.size - 16] = char(bytes[p.pos + p.size - 16] ^ 1);
            damaged << int(packets.size() / 3 + 2 * i);
        }
        break;
    case Damage::Noise: {
        const Packet& p = packets[packets.size() / 2];
        ASSERT_GE(p.size, 128);
        for (qint64 k = 0; k < 64; ++k)
            bytes[p.pos + p.size / 2 - 32 + k] = char((k * 131 + 7) & 0xFF);
        damaged << int(packets.size() / 2);
        break;
    }
    case Damage::LastKilobyte:
        for (qint64 k = bytes.size() - 1024; k < bytes.size(); ++k)
            bytes[k] = char((k * 131 + 7) & 0xFF);
        break;
    case Damage::HeaderChecksum: {
        const qint64 at = packets[packets.size() / 2].pos;
        bytes[at + HeaderBytes(bytes, at)] = char(bytes[at + HeaderBytes(bytes, at)] ^ 0x10);
        break;
    }
    case Damage::Signature:
        ASSERT_EQ(bytes.left(4), QByteArray("fLaC"));
        bytes[8 + 18 + 5] = char(bytes[8 + 18 + 5] ^ 0x40);
        break;
    case Damage::OtherRate: {
        const Packet& p = packets[packets.size() / 2];
        const auto crc = [&](qint64 from, qint64 to, int width, unsigned polynomial) {
            unsigned value = 0;
            const unsigned top = 1u << (width - 1), mask = (1u << width) - 1;
            for (qint64 i = from; i < to; ++i) {
                value ^= unsigned(uint8_t(bytes[i])) << (width - 8);
                for (int b = 0; b < 8; ++b)
                    value = ((value & top) ? (value << 1) ^ polynomial : value << 1) & mask;
            }
            return value;
        };
        ASSERT_LT(uint8_t(bytes[p.pos + 2]) & 15, 12);
        bytes[p.pos + 2] = char((uint8_t(bytes[p.pos + 2]) & 0xF0) | 4);
        const int header = HeaderBytes(bytes, p.pos);
        bytes[p.pos + header] = char(crc(p.pos, p.pos + header, 8, 0x07));
        const unsigned check = crc(p.pos, p.pos + p.size - 2, 16, 0x8005);
        bytes[p.pos + p.size - 2] = char(check >> 8);
        bytes[p.pos + p.size - 1] = char(check & 0xFF);
        break;
    }
    case Damage::LastFrameAgain:
        bytes += bytes.mid(packets.last().pos, packets.last().size);
        break;
    case Damage::MarkerSwapped: {
        const Packet& p = packets[1];
        bytes = bytes.mid(p.pos, p.size) + bytes.mid(4, p.pos - 4) + "fLaC" + bytes.mid(p.pos + p.size);
        break;
    }
    case Damage::LowMaxBlock:
        for (int k = 0; k < 4; ++k)
            bytes[8 + k] = char(k % 2 == 0 ? 0x04 : 0x00);
        break;
    }
    const QString input = root + "/in/" + c.name + ".flac";
    ASSERT_TRUE(WriteBytes(input, bytes));

    const QString out = root + "/out";
    const RunResult run = RunConversions("keep", {{0, TypedConversion("Keep", "AIFF", 24, QByteArray())}}, input, out);
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QString line = run.err.split('\n').filter(input).join('\n');
    const QString log = ReadText(LogPathFromOutput(run.out));
    const QVector<qint32> whole = Samples(intact);
    const QVector<qint32> output = Samples(out + "/Keep/" + c.name + ".aif");
    const auto said = [&] {
        return "stderr: " + run.err.toStdString();
    };
    const QString warning = "warning " + input + ": has sound that could not be decoded: ";
    const QString mismatch = QStringLiteral("the sound decoded does not match the MD5 checksum the file stores");

    switch (c.damage) {
    case Damage::None:
    case Damage::LowMaxBlock:
    case Damage::Signature:
        // Every sample as the encoder's input; the signature alone is said.
        EXPECT_EQ(FirstDifference(output, whole, channels), -1);
        EXPECT_EQ(line.toStdString(), (c.damage != Damage::Signature ? QString() : warning + mismatch).toStdString());
        break;
    case Damage::LastFrameAgain:
        EXPECT_EQ(FirstDifference(output, whole, channels), -1);
        EXPECT_EQ(line.toStdString(),
            (warning + QStringLiteral("%1 s repeated").arg(double(packets.last().frames) / rate, 0, 'f', 3))
                .toStdString());
        break;
    case Damage::FrameEnds:
    case Damage::Noise: {
        // The damaged frames read as silence, the others as they were.
        qint64 silenced = 0;
        QVector<qint32> expected = whole;
        for (int k : damaged) {
            const qint64 start = std::accumulate(packets.begin(), packets.begin() + k, qint64(0),
                [](qint64 sum, const Packet& p) { return sum + p.frames; });
            std::fill(
                expected.begin() + start * channels, expected.begin() + (start + packets[k].frames) * channels, 0);
            silenced += packets[k].frames;
        }
        EXPECT_EQ(FirstDifference(output, expected, channels), -1);
        EXPECT_EQ(line.toStdString(),
            (warning
                + QStringLiteral("%1 of %2 packets refused by the decoder, "
                                 "%3 s replaced by silence, ")
                      .arg(damaged.size())
                      .arg(packets.size())
                      .arg(double(silenced) / rate, 0, 'f', 3)
                + mismatch)
                .toStdString());
        break;
    }
    case Damage::LastKilobyte:
    case Damage::HeaderChecksum:
    case Damage::OtherRate:
    case Damage::MarkerSwapped: {
        // Damage, not a cut: the time said lost is the time the output lacks.
        const QRegularExpressionMatch m = QRegularExpression("^" + QRegularExpression::escape(warning)
            + "(?:[0-9]+ of [0-9]+ packets refused by the decoder, )?([0-9.]+) s lost$")
                                              .match(line);
        ASSERT_TRUE(m.hasMatch()) << said();
        const qint64 lacking = (whole.size() - output.size()) / channels;
        EXPECT_GT(lacking, 0);
        EXPECT_NEAR(m.captured(1).toDouble(), double(lacking) / rate, 0.0015) << said();
        if (c.damage == Damage::LastKilobyte) {
            EXPECT_EQ(FirstDifference(output, whole.mid(0, output.size()), channels), -1);
        }
        break;
    }
    }
    EXPECT_EQ(log.contains("could not be decoded"), c.damage != Damage::None && c.damage != Damage::LowMaxBlock)
        << log.toStdString();
}

std::string CaseName(const ::testing::TestParamInfo<FlacCase>& info)
{
    return info.param.name;
}

#define QM_FLAC_CASES(encoder)                                                                                         \
    FlacCase{encoder "_intact", encoder, Damage::None, 0},                                                             \
        FlacCase{encoder "_one_frame_end", encoder, Damage::FrameEnds, 1},                                             \
        FlacCase{encoder "_three_frame_ends", encoder, Damage::FrameEnds, 3},                                          \
        FlacCase{encoder "_noise", encoder, Damage::Noise, 1},                                                         \
        FlacCase{encoder "_last_kilobyte", encoder, Damage::LastKilobyte, 0},                                          \
        FlacCase{encoder "_header_checksum", encoder, Damage::HeaderChecksum, 0},                                      \
        FlacCase{encoder "_last_frame_again", encoder, Damage::LastFrameAgain, 0},                                     \
        FlacCase{encoder "_marker_swapped", encoder, Damage::MarkerSwapped, 0},                                        \
        FlacCase{encoder "_low_max_block", encoder, Damage::LowMaxBlock, 0}, FlacCase                                  \
    {                                                                                                                  \
        encoder "_signature", encoder, Damage::Signature, 0                                                            \
    }

INSTANTIATE_TEST_SUITE_P(Encoders, FlacChecksumBatchTest,
    ::testing::Values(QM_FLAC_CASES("ffmpeg"), QM_FLAC_CASES("sox"), QM_FLAC_CASES("flac"),
        FlacCase{"flac_other_rate", "flac", Damage::OtherRate, 0}),
    CaseName);

}  // namespace
