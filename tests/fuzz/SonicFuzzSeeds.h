// Small valid images of the Sound Designer I, Sonic AIFF and Dawn AIFF
// formats, the seeds of their fuzz targets.
#pragma once

#include "ChunkReader.h"
#include "ieee_extended.h"

#include <string>
#include <vector>

inline std::string SonicSeedString(const ChunkBuilder& b)
{
    std::string s(reinterpret_cast<const char*>(b.data()), b.size());
    const UInt32 form = UInt32(s.size() - 8);
    s[4] = char(form >> 24);
    s[5] = char(form >> 16);
    s[6] = char(form >> 8);
    s[7] = char(form);
    return s;
}

inline void SonicSeedCOMM(ChunkBuilder& b, UInt16 channels, UInt32 frames, UInt16 bits)
{
    b.put_fourcc(ChunkID("FORM"));
    b.put_u32(0);
    b.put_fourcc(ChunkID("AIFF"));
    b.put_fourcc(ChunkID("COMM"));
    b.put_u32(18);
    b.put_u16(channels);
    b.put_u32(frames);
    b.put_u16(bits);
    UInt8 rate[10];
    ConvertToIeeeExtended(48000.0, rate);
    b.put_bytes(rate, 10);
}

// A Sonic AIFF image whose samples follow the 'SSND' header directly.
inline std::string SonicAIFFFuzzImage(UInt16 mode, UInt16 channels, UInt32 frames)
{
    const UInt16 bits = mode == 1 ? 16 : 24;
    const UInt32 bytes = mode == 1 ? 2 : mode == 2 ? 4 : 3;
    ChunkBuilder b;
    SonicSeedCOMM(b, channels, frames, bits);
    const bool formB = mode == 10 || mode == 11;
    b.put_fourcc(ChunkID("APPL"));
    b.put_u32(formB ? 2426 : 2422);
    b.put_fourcc(ChunkID("SSYS"));
    b.put_fourcc(ChunkID("MCSF"));
    b.put_u32(2124);
    b.put_zeros(2124);
    b.put_fourcc(ChunkID("OFFS"));
    b.put_u32(formB ? 24 : 20);
    b.put_u64be(0x3FF0000000000000ULL);  // 1.0 s
    b.put_zeros(formB ? 4 : 2);
    b.put_u64be(0x3FF0000000000000ULL);
    b.put_zeros(formB ? 4 : 2);
    b.put_fourcc(ChunkID("AFPR"));
    b.put_u32(250);
    b.put_u16(mode);
    b.put_zeros(248);
    b.put_fourcc(ChunkID("SSND"));
    b.put_u32(8 + frames * channels * bytes);
    b.put_u32(0);
    b.put_u32(0);
    for (UInt32 i = 0; i < frames * channels * bytes; ++i) {
        b.put_u8(UInt8(i * 37));
    }
    return SonicSeedString(b);
}

inline std::string DawnFuzzImage(UInt32 frames, UInt32 startTime)
{
    ChunkBuilder b;
    SonicSeedCOMM(b, 1, frames, 16);
    b.put_fourcc(ChunkID("MARK"));
    b.put_u32(0xFFFFFFFF);
    b.put_zeros(34);
    b.put_fourcc(ChunkID("SSND"));
    b.put_u32(8 + frames * 2);
    b.put_u32(startTime);
    b.put_u32(0);
    for (UInt32 i = 0; i < frames * 2; ++i) {
        b.put_u8(UInt8(i * 13));
    }
    return SonicSeedString(b);
}

inline std::string SD1FuzzImage(UInt16 bits, UInt32 frames)
{
    std::string s(1336, '\0');
    auto put16 = [&](std::size_t at, UInt32 v) { s[at] = char(v >> 8); s[at + 1] = char(v); };
    auto put32 = [&](std::size_t at, UInt32 v) { put16(at, v >> 16); put16(at + 2, v & 0xFFFF); };
    put16(0, 1336);
    put32(188, frames * (bits / 8));
    put32(1030, 22050);
    put32(1034, 45);
    put16(1038, bits);
    for (UInt32 i = 0; i < frames * (bits / 8); ++i) {
        s.push_back(char(i * 11));
    }
    return s;
}
