#include "VorbisBlocks.h"

#include <cstring>

bool VorbisBlocks::Open(const uint8_t* extradata, int size)
{
    if (!extradata || size < 3 || extradata[0] != 2)
        return false;
    std::size_t at = 1;
    std::size_t lengths[2] = {};
    for (std::size_t& length : lengths) {
        uint8_t lace = 255;
        while (lace == 255) {
            if (at >= std::size_t(size))
                return false;
            lace = extradata[at++];
            length += lace;
        }
    }
    if (lengths[0] + lengths[1] > std::size_t(size) - at)
        return false;
    const uint8_t* id = extradata + at;
    const uint8_t* setup = id + lengths[0] + lengths[1];
    const std::size_t setupSize = std::size_t(size) - at - lengths[0] - lengths[1];
    if (lengths[0] < 30 || std::memcmp(id, "\x01vorbis", 7) != 0 || setupSize < 16 ||
        std::memcmp(setup, "\x05vorbis", 7) != 0)
        return false;
    blocksize_[0] = 1 << (id[28] & 0x0F);
    blocksize_[1] = 1 << (id[28] >> 4);
    // The modes close the setup header, before its framing bit: read
    // backwards (the fields before them are of sizes only a full parse
    // tells), each as its mapping (below 64), two zero types and its block
    // flag; the mode count, in the 6 bits before the first, says where they
    // begin.
    int64_t bit = int64_t(setupSize) * 8 - 1;
    const auto back = [&](int bits) {
        UInt32 value = 0;
        for (; bits > 0; --bits, --bit)
            value = value << 1 | ((setup[bit >> 3] >> (bit & 7)) & 1);
        return value;
    };
    bool framed = false;
    while (bit >= 97 && !framed)
        framed = back(1) != 0;
    const int64_t modesEnd = bit;
    int count = 0;
    int modes = 0;
    while (bit + 1 >= 97 && count < 64) {
        if (back(8) > 63 || back(16) != 0 || back(16) != 0)
            break;
        back(1);
        ++count;
        const int64_t mark = bit;
        if (int(back(6)) + 1 == count)
            modes = count;
        bit = mark;
    }
    // More than two modes: most likely a false match.
    if (!framed || modes == 0 || modes > 2)
        return false;
    blockflags_.assign(std::size_t(modes), 0);
    bit = modesEnd;
    for (int i = modes - 1; i >= 0; --i) {
        back(40);
        blockflags_[std::size_t(i)] = uint8_t(back(1));
    }
    modeBits_ = modes > 1 ? 1 : 0;
    previous_ = -1;
    return true;
}

int64_t VorbisBlocks::Next(const uint8_t* data, int size)
{
    if (blockflags_.empty() || !data || size < 1 || (data[0] & 1))
        return -1;
    const std::size_t mode = modeBits_ > 0 ? (data[0] >> 1) & ((1u << modeBits_) - 1) : 0;
    if (mode >= blockflags_.size())
        return -1;
    const int block = blocksize_[blockflags_[mode]];
    const int64_t frames = previous_ < 0 ? 0 : (previous_ + block) / 4;
    previous_ = block;
    return frames;
}
