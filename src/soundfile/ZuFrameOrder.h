// The order markers, regions and loops share: by one frame position,
// compared as the unsigned frame number it is (so that a list of a long file
// keeps frames beyond 2^31 after the earlier ones).
#pragma once

#include "MacTypes.h"

// -1, 0 or 1.
inline int CompareFramePositions(UInt32 a, UInt32 b)
{
    if (a < b)
        return -1;
    return a > b ? 1 : 0;
}

// The ordering of a list of markers, regions or loops: a null argument
// orders before anything (-1 when b is null), a null receiver after it (1
// when a is null, b not); else a->compare(*b).
template <class Item>
int CompareListItems(const Item* a, const Item* b)
{
    if (!b)
        return -1;
    if (!a)
        return 1;
    return a->compare(*b);
}
