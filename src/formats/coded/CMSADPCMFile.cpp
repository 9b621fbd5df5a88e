#include "CMSADPCMFile.h"
#include "error_codes.h"
#include "SoundFileFactories.h"
#include "format_type_codes.h"

#include "FileManager.h"
#include "open_steps.h"
#include "SoundFileSwitches.h"

#include <algorithm>
#include <cstring>
#include <new>

CMSADPCMFile::~CMSADPCMFile()
{
    if (m_isOpen)
        Close();
}

OSType CMSADPCMFile::GetFileType() const { return format_type_codes::kMSADPCM; }
QString CMSADPCMFile::GetFormatName() const { return QStringLiteral("Microsoft ADPCM"); }

// ================================================================ reading

OSErr CMSADPCMFile::OpenAndDescribe(MSADPCMWaveHeader* header)
{
    SInt64 eof = 0;
    OSErr err = OpenToRead(&eof);
    if (err)
        return err;
    RefNumChunkSource source(m_refNum);
    err = header->Read(source);
    if (err)
        return err;
    m_codec = header->Codec();
    m_dataOffset = header->dataOffset;
    m_dataSize = header->dataSize;
    m_numChannels = header->channels;
    m_numBits = 16;
    m_sampleRate = header->sampleRate;
    m_sampleFormat = kSampleFormatADPCM;
    m_numFrames = UInt32(std::min<UInt64>({header->factFrames, header->FramesInData(), 0xFFFFFFFFu}));
    // Fewer frames in the data present than the fact chunk counts: the
    // file was cut.
    m_dataCutShort = header->FramesInData() < header->factFrames;
    m_cachedBlock = ~UInt64(0);
    return noErr;
}

void CMSADPCMFile::AddAnnotations(const MSADPCMWaveHeader& header)
{
    SInt16 k = 0;
    for (const wave_chunks::CueAnnotation& label : header.labels) {
        if (!label.isRegion) {
            SFTMarker marker;
            marker.markerID = k;
            marker.pos = label.position;
            std::memcpy(marker.name, label.name, sizeof marker.name);
            marker.type = 1;
            marker.number = k;
            if (AddMarker(&marker) != noErr)
                return;
            ++k;
            continue;
        }
        const UInt64 end = UInt64(label.position) + label.length;
        const bool wholeFile = label.position == 0 && end == m_numFrames;
        if (!wholeFile && end <= m_numFrames) {
            SFTRegion region;
            region.regionID = k;
            region.start = label.position;
            region.end = UInt32(end);
            region.syncFrame = label.position;
            const std::string name = "Region nmbr " + std::to_string(k);
            region.name[0] = UInt8(std::min<std::size_t>(name.size(), 31));
            std::memcpy(region.name + 1, name.data(), region.name[0]);
            if (AddRegion(&region) != noErr)
                return;
        }
        ++k;
    }
}

OSErr CMSADPCMFile::Open()
{
    m_inner.Release();
    MSADPCMWaveHeader header;
    if (const OSErr err = OpenAndDescribe(&header))
        return CloseAfterFailedOpen(err, m_isOpen, m_refNum);
    AddAnnotations(header);
    if (!GetSkipBadRegion())
        MakeRegionNamesUnique();
    AddFileRegion();
    return noErr;
}

OSErr CMSADPCMFile::ProbeHeader(SInt16* result)
{
    if (result)
        *result = 0;
    MSADPCMWaveHeader header;
    const OSErr err = OpenAndDescribe(&header);
    if (m_isOpen && !err && result) {
        *result = SInt16(std::count_if(header.labels.begin(), header.labels.end(),
                                       [](const wave_chunks::CueAnnotation& l) { return l.isRegion; }));
    }
    return CloseAfterProbe(err, m_isOpen, m_refNum);
}

OSErr CMSADPCMFile::SetFilePos(UInt32 frame)
{
    const UInt64 block = frame / std::max(m_codec.samplesPerBlock(), 1);
    return SetFPos(m_refNum, fsFromStart, SInt64(m_dataOffset + block * UInt64(m_codec.blockAlign())));
}

OSErr CMSADPCMFile::DecodeBlockAt(UInt64 block)
{
    if (block == m_cachedBlock)
        return noErr;
    m_cachedBlock = ~UInt64(0);
    const UInt64 start = block * UInt64(m_codec.blockAlign());
    if (start >= m_dataSize)
        return eofErr;
    const std::size_t bytes = std::size_t(std::min<UInt64>(m_codec.blockAlign(), m_dataSize - start));
    try {
        m_blockBytes.resize(bytes);
        m_blockSamples.resize(std::size_t(m_codec.samplesPerBlock()) * m_codec.channels());
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    if (const OSErr err = ReadAt(m_dataOffset + start, m_blockBytes.data(), bytes))
        return err;
    const int frames = m_codec.DecodeBlock(m_blockBytes.data(), bytes, m_blockSamples.data());
    if (frames < 0)
        return kMSADPCMPredictorErr;
    m_cachedBlock = block;
    m_cachedFrames = frames;
    return noErr;
}

OSErr CMSADPCMFile::ReadCodedBlock(UInt32 frame)
{
    OSErr err = AllocateReadBuffer();
    if (err)
        return err;
    const std::size_t channels = m_numChannels;
    std::memset(m_readBuffer, 0, std::size_t(m_bufferFrames) * channels * 2);
    m_readBufferStart = frame;
    const UInt32 frames = BlockFramesFrom(frame);
    const UInt32 spb = m_codec.samplesPerBlock();
    for (UInt32 done = 0; done < frames;) {
        const UInt32 at = frame + done;
        if ((err = DecodeBlockAt(at / spb)))
            return err;
        const UInt32 offset = at % spb;
        if (offset >= UInt32(m_cachedFrames))
            return eofErr;
        const UInt32 n = std::min(frames - done, UInt32(m_cachedFrames) - offset);
        for (std::size_t i = 0; i < std::size_t(n) * channels; ++i) {
            const int16_t s = m_blockSamples[std::size_t(offset) * channels + i];
            UInt8* out = m_readBuffer + (std::size_t(done) * channels + i) * 2;
            out[0] = UInt8(UInt16(s) >> 8);
            out[1] = UInt8(s);
        }
        done += n;
    }
    return noErr;
}

// ================================================================ writing

OSErr CMSADPCMFile::CheckShape(UInt16 channels, double) const
{
    return channels < 1 || channels > 2 ? kMSADPCMChannelsErr : noErr;
}


OSErr CMSADPCMFile::CreateDataFile(UInt16 channels, double rate, const UInt8*)
{
    UInt16 blockAlign = 0;
    UInt16 samplesPerBlock = 0;
    MSADPCMWaveHeader::ChooseLayout(channels, rate, m_bufferFrames, &blockAlign, &samplesPerBlock);
    m_codec = MSADPCMCodec(channels, blockAlign, samplesPerBlock, MSADPCMCodec::StandardCoefficients());
    if (!m_codec.IsValid() || !(rate >= 1.0 && rate < 4294967296.0))
        return paramErr;
    // The header tells the type: no sidecar.
    if (const OSErr err = CreateToWrite(true, channels, rate, kSampleFormatADPCM))
        return err;
    const std::vector<UInt8> header =
        MSADPCMWaveHeader::Build(channels, UInt32(rate), blockAlign, samplesPerBlock, 0, 0, 0x7FFFFFFF);
    m_dataOffset = header.size();
    return WriteAt(0, header.data(), header.size());
}

OSErr CMSADPCMFile::EncodeBlocks()
{
    const UInt32 spb = m_codec.samplesPerBlock();
    const UInt32 chunk = spb * std::max<UInt32>(m_bufferFrames / spb, 1);
    const std::size_t channels = m_codec.channels();
    UInt64 position = m_dataOffset;
    std::vector<UInt8> out;
    std::vector<int16_t> last;  // the last block, filled up
    const OSErr err = m_inner.Encode("encoding to MicroSoft ADPCM wave file", chunk,
                                     [&](const int16_t* samples, UInt32 frames, UInt32) {
        const UInt32 blocks = (frames + spb - 1) / spb;
        try {
            out.assign(std::size_t(blocks) * m_codec.blockAlign(), 0);
        } catch (const std::bad_alloc&) {
            return OSErr(memFullErr);
        }
        std::size_t bytes = 0;
        for (UInt32 done = 0; done < frames; done += spb) {
            const UInt32 n = std::min(spb, frames - done);
            const int16_t* block = samples + std::size_t(done) * channels;
            if (n < spb) {
                // Every block is whole, as readers that count whole blocks
                // expect: the last one holds its last frame to its end (the
                // 'fact' chunk keeps the true length).
                const int16_t* lastFrame = block + std::size_t(n - 1) * channels;
                try {
                    last.assign(block, lastFrame + channels);
                    for (UInt32 k = n; k < spb; ++k)
                        last.insert(last.end(), lastFrame, lastFrame + channels);
                } catch (const std::bad_alloc&) {
                    return OSErr(memFullErr);
                }
                block = last.data();
            }
            bytes += m_codec.EncodeBlock(block, int(spb), out.data() + bytes);
        }
        if (position + bytes - m_dataOffset > 0xFFFFFF00u)
            return OSErr(fsDataTooBigErr);
        const OSErr e = WriteAt(position, out.data(), bytes);
        position += bytes;
        return e;
    });
    m_dataSize = position - m_dataOffset;
    m_numFrames = m_inner.NumFrames();
    return err;
}

OSErr CMSADPCMFile::FinishFile()
{
    // Pad byte, annotations, then the sizes.
    UInt64 end = m_dataOffset + m_dataSize;
    OSErr err = SetEOF(m_refNum, SInt64(end));
    if (err)
        return err;
    if (m_dataSize & 1) {
        const UInt8 zero = 0;
        if ((err = WriteAt(end, &zero, 1)))
            return err;
        ++end;
    }
    std::vector<SFTMarker> markers;
    std::vector<SFTRegion> regions;
    for (UInt16 i = 0; i < GetNumMarkers(); ++i) {
        SFTMarker m;
        if (GetMarker(i, &m) == noErr && m.pos <= m_numFrames)
            markers.push_back(m);
    }
    for (UInt16 i = 0; i < GetNumRegions(); ++i) {
        SFTRegion r;
        if (GetRegion(i, &r) == noErr && r.start <= r.end && r.end <= m_numFrames)
            regions.push_back(r);
    }
    const std::vector<UInt8> annotations = MSADPCMWaveHeader::BuildAnnotations(markers, regions);
    if (!annotations.empty()) {
        if ((err = WriteAt(end, annotations.data(), annotations.size())))
            return err;
        end += annotations.size();
    }
    if (end - 8 > 0xFFFFFFFFu)
        return fsDataTooBigErr;
    const std::vector<UInt8> header = MSADPCMWaveHeader::Build(
        m_codec.channels(), UInt32(m_sampleRate), m_codec.blockAlign(), m_codec.samplesPerBlock(), m_numFrames,
        UInt32(m_dataSize), UInt32(end - 8));
    return WriteAt(0, header.data(), header.size());
}

OSErr CMSADPCMFile::EncodeOutput()
{
    const OSErr err = EncodeBlocks();
    return err ? err : FinishFile();
}

SoundFileTypeDescriptor CMSADPCMFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("MSAP"), .factory = &MakeSoundFileNoThrow<CMSADPCMFile>};
}
