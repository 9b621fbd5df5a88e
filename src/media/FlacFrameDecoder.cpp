#include "FlacFrameDecoder.h"

#include "FlacStreamCheck.h"

#include <FLAC/export.h>
#include <FLAC/stream_decoder.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

#define QM_FLAC_STRING(x) #x
#define QM_FLAC_SONAME_OF(major) "libFLAC.so." QM_FLAC_STRING(major)
#define QM_FLAC_SONAME QM_FLAC_SONAME_OF(FLAC_API_VERSION_CURRENT)

constexpr std::size_t kStreamInfoBytes = FlacStreamCheck::kStreamInfoBytes;

// libFLAC, loaded at its first use (as the media libraries are): where it
// cannot be loaded, native FLAC is decoded by the media libraries alone.
#define QM_FLAC_CALLS(X)                                                                                    \
    X(delete) X(flush) X(get_decode_position) X(get_state) X(init_stream) X(new) X(process_single)         \
        X(process_until_end_of_metadata)

struct LibFlac {
#define QM_FLAC_FIELD(name) decltype(&FLAC__stream_decoder_##name) name##_ = nullptr;
    QM_FLAC_CALLS(QM_FLAC_FIELD)
#undef QM_FLAC_FIELD

    bool Open()
    {
        void* handle = ::dlopen(QM_FLAC_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return false;
        bool ok = true;
#define QM_FLAC_LOAD(name)                                                                                  \
    name##_ = reinterpret_cast<decltype(name##_)>(::dlsym(handle, "FLAC__stream_decoder_" #name));          \
    ok = ok && name##_ != nullptr;
        QM_FLAC_CALLS(QM_FLAC_LOAD)
#undef QM_FLAC_LOAD
        return ok;
    }
};

// The library's calls, or null where it cannot be loaded.
const LibFlac* Loaded()
{
    static LibFlac calls;
    static const bool loaded = calls.Open();
    return loaded ? &calls : nullptr;
}

// The calls of a decoder made (Open checks Loaded first).
const LibFlac& Lib()
{
    return *Loaded();
}

FLAC__StreamDecoder* Handle(void* decoder)
{
    return static_cast<FLAC__StreamDecoder*>(decoder);
}

}  // namespace

struct FlacFrameDecoder::Callbacks {
    static FLAC__StreamDecoderReadStatus Read(const FLAC__StreamDecoder*, FLAC__byte buffer[], std::size_t* bytes,
                                              void* data)
    {
        auto* self = static_cast<FlacFrameDecoder*>(data);
        if (self->left_ == 0) {
            // The frame runs past the packet.
            self->starved_ = true;
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
        const std::size_t n = std::min(*bytes, self->left_);
        std::memcpy(buffer, self->next_, n);
        self->next_ += n;
        self->left_ -= n;
        self->fed_ += n;
        *bytes = n;
        return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }

    static FLAC__StreamDecoderTellStatus Tell(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* data)
    {
        *offset = static_cast<FlacFrameDecoder*>(data)->fed_;
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }

    // `n` samples shifted up by `shift` bits (to the top of 32); false
    // when one does not fit in 32 - `shift` bits.
    static bool Lift(const int32_t* in, int32_t* out, unsigned n, unsigned shift)
    {
        unsigned i = 0;
        uint32_t lost = 0;  // bits a shift back down does not give back
#if defined(__SSE2__)
        const __m128i by = _mm_cvtsi32_si128(int(shift));
        __m128i lostLanes = _mm_setzero_si128();
        for (; i + 4 <= n; i += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            const __m128i up = _mm_sll_epi32(v, by);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), up);
            lostLanes = _mm_or_si128(lostLanes, _mm_xor_si128(_mm_sra_epi32(up, by), v));
        }
        lost = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi32(lostLanes, _mm_setzero_si128())) != 0xFFFF);
#endif
        for (; i < n; ++i) {
            const int32_t up = int32_t(uint32_t(in[i]) << shift);
            out[i] = up;
            lost |= uint32_t((up >> shift) ^ in[i]);
        }
        return lost == 0;
    }

    static FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* data)
    {
        auto* self = static_cast<FlacFrameDecoder*>(data);
        ++self->frames_;
        const FLAC__FrameHeader& h = frame->header;
        if (self->frames_ > 1 || h.channels != self->channels_ || h.bits_per_sample != self->bits_ ||
            h.sample_rate != self->rate_ || h.blocksize == 0) {
            self->unfit_ = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
        }
        const unsigned n = h.blocksize;
        const unsigned shift = 32 - self->bits_;
        for (unsigned c = 0; c < self->channels_; ++c) {
            std::vector<int32_t>& plane = self->planes_[c];
            if (plane.size() < n)
                plane.resize(n);
            if (!Lift(buffer[c], plane.data(), n, shift))
                self->unfit_ = true;
        }
        self->samples_ = n;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static void Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata*, void*) {}

    static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data)
    {
        static_cast<FlacFrameDecoder*>(data)->error_ = true;
    }
};

FlacFrameDecoder::~FlacFrameDecoder()
{
    if (decoder_)
        Lib().delete_(Handle(decoder_));
}

bool FlacFrameDecoder::Open(const uint8_t* setup, std::size_t size)
{
    if (decoder_) {
        Lib().delete_(Handle(decoder_));
        decoder_ = nullptr;
    }
    setup = FlacStreamCheck::StreamInfo(setup, size);
    if (!setup || !Loaded())
        return false;
    uint8_t header[8 + kStreamInfoBytes] = {'f', 'L', 'a', 'C', 0x80, 0, 0, uint8_t(kStreamInfoBytes)};
    std::memcpy(header + 8, setup, kStreamInfoBytes);
    uint8_t* info = header + 8;
    const FlacStreamCheck::StreamShape shape = FlacStreamCheck::Shape(info);
    rate_ = shape.rate;
    channels_ = shape.channels;
    bits_ = shape.bits;
    // (Samples of up to 32 bits, as libFLAC decodes them, which the FFmpeg
    // decoder may not.)
    if (bits_ < 4 || bits_ > 32 || rate_ == 0)
        return false;
    // Neither the length nor the signature: libFLAC would stop at the
    // stated length and check the signature itself, where the packets
    // come in any order.
    info[13] &= 0xF0;
    std::memset(info + 14, 0, 4 + 16);

    FLAC__StreamDecoder* decoder = Lib().new_();
    if (!decoder)
        return false;
    decoder_ = decoder;
    if (Lib().init_stream_(decoder, Callbacks::Read, nullptr, Callbacks::Tell, nullptr, nullptr,
                                         Callbacks::Write, Callbacks::Metadata, Callbacks::Error,
                                         this) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        Lib().delete_(decoder);
        decoder_ = nullptr;
        return false;
    }
    next_ = header;
    left_ = sizeof header;
    fed_ = 0;
    starved_ = error_ = false;
    if (!Lib().process_until_end_of_metadata_(decoder) || error_ || left_ != 0 ||
        Lib().get_state_(decoder) != FLAC__STREAM_DECODER_SEARCH_FOR_FRAME_SYNC) {
        Lib().delete_(decoder);
        decoder_ = nullptr;
        return false;
    }
    return true;
}

bool FlacFrameDecoder::Decode(const uint8_t* bytes, std::size_t size)
{
    if (!decoder_ || !bytes || size == 0)
        return false;
    FLAC__StreamDecoder* decoder = Handle(decoder_);
    next_ = bytes;
    left_ = size;
    fed_ = 0;
    starved_ = error_ = unfit_ = false;
    frames_ = 0;
    const bool ran = Lib().process_single_(decoder) != 0;
    FLAC__uint64 at = 0;
    // One frame, every byte of the packet taken and none left over.
    if (!ran || starved_ || error_ || unfit_ || frames_ != 1 || left_ != 0 ||
        Lib().get_state_(decoder) != FLAC__STREAM_DECODER_SEARCH_FOR_FRAME_SYNC ||
        !Lib().get_decode_position_(decoder, &at) || at != fed_) {
        Recover();
        return false;
    }
    return true;
}

void FlacFrameDecoder::Recover()
{
    samples_ = 0;
    if (!Lib().flush_(Handle(decoder_))) {
        Lib().delete_(Handle(decoder_));
        decoder_ = nullptr;
    }
}
