#include "CNeXTALawFile.h"

CNeXTALawFile::CNeXTALawFile() : CNeXT_SUNFile(Coding::ALaw) {}

OSType CNeXTALawFile::GetFileType() const { return FOUR_CHAR_CODE("NSAL"); }
QString CNeXTALawFile::GetFormatName() const { return QStringLiteral("NeXT/Sun A-law"); }
