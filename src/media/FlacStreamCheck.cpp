#include "FlacStreamCheck.h"

#include "ByteChecksum.h"
#include "PositionedFile.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "sample_formats.h"

#include "media_calls.h"

const int FlacStreamCheck::kDecoderChecks = AV_EF_CRCCHECK | AV_EF_EXPLODE;

namespace {


uint8_t Crc8(const uint8_t* p, std::size_t n)
{
    return ByteChecksum::Crc8(p, n);
}

uint16_t Crc16(const uint8_t* p, std::size_t n)
{
    return ByteChecksum::Crc16(p, n);
}

// Reads bits, most significant first; `short_` once a read went past the
// bytes.
class BitReader {
public:
    BitReader(const uint8_t* p, std::size_t n)
        : p_(p)
        , bits_(uint64_t(n) * 8)
    {
    }
    uint64_t Read(unsigned count)
    {
        uint64_t value = 0;
        for (unsigned i = 0; i < count; ++i)
            value = value << 1 | Bit();
        return value;
    }
    void Skip(uint64_t count)
    {
        at_ += count;
        if (at_ > bits_)
            short_ = true;
    }
    // Zeros up to the next one, which is taken.
    uint64_t Unary()
    {
        uint64_t zeros = 0;
        while (!short_ && Bit() == 0)
            ++zeros;
        return zeros;
    }
    unsigned ToByteEnd() const { return unsigned((8 - at_ % 8) % 8); }
    bool Short() const { return short_; }
    std::size_t Byte() const { return std::size_t(at_ / 8); }

private:
    unsigned Bit()
    {
        if (at_ >= bits_) {
            short_ = true;
            ++at_;
            return 1;  // ends any unary run
        }
        const unsigned bit = (p_[at_ / 8] >> (7 - at_ % 8)) & 1;
        ++at_;
        return bit;
    }
    const uint8_t* p_;
    uint64_t bits_;
    uint64_t at_ = 0;
    bool short_ = false;
};

enum class Walk { Ok, Short, Broken };

int64_t Signed(uint64_t value, unsigned bits)
{
    return bits == 0 ? 0 : int64_t(value << (64 - bits)) >> (64 - bits);
}

// The residual of a subframe of `blockSize` samples after `order` warm-up
// samples, into samples[order...]; *filled gets the end of those read
// (all of them unless the bytes end first).
Walk ReadResidual(BitReader& in, UInt32 blockSize, UInt32 order, std::vector<int64_t>& samples, std::size_t* filled)
{
    *filled = order;
    const unsigned method = unsigned(in.Read(2));
    const unsigned partitionOrder = unsigned(in.Read(4));
    if (in.Short())
        return Walk::Short;
    const UInt32 perPartition = blockSize >> partitionOrder;
    if (method > 1 || (perPartition << partitionOrder) != blockSize || perPartition < order)
        return Walk::Broken;
    const unsigned paramBits = method == 0 ? 4 : 5;
    const uint64_t escape = method == 0 ? 15 : 31;
    std::size_t at = order;
    for (UInt32 p = 0; p < (1u << partitionOrder); ++p) {
        const UInt32 count = p == 0 ? perPartition - order : perPartition;
        const uint64_t param = in.Read(paramBits);
        if (param == escape) {
            const unsigned raw = unsigned(in.Read(5));
            for (UInt32 i = 0; i < count; ++i) {
                const int64_t value = Signed(in.Read(raw), raw);
                if (in.Short())
                    return Walk::Short;
                samples[at++] = value;
                *filled = at;
            }
        } else {
            for (UInt32 i = 0; i < count; ++i) {
                const uint64_t high = in.Unary();
                // No residual of a sample of 32 bits or fewer goes beyond 2^36.
                if (high > (uint64_t(1) << 36) >> param)
                    return in.Short() ? Walk::Short : Walk::Broken;
                const uint64_t folded = high << param | in.Read(unsigned(param));
                if (in.Short())
                    return Walk::Short;
                samples[at++] = int64_t(folded >> 1) ^ -int64_t(folded & 1);
                *filled = at;
            }
        }
        if (in.Short())
            return Walk::Short;
    }
    return Walk::Ok;
}

// One subframe of samples of `bits` bits, decoded (before the channels'
// decorrelation); Broken when a decoded sample does not fit those bits,
// as in no stream an encoder writes.
Walk ReadSubframe(BitReader& in, UInt32 blockSize, UInt32 bits, std::vector<int64_t>& samples)
{
    const uint64_t padding = in.Read(1);
    const unsigned type = unsigned(in.Read(6));
    const bool hasWasted = in.Read(1) != 0;
    if (in.Short())
        return Walk::Short;
    if (padding != 0)
        return Walk::Broken;
    if (hasWasted) {
        const uint64_t wasted = in.Unary() + 1;
        if (in.Short())
            return Walk::Short;
        if (wasted >= bits)
            return Walk::Broken;
        bits -= UInt32(wasted);
    }
    if (type == 0) {
        in.Skip(bits);
        return in.Short() ? Walk::Short : Walk::Ok;
    }
    if (type == 1) {
        in.Skip(uint64_t(bits) * blockSize);
        return in.Short() ? Walk::Short : Walk::Ok;
    }
    const bool fixed = type >= 8 && type <= 12;
    if (!fixed && type < 32)
        return Walk::Broken;
    const UInt32 order = fixed ? type - 8 : type - 31;
    if (order > blockSize)
        return Walk::Broken;
    samples.assign(blockSize, 0);
    for (UInt32 i = 0; i < order; ++i)
        samples[i] = Signed(in.Read(bits), bits);
    int64_t coefficients[32] = {};
    int shift = 0;
    if (fixed) {
        static const int64_t kFixed[5][4] = {{0}, {1}, {2, -1}, {3, -3, 1}, {4, -6, 4, -1}};
        std::copy(kFixed[order], kFixed[order] + 4, coefficients);
    } else {
        const unsigned precision = unsigned(in.Read(4)) + 1;
        shift = int(Signed(in.Read(5), 5));
        if (in.Short())
            return Walk::Short;
        if (precision == 16 || shift < 0)
            return Walk::Broken;
        for (UInt32 j = 0; j < order; ++j)
            coefficients[j] = Signed(in.Read(precision), precision);
    }
    if (in.Short())
        return Walk::Short;
    // The samples that were read (all, or those before the bytes end) must
    // fit, even where the rest runs past the bytes.
    std::size_t filled = order;
    const Walk residual = ReadResidual(in, blockSize, order, samples, &filled);
    if (residual == Walk::Broken)
        return residual;
    const int64_t top = int64_t(1) << (bits - 1);
    for (std::size_t i = order; i < filled; ++i) {
        int64_t sum = 0;
        for (UInt32 j = 0; j < order; ++j)
            sum += coefficients[j] * samples[i - j - 1];
        samples[i] += sum >> shift;
        if (samples[i] < -top || samples[i] >= top)
            return Walk::Broken;
    }
    return residual;
}

// Decoded samples to put into the signature's bytes: `channels` planes of
// them (or one plane, interleaved) from sample `first`, each shifted down
// by `shift` bits to the stream's bit depth.
struct Samples {
    const uint8_t* const* planes;
    bool planar;
    std::size_t channels;
    std::size_t first;
    unsigned shift;
};

// `count` frames of `in`, each sample as `Width` bytes little-endian, the
// channels interleaved.
template <std::size_t Width>
void Put(uint8_t* out, uint32_t value)
{
    for (std::size_t b = 0; b < Width; ++b)
        out[b] = uint8_t(value >> (8 * b));
}

// Two planes of 32-bit samples, each shifted down to 9-16 bits, as 16-bit
// frames: four at a time.  The count packed.
std::size_t PackStereo16(const int32_t* left, const int32_t* right, unsigned shift, std::size_t count, uint8_t* out)
{
    std::size_t i = 0;
#if defined(__SSE2__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const __m128i by = _mm_cvtsi32_si128(int(shift));
    for (; i + 4 <= count; i += 4) {
        const __m128i l = _mm_sra_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(left + i)), by);
        const __m128i r = _mm_sra_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(right + i)), by);
        const __m128i both = _mm_packs_epi32(l, r);  // fits: no saturation
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_unpacklo_epi16(both, _mm_srli_si128(both, 8)));
    }
#endif
    return i;
}

template <typename T, std::size_t Width>
void Pack(const Samples& in, std::size_t count, uint8_t* out)
{
    const std::size_t channels = in.channels;
    if (in.planar && channels == 2) {
        const T* left = reinterpret_cast<const T*>(in.planes[0]) + in.first;
        const T* right = reinterpret_cast<const T*>(in.planes[1]) + in.first;
        std::size_t i = 0;
        if constexpr (sizeof(T) == 4 && Width == 2) {
            i = PackStereo16(left, right, in.shift, count, out);
            out += i * 2 * Width;
        }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        if constexpr (Width == 3) {
            // Each sample as four bytes, the next one written over the
            // fourth (the buffer holds a byte to spare).
            for (; i < count; ++i, out += 6) {
                const uint32_t l = uint32_t(int32_t(left[i]) >> in.shift);
                const uint32_t r = uint32_t(int32_t(right[i]) >> in.shift);
                std::memcpy(out, &l, 4);
                std::memcpy(out + 3, &r, 4);
            }
        }
#endif
        for (; i < count; ++i, out += 2 * Width) {
            Put<Width>(out, uint32_t(int32_t(left[i]) >> in.shift));
            Put<Width>(out + Width, uint32_t(int32_t(right[i]) >> in.shift));
        }
        return;
    }
    for (std::size_t c = 0; c < channels; ++c) {
        const T* p = reinterpret_cast<const T*>(in.planes[in.planar ? c : 0]);
        const std::size_t stride = in.planar ? 1 : channels;
        p += in.planar ? in.first : in.first * channels + c;
        uint8_t* o = out + c * Width;
        const std::size_t step = channels * Width;
        for (std::size_t i = 0; i < count; ++i, o += step) {
            Put<Width>(o, uint32_t(int32_t(p[i * stride]) >> in.shift));
        }
    }
}

}  // namespace

const uint8_t* FlacStreamCheck::StreamInfo(const uint8_t* setup, std::size_t size)
{
    if (!setup)
        return nullptr;
    if (size >= 8 + kStreamInfoBytes && std::memcmp(setup, "fLaC", 4) == 0) {
        setup += 8;
        size -= 8;
    }
    return size < kStreamInfoBytes ? nullptr : setup;
}

FlacStreamCheck::StreamShape FlacStreamCheck::Shape(const uint8_t* info)
{
    // Block size bounds, frame size bounds, then rate (20 bits), channels
    // less one (3), bits less one (5) and the frames (36).
    StreamShape shape;
    shape.minBlock = UInt32(info[0]) << 8 | info[1];
    shape.maxBlock = UInt32(info[2]) << 8 | info[3];
    shape.rate = UInt32(info[10]) << 12 | UInt32(info[11]) << 4 | info[12] >> 4;
    shape.channels = ((info[12] >> 1) & 7) + 1;
    shape.bits = (UInt32(info[12] & 1) << 4 | (info[13] >> 4)) + 1;
    shape.frames = UInt64(info[13] & 0x0F) << 32 | UInt64(info[14]) << 24 | UInt64(info[15]) << 16 |
                   UInt64(info[16]) << 8 | info[17];
    return shape;
}

bool FlacStreamCheck::Open(const uint8_t* setup, std::size_t size, int64_t fileBytes)
{
    open_ = false;
    fileBytes_ = fileBytes;
    setup = StreamInfo(setup, size);
    if (!setup)
        return false;
    const StreamShape shape = Shape(setup);
    channels_ = shape.channels;
    bits_ = shape.bits;
    statedFrames_ = shape.frames;
    std::memcpy(signature_, setup + 18, 16);
    hasSignature_ = std::any_of(signature_, signature_ + 16, [](uint8_t b) { return b != 0; });
    next_ = 0;
    valid_ = false;
    mismatch_ = false;
    open_ = true;
    return true;
}

void FlacStreamCheck::TakeDecoded(UInt64 at, const AVFrame* frame, int first, int count)
{
    Take(at, UInt64(std::max(count, 0)), frame, first);
}

void FlacStreamCheck::TakeSilence(UInt64 at, UInt64 count)
{
    Take(at, count, nullptr, 0);
}

void FlacStreamCheck::Take(UInt64 at, UInt64 count, const AVFrame* frame, int first)
{
    if (!open_ || !hasSignature_ || statedFrames_ == 0 || count == 0)
        return;
    if (at == 0) {
        hash_.Reset();
        next_ = 0;
        valid_ = true;
    }
    if (!valid_ || at != next_ || next_ >= statedFrames_)
        return;
    count = std::min(count, statedFrames_ - next_);
    const std::size_t width = (bits_ + 7) / 8;
    const std::size_t size = std::size_t(count) * channels_ * width;
    if (frame)
        bytes_.resize(size + 1);  // a byte to spare (Pack)
    else
        bytes_.assign(size, 0);
    if (frame) {
        if (frame->ch_layout.nb_channels != int(channels_)) {
            valid_ = false;
            return;
        }
        const auto format = AVSampleFormat(frame->format);
        const bool planar = SampleFormatIsPlanar(format);
        const bool wide = PackedSampleFormat(format) == AV_SAMPLE_FMT_S32;
        if (!wide && PackedSampleFormat(format) != AV_SAMPLE_FMT_S16) {
            valid_ = false;
            return;
        }
        // The decoder keeps the samples at the top of 16 or 32 bits.
        const unsigned shift = (wide ? 32 : 16) - std::min<unsigned>(bits_, wide ? 32 : 16);
        const Samples in{frame->extended_data, planar, channels_, std::size_t(first), shift};
        const std::size_t n = std::size_t(count);
        uint8_t* out = bytes_.data();
        switch (width * (wide ? 1 : 10)) {
        case 10: Pack<int16_t, 1>(in, n, out); break;
        case 20: Pack<int16_t, 2>(in, n, out); break;
        case 30: Pack<int16_t, 3>(in, n, out); break;
        case 40: Pack<int16_t, 4>(in, n, out); break;
        case 1: Pack<int32_t, 1>(in, n, out); break;
        case 2: Pack<int32_t, 2>(in, n, out); break;
        case 3: Pack<int32_t, 3>(in, n, out); break;
        default: Pack<int32_t, 4>(in, n, out); break;
        }
    }
    hash_.Add(bytes_.data(), size);
    next_ += count;
    if (next_ == statedFrames_) {
        uint8_t digest[16];
        hash_.Final(digest);
        mismatch_ = std::memcmp(digest, signature_, 16) != 0;
    }
}

FlacStreamCheck::HeaderRead FlacStreamCheck::ReadFrameHeader(const uint8_t* bytes, std::size_t size, UInt32 streamBits,
                                                             FrameHeader* h)
{
    // Sync and blocking strategy, block size and rate codes, channels,
    // sample size, the frame or sample number (UTF-8 coded), the sizes the
    // codes leave out, the CRC-8.
    if (size < 4)
        return size == 0 || (bytes[0] == 0xFF && (size == 1 || (bytes[1] & 0xFE) == 0xF8)) ? HeaderRead::Short
                                                                                           : HeaderRead::Broken;
    if (bytes[0] != 0xFF || (bytes[1] & 0xFE) != 0xF8)
        return HeaderRead::Broken;
    const unsigned sizeCode = bytes[2] >> 4;
    const unsigned rateCode = bytes[2] & 15;
    const unsigned assignment = bytes[3] >> 4;
    const unsigned bitsCode = (bytes[3] >> 1) & 7;
    if (sizeCode == 0 || rateCode == 15 || assignment > 10 || bitsCode == 3 || (bytes[3] & 1))
        return HeaderRead::Broken;
    std::size_t at = 4;
    if (at >= size)
        return HeaderRead::Short;
    unsigned more = 0;
    const uint8_t lead = bytes[at];
    UInt64 number = lead;
    if (lead >= 0x80) {
        if (lead >= 0xC0 && lead < 0xE0)
            more = 1;
        else if (lead >= 0xE0 && lead < 0xF0)
            more = 2;
        else if (lead >= 0xF0 && lead < 0xF8)
            more = 3;
        else if (lead >= 0xF8 && lead < 0xFC)
            more = 4;
        else if (lead >= 0xFC && lead < 0xFE)
            more = 5;
        else if (lead == 0xFE)
            more = 6;
        else
            return HeaderRead::Broken;
        number = lead & (0x3Fu >> more);
    }
    if (at + 1 + more > size)
        return HeaderRead::Short;
    for (unsigned k = 1; k <= more; ++k)
        number = number << 6 | (bytes[at + k] & 0x3F);
    at += 1 + more;
    const std::size_t sizeAt = at;
    at += sizeCode == 6 ? 1 : sizeCode == 7 ? 2 : 0;
    at += rateCode == 12 ? 1 : (rateCode == 13 || rateCode == 14) ? 2 : 0;
    if (at >= size)
        return HeaderRead::Short;
    if (Crc8(bytes, at) != bytes[at])
        return HeaderRead::Broken;
    UInt32 blockSize;
    if (sizeCode == 1)
        blockSize = 192;
    else if (sizeCode <= 5)
        blockSize = 576u << (sizeCode - 2);
    else if (sizeCode == 6)
        blockSize = UInt32(bytes[sizeAt]) + 1;
    else if (sizeCode == 7)
        blockSize = (UInt32(bytes[sizeAt]) << 8 | bytes[sizeAt + 1]) + 1;
    else
        blockSize = 256u << (sizeCode - 8);
    static const UInt32 kBits[8] = {0, 8, 12, 0, 16, 20, 24, 32};
    const UInt32 bits = bitsCode == 0 ? streamBits : kBits[bitsCode];
    if (bits == 0)
        return HeaderRead::Broken;
    h->variable = (bytes[1] & 1) != 0;
    h->number = number;
    h->blockSize = blockSize;
    h->assignment = assignment;
    h->channels = assignment <= 7 ? assignment + 1 : 2;
    h->bits = bits;
    h->bytes = at + 1;
    return HeaderRead::Ok;
}

FlacStreamCheck::FrameEnd FlacStreamCheck::WalkFrame(const uint8_t* bytes, std::size_t size, std::size_t* end) const
{
    FrameHeader h;
    switch (ReadFrameHeader(bytes, size, bits_, &h)) {
    case HeaderRead::Short:
        return FrameEnd::RunsPast;
    case HeaderRead::Broken:
        return FrameEnd::Broken;
    case HeaderRead::Ok:
        break;
    }
    const std::size_t at = h.bytes - 1;
    const UInt32 blockSize = h.blockSize;
    const UInt32 bits = h.bits;
    const UInt32 channels = h.channels;
    const UInt32 assignment = h.assignment;

    BitReader in(bytes + at + 1, size - at - 1);
    std::vector<int64_t> samples;
    for (UInt32 c = 0; c < channels; ++c) {
        // A side channel carries one bit more.
        const bool side = (assignment == 8 && c == 1) || (assignment == 9 && c == 0) || (assignment == 10 && c == 1);
        switch (ReadSubframe(in, blockSize, bits + (side ? 1 : 0), samples)) {
        case Walk::Short:
            return FrameEnd::RunsPast;
        case Walk::Broken:
            return FrameEnd::Broken;
        case Walk::Ok:
            break;
        }
    }
    // Zero bits to the byte's end, then the CRC-16.
    const uint64_t padding = in.Read(in.ToByteEnd());
    in.Skip(16);
    if (in.Short())
        return FrameEnd::RunsPast;
    if (padding != 0)
        return FrameEnd::Broken;
    *end = at + 1 + in.Byte();
    return Crc16(bytes, *end) == 0 ? FrameEnd::Whole : FrameEnd::Broken;
}

bool FlacStreamCheck::IsOneFrame(const uint8_t* bytes, std::size_t size)
{
    // A frame's CRC-16 covers all of it, the CRC itself included.
    return size >= 6 && bytes[0] == 0xFF && (bytes[1] & 0xFE) == 0xF8 && Crc16(bytes, size) == 0;
}

bool FlacStreamCheck::EndsCleanly(const std::string& path, int64_t lastFrame) const
{
    if (!open_ || lastFrame < 0)
        return true;
    PositionedFile in(path);
    if (!in.IsOpen())
        return true;
    const int64_t fileBytes = in.Size();
    // No frame is longer than this (every sample stored verbatim).
    const int64_t most = 16 + int64_t(channels_) * (bits_ + 1) * 65535 / 8 + 2;
    if (fileBytes <= lastFrame || fileBytes - lastFrame > 4 * most)
        return true;
    std::vector<uint8_t> bytes(std::size_t(fileBytes - lastFrame));
    if (in.Read(lastFrame, bytes.data(), bytes.size()) != bytes.size())
        return true;
    std::size_t at = 0;
    for (;;) {
        std::size_t end = 0;
        switch (WalkFrame(bytes.data() + at, bytes.size() - at, &end)) {
        case FrameEnd::RunsPast: {
            // Broken off by the file's end, unless the end is a stretch of
            // zero bytes (space a write never filled): no encoder writes
            // hundreds of zero bits in a row.
            const std::size_t zeros = std::size_t(
                std::find_if(bytes.rbegin(), bytes.rend(), [](uint8_t b) { return b != 0; }) - bytes.rbegin());
            return zeros < 64;
        }
        case FrameEnd::Broken:
            return false;
        case FrameEnd::Whole:
            break;
        }
        at += end;
        const std::size_t rest = bytes.size() - at;
        if (rest == 0 || (rest == 128 && std::memcmp(bytes.data() + at, "TAG", 3) == 0))
            return true;
    }
}
