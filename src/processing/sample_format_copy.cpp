#include "sample_format_copy.h"

#include "CSoundFile.h"
#include "DitherTable.h"
#include "carry_records.h"
#include "ZuFiles.h"
#include "progress_channel.h"
#include "region_walk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QM_X86_COPY 1
#endif

namespace {

// ------------------------------------------------------------ sample kinds
// 1, 2, 3, 4 bytes per sample; 5: 32-bit words holding a 24-bit sample in
// their low three bytes.  The block is big-endian.
enum SampleKind { kKind8 = 1, kKind16 = 2, kKind24 = 3, kKind32 = 4, kKind24In32 = 5 };

template <int K>
constexpr std::size_t KindBytes()
{
    return K == kKind24In32 ? 4 : std::size_t(K);
}

int KindOf(const CSoundFile* file)
{
    switch (file->GetNumBits()) {
    case 8:
        return kKind8;
    case 16:
        return kKind16;
    case 24:
        return kKind24;
    case 32:
        return file->GetState() == kSampleFormat24In32 ? kKind24In32 : kKind32;
    default:
        return 0;
    }
}

// A sample as a left-justified signed 32-bit value (shifts on unsigned
// values: the bit patterns are what matter).
template <int K>
inline SInt32 Justified(const UInt8* p)
{
    if constexpr (K == kKind8)
        return SInt32(UInt32(p[0]) << 24);
    else if constexpr (K == kKind16)
        return SInt32((UInt32(p[0]) << 24) | (UInt32(p[1]) << 16));
    else if constexpr (K == kKind24)
        return SInt32(UInt24ToUInt32(p));
    else if constexpr (K == kKind32)
        return SInt32((UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]));
    else
        return SInt32((UInt32(p[1]) << 24) | (UInt32(p[2]) << 16) | (UInt32(p[3]) << 8));
}

// The exact average of two samples, left-justified.  8 and 16 bits: the sum
// at half the scale; wider words: the two halves added.
template <int K>
inline SInt32 Mixed(const UInt8* left, const UInt8* right)
{
    if constexpr (K == kKind8) {
        const SInt32 sum = SInt32(SInt8(left[0])) + SInt32(SInt8(right[0]));
        return SInt32(UInt32(sum) << 23);
    } else if constexpr (K == kKind16) {
        const SInt32 l = SInt16(UInt16((UInt32(left[0]) << 8) | left[1]));
        const SInt32 r = SInt16(UInt16((UInt32(right[0]) << 8) | right[1]));
        return SInt32(UInt32(l + r) << 15);
    } else {
        return (Justified<K>(left) >> 1) + (Justified<K>(right) >> 1);
    }
}

// ------------------------------------------------------------ block loads
// Input block -> work buffer.  frames: frames of the block; channels: the
// input's channel count; channel: the channel taken by the pick layout.
using LoadFn = void (*)(const UInt8* in, SInt32* work, UInt32 frames, UInt16 channels, UInt16 channel);

#if QM_X86_COPY
bool HasSsse3()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}

// 24-bit samples, four at a time by one byte shuffle (SSSE3): each value's
// three bytes to the top of its word, the low byte zero.  Each 16-byte load
// reaches 4 bytes past its 12; the loop stops while two more samples (6
// bytes) follow, so nothing past the block is read.  The samples done.
__attribute__((target("ssse3"))) std::size_t Load24Shuffle(const UInt8* in, SInt32* work, std::size_t samples)
{
    const __m128i order = _mm_setr_epi8(-1, 2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9);
    std::size_t i = 0;
    for (; i + 6 <= samples; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(work + i), _mm_shuffle_epi8(v, order));
    }
    return i;
}
#endif

template <int K>
void LoadInterleaved(const UInt8* in, SInt32* work, UInt32 frames, UInt16 channels, UInt16)
{
    constexpr std::size_t step = KindBytes<K>();
    const std::size_t samples = std::size_t(frames) * channels;
    std::size_t i = 0;
#if QM_X86_COPY
    if constexpr (K == kKind24) {
        if (HasSsse3())
            i = Load24Shuffle(in, work, samples);
    }
#endif
#if QM_X86_COPY && defined(__SSE2__)
    if constexpr (K == kKind16) {
        // Eight samples at a time: bytes swapped into place, then each word
        // moved to the top of its 32-bit value.
        const __m128i zero = _mm_setzero_si128();
        for (; i + 8 <= samples; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
            const __m128i words = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(work + i), _mm_unpacklo_epi16(zero, words));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(work + i + 4), _mm_unpackhi_epi16(zero, words));
        }
    }
#endif
    for (; i < samples; ++i)
        work[i] = Justified<K>(in + i * step);
}

template <int K>
void LoadMix(const UInt8* in, SInt32* work, UInt32 frames, UInt16, UInt16)
{
    constexpr std::size_t step = KindBytes<K>();
    for (UInt32 j = 0; j < frames; ++j) {
        const UInt8* frame = in + std::size_t(j) * 2 * step;
        work[j] = Mixed<K>(frame, frame + step);
    }
}

template <int K>
void LoadPick(const UInt8* in, SInt32* work, UInt32 frames, UInt16, UInt16 channel)
{
    constexpr std::size_t step = KindBytes<K>();
    const UInt8* p = in + std::size_t(channel) * step;
    for (UInt32 j = 0; j < frames; ++j, p += 2 * step)
        work[j] = Justified<K>(p);
}

enum class Layout { Keep, MonoToStereo, MixToMono, OneChannel };

LoadFn PickLoad(Layout layout, int kind)
{
#define QM_LOADERS(NAME) \
    { &NAME<kKind8>, &NAME<kKind16>, &NAME<kKind24>, &NAME<kKind32>, &NAME<kKind24In32> }
    static constexpr LoadFn interleaved[] = QM_LOADERS(LoadInterleaved);
    static constexpr LoadFn mix[] = QM_LOADERS(LoadMix);
    static constexpr LoadFn pick[] = QM_LOADERS(LoadPick);
#undef QM_LOADERS
    if (kind < kKind8 || kind > kKind24In32)
        return nullptr;
    switch (layout) {
    case Layout::Keep:
    case Layout::MonoToStereo:
        return interleaved[kind - 1];
    case Layout::MixToMono:
        return mix[kind - 1];
    case Layout::OneChannel:
        return pick[kind - 1];
    }
    return nullptr;
}

// ----------------------------------------------------------- block stores
// The running draw from the dither table, held in locals for one block.
struct NoiseState {
    const UInt16* table = nullptr;
    UInt32 length = 0;
    UInt32 index = 0;
};

template <bool FullTable>
inline UInt32 DrawNoise(NoiseState& noise)
{
    // The index moves before it is used; a full table wraps with the 16 bits.
    if constexpr (FullTable)
        noise.index = UInt16(noise.index + 1);
    else
        noise.index = UInt32(UInt16(noise.index + 1)) % noise.length;
    return noise.table[noise.index];
}

// Rounding added before truncation: the keep-layout copy rounds halves up,
// the other layouts round them down.
template <bool HalfUp>
struct Rounding {
    static constexpr SInt32 r8 = HalfUp ? 0x800000 : 0x7FFFFF;
    static constexpr SInt32 r16 = HalfUp ? 0x8000 : 0x7FFF;
};

// The output word for one intermediate value.  The guards keep each sum
// below 2^31: values in the top step of the target range are truncated.
template <int OutK, bool Dither, bool FullTable, bool HalfUp>
inline SInt32 Quantize(SInt32 s, NoiseState& noise)
{
    if constexpr (OutK == kKind8) {
        if constexpr (Dither)
            return s <= 0x7EFFFFFF ? (s + SInt32(DrawNoise<FullTable>(noise) << 16)) >> 24 : s >> 24;
        else
            return s > 0x7F7FFFFE ? s >> 24 : (s + Rounding<HalfUp>::r8) >> 24;
    } else if constexpr (OutK == kKind16) {
        if constexpr (Dither)
            return s <= 0x7FFEFFFF ? (s + SInt32(DrawNoise<FullTable>(noise) << 8)) >> 16 : s >> 16;
        else
            return s > 0x7FFEFFFF ? s >> 16 : (s + Rounding<HalfUp>::r16) >> 16;
    } else if constexpr (OutK == kKind24In32) {
        return s >> 8;
    } else {
        return s;  // 24 bits keep the top three bytes, 32 bits the word
    }
}

template <int OutK>
inline void Put(UInt8* p, SInt32 value)
{
    const UInt32 v = UInt32(value);
    if constexpr (OutK == kKind8) {
        p[0] = UInt8(v);
    } else if constexpr (OutK == kKind16) {
        p[0] = UInt8(v >> 8);
        p[1] = UInt8(v);
    } else if constexpr (OutK == kKind24) {
        UInt32ToUInt24(v, p);
    } else {
        p[0] = UInt8(v >> 24);
        p[1] = UInt8(v >> 16);
        p[2] = UInt8(v >> 8);
        p[3] = UInt8(v);
    }
}

// Work buffer -> output block: `count` values, each written once, or (Dup)
// to both channels of a stereo frame with one noise value per frame.
using StoreFn = void (*)(const SInt32* work, UInt8* out, std::size_t count, NoiseState& noise);

// The top three bytes of each value, most significant first.
void Store24Plain(const SInt32* work, UInt8* out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        Put<kKind24>(out + 3 * i, work[i]);
}

#if QM_X86_COPY
// Four values at a time by one byte shuffle (SSSE3, where the processor has
// it).  Each 16-byte store reaches 4 bytes past its 12, which the next one
// overwrites; the last values go one by one so nothing is written past the
// block's end.
__attribute__((target("ssse3"))) void Store24Shuffle(const SInt32* work, UInt8* out, std::size_t count)
{
    const __m128i order = _mm_setr_epi8(3, 2, 1, 7, 6, 5, 11, 10, 9, 15, 14, 13, -1, -1, -1, -1);
    std::size_t i = 0;
    for (; i + 6 <= count; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(work + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm_shuffle_epi8(v, order));
    }
    Store24Plain(work + i, out + 3 * i, count - i);
}
#endif

void Store24(const SInt32* work, UInt8* out, std::size_t count)
{
#if QM_X86_COPY
    if (HasSsse3()) {
        Store24Shuffle(work, out, count);
        return;
    }
#endif
    Store24Plain(work, out, count);
}

// 16 bits without dither, eight values at a time (SSE2): Quantize's
// rounding and its guard at the top, the words packed (each already in
// range) and byte-swapped.  The values done.
template <bool HalfUp>
std::size_t Store16Rounded(const SInt32* work, UInt8* out, std::size_t count)
{
    std::size_t i = 0;
#if QM_X86_COPY && defined(__SSE2__)
    const __m128i top = _mm_set1_epi32(0x7FFEFFFF);
    const __m128i round = _mm_set1_epi32(Rounding<HalfUp>::r16);
    const auto quantize = [&](__m128i s) {
        const __m128i guarded = _mm_cmpgt_epi32(s, top);
        const __m128i rounded = _mm_srai_epi32(_mm_add_epi32(s, round), 16);
        return _mm_or_si128(_mm_and_si128(guarded, _mm_srai_epi32(s, 16)), _mm_andnot_si128(guarded, rounded));
    };
    for (; i + 8 <= count; i += 8) {
        const __m128i a = quantize(_mm_loadu_si128(reinterpret_cast<const __m128i*>(work + i)));
        const __m128i b = quantize(_mm_loadu_si128(reinterpret_cast<const __m128i*>(work + i + 4)));
        const __m128i words = _mm_packs_epi32(a, b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i),
                         _mm_or_si128(_mm_slli_epi16(words, 8), _mm_srli_epi16(words, 8)));
    }
#else
    (void)work;
    (void)out;
    (void)count;
#endif
    return i;
}

template <int OutK, bool Dither, bool FullTable, bool HalfUp, bool Dup>
void StoreBlock(const SInt32* work, UInt8* out, std::size_t count, NoiseState& noise)
{
    constexpr std::size_t step = KindBytes<OutK>();
    if constexpr (OutK == kKind24 && !Dup) {
        Store24(work, out, count);  // 24 bits keep the top three bytes as they are
    } else if constexpr (OutK == kKind16 && !Dither && !Dup) {
        const std::size_t done = Store16Rounded<HalfUp>(work, out, count);
        for (std::size_t i = done; i < count; ++i)
            Put<OutK>(out + i * step, Quantize<OutK, false, false, HalfUp>(work[i], noise));
    } else if constexpr (Dup) {
        for (std::size_t i = 0; i < count; ++i) {
            const SInt32 v = Quantize<OutK, Dither, FullTable, HalfUp>(work[i], noise);
            Put<OutK>(out + 2 * i * step, v);
            Put<OutK>(out + (2 * i + 1) * step, v);
        }
    } else {
        for (std::size_t i = 0; i < count; ++i)
            Put<OutK>(out + i * step, Quantize<OutK, Dither, FullTable, HalfUp>(work[i], noise));
    }
}

template <int OutK, bool HalfUp, bool Dup>
StoreFn PickStoreFor(bool dither, bool fullTable)
{
    if constexpr (OutK == kKind8 || OutK == kKind16) {
        if (dither)
            return fullTable ? &StoreBlock<OutK, true, true, HalfUp, Dup> : &StoreBlock<OutK, true, false, HalfUp, Dup>;
    }
    return &StoreBlock<OutK, false, false, HalfUp, Dup>;
}

template <int OutK>
StoreFn PickStoreKind(bool dither, bool fullTable, bool halfUp, bool dup)
{
    if (halfUp)
        return dup ? PickStoreFor<OutK, true, true>(dither, fullTable) : PickStoreFor<OutK, true, false>(dither, fullTable);
    return dup ? PickStoreFor<OutK, false, true>(dither, fullTable) : PickStoreFor<OutK, false, false>(dither, fullTable);
}

StoreFn PickStore(int outKind, bool dither, bool fullTable, bool halfUp, bool dup)
{
    switch (outKind) {
    case kKind8:
        return PickStoreKind<kKind8>(dither, fullTable, halfUp, dup);
    case kKind16:
        return PickStoreKind<kKind16>(dither, fullTable, halfUp, dup);
    case kKind24:
        return PickStoreKind<kKind24>(dither, fullTable, halfUp, dup);
    case kKind32:
        return PickStoreKind<kKind32>(dither, fullTable, halfUp, dup);
    case kKind24In32:
        return PickStoreKind<kKind24In32>(dither, fullTable, halfUp, dup);
    default:
        return nullptr;
    }
}

// ------------------------------------------------------ raw file words
// Keep-layout copies between files whose samples are plain words go from
// the input's file bytes to the output's in one pass, with the same
// arithmetic as the block path (Justified, then Quantize rounding halves
// up, with noise from the full dither table where the block path adds it).
// A raw word kind is (bytes - 1) * 2 + flag, the flag being the byte order
// (1: least significant first) of wider words and the offset binary of
// 8-bit ones.
constexpr int kRawKinds = 8;

int RawKindOf(const RawSampleLayout& layout)
{
    return (layout.bytes - 1) * 2 + int(layout.bytes == 1 ? layout.offsetBinary : layout.littleEndian);
}

template <int R>
constexpr int RawBytes()
{
    return R / 2 + 1;
}

template <int R>
constexpr bool RawFlag()
{
    return R % 2 == 1;
}

// Memory offset of the byte `rank` places below the most significant one.
template <int R>
constexpr int RawOffset(int rank)
{
    return RawBytes<R>() > 1 && RawFlag<R>() ? RawBytes<R>() - 1 - rank : rank;
}

template <int R>
inline SInt32 RawJustified(const UInt8* p)
{
    constexpr int bytes = RawBytes<R>();
    if constexpr (bytes == 1) {
        return SInt32(UInt32(UInt8(p[0] ^ (RawFlag<R>() ? 0x80 : 0))) << 24);
    } else {
        UInt32 v = 0;
        for (int rank = 0; rank < bytes; ++rank)
            v |= UInt32(p[RawOffset<R>(rank)]) << (24 - 8 * rank);
        return SInt32(v);
    }
}

template <int R>
inline void RawPut(UInt8* p, SInt32 value)
{
    constexpr int bytes = RawBytes<R>();
    if constexpr (bytes == 1) {
        p[0] = UInt8(UInt8(value) ^ (RawFlag<R>() ? 0x80 : 0));
    } else {
        UInt8 word[4];
        Put<bytes>(word, value);  // kinds 2 to 4 are the byte counts
        for (int rank = 0; rank < bytes; ++rank)
            p[RawOffset<R>(rank)] = word[rank];
    }
}

using RawConvertFn = void (*)(const UInt8* in, UInt8* out, std::size_t samples, NoiseState& noise);

// Dither: noise before the cut to 8 or 16 bits (wider outputs never get it).
template <int In, int Out, bool Dither>
void RawConvert(const UInt8* in, UInt8* out, std::size_t samples, NoiseState& noise)
{
    constexpr int inBytes = RawBytes<In>();
    constexpr int outBytes = RawBytes<Out>();
    constexpr bool dither = Dither && outBytes <= 2;
    for (std::size_t i = 0; i < samples; ++i)
        RawPut<Out>(out + i * outBytes,
                    Quantize<outBytes, dither, true, true>(RawJustified<In>(in + i * inBytes), noise));
}

template <bool Dither, int In, std::size_t... Out>
constexpr std::array<RawConvertFn, kRawKinds> RawConvertRow(std::index_sequence<Out...>)
{
    return {&RawConvert<In, int(Out), Dither>...};
}

template <bool Dither, std::size_t... In>
constexpr std::array<std::array<RawConvertFn, kRawKinds>, kRawKinds> RawConvertTable(std::index_sequence<In...>)
{
    return {RawConvertRow<Dither, int(In)>(std::make_index_sequence<kRawKinds>())...};
}

RawConvertFn PickRawConvert(int inKind, int outKind, bool dither)
{
    static constexpr auto plain = RawConvertTable<false>(std::make_index_sequence<kRawKinds>());
    static constexpr auto noisy = RawConvertTable<true>(std::make_index_sequence<kRawKinds>());
    return (dither ? noisy : plain)[std::size_t(inKind)][std::size_t(outKind)];
}

// A conversion that only moves bytes (the output word at least as long as
// the input's, or 32 bits cut to 24): the samples of one 16-byte load make
// a group, written by up to four byte shuffles of it; per output byte of
// the group, the input byte it takes (-1: zero) and what it is XORed with
// (the 8-bit offset).
struct RawShuffle {
    int inBytes = 0;
    int outBytes = 0;
    int groupSamples = 0;
    int shuffles = 0;
    alignas(16) SInt8 order[4][16] = {};
    alignas(16) UInt8 flip[4][16] = {};
};

bool MakeRawShuffle(const RawSampleLayout& in, const RawSampleLayout& out, RawShuffle* shuffle)
{
    if (out.bytes < in.bytes && !(in.bytes == 4 && out.bytes == 3))
        return false;  // shorter words are rounded
    shuffle->inBytes = in.bytes;
    shuffle->outBytes = out.bytes;
    shuffle->groupSamples = 16 / in.bytes;
    const int groupBytes = shuffle->groupSamples * out.bytes;
    shuffle->shuffles = (groupBytes + 15) / 16;
    const bool flipTop = (in.bytes == 1 && in.offsetBinary) != (out.bytes == 1 && out.offsetBinary);
    for (int at = 0; at < 64; ++at) {
        SInt8& order = shuffle->order[at / 16][at % 16];
        UInt8& flip = shuffle->flip[at / 16][at % 16];
        order = -1;
        flip = 0;
        if (at >= groupBytes)
            continue;
        const int k = at / out.bytes;
        const int j = at % out.bytes;
        const int rank = out.bytes > 1 && out.littleEndian ? out.bytes - 1 - j : j;
        if (rank < in.bytes)
            order = SInt8(k * in.bytes + (in.bytes > 1 && in.littleEndian ? in.bytes - 1 - rank : rank));
        if (rank == 0 && flipTop)
            flip = 0x80;
    }
    return true;
}

#if QM_X86_COPY
// Group after group; each store may reach past the group's own bytes (into
// the next group's, rewritten by it).  The last samples are left to the
// plain loop so that nothing is touched past either buffer.
template <int Shuffles>
__attribute__((target("ssse3"))) std::size_t RawShuffleGroups(const RawShuffle& shuffle, const UInt8* in,
                                                              UInt8* out, std::size_t samples)
{
    __m128i order[Shuffles];
    __m128i flip[Shuffles];
    for (int m = 0; m < Shuffles; ++m) {
        order[m] = _mm_load_si128(reinterpret_cast<const __m128i*>(shuffle.order[m]));
        flip[m] = _mm_load_si128(reinterpret_cast<const __m128i*>(shuffle.flip[m]));
    }
    const std::size_t group = std::size_t(shuffle.groupSamples);
    const std::size_t inStep = group * std::size_t(shuffle.inBytes);
    const std::size_t outStep = group * std::size_t(shuffle.outBytes);
    const std::size_t inTotal = samples * std::size_t(shuffle.inBytes);
    const std::size_t outTotal = samples * std::size_t(shuffle.outBytes);
    std::size_t done = 0;
    std::size_t inAt = 0;
    std::size_t outAt = 0;
    while (inAt + 16 <= inTotal && outAt + 16 * Shuffles <= outTotal) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + inAt));
        for (int m = 0; m < Shuffles; ++m)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + outAt + 16 * m),
                             _mm_xor_si128(_mm_shuffle_epi8(v, order[m]), flip[m]));
        done += group;
        inAt += inStep;
        outAt += outStep;
    }
    return done;
}

std::size_t RawShuffleSteps(const RawShuffle& shuffle, const UInt8* in, UInt8* out, std::size_t samples)
{
    switch (shuffle.shuffles) {
    case 1:
        return RawShuffleGroups<1>(shuffle, in, out, samples);
    case 2:
        return RawShuffleGroups<2>(shuffle, in, out, samples);
    case 3:
        return RawShuffleGroups<3>(shuffle, in, out, samples);
    default:
        return RawShuffleGroups<4>(shuffle, in, out, samples);
    }
}

#endif

// A cut to 8 or 16 bits, four samples at a time: the input words shuffled
// into left-justified 32-bit lanes, the rounding or the noise added below
// the guard (as Quantize does), shifted down and shuffled into the output's
// bytes.
struct RawNarrow {
    alignas(16) SInt8 justify[16] = {};
    alignas(16) SInt8 pack[16] = {};
    UInt8 flip = 0;  // XORed into every output byte (8-bit offset binary)
};

bool MakeRawNarrow(const RawSampleLayout& in, const RawSampleLayout& out, RawNarrow* narrow)
{
    if (out.bytes > 2 || in.bytes <= out.bytes)
        return false;
    RawShuffle lanes;  // native 32-bit lanes: little-endian words
    RawSampleLayout word;
    word.bytes = 4;
    word.littleEndian = true;
    if (!MakeRawShuffle(in, word, &lanes))
        return false;
    for (int i = 0; i < 16; ++i) {
        narrow->justify[i] = lanes.order[0][i];
        narrow->pack[i] = -1;
    }
    for (int k = 0; k < 4; ++k) {
        if (out.bytes == 1) {
            narrow->pack[k] = SInt8(4 * k);
        } else {
            narrow->pack[2 * k] = SInt8(out.littleEndian ? 4 * k : 4 * k + 1);
            narrow->pack[2 * k + 1] = SInt8(out.littleEndian ? 4 * k + 1 : 4 * k);
        }
    }
    narrow->flip = out.bytes == 1 && out.offsetBinary ? 0x80 : 0x00;
    return true;
}

// All a raw copy needs to convert a block.
struct RawPlan {
    RawConvertFn plain = nullptr;
    std::size_t inBytes = 0;
    std::size_t outBytes = 0;
    bool dither = false;
    bool shuffles = false;
    bool narrows = false;
    RawShuffle shuffle;
    RawNarrow narrow;
};

#if QM_X86_COPY
// Stops before the last samples (a 16-byte load would pass the input),
// before the noise index wraps and, with noise, before four samples of which
// one lies above the guard (it draws no noise); the caller goes on with the
// plain loop.
template <int OutBytes, bool Dither>
__attribute__((target("ssse3"))) std::size_t RawNarrowGroups(const RawNarrow& narrow, std::size_t inBytes,
                                                             const UInt8* in, UInt8* out, std::size_t samples,
                                                             NoiseState& noise)
{
    constexpr int shift = OutBytes == 2 ? 16 : 24;
    // Quantize's guards: no rounding or noise above them.
    constexpr SInt32 guard =
        OutBytes == 2 ? 0x7FFEFFFF : (Dither ? 0x7EFFFFFF : 0x7F7FFFFE);
    const __m128i justify = _mm_load_si128(reinterpret_cast<const __m128i*>(narrow.justify));
    const __m128i pack = _mm_load_si128(reinterpret_cast<const __m128i*>(narrow.pack));
    const __m128i flip = _mm_set1_epi8(char(narrow.flip));
    const __m128i guards = _mm_set1_epi32(guard);
    const __m128i rounding = _mm_set1_epi32(OutBytes == 2 ? Rounding<true>::r16 : Rounding<true>::r8);
    const __m128i zero = _mm_setzero_si128();
    const std::size_t inTotal = samples * inBytes;
    UInt32 index = noise.index;
    std::size_t done = 0;
    while (done + 4 <= samples && done * inBytes + 16 <= inTotal) {
        const __m128i s =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done * inBytes)), justify);
        const __m128i above = _mm_cmpgt_epi32(s, guards);
        __m128i add = rounding;
        if constexpr (Dither) {
            if (index > 0xFFFF - 4 || _mm_movemask_epi8(above) != 0)
                break;
            const __m128i drawn = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(noise.table + index + 1));
            add = _mm_slli_epi32(_mm_unpacklo_epi16(drawn, zero), shift - 8);
            index += 4;
        }
        const __m128i v = _mm_or_si128(_mm_and_si128(above, s), _mm_andnot_si128(above, _mm_add_epi32(s, add)));
        const __m128i words = _mm_xor_si128(_mm_shuffle_epi8(_mm_srai_epi32(v, shift), pack), flip);
        if constexpr (OutBytes == 2) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * done), words);
        } else {
            const UInt32 four = UInt32(_mm_cvtsi128_si32(words));
            std::memcpy(out + done, &four, 4);
        }
        done += 4;
    }
    noise.index = index;
    return done;
}

std::size_t RawNarrowSteps(const RawPlan& plan, const UInt8* in, UInt8* out, std::size_t samples, NoiseState& noise)
{
    if (plan.outBytes == 2)
        return plan.dither ? RawNarrowGroups<2, true>(plan.narrow, plan.inBytes, in, out, samples, noise)
                           : RawNarrowGroups<2, false>(plan.narrow, plan.inBytes, in, out, samples, noise);
    return plan.dither ? RawNarrowGroups<1, true>(plan.narrow, plan.inBytes, in, out, samples, noise)
                       : RawNarrowGroups<1, false>(plan.narrow, plan.inBytes, in, out, samples, noise);
}
#endif

// File bytes of one raw kind to another: shuffled where bytes only move,
// narrowed four at a time where words are cut, the rest (and the tails) by
// the plain loop.
void ConvertRaw(const RawPlan& plan, const UInt8* in, UInt8* out, std::size_t samples, NoiseState& noise)
{
    std::size_t done = 0;
#if QM_X86_COPY
    if (plan.shuffles && HasSsse3()) {
        done = RawShuffleSteps(plan.shuffle, in, out, samples);
    } else if (plan.narrows && HasSsse3()) {
        while (done < samples) {
            done += RawNarrowSteps(plan, in + done * plan.inBytes, out + done * plan.outBytes, samples - done, noise);
            if (done >= samples)
                break;
            // Past the noise table's wrap, a sample above the guard or into
            // the last samples: four by the plain loop.
            const std::size_t few = std::min<std::size_t>(samples - done, 4);
            plan.plain(in + done * plan.inBytes, out + done * plan.outBytes, few, noise);
            done += few;
        }
    }
#endif
    if (done < samples)
        plan.plain(in + done * plan.inBytes, out + done * plan.outBytes, samples - done, noise);
}

// The block walk of both copy loops: `step(pos, n)` reads the frames from
// `pos`, converts and writes `n` of them at *outPos; then both positions
// move on and the progress is posted.  Stops at the first non-zero code.
template <typename Step>
SInt32 EachBlock(UInt32 start, UInt32 end, UInt32* outPos, UInt32 blockFrames, Step&& step)
{
    for (UInt32 pos = start; pos < end;) {
        const UInt32 n = std::min(blockFrames, end - pos);
        SInt32 code = step(pos, n);
        if (code)
            return code;
        pos += n;
        *outPos += n;
        code = PostProgressPosition(pos);
        if (code)
            return code;
    }
    return 0;
}

// The layouts of a raw copy, when both files have one that matches their
// word length (never the 24-in-32 words): integers to integers, or floats
// to floats, which keep every value, beyond full scale too.
bool RawLayouts(CSoundFile* in, CSoundFile* out, RawSampleLayout* inLayout, RawSampleLayout* outLayout)
{
    const auto fits = [](const CSoundFile* file, const RawSampleLayout& layout) {
        return layout.bytes >= 1 && layout.bytes <= 4 && file->GetNumBits() == 8 * layout.bytes &&
               file->GetState() != kSampleFormat24In32;
    };
    return in->GetRawSampleLayout(inLayout) && fits(in, *inLayout) && out->GetRawSampleLayout(outLayout) &&
           fits(out, *outLayout) && inLayout->ieeeFloat == outLayout->ieeeFloat;
}

// The copy loop of CopyCore on raw frames: per block one read of what
// ReadBlock would load, frames past the input's end as silence, one pass
// into the output's words (none when they are the input's), one write.
SInt32 RawCopy(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos, UInt32 blockFrames,
               const RawSampleLayout& inLayout, const RawSampleLayout& outLayout, bool dither)
{
    const std::size_t channels = in->GetNumChannels();
    const std::size_t inFrameBytes = channels * inLayout.bytes;
    const std::size_t outFrameBytes = channels * outLayout.bytes;
    const int inKind = RawKindOf(inLayout);
    const int outKind = RawKindOf(outLayout);
    const bool same = inKind == outKind;
    RawPlan plan;
    plan.plain = PickRawConvert(inKind, outKind, dither);
    plan.inBytes = inLayout.bytes;
    plan.outBytes = outLayout.bytes;
    plan.dither = dither;
    plan.shuffles = !dither && MakeRawShuffle(inLayout, outLayout, &plan.shuffle);
    plan.narrows = !plan.shuffles && MakeRawNarrow(inLayout, outLayout, &plan.narrow);
    const UInt8 silence = inLayout.bytes == 1 && inLayout.offsetBinary ? 0x80 : 0x00;

    // Neither buffer is cleared: every byte written out is filled first.
    const std::size_t inBytes = std::size_t(std::max(in->GetBufferFrames(), blockFrames)) * inFrameBytes;
    const std::size_t outBytes = same ? 0 : std::size_t(blockFrames) * outFrameBytes;
    std::unique_ptr<UInt8[]> buffer(new (std::nothrow) UInt8[inBytes + outBytes]);
    SInt32 code = CheckMemError(buffer.get(), 1);
    if (code)
        return code;
    UInt8* raw = buffer.get();
    UInt8* converted = same ? raw : raw + inBytes;
    NoiseState noise;
    noise.table = gDitherTable;
    noise.length = UInt32(gDitherTableLength);

    // An input that makes the output's words itself, as exactly as the
    // conversion below would without noise, gives them in its own pass;
    // after a block it cannot give so, every block is converted.
    bool direct = !same && !dither;
    return EachBlock(start, end, outPos, blockFrames, [&](UInt32 pos, UInt32 n) {
        UInt32 filled = 0;
        if (direct) {
            bool made = false;
            const SInt32 err = in->ReadRawFramesAs(outLayout, pos, n, converted, &filled, &made);
            if (err)
                return err;
            if (made) {
                if (filled < n)
                    std::memset(converted + std::size_t(filled) * outFrameBytes, 0,
                                std::size_t(n - filled) * outFrameBytes);
                return SInt32(out->WriteRawFrames(converted, n, *outPos));
            }
            direct = false;
        }
        SInt32 err = in->ReadRawFrames(pos, raw, &filled);
        if (err)
            return err;
        if (filled < n)
            std::memset(raw + std::size_t(filled) * inFrameBytes, silence, std::size_t(n - filled) * inFrameBytes);
        if (!same) {
            noise.index = gDitherIndex;
            ConvertRaw(plan, raw, converted, std::size_t(n) * channels, noise);
            gDitherIndex = UInt16(noise.index);
        }
        return SInt32(out->WriteRawFrames(converted, n, *outPos));
    });
}

// ------------------------------------------------------------- the copy
SInt32 CopyCore(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                const SampleCopySettings& settings, Layout layout, UInt16 channel)
{
    if (!in || !out || !outPos || in == out)
        return paramErr;
    const UInt16 inChannels = in->GetNumChannels();
    const UInt16 outChannels = out->GetNumChannels();
    const int inKind = KindOf(in);
    const int outKind = KindOf(out);
    if (!inKind || !outKind || inChannels == 0)
        return paramErr;
    switch (layout) {
    case Layout::Keep:
        if (outChannels != inChannels)
            return paramErr;
        break;
    case Layout::MonoToStereo:
        if (inChannels != 1 || outChannels != 2)
            return paramErr;
        break;
    case Layout::MixToMono:
    case Layout::OneChannel:
        if (inChannels != 2 || outChannels != 1 || channel > 1)
            return paramErr;
        break;
    }
    const UInt32 frames = start < end ? end - start : 0;
    if (UInt64(*outPos) + frames > 0xFFFFFFFFull)
        return paramErr;  // output positions are 32-bit

    const UInt32 outStart = *outPos;
    // A missing sampler record is no failure; a finished copy carries the
    // markers, regions and loops over.
    const auto finish = [&](SInt32 code) {
        if (code)
            return code == kNoValidSamplerInfoErr ? 0 : code;
        return CarrySampleFormatExtras(in, out, start, end, outStart, settings.copyExtras);
    };

    out->SetDither(settings.needsRedither);
    // Noise only where the word length shrinks to 8 or 16 bits.
    const bool dither = settings.needsRedither && in->GetNumBits() > out->GetNumBits() &&
                        (outKind == kKind8 || outKind == kKind16) && DitherTableExists();

    RawSampleLayout inLayout;
    RawSampleLayout outLayout;
    if (layout == Layout::Keep && (!dither || gDitherTableLength == 65536) &&
        RawLayouts(in, out, &inLayout, &outLayout) && !(inLayout.ieeeFloat && settings.fadesFollow)) {
        // Plain words on both sides: file bytes to file bytes, no blocks.
        const UInt32 blockFrames = std::min(out->GetBufferFrames(), in->GetBufferFrames());
        if (blockFrames == 0)
            return paramErr;
        return finish(RawCopy(in, out, start, end, outPos, blockFrames, inLayout, outLayout, dither));
    }

    SInt32 code = in->AllocateReadBuffer();
    if (code)
        return code;
    code = out->AllocateWriteBuffer();
    if (code)
        return code;

    // A block never holds more frames than one read of the input supplies.
    const UInt32 blockFrames = std::min(out->GetBufferFrames(), in->GetBufferFrames());
    if (blockFrames == 0)
        return paramErr;

    // The word lengths agree and neither side needs a shift: bytes as they are.
    const bool sameWords = layout == Layout::Keep && inKind == outKind;

    LoadFn load = nullptr;
    StoreFn store = nullptr;
    std::unique_ptr<SInt32[]> work;
    NoiseState noise;
    if (!sameWords) {
        const bool fullTable = gDitherTableLength == 65536;
        load = PickLoad(layout, inKind);
        store = PickStore(outKind, dither, fullTable, layout == Layout::Keep, layout == Layout::MonoToStereo);
        if (!load || !store)
            return paramErr;
        const std::size_t workSamples = std::size_t(blockFrames) * (layout == Layout::Keep ? inChannels : 1);
        work.reset(new (std::nothrow) SInt32[workSamples]);
        code = CheckMemError(work.get(), 1);
        if (code)
            return code;
        noise.table = gDitherTable;
        noise.length = UInt32(gDitherTableLength);
    }

    const std::size_t inFrameBytes = std::size_t(inChannels) * std::size_t(in->GetNumBits() / 8);
    const std::size_t workPerFrame = layout == Layout::Keep ? inChannels : 1;

    code = EachBlock(start, end, outPos, blockFrames, [&](UInt32 pos, UInt32 n) {
        SInt32 err = in->ReadBlockFor(pos, n);
        if (err)
            return err;
        const UInt8* src = in->GetReadBuffer();
        UInt8* dst = out->GetWriteBuffer();
        if (!src || !dst)
            return SInt32(paramErr);
        if (sameWords) {
            std::memmove(dst, src, std::size_t(n) * inFrameBytes);
        } else {
            load(src, work.get(), n, inChannels, channel);
            noise.index = gDitherIndex;
            store(work.get(), dst, std::size_t(n) * workPerFrame, noise);
            gDitherIndex = UInt16(noise.index);
        }
        return SInt32(out->WriteBlock(n, *outPos));
    });
    work.reset();
    return finish(code);
}

// The compacting walk of the copy: margin 1 ms at the output's rate, first
// search before frame 0, next search one frame past each span.
template <typename Core>
SInt32 StripWalk(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings, Core&& core)
{
    if (!in || !out)
        return paramErr;
    RegionWalkParams params;
    params.firstSearch = -1;
    params.margin = MarginFrames(settings.needsStrip ? 0.001 : 0.0, out->GetSampleRate());
    params.nextSearchOffset = 1;
    UInt32 outPos = 0;
    return WalkRegionSpans(in, params, [&](UInt32 a, UInt32 b) { return core(a, b, &outPos); });
}

} // namespace

// ===================================================================== cores
SInt32 ConvertSampleFormat(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                           const SampleCopySettings& settings)
{
    return CopyCore(in, out, start, end, outPos, settings, Layout::Keep, 0);
}

SInt32 ConvertSampleFormatMonoToStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                       UInt32* outPos, const SampleCopySettings& settings)
{
    return CopyCore(in, out, start, end, outPos, settings, Layout::MonoToStereo, 0);
}

SInt32 ConvertSampleFormatMixToMono(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                    UInt32* outPos, const SampleCopySettings& settings)
{
    return CopyCore(in, out, start, end, outPos, settings, Layout::MixToMono, 0);
}

SInt32 ConvertSampleFormatOneChannel(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                     UInt32* outPos, UInt16 channel, const SampleCopySettings& settings)
{
    return CopyCore(in, out, start, end, outPos, settings, Layout::OneChannel, channel);
}

// ================================================================= wrappers
namespace {

template <typename Core>
SInt32 RangeOf(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, Core&& core)
{
    UInt32 outPos = 0;
    return core(start, end, &outPos);
}

template <typename Core>
SInt32 AllOf(CSoundFile* in, CSoundFile* out, Core&& core)
{
    if (!in)
        return paramErr;
    UInt32 outPos = 0;
    return core(0, in->GetNumFrames(), &outPos);
}

} // namespace

#define QM_COPY_WRAPPERS(SUFFIX, CALL)                                                                      \
    SInt32 ConvertSampleFormatRange##SUFFIX(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,      \
                                            const SampleCopySettings& settings)                             \
    {                                                                                                       \
        return RangeOf(in, out, start, end, [&](UInt32 a, UInt32 b, UInt32* pos) { return CALL; });        \
    }                                                                                                       \
    SInt32 ConvertSampleFormatStrip##SUFFIX(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings) \
    {                                                                                                       \
        return StripWalk(in, out, settings, [&](UInt32 a, UInt32 b, UInt32* pos) { return CALL; });        \
    }                                                                                                       \
    SInt32 ConvertSampleFormatAll##SUFFIX(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings) \
    {                                                                                                       \
        return AllOf(in, out, [&](UInt32 a, UInt32 b, UInt32* pos) { return CALL; });                      \
    }

QM_COPY_WRAPPERS(, ConvertSampleFormat(in, out, a, b, pos, settings))
QM_COPY_WRAPPERS(MonoToStereo, ConvertSampleFormatMonoToStereo(in, out, a, b, pos, settings))
QM_COPY_WRAPPERS(MixToMono, ConvertSampleFormatMixToMono(in, out, a, b, pos, settings))
QM_COPY_WRAPPERS(Left, ConvertSampleFormatOneChannel(in, out, a, b, pos, 0, settings))
QM_COPY_WRAPPERS(Right, ConvertSampleFormatOneChannel(in, out, a, b, pos, 1, settings))

#undef QM_COPY_WRAPPERS

// =================================================================== extras
SInt32 CarrySampleFormatExtras(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32 outStart,
                               bool copyExtras)
{
    if (!in || !out)
        return paramErr;
    if (!copyExtras || out->IsOneChannelDone())
        return 0;
    const UInt32 shift = outStart - start;  // modulo 2^32: positions move by outStart - start
    SInt32 code = CarryRecords<SFTLoop>(
        in, out, [&](const SFTLoop& loop) { return start <= loop.start && loop.end <= end; },
        [&](SFTLoop& loop) {
            loop.start += shift;
            loop.end += shift;
        });
    if (code == 0)
        code = CarryRecords<SFTRegion>(
            in, out, [&](const SFTRegion& region) { return start <= region.start && region.end <= end; },
            [&](SFTRegion& region) {
                region.start += shift;
                region.end += shift;
                region.syncFrame += shift;
            });
    if (code == 0)
        code = CarryRecords<SFTMarker>(
            in, out, [&](const SFTMarker& marker) { return start <= marker.pos && marker.pos <= end; },
            [&](SFTMarker& marker) { marker.pos += shift; });
    if (code == 0) {
        SFTSamplerInfo sampler;
        code = in->GetSamplerInfo(&sampler);
        if (code == 0)
            code = out->SetSamplerInfo(&sampler);
    }
    // The time stamp tells when the file's first frame sounds: the output's
    // first frame is input frame start - outStart.
    if (in->HasTimeStamp() && !out->HasTimeStamp()) {
        const UInt64 stamp = in->GetTimeStamp64();
        const UInt64 offset = start >= outStart ? UInt64(start - outStart) : 0;
        out->SetTimeStamp64(stamp + offset);
    }
    return code == kNoValidSamplerInfoErr ? 0 : code;
}
