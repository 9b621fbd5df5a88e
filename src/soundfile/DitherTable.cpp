#include "DitherTable.h"

#include "error_codes.h"

#include <cstdlib>

UInt16* gDitherTable = nullptr;
SInt32 gDitherTableLength = 0;
UInt16 gDitherIndex = 0;
UInt32 gDitherSeed = 0;

namespace {
constexpr UInt32 kDitherA = 4096;
constexpr UInt32 kDitherC = 150889;
constexpr UInt32 kDitherM = 714025;
} // namespace

SInt32 CreateDitherTable()
{
    auto* table = static_cast<UInt16*>(std::calloc(kDitherTableLength, sizeof(UInt16)));
    if (!table)
        return kCouldNotCreatePointerErr;
    UInt32 seed = gDitherSeed;
    for (SInt32 i = 0; i < kDitherTableLength; ++i) {
        // seed < m, so a * seed + c stays below 2^32.
        seed = (kDitherA * seed + kDitherC) % kDitherM;
        table[i] = UInt16((seed >> 8) & 255);
    }
    gDitherSeed = seed;
    std::free(gDitherTable);
    gDitherTable = table;
    gDitherTableLength = kDitherTableLength;
    return 0;
}

void FreeDitherTable()
{
    std::free(gDitherTable);
    gDitherTable = nullptr;
    gDitherTableLength = 0;
}
