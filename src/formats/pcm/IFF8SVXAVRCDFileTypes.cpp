#include "IFF8SVXAVRCDFileTypes.h"

#include "CAVRFile.h"
#include "CIFF8SVXFile.h"
#include "CImageDATFile.h"
#include "CreateSoundFile.h"
#include "ForkInputStream.h"
#include "SoundFileRegistry.h"
#include "SoundFileTypeDescriptor.h"

#include <cstring>
#include <fstream>
#include <new>

namespace {

// Reads the first `count` bytes of a file; false when it is shorter.
bool ReadStart(const QString& path, UInt8* bytes, std::streamsize count, SInt32* error)
{
    ForkInputStream in(path.toStdString());
    if (in.openError() != noErr) {
        *error = in.openError();
        return false;
    }
    in.read(reinterpret_cast<char*>(bytes), count);
    *error = 0;
    return in.gcount() == count;
}

// The form types of 8SVX files: 8-bit and 16-bit samples.
bool IsSVXForm(const UInt8* formType)
{
    return std::memcmp(formType, "8SVX", 4) == 0 || std::memcmp(formType, "16SV", 4) == 0;
}

} // namespace

SInt32 ProbeIFF8SVXChannels(const QString& path)
{
    UInt8 header[12];
    SInt32 error = 0;
    if (!ReadStart(path, header, sizeof header, &error)) {
        return error;
    }
    return std::memcmp(header, "FORM", 4) == 0 && IsSVXForm(header + 8) ? 1 : 0;
}

SInt32 ProbeAVRChannels(const QString& path)
{
    UInt8 header[14];
    SInt32 error = 0;
    if (!ReadStart(path, header, sizeof header, &error)) {
        return error;
    }
    if (std::memcmp(header, "2BIT", 4) != 0) {
        return 0;
    }
    return (header[12] | header[13]) != 0 ? 2 : 1;
}

OSErr SniffAVR(const UInt8* header, std::istream&, OSType, OSType* type)
{
    if (std::memcmp(header, "2BIT", 4) != 0)
        return kUnknownFileFormatErr;
    *type = kAVRFileType;
    return noErr;
}

OSErr Sniff8SVX(const UInt8* header, std::istream&, OSType, OSType* type)
{
    if (!IsSVXForm(header + 8))
        return kUnknownFileFormatErr;
    *type = kIFF8SVXFileType;
    return noErr;
}

void RegisterIFF8SVXAVRCDFileTypes()
{
    for (const SoundFileTypeDescriptor& type :
         {CIFF8SVXFile::Descriptor(), CAVRFile::Descriptor(), CImageDATFile::Descriptor()})
        RegisterSoundFileType(type);
}
