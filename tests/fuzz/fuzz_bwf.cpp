// The Broadcast Wave reader ('bext', 'regn' and the WAVE chunks) on
// damaged files.
#include "CBWFLinearFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"
#include "WAVEFuzzSeeds.h"

#include <vector>

using namespace wavefuzz;

std::vector<std::string> FuzzSeeds()
{
    return {Riff(Bytes().chunk("fmt ", Fmt(1, 2, 16, 4)).chunk("bext", Bext(123456789012ull)).chunk("data", Samples(24)).s +
                 Annotations() + Bytes().chunk("regn", Regn()).s),
            Riff(Bytes().chunk("fmt ", ExtensibleFmt(3, 24, 7, 1)).chunk("bext", Bext(0)).chunk("data", Samples(18)).s +
                 Bytes().chunk("regn", Bytes().u32(0).s).s)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return soundfilefuzz::ReadAndProbe<CBWFLinearFile>(FuzzWriteInput(data, size, ".wav"),
        soundfilefuzz::Walk().WhileOpen(
            [](CSoundFile& file) { (void)file.GetSpecifics().value("bwfAnnotation"); }));
}
