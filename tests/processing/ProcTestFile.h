// The processing tests' sound file: the shared in-memory file, open from
// the start, that neither opens nor closes anything.
#pragma once

#include "MemorySoundFile.h"

class ProcTestFile : public MemorySoundFile {
public:
    ProcTestFile(UInt16 channels, SInt16 bits, double rate = 44100.0, SInt16 state = 0)
        : MemorySoundFile(channels, bits, rate)
    {
        SetSampleFormat(state);
        SetOpenFlag(true);
    }

    OSErr Open() override { return noErr; }
    OSErr Close() override { return noErr; }
    OSType GetFileType() const override { return FOUR_CHAR_CODE("PTst"); }
    QString GetFormatName() const override { return QStringLiteral("Processing test"); }
};
