// Every layer, sampling frequency, mode and legal bit rate: the stream
// parses in ffprobe with what was asked for, and ffmpeg's mp1/mp2 decoders
// decode it without complaint to the input's length (within one frame).
#include "MpegStreamEncoder.h"
#include "MpegTestSignal.h"
#include "TestTempDir.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

struct Case {
    int layer, rate, mode, kbps;
};

std::string Name(const ::testing::TestParamInfo<Case>& info)
{
    static const char* modes[] = {"stereo", "joint", "dual", "mono"};
    return "L" + std::to_string(info.param.layer) + "_" + std::to_string(info.param.rate) + "_" +
           modes[info.param.mode] + "_" + std::to_string(info.param.kbps);
}

std::vector<Case> AllCases()
{
    std::vector<Case> cases;
    for (int layer : {1, 2})
        for (int rate : {32000, 44100, 48000})
            for (int mode : {0, 1, 2, 3})
                for (int index = 1; index < 15; ++index) {
                    const int kbps = mpeg::kBitRates[layer - 1][index];
                    if (mpeg::BitRateAllowed(layer, mode == 3 ? 1 : 2, kbps))
                        cases.push_back({layer, rate, mode, kbps});
                }
    return cases;
}

class MpegFrameEncoderTest : public ::testing::TestWithParam<Case> {};

TEST_P(MpegFrameEncoderTest, ParsesAndDecodesToTheInputLength)
{
    const Case c = GetParam();
    const int channels = c.mode == 3 ? 1 : 2;
    const int frames = c.rate / 8 + 77;  // not a whole number of MPEG frames
    const std::vector<int16_t> pcm = mpegtest::MusicLike(c.rate, channels, frames);
    TestTempDir dir;
    const std::string in = dir.file("in.raw"), out = dir.file(c.layer == 1 ? "out.mp1" : "out.mp2");
    ASSERT_TRUE(mpegtest::WriteBigEndian(in, pcm));

    MpegFrameEncoder::Settings settings;
    settings.layer = c.layer;
    settings.sampleRate = c.rate;
    settings.bitRate = c.kbps;
    settings.mode = c.mode;
    settings.padding = true;
    std::FILE* fin = std::fopen(in.c_str(), "rb");
    std::FILE* fout = std::fopen(out.c_str(), "wb");
    ASSERT_TRUE(fin && fout);
    MpegStreamEncoder encoder;
    MpegStreamEncoder::Result result;
    EXPECT_EQ(encoder.Encode(settings, fin, uint64_t(frames), fout, nullptr, &result), 0);
    std::fclose(fin);
    ASSERT_EQ(std::fclose(fout), 0);

    QFile file(QString::fromStdString(out));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(uint64_t(bytes.size()), result.bytes) << "nothing follows the last frame";

    const mpegtest::Run probe = mpegtest::RunTool(
        QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"),
                                    QStringLiteral("-show_packets"), QStringLiteral("-show_frames"),
                                    QStringLiteral("-of"), QStringLiteral("json"), QString::fromStdString(out)});
    ASSERT_TRUE(probe.ok) << probe.err.constData();
    EXPECT_TRUE(probe.err.isEmpty()) << probe.err.constData();
    const QJsonObject doc = QJsonDocument::fromJson(probe.out).object();
    const QJsonObject stream = doc.value(QStringLiteral("streams")).toArray().at(0).toObject();
    EXPECT_EQ(stream.value(QStringLiteral("codec_name")).toString(), c.layer == 1 ? "mp1" : "mp2");
    EXPECT_EQ(stream.value(QStringLiteral("sample_rate")).toString().toInt(), c.rate);
    EXPECT_EQ(stream.value(QStringLiteral("channels")).toInt(), channels);
    EXPECT_EQ(stream.value(QStringLiteral("bit_rate")).toString().toInt(), c.kbps * 1000);

    // Each packet is one frame whose length its padding bit explains; the
    // mode bits are those asked for (joint stereo chooses per frame).
    const int slotBytes = c.layer == 1 ? 4 : 1;
    const long long whole = (c.layer == 1 ? 12000LL : 144000LL) * c.kbps / c.rate;
    const bool fraction = (c.layer == 1 ? 12000LL : 144000LL) * c.kbps % c.rate != 0;
    int padded = 0;
    QJsonArray packets, decodedFrames;
    for (const QJsonValue& v : doc.value(QStringLiteral("packets_and_frames")).toArray())
        (v.toObject().value(QStringLiteral("type")).toString() == QLatin1String("packet") ? packets : decodedFrames)
            .append(v);
    ASSERT_EQ(uint64_t(packets.size()), result.frames);
    for (const QJsonValue& v : packets) {
        const QJsonObject p = v.toObject();
        const int pos = p.value(QStringLiteral("pos")).toString().toInt();
        const int size = p.value(QStringLiteral("size")).toString().toInt();
        ASSERT_LE(pos + 4, bytes.size());
        const uint8_t b2 = uint8_t(bytes[pos + 2]), b3 = uint8_t(bytes[pos + 3]);
        const int padding = (b2 >> 1) & 1;
        padded += padding;
        EXPECT_EQ(size, (whole + padding) * slotBytes);
        EXPECT_EQ(b3 >> 6, c.mode);
    }
    if (!fraction)
        EXPECT_EQ(padded, 0);
    else
        EXPECT_GT(padded, 0);

    long long decoded = 0;
    for (const QJsonValue& v : decodedFrames)
        decoded += v.toObject().value(QStringLiteral("nb_samples")).toInt();
    const int spf = c.layer == 1 ? 384 : 1152;
    const int lag = MpegStreamEncoder::DecoderLag(c.layer);
    EXPECT_GE(decoded, frames + lag);
    EXPECT_LT(decoded, frames + lag + spf);
}

INSTANTIATE_TEST_SUITE_P(EveryLegalSetting, MpegFrameEncoderTest, ::testing::ValuesIn(AllCases()), Name);

}  // namespace
