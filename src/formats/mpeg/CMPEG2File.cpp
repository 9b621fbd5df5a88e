#include "CMPEG2File.h"

#include "SoundFileFactories.h"

OSType CMPEG2File::GetFileType() const
{
    return FOUR_CHAR_CODE("MPG2");
}

QString CMPEG2File::GetFormatName() const
{
    return QStringLiteral("MPEG-1 Layer II ('MP2')");
}

SoundFileTypeDescriptor CMPEG2File::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("MPG2"), .factory = &MakeSoundFile<CMPEG2File>};
}
