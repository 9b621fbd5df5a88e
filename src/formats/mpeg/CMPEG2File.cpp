#include "CMPEG2File.h"

OSType CMPEG2File::GetFileType() const
{
    return FOUR_CHAR_CODE("MPG2");
}

QString CMPEG2File::GetFormatName() const
{
    return QStringLiteral("MPEG-1 Layer II ('MP2')");
}
