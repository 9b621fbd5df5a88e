#include "CWAVE_ALawFile.h"

#include "SoundFileFactories.h"

CWAVE_ALawFile::CWAVE_ALawFile() : CWAVE_AuFile(FOUR_CHAR_CODE("WVal"), "Wave A-law") {}

CWAVE_ALawFile::~CWAVE_ALawFile()
{
    if (IsOpen())
        CWAVE_ALawFile::Close();
}

UInt16 CWAVE_ALawFile::WrittenFormatTag() const { return kWAVEFormatALaw; }

SoundFileTypeDescriptor CWAVE_ALawFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("WVal"), .factory = &MakeSoundFile<CWAVE_ALawFile>};
}
