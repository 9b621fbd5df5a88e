#include "CEncodeOnCloseFile.h"

#include "FileManager.h"
#include "open_steps.h"

#include <algorithm>

bool CEncodeOnCloseFile::RemovesUnencodedOutput() const { return false; }

ConstStr255Param CEncodeOnCloseFile::NameExtensionFor(ConstStr255Param given, double, Str255) const
{
    return given;
}

OSErr CEncodeOnCloseFile::OpenToRead(SInt64* eof)
{
    const OSErr err = OpenDataToRead(m_fsSpec, m_refNum, m_isOpen);
    if (err)
        return err;
    m_writing = false;
    return eof ? GetEOF(m_refNum, eof) : noErr;
}

OSErr CEncodeOnCloseFile::CreateToWrite(bool headerTellsType, UInt16 channels, double rate, SInt16 sampleFormat)
{
    if (const OSErr err = CreateDataToWrite(*this, m_fsSpec, headerTellsType, m_refNum, m_isOpen))
        return err;
    m_writing = true;
    SetNewFileShape(channels, 16, rate);
    m_sampleFormat = sampleFormat;
    return noErr;
}

OSErr CEncodeOnCloseFile::ReadAt(UInt64 position, void* bytes, std::size_t count)
{
    return ReadExactlyAt(m_refNum, position, bytes, count);
}

OSErr CEncodeOnCloseFile::WriteAt(UInt64 position, const void* bytes, std::size_t count)
{
    return WriteExactlyAt(m_refNum, position, bytes, count);
}

OSErr CEncodeOnCloseFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                                 const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, float sampleRate)
{
    if (m_isOpen)
        return opWrErr;
    OSErr err = CheckShape(numChannels, sampleRate);
    if (err)
        return err;
    Str255 chosen = {0};
    nameExtension = NameExtensionFor(nameExtension, sampleRate, chosen);
    if ((err = CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate)))
        return err;
    if (!(err = CreateDataFile(numChannels, sampleRate, fileTypeSpecifics)))
        err = m_inner.Create(m_path, TempTag(), numChannels, sampleRate, m_bufferFrames);
    if (err && m_isOpen) {
        FSClose(m_refNum);
        m_isOpen = false;
        m_writing = false;
        FSpDelete(&m_fsSpec);
    }
    return err;
}

OSErr CEncodeOnCloseFile::CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                                     const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension,
                                     double sampleRate)
{
    if (m_isOpen)
        return opWrErr;
    if (!source)
        return paramErr;
    OSErr err = CheckShape(source->GetNumChannels(), source->GetSampleRate());
    if (err)
        return err;
    Str255 chosen = {0};
    nameExtension = NameExtensionFor(nameExtension, source->GetSampleRate(), chosen);
    if ((err = CCodedFile::CreateLike(source, numChannels, numBits, reserved, fileTypeSpecifics, nameExtension,
                                      sampleRate)))
        return err;
    if ((err = CreateDataFile(source->GetNumChannels(), source->GetSampleRate(), fileTypeSpecifics)))
        return err;
    m_inner.Adopt(const_cast<CSoundFile*>(source));
    m_numFrames = source->GetNumFrames();
    return noErr;
}

OSErr CEncodeOnCloseFile::ReadBlock(UInt32 frame)
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    if (!m_writing)
        return ReadCodedBlock(frame);
    OSErr err = AllocateReadBuffer();
    if (err)
        return err;
    err = m_inner.Prepare(m_readBuffer, frame, m_bufferFrames);
    m_readBufferStart = frame;
    return err;
}

OSErr CEncodeOnCloseFile::PrepareWriteBlock(UInt32 frame)
{
    if (!m_isOpen || !m_writing)
        return kFileNotOpenedErr;
    const OSErr err = AllocateWriteBuffer();
    if (err)
        return err;
    return m_inner.Prepare(m_writeBuffer, frame, m_bufferFrames);
}

OSErr CEncodeOnCloseFile::WriteBlock(UInt32 frames, UInt32 frame)
{
    if (!m_isOpen || !m_writing)
        return kFileNotOpenedErr;
    if (!m_writeBuffer)
        return paramErr;
    const OSErr err = m_inner.Write(m_writeBuffer, std::min(frames, m_bufferFrames), frame);
    m_numFrames = m_inner.NumFrames();
    return err;
}

OSErr CEncodeOnCloseFile::Close()
{
    if (!m_isOpen)
        return noErr;
    OSErr err = noErr;
    const bool encode = m_writing && m_inner.IsSet() && !IsClosingAfterFailure();
    if (encode)
        err = EncodeOutput();
    const bool remove =
        (encode && err) || (m_writing && IsClosingAfterFailure() && RemovesUnencodedOutput());
    m_inner.Release();
    const OSErr closeErr = FSClose(m_refNum);
    if (closeErr == noErr)
        m_isOpen = false;
    if (remove)
        FSpDelete(&m_fsSpec);  // a cancelled or failed encode leaves nothing
    m_writing = false;
    return err ? err : closeErr;
}
