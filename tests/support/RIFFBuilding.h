// RIFF files built by hand, byte by byte, for the readers of the WAVE family:
// a chunk-by-chunk builder, little-endian chunk bodies, the format chunk
// forms, and whole files of each WAVE-family type with their chunks in any
// order.
#pragma once

#include "MacTypes.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace riffbuild {

// A RIFF file built by hand.
class RIFFBuilder {
public:
    RIFFBuilder() { bytes_ = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}; }
    RIFFBuilder& chunk(const char* id, const std::vector<UInt8>& body, bool pad = true)
    {
        bytes_.insert(bytes_.end(), id, id + 4);
        put32(UInt32(body.size()));
        bytes_.insert(bytes_.end(), body.begin(), body.end());
        if (pad && (body.size() & 1))
            bytes_.push_back(0);
        return *this;
    }
    // A chunk header with a size of its own (no body follows it here).
    RIFFBuilder& header(const char* id, UInt32 size)
    {
        bytes_.insert(bytes_.end(), id, id + 4);
        put32(size);
        return *this;
    }
    RIFFBuilder& raw(const std::vector<UInt8>& body)
    {
        bytes_.insert(bytes_.end(), body.begin(), body.end());
        return *this;
    }
    std::vector<UInt8> build(bool patchSize = true) const
    {
        std::vector<UInt8> b = bytes_;
        if (patchSize) {
            const UInt32 size = UInt32(b.size() - 8);
            b[4] = UInt8(size);
            b[5] = UInt8(size >> 8);
            b[6] = UInt8(size >> 16);
            b[7] = UInt8(size >> 24);
        }
        return b;
    }

private:
    void put32(UInt32 v)
    {
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(UInt8(v >> (8 * i)));
    }
    std::vector<UInt8> bytes_;
};

// Little-endian field builder for chunk bodies.
class Body {
public:
    Body& u8(UInt8 v) { b.push_back(v); return *this; }
    Body& u16(UInt16 v) { b.push_back(UInt8(v)); b.push_back(UInt8(v >> 8)); return *this; }
    Body& u32(UInt32 v) { for (int i = 0; i < 4; ++i) b.push_back(UInt8(v >> (8 * i))); return *this; }
    Body& text(const char* t, std::size_t n) { for (std::size_t i = 0; i < n; ++i) b.push_back(UInt8(t[i])); return *this; }
    Body& zeros(std::size_t n) { b.insert(b.end(), n, 0); return *this; }
    std::vector<UInt8> b;
};

// A plain 'fmt ' body.
inline std::vector<UInt8> Fmt(UInt16 tag, UInt16 channels, UInt32 rate, UInt16 bits, UInt16 blockAlign)
{
    return Body().u16(tag).u16(channels).u32(rate).u32(rate * blockAlign).u16(blockAlign).u16(bits).b;
}

inline std::vector<UInt8> ExtensibleFmt(UInt16 channels, UInt32 rate, UInt16 bits, UInt16 blockAlign,
                                        UInt16 validBits, UInt32 mask, UInt32 subformat)
{
    Body body;
    body.u16(0xFFFE).u16(channels).u32(rate).u32(rate * blockAlign).u16(blockAlign).u16(bits);
    body.u16(22).u16(validBits).u32(mask).u32(subformat);
    const UInt8 tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    body.b.insert(body.b.end(), tail, tail + 12);
    return body.b;
}

// --------------------------------------------------- WAVE-family files
struct Chunk {
    std::string id;
    std::vector<UInt8> body;
};

// The chunks a mono 8000 Hz file of a WAVE-family type needs, holding
// `frames` frames of silence: its format chunks ("fmt ", and "fact" or
// "bext" where the type has them) and "data".  Types: 'WAVE', 'WVfl',
// 'WVau', 'WVal', 'BWLN', 'MSAP' (blocks of 500 frames), 'G729' (frames a
// multiple of 80).
inline std::vector<Chunk> FamilyChunks(OSType type, UInt32 frames)
{
    const auto fact = [frames] { return Chunk{"fact", Body().u32(frames).b}; };
    switch (type) {
    case FOUR_CHAR_CODE("WVfl"):
        return {{"fmt ", Fmt(3, 1, 8000, 32, 4)}, {"data", std::vector<UInt8>(std::size_t(frames) * 4)}};
    case FOUR_CHAR_CODE("WVau"):
    case FOUR_CHAR_CODE("WVal"): {
        const bool mu = type == FOUR_CHAR_CODE("WVau");
        std::vector<UInt8> fmt = Fmt(mu ? 7 : 6, 1, 8000, 8, 1);
        fmt.insert(fmt.end(), {0, 0});
        return {{"fmt ", fmt}, fact(), {"data", std::vector<UInt8>(frames, mu ? 0xFF : 0xD5)}};
    }
    case FOUR_CHAR_CODE("BWLN"): {
        std::vector<UInt8> bext(602);
        std::memcpy(bext.data(), "hand-built", 10);
        return {{"fmt ", Fmt(1, 1, 8000, 16, 2)}, {"bext", bext}, {"data", std::vector<UInt8>(std::size_t(frames) * 2)}};
    }
    case FOUR_CHAR_CODE("MSAP"): {
        // 256-byte blocks of 500 frames, the seven standard coefficient pairs.
        Body fmt;
        fmt.u16(2).u16(1).u32(8000).u32(4096).u16(256).u16(4).u16(32).u16(500).u16(7);
        const SInt16 pairs[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
        for (const auto& p : pairs)
            fmt.u16(UInt16(p[0])).u16(UInt16(p[1]));
        std::vector<UInt8> data;
        for (UInt32 block = 0; block * 500 < frames; ++block) {
            // Predictor 0, delta 16, both header samples 0, then silence.
            const std::vector<UInt8> head = Body().u8(0).u16(16).u16(0).u16(0).b;
            data.insert(data.end(), head.begin(), head.end());
            data.resize(std::size_t(block + 1) * 256);
        }
        return {{"fmt ", fmt.b}, fact(), {"data", data}};
    }
    case FOUR_CHAR_CODE("G729"): {
        std::vector<UInt8> fmt = Fmt(0x42, 1, 8000, 0, 10);
        fmt.insert(fmt.end(), {0, 0});
        return {{"fmt ", fmt}, {"data", std::vector<UInt8>(std::size_t(frames / 80) * 10)}};
    }
    default:
        return {{"fmt ", Fmt(1, 1, 8000, 16, 2)}, {"data", std::vector<UInt8>(std::size_t(frames) * 2)}};
    }
}

// A 'cue ' chunk of points in the data chunk.
inline Chunk Cue(const std::vector<std::pair<UInt32, UInt32>>& points)  // identifier, frame
{
    Body body;
    body.u32(UInt32(points.size()));
    for (const auto& [id, frame] : points)
        body.u32(id).u32(frame).text("data", 4).u32(0).u32(0).u32(frame);
    return {"cue ", body.b};
}

// A 'LIST' of `type` holding sub-chunks (each with the pad byte an odd
// size takes).
inline Chunk List(const char* type, const std::vector<Chunk>& entries)
{
    Body body;
    body.text(type, 4);
    for (const Chunk& e : entries) {
        body.text(e.id.c_str(), 4).u32(UInt32(e.body.size()));
        body.b.insert(body.b.end(), e.body.begin(), e.body.end());
        if (e.body.size() & 1)
            body.u8(0);
    }
    return {"LIST", body.b};
}

// A 'labl' sub-chunk naming cue point `cueID`.
inline Chunk Label(UInt32 cueID, const std::string& name)
{
    Body body;
    body.u32(cueID).text(name.c_str(), name.size()).u8(0);
    return {"labl", body.b};
}

// A RIFF file of the chunks of `layout` in order, each with the pad byte an
// odd size takes: a chunk named "FORMAT" stands for the type's format
// chunks (every one of `typeChunks` but "data"), an empty "data" for the
// type's "data"; any other is written as it is.
inline std::vector<UInt8> Assemble(const std::vector<Chunk>& typeChunks, const std::vector<Chunk>& layout)
{
    RIFFBuilder riff;
    for (const Chunk& entry : layout) {
        const bool format = entry.id == "FORMAT";
        const bool data = entry.id == "data" && entry.body.empty();
        if (!format && !data) {
            riff.chunk(entry.id.c_str(), entry.body);
            continue;
        }
        for (const Chunk& c : typeChunks)
            if ((c.id == "data") == data)
                riff.chunk(c.id.c_str(), c.body);
    }
    return riff.build();
}

} // namespace riffbuild
