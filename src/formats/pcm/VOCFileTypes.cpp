#include "VOCFileTypes.h"

#include "CVOCFile.h"
#include "CVOC_SBFile.h"
#include "SoundFileRegistry.h"

namespace {

template <typename T>
CSoundFile* Make()
{
    return new T();
}

// Detection asks for the first block of a type; later occurrences are not
// searched for.
OSErr FindVOCBlockByCode(std::istream& stream, OSType blockType, UInt32 occurrence)
{
    if (occurrence != 1 || blockType > 0xFF)
        return kVOCChunkMissingErr;
    return FindVOCBlock(UInt8(blockType), stream);
}

} // namespace

void RegisterVOCFileTypes()
{
    RegisterSoundFileFactory(FOUR_CHAR_CODE("VOC "), &Make<CVOCFile>);
    RegisterSoundFileFactory(FOUR_CHAR_CODE("VOC2"), &Make<CVOC_SBFile>);
    RegisterChunkFinder(FOUR_CHAR_CODE("VOC "), &FindVOCBlockByCode);
}
