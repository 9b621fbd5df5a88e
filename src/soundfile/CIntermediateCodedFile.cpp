#include "CIntermediateCodedFile.h"

#include "FileOperations.h"

#include <algorithm>

OSErr CIntermediateCodedFile::ReadCodedBlock(UInt32) { return noErr; }
OSErr CIntermediateCodedFile::CheckShape(UInt16, double) const { return noErr; }
bool CIntermediateCodedFile::EncodesWithoutAudio() const { return true; }
bool CIntermediateCodedFile::KeepsOutputAfter(OSErr) const { return false; }
bool CIntermediateCodedFile::RemovesUnencodedOutput() const { return false; }

ConstStr255Param CIntermediateCodedFile::NameExtensionFor(ConstStr255Param given, double, Str255) const
{
    return given;
}

OSErr CIntermediateCodedFile::CloseDataFile()
{
    m_isOpen = false;
    return noErr;
}

void CIntermediateCodedFile::DeleteOutput()
{
    DeletePath(m_path);
}

OSErr CIntermediateCodedFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                                     const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension,
                                     float sampleRate)
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
    m_written = false;
    if (!(err = CreateDataFile(numChannels, sampleRate, fileTypeSpecifics)))
        err = m_inner.Create(m_path, Intermediate(), numChannels, sampleRate, m_bufferFrames);
    if (err)
        AbandonOutput();
    return err;
}

void CIntermediateCodedFile::AbandonOutput()
{
    if (!m_isOpen)
        return;
    CloseDataFile();
    m_isOpen = false;
    m_writing = false;
    DeleteOutput();
}

OSErr CIntermediateCodedFile::CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits,
                                         UInt32 reserved, const UInt8* fileTypeSpecifics,
                                         ConstStr255Param nameExtension, double sampleRate)
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
    if ((err = CreateDataFile(source->GetNumChannels(), source->GetSampleRate(), fileTypeSpecifics))) {
        AbandonOutput();
        return err;
    }
    m_inner.Adopt(const_cast<CSoundFile*>(source));
    m_numFrames = source->GetNumFrames();
    m_written = true;
    return noErr;
}

OSErr CIntermediateCodedFile::ReadBlock(UInt32 frame)
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    if (!m_writing)
        return ReadCodedBlock(frame);
    OSErr err = AllocateReadBuffer();
    if (err)
        return err;
    UInt32 held = 0;
    err = m_inner.Prepare(m_readBuffer, frame, m_bufferFrames, &held);
    m_readBufferStart = frame;
    return err;
}

OSErr CIntermediateCodedFile::LoadWrittenFrames(UInt32 frame, UInt32* held)
{
    *held = 0;
    if (!m_isOpen || !m_writing)
        return kFileNotOpenedErr;
    const OSErr err = AllocateWriteBuffer();
    if (err)
        return err;
    return m_inner.Prepare(m_writeBuffer, frame, m_bufferFrames, held);
}

OSErr CIntermediateCodedFile::WriteBlock(UInt32 frames, UInt32 frame)
{
    if (!m_isOpen || !m_writing)
        return kFileNotOpenedErr;
    if (!m_writeBuffer)
        return paramErr;
    const OSErr err = m_inner.Write(m_writeBuffer, std::min(frames, m_bufferFrames), frame);
    m_numFrames = m_inner.NumFrames();
    m_written = true;
    return err;
}

OSErr CIntermediateCodedFile::Close()
{
    if (!m_isOpen)
        return noErr;
    OSErr err = noErr;
    const bool failed = IsClosingAfterFailure();
    const bool encode = m_writing && m_inner.IsSet() && !failed && (m_written || EncodesWithoutAudio());
    if (encode)
        err = EncodeOutput();
    // A cancelled or failed encode leaves nothing.
    const bool remove = m_writing && ((encode && err && !KeepsOutputAfter(err)) ||
                                      (failed && RemovesUnencodedOutput()));
    m_inner.Release();
    const OSErr closeErr = CloseDataFile();
    if (remove)
        DeleteOutput();
    m_writing = false;
    return err ? err : closeErr;
}
