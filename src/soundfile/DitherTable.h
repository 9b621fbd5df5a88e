// The process-wide dither table: 65536 random values 0..255, built when a
// batch whose conversions redither starts, and the running index through
// which the sample writers draw from it.
//
// The seed and the running index live for the whole process: each build
// continues the random sequence, and the index is never reset.  Only the
// batch worker draws values; the table is built and freed while no worker
// runs.
#pragma once

#include "MacTypes.h"

// Number of entries of a table.
constexpr SInt32 kDitherTableLength = 65536;

// The current table (null until the first build and after FreeDitherTable),
// its length in entries (0 while there is no table), the running index and
// the generator's seed.
extern UInt16* gDitherTable;
extern SInt32 gDitherTableLength;
extern UInt16 gDitherIndex;
extern UInt32 gDitherSeed;

// Builds a new table (replacing any earlier one) from the seed: entry n is
// ((seed = (4096 * seed + 150889) mod 714025) >> 8) & 255.  Returns 0, or
// -21004 when the table cannot be allocated (nothing changes then).
SInt32 CreateDitherTable();
// Releases the table; nothing when there is none.
void FreeDitherTable();

// True when a table exists.
inline bool DitherTableExists()
{
    return gDitherTable != nullptr && gDitherTableLength > 0;
}

// The draw of NextDitherValue on a running index the caller holds: a loop
// over many samples keeps the index (and the table and its length) in
// locals and stores it back in gDitherIndex when it is done.
inline UInt16 NextDitherValue(const UInt16* table, UInt32 length, UInt16& index)
{
    UInt16 next = UInt16(index + 1);
    if (next >= length)
        next = UInt16(next % length);
    index = next;
    return table[next];
}

// Draws the next value: the index moves first, to ((index + 1) & 0xFFFF)
// modulo the length, then the entry there is returned.  Call only while
// DitherTableExists().
inline UInt16 NextDitherValue()
{
    return NextDitherValue(gDitherTable, UInt32(gDitherTableLength), gDitherIndex);
}
