#include "sample_conversion.h"

#include "progress_channel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "sample_formats.h"

namespace movie_input {

namespace {

// swresample's conversions to signed 32-bit integers: floats scaled by 2^31
// in their own precision, rounded to nearest (ties to even) and saturated.
// A sample that is not a number (a damaged float file) reads as silence.
inline SInt32 RoundSaturated(double scaled)
{
    if (std::isnan(scaled))
        return 0;
    if (scaled >= 2147483647.0)
        return INT32_MAX;
    if (scaled <= -2147483648.0)
        return INT32_MIN;
    return SInt32(std::nearbyint(scaled));
}
inline SInt32 FromFloatF(float x)
{
    const float scaled = x * 2147483648.0f;
    if (std::isnan(scaled))
        return 0;
    if (scaled >= 2147483648.0f)
        return INT32_MAX;
    if (scaled <= -2147483648.0f)
        return INT32_MIN;
#if defined(__SSE__)
    return _mm_cvtss_si32(_mm_set_ss(scaled)); // the current (nearest-even) rounding
#else
    return SInt32(std::nearbyint(scaled));
#endif
}

// FromFloatF over `count` consecutive samples, four at a time where SSE2
// is there; with Counted, the number of samples beyond full scale.  The
// conversion saturates and rounds exactly as FromFloatF: out of range (and
// NaN) the vector conversion gives 0x80000000, which the masks turn into
// INT32_MAX above the range and 0 for NaN.
template <bool Counted>
UInt64 FloatsToWords(const float* p, SInt32* out, UInt32 count)
{
    UInt32 i = 0;
    UInt64 clipped = 0;
#if defined(__SSE2__)
    const __m128 scale = _mm_set1_ps(2147483648.0f);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 minusOne = _mm_set1_ps(-1.0f);
    __m128i over = _mm_setzero_si128();
    for (; i + 4 <= count; i += 4) {
        const __m128 x = _mm_loadu_ps(p + i);
        const __m128 scaled = _mm_mul_ps(x, scale);
        __m128i w = _mm_cvtps_epi32(scaled);
        w = _mm_xor_si128(w, _mm_castps_si128(_mm_cmpge_ps(scaled, scale)));
        w = _mm_and_si128(w, _mm_castps_si128(_mm_cmpord_ps(scaled, scaled)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), w);
        if constexpr (Counted)
            over = _mm_sub_epi32(over, _mm_castps_si128(_mm_or_ps(_mm_cmpgt_ps(x, one), _mm_cmplt_ps(x, minusOne))));
    }
    if constexpr (Counted) {
        alignas(16) UInt32 lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), over);
        clipped = UInt64(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
    }
#endif
    for (; i < count; ++i) {
        if constexpr (Counted)
            clipped += UInt64(p[i] > 1.0f) | UInt64(p[i] < -1.0f);
        out[i] = FromFloatF(p[i]);
    }
    return clipped;
}

} // namespace

void ConvertChannel(const AVFrame* frame, int channel, int channels, int first, UInt32 count, SInt32* out,
                    UInt32 countFrom, UInt32 countTo)
{
    const auto format = AVSampleFormat(frame->format);
    const bool planar = SampleFormatIsPlanar(format);
    const std::size_t stride = planar ? 1 : std::size_t(channels);
    const std::size_t start = planar ? std::size_t(first) : std::size_t(first) * std::size_t(channels) + std::size_t(channel);
    const uint8_t* data = frame->extended_data[planar ? channel : 0];
    switch (PackedSampleFormat(format)) {
    case AV_SAMPLE_FMT_U8:
        for (UInt32 i = 0; i < count; ++i)
            out[i] = SInt32((UInt32(data[start + i * stride]) - 0x80u) << 24);
        break;
    case AV_SAMPLE_FMT_S16: {
        const auto* p = reinterpret_cast<const int16_t*>(data) + start;
        if (stride == 1) {
            for (UInt32 i = 0; i < count; ++i)
                out[i] = SInt32(UInt32(SInt32(p[i])) << 16);
            break;
        }
        for (UInt32 i = 0; i < count; ++i)
            out[i] = SInt32(UInt32(SInt32(p[i * stride])) << 16);
        break;
    }
    case AV_SAMPLE_FMT_S32: {
        const auto* p = reinterpret_cast<const int32_t*>(data) + start;
        if (stride == 1) {
            std::memcpy(out, p, std::size_t(count) * sizeof(SInt32));
            break;
        }
        for (UInt32 i = 0; i < count; ++i)
            out[i] = p[i * stride];
        break;
    }
    case AV_SAMPLE_FMT_S64: {
        const auto* p = reinterpret_cast<const int64_t*>(data) + start;
        for (UInt32 i = 0; i < count; ++i)
            out[i] = SInt32(p[i * stride] >> 32);
        break;
    }
    case AV_SAMPLE_FMT_FLT: {
        // The words end at full scale: the samples beyond it are clipped,
        // and counted for the file's warning.
        const auto* p = reinterpret_cast<const float*>(data) + start;
        UInt64 clipped = 0;
        if (stride == 1) {
            const UInt32 from = std::min(countFrom, count);
            const UInt32 to = std::clamp(countTo, from, count);
            FloatsToWords<false>(p, out, from);
            clipped = FloatsToWords<true>(p + from, out + from, to - from);
            FloatsToWords<false>(p + to, out + to, count - to);
            AddClippedSamples(clipped);
            break;
        }
        for (UInt32 i = 0; i < count; ++i) {
            clipped += UInt64(i >= countFrom && i < countTo) &
                       (UInt64(p[i * stride] > 1.0f) | UInt64(p[i * stride] < -1.0f));
            out[i] = FromFloatF(p[i * stride]);
        }
        AddClippedSamples(clipped);
        break;
    }
    case AV_SAMPLE_FMT_DBL: {
        const auto* p = reinterpret_cast<const double*>(data) + start;
        UInt64 clipped = 0;
        for (UInt32 i = 0; i < count; ++i) {
            clipped += UInt64(i >= countFrom && i < countTo) &
                       (UInt64(p[i * stride] > 1.0) | UInt64(p[i * stride] < -1.0));
            out[i] = RoundSaturated(p[i * stride] * 2147483648.0);
        }
        AddClippedSamples(clipped);
        break;
    }
    default:
        std::fill(out, out + count, 0);
        break;
    }
}

} // namespace movie_input
