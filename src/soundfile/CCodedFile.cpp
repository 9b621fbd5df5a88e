#include "CCodedFile.h"

CCodedFile::~CCodedFile() = default;

void CCodedFile::BorrowBuffers() {}

void CCodedFile::BorrowBuffersOf(const CSoundFile* intermediate)
{
    m_readBuffer = intermediate ? intermediate->GetReadBuffer() : nullptr;
    m_writeBuffer = intermediate ? intermediate->GetWriteBuffer() : nullptr;
}

OSErr CCodedFile::AllocateIntermediateReadBuffer(CSoundFile* intermediate)
{
    if (!intermediate)
        return CSoundFile::AllocateReadBuffer();
    return ForwardToIntermediate(intermediate, noErr, [](CSoundFile& inner) { return inner.AllocateReadBuffer(); });
}

OSErr CCodedFile::ReadIntermediateBlock(CSoundFile* intermediate, UInt32 frame)
{
    if (!intermediate)
        return noErr;
    const OSErr err =
        ForwardToIntermediate(intermediate, noErr, [frame](CSoundFile& inner) { return inner.ReadBlock(frame); });
    m_readBufferStart = frame;
    InvalidateReadBuffer();
    return err;
}

Boolean CCodedFile::NeedsEncodingOnClose() const
{
    return true;
}

OSErr CCodedFile::CreateLike(const CSoundFile* source, UInt16 /*numChannels*/, SInt16 /*numBits*/,
                             UInt32 reserved, const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension,
                             double /*sampleRate*/)
{
    if (!source)
        return paramErr;
    return CSoundFile::Create(source->GetNumChannels(), source->GetNumBits(), reserved, fileTypeSpecifics,
                              nameExtension, float(source->GetSampleRate()));
}
