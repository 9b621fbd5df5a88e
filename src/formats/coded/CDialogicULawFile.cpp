#include "CDialogicULawFile.h"

#include "g72x.h"

OSType CDialogicULawFile::GetFileType() const { return FOUR_CHAR_CODE("DULW"); }
QString CDialogicULawFile::GetFormatName() const { return QString::fromUtf8("Dialogic μ-law (no header)"); }
SInt16 CDialogicULawFile::FormatCode() const { return kSampleFormatMuLaw; }
int CDialogicULawFile::Expand(UInt8 byte) const { return g711_ulaw2linear(byte); }
UInt8 CDialogicULawFile::Compress(int sample) const { return g711_linear2ulaw(sample); }
