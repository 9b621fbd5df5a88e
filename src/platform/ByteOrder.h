// Big-endian fields in byte buffers (sidecars, resource forks, Finder info).
#pragma once

#include "MacTypes.h"

#include <QByteArray>
#include <QtEndian>

inline UInt16 ReadBE16(const void* p)
{
    return qFromBigEndian<UInt16>(p);
}

inline UInt32 ReadBE32(const void* p)
{
    return qFromBigEndian<UInt32>(p);
}

// Overwrites the field at `at`; the caller has sized the buffer.
inline void PutBE16(QByteArray& out, qsizetype at, UInt16 value)
{
    qToBigEndian<UInt16>(value, out.data() + at);
}

inline void PutBE32(QByteArray& out, qsizetype at, UInt32 value)
{
    qToBigEndian<UInt32>(value, out.data() + at);
}

inline void AppendBE16(QByteArray& out, UInt16 value)
{
    char b[2];
    qToBigEndian<UInt16>(value, b);
    out.append(b, 2);
}

inline void AppendBE32(QByteArray& out, UInt32 value)
{
    char b[4];
    qToBigEndian<UInt32>(value, b);
    out.append(b, 4);
}
