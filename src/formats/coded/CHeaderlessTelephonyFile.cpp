#include "CHeaderlessTelephonyFile.h"

#include "FileManager.h"
#include "ZuFiles.h"
#include "open_steps.h"

#include <algorithm>
#include <new>

CHeaderlessTelephonyFile::CHeaderlessTelephonyFile(OSType fileType, const char* formatName)
    : CLinearPCMFile(fileType, formatName)
{
    m_closesRefusedFile = true;
}

SInt64 CHeaderlessTelephonyFile::FileBytesPerFrame() const
{
    return SInt64(std::max<UInt32>(m_numChannels, 1)) * FileBytesPerSample();
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

OSErr CHeaderlessTelephonyFile::LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled)
{
    *filled = 0;
    try {
        m_scratch.resize(std::size_t(frames) * std::size_t(FileBytesPerFrame()));
    } catch (const std::bad_alloc&) {
        return kCouldNotCreatePointerErr;
    }
    std::size_t bytes = 0;
    const OSErr err = ReadFileFrames(m_scratch.data(), frame, frames, &bytes);
    const std::size_t samples = bytes / FileBytesPerSample();
    DecodeSamples(m_scratch.data(), block, samples);
    *filled = samples * std::size_t(BitsToBytes(m_numBits));
    return err;
}

OSErr CHeaderlessTelephonyFile::StoreFrames(UInt32 frames, UInt32 frame)
{
    const std::size_t samples = std::size_t(frames) * m_numChannels;
    try {
        m_scratch.resize(samples * FileBytesPerSample());
    } catch (const std::bad_alloc&) {
        return kCouldNotCreatePointerErr;
    }
    EncodeSamples(m_writeBuffer, m_scratch.data(), samples);
    return WriteFileFrames(m_scratch.data(), frames, frame);
}
