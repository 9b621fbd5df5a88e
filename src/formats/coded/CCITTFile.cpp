#include "CCITTFile.h"

#include "FileManager.h"
#include "open_steps.h"
#include "telephony_names.h"
#include "SoundFileRegistry.h"
#include "ZuFiles.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr UInt32 kDecodeChunkBytes = 40960;

} // namespace

CCITTFile::CCITTFile(OSType type, int codeBits, const char* formatName)
    : CDescribedFile<CTypedSoundFile>(type, formatName), m_codeBits(codeBits), m_encode(G72xEncoderForBits(codeBits)),
      m_decode(G72xDecoderForBits(codeBits))
{
    g72x_init_state(&m_decoder);
    g72x_init_state(&m_encoder);
}

CCITTFile::~CCITTFile()
{
    if (m_isOpen)
        Close();
}

OSErr CCITTFile::OpenAndDescribe()
{
    if (!m_isOpen && (!m_encode || !m_decode))
        return paramErr;
    OSErr err = OpenDataToRead(m_fsSpec, m_refNum, m_isOpen);
    if (err)
        return err;
    m_writing = false;
    m_numBits = 16;
    m_sampleFormat = kSampleFormatALaw;
    m_numChannels = 1;
    m_sampleRate = 8000.0;
    g72x_init_state(&m_decoder);
    m_decodedFrames = 0;
    return RecalcNumFrames();
}

OSErr CCITTFile::RecalcNumFrames()
{
    SInt64 eof = 0;
    const OSErr err = GetEOF(m_refNum, &eof);
    if (err)
        return err;
    m_numFrames = UInt32(std::min<UInt64>(UInt64(eof) * 8 / UInt64(m_codeBits), 0xFFFFFFFFu));
    return noErr;
}

OSErr CCITTFile::SetFilePos(UInt32 frame)
{
    return SetFPos(m_refNum, fsFromStart, SInt64(UInt64(frame) * UInt64(m_codeBits) / 8));
}

OSErr CCITTFile::Decode(UInt32 frame, UInt32 frames, int16_t* out)
{
    if (frame < m_decodedFrames) {
        g72x_init_state(&m_decoder);
        m_decodedFrames = 0;
    }
    const UInt32 end = frame + frames;
    const UInt32 mask = (1u << m_codeBits) - 1;
    std::vector<UInt8> bytes;
    while (m_decodedFrames < end) {
        // Whole bytes from the one holding the next code's first bit.
        const UInt64 firstBit = UInt64(m_decodedFrames) * UInt64(m_codeBits);
        const UInt64 firstByte = firstBit / 8;
        const UInt32 codes = std::min<UInt32>(end - m_decodedFrames, kDecodeChunkBytes * 8 / UInt32(m_codeBits));
        const UInt64 lastByte = (firstBit + UInt64(codes) * UInt64(m_codeBits) + 7) / 8;
        bytes.resize(std::size_t(lastByte - firstByte));
        if (const OSErr err = ReadExactlyAt(m_refNum, firstByte, bytes.data(), bytes.size()))
            return err;
        UInt64 bit = firstBit - firstByte * 8;
        for (UInt32 i = 0; i < codes; ++i, bit += UInt64(m_codeBits)) {
            const std::size_t at = std::size_t(bit / 8);
            UInt32 word = bytes[at];
            if (at + 1 < bytes.size())
                word |= UInt32(bytes[at + 1]) << 8;
            const int code = int((word >> (bit % 8)) & mask);
            const int sample = m_decode(code, kG72xCodingLinear, &m_decoder);
            const UInt32 k = m_decodedFrames + i;
            if (k >= frame)
                out[k - frame] = int16_t(std::clamp(sample, -32768, 32767));
        }
        m_decodedFrames += codes;
    }
    return noErr;
}

OSErr CCITTFile::ReadBlock(UInt32 frame)
{
    return DecodeMonoBlock(frame, memFullErr, [this](UInt32 first, UInt32 frames, int16_t* samples) {
        const OSErr err = Decode(first, frames, samples);
        if (err) {
            g72x_init_state(&m_decoder);
            m_decodedFrames = 0;
        }
        return err;
    });
}

OSErr CCITTFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                        ConstStr255Param nameExtension, float sampleRate)
{
    if (m_isOpen)
        return opWrErr;
    if (!m_encode || numChannels != 1)
        return numChannels != 1 ? OSErr(-23900) : paramErr;
    OSErr err = CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
    if (err)
        return err;
    if ((err = CreateDataToWrite(*this, m_fsSpec, false, m_refNum, m_isOpen)))
        return err;
    m_writing = true;
    SetNewFileShape(numChannels, 16, sampleRate);
    m_sampleFormat = kSampleFormatALaw;
    g72x_init_state(&m_encoder);
    m_encodedFrames = 0;
    m_accumulator = 0;
    m_accumulatedBits = 0;
    m_writePosition = 0;
    return noErr;
}

OSErr CCITTFile::PrepareWriteBlock(UInt32 /*frame*/)
{
    // The codes already written cannot be edited: the block starts silent.
    if (!m_isOpen || !m_writing)
        return kFileNotOpenedErr;
    const OSErr err = AllocateWriteBuffer();
    if (err)
        return err;
    std::memset(m_writeBuffer, 0, std::size_t(m_bufferFrames) * m_numChannels * 2);
    return noErr;
}

OSErr CCITTFile::WriteBlock(UInt32 frames, UInt32 frame)
{
    if (!m_isOpen || !m_writing)
        return kFileNotOpenedErr;
    if (!m_writeBuffer)
        return paramErr;
    frames = std::min(frames, m_bufferFrames);
    if (frame == 0 && m_encodedFrames != 0) {
        // A new pass from the start.
        OSErr err = SetEOF(m_refNum, 0);
        if (err)
            return err;
        m_encodedFrames = 0;
        m_accumulator = 0;
        m_accumulatedBits = 0;
        m_writePosition = 0;
        m_numFrames = 0;
    }
    if (frame == 0)
        g72x_init_state(&m_encoder);
    // Codes depend on every earlier sample: blocks come in order.
    if (frame != m_encodedFrames)
        return paramErr;
    if (UInt64(frame) + frames > 0xFFFFFFFFu)
        return fsDataTooBigErr;
    std::vector<UInt8> bytes;
    try {
        bytes.reserve(std::size_t(frames) * UInt32(m_codeBits) / 8 + 1);
    } catch (const std::bad_alloc&) {
        return kCouldNotCreatePointerErr;
    }
    for (UInt32 i = 0; i < frames; ++i) {
        const int sample = SInt16(UInt16((m_writeBuffer[2 * i] << 8) | m_writeBuffer[2 * i + 1]));
        const int code = m_encode(sample, kG72xCodingLinear, &m_encoder);
        m_accumulator |= UInt32(code) << m_accumulatedBits;
        m_accumulatedBits += m_codeBits;
        while (m_accumulatedBits >= 8) {
            bytes.push_back(UInt8(m_accumulator));
            m_accumulator >>= 8;
            m_accumulatedBits -= 8;
        }
    }
    if (const OSErr err = WriteExactlyAt(m_refNum, UInt64(m_writePosition), bytes.data(), bytes.size()))
        return err;
    m_writePosition += SInt64(bytes.size());
    m_encodedFrames = frame + frames;
    m_numFrames = std::max(m_numFrames, m_encodedFrames);
    return noErr;
}

OSErr CCITTFile::Flush()
{
    if (m_accumulatedBits == 0)
        return noErr;
    const UInt8 last = UInt8(m_accumulator);  // zero-padded above the codes
    const OSErr err = WriteExactlyAt(m_refNum, UInt64(m_writePosition), &last, 1);
    if (!err) {
        ++m_writePosition;
        m_accumulator = 0;
        m_accumulatedBits = 0;
    }
    return err;
}

OSErr CCITTFile::Close()
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    OSErr err = noErr;
    if (m_writing)
        err = Flush();
    const OSErr closeErr = FSClose(m_refNum);
    if (closeErr == noErr)
        m_isOpen = false;
    m_writing = false;
    return err ? err : closeErr;
}

namespace {

template <OSType Type, int Bits>
CSoundFile* Make()
{
    switch (Type) {
    case FOUR_CHAR_CODE("21-4"): return new (std::nothrow) CCITTFile(Type, Bits, "ITU G.721 (32 kbps, 4 bits ADPCM, 8 kHz)");
    case FOUR_CHAR_CODE("23-2"): return new (std::nothrow) CCITTFile(Type, Bits, "ITU G.723 (16 kbps, 2 bits ADPCM, 8 kHz)");
    case FOUR_CHAR_CODE("23-3"): return new (std::nothrow) CCITTFile(Type, Bits, "ITU G.723 (24 kbps, 3 bits ADPCM, 8 kHz)");
    case FOUR_CHAR_CODE("23-5"): return new (std::nothrow) CCITTFile(Type, Bits, "ITU G.723 (40 kbps, 5 bits ADPCM, 8 kHz)");
    case FOUR_CHAR_CODE("26-3"): return new (std::nothrow) CCITTFile(Type, Bits, "ITU G.726 (24 kbps, 3 bits ADPCM, 8 kHz)");
    case FOUR_CHAR_CODE("26-4"): return new (std::nothrow) CCITTFile(Type, Bits, "ITU G.726 (32 kbps, 4 bits ADPCM, 8 kHz)");
    default: return new (std::nothrow) CCITTFile(Type, Bits, "ITU G.726 (40 kbps, 5 bits ADPCM, 8 kHz)");
    }
}

} // namespace

void CCITTFile::RegisterTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE("21-4"), &Make<FOUR_CHAR_CODE("21-4"), 4>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("23-2"), &Make<FOUR_CHAR_CODE("23-2"), 2>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("23-3"), &Make<FOUR_CHAR_CODE("23-3"), 3>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("23-5"), &Make<FOUR_CHAR_CODE("23-5"), 5>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("26-3"), &Make<FOUR_CHAR_CODE("26-3"), 3>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("26-4"), &Make<FOUR_CHAR_CODE("26-4"), 4>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("26-5"), &Make<FOUR_CHAR_CODE("26-5"), 5>);
}
