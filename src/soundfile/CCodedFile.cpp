#include "CCodedFile.h"

CCodedFile::~CCodedFile() = default;

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
