#include "CG729File.h"
#include "SoundFileFactories.h"
#include "format_type_codes.h"

#include "ByteOrder.h"
#include "FileManager.h"
#include "G729Bits.h"
#include "SoundFileRegistry.h"
#include "ZuFiles.h"
#include "RIFFChunkList.h"
#include "SoundFileSwitches.h"
#include "riff_chunks.h"
#include "wave_chunks.h"
#include "telephony_names.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace g729 = qm::g729;

namespace {

constexpr UInt32 kSamplesPerFrame = 80;
constexpr UInt32 kSerialFrameBytes = 164;
constexpr UInt32 kRiffHeaderBytes = 56;
constexpr UInt32 kDecodeChunkFrames = 64;  // speech frames decoded at a time

} // namespace

CG729File::~CG729File()
{
    if (m_isOpen)
        Close();
}

OSType CG729File::GetFileType() const { return format_type_codes::kG729; }

QString CG729File::GetFormatName() const
{
    switch (m_layout) {
    case Layout::Riff: return QStringLiteral("ITU G.729 Compressed Wave");
    case Layout::Packed: return QStringLiteral("ITU G.729 (Packed)");
    case Layout::SerialLittleEndian: return QStringLiteral("ITU G.729 (Unpacked Little-Endian)");
    case Layout::SerialBigEndian: break;
    }
    return QStringLiteral("ITU G.729 (Unpacked Big-Endian)");
}

UInt32 CG729File::FrameBytes() const
{
    return m_layout == Layout::SerialBigEndian || m_layout == Layout::SerialLittleEndian ? kSerialFrameBytes
                                                                                          : g729::kPackedFrameBytes;
}

CG729File::Layout CG729File::LayoutFromOptions(const UInt8* options)
{
    const UInt8 none[3] = {0, 0, 0};
    const UInt8* o = options ? options : none;
    if (o[1] != 0)
        return o[0] == 1 ? Layout::SerialBigEndian : Layout::SerialLittleEndian;
    return o[2] == 1 ? Layout::Riff : Layout::Packed;
}

std::vector<UInt8> CG729File::BuildRiffHeader(UInt32 frames)
{
    const UInt32 dataSize = frames * g729::kPackedFrameBytes;
    wave_chunks::Format format;
    format.tag = kWAVEFormatG729;
    format.channels = 1;
    format.sampleRate = 8000;
    format.byteRate = 1000;
    format.blockAlign = 10;
    format.bitsPerSample = 0;
    format.hasExtra = true;
    format.extra = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ChunkBuilder h(ChunkByteOrder::LittleEndian);
    h.put_fourcc(riff_chunks::kRIFF);
    h.put_u32le(48 + dataSize);
    h.put_fourcc(riff_chunks::kWAVE);
    wave_chunks::PutFormat(&h, format);
    h.put_fourcc(riff_chunks::kData);
    h.put_u32le(dataSize);
    return h.bytes();
}

OSErr CG729File::ResolveLayout(SInt64 fileSize)
{
    m_dataPromised = kDataToTheEnd;
    m_cues.clear();
    if (fileSize < 0)
        return paramErr;
    UInt8 head[16] = {};
    const std::size_t headBytes = std::size_t(std::min<SInt64>(fileSize, 16));
    OSErr err = ReadAt(0, head, headBytes);
    if (err)
        return err;
    const UInt64 size = UInt64(fileSize);
    if (headBytes >= 4 && head[0] == 0x6B && head[1] == 0x21 && head[2] == 0x00 && head[3] == 0x50) {
        m_layout = Layout::SerialBigEndian;
        m_dataOffset = 0;
        m_dataSize = size;
        return noErr;
    }
    if (headBytes >= 4 && head[0] == 0x21 && head[1] == 0x6B && head[2] == 0x50 && head[3] == 0x00) {
        m_layout = Layout::SerialLittleEndian;
        m_dataOffset = 0;
        m_dataSize = size;
        return noErr;
    }
    if (headBytes >= 12 && ReadBE32(head) == riff_chunks::kRIFF && ReadBE32(head + 8) == riff_chunks::kWAVE) {
        // The format chunk (tag 0x0042 or 0x0083) and the data chunk, in
        // either order, and the annotations.
        RefNumChunkSource source(m_refNum);
        RIFFChunkList chunks;
        err = chunks.Walk(source);
        if (err)
            return err == kChunkNotFoundErr ? kG729UnknownErr : err;
        wave_chunks::Format format;
        err = wave_chunks::ReadFormat(chunks, &format, 16, false);  // coded frames: no sample layout
        if (err && err != kChunkNotFoundErr)
            return err;
        ChunkInfo data;
        if (err || (format.tag != kWAVEFormatG729 && format.tag != kWAVEFormatG729Alt) ||
            chunks.Find(riff_chunks::kData, &data) != noErr)
            return kG729UnknownErr;
        m_layout = Layout::Riff;
        m_dataOffset = UInt64(data.bodyPos);
        m_dataPromised = data.sizeUnknown ? kDataToTheEnd : data.sizeField;
        m_dataSize = UInt64(data.bodySize);  // a cut file holds less
        return wave_chunks::ReadCueList(chunks, &m_cues);
    }
    // An empty file is the packed stream of no frames (what an output given
    // no audio is).
    if (size % g729::kPackedFrameBytes != 0)
        return kG729UnknownErr;
    m_layout = Layout::Packed;
    m_dataOffset = 0;
    m_dataSize = size;
    return noErr;
}

OSErr CG729File::OpenAndDescribe()
{
    SInt64 eof = 0;
    OSErr err = OpenToRead(&eof);
    if (err)
        return err;
    if ((err = ResolveLayout(eof)))
        return err;
    m_numChannels = 1;
    m_numBits = 16;
    m_sampleFormat = kSampleFormatBigEndian;
    m_sampleRate = 8000.0;
    // The frames whole in the file; a RIFF data chunk that promises more,
    // or a last frame cut off, marks the file cut short.
    SettleFramesFromData(m_dataSize, m_dataPromised, FrameBytes(), kSamplesPerFrame);
    m_codecFrames = std::min<UInt32>(m_numFrames / kSamplesPerFrame, 0xFFFFFFFFu / kSamplesPerFrame);
    m_numFrames = m_codecFrames * kSamplesPerFrame;
    // The coded bit rate: 8 kbit/s packed, 131.2 serial (0 without frames).
    m_bitRate = 0;
    if (m_numFrames > 0) {
        const double kbps = double(m_dataSize) / (double(m_numFrames) / 8000.0) * 0.008;
        m_bitRate = UInt16(std::min(kbps + 0.5, 65535.0));
    }
    m_sequence.Restart();
    return wave_chunks::AddCueAnnotations(*this, m_cues, GetIgnoreRegionsContainingWholeFile());
}

OSErr CG729File::SetFilePos(UInt32 frame)
{
    return SetFPos(m_refNum, fsFromStart, SInt64(m_dataOffset + UInt64(frame / kSamplesPerFrame) * FrameBytes()));
}

OSErr CG729File::DecodeFrames(UInt32 first, UInt32 count, int16_t* out)
{
    const UInt32 frameBytes = FrameBytes();
    UInt8 bytes[kSerialFrameBytes];
    for (UInt32 index = first; index < first + count; ++index, out += kSamplesPerFrame) {
        OSErr err = ReadAt(m_dataOffset + UInt64(index) * frameBytes, bytes, frameBytes);
        if (err)
            return err;
        uint16_t params[g729::kParameterCount];
        bool erased = false;
        if (frameBytes == g729::kPackedFrameBytes) {
            g729::packedToParams(bytes, params);
        } else {
            const bool little = m_layout == Layout::SerialLittleEndian;
            uint16_t words[g729::kSerialWords];
            for (int i = 0; i < g729::kSerialWords; ++i)
                words[i] = little ? ReadLE16(bytes + 2 * i) : ReadBE16(bytes + 2 * i);
            erased = g729::serialToParams(words + 2, params);
            // A frame that does not start with SYNC and 80 is not trusted.
            if (words[0] != g729::kSerialSync || words[1] != g729::kSerialBitCount)
                erased = true;
        }
        m_decoder.decodeFrame(params, erased, out);
    }
    return noErr;
}

OSErr CG729File::ReadCodedBlock(UInt32 frame)
{
    return DecodeMonoBlock(frame, memFullErr, [this](UInt32 first, UInt32 frames, int16_t* samples) {
        return m_sequence.Read(first, frames, samples, kDecodeChunkFrames, [this] { m_decoder.reset(); },
                               [this](UInt32 index, UInt32 count, int16_t* out) { return DecodeFrames(index, count, out); });
    });
}

OSErr CG729File::CheckShape(UInt16 channels, double rate) const
{
    if (channels != 1)
        return kTelephonyChannelsErr;
    return rate != 8000.0 ? kG729RateErr : noErr;
}

bool CG729File::RemovesUnencodedOutput() const { return true; }

OSErr CG729File::CreateDataFile(UInt16, double, const UInt8* options)
{
    m_layout = LayoutFromOptions(options);
    if (const OSErr err = CreateToWrite(false, 1, 8000.0, kSampleFormatBigEndian))
        return err;
    m_framesWritten = 0;
    m_dataOffset = m_layout == Layout::Riff ? kRiffHeaderBytes : 0;
    m_writePosition = m_dataOffset;
    if (m_layout == Layout::Riff) {
        const std::vector<UInt8> header = BuildRiffHeader(0);
        return WriteAt(0, header.data(), header.size());
    }
    return noErr;
}

OSErr CG729File::WriteFrame(const uint16_t params[])
{
    UInt8 bytes[kSerialFrameBytes];
    std::size_t count = g729::kPackedFrameBytes;
    if (m_layout == Layout::Packed || m_layout == Layout::Riff) {
        g729::paramsToPacked(params, bytes);
    } else {
        uint16_t words[g729::kSerialWords];
        g729::paramsToSerial(params, words);
        const bool little = m_layout == Layout::SerialLittleEndian;
        for (int i = 0; i < g729::kSerialWords; ++i) {
            if (little)
                WriteLE16(bytes + 2 * i, words[i]);
            else
                WriteBE16(bytes + 2 * i, words[i]);
        }
        count = kSerialFrameBytes;
    }
    if (m_layout == Layout::Riff && (m_framesWritten + 1ull) * g729::kPackedFrameBytes > 0xFFFFFF00u)
        return fsDataTooBigErr;
    const OSErr err = WriteAt(m_writePosition, bytes, count);
    if (!err) {
        m_writePosition += count;
        ++m_framesWritten;
    }
    return err;
}

OSErr CG729File::EncodeOutput()
{
    m_encoder.reset();
    std::vector<int16_t> pending;
    pending.reserve(kSamplesPerFrame);
    const UInt32 chunk = kSamplesPerFrame * std::max<UInt32>(m_bufferFrames / kSamplesPerFrame, 1);
    uint16_t params[g729::kParameterCount];
    OSErr err = m_inner.Encode("Encoding to CCITT G.729 File", chunk, [&](const int16_t* samples, UInt32 frames, UInt32) {
        for (UInt32 i = 0; i < frames; ++i) {
            pending.push_back(samples[i]);
            if (pending.size() == kSamplesPerFrame) {
                m_encoder.encodeFrame(pending.data(), params);
                pending.clear();
                if (const OSErr e = WriteFrame(params))
                    return e;
            }
        }
        return OSErr(noErr);
    });
    if (!err && !pending.empty()) {  // a short last frame, padded with silence
        pending.resize(kSamplesPerFrame, 0);
        m_encoder.encodeFrame(pending.data(), params);
        err = WriteFrame(params);
    }
    if (err)
        return err;
    if ((err = SetEOF(m_refNum, SInt64(m_writePosition))))
        return err;
    m_numFrames = m_framesWritten * kSamplesPerFrame;
    if (m_layout == Layout::Riff) {
        const std::vector<UInt8> header = BuildRiffHeader(m_framesWritten);
        err = WriteAt(0, header.data(), header.size());
    }
    return err;
}

SoundFileTypeDescriptor CG729File::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("G729"), .factory = &MakeSoundFileNoThrow<CG729File>};
}
