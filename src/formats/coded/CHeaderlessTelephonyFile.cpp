#include "CHeaderlessTelephonyFile.h"

#include "FileManager.h"
#include "open_steps.h"
#include "telephony_names.h"
#include "ZuFiles.h"

#include <algorithm>
#include <cstring>
#include <new>

CHeaderlessTelephonyFile::CHeaderlessTelephonyFile(OSType fileType, const char* formatName)
    : CDescribedFile<CTypedSoundFile>(fileType, formatName)
{
}

CHeaderlessTelephonyFile::~CHeaderlessTelephonyFile()
{
    if (m_isOpen)
        FSClose(m_refNum);
}

UInt32 CHeaderlessTelephonyFile::FileBytesPerFrame() const
{
    return std::max<UInt32>(m_numChannels, 1) * FileBytesPerSample();
}

OSErr CHeaderlessTelephonyFile::OpenAndDescribe()
{
    OSErr err = OpenDataToRead(m_fsSpec, m_refNum, m_isOpen);
    if (err)
        return err;
    if ((err = ReadShape()))
        return err;
    return RecalcNumFrames();
}

OSErr CHeaderlessTelephonyFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                                       const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension,
                                       float sampleRate)
{
    if (m_isOpen)
        return opWrErr;
    Str255 chosen = {0};
    OSErr err = CheckCreate(numChannels, numBits, sampleRate, &nameExtension, chosen);
    if (err)
        return err;
    if ((err = CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate)))
        return err;
    if ((err = CreateDataToWrite(*this, m_fsSpec, false, m_refNum, m_isOpen)))
        return err;
    m_numFrames = 0;
    m_sampleRate = sampleRate;
    SetShape(numChannels, numBits);
    return noErr;
}

OSErr CHeaderlessTelephonyFile::Close()
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    const OSErr err = FSClose(m_refNum);
    if (err == noErr)
        m_isOpen = false;
    return err;
}

OSErr CHeaderlessTelephonyFile::RecalcNumFrames()
{
    SInt64 eof = 0;
    const OSErr err = GetEOF(m_refNum, &eof);
    if (err)
        return err;
    m_numFrames = UInt32(std::min<UInt64>(UInt64(eof) / FileBytesPerFrame(), 0xFFFFFFFFu));
    return noErr;
}

OSErr CHeaderlessTelephonyFile::SetFilePos(UInt32 frame)
{
    const SInt64 target = SInt64(frame) * SInt64(FileBytesPerFrame());
    OSErr err = SetFPos(m_refNum, fsFromStart, target);
    if (err == eofErr) {
        // Past the end of a file being written: zero bytes up to there.
        SInt64 eof = 0;
        err = GetEOF(m_refNum, &eof);
        if (!err && eof < target)
            err = SetEOF(m_refNum, target);
        if (!err)
            err = SetFPos(m_refNum, fsFromStart, target);
    }
    return err;
}

OSErr CHeaderlessTelephonyFile::ReadInto(UInt8* block, UInt32 frame)
{
    const std::size_t blockBytes = std::size_t(m_bufferFrames) * m_numChannels * BitsToBytes(m_numBits);
    std::memset(block, 0, blockBytes);
    const UInt32 frames = BlockFramesFrom(frame);
    if (frames == 0)
        return noErr;
    OSErr err = SetFilePos(frame);
    if (err)
        return err;
    const std::size_t fileBytes = std::size_t(frames) * FileBytesPerFrame();
    try {
        m_scratch.resize(fileBytes);
    } catch (const std::bad_alloc&) {
        return kCouldNotCreatePointerErr;
    }
    long count = long(fileBytes);
    err = FSRead(m_refNum, &count, m_scratch.data());
    const std::size_t got = std::size_t(std::max<long>(count, 0)) / FileBytesPerSample();
    DecodeSamples(m_scratch.data(), block, got);
    return err;
}

OSErr CHeaderlessTelephonyFile::ReadBlock(UInt32 frame)
{
    const OSErr err = BeginBlockRead(frame);
    return err ? err : ReadInto(m_readBuffer, frame);
}

OSErr CHeaderlessTelephonyFile::PrepareWriteBlock(UInt32 frame)
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    OSErr err = AllocateWriteBuffer();
    if (err)
        return err;
    err = ReadInto(m_writeBuffer, frame);
    return err == eofErr ? noErr : err;
}

OSErr CHeaderlessTelephonyFile::WriteBlock(UInt32 frames, UInt32 frame)
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    if (!m_writeBuffer)
        return paramErr;
    frames = std::min(frames, m_bufferFrames);
    if (frames == 0)
        return noErr;
    if (UInt64(frame) + frames > 0xFFFFFFFFu)
        return fsDataTooBigErr;
    OSErr err = SetFilePos(frame);
    if (err)
        return err;
    const std::size_t samples = std::size_t(frames) * m_numChannels;
    try {
        m_scratch.resize(samples * FileBytesPerSample());
    } catch (const std::bad_alloc&) {
        return kCouldNotCreatePointerErr;
    }
    EncodeSamples(m_writeBuffer, m_scratch.data(), samples);
    long count = long(m_scratch.size());
    err = FSWrite(m_refNum, &count, m_scratch.data());
    if (!err && std::size_t(count) != m_scratch.size())
        err = ioErr;
    if (err)
        return err;
    m_numFrames = std::max(m_numFrames, frame + frames);
    return noErr;
}
