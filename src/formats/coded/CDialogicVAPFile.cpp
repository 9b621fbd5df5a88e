#include "CDialogicVAPFile.h"

#include "ByteOrder.h"
#include "ChunkReader.h"
#include "FileManager.h"
#include "SoundFileFactories.h"
#include "telephony_names.h"

#include <string>
#include <vector>

namespace {

constexpr UInt32 kNameOffset = 36;
constexpr std::size_t kMinHeader = 28;

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
        return kUnknownFileFormatErr;
    if (err)
        return err;
    const SInt32 rate = SInt32(ReadLE32(header + 4));
    if (rate < 1)
        return kUnknownFileFormatErr;
    m_sampleRate = double(rate);
    m_dataOffset = ReadLE32(header + 24);
    return noErr;  // the caller refuses an offset past the end
}

OSErr CDialogicVAPFile::WriteHeader()
{
    // The name the file is published under.
    const std::string name = GetStoredFileNameString();
    const double rate = m_sampleRate;
    const UInt32 rateWord = rate >= 4294967295.0 ? 0xFFFFFFFFu : (rate > 0.0 ? UInt32(rate) : 0u);
    const UInt32 offset = kNameOffset + UInt32(name.size()) + 1;
    ChunkBuilder header(ChunkByteOrder::LittleEndian);
    header.put_u32(1);
    header.put_u32(rateWord);
    header.put_u32(1);
    header.put_u32(0);
    header.put_u32(0);
    header.put_u32(0);
    header.put_u32(offset);
    header.put_u32(m_codesToWrite / 2);
    header.put_u32(kNameOffset);
    header.put_bytes(name.data(), name.size());
    header.put_u8(0);
    const OSErr err = WriteAt(0, header.data(), header.size());
    if (!err)
        m_dataOffset = offset;
    return err;
}

SoundFileTypeDescriptor CDialogicVAPFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("DVAP"), .factory = &MakeSoundFileNoThrow<CDialogicVAPFile>};
}
