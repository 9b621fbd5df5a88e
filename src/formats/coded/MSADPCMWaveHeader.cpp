#include "MSADPCMWaveHeader.h"

#include "ByteOrder.h"
#include "ChunkReader.h"
#include "riff_chunks.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr OSErr kNoDataErr = -23200;
constexpr OSErr kNoFmtErr = -23201;
constexpr OSErr kBadFactErr = -23202;
constexpr OSErr kUnsupportedErr = -23204;
constexpr OSErr kNoFactErr = -23205;
constexpr OSErr kChannelsErr = -23207;
constexpr int kMaxChunks = 10000;
constexpr UInt64 kMaxAnnotationBytes = 1u << 20;

struct Chunk {
    FourCharCode id;
    UInt64 body;
    UInt64 size;   // cut to the container
};

} // namespace

OSErr MSADPCMWaveHeader::Read(const Reader& read, UInt64 fileLength)
{
    UInt8 head[12];
    OSErr err = read(0, head, sizeof head);
    if (err == eofErr || (!err && (ReadBE32(head) != riff_chunks::kRIFF || ReadBE32(head + 8) != riff_chunks::kWAVE)))
        return kNoFmtErr;
    if (err)
        return err;
    const UInt32 riffSize = ReadLE32(head + 4);
    const UInt64 riffEnd = std::min<UInt64>(UInt64(riffSize) + 8, fileLength);

    // The walk ends at the RIFF end (bodies are cut there too); a failed
    // read is the reader's own code.
    CallbackChunkSource source(
        [&read](SInt64 position, void* bytes, std::size_t count) { return read(UInt64(position), bytes, count); },
        SInt64(riffEnd));
    std::vector<Chunk> chunks;
    riff_chunks::ForEachChunk(source, kMaxChunks, false, [&chunks](const ChunkInfo& info) {
        chunks.push_back({info.id, UInt64(info.bodyPos), UInt64(info.bodySize)});
        return true;
    });
    if (source.ReadError())
        return source.ReadError();
    auto find = [&](FourCharCode id) -> const Chunk* {
        for (const Chunk& c : chunks)
            if (c.id == id)
                return &c;
        return nullptr;
    };

    // Format.
    const Chunk* fmt = find(riff_chunks::kFmt);
    if (!fmt)
        fmt = find(riff_chunks::kFmtCR);
    if (!fmt || fmt->size < 16)
        return kNoFmtErr;
    std::vector<UInt8> f(std::size_t(std::min<UInt64>(fmt->size, 22 + 4 * MSADPCMCodec::kMaxCoefficients)));
    if ((err = read(fmt->body, f.data(), f.size())))
        return err == eofErr ? kNoFmtErr : err;
    if (ReadLE16(&f[0]) != 2)
        return kUnsupportedErr;
    channels = ReadLE16(&f[2]);
    sampleRate = ReadLE32(&f[4]);
    blockAlign = ReadLE16(&f[12]);
    if (channels != 1 && channels != 2)
        return kChannelsErr;
    if (f.size() < 22)
        return kUnsupportedErr;
    samplesPerBlock = ReadLE16(&f[18]);
    const UInt16 numCoef = ReadLE16(&f[20]);
    if (numCoef == 0 || numCoef > MSADPCMCodec::kMaxCoefficients || 22u + 4u * numCoef > f.size())
        return kUnsupportedErr;
    coefficients.clear();
    for (UInt16 i = 0; i < numCoef; ++i)
        coefficients.push_back({SInt16(ReadLE16(&f[22 + 4 * i])), SInt16(ReadLE16(&f[24 + 4 * i]))});
    if (sampleRate == 0 || !Codec().IsValid())
        return kUnsupportedErr;

    const Chunk* fact = find(riff_chunks::kFact);
    if (!fact)
        return kNoFactErr;
    UInt8 factBytes[4];
    if (fact->size < 4 || read(fact->body, factBytes, 4) != noErr)
        return kBadFactErr;
    factFrames = ReadLE32(factBytes);

    const Chunk* data = find(riff_chunks::kData);
    if (!data)
        return kNoDataErr;
    dataOffset = data->body;
    dataSize = data->size;

    // Annotations: cue points and the first associated-data list.
    labels.clear();
    const Chunk* cue = find(riff_chunks::kCue);
    const Chunk* adtl = nullptr;
    for (const Chunk& c : chunks) {
        UInt8 type[4];
        if (c.id == riff_chunks::kList && c.size >= 4 && read(c.body, type, 4) == noErr &&
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
    const UInt64 points = std::min<UInt64>(ReadLE32(&cues[0]), (cues.size() - 4) / 24);
    auto cuePosition = [&](UInt32 id, UInt32* position) {
        for (UInt64 i = 0; i < points; ++i) {
            const UInt8* p = &cues[std::size_t(4 + 24 * i)];
            if (ReadLE32(p) == id) {
                *position = ReadLE32(p + 20);
                return true;
            }
        }
        return false;
    };
    for (std::size_t pos = 4; pos + 8 <= list.size();) {
        const UInt8* sub = &list[pos];
        const UInt32 size = ReadLE32(sub + 4);
        const std::size_t body = pos + 8;
        const std::size_t avail = std::size_t(std::min<UInt64>(size, list.size() - body));
        if (avail >= 4) {
            const UInt32 id = ReadLE32(&list[body]);
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
                label.length = ReadLE32(&list[body + 4]);
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
    ChunkBuilder b(ChunkByteOrder::LittleEndian);
    b.put_fourcc(riff_chunks::kRIFF);
    b.put_u32(riffSize);
    b.put_fourcc(riff_chunks::kWAVE);
    b.put_fourcc(riff_chunks::kFmt);
    b.put_u32(UInt32(22 + 4 * pairs.size()));
    b.put_u16(2);
    b.put_u16(channels);
    b.put_u32(rate);
    b.put_u32(UInt32(double(rate) / samplesPerBlock * blockAlign));
    b.put_u16(blockAlign);
    b.put_u16(4);
    b.put_u16(UInt16(4 + 4 * pairs.size()));
    b.put_u16(samplesPerBlock);
    b.put_u16(UInt16(pairs.size()));
    for (const auto& p : pairs) {
        b.put_u16(UInt16(p.coef1));
        b.put_u16(UInt16(p.coef2));
    }
    b.put_fourcc(ChunkID("fact"));
    b.put_u32(4);
    b.put_u32(frames);
    b.put_fourcc(ChunkID("data"));
    b.put_u32(dataSize);
    return b.bytes();
}

std::vector<UInt8> MSADPCMWaveHeader::BuildAnnotations(const std::vector<SFTMarker>& markers,
                                                       const std::vector<SFTRegion>& regions)
{
    if (markers.empty() && regions.empty())
        return {};
    ChunkBuilder b(ChunkByteOrder::LittleEndian);
    const UInt32 count = UInt32(markers.size() + regions.size());
    b.put_fourcc(ChunkID("cue "));
    b.put_u32(24 * count + 4);
    b.put_u32(count);
    UInt32 id = 0;
    auto point = [&](UInt32 position) {
        b.put_u32(id++);
        b.put_u32(position);
        b.put_fourcc(ChunkID("data"));
        b.put_u32(0);
        b.put_u32(0);
        b.put_u32(position);
    };
    for (const SFTMarker& m : markers)
        point(m.pos);
    for (const SFTRegion& r : regions)
        point(r.start);

    const std::size_t list = b.size();
    b.put_fourcc(ChunkID("LIST"));
    b.put_u32(0);
    b.put_fourcc(ChunkID("adtl"));
    id = 0;
    for (const SFTMarker& m : markers) {
        const UInt32 length = std::min<UInt32>(m.name[0], 31);
        b.put_fourcc(ChunkID("labl"));
        b.put_u32(length + 5);
        b.put_u32(id++);
        b.put_bytes(m.name + 1, length);
        b.put_u8(0);
        if ((length + 13) & 1)
            b.put_u8(0);
    }
    for (const SFTRegion& r : regions) {
        b.put_fourcc(ChunkID("ltxt"));
        b.put_u32(20);
        b.put_u32(id++);
        b.put_u32(r.end - r.start);
        b.put_fourcc(ChunkID("rgn "));
        b.put_u32(0);
        b.put_u32(0);
    }
    b.patch_u32(list + 4, UInt32(b.size() - list - 8));
    return b.bytes();
}
