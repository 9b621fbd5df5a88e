// CDialogicPCMFile ('DPCM', "Dialogic PCM (no header)"): headerless linear
// samples.  The name's extension decides: "p16" 16-bit big-endian, "pc8",
// "pcm" and "PCM" 8-bit unsigned, mono at 8000 Hz; any other name takes
// the raw-file settings (rate, word size, byte order, channel count; a
// channel count of 0 is refused).  8-bit samples are unsigned in the file.
// An 8-bit output without a name extension of its own is named "pc8", so
// that it reads back as written.
#pragma once

#include "CHeaderlessTelephonyFile.h"
#include "SoundFileTypeDescriptor.h"

class CDialogicPCMFile : public CHeaderlessTelephonyFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CDialogicPCMFile();

protected:
    OSErr ReadShape() override;
    OSErr CheckCreate(UInt16 channels, SInt16 bits, double rate, ConstStr255Param* nameExtension,
                      Str255 chosen) const override;
    void SetShape(UInt16 channels, SInt16 bits) override;

private:
    void SetTransform();
};
