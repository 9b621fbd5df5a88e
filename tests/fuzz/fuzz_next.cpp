// The NeXT/Sun readers (linear, A-law, mu-law) on damaged files.
#include "CNeXTALawFile.h"
#include "CNeXTAUFile.h"
#include "CNeXT_SUNFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"

#include <string>
#include <vector>

namespace {

std::string Header(unsigned offset, unsigned size, unsigned encoding, unsigned channels, std::size_t data)
{
    std::string s;
    for (unsigned v : {0x2E736E64u, offset, size, encoding, 8000u, channels})
        for (int b = 24; b >= 0; b -= 8)
            s.push_back(char(v >> b));
    s.resize(offset, 'i');
    for (std::size_t i = 0; i < data; ++i)
        s.push_back(char(i * 37));
    return s;
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {Header(28, 40, 3, 2, 40), Header(24, 0, 2, 1, 9), Header(40, 0xFFFFFFFFu, 4, 3, 30),
            Header(28, 12, 5, 1, 16), Header(32, 10, 1, 2, 10), Header(28, 0, 27, 1, 7)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace soundfilefuzz;
    const std::string path = FuzzWriteInput(data, size, ".au");
    const Walk walk = Walk().AnyChannels().PastEnd(3);
    ReadAndProbe<CNeXT_SUNFile>(path, walk);
    ReadAndProbe<CNeXTALawFile>(path, walk);
    return ReadAndProbe<CNeXTAUFile>(path, walk);
}
