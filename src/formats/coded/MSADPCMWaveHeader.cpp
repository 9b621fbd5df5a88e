#include "MSADPCMWaveHeader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr OSErr kNoDataErr = -23200;
constexpr OSErr kNoFmtErr = -23201;
constexpr OSErr kBadFactErr = -23202;
constexpr OSErr kUnsupportedErr = -23204;
constexpr OSErr kNoFactErr = -23205;
constexpr OSErr kChannelsErr = -23207;
constexpr std::size_t kMaxChunks = 10000;
constexpr UInt64 kMaxAnnotationBytes = 1u << 20;

UInt16 LE16(const UInt8* p) { return UInt16(p[0] | (p[1] << 8)); }
UInt32 LE32(const UInt8* p)
{
    return UInt32(p[0]) | (UInt32(p[1]) << 8) | (UInt32(p[2]) << 16) | (UInt32(p[3]) << 24);
}

void Put16(std::vector<UInt8>& b, UInt32 v)
{
    b.push_back(UInt8(v));
    b.push_back(UInt8(v >> 8));
}
void Put32(std::vector<UInt8>& b, UInt32 v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(UInt8(v >> (8 * i)));
}
void PutID(std::vector<UInt8>& b, const char* id)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(UInt8(id[i]));
}
void Patch32(std::vector<UInt8>& b, std::size_t at, UInt32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + std::size_t(i)] = UInt8(v >> (8 * i));
}

struct Chunk {
    char id[4];
    UInt64 body;
    UInt64 size;   // cut to the container
};

} // namespace

OSErr MSADPCMWaveHeader::Read(const Reader& read, UInt64 fileLength)
{
    UInt8 head[12];
    OSErr err = read(0, head, sizeof head);
    if (err == eofErr || (!err && (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)))
        return kNoFmtErr;
    if (err)
        return err;
    const UInt32 riffSize = LE32(head + 4);
    const UInt64 riffEnd = std::min<UInt64>(UInt64(riffSize) + 8, fileLength);

    std::vector<Chunk> chunks;
    for (UInt64 pos = 12; pos + 8 <= riffEnd && chunks.size() < kMaxChunks;) {
        UInt8 ch[8];
        if ((err = read(pos, ch, sizeof ch)))
            return err;
        Chunk c;
        std::memcpy(c.id, ch, 4);
        const UInt32 size = LE32(ch + 4);
        c.body = pos + 8;
        c.size = size == 0xFFFFFFFFu ? riffEnd - c.body : std::min<UInt64>(size, riffEnd - c.body);
        chunks.push_back(c);
        if (size == 0xFFFFFFFFu)
            break;
        pos = c.body + UInt64(size) + (size & 1);
    }
    auto find = [&](const char* id) -> const Chunk* {
        for (const Chunk& c : chunks)
            if (std::memcmp(c.id, id, 4) == 0)
                return &c;
        return nullptr;
    };

    // Format.
    const Chunk* fmt = find("fmt ");
    if (!fmt)
        fmt = find("fmt\r");
    if (!fmt || fmt->size < 16)
        return kNoFmtErr;
    std::vector<UInt8> f(std::size_t(std::min<UInt64>(fmt->size, 22 + 4 * MSADPCMCodec::kMaxCoefficients)));
    if ((err = read(fmt->body, f.data(), f.size())))
        return err == eofErr ? kNoFmtErr : err;
    if (LE16(&f[0]) != 2)
        return kUnsupportedErr;
    channels = LE16(&f[2]);
    sampleRate = LE32(&f[4]);
    blockAlign = LE16(&f[12]);
    if (channels != 1 && channels != 2)
        return kChannelsErr;
    if (f.size() < 22)
        return kUnsupportedErr;
    samplesPerBlock = LE16(&f[18]);
    const UInt16 numCoef = LE16(&f[20]);
    if (numCoef == 0 || numCoef > MSADPCMCodec::kMaxCoefficients || 22u + 4u * numCoef > f.size())
        return kUnsupportedErr;
    coefficients.clear();
    for (UInt16 i = 0; i < numCoef; ++i)
        coefficients.push_back({SInt16(LE16(&f[22 + 4 * i])), SInt16(LE16(&f[24 + 4 * i]))});
    if (sampleRate == 0 || !Codec().IsValid())
        return kUnsupportedErr;

    const Chunk* fact = find("fact");
    if (!fact)
        return kNoFactErr;
    UInt8 factBytes[4];
    if (fact->size < 4 || read(fact->body, factBytes, 4) != noErr)
        return kBadFactErr;
    factFrames = LE32(factBytes);

    const Chunk* data = find("data");
    if (!data)
        return kNoDataErr;
    dataOffset = data->body;
    dataSize = data->size;

    // Annotations: cue points and the first associated-data list.
    labels.clear();
    const Chunk* cue = find("cue ");
    const Chunk* adtl = nullptr;
    for (const Chunk& c : chunks) {
        UInt8 type[4];
        if (std::memcmp(c.id, "LIST", 4) == 0 && c.size >= 4 && read(c.body, type, 4) == noErr &&
            std::memcmp(type, "adtl", 4) == 0) {
            adtl = &c;
            break;
        }
    }
    if (!cue || !adtl || cue->size < 4)
        return noErr;
    std::vector<UInt8> cues(std::size_t(std::min<UInt64>(cue->size, kMaxAnnotationBytes)));
    std::vector<UInt8> list(std::size_t(std::min<UInt64>(adtl->size, kMaxAnnotationBytes)));
    if (read(cue->body, cues.data(), cues.size()) != noErr || read(adtl->body, list.data(), list.size()) != noErr)
        return noErr;
    // The count says how many points follow; only those the chunk holds count.
    const UInt64 points = std::min<UInt64>(LE32(&cues[0]), (cues.size() - 4) / 24);
    auto cuePosition = [&](UInt32 id, UInt32* position) {
        for (UInt64 i = 0; i < points; ++i) {
            const UInt8* p = &cues[std::size_t(4 + 24 * i)];
            if (LE32(p) == id) {
                *position = LE32(p + 20);
                return true;
            }
        }
        return false;
    };
    for (std::size_t pos = 4; pos + 8 <= list.size();) {
        const UInt8* sub = &list[pos];
        const UInt32 size = LE32(sub + 4);
        const std::size_t body = pos + 8;
        const std::size_t avail = std::size_t(std::min<UInt64>(size, list.size() - body));
        if (avail >= 4) {
            const UInt32 id = LE32(&list[body]);
            Label label{};
            if ((std::memcmp(sub, "labl", 4) == 0 || std::memcmp(sub, "note", 4) == 0) &&
                cuePosition(id, &label.position)) {
                label.isRegion = false;
                std::size_t n = 0;
                while (n < avail - 4 && n < 31 && list[body + 4 + n] != 0)
                    ++n;
                label.name[0] = UInt8(n);
                if (n)
                    std::memcpy(label.name + 1, &list[body + 4], n);
                labels.push_back(label);
            } else if (std::memcmp(sub, "ltxt", 4) == 0 && avail >= 8 && cuePosition(id, &label.position)) {
                label.isRegion = true;
                label.length = LE32(&list[body + 4]);
                labels.push_back(label);
            }
        }
        pos = body + std::size_t(size) + (size & 1);
        if (UInt64(body) + size > list.size())
            break;
    }
    return noErr;
}

MSADPCMCodec MSADPCMWaveHeader::Codec() const
{
    return MSADPCMCodec(channels, blockAlign, samplesPerBlock, coefficients);
}

UInt64 MSADPCMWaveHeader::FramesInData() const
{
    if (blockAlign == 0)
        return 0;
    const UInt64 full = dataSize / blockAlign;
    const UInt64 rest = dataSize % blockAlign;
    UInt64 frames = full * samplesPerBlock;
    if (rest >= UInt64(7 * channels))
        frames += std::min<UInt64>(samplesPerBlock, 2 + (rest - 7 * channels) * 2 / channels);
    return frames;
}

void MSADPCMWaveHeader::ChooseLayout(UInt16 channels, double rate, UInt32 maxFrames, UInt16* blockAlign,
                                     UInt16* samplesPerBlock)
{
    UInt32 align = 256u * channels;
    if (rate > 11025.0)
        align = 256u * channels * std::max<UInt32>(UInt32(std::min(rate, 1e9)) / 11000u, 1);
    auto frames = [&](UInt32 a) { return (a - 7u * channels) * 8u / (4u * channels) + 2u; };
    while ((frames(align) > maxFrames || align > 32768u) && align / 2 >= 256u * channels)
        align /= 2;
    *blockAlign = UInt16(align);
    *samplesPerBlock = UInt16(frames(align));
}

std::vector<UInt8> MSADPCMWaveHeader::Build(UInt16 channels, UInt32 rate, UInt16 blockAlign,
                                            UInt16 samplesPerBlock, UInt32 frames, UInt32 dataSize,
                                            UInt32 riffSize)
{
    const auto& pairs = MSADPCMCodec::StandardCoefficients();
    std::vector<UInt8> b;
    PutID(b, "RIFF");
    Put32(b, riffSize);
    PutID(b, "WAVE");
    PutID(b, "fmt ");
    Put32(b, UInt32(22 + 4 * pairs.size()));
    Put16(b, 2);
    Put16(b, channels);
    Put32(b, rate);
    Put32(b, UInt32(double(rate) / samplesPerBlock * blockAlign));
    Put16(b, blockAlign);
    Put16(b, 4);
    Put16(b, UInt32(4 + 4 * pairs.size()));
    Put16(b, samplesPerBlock);
    Put16(b, UInt32(pairs.size()));
    for (const auto& p : pairs) {
        Put16(b, UInt16(p.coef1));
        Put16(b, UInt16(p.coef2));
    }
    PutID(b, "fact");
    Put32(b, 4);
    Put32(b, frames);
    PutID(b, "data");
    Put32(b, dataSize);
    return b;
}

std::vector<UInt8> MSADPCMWaveHeader::BuildAnnotations(const std::vector<SFTMarker>& markers,
                                                       const std::vector<SFTRegion>& regions)
{
    std::vector<UInt8> b;
    if (markers.empty() && regions.empty())
        return b;
    const UInt32 count = UInt32(markers.size() + regions.size());
    PutID(b, "cue ");
    Put32(b, 24 * count + 4);
    Put32(b, count);
    UInt32 id = 0;
    auto point = [&](UInt32 position) {
        Put32(b, id++);
        Put32(b, position);
        PutID(b, "data");
        Put32(b, 0);
        Put32(b, 0);
        Put32(b, position);
    };
    for (const SFTMarker& m : markers)
        point(m.pos);
    for (const SFTRegion& r : regions)
        point(r.start);

    const std::size_t list = b.size();
    PutID(b, "LIST");
    Put32(b, 0);
    PutID(b, "adtl");
    id = 0;
    for (const SFTMarker& m : markers) {
        const UInt32 length = std::min<UInt32>(m.name[0], 31);
        PutID(b, "labl");
        Put32(b, length + 5);
        Put32(b, id++);
        b.insert(b.end(), m.name + 1, m.name + 1 + length);
        b.push_back(0);
        if ((length + 13) & 1)
            b.push_back(0);
    }
    for (const SFTRegion& r : regions) {
        PutID(b, "ltxt");
        Put32(b, 20);
        Put32(b, id++);
        Put32(b, r.end - r.start);
        PutID(b, "rgn ");
        Put32(b, 0);
        Put32(b, 0);
    }
    Patch32(b, list + 4, UInt32(b.size() - list - 8));
    return b;
}
