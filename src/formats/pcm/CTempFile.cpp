#include "CTempFile.h"

#include "FileManager.h"
#include "SoundFileFactories.h"
#include "SoundFileRegistry.h"

CTempFile::CTempFile() : CAIFFFile(kAIFFFileType, "Temp") {}

CTempFile::~CTempFile()
{
    if (m_isOpen) {
        CAIFFFile::Close();
    }
    if (m_ownsFile && !m_fsSpec.name.empty()) {
        FSpDelete(&m_fsSpec);  // a failure leaves nothing to do
    }
}

OSErr CTempFile::Open()
{
    const OSErr err = CAIFFFile::Open();
    if (m_isOpen) {
        m_ownsFile = true;
    }
    return err;
}

OSErr CTempFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                        ConstStr255Param nameExtension, float sampleRate)
{
    const OSErr err = CAIFFFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
    if (m_isOpen) {
        m_ownsFile = true;
    }
    return err;
}

void RegisterTempFileTypes()
{
    RegisterSoundFileFactory(kTempFileType, &MakeSoundFileNoThrow<CTempFile>);
}
