// Small WAVE-family files for the fuzz targets' seeds, built in memory:
// every chunk the readers parse appears in at least one of them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace wavefuzz {

class Bytes {
public:
    Bytes& u8(uint8_t v) { s.push_back(char(v)); return *this; }
    Bytes& u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }
    Bytes& u32(uint32_t v) { return u16(uint16_t(v)).u16(uint16_t(v >> 16)); }
    Bytes& u64(uint64_t v) { return u32(uint32_t(v)).u32(uint32_t(v >> 32)); }
    Bytes& text(const char* t) { s += t; return *this; }
    Bytes& zeros(std::size_t n) { s.append(n, '\0'); return *this; }
    Bytes& chunk(const char* id, const std::string& body)
    {
        text(id).u32(uint32_t(body.size()));
        s += body;
        if (body.size() & 1)
            u8(0);
        return *this;
    }
    std::string s;
};

inline std::string Riff(const std::string& chunks)
{
    Bytes b;
    b.text("RIFF").u32(uint32_t(chunks.size() + 4)).text("WAVE");
    return b.s + chunks;
}

inline std::string Fmt(uint16_t tag, uint16_t channels, uint16_t bits, uint16_t blockAlign)
{
    return Bytes().u16(tag).u16(channels).u32(8000).u32(8000u * blockAlign).u16(blockAlign).u16(bits).s;
}

inline std::string ExtensibleFmt(uint16_t channels, uint16_t bits, uint32_t mask, uint32_t subformat)
{
    const uint16_t align = uint16_t(channels * bits / 8);
    Bytes b;
    b.u16(0xFFFE).u16(channels).u32(8000).u32(8000u * align).u16(align).u16(bits);
    b.u16(22).u16(bits).u32(mask).u32(subformat);
    b.u8(0x00).u8(0x00).u8(0x10).u8(0x00).u8(0x80).u8(0x00).u8(0x00).u8(0xAA).u8(0x00).u8(0x38).u8(0x9B).u8(0x71);
    return b.s;
}

// The marker, region, loop and sampler chunks of a 6-frame file.
inline std::string Annotations()
{
    Bytes cue;
    cue.u32(2);
    cue.u32(0).u32(1).text("data").u32(0).u32(0).u32(1);
    cue.u32(1).u32(2).text("data").u32(0).u32(0).u32(2);
    Bytes list;
    list.text("adtl");
    list.chunk("labl", Bytes().u32(0).text("mark").u8(0).s);
    list.chunk("labl", Bytes().u32(1).text("region").u8(0).s);
    list.chunk("ltxt", Bytes().u32(1).u32(3).text("rgn ").zeros(8).s);
    Bytes smpl;
    smpl.zeros(28).u32(1).u32(0).u32(0).u32(0).u32(1).u32(4).u32(0).u32(0);
    Bytes all;
    all.chunk("cue ", cue.s).chunk("LIST", list.s).chunk("smpl", smpl.s);
    all.chunk("inst", Bytes().u8(60).u8(0).u8(0).u8(0).u8(127).u8(0).u8(127).s);
    return all.s;
}

inline std::string Samples(std::size_t bytes)
{
    std::string s;
    for (std::size_t i = 0; i < bytes; ++i)
        s.push_back(char(i * 37 + 11));
    return s;
}

inline std::string Bext(uint64_t timeReference)
{
    Bytes b;
    b.text("description").zeros(256 - 11).zeros(32 + 32 + 10 + 8).u64(timeReference).zeros(2 + 64 + 190);
    return b.s;
}

inline std::string Regn()
{
    Bytes b;
    b.u32(1).u64(0).u64(0).u64(1).u64(5).u64(1).u64(99).u64(0).u8(3).text("one").zeros(28);
    return b.s;
}

} // namespace wavefuzz
