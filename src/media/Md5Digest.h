// MD5 (RFC 1321) of a byte stream fed in pieces of any size: the check
// of a FLAC stream's decoded sound against its STREAMINFO signature, which
// runs over every sample of the stream, with each step ordered so that as
// little as possible of it waits on the step before.
#pragma once

#include <cstddef>
#include <cstdint>

class Md5Digest {
public:
    Md5Digest() { Reset(); }
    void Reset();
    void Add(const uint8_t* bytes, std::size_t size);
    // The digest of everything added since the last Reset (the sum may be
    // added to no further until then).
    void Final(uint8_t digest[16]);

private:
    void Blocks(const uint8_t* bytes, std::size_t count);

    uint32_t state_[4];
    uint64_t length_ = 0;      // bytes added
    uint8_t pending_[64];      // the bytes of a block not yet whole
    std::size_t held_ = 0;
};
