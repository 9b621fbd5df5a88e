#include "CEncodeOnCloseFile.h"
#include "format_type_codes.h"

#include "FileManager.h"
#include "open_steps.h"

InnerLinearFile::Kind CEncodeOnCloseFile::Intermediate() const
{
    // Named after the format's tag (".QuillOutFile-k3Ztq0-msadpcm.aif").
    InnerLinearFile::Kind kind = InnerLinearFile::Kind::Beside(format_type_codes::kTemp);
    kind.reservedSuffix = std::string("-") + m_tempTag;
    return kind;
}

OSErr CEncodeOnCloseFile::CloseDataFile()
{
    const OSErr err = FSClose(m_refNum);
    if (err == noErr)
        m_isOpen = false;
    return err;
}

void CEncodeOnCloseFile::DeleteOutput()
{
    FSpDelete(&m_fsSpec);
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
