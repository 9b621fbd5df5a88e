// Hand-made sound file headers for the type detection and set grouping
// tests: just enough of each format for its header step and channel probe.
#pragma once

#include "MacTypes.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace detection_files {

using Bytes = std::vector<std::uint8_t>;

inline void Append(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }
inline void BE16(Bytes& b, std::uint32_t v) { b.push_back(std::uint8_t(v >> 8)); b.push_back(std::uint8_t(v)); }
inline void LE16(Bytes& b, std::uint32_t v) { b.push_back(std::uint8_t(v)); b.push_back(std::uint8_t(v >> 8)); }
inline void BE32(Bytes& b, std::uint32_t v) { BE16(b, v >> 16); BE16(b, v & 0xFFFF); }
inline void LE32(Bytes& b, std::uint32_t v) { LE16(b, v & 0xFFFF); LE16(b, v >> 16); }

inline void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void WriteText(const std::string& path, const std::string& text)
{
    WriteFile(path, Bytes(text.begin(), text.end()));
}

// RIFF/WAVE: "fmt " chunk (16 bytes) with `tag` and `channels`, optional
// chunks before it and a "bext" chunk, then 8 bytes of data.
inline Bytes Wave(std::uint16_t tag = 1, std::uint16_t channels = 1, bool bext = false,
                  bool junkFirst = false, bool withFmt = true)
{
    Bytes body;
    Append(body, "WAVE");
    if (junkFirst) {
        Append(body, "JUNK");
        LE32(body, 5);
        body.insert(body.end(), 6, 0); // odd size padded
    }
    if (withFmt) {
        Append(body, "fmt ");
        LE32(body, 16);
        LE16(body, tag);
        LE16(body, channels);
        LE32(body, 44100);
        LE32(body, 44100u * 2u * channels);
        LE16(body, 2 * channels);
        LE16(body, 16);
    }
    if (bext) {
        Append(body, "bext");
        LE32(body, 4);
        body.insert(body.end(), 4, 0);
    }
    Append(body, "data");
    LE32(body, 8);
    body.insert(body.end(), 8, 0);
    Bytes file;
    Append(file, "RIFF");
    LE32(file, std::uint32_t(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// IFF AIFF or AIFF-C with a COMM chunk, an optional APPL chunk and SSND.
inline Bytes Aiff(std::uint16_t channels = 1, const std::string& applSignature = "",
                  const std::string& compression = "", bool withComm = true)
{
    const bool aifc = !compression.empty();
    Bytes body;
    Append(body, aifc ? "AIFC" : "AIFF");
    if (!applSignature.empty()) {
        Append(body, "APPL");
        BE32(body, 8);
        Append(body, applSignature);
        body.insert(body.end(), 4, 0);
    }
    if (withComm) {
        Append(body, "COMM");
        BE32(body, aifc ? 24 : 18);
        BE16(body, channels);
        BE32(body, 4);
        BE16(body, 16);
        // 44100 as an 80-bit extended number.
        const std::uint8_t rate[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
        body.insert(body.end(), rate, rate + 10);
        if (aifc) {
            Append(body, compression);
            BE16(body, 0); // empty Pascal name, padded
        }
    }
    Append(body, "SSND");
    BE32(body, 8 + 8);
    body.insert(body.end(), 16, 0);
    Bytes file;
    Append(file, "FORM");
    BE32(file, std::uint32_t(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// NeXT/Sun: 24-byte header with `encoding`, then 8 bytes of data.
inline Bytes NeXT(std::uint32_t encoding, std::uint32_t channels = 1)
{
    Bytes b;
    Append(b, ".snd");
    BE32(b, 24);
    BE32(b, 8);
    BE32(b, encoding);
    BE32(b, 8000);
    BE32(b, channels);
    b.insert(b.end(), 8, 0);
    return b;
}

// Paris: 2048-byte header (" paf" big-endian or "fap " little-endian words).
inline Bytes Paris(std::uint32_t channels = 1, bool littleEndian = false)
{
    Bytes b;
    Append(b, littleEndian ? "fap " : " paf");
    auto word = [&](std::uint32_t v) { littleEndian ? LE32(b, v) : BE32(b, v); };
    word(0);
    word(littleEndian ? 1 : 0);
    word(44100);
    word(0);
    word(channels);
    word(5);
    b.resize(2048 + 16, 0);
    return b;
}

// Creative Voice: the 26-byte header, then the given blocks and a terminator.
inline Bytes Voc(const std::vector<std::uint8_t>& blockTypes)
{
    Bytes b;
    Append(b, "Creative Voice File");
    b.push_back(0x1A);
    LE16(b, 26);
    LE16(b, 0x010A);
    LE16(b, 0x1129);
    for (std::uint8_t type : blockTypes) {
        b.push_back(type);
        const std::uint32_t length = 6;
        b.push_back(std::uint8_t(length));
        b.push_back(0);
        b.push_back(0);
        b.insert(b.end(), length, 0x80);
    }
    b.push_back(0);
    return b;
}

} // namespace detection_files
