// Fixed-width numbers in byte buffers, most significant byte first (BE) or
// last (LE): 16-, 32- and 64-bit reads from memory and writes into it.
// Plain C++: the media layer's byte walks read through these, and
// ByteOrder.h adds the same fields in a QByteArray.
#pragma once

#include "MacTypes.h"

inline UInt16 ReadBE16(const void* p)
{
    const auto* b = static_cast<const UInt8*>(p);
    return UInt16((UInt16(b[0]) << 8) | b[1]);
}

inline UInt32 ReadBE32(const void* p)
{
    const auto* b = static_cast<const UInt8*>(p);
    return (UInt32(b[0]) << 24) | (UInt32(b[1]) << 16) | (UInt32(b[2]) << 8) | UInt32(b[3]);
}

inline UInt64 ReadBE64(const void* p)
{
    const auto* b = static_cast<const UInt8*>(p);
    return (UInt64(ReadBE32(b)) << 32) | ReadBE32(b + 4);
}

inline UInt16 ReadLE16(const void* p)
{
    const auto* b = static_cast<const UInt8*>(p);
    return UInt16(b[0] | (UInt16(b[1]) << 8));
}

inline UInt32 ReadLE32(const void* p)
{
    const auto* b = static_cast<const UInt8*>(p);
    return UInt32(b[0]) | (UInt32(b[1]) << 8) | (UInt32(b[2]) << 16) | (UInt32(b[3]) << 24);
}

inline UInt64 ReadLE64(const void* p)
{
    const auto* b = static_cast<const UInt8*>(p);
    return UInt64(ReadLE32(b)) | (UInt64(ReadLE32(b + 4)) << 32);
}

inline void WriteBE16(void* p, UInt16 value)
{
    auto* b = static_cast<UInt8*>(p);
    b[0] = UInt8(value >> 8);
    b[1] = UInt8(value);
}

inline void WriteBE32(void* p, UInt32 value)
{
    auto* b = static_cast<UInt8*>(p);
    b[0] = UInt8(value >> 24);
    b[1] = UInt8(value >> 16);
    b[2] = UInt8(value >> 8);
    b[3] = UInt8(value);
}

inline void WriteBE64(void* p, UInt64 value)
{
    auto* b = static_cast<UInt8*>(p);
    WriteBE32(b, UInt32(value >> 32));
    WriteBE32(b + 4, UInt32(value));
}

inline void WriteLE16(void* p, UInt16 value)
{
    auto* b = static_cast<UInt8*>(p);
    b[0] = UInt8(value);
    b[1] = UInt8(value >> 8);
}

inline void WriteLE32(void* p, UInt32 value)
{
    auto* b = static_cast<UInt8*>(p);
    b[0] = UInt8(value);
    b[1] = UInt8(value >> 8);
    b[2] = UInt8(value >> 16);
    b[3] = UInt8(value >> 24);
}

inline void WriteLE64(void* p, UInt64 value)
{
    auto* b = static_cast<UInt8*>(p);
    WriteLE32(b, UInt32(value));
    WriteLE32(b + 4, UInt32(value >> 32));
}
