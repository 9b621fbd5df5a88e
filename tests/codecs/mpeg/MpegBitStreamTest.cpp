// The bit-stream writer and the frame header against known bytes.
#include "MpegBitStream.h"
#include "TestTempDir.h"
#include "mpeg_frame.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

TEST(MpegBitStreamTest, HeadersAndWriterBytes)
{
    TestTempDir dir;
    auto header = [&](int lay, int br, int sf, int pad, int mode, int ext) {
        const std::string path = dir.file("h.bin");
        std::FILE* f = std::fopen(path.c_str(), "wb");
        MpegBitStream bs;
        bs.Attach(f, 16);
        mpeg::FrameHeader h;
        h.lay = lay;
        h.bitrate_index = br;
        h.sampling_frequency = sf;
        h.padding = pad;
        h.mode = mode;
        h.mode_ext = ext;
        mpeg::FrameParams fr;
        fr.header = &h;
        mpeg::EncodeInfo(fr, bs);
        bs.Close();
        std::fclose(f);
        QFile file(QString::fromStdString(path));
        file.open(QIODevice::ReadOnly);
        return file.readAll().toHex();
    };
    EXPECT_EQ(header(2, 8, 0, 0, 0, 0), "fffd8000");
    EXPECT_EQ(header(2, 8, 0, 0, 1, 3), "fffd8070");
    EXPECT_EQ(header(1, 6, 0, 1, 3, 0), "ffff62c0");

    // Exactly a buffer's worth of bits, then more: nothing lost, no byte
    // added at the end.
    const std::string path = dir.file("b.bin");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    MpegBitStream bs;
    bs.Attach(f, 8);
    for (int i = 0; i < 8; ++i)
        bs.PutBits(uint32_t(0xa0 + i), 8);
    bs.PutBits(0x5, 3);
    EXPECT_EQ(bs.BitsWritten(), 67u);
    bs.Close();
    std::fclose(f);
    QFile file(QString::fromStdString(path));
    file.open(QIODevice::ReadOnly);
    EXPECT_EQ(file.readAll().toHex(), "a0a1a2a3a4a5a6a7a0");
}

}  // namespace
