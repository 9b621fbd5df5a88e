#include "CHeaderlessTelephonyFile.h"

#include "FileManager.h"
#include "open_steps.h"


CHeaderlessTelephonyFile::CHeaderlessTelephonyFile(OSType fileType, const char* formatName)
    : CLinearPCMFile(fileType, formatName)
{
    m_closesRefusedFile = true;
}

OSErr CHeaderlessTelephonyFile::ReadHeader()
{
    const OSErr err = ReadShape();
    return err ? err : RecalcNumFrames();
}

OSErr CHeaderlessTelephonyFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                                       const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension,
                                       float sampleRate)
{
    if (m_isOpen)
        return opWrErr;
    Str255 chosen = {0};
    const OSErr err = CheckCreate(numChannels, numBits, sampleRate, &nameExtension, chosen);
    if (err)
        return err;
    return CLinearPCMFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
}

OSErr CHeaderlessTelephonyFile::MakeDataFork()
{
    return CreateDataToWrite(*this, m_fsSpec, false, m_refNum, m_isOpen);
}

// The Finder information went with the file as it was made.
void CHeaderlessTelephonyFile::DropFinderInfoTheFileTells(bool) {}

OSErr CHeaderlessTelephonyFile::SetUpNewFile(const UInt8*)
{
    SetShape(UInt16(m_numChannels), m_numBits);
    return noErr;
}

OSErr CHeaderlessTelephonyFile::CheckWriteExtent(UInt64 endFrame) const
{
    return endFrame > 0xFFFFFFFFu ? fsDataTooBigErr : noErr;
}

