#include "CCITTFile.h"

#include "FileManager.h"
#include "open_steps.h"
#include "telephony_names.h"
#include "SoundFileRegistry.h"
#include "ZuFiles.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr UInt32 kDecodeChunkBytes = 40960;

} // namespace

CCITTFile::CCITTFile(OSType type, int codeBits, const char* formatName)
    : CDescribedFile("ccitt"), m_type(type), m_formatName(formatName), m_codeBits(codeBits), m_encode(G72xEncoderForBits(codeBits)),
      m_decode(G72xDecoderForBits(codeBits))
{
}

CCITTFile::~CCITTFile()
{
    if (m_isOpen)
        Close();
}

OSType CCITTFile::GetFileType() const { return m_type; }
QString CCITTFile::GetFormatName() const { return QString::fromUtf8(m_formatName); }

// ================================================================ reading

OSErr CCITTFile::OpenAndDescribe()
{
    if (!m_isOpen && (!m_encode || !m_decode))
        return paramErr;
    OSErr err = OpenToRead(nullptr);
    if (err)
        return err;
    m_numBits = 16;
    m_sampleFormat = kSampleFormatALaw;
    m_numChannels = 1;
    m_sampleRate = 8000.0;
    m_sequence.Restart();
    return RecalcNumFrames();
}

OSErr CCITTFile::Open()
{
    m_inner.Release();
    return CDescribedFile::Open();
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

OSErr CCITTFile::DecodeCodes(UInt32 first, UInt32 codes, int16_t* out)
{
    // Whole bytes from the one holding the first code's first bit.
    const UInt32 mask = (1u << m_codeBits) - 1;
    const UInt64 firstBit = UInt64(first) * UInt64(m_codeBits);
    const UInt64 firstByte = firstBit / 8;
    const UInt64 lastByte = (firstBit + UInt64(codes) * UInt64(m_codeBits) + 7) / 8;
    m_bytes.resize(std::size_t(lastByte - firstByte));
    if (const OSErr err = ReadAt(firstByte, m_bytes.data(), m_bytes.size()))
        return err;
    UInt64 bit = firstBit - firstByte * 8;
    for (UInt32 i = 0; i < codes; ++i, bit += UInt64(m_codeBits)) {
        const std::size_t at = std::size_t(bit / 8);
        UInt32 word = m_bytes[at];
        if (at + 1 < m_bytes.size())
            word |= UInt32(m_bytes[at + 1]) << 8;
        const int code = int((word >> (bit % 8)) & mask);
        out[i] = int16_t(std::clamp(m_decode(code, kG72xCodingLinear, &m_decoder), -32768, 32767));
    }
    return noErr;
}

OSErr CCITTFile::ReadCodedBlock(UInt32 frame)
{
    return DecodeMonoBlock(frame, memFullErr, [this](UInt32 first, UInt32 frames, int16_t* samples) {
        return m_sequence.Read(first, frames, samples, kDecodeChunkBytes * 8 / UInt32(m_codeBits),
                               [this] { g72x_init_state(&m_decoder); },
                               [this](UInt32 code, UInt32 codes, int16_t* out) { return DecodeCodes(code, codes, out); });
    });
}

// ================================================================ writing

OSErr CCITTFile::CheckShape(UInt16 channels, double) const
{
    if (channels != 1)
        return kTelephonyChannelsErr;
    return m_encode ? noErr : paramErr;
}

OSErr CCITTFile::CreateDataFile(UInt16 channels, double rate, const UInt8*)
{
    return CreateToWrite(false, channels, rate, kSampleFormatALaw);
}

OSErr CCITTFile::EncodeOutput()
{
    g72x_state encoder;
    g72x_init_state(&encoder);
    UInt32 accumulator = 0;  // codes not yet written, lowest bits first
    int accumulated = 0;
    UInt64 position = 0;
    std::vector<UInt8> bytes;
    OSErr err = m_inner.Encode("Encoding to CCITT G.72x File", m_bufferFrames,
                               [&](const int16_t* samples, UInt32 frames, UInt32) {
        bytes.clear();
        for (UInt32 i = 0; i < frames; ++i) {
            accumulator |= UInt32(m_encode(samples[i], kG72xCodingLinear, &encoder)) << accumulated;
            accumulated += m_codeBits;
            while (accumulated >= 8) {
                bytes.push_back(UInt8(accumulator));
                accumulator >>= 8;
                accumulated -= 8;
            }
        }
        const OSErr e = WriteAt(position, bytes.data(), bytes.size());
        position += bytes.size();
        return e;
    });
    if (!err && accumulated > 0) {
        const UInt8 last = UInt8(accumulator);  // zero-padded above the codes
        err = WriteAt(position, &last, 1);
    }
    m_numFrames = m_inner.NumFrames();
    return err;
}

OSErr CCITTFile::Close()
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    return CEncodeOnCloseFile::Close();
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

std::vector<SoundFileTypeDescriptor> CCITTFile::Descriptors()
{
    return {{.type = FOUR_CHAR_CODE("21-4"), .factory = &Make<FOUR_CHAR_CODE("21-4"), 4>},
            {.type = FOUR_CHAR_CODE("23-2"), .factory = &Make<FOUR_CHAR_CODE("23-2"), 2>},
            {.type = FOUR_CHAR_CODE("23-3"), .factory = &Make<FOUR_CHAR_CODE("23-3"), 3>},
            {.type = FOUR_CHAR_CODE("23-5"), .factory = &Make<FOUR_CHAR_CODE("23-5"), 5>},
            {.type = FOUR_CHAR_CODE("26-3"), .factory = &Make<FOUR_CHAR_CODE("26-3"), 3>},
            {.type = FOUR_CHAR_CODE("26-4"), .factory = &Make<FOUR_CHAR_CODE("26-4"), 4>},
            {.type = FOUR_CHAR_CODE("26-5"), .factory = &Make<FOUR_CHAR_CODE("26-5"), 5>}};
}
