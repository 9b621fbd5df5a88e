#include "CDialogicADPCMFile.h"

#include "FileManager.h"
#include "ZuFiles.h"
#include "telephony_names.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr UInt32 kDecodeChunkCodes = 65536;

} // namespace

CDialogicADPCMFile::CDialogicADPCMFile() = default;

CDialogicADPCMFile::~CDialogicADPCMFile()
{
    if (m_isOpen)
        Close();
}

OSType CDialogicADPCMFile::GetFileType() const { return FOUR_CHAR_CODE("DADP"); }
QString CDialogicADPCMFile::GetFormatName() const { return QStringLiteral("Dialogic ADPCM (no header)"); }
bool CDialogicADPCMFile::FirstCodeInLowNibble() const { return false; }
bool CDialogicADPCMFile::HasHeader() const { return false; }
const char* CDialogicADPCMFile::TempTag() const { return "dialogic"; }
const char* CDialogicADPCMFile::EncodeStepName() const { return "encoding to Dialogic ADPCM file"; }

OSErr CDialogicADPCMFile::ReadHeader()
{
    m_dataOffset = 0;
    double rate = RateFromNameDigit(GetFileNameString(), true);
    if (rate == 0.0) {
        const OSErr err = RawFileRate(&rate);
        if (err)
            return err;
    }
    m_sampleRate = rate;
    return noErr;
}

OSErr CDialogicADPCMFile::WriteHeader()
{
    m_dataOffset = 0;
    return noErr;
}

OSErr CDialogicADPCMFile::ReadAt(SInt64 position, void* bytes, long count)
{
    OSErr err = SetFPos(m_refNum, fsFromStart, position);
    if (err)
        return err;
    long got = count;
    err = FSRead(m_refNum, &got, bytes);
    if (!err && got != count)
        err = eofErr;
    return err;
}

OSErr CDialogicADPCMFile::WriteAt(SInt64 position, const void* bytes, long count)
{
    OSErr err = SetFPos(m_refNum, fsFromStart, position);
    if (err)
        return err;
    long done = count;
    err = FSWrite(m_refNum, &done, bytes);
    if (!err && done != count)
        err = ioErr;
    return err;
}

// ================================================================ reading

OSErr CDialogicADPCMFile::OpenAndDescribe()
{
    if (m_isOpen)
        return opWrErr;
    OSErr err = FSpOpenDF(&m_fsSpec, fsRdPerm, &m_refNum);
    if (err)
        return err;
    m_isOpen = true;
    m_writing = false;
    m_numChannels = 1;
    m_numBits = 16;
    m_sampleFormat = kSampleFormatADPCM;
    if ((err = ReadHeader()))
        return err;
    SInt64 eof = 0;
    if ((err = GetEOF(m_refNum, &eof)))
        return err;
    if (SInt64(m_dataOffset) > eof)
        return kTelephonyUnknownFormatErr;
    const UInt64 codes = UInt64(eof - SInt64(m_dataOffset)) * 2;
    m_numFrames = UInt32(std::min<UInt64>(codes, 0xFFFFFFFEu));
    m_decoder.Reset();
    m_decodedFrames = 0;
    return noErr;
}

OSErr CDialogicADPCMFile::Open()
{
    m_inner.Release();
    const OSErr err = OpenAndDescribe();
    if (err) {
        if (m_isOpen && FSClose(m_refNum) == noErr)
            m_isOpen = false;
        return err;
    }
    AddFileRegion();
    return noErr;
}

OSErr CDialogicADPCMFile::ProbeHeader(SInt16* result)
{
    if (result)
        *result = 0;
    const OSErr err = OpenAndDescribe();
    if (!m_isOpen)
        return err;
    const OSErr closeErr = FSClose(m_refNum);
    if (closeErr == noErr)
        m_isOpen = false;
    return err ? err : closeErr;
}

OSErr CDialogicADPCMFile::SetFilePos(UInt32 frame)
{
    return SetFPos(m_refNum, fsFromStart, SInt64(m_dataOffset) + frame / 2);
}

OSErr CDialogicADPCMFile::Decode(UInt32 frame, UInt32 frames, int16_t* out)
{
    if (frame < m_decodedFrames) {
        m_decoder.Reset();
        m_decodedFrames = 0;
    }
    const UInt32 end = frame + frames;
    const bool lowFirst = FirstCodeInLowNibble();
    std::vector<UInt8> bytes;
    while (m_decodedFrames < end) {
        const UInt32 first = m_decodedFrames;
        const UInt32 last = std::min(end, first + kDecodeChunkCodes);
        const UInt32 firstByte = first / 2;
        const long count = long((last + 1) / 2 - firstByte);
        bytes.resize(std::size_t(count));
        OSErr err = ReadAt(SInt64(m_dataOffset) + firstByte, bytes.data(), count);
        if (err)
            return err;
        for (UInt32 k = first; k < last; ++k) {
            const UInt8 byte = bytes[k / 2 - firstByte];
            const bool low = ((k & 1) == 0) == lowFirst;
            const int16_t sample = m_decoder.Decode(low ? (byte & 15) : (byte >> 4));
            if (k >= frame)
                out[k - frame] = sample;
        }
        m_decodedFrames = last;
    }
    return noErr;
}

OSErr CDialogicADPCMFile::ReadBlock(UInt32 frame)
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    if (m_inner.IsSet())
        return paramErr;
    OSErr err = AllocateReadBuffer();
    if (err)
        return err;
    std::memset(m_readBuffer, 0, std::size_t(m_bufferFrames) * 2);
    m_readBufferStart = frame;
    const UInt32 frames = frame < m_numFrames ? std::min(m_bufferFrames, m_numFrames - frame) : 0;
    if (frames == 0)
        return noErr;
    std::vector<int16_t> samples;
    try {
        samples.resize(frames);
    } catch (const std::bad_alloc&) {
        return kCouldNotCreatePointerErr;
    }
    err = Decode(frame, frames, samples.data());
    if (err) {
        // The decoder's place is no longer known.
        m_decoder.Reset();
        m_decodedFrames = 0;
        return err;
    }
    for (UInt32 i = 0; i < frames; ++i) {
        m_readBuffer[2 * i] = UInt8(UInt16(samples[i]) >> 8);
        m_readBuffer[2 * i + 1] = UInt8(samples[i]);
    }
    return noErr;
}

// ================================================================ writing

OSErr CDialogicADPCMFile::CreateDataFile(UInt16 numChannels, double rate)
{
    // The HFS type goes into a sidecar only where neither a header nor the
    // name tells it.
    const bool told = HasHeader() || ExtensionGivesType(m_fsSpec.name, GetFileType());
    OSErr err = FSpCreate(&m_fsSpec, told ? 0 : GetHFSCreator(), told ? 0 : GetHFSFileType(), 0);
    if (err)
        return err;
    if ((err = FSpOpenDF(&m_fsSpec, fsRdWrPerm, &m_refNum)))
        return err;
    m_isOpen = true;
    m_writing = true;
    m_sampleRate = rate;
    m_numChannels = numChannels;
    m_numBits = 16;
    m_sampleFormat = kSampleFormatADPCM;
    m_numFrames = 0;
    m_dataOffset = 0;
    return noErr;
}

OSErr CDialogicADPCMFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                                 const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, float sampleRate)
{
    if (m_isOpen)
        return opWrErr;
    if (numChannels != 1)
        return kTelephonyChannelsErr;
    OSErr err = CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
    if (err)
        return err;
    if ((err = CreateDataFile(numChannels, sampleRate)))
        return err;
    err = m_inner.Create(m_path, TempTag(), numChannels, sampleRate, m_bufferFrames);
    if (err) {
        FSClose(m_refNum);
        m_isOpen = false;
        m_writing = false;
        FSpDelete(&m_fsSpec);
    }
    return err;
}

OSErr CDialogicADPCMFile::CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                                     const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension,
                                     double sampleRate)
{
    if (m_isOpen)
        return opWrErr;
    if (!source)
        return paramErr;
    if (source->GetNumChannels() != 1)
        return kTelephonyChannelsErr;
    OSErr err = CCodedFile::CreateLike(source, numChannels, numBits, reserved, fileTypeSpecifics, nameExtension,
                                       sampleRate);
    if (err)
        return err;
    if ((err = CreateDataFile(1, source->GetSampleRate())))
        return err;
    m_inner.Adopt(const_cast<CSoundFile*>(source));
    m_numFrames = source->GetNumFrames();
    return noErr;
}

OSErr CDialogicADPCMFile::PrepareWriteBlock(UInt32 frame)
{
    if (!m_isOpen || !m_writing)
        return kFileNotOpenedErr;
    const OSErr err = AllocateWriteBuffer();
    if (err)
        return err;
    return m_inner.Prepare(m_writeBuffer, frame, m_bufferFrames);
}

OSErr CDialogicADPCMFile::WriteBlock(UInt32 frames, UInt32 frame)
{
    if (!m_isOpen || !m_writing)
        return kFileNotOpenedErr;
    if (!m_writeBuffer)
        return paramErr;
    const OSErr err = m_inner.Write(m_writeBuffer, std::min(frames, m_bufferFrames), frame);
    m_numFrames = m_inner.NumFrames();
    return err;
}

OSErr CDialogicADPCMFile::EncodeInner()
{
    DialogicADPCMCodec encoder;
    const bool lowFirst = FirstCodeInLowNibble();
    int pending = -1;
    SInt64 position = m_dataOffset;
    UInt64 written = 0;
    std::vector<UInt8> bytes;
    OSErr err = m_inner.Encode(EncodeStepName(), m_bufferFrames, [&](const int16_t* samples, UInt32 frames, UInt32) {
        bytes.clear();
        for (UInt32 i = 0; i < frames; ++i) {
            const int code = encoder.Encode(samples[i]);
            if (pending < 0) {
                pending = code;
            } else {
                bytes.push_back(UInt8(lowFirst ? (pending | (code << 4)) : ((pending << 4) | code)));
                pending = -1;
            }
        }
        const OSErr e = WriteAt(position, bytes.data(), long(bytes.size()));
        position += SInt64(bytes.size());
        written += bytes.size();
        return e;
    });
    m_numFrames = UInt32(std::min<UInt64>(written * 2, 0xFFFFFFFEu));
    return err;
}

OSErr CDialogicADPCMFile::Close()
{
    if (!m_isOpen)
        return noErr;
    OSErr err = noErr;
    const bool encode = m_writing && m_inner.IsSet() && !IsClosingAfterFailure();
    if (encode) {
        m_codesToWrite = m_inner.NumFrames();
        err = WriteHeader();
        if (!err)
            err = EncodeInner();
    }
    m_inner.Release();
    const OSErr closeErr = FSClose(m_refNum);
    if (closeErr == noErr)
        m_isOpen = false;
    if (encode && err)
        FSpDelete(&m_fsSpec);  // a cancelled or failed encode leaves nothing
    m_writing = false;
    return err ? err : closeErr;
}
