// The stream encoder: the last short frame, refusals, read and write
// errors and a stop request.
#include "MpegStreamEncoder.h"
#include "TestTempDir.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

TEST(MpegStreamEncoderTest, RefusalsWriteErrorsStopAndTheLastShortFrame)
{
    TestTempDir dir;
    std::vector<uint8_t> pcm(1152 * 4 * 3 + 40, 0x11);
    const std::string in = dir.file("in.raw");
    QFile raw(QString::fromStdString(in));
    ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
    raw.write(reinterpret_cast<const char*>(pcm.data()), qint64(pcm.size()));
    raw.close();
    MpegFrameEncoder::Settings s;
    s.layer = 2;
    s.sampleRate = 48000;
    s.bitRate = 192;
    MpegStreamEncoder encoder;
    auto run = [&](const MpegFrameEncoder::Settings& settings, const char* outPath, uint64_t frames,
                   const MpegStreamEncoder::Progress& progress, MpegStreamEncoder::Result* result) {
        std::FILE* fin = std::fopen(in.c_str(), "rb");
        std::FILE* fout = std::fopen(outPath, "wb");
        const int err = encoder.Encode(settings, fin, frames, fout, progress, result);
        std::fclose(fin);
        std::fclose(fout);
        return err;
    };
    const std::string out = dir.file("out.mp2");

    // The stream runs on until a decoder, 481 samples late (Layer I: 545),
    // has given back the last input sample: 1152 x 3 - 481 input frames
    // end after three frames, one more frame starts a fourth.
    MpegStreamEncoder::Result result;
    EXPECT_EQ(run(s, out.c_str(), 1152 * 3 - 480, nullptr, &result), 0);
    EXPECT_EQ(result.frames, 4u);
    EXPECT_EQ(run(s, out.c_str(), 1152 * 3 - 481, nullptr, &result), 0);
    EXPECT_EQ(result.frames, 3u);
    // More frames promised than the input holds: a read error, not silence.
    EXPECT_EQ(run(s, out.c_str(), 1152 * 5, nullptr, &result), kMPEGIntermediateErr);
    MpegFrameEncoder::Settings l1 = s;
    l1.layer = 1;
    l1.bitRate = 256;
    EXPECT_EQ(run(l1, out.c_str(), 384 * 3 - 544, nullptr, &result), 0);
    EXPECT_EQ(result.frames, 4u);
    EXPECT_EQ(run(l1, out.c_str(), 384 * 3 - 545, nullptr, &result), 0);
    EXPECT_EQ(result.frames, 3u);

    // Refused settings, with the codes of the output classes.
    MpegFrameEncoder::Settings bad = s;
    bad.bitRate = 100;
    EXPECT_EQ(run(bad, out.c_str(), 1152, nullptr, nullptr), kMPEGBitRateErr);
    bad.bitRate = 80;
    EXPECT_EQ(run(bad, out.c_str(), 1152, nullptr, nullptr), kMPEGStereoRateErr);
    bad = s;
    bad.sampleRate = 22050;
    EXPECT_EQ(run(bad, out.c_str(), 1152, nullptr, nullptr), kMPEGSampleRateErr);

    // A full disk and a stop request.
    EXPECT_EQ(run(s, "/dev/full", 1152 * 3, nullptr, nullptr), kMPEGDiskFullErr);
    int calls = 0;
    EXPECT_EQ(run(s, out.c_str(), 1152 * 3, [&](uint64_t) { return ++calls == 2 ? -128 : 0; }, nullptr), -128);
    EXPECT_EQ(calls, 2);
}

}  // namespace
