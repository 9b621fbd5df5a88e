// Fixed-width numbers in byte buffers, most significant byte first (BE) or
// last (LE): 16-, 32- and 64-bit reads from memory and writes into it
// (ByteFields.h), and the same fields set in or appended to a QByteArray
// (sidecars, resource forks, Finder information).  Every format header,
// chunk and sidecar field goes through these.
#pragma once

#include "ByteFields.h"
#include "MacTypes.h"

#include <QByteArray>

// Overwrites the field at `at`; the caller has sized the buffer.
inline void PutBE16(QByteArray& out, qsizetype at, UInt16 value)
{
    WriteBE16(out.data() + at, value);
}

inline void PutBE32(QByteArray& out, qsizetype at, UInt32 value)
{
    WriteBE32(out.data() + at, value);
}

inline void PutLE16(QByteArray& out, qsizetype at, UInt16 value)
{
    WriteLE16(out.data() + at, value);
}

inline void PutLE32(QByteArray& out, qsizetype at, UInt32 value)
{
    WriteLE32(out.data() + at, value);
}

inline void AppendBE16(QByteArray& out, UInt16 value)
{
    char b[2];
    WriteBE16(b, value);
    out.append(b, 2);
}

inline void AppendBE32(QByteArray& out, UInt32 value)
{
    char b[4];
    WriteBE32(b, value);
    out.append(b, 4);
}

inline void AppendBE64(QByteArray& out, UInt64 value)
{
    char b[8];
    WriteBE64(b, value);
    out.append(b, 8);
}
