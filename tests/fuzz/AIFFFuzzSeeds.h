// Small, valid AIFF and AIFF-C images with every chunk the AIFF family reads
// (COMM, CHAN, SSND, INST, MARK, regn, APPL), the seeds of its fuzz targets.
#pragma once

#include "ChunkReader.h"
#include "ieee_extended.h"

#include <string>
#include <vector>

inline std::string AIFFFuzzImage(bool aifc, const char* compression, SInt16 bits, UInt16 channels, UInt32 frames)
{
    ChunkBuilder b;
    b.put_fourcc(ChunkID("FORM"));
    b.put_u32(0);
    b.put_fourcc(aifc ? ChunkID("AIFC") : ChunkID("AIFF"));
    if (aifc) {
        b.put_fourcc(ChunkID("FVER"));
        b.put_u32(4);
        b.put_u32(0xA2805140);
    }
    b.put_fourcc(ChunkID("COMM"));
    b.put_u32(aifc ? 24 : 18);
    b.put_u16(channels);
    b.put_u32(frames);
    b.put_u16(UInt16(bits));
    UInt8 rate[10];
    ConvertToIeeeExtended(44100.0, rate);
    b.put_bytes(rate, 10);
    if (aifc) {
        b.put_fourcc(ChunkIDFromString(compression));
        b.put_u8(0);
        b.put_u8(0);
    }
    b.put_fourcc(ChunkID("CHAN"));
    b.put_u32(32);
    b.put_u32(channels == 2 ? 0x00650002 : 0x00640001);
    b.put_zeros(28);
    const std::size_t bytes = std::size_t(frames) * channels * std::size_t((bits + 7) / 8);
    b.put_fourcc(ChunkID("SSND"));
    b.put_u32(UInt32(bytes + 8));
    b.put_u32(0);
    b.put_u32(0);
    for (std::size_t i = 0; i < bytes; ++i) {
        b.put_u8(UInt8(i * 37));
    }
    if (bytes & 1) {
        b.put_u8(0);
    }
    b.put_fourcc(ChunkID("INST"));
    b.put_u32(20);
    const UInt8 inst[20] = {60, 0, 0, 127, 0, 127, 0, 0, 0, 1, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0};
    b.put_bytes(inst, sizeof inst);
    b.put_fourcc(ChunkID("MARK"));
    b.put_u32(2 + 2 * (6 + 6) + (6 + 4));
    b.put_u16(3);
    b.put_u16(1);
    b.put_u32(1);
    b.put_pstring("start", true);
    b.put_u16(2);
    b.put_u32(frames > 1 ? frames - 1 : 0);
    b.put_pstring("end 1", true);
    b.put_u16(3);
    b.put_u32(0);
    b.put_pstring("#7 x", true);
    b.put_fourcc(ChunkID("regn"));
    b.put_u32(4 + 88);
    b.put_u32(1);
    b.put_zeros(16);
    b.put_u64(0);
    b.put_u64(frames);
    b.put_u64(0);
    b.put_u64(12345);
    b.put_u64(0);
    b.put_pstring("region", false);
    b.put_zeros(32 - 7);
    b.put_fourcc(ChunkID("APPL"));
    b.put_u32(4);
    b.put_fourcc(ChunkID("SSYS"));
    b.patch_u32(4, UInt32(b.size() - 8));
    return std::string(b.bytes().begin(), b.bytes().end());
}

// An image as a writer to a pipe leaves it: the FORM size, the frame count
// and the 'SSND' size 0 (the chunks after the sound then read as sound).
inline std::string StreamedAIFFImage(std::string image)
{
    const auto zero = [&image](std::size_t at) {
        if (at != std::string::npos && at + 4 <= image.size())
            image.replace(at, 4, 4, '\0');
    };
    zero(4);
    const std::size_t comm = image.find("COMM");
    zero(comm == std::string::npos ? comm : comm + 10);
    const std::size_t ssnd = image.find("SSND");
    zero(ssnd == std::string::npos ? ssnd : ssnd + 4);
    return image;
}
