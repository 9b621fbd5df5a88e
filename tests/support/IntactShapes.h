// Intact files in the shapes other writers give them, made from an
// encoder's output by hand: every change keeps the file valid (checksums
// are made again), so a reader must read each one clean.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace intactshape {

using Bytes = std::vector<uint8_t>;

// The Ogg page checksum: CRC-32 of polynomial 0x04C11DB7, not reflected,
// over the page with its checksum field zeroed.
inline uint32_t OggChecksum(const uint8_t* page, std::size_t size)
{
    uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= uint32_t(i >= 22 && i < 26 ? 0 : page[i]) << 24;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// An Ogg Opus file whose identification header states `preSkip` samples
// to drop (valid up to 65535); false when `bytes` holds no such header.
inline bool SetOpusPreSkip(Bytes* bytes, uint16_t preSkip)
{
    const std::string_view view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    const std::size_t head = view.find("OpusHead");
    const std::size_t page = view.rfind("OggS", head);
    if (head == std::string_view::npos || page == std::string_view::npos || head + 12 > bytes->size())
        return false;
    (*bytes)[head + 10] = uint8_t(preSkip & 0xFF);
    (*bytes)[head + 11] = uint8_t(preSkip >> 8);
    std::size_t end = page + 27 + (*bytes)[page + 26];
    for (std::size_t i = 0; i < (*bytes)[page + 26]; ++i)
        end += (*bytes)[page + 27 + i];
    const uint32_t crc = OggChecksum(bytes->data() + page, end - page);
    for (int i = 0; i < 4; ++i)
        (*bytes)[page + 22 + std::size_t(i)] = uint8_t(crc >> (8 * i));
    return true;
}

// An Ogg file whose last page's granule is lowered by `by` (an end trim
// over several packets, which the last page must hold); false when it
// would fall below the page's before it.
inline bool LowerLastOggGranule(Bytes* bytes, int64_t by)
{
    const std::string_view view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    std::size_t last = view.rfind("OggS");
    const std::size_t before = last == std::string_view::npos || last == 0 ? last : view.rfind("OggS", last - 1);
    if (before == std::string_view::npos || last + 27 > bytes->size())
        return false;
    int64_t granule = 0, earlier = 0;
    std::memcpy(&granule, bytes->data() + last + 6, 8);
    std::memcpy(&earlier, bytes->data() + before + 6, 8);
    if (granule - by <= earlier)
        return false;
    granule -= by;
    std::memcpy(bytes->data() + last + 6, &granule, 8);
    const uint32_t crc = OggChecksum(bytes->data() + last, bytes->size() - last);
    for (int i = 0; i < 4; ++i)
        (*bytes)[last + 22 + std::size_t(i)] = uint8_t(crc >> (8 * i));
    return true;
}

// An Ogg page of one whole packet (under 65,025 bytes) of stream `serial`.
inline Bytes OggPage(uint32_t serial, uint32_t sequence, uint8_t flags, const Bytes& packet)
{
    Bytes page = {'O', 'g', 'g', 'S', 0, flags, 0, 0, 0, 0, 0, 0, 0, 0};
    for (const uint32_t v : {serial, sequence, 0u})
        for (int i = 0; i < 4; ++i)
            page.push_back(uint8_t(v >> (8 * i)));
    page.push_back(uint8_t(packet.size() / 255 + 1));
    page.insert(page.end(), packet.size() / 255, 255);
    page.push_back(uint8_t(packet.size() % 255));
    page.insert(page.end(), packet.begin(), packet.end());
    const uint32_t crc = OggChecksum(page.data(), page.size());
    for (int i = 0; i < 4; ++i)
        page[22 + std::size_t(i)] = uint8_t(crc >> (8 * i));
    return page;
}

// An Ogg file of one logical stream given a Skeleton (version 3) beside
// it, as muxers of Ogg video write one: its head page first, its bone for
// the stream after the stream's first page, its end before the stream's
// first page of sound.  `rate`: the stream's granules a second.
inline bool AddSkeleton(Bytes* bytes, uint32_t rate)
{
    const auto le = [](Bytes* b, uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            b->push_back(uint8_t(v >> (8 * i)));
    };
    if (bytes->size() < 58 || std::memcmp(bytes->data(), "OggS", 4) != 0)
        return false;
    std::size_t firstEnd = 27 + (*bytes)[26];
    for (std::size_t i = 0; i < (*bytes)[26]; ++i)
        firstEnd += (*bytes)[27 + i];
    std::size_t sound = firstEnd;  // the first page with a granule above 0
    const auto granule = [&](std::size_t at) {
        int64_t g = 0;
        std::memcpy(&g, bytes->data() + at + 6, 8);
        return g;
    };
    while (sound + 27 <= bytes->size() && granule(sound) == 0) {
        std::size_t end = sound + 27 + (*bytes)[sound + 26];
        for (std::size_t i = 0; i < (*bytes)[sound + 26]; ++i)
            end += (*bytes)[sound + 27 + i];
        sound = end;
    }
    uint32_t serial = 0;
    std::memcpy(&serial, bytes->data() + 14, 4);
    const uint32_t bones = serial ^ 0x5A5A5A5Au;
    Bytes head = {'f', 'i', 's', 'h', 'e', 'a', 'd', 0, 3, 0, 0, 0};
    for (const uint64_t v : {0ull, 1000ull, 0ull, 1000ull})
        le(&head, v, 8);
    head.resize(64, 0);
    Bytes bone = {'f', 'i', 's', 'b', 'o', 'n', 'e', 0};
    le(&bone, 44, 4);
    le(&bone, serial, 4);
    le(&bone, 3, 4);
    le(&bone, rate, 8);
    le(&bone, 1, 8);
    le(&bone, 0, 8);
    le(&bone, 2, 4);
    le(&bone, 0, 4);
    for (const char c : std::string_view("Content-Type: audio/vorbis\r\n"))
        bone.push_back(uint8_t(c));
    Bytes out = OggPage(bones, 0, 2, head);
    out.insert(out.end(), bytes->begin(), bytes->begin() + std::ptrdiff_t(firstEnd));
    const Bytes bonePage = OggPage(bones, 1, 0, bone);
    out.insert(out.end(), bonePage.begin(), bonePage.end());
    out.insert(out.end(), bytes->begin() + std::ptrdiff_t(firstEnd), bytes->begin() + std::ptrdiff_t(sound));
    const Bytes end = OggPage(bones, 2, 4, Bytes());
    out.insert(out.end(), end.begin(), end.end());
    out.insert(out.end(), bytes->begin() + std::ptrdiff_t(sound), bytes->end());
    *bytes = std::move(out);
    return true;
}

inline uint32_t BE32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// An MPEG-4 file of one AAC track whose first packet holds no channel
// element, only a data element naming the encoder: it decodes to nothing,
// cleanly, and primes the decoder (as some encoders begin a stream).  False
// when the sample tables are not found.
inline bool EmptyFirstAACPacket(Bytes* bytes)
{
    const std::string_view view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    const std::size_t sizes = view.find("stsz");
    const std::size_t chunks = view.find("stco");
    if (sizes == std::string_view::npos || chunks == std::string_view::npos || sizes + 16 > bytes->size()
        || chunks + 16 > bytes->size())
        return false;
    const uint32_t size = BE32(&(*bytes)[sizes + 8]) ? BE32(&(*bytes)[sizes + 8]) : BE32(&(*bytes)[sizes + 16]);
    const uint32_t at = BE32(&(*bytes)[chunks + 12]);
    const char text[] = "encoder";
    // ID_DSE (3 bits), instance 0 (4), no alignment (1), the count (8), the
    // bytes, then ID_END (3 bits) and zeros.
    std::vector<bool> bits;
    const auto put = [&bits](uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i)
            bits.push_back((value >> i) & 1);
    };
    put(4, 3);
    put(0, 5);
    put(sizeof text - 1, 8);
    for (std::size_t i = 0; i + 1 < sizeof text; ++i)
        put(uint8_t(text[i]), 8);
    put(7, 3);
    if (size < (bits.size() + 7) / 8 || std::size_t(at) + size > bytes->size())
        return false;
    std::fill(bytes->begin() + at, bytes->begin() + at + size, 0);
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i])
            (*bytes)[at + i / 8] |= uint8_t(0x80 >> (i % 8));
    return true;
}

// A FLAC file (fixed block size, frame numbers below 128) whose frame
// `frame` states the number `number` instead of its own, its header CRC-8
// and frame CRC-16 made again: every sample is still there, where the
// STREAMINFO says, but the frame numbers leap.  False when the frame is
// not found.
inline bool LeapFlacFrameNumber(Bytes* bytes, int frame, uint8_t number)
{
    const auto crc8 = [](const uint8_t* p, std::size_t n) {
        uint8_t crc = 0;
        for (std::size_t i = 0; i < n; ++i) {
            crc ^= p[i];
            for (int k = 0; k < 8; ++k)
                crc = uint8_t(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
        }
        return crc;
    };
    const auto crc16 = [](const uint8_t* p, std::size_t n) {
        uint16_t crc = 0;
        for (std::size_t i = 0; i < n; ++i) {
            crc ^= uint16_t(p[i] << 8);
            for (int k = 0; k < 8; ++k)
                crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
        }
        return crc;
    };
    // The frame headers: a sync code, a one-byte frame number, the extra
    // bytes the block-size and rate codes ask for, and a CRC-8 that holds.
    const auto headerBytes = [&](std::size_t at) -> std::size_t {
        const uint8_t* p = bytes->data() + at;
        if (at + 16 > bytes->size() || p[0] != 0xFF || p[1] != 0xF8 || (p[4] & 0x80))
            return 0;
        const int blockCode = p[2] >> 4, rateCode = p[2] & 15;
        const std::size_t n = 5
            + (blockCode == 6        ? 1
                    : blockCode == 7 ? 2
                                     : 0)
            + (rateCode == 12                          ? 1
                    : rateCode == 13 || rateCode == 14 ? 2
                                                       : 0);
        return crc8(p, n) == p[n] ? n + 1 : 0;
    };
    std::vector<std::size_t> starts;
    for (std::size_t at = 4; at + 16 <= bytes->size(); ++at)
        if (headerBytes(at) && bytes->at(at + 4) == starts.size())
            starts.push_back(at);
    if (starts.size() <= std::size_t(frame) + 1)
        return false;
    const std::size_t at = starts[std::size_t(frame)], end = starts[std::size_t(frame) + 1];
    const std::size_t n = headerBytes(at) - 1;
    (*bytes)[at + 4] = number;
    (*bytes)[at + n] = crc8(bytes->data() + at, n);
    const uint16_t crc = crc16(bytes->data() + at, end - at - 2);
    (*bytes)[end - 2] = uint8_t(crc >> 8);
    (*bytes)[end - 1] = uint8_t(crc & 0xFF);
    return true;
}

// Tags as taggers write them around MP3 frames.  An ID3v2.3 tag (or 2.4
// with a footer) holding one private frame of `payload` bytes.
inline Bytes ID3v2Tag(uint32_t payload, bool footer = false)
{
    const uint32_t body = 10 + payload;
    const auto syncsafe = [](uint32_t n) {
        return Bytes{uint8_t((n >> 21) & 0x7F), uint8_t((n >> 14) & 0x7F), uint8_t((n >> 7) & 0x7F), uint8_t(n & 0x7F)};
    };
    Bytes tag = {'I', 'D', '3', uint8_t(footer ? 4 : 3), 0, uint8_t(footer ? 0x10 : 0)};
    const Bytes size = syncsafe(body);
    tag.insert(tag.end(), size.begin(), size.end());
    const Bytes frameSize = footer
        ? syncsafe(payload)
        : Bytes{uint8_t(payload >> 24), uint8_t(payload >> 16), uint8_t(payload >> 8), uint8_t(payload)};
    tag.insert(tag.end(), {'P', 'R', 'I', 'V'});
    tag.insert(tag.end(), frameSize.begin(), frameSize.end());
    tag.insert(tag.end(), {0, 0});
    for (uint32_t i = 0; i < payload; ++i)
        tag.push_back(uint8_t('a' + i % 26));
    if (footer) {
        tag.insert(tag.end(), {'3', 'D', 'I', 4, 0, 0x10});
        tag.insert(tag.end(), size.begin(), size.end());
    }
    return tag;
}

// Where the frame at `share` of the MPEG-1 Layer III frames of an MP3
// (after an ID3v2 tag at its start) begins; 0 when there are too few.
inline std::size_t Mp3FrameAt(const Bytes& b, double share)
{
    static const int kRates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kFrequencies[4] = {44100, 48000, 32000, 0};
    std::size_t at = 0;
    if (b.size() > 10 && std::memcmp(b.data(), "ID3", 3) == 0)
        at = 10 + (std::size_t(b[6] & 0x7F) << 21 | std::size_t(b[7] & 0x7F) << 14 | std::size_t(b[8] & 0x7F) << 7 |
                   std::size_t(b[9] & 0x7F));
    std::vector<std::size_t> starts;
    while (at + 4 <= b.size() && b[at] == 0xFF && (b[at + 1] & 0xFE) == 0xFA) {
        const int rate = kRates[b[at + 2] >> 4], frequency = kFrequencies[(b[at + 2] >> 2) & 3];
        if (rate == 0 || frequency == 0)
            break;
        starts.push_back(at);
        at += std::size_t(144000 * rate / frequency + ((b[at + 2] >> 1) & 1));
    }
    return starts.size() < 10 ? 0 : starts[std::size_t(double(starts.size()) * share)];
}

inline Bytes ID3v1Tag()
{
    Bytes tag(128, 0);
    std::memcpy(tag.data(), "TAGTitle", 8);
    tag[127] = 12;
    return tag;
}

// An APEv2 tag of one item, with its header or only its footer.
inline Bytes APETag(bool header)
{
    const Bytes item = {5, 0, 0, 0, 0, 0, 0, 0, 'T', 'i', 't', 'l', 'e', 0, 'H', 'e', 'l', 'l', 'o'};
    const uint32_t size = uint32_t(item.size()) + 32;
    const auto block = [&](uint32_t flags) {
        Bytes b = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
        for (const uint32_t v : {2000u, size, 1u, flags})
            for (int i = 0; i < 4; ++i)
                b.push_back(uint8_t(v >> (8 * i)));
        b.resize(32, 0);
        return b;
    };
    Bytes tag = header ? block(0xA0000000u) : Bytes();
    tag.insert(tag.end(), item.begin(), item.end());
    const Bytes footer = block(header ? 0x80000000u : 0);
    tag.insert(tag.end(), footer.begin(), footer.end());
    return tag;
}

}  // namespace intactshape
