#include "MSADPCMWaveHeader.h"

#include "ByteOrder.h"
#include "RIFFChunkList.h"
#include "error_codes.h"
#include "riff_chunks.h"
#include "wave_chunks.h"

#include <algorithm>

OSErr MSADPCMWaveHeader::Read(ChunkSource& source)
{
    RIFFChunkList chunks;
    OSErr err = chunks.Walk(source);
    if (err == kChunkNotFoundErr ||
        (!err && (chunks.ContainerID() != riff_chunks::kRIFF || chunks.FormType() != riff_chunks::kWAVE)))
        return kMSADPCMNoFmtErr;
    if (err)
        return err;

    // Format.
    wave_chunks::Format format;
    // (Its blocks are the coder's: the codec judges them.)
    err = wave_chunks::ReadFormat(chunks, &format, 22 + 4 * MSADPCMCodec::kMaxCoefficients, false);
    if (err)
        return err == kChunkNotFoundErr ? kMSADPCMNoFmtErr : err;
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

    ChunkInfo data;
    if (chunks.Find(riff_chunks::kData, &data) != noErr)
        return kMSADPCMNoDataErr;
    dataOffset = UInt64(data.bodyPos);
    dataSize = UInt64(data.bodySize);

    // Without 'fact' (written to a pipe, say) the data's blocks tell the
    // frames.
    err = wave_chunks::ReadFact(chunks, &factFrames);
    if (err == kChunkNotFoundErr)
        factFrames = UInt32(std::min<UInt64>(FramesInData(), 0xFFFFFFFFu));
    else if (err == kCorruptChunkSizeErr)
        return kMSADPCMBadSizeErr;
    else if (err)
        return err;

    // The annotations are best effort: ones that cannot be read are left.
    if (wave_chunks::ReadCueList(chunks, &labels) != noErr)
        labels.clear();
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
