#include "CAVRFile.h"

#include "ChunkReader.h"
#include "FileManager.h"
#include "error_code_exception.h"

#include <QString>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr OSType kMagic = FOUR_CHAR_CODE("2BIT");
constexpr std::size_t kNameBytes = 8;
constexpr std::size_t kNameContinuation = 44;
constexpr std::size_t kMaxNameLength = 27;  // 8 + 19, the zero byte ends at 63

} // namespace

CAVRFile::CAVRFile() = default;

CAVRFile::~CAVRFile()
{
    if (m_isOpen) {
        CAVRFile::Close();
    }
}

OSType CAVRFile::GetFileType() const { return kAVRFileType; }
QString CAVRFile::GetFormatName() const { return QStringLiteral("AVR"); }

SInt64 CAVRFile::BytesPerFrame() const
{
    return SInt64(GetNumChannels()) * SInt64(std::max<SInt16>(BitsToBytes(m_numBits), 0));
}

OSErr CAVRFile::ReadHeader()
{
    return Guarded([&]() -> OSErr {
        OSErr err = SetFPos(m_refNum, fsFromStart, 0);
        if (err != noErr) {
            return err;
        }
        UInt8 bytes[kAVRHeaderBytes];
        long count = long(sizeof bytes);
        err = FSRead(m_refNum, &count, bytes);
        if (err == eofErr) {
            return kAVRNoMagicErr;
        }
        if (err != noErr) {
            return err;
        }
        ChunkView header(bytes, sizeof bytes, ChunkByteOrder::BigEndian);
        if (header.get_fourcc() != kMagic) {
            return kAVRNoMagicErr;
        }
        header.seek(12);
        const UInt16 stereo = header.get_u16be();
        const UInt16 bits = header.get_u16be();
        const UInt16 sign = header.get_u16be();
        const UInt16 loop = header.get_u16be();
        header.skip(2);  // MIDI note
        // The top byte is the replay speed of the original hardware.
        const UInt32 rate = header.get_u32be() & 0x00FFFFFF;
        const UInt32 frames = header.get_u32be();
        const UInt32 loopBegin = header.get_u32be();
        const UInt32 loopEnd = header.get_u32be();
        if (bits != 8 && bits != 16) {
            return kAVRWordSizeErr;
        }
        m_numBits = SInt16(bits);
        m_numChannels = stereo != 0 ? 2 : 1;
        m_sampleRate = double(float(rate));
        m_sampleFormat = sign != 0 ? kSampleFormatBigEndian : kSampleFormatUnsigned8;
        SInt64 eof = 0;
        err = GetEOF(m_refNum, &eof);
        if (err != noErr) {
            return err;
        }
        // A frame count beyond the samples the file holds is cut to them.
        const SInt64 held = std::max<SInt64>(eof - kAVRHeaderBytes, 0) / BytesPerFrame();
        m_numFrames = UInt32(std::min<SInt64>(frames, held));
        if (loop != 0 && loopBegin <= loopEnd && loopBegin < m_numFrames) {
            SFTLoop entry;
            entry.loopID = 0;
            entry.start = loopBegin;
            entry.end = std::min(loopEnd, m_numFrames);
            entry.type = 1;
            err = AddLoop(&entry);
            if (err != noErr) {
                return err;
            }
        }
        return SetFPos(m_refNum, fsFromStart, kAVRHeaderBytes);
    });
}

OSErr CAVRFile::WriteHeader()
{
    return Guarded([&]() -> OSErr {
        UInt8 bytes[kAVRHeaderBytes] = {};
        ChunkBuilder header;
        header.put_fourcc(kMagic);
        header.put_zeros(kNameBytes);
        header.put_u16be(m_numChannels == 2 ? 0xFFFF : 0);
        header.put_u16be(UInt16(m_numBits));
        header.put_u16be(0xFFFF);  // signed
        SFTLoop loop;
        const OSErr loopErr = GetLoop(0, &loop);
        if (loopErr != noErr && loopErr != kWrongLoopErr) {
            return loopErr;
        }
        const bool hasLoop = loopErr == noErr;
        header.put_u16be(hasLoop ? 0xFFFF : 0);
        header.put_u16be(0xFFFF);  // no MIDI note
        header.put_u32be(UInt32(m_sampleRate) & 0x00FFFFFF);
        header.put_u32be(m_numFrames);
        header.put_u32be(hasLoop ? loop.start : 0);
        header.put_u32be(hasLoop ? loop.end : 0);
        std::memcpy(bytes, header.data(), header.size());

        Str255 name = {0};
        GetFileName(name);
        const std::size_t length = std::min<std::size_t>(name[0], kMaxNameLength);
        std::memcpy(bytes + 4, name + 1, std::min(length, kNameBytes));
        if (length > kNameBytes) {
            std::memcpy(bytes + kNameContinuation, name + 1 + kNameBytes, length - kNameBytes);
        }
        // The zero byte after the name: in the name field for short names,
        // after the continuation for longer ones (both already zero).

        OSErr err = SetFPos(m_refNum, fsFromStart, 0);
        if (err != noErr) {
            return err;
        }
        long count = long(sizeof bytes);
        err = FSWrite(m_refNum, &count, bytes);
        if (err == noErr && count != long(sizeof bytes)) {
            err = ioErr;
        }
        return err;
    });
}

OSErr CAVRFile::Open()
{
    if (m_isOpen) {
        return opWrErr;
    }
    OSErr err = FSpOpenDF(&m_fsSpec, fsRdPerm, &m_refNum);
    if (err != noErr) {
        return err;
    }
    m_isOpen = true;
    m_writable = false;
    m_headerDirty = false;
    err = ReadHeader();
    if (err != noErr) {
        return err;
    }
    return AddFileRegion();
}

OSErr CAVRFile::ProbeHeader(SInt16* result)
{
    if (result) {
        *result = 0;
    }
    if (m_isOpen) {
        return opWrErr;
    }
    OSErr err = FSpOpenDF(&m_fsSpec, fsRdPerm, &m_refNum);
    if (err != noErr) {
        return err;
    }
    m_isOpen = true;
    err = ReadHeader();
    const OSErr closeErr = FSClose(m_refNum);
    m_isOpen = false;
    m_refNum = 0;
    return err != noErr ? err : closeErr;
}

OSErr CAVRFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                       ConstStr255Param nameExtension, float sampleRate)
{
    if (numBits != 8 && numBits != 16) {
        return kAVRWordSizeErr;
    }
    if (m_isOpen) {
        return opWrErr;
    }
    return Guarded([&]() -> OSErr {
        OSErr err = CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
        if (err != noErr) {
            return err;
        }
        // The header knows mono and stereo only, and 24 bits of rate.
        // Refused for this file only.
        if (numChannels != 1 && numChannels != 2) {
            return -22100;  // "has incompatible # channels"
        }
        if (!(sampleRate >= 0.0f) || sampleRate >= 16777216.0f) {
            return -22601;  // "has incompatible samplerate"
        }
        err = FSpCreate(&m_fsSpec, GetHFSCreator(), GetHFSFileType(), 0);
        if (err != noErr) {
            return err;
        }
        err = FSpOpenDF(&m_fsSpec, fsCurPerm, &m_refNum);
        if (err != noErr) {
            return err;
        }
        m_sampleFormat = kSampleFormatBigEndian;
        m_numBits = numBits;
        m_numChannels = numChannels;
        m_sampleRate = sampleRate;
        m_numFrames = 0;
        m_headerDirty = true;
        m_isOpen = true;
        m_writable = true;
        return WriteHeader();
    });
}

OSErr CAVRFile::Close()
{
    if (!m_isOpen) {
        return kFileNotOpenedErr;
    }
    OSErr result = noErr;
    if (m_headerDirty && m_writable) {
        result = WriteHeader();
        if (result == noErr) {
            m_headerDirty = false;
        }
    }
    const OSErr closeErr = FSClose(m_refNum);
    if (closeErr == noErr) {
        m_isOpen = false;
        m_writable = false;
        m_refNum = 0;
    }
    return result != noErr ? result : closeErr;
}

// ============================================================= block I/O

void CAVRFile::FlipSign(UInt8* data, std::size_t bytes) const
{
    const std::size_t step = m_numBits == 16 ? 2 : 1;
    for (std::size_t i = 0; i < bytes; i += step) {
        data[i] ^= 0x80;
    }
}

OSErr CAVRFile::SetFilePos(UInt32 frame)
{
    return Guarded([&]() -> OSErr {
        const SInt64 position = kAVRHeaderBytes + SInt64(frame) * BytesPerFrame();
        OSErr err = SetFPos(m_refNum, fsFromStart, position);
        if (err == eofErr && m_writable) {
            err = SetEOF(m_refNum, position);
            if (err == noErr) {
                m_numFrames = std::max(m_numFrames, frame);
                err = SetFPos(m_refNum, fsFromStart, position);
            }
        }
        return err;
    });
}

OSErr CAVRFile::LoadBlock(UInt8* block, UInt32 frame, UInt32 frames)
{
    const SInt64 bpf = BytesPerFrame();
    const std::size_t blockBytes = std::size_t(m_bufferFrames) * std::size_t(bpf);
    std::size_t got = 0;
    OSErr err = noErr;
    if (frames > 0) {
        err = SetFilePos(frame);
        if (err == noErr) {
            long count = long(SInt64(frames) * bpf);
            err = FSRead(m_refNum, &count, block);
            got = std::size_t(std::clamp<long>(count, 0, long(blockBytes)));
        }
    }
    if (m_sampleFormat == kSampleFormatUnsigned8) {
        FlipSign(block, got);
    }
    if (got < blockBytes) {
        std::memset(block + got, 0, blockBytes - got);
    }
    m_readBufferStart = frame;
    return err;
}

OSErr CAVRFile::ReadBlock(UInt32 frame)
{
    return Guarded([&]() -> OSErr {
        return LoadReadBlock(frame, [this](UInt8* block, UInt32 at, UInt32 frames) {
            return LoadBlock(block, at, frames);
        });
    });
}

OSErr CAVRFile::PrepareWriteBlock(UInt32 frame)
{
    return Guarded([&]() -> OSErr {
        return LoadWriteBlock(frame, [this](UInt8* block, UInt32 at, UInt32 frames) {
            return LoadBlock(block, at, frames);
        });
    });
}

OSErr CAVRFile::WriteBlock(UInt32 frames, UInt32 frame)
{
    return Guarded([&]() -> OSErr {
        if (!m_isOpen) {
            return kFileNotOpenedErr;
        }
        if (!m_writeBuffer || frames > m_bufferFrames) {
            return paramErr;
        }
        OSErr err = SetFilePos(frame);
        if (err != noErr) {
            return err;
        }
        const std::size_t bytes = std::size_t(frames) * std::size_t(BytesPerFrame());
        const bool unsignedData = m_sampleFormat == kSampleFormatUnsigned8;
        if (unsignedData) {
            FlipSign(m_writeBuffer, bytes);
        }
        long count = long(bytes);
        err = FSWrite(m_refNum, &count, m_writeBuffer);
        if (unsignedData) {
            FlipSign(m_writeBuffer, bytes);
        }
        if (err != noErr) {
            return err;
        }
        m_numFrames = std::max<UInt32>(m_numFrames, UInt32(UInt64(frame) + frames));
        m_headerDirty = true;
        return noErr;
    });
}

OSErr CAVRFile::RecalcNumFrames()
{
    SInt64 eof = 0;
    const OSErr err = GetEOF(m_refNum, &eof);
    if (err != noErr) {
        return err;
    }
    const SInt64 bpf = BytesPerFrame();
    if (bpf > 0) {
        m_numFrames = UInt32(std::clamp<SInt64>((eof - kAVRHeaderBytes) / bpf, 0, std::numeric_limits<UInt32>::max()));
    }
    return noErr;
}
