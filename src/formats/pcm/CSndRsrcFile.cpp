#include "CSndRsrcFile.h"
#include "ByteOrder.h"

#include "ResourceManager.h"
#include "ZuResourceFile.h"
#include "error_code_exception.h"
#include "format_helpers.h"
#include "ieee_extended.h"
#include "throw_helpers.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr ResType kSndType = FOUR_CHAR_CODE("snd ");
constexpr SInt64 kWrittenDataStart = 344;
constexpr SInt64 kSndHeaderBytes = 84;
constexpr SInt64 kMapBytes = 306;
constexpr UInt64 kMaxSampleBytes = 0xFFFFFF;

// Restores the current resource file when it goes out of scope.
class SavedResFile {
public:
    SavedResFile() { SaveCurResFile(&saved_); }
    explicit SavedResFile(SInt16 use) { SaveAndUseResFile(&saved_, use); }
    ~SavedResFile() { RestoreResFile(&saved_); }

private:
    SInt16 saved_ = 0;
};

} // namespace

void CSndRsrcFile::FlipSign(UInt8* bytes, std::size_t count) const
{
    if (m_numBits == 8)
        for (std::size_t i = 0; i < count; ++i)
            bytes[i] ^= 0x80;
}

CSndRsrcFile::CSndRsrcFile() = default;

CSndRsrcFile::~CSndRsrcFile()
{
    if (m_isOpen)
        Close();
    ReleaseResourceFile();
}

OSType CSndRsrcFile::GetFileType() const
{
    return FOUR_CHAR_CODE("sfil");
}

QString CSndRsrcFile::GetFormatName() const
{
    return QStringLiteral("System 7 Sound");
}

UInt32 CSndRsrcFile::FrameBytes() const
{
    return std::max<UInt32>(1, m_numChannels * UInt32(std::max<SInt16>(BitsToBytes(m_numBits), 1)));
}

void CSndRsrcFile::ReleaseResourceFile() noexcept
{
    if (m_resourceFile) {
        try {
            m_resourceFile->Close();
        } catch (...) {
        }
        m_resourceFile.reset();
    }
    m_sndHandle = nullptr;
    m_forkRefNum = 0;
}

OSErr CSndRsrcFile::Open()
{
    if (m_isOpen)
        return opWrErr;
    SavedResFile saved;
    m_refNum = 0;
    ReleaseResourceFile();
    m_writing = false;
    try {
        m_resourceFile = MakeResourceFork(m_fsRef, m_fsRefValid, m_path);
        m_resourceFile->Open(fsRdPerm);
        m_isOpen = true;
        m_forkRefNum = m_resourceFile->refNum();
    } catch (const error_code_exception& e) {
        ReleaseResourceFile();
        m_isOpen = false;
        return NarrowError(e.code());
    }
    const OSErr err = ReadSndHeader();
    if (err) {
        // A file we cannot read is not kept open.
        ReleaseResourceFile();
        m_isOpen = false;
    }
    return err;
}

SInt64 CSndRsrcFile::ResourceSize(SInt64 upperBound) const
{
    // The largest offset that a one-byte read accepts, plus one.
    auto readable = [this](SInt64 offset) {
        UInt8 byte;
        ReadPartialResource(m_sndHandle, long(offset), &byte, 1);
        return ResError() == noErr;
    };
    if (upperBound <= 0 || !readable(0))
        return 0;
    SInt64 lo = 0, hi = upperBound; // lo readable, hi not
    while (hi - lo > 1) {
        const SInt64 mid = lo + (hi - lo) / 2;
        (readable(mid) ? lo : hi) = mid;
    }
    return lo + 1;
}

OSErr CSndRsrcFile::ReadSndHeader()
{
    SavedResFile saved(m_forkRefNum);
    SetResLoad(false);
    m_sndHandle = Get1IndResource(kSndType, 1);
    SetResLoad(true);
    if (OSErr err = ResError())
        return err;
    m_numFrames = 0;
    if (m_sndHandle) {
        SInt64 forkSize = 0;
        if (OSErr err = FSGetForkSize(m_forkRefNum, &forkSize))
            return err;
        const SInt64 size = ResourceSize(forkSize);
        auto read = [&](SInt64 offset, UInt8* out, SInt64 count) -> OSErr {
            if (offset < 0 || offset + count > size)
                return kSndUndocumentedErr;
            ReadPartialResource(m_sndHandle, long(offset), out, long(count));
            return ResError();
        };
        UInt8 head[12];
        OSErr err = read(0, head, 6);
        if (err)
            return err;
        const UInt16 format = ReadBE16(head);
        UInt8 header[64];
        SInt64 headerAt = 0;
        if (format == 1) {
            if ((err = read(0, head, 12)))
                return err;
            if (ReadBE16(head + 4) != 5)
                return kSndNotSampledErr;
            if (ReadBE16(head + 2) != 1)
                return kSndMultipleTypesErr;
            headerAt = 12 + 8 * SInt64(ReadBE16(head + 10));
        } else if (format == 2) {
            headerAt = 6 + 8 * SInt64(ReadBE16(head + 4));
        } else {
            return kSndUndocumentedErr;
        }
        if ((err = read(headerAt, header, 22)))
            return err;
        const UInt8 encoding = header[20];
        m_sampleRate = double(ReadBE32(header + 8)) / 65536.0;
        if (encoding == 0xFE)
            return kSndUnsupportedDataErr;
        if (encoding == 0xFF && format == 1) {
            if ((err = read(headerAt, header, 64)))
                return err;
            const UInt32 channels = ReadBE32(header + 4);
            const UInt16 bits = ReadBE16(header + 48);
            if (bits != 8 && bits != 16)
                return kSndUnsupportedDataErr;
            if (channels == 0 || channels > 0xFFFF)
                return kSndUndocumentedErr;
            m_numBits = SInt16(bits);
            m_numChannels = channels;
            m_numFrames = ReadBE32(header + 22);
            m_dataStart = headerAt + 64;
        } else if (encoding == 0) {
            m_numBits = 8;
            m_numChannels = 1;
            m_numFrames = ReadBE32(header + 4);
            m_dataStart = headerAt + 22;
        } else {
            return kSndUndocumentedErr;
        }
        m_sampleFormat = m_numBits == 8 ? kSampleFormatUnsigned8 : kSampleFormatBigEndian;
        // Frames the resource does not hold are cut off, and the file is cut short.
        const SInt64 available = std::max<SInt64>(0, size - m_dataStart) / FrameBytes();
        m_dataCutShort = SInt64(m_numFrames) > available;
        m_numFrames = UInt32(std::min<SInt64>(m_numFrames, available));
    }
    return AddFileRegion();
}

OSErr CSndRsrcFile::PrepareBuffer(bool forWriting)
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    if (forWriting)
        return m_writeBuffer ? noErr : AllocateWriteBuffer();
    return m_readBuffer ? noErr : AllocateReadBuffer();
}

void CSndRsrcFile::FinishBlock(UInt8* block, std::size_t filled) const
{
    std::memset(block + filled, 0, std::size_t(m_bufferFrames) * FrameBytes() - filled);
    FlipSign(block, filled);
}

OSErr CSndRsrcFile::ReadBlock(UInt32 frame)
{
    OSErr err = PrepareBuffer(false);
    if (err)
        return err;
    const UInt32 frames = BlockFramesFrom(frame);
    const std::size_t bytes = std::size_t(frames) * FrameBytes();
    m_currentPos = m_dataStart + SInt64(UInt64(frame) * FrameBytes());
    if (bytes > 0) {
        if (m_writing) {
            ByteCount got = 0;
            err = FSReadFork(m_forkRefNum, fsFromStart, m_currentPos, bytes, m_readBuffer, &got);
        } else if (m_sndHandle) {
            ReadPartialResource(m_sndHandle, long(m_currentPos), m_readBuffer, long(bytes));
            err = ResError();
        }
        if (err)
            return err;
    }
    FinishBlock(m_readBuffer, bytes);
    m_readBufferStart = frame;
    return noErr;
}

OSErr CSndRsrcFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                           ConstStr255Param nameExtension, float sampleRate)
{
    if (m_isOpen)
        return opWrErr;
    if (numBits != 8 && numBits != 16)
        return kSndWordSizeErr;
    if (!(sampleRate > 0.0f && sampleRate <= 48000.0f))
        return kSndSampleRateErr;
    if (numChannels == 0)
        return paramErr;
    try {
        THROW_IF_ERROR(CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension,
                                          sampleRate));
        m_refNum = 0;
        ReleaseResourceFile();
        // Exclusive: an existing file is never taken over.
        THROW_IF_ERROR(FSpCreate(&m_fsSpec, FOUR_CHAR_CODE("movr"), FOUR_CHAR_CODE("sfil"), smRoman));
        SavedResFile saved;
        m_resourceFile = std::make_unique<ZuResourceFile>(m_path, true);
        m_resourceFile->CreateFork(FOUR_CHAR_CODE("sfil"), FOUR_CHAR_CODE("movr"));
        m_resourceFile->Open(fsRdWrPerm);
        m_forkRefNum = m_resourceFile->refNum();
        m_headerDirty = true;
        m_isOpen = true;
        m_writing = true;
        SetNewFileShape(numChannels, numBits, sampleRate);
        THROW_IF_ERROR(WriteInitialHeader());
        ResetSamplerInfo();
        m_sampleFormat = numBits == 8 ? kSampleFormatUnsigned8 : kSampleFormatBigEndian;
        THROW_IF_ERROR(AddFileRegion());
    } catch (const error_code_exception& e) {
        return NarrowError(e.code());
    }
    return noErr;
}

void CSndRsrcFile::BuildSndHeader(UInt8* out) const
{
    std::memset(out, 0, kSndHeaderBytes);
    WriteBE16(out + 0, 1);
    WriteBE16(out + 2, 1);
    WriteBE16(out + 4, 5);
    WriteBE32(out + 6, m_numChannels == 1 ? 0xA0 : 0xE0);
    WriteBE16(out + 10, 1);
    WriteBE16(out + 12, 0x8051);
    WriteBE32(out + 16, 20);
    WriteBE32(out + 24, m_numChannels);
    WriteBE32(out + 28, UInt32(m_sampleRate * 65536.0));
    out[40] = 0xFF;
    out[41] = 0x3C;
    WriteBE32(out + 42, m_numFrames);
    ConvertToIeeeExtended(m_sampleRate, out + 46);
    WriteBE16(out + 68, UInt32(m_numBits));
}

OSErr CSndRsrcFile::WriteInitialHeader()
{
    UInt8 bytes[kWrittenDataStart] = {};
    WriteBE32(bytes + 0, 256);
    WriteBE32(bytes + 8, 88);
    WriteBE32(bytes + 256, 84);
    BuildSndHeader(bytes + 260);
    OSErr err = FSWriteFork(m_forkRefNum, fsFromStart, 0, sizeof bytes, bytes, nullptr);
    if (err)
        return err;
    err = FSSetForkSize(m_forkRefNum, fsFromStart, kWrittenDataStart);
    m_dataStart = kWrittenDataStart;
    return err;
}

OSErr CSndRsrcFile::WriteFinalHeader()
{
    const UInt64 sampleBytes = UInt64(m_numFrames) * FrameBytes();
    if (sampleBytes > kMaxSampleBytes)
        return kSndTooBigErr;
    const UInt32 a = UInt32(sampleBytes);
    UInt8 head[kWrittenDataStart] = {};
    WriteBE32(head + 0, 256);
    WriteBE32(head + 4, 344 + a);
    WriteBE32(head + 8, 88 + a);
    WriteBE32(head + 12, UInt32(kMapBytes));
    WriteBE32(head + 256, 84 + a);
    BuildSndHeader(head + 260);
    OSErr err = FSWriteFork(m_forkRefNum, fsFromStart, 0, sizeof head, head, nullptr);
    if (err)
        return err;

    UInt8 map[kMapBytes] = {};
    std::memcpy(map, head, 16);
    WriteBE16(map + 24, 28);
    WriteBE16(map + 26, 50);
    WriteBE16(map + 28, 0);
    WriteBE32(map + 30, kSndType);
    WriteBE16(map + 34, 0);
    WriteBE16(map + 36, 10);
    WriteBE16(map + 38, UInt16(kSndResourceID));
    WriteBE16(map + 40, 0);
    map[42] = 0x20;
    Str255 name = {0};
    GetStoredFileName(name);
    std::memcpy(map + 50, name, std::size_t(name[0]) + 1);
    err = FSWriteFork(m_forkRefNum, fsFromStart, kWrittenDataStart + a, sizeof map, map, nullptr);
    if (err)
        return err;
    return FSSetForkSize(m_forkRefNum, fsFromStart, kWrittenDataStart + a + kMapBytes);
}

OSErr CSndRsrcFile::ExtendFork(UInt32 frame)
{
    const UInt64 sampleBytes = UInt64(frame) * FrameBytes();
    if (sampleBytes > kMaxSampleBytes)
        return kSndTooBigErr;
    const SInt64 target = m_dataStart + SInt64(sampleBytes);
    SInt64 size = 0;
    OSErr err = FSGetForkSize(m_forkRefNum, &size);
    if (err)
        return err;
    if (size < target) {
        // Silence in the file's form: 0x80 for unsigned bytes.
        std::vector<UInt8> silence(1000, m_numBits == 8 ? 0x80 : 0x00);
        while (size < target) {
            const ByteCount n = ByteCount(std::min<SInt64>(1000, target - size));
            err = FSWriteFork(m_forkRefNum, fsFromStart, size, n, silence.data(), nullptr);
            if (err)
                return err;
            size += SInt64(n);
        }
        m_numFrames = std::max(m_numFrames, frame);
    }
    return FSSetForkPosition(m_forkRefNum, fsFromStart, target);
}

OSErr CSndRsrcFile::SetFilePos(UInt32 frame)
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    if (!m_writing)
        return wrPermErr;
    m_currentPos = m_dataStart + SInt64(UInt64(frame) * FrameBytes());
    OSErr err = FSSetForkPosition(m_forkRefNum, fsFromStart, m_currentPos);
    if (err == eofErr)
        err = ExtendFork(frame);
    return err;
}

OSErr CSndRsrcFile::PrepareWriteBlock(UInt32 frame)
{
    OSErr err = PrepareBuffer(true);
    if (err)
        return err;
    if (UInt64(frame) * FrameBytes() > kMaxSampleBytes)
        return kSndTooBigErr;
    if ((err = SetFilePos(frame)))
        return err;
    const UInt32 frames = BlockFramesFrom(frame);
    ByteCount got = 0;
    if (frames > 0) {
        err = FSReadFork(m_forkRefNum, fsAtMark, 0, std::size_t(frames) * FrameBytes(), m_writeBuffer, &got);
        if (err && err != eofErr)
            return err;
    }
    FinishBlock(m_writeBuffer, got);
    return noErr;
}

OSErr CSndRsrcFile::WriteBlock(UInt32 frames, UInt32 frame)
{
    OSErr err = BeginForkWrite(m_isOpen, m_writeBuffer, m_bufferFrames, &frames);
    if (err || frames == 0)
        return err;
    if ((UInt64(frame) + frames) * FrameBytes() > kMaxSampleBytes)
        return kSndTooBigErr;
    err = SetFilePos(frame);
    if (err)
        return err;
    // Converted in a copy: the caller's block keeps its form.
    std::vector<UInt8> bytes(m_writeBuffer, m_writeBuffer + std::size_t(frames) * FrameBytes());
    FlipSign(bytes.data(), bytes.size());
    err = FSWriteFork(m_forkRefNum, fsAtMark, 0, bytes.size(), bytes.data(), nullptr);
    if (err)
        return err;
    m_numFrames = std::max(m_numFrames, frame + frames);
    return noErr;
}

OSErr CSndRsrcFile::RecalcNumFrames()
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    if (!m_writing)
        return noErr; // the frame count of a sound read comes from its header
    SInt64 size = 0;
    OSErr err = FSGetForkSize(m_forkRefNum, &size);
    if (err)
        return err;
    m_numFrames = UInt32(std::min<SInt64>(std::max<SInt64>(0, size - m_dataStart) / FrameBytes(), 0xFFFFFFFF));
    return noErr;
}

OSErr CSndRsrcFile::ProbeHeader(SInt16* result)
{
    if (result)
        *result = 0;
    OSErr err = Open();
    if (err)
        return err;
    return Close();
}

OSErr CSndRsrcFile::Close()
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    OSErr err = noErr;
    if (m_headerDirty && m_writing)
        err = WriteFinalHeader();
    try {
        if (m_resourceFile)
            m_resourceFile->Close();
    } catch (const error_code_exception& e) {
        if (!err)
            err = NarrowError(e.code());
    }
    m_sndHandle = nullptr;
    m_forkRefNum = 0;
    m_headerDirty = false;
    m_isOpen = false;
    m_writing = false;
    return err;
}
