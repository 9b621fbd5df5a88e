// The LAME encoder's genre list as the outside program prints it: any
// output gives a table of names to numbers without reading past its end.
#include "FuzzTarget.h"
#include "lame_encoder.h"

#include <cstdlib>

std::vector<std::string> FuzzSeeds()
{
    return {"123 A Cappella\n 34 Acid\n 74 Acid Jazz\n", " 17 Rock\n  0 Blues\n 99 Partial",
            "-1 x\n+2 y\n999999999 z\n\n12\n"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string output(reinterpret_cast<const char*>(data), size);
    const QVariantMap genres = ParseLAMEGenreList(output);
    if (qsizetype(genres.size()) > qsizetype(size))
        std::abort();
    return 0;
}
