#include "VOCFileTypes.h"

#include "CVOCFile.h"
#include "CVOC_SBFile.h"
#include "CreateSoundFile.h"
#include "SoundFileRegistry.h"
#include "SoundFileTypeDescriptor.h"
#include "header_sniffing.h"

namespace {

// Detection asks for the first block of a type; later occurrences are not
// searched for.
OSErr FindVOCBlockByCode(std::istream& stream, OSType blockType, UInt32 occurrence)
{
    if (occurrence != 1 || blockType > 0xFF)
        return kChunkNotFoundErr;
    return FindVOCBlock(UInt8(blockType), stream);
}

} // namespace

// 'VOC2' reads the files whose format is declared in a block of its own:
// the extended block 8, or the sound-data block 9 of the newer files
// (16-bit and multichannel, as sox and libsndfile write them).
OSErr SniffVOC(const UInt8* header, std::istream& in, OSType, OSType* type)
{
    if (!header_sniffing::HeaderIs(header, 0, "Crea"))
        return kUnknownFileFormatErr;
    const auto hasBlock = [&in](UInt8 block) {
        try {
            return FindVOCBlock(block, in) != kChunkNotFoundErr;
        } catch (...) {
            return false;
        }
    };
    *type = hasBlock(8) || hasBlock(9) ? FOUR_CHAR_CODE("VOC2") : FOUR_CHAR_CODE("VOC ");
    return noErr;
}

void RegisterVOCFileTypes()
{
    for (const SoundFileTypeDescriptor& type : {CVOCFile::Descriptor(), CVOC_SBFile::Descriptor()})
        RegisterSoundFileType(type);
    RegisterChunkFinder(FOUR_CHAR_CODE("VOC "), &FindVOCBlockByCode);
}
