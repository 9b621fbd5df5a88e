// Small container files built byte by byte, for the container rules' walks:
// Ogg pages (with their checksums), an ASF header with fixed-size data
// packets, a Matroska segment, MPEG-4 boxes, CAF chunks, FLAC metadata, an
// MP3 stream with an Info frame and a LAME tag, and AC-3, E-AC-3 and ADTS
// frames.  The unit tests of the walks damage them; the fuzzers start from
// them.
#pragma once

#include "ByteChecksum.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace containerseeds {

using Bytes = std::vector<uint8_t>;

inline void PutLE(Bytes& b, uint64_t v, int n)
{
    for (int i = 0; i < n; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

inline void PutBE(Bytes& b, uint64_t v, int n)
{
    for (int i = n - 1; i >= 0; --i)
        b.push_back(uint8_t(v >> (8 * i)));
}

inline void Append(Bytes& b, const Bytes& more)
{
    b.insert(b.end(), more.begin(), more.end());
}

inline void Append(Bytes& b, const char* text)
{
    b.insert(b.end(), text, text + std::strlen(text));
}

// One Ogg page holding `body` (at most 255 * 255 bytes), its checksum set.
inline Bytes OggPage(uint32_t serial, uint32_t sequence, int64_t granule, uint8_t flags, const Bytes& body)
{
    Bytes page;
    Append(page, "OggS");
    page.push_back(0);
    page.push_back(flags);
    PutLE(page, uint64_t(granule), 8);
    PutLE(page, serial, 4);
    PutLE(page, sequence, 4);
    PutLE(page, 0, 4);
    std::size_t rest = body.size();
    Bytes lacing;
    do {
        lacing.push_back(uint8_t(std::min<std::size_t>(rest, 255)));
        rest -= std::min<std::size_t>(rest, 255);
    } while (rest > 0 || lacing.back() == 255);
    page.push_back(uint8_t(lacing.size()));
    Append(page, lacing);
    Append(page, body);
    const uint32_t crc = ByteChecksum::Crc32(page.data(), page.size());
    for (int i = 0; i < 4; ++i)
        page[22 + std::size_t(i)] = uint8_t(crc >> (8 * i));
    return page;
}

// The pages of an Opus stream: its two header pages, then `pages` pages of
// 960 granules each (the last with the end-of-stream flag when `ended`).
inline std::vector<Bytes> OggOpusPages(uint32_t serial, int pages, bool ended = true, uint16_t preSkip = 312)
{
    std::vector<Bytes> out;
    Bytes head;
    Append(head, "OpusHead");
    head.push_back(1);
    head.push_back(2);
    PutLE(head, preSkip, 2);
    PutLE(head, 48000, 4);
    PutLE(head, 0, 3);
    out.push_back(OggPage(serial, 0, 0, 2, head));
    Bytes tags;
    Append(tags, "OpusTags");
    PutLE(tags, 0, 8);
    out.push_back(OggPage(serial, 1, 0, 0, tags));
    for (int k = 0; k < pages; ++k) {
        Bytes body(40, uint8_t(0x40 + k));
        out.push_back(OggPage(serial, uint32_t(2 + k), 960 * int64_t(k + 1), ended && k == pages - 1 ? 4 : 0, body));
    }
    return out;
}

inline Bytes Join(const std::vector<Bytes>& pieces)
{
    Bytes b;
    for (const Bytes& piece : pieces)
        Append(b, piece);
    return b;
}

// An ASF file: a header object holding the file properties (`packets`
// packets of `packetBytes`, a play duration of `durationMs` and a preroll
// of 3100 ms), the data object, and packets each with one payload of media
// object k of stream 1 presented at `times[k]` ms (plus the preroll).
inline Bytes Asf(uint32_t packetBytes, const std::vector<uint32_t>& times, uint64_t durationMs)
{
    static const uint8_t kHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    static const uint8_t kProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                            0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    static const uint8_t kData[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    Bytes properties(kProperties, kProperties + 16);
    PutLE(properties, 104, 8);
    properties.resize(40, 0);                          // file ID
    PutLE(properties, 0, 8);                           // file size
    PutLE(properties, 0, 8);                           // creation date
    PutLE(properties, times.size(), 8);                // data packets
    PutLE(properties, (durationMs + 3100) * 10000, 8); // play duration
    PutLE(properties, durationMs * 10000, 8);          // send duration
    PutLE(properties, 3100, 8);                        // preroll
    PutLE(properties, 2, 4);                           // flags: seekable
    PutLE(properties, packetBytes, 4);
    PutLE(properties, packetBytes, 4);
    PutLE(properties, 0, 4);
    Bytes b(kHeader, kHeader + 16);
    PutLE(b, 30 + properties.size(), 8);
    PutLE(b, 1, 4);
    b.push_back(1);
    b.push_back(2);
    Append(b, properties);
    b.insert(b.end(), kData, kData + 16);
    PutLE(b, 50 + uint64_t(packetBytes) * times.size(), 8);
    b.resize(b.size() + 16, 0);
    PutLE(b, times.size(), 8);
    b.push_back(1);
    b.push_back(1);
    for (std::size_t k = 0; k < times.size(); ++k) {
        Bytes packet;
        packet.push_back(0x82);  // error correction data: 2 bytes
        packet.push_back(0);
        packet.push_back(0);
        packet.push_back(0x00);  // one payload, no lengths
        packet.push_back(0x5D);  // replicated data: 1 byte length; offset 4; object 1
        PutLE(packet, times[k], 4);  // send time
        PutLE(packet, 46, 2);        // duration
        packet.push_back(0x81);      // stream 1, a key frame
        packet.push_back(uint8_t(k));
        PutLE(packet, 0, 4);         // offset into the object
        packet.push_back(8);         // replicated data
        PutLE(packet, 100, 4);       // object size
        PutLE(packet, times[k] + 3100, 4);
        packet.resize(packetBytes, 0);
        Append(b, packet);
    }
    return b;
}

// An EBML element: its ID, its size in 8 bytes, its body.
inline Bytes Element(uint32_t id, const Bytes& body, bool sizeKnown = true)
{
    Bytes b;
    const int idBytes = id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1;
    PutBE(b, id, idBytes);
    b.push_back(0x01);
    PutBE(b, sizeKnown ? body.size() : 0x00FFFFFFFFFFFFFFull, 7);
    Append(b, body);
    return b;
}

// A Matroska file: its EBML header, a segment with information stating
// `durationMs` and a cluster of `clusterBytes`, then a cue index.
inline Bytes Matroska(double durationMs, std::size_t clusterBytes)
{
    Bytes duration;
    uint64_t word;
    std::memcpy(&word, &durationMs, 8);
    PutBE(duration, word, 8);
    Bytes info = Element(0x2AD7B1, Bytes{0x0F, 0x42, 0x40});
    Append(info, Element(0x4489, duration));
    Bytes segment = Element(0x1549A966, info);
    Append(segment, Element(0x1F43B675, Bytes(clusterBytes, 0xA3)));
    Append(segment, Element(0x1C53BB6B, Bytes(24, 0xBB)));
    Bytes b = Element(0x1A45DFA3, Bytes{0x42, 0x82, 0x84, 'w', 'e', 'b', 'm'});
    Append(b, Element(0x18538067, segment));
    return b;
}

inline Bytes Box(const char* type, const Bytes& body)
{
    Bytes b;
    PutBE(b, 8 + body.size(), 4);
    Append(b, type);
    Append(b, body);
    return b;
}

// An MPEG-4 file: its file type box, the media data, the movie box last.
inline Bytes Mp4(std::size_t mediaBytes, std::size_t movieBytes)
{
    Bytes b = Box("ftyp", Bytes{'M', '4', 'A', ' ', 0, 0, 0, 0});
    Append(b, Box("mdat", Bytes(mediaBytes, 0x21)));
    Append(b, Box("moov", Bytes(movieBytes, 0)));
    return b;
}

// A CAF file: its header, a description chunk, `dataBytes` of data and a
// packet table chunk of `tableBytes`.
inline Bytes Caf(std::size_t dataBytes, std::size_t tableBytes)
{
    Bytes b;
    Append(b, "caff");
    PutBE(b, 0x00010000, 4);
    const auto chunk = [&](const char* type, std::size_t bytes, uint8_t fill) {
        Append(b, type);
        PutBE(b, bytes, 8);
        b.resize(b.size() + bytes, fill);
    };
    chunk("desc", 32, 0);
    chunk("data", dataBytes, 0x11);
    chunk("pakt", tableBytes, 0x01);
    return b;
}

// A FLAC file's metadata: the stream information and `paddingBytes` of
// padding, then a few bytes of a first frame.
inline Bytes FlacMetadata(std::size_t paddingBytes)
{
    Bytes b;
    Append(b, "fLaC");
    b.push_back(0x00);
    PutBE(b, 34, 3);
    PutBE(b, 4096, 2);
    PutBE(b, 4096, 2);
    PutBE(b, 0, 6);
    PutBE(b, uint64_t(44100) << 44 | uint64_t(1) << 41 | uint64_t(15) << 36 | 88200, 8);
    b.resize(b.size() + 16, 0);
    b.push_back(0x81);
    PutBE(b, paddingBytes, 3);
    b.resize(b.size() + paddingBytes, 0);
    Append(b, Bytes{0xFF, 0xF8, 0x69, 0x08, 0x00});
    return b;
}

// An MPEG-1 Layer III stream (128 kbit/s, 44.1 kHz, stereo): an Info frame
// counting `frames` frames, its LAME tag's checksums right, then `frames`
// frames of silence.
inline Bytes Mp3WithInfo(uint32_t frames)
{
    const auto frame = [] {
        Bytes f(417, 0);
        f[0] = 0xFF;
        f[1] = 0xFB;
        f[2] = 0x90;
        f[3] = 0x64;
        return f;
    };
    Bytes music;
    for (uint32_t k = 0; k < frames; ++k)
        Append(music, frame());
    Bytes info = frame();
    std::memcpy(&info[36], "Info", 4);
    info[43] = 0x0F;
    const auto putBE = [&](std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            info[at + std::size_t(i)] = uint8_t(v >> (24 - 8 * i));
    };
    putBE(44, frames);
    putBE(48, uint32_t(417 * (frames + 1)));
    std::memcpy(&info[156], "LAME3.100", 9);
    putBE(156 + 28, uint32_t(417 * (frames + 1)));
    const uint16_t musicCrc = ByteChecksum::Crc16Reflected(music.data(), music.size());
    info[156 + 32] = uint8_t(musicCrc >> 8);
    info[156 + 33] = uint8_t(musicCrc);
    const uint16_t tagCrc = ByteChecksum::Crc16Reflected(info.data(), 190);
    info[190] = uint8_t(tagCrc >> 8);
    info[191] = uint8_t(tagCrc);
    Bytes b = info;
    Append(b, music);
    return b;
}

// Frames of the raw streams: AC-3 (48 kHz, 64 kbit/s: 256 bytes), E-AC-3
// (six blocks, 512 bytes), ADTS AAC (200 bytes).
// A frame of `size` bytes that begins with `head` (its header), zeros after.
inline Bytes FrameBeginning(std::size_t size, std::initializer_list<uint8_t> head)
{
    Bytes f(size, 0);
    std::copy(head.begin(), head.end(), f.begin());
    return f;
}

inline Bytes Ac3Frame() { return FrameBeginning(256, {0x0B, 0x77, 0x00, 0x00, 0x08, 0x40}); }

inline Bytes Eac3Frame() { return FrameBeginning(512, {0x0B, 0x77, 0x00, 0xFF, 0x30, 0x80}); }

inline Bytes AdtsFrame()
{
    return FrameBeginning(200, {0xFF, 0xF1, 0x50, 0x80, 200 >> 3, ((200 & 7) << 5) | 0x1F, 0xFC});
}

inline Bytes Repeat(const Bytes& frame, int count)
{
    Bytes b;
    for (int k = 0; k < count; ++k)
        Append(b, frame);
    return b;
}

// Every seed, as the fuzzers take them.
inline std::vector<std::string> All()
{
    const std::vector<Bytes> files = {
        Join(OggOpusPages(7, 6)),
        Asf(256, {0, 46, 92, 139, 185}, 230),
        Matroska(1000.0, 300),
        Mp4(200, 64),
        Caf(400, 16),
        FlacMetadata(100),
        Mp3WithInfo(4),
        Repeat(Ac3Frame(), 3),
        Repeat(Eac3Frame(), 3),
        Repeat(AdtsFrame(), 3),
    };
    std::vector<std::string> seeds;
    for (const Bytes& file : files)
        seeds.emplace_back(file.begin(), file.end());
    return seeds;
}

}  // namespace containerseeds
