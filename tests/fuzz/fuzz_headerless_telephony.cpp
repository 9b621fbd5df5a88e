// The headerless telephony readers (Dialogic and Pika ADPCM, A-law, mu-law,
// PCM under the raw-file settings) on arbitrary data, including the
// settings a user may leave odd (no channels, unusual word sizes).
#include "CDialogicADPCMFile.h"
#include "CDialogicALawFile.h"
#include "CDialogicPCMFile.h"
#include "CDialogicULawFile.h"
#include "CPikaADPCMFile.h"
#include "FuzzTarget.h"
#include "RawFileSettings.h"
#include "SoundFileFuzzRead.h"

#include <string>
#include <vector>

std::vector<std::string> FuzzSeeds()
{
    return {std::string("\x18\x80\x7F\x00\xFF\x12\x34\x56", 8), std::string(1, '\x01'), std::string(257, '\x77')};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte picks the raw-file settings; the rest is the file.
    const UInt8 pick = size ? data[0] : 0;
    RawFileSettings::SetNumChannels(pick % 5);
    RawFileSettings::SetNumBits((pick >> 3) % 2 ? 8 + 8 * ((pick >> 4) % 4) : pick % 40);
    RawFileSettings::SetBigEndian(pick & 0x80);
    RawFileSettings::SetSampleRate((pick & 0x40) ? 0.0 : 8000.0);
    const std::string path = FuzzWriteInput(size ? data + 1 : data, size ? size - 1 : 0, ".raw");
    // The second byte picks the reader.
    switch (size > 1 ? data[1] % 5 : 0) {
    case 0: return soundfilefuzz::ReadAndProbe<CDialogicADPCMFile>(path);
    case 1: return soundfilefuzz::ReadAndProbe<CPikaADPCMFile>(path);
    case 2: return soundfilefuzz::ReadAndProbe<CDialogicALawFile>(path);
    case 3: return soundfilefuzz::ReadAndProbe<CDialogicULawFile>(path);
    default: return soundfilefuzz::ReadAndProbe<CDialogicPCMFile>(path);
    }
}
