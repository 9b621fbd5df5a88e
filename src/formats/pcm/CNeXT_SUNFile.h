// NeXT/Sun sound files (".snd", ".au"): a big-endian header of six words
// (magic ".snd", data offset, data size, encoding, rate, channels) and an
// info field, then interleaved samples.
//
// CNeXT_SUNFile reads and writes linear PCM of 8, 16, 24 and 32 bits
// (encodings 2 to 5), type 'NxTS'.  The G.711 variants CNeXTALawFile
// ('NSAL', encoding 27) and CNeXTAUFile ('ulaw', encoding 1) derive from it
// and only change how a sample is stored: one byte in the file, a 16-bit
// word in the sample block.
//
// Files written here have a 28-byte header (info 'QUIL') and data offset
// 28.  Reading accepts any data offset from 24 on; a data size of 0 or
// 0xFFFFFFFF, or one past the end of the file, means "to the end of the
// file".
#pragma once

#include "CLinearPCMFile.h"
#include "error_codes.h"
#include "SoundFileTypeDescriptor.h"

#include <vector>


class CNeXT_SUNFile : public CLinearPCMFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CNeXT_SUNFile();
    ~CNeXT_SUNFile() override;
    // Linear samples only (big-endian words).
    bool GetRawSampleLayout(RawSampleLayout* layout) const override;

protected:
    enum class Coding { Linear, ALaw, MuLaw };  // in this order in the .cpp's table
    CNeXT_SUNFile(Coding coding, OSType fileType, const char* formatName);

    OSErr ReadHeader() override;
    // The file region; its result is not the open's.
    OSErr AfterOpen() override;
    OSErr CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const override;
    OSErr SetUpNewFile(const UInt8* fileTypeSpecifics) override;
    OSErr WriteHeader() override;

    // The error of a header that is not a NeXT/Sun header of this class.
    OSErr BadHeaderError() const;
    // Bytes of one frame in the file (one byte a sample for G.711).
    SInt64 FileBytesPerFrame() const override;
    OSErr CheckWriteExtent(UInt64 endFrame) const override;
    // Coded silence for G.711 (a zero byte is a loud sample there).
    UInt8 FileSilenceByte() const override;
    OSErr LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled) override;
    OSErr StoreFrames(UInt32 frames, UInt32 frame) override;

private:
    UInt32 EncodingForShape() const;

    Coding m_coding;
};
