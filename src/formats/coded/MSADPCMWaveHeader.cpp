#include "MSADPCMWaveHeader.h"

#include "ByteOrder.h"
#include "ChunkReader.h"
#include "error_codes.h"
#include "riff_chunks.h"
#include "wave_chunks.h"

#include <algorithm>
#include <cstring>

namespace {

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
        return kMSADPCMNoFmtErr;
    if (err)
        return err;
    const UInt64 riffEnd = UInt64(ChunkReader::ContainerEndFor(ReadLE32(head + 4), SInt64(fileLength)));

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
    ChunkWalkOptions options = riff_chunks::WalkOptions();
    options.maxChunks = kMaxChunks;
    ChunkReader reader(source, options);
    wave_chunks::Format format;
    err = reader.ReadHeader();
    if (err == noErr)
        err = wave_chunks::ReadFormat(reader, &format, 22 + 4 * MSADPCMCodec::kMaxCoefficients, false);
    if (err)
        return source.ReadError() && source.ReadError() != eofErr ? source.ReadError() : kMSADPCMNoFmtErr;
    if (format.tag != kWAVEFormatMSADPCM)
        return kMSADPCMUnsupportedErr;
    channels = format.channels;
    sampleRate = format.sampleRate;
    blockAlign = format.blockAlign;
    if (channels != 1 && channels != 2)
        return kMSADPCMChannelsErr;
    // The extra bytes: samples per block, the pair count and the pairs.
    if (format.extra.size() < 4)
        return kMSADPCMUnsupportedErr;
    ChunkView extra(format.extra.data(), format.extra.size(), ChunkByteOrder::LittleEndian);
    samplesPerBlock = extra.get_u16le();
    const UInt16 numCoef = extra.get_u16le();
    if (numCoef == 0 || numCoef > MSADPCMCodec::kMaxCoefficients || !extra.has(4u * numCoef))
        return kMSADPCMUnsupportedErr;
    coefficients.clear();
    for (UInt16 i = 0; i < numCoef; ++i) {
        const SInt16 coef1 = extra.get_i16le();
        coefficients.push_back({coef1, extra.get_i16le()});
    }
    if (sampleRate == 0 || !Codec().IsValid())
        return kMSADPCMUnsupportedErr;

    const Chunk* data = find(riff_chunks::kData);
    if (!data)
        return kMSADPCMNoDataErr;
    dataOffset = data->body;
    dataSize = data->size;

    // Without 'fact' (written to a pipe, say) the data's blocks tell the
    // frames.
    const Chunk* fact = find(wave_chunks::kFact);
    if (fact) {
        UInt8 factBytes[4];
        if (fact->size < 4 || read(fact->body, factBytes, 4) != noErr)
            return kMSADPCMBadSizeErr;
        factFrames = ReadLE32(factBytes);
    } else {
        factFrames = UInt32(std::min<UInt64>(FramesInData(), 0xFFFFFFFFu));
    }

    // Annotations: cue points and the first associated-data list.
    labels.clear();
    const Chunk* cue = find(wave_chunks::kCue);
    const Chunk* adtl = nullptr;
    for (const Chunk& c : chunks) {
        UInt8 type[4];
        if (c.id == wave_chunks::kList && c.size >= 4 && read(c.body, type, 4) == noErr &&
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
    ChunkView cueBody(cues.data(), cues.size(), ChunkByteOrder::LittleEndian);
    ChunkView listBody(list.data(), list.size(), ChunkByteOrder::LittleEndian);
    listBody.skip(4);  // "adtl"
    for (const wave_chunks::CueAnnotation& a : wave_chunks::ParseCueList(cueBody, listBody)) {
        Label label{};
        label.isRegion = a.isRegion;
        label.position = a.position;
        label.length = a.length;
        if (!a.isRegion)
            std::memcpy(label.name, a.name, a.name[0] + 1u);
        labels.push_back(label);
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
    wave_chunks::Format format;
    format.tag = kWAVEFormatMSADPCM;
    format.channels = channels;
    format.sampleRate = rate;
    format.byteRate = UInt32(double(rate) / samplesPerBlock * blockAlign);
    format.blockAlign = blockAlign;
    format.bitsPerSample = 4;
    format.hasExtra = true;
    ChunkBuilder extra(ChunkByteOrder::LittleEndian);
    extra.put_u16(samplesPerBlock);
    extra.put_u16(UInt16(pairs.size()));
    for (const auto& p : pairs) {
        extra.put_u16(UInt16(p.coef1));
        extra.put_u16(UInt16(p.coef2));
    }
    format.extra = extra.bytes();

    ChunkBuilder b(ChunkByteOrder::LittleEndian);
    b.put_fourcc(riff_chunks::kRIFF);
    b.put_u32(riffSize);
    b.put_fourcc(riff_chunks::kWAVE);
    wave_chunks::PutFormat(&b, format);
    wave_chunks::PutFact(&b, frames);
    b.put_fourcc(riff_chunks::kData);
    b.put_u32(dataSize);
    return b.bytes();
}

std::vector<UInt8> MSADPCMWaveHeader::BuildAnnotations(const std::vector<SFTMarker>& markers,
                                                       const std::vector<SFTRegion>& regions)
{
    ChunkBuilder b(ChunkByteOrder::LittleEndian);
    wave_chunks::PutCueList(&b, markers, regions, false);
    return b.bytes();
}
