// The published tables checked against properties of their own.
#include "MpegStreamEncoder.h"
#include "PeerTools.h"
#include "SubbandAnalysis.h"
#include "TestTempDir.h"
#include "mpeg_tables.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <gtest/gtest.h>

namespace {

TEST(MpegTablesTest, AnalysisWindowIsTheSymmetricPrototype)
{
    // C[512 - i] = -C[i], except where i is a multiple of 64 (i = 64, 128,
    // 192: C[512 - i] = C[i]); the centre 0.035780907 is the largest value.
    const double* c = mpeg::kAnalysisWindow;
    EXPECT_EQ(c[0], 0.0);
    for (int i = 1; i < 256; ++i)
        EXPECT_DOUBLE_EQ(c[512 - i], i % 64 == 0 ? c[i] : -c[i]) << i;
    double largest = 0.0;
    for (int i = 0; i < 512; ++i)
        largest = std::max(largest, std::fabs(c[i]));
    EXPECT_DOUBLE_EQ(largest, 0.035780907);
    EXPECT_DOUBLE_EQ(c[256], 0.035780907);
    // Its sums: a constant input reaches subband 0 alone, at the
    // filterbank's unity gain.
    SubbandAnalysis bank;
    std::vector<int16_t> dc(32, 16384);
    double out[32] = {};
    for (int n = 0; n < 40; ++n)
        bank.Filter(dc.data(), 0, out);
    EXPECT_NEAR(out[0], 0.5, 0.002);
    for (int k = 1; k < 32; ++k)
        EXPECT_NEAR(out[k], 0.0, 0.002) << k;
}

TEST(MpegTablesTest, AllocationTablesHaveTheirRowCounts)
{
    // Rows: 2^width per subband (B.2a 27 subbands, B.2b 30, B.2c 8, B.2d 12).
    const int limits[4] = {27, 30, 8, 12};
    const int rows[4] = {3 * 16 + 8 * 16 + 12 * 8 + 4 * 4, 3 * 16 + 8 * 16 + 12 * 8 + 7 * 4, 2 * 16 + 6 * 8,
                         2 * 16 + 10 * 8};
    for (int t = 0; t < 4; ++t) {
        mpeg::AllocTable table;
        const mpeg::AllocTableInfo info = mpeg::FillAllocTable(t, table);
        EXPECT_EQ(info.sblimit, limits[t]);
        EXPECT_EQ(info.rows, rows[t]);
        for (int sb = 0; sb < info.sblimit; ++sb) {
            const unsigned width = table[sb][0].bits;
            ASSERT_TRUE(width >= 2 && width <= 4);
            for (unsigned i = 1; i < (1u << width); ++i) {
                const mpeg::AllocEntry& e = table[sb][i];
                // Steps rise; a grouped code holds three values, a plain
                // one has 2^bits - 1 steps.
                EXPECT_GT(e.steps, table[sb][i - 1].steps);
                if (e.group == 1)
                    EXPECT_GE(1u << e.bits, e.steps * e.steps * e.steps);
                else
                    EXPECT_EQ(e.steps, (1u << e.bits) - 1);
            }
        }
    }
}

TEST(MpegTablesTest, ScalefactorsAndThresholdAnchors)
{
    for (int i = 0; i < 63; ++i)
        EXPECT_NEAR(mpeg::kScaleFactors[i], 2.0 * std::pow(2.0, -i / 3.0), 1e-11 * mpeg::kScaleFactors[i] + 1e-17);
    EXPECT_NEAR(mpeg::AbsoluteThreshold(0, 0), 488357088.0, 488357088.0 * 1e-3);
    EXPECT_NEAR(mpeg::AbsoluteThreshold(0, 1), 5898447.0, 5898447.0 * 1e-3);
    EXPECT_NEAR(mpeg::AbsoluteThreshold(2, 0), 10156347392.0, 10156347392.0 * 1e-3);
    EXPECT_NEAR(mpeg::AbsoluteThreshold(1, 0), 247592464.0, 247592464.0 * 1e-3);
    EXPECT_NEAR(mpeg::AbsoluteThreshold(0, 76), 4849.95, 5.0);
    for (int line = 464; line <= 512; ++line)
        EXPECT_NEAR(mpeg::AbsoluteThreshold(0, line), 60776765194240.0, 6e10);
    // The minimum lies near 3.3 kHz.
    int lowest = 0;
    for (int line = 0; line < 513; ++line)
        if (mpeg::AbsoluteThreshold(0, line) < mpeg::AbsoluteThreshold(0, lowest))
            lowest = line;
    EXPECT_NEAR(lowest, 76, 2);
}

TEST(MpegTablesTest, BitRateTableMatchesTheFrameSizesFfprobeReports)
{
    // One short stream per Layer II rate of the table at 48 kHz (no
    // padding there): ffprobe's packet size is 144 x rate / 48.
    TestTempDir dir;
    std::vector<uint8_t> silence(1152 * 2 * 2 * 3, 0);
    QFile raw(QString::fromStdString(dir.file("in.raw")));
    ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
    raw.write(reinterpret_cast<const char*>(silence.data()), qint64(silence.size()));
    raw.close();
    for (int layer : {1, 2})
        for (int index = 1; index < 15; ++index) {
            const int kbps = mpeg::kBitRates[layer - 1][index];
            if (!mpeg::BitRateAllowed(layer, 2, kbps))
                continue;
            MpegFrameEncoder::Settings s;
            s.layer = layer;
            s.sampleRate = 48000;
            s.bitRate = kbps;
            s.mode = mpeg::kStereo;
            const std::string out = dir.file("r.mp" + std::to_string(layer));
            std::FILE* in = std::fopen(dir.file("in.raw").c_str(), "rb");
            std::FILE* o = std::fopen(out.c_str(), "wb");
            MpegStreamEncoder encoder;
            ASSERT_EQ(encoder.Encode(s, in, 1152 * 3, o, nullptr, nullptr), 0);
            std::fclose(in);
            std::fclose(o);
            const peers::RunResult probe = peers::Run(
                "ffprobe", {"-v", "error", "-show_packets", "-of", "json", QString::fromStdString(out)});
            const QJsonArray packets =
                QJsonDocument::fromJson(probe.out).object().value(QStringLiteral("packets")).toArray();
            ASSERT_FALSE(packets.isEmpty());
            const int expected = layer == 1 ? 12 * kbps / 48 * 4 : 144 * kbps / 48;
            EXPECT_EQ(packets.at(0).toObject().value(QStringLiteral("size")).toString().toInt(), expected)
                << "layer " << layer << " " << kbps;
        }
}

}  // namespace
