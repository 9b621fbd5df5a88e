#include "CDialogicVAPFile.h"

#include "CreatedFilesList.h"
#include "FileManager.h"
#include "telephony_names.h"

#include <string>
#include <vector>

namespace {

constexpr UInt32 kNameOffset = 36;
constexpr std::size_t kMinHeader = 28;

UInt32 GetLE32(const UInt8* p)
{
    return UInt32(p[0]) | (UInt32(p[1]) << 8) | (UInt32(p[2]) << 16) | (UInt32(p[3]) << 24);
}

void PutLE32(std::vector<UInt8>& out, UInt32 v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(UInt8(v >> (8 * i)));
}

} // namespace

CDialogicVAPFile::CDialogicVAPFile()
    : CDialogicADPCMFile({FOUR_CHAR_CODE("DVAP"), "Annotated Voice (vap)", false, true, "dialogic",
                          "encoding to Anotated voice(vap) file"})
{
}

CDialogicVAPFile::~CDialogicVAPFile()
{
    if (m_isOpen)
        Close();
}

OSErr CDialogicVAPFile::ReadHeader()
{
    UInt8 header[kMinHeader];
    OSErr err = ReadAt(0, header, sizeof header);
    if (err == eofErr)
        return kTelephonyUnknownFormatErr;
    if (err)
        return err;
    const SInt32 rate = SInt32(GetLE32(header + 4));
    if (rate < 1)
        return kTelephonyUnknownFormatErr;
    m_sampleRate = double(rate);
    m_dataOffset = GetLE32(header + 24);
    return noErr;  // the caller refuses an offset past the end
}

OSErr CDialogicVAPFile::WriteHeader()
{
    // A batch's temporary name without its random tag: the same bytes from
    // run to run.
    const std::string name = WithoutTemporaryTag(GetFileNameString());
    const double rate = m_sampleRate;
    const UInt32 rateWord = rate >= 4294967295.0 ? 0xFFFFFFFFu : (rate > 0.0 ? UInt32(rate) : 0u);
    const UInt32 offset = kNameOffset + UInt32(name.size()) + 1;
    std::vector<UInt8> header;
    PutLE32(header, 1);
    PutLE32(header, rateWord);
    PutLE32(header, 1);
    PutLE32(header, 0);
    PutLE32(header, 0);
    PutLE32(header, 0);
    PutLE32(header, offset);
    PutLE32(header, m_codesToWrite / 2);
    PutLE32(header, kNameOffset);
    header.insert(header.end(), name.begin(), name.end());
    header.push_back(0);
    const OSErr err = WriteAt(0, header.data(), header.size());
    if (!err)
        m_dataOffset = offset;
    return err;
}
