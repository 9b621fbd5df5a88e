// Small stream helpers for the header sniffers of type detection
// (RegisterHeaderSniffer): magic comparison, exact reads and checked seeks.
#pragma once

#include "MacTypes.h"

#include <cstddef>
#include <cstring>
#include <istream>

namespace header_sniffing {

// Whether the four bytes at `offset` of `header` are `text`.
inline bool HeaderIs(const UInt8* header, std::size_t offset, const char (&text)[5])
{
    return std::memcmp(header + offset, text, 4) == 0;
}

// Reads exactly `count` bytes at the stream's position; false on a short read.
inline bool ReadExactly(std::istream& in, void* buffer, std::size_t count)
{
    in.read(static_cast<char*>(buffer), std::streamsize(count));
    return !in.bad() && std::size_t(in.gcount()) == count;
}

inline bool SeekTo(std::istream& in, SInt64 position)
{
    in.clear();
    in.seekg(std::streamoff(position), std::ios::beg);
    return !in.fail();
}

inline bool SeekBy(std::istream& in, SInt64 offset)
{
    in.clear();
    in.seekg(std::streamoff(offset), std::ios::cur);
    return !in.fail();
}

}  // namespace header_sniffing
