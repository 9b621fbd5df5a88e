#include "ImaPacketEncoder.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

// clang-format off
constexpr int kStepSizes[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
// clang-format on
constexpr int kIndexChanges[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kHighestStepIndex = 88;

// The header keeps the predictor's top nine bits.
constexpr int kGrid = 128;
constexpr int kLowestHeaderPredictor = -32768;
constexpr int kHighestHeaderPredictor = 32767 - (kGrid - 1);

// The step indices tried from the header's grid point nearest the
// carried-on predictor, as offsets from the carried-on step index, in the
// order tried (the likeliest first, measured on tones from -1 to -60 dBFS):
// a quiet passage is best restarted with a much larger step, which covers
// the grid's rounding in a sample or two and then shrinks by one index a
// sample.
constexpr int kStepOffsets[] = {1, 16, 4, 8, -1, 12, 6, 10, 2, -2, 3};

struct State {
    int predictor;
    int stepIndex;
};

// The code of `x` from `s`, which it then moves on as every reader does.
inline int Code(int x, State& s)
{
    const int step = kStepSizes[s.stepIndex];
    int diff = x - s.predictor;
    int code = 0;
    if (diff < 0) {
        code = 8;
        diff = -diff;
    }
    int delta = step >> 3;
    if (diff >= step) {
        code |= 4;
        diff -= step;
        delta += step;
    }
    if (diff >= step >> 1) {
        code |= 2;
        diff -= step >> 1;
        delta += step >> 1;
    }
    if (diff >= step >> 2) {
        code |= 1;
        delta += step >> 2;
    }
    s.predictor = std::clamp(code & 8 ? s.predictor - delta : s.predictor + delta, -32768, 32767);
    s.stepIndex = std::clamp(s.stepIndex + kIndexChanges[code & 7], 0, kHighestStepIndex);
    return code;
}

// One way to code a packet: where it starts, its codes, where it ends and
// its squared error.
struct Trial {
    State start{};
    State end{};
    int64_t error = std::numeric_limits<int64_t>::max();
    uint8_t codes[ImaPacketEncoder::kFrames] = {};
};

// Codes the packet from `start` into `trial`, giving up (with an error of
// at least `bound`) once the error reaches `bound`.
void Try(const int16_t* samples, std::ptrdiff_t stride, State start, int64_t bound, Trial& trial)
{
    trial.start = start;
    int64_t error = 0;
    for (int i = 0; i < ImaPacketEncoder::kFrames; ++i) {
        const int x = samples[i * stride];
        trial.codes[i] = uint8_t(Code(x, start));
        const int64_t d = x - start.predictor;
        error += d * d;
        if (error >= bound)
            break;
    }
    trial.end = start;
    trial.error = error;
}

int GridBelow(int p)
{
    const int below = p >= 0 ? p / kGrid * kGrid : -((-p + kGrid - 1) / kGrid) * kGrid;
    return std::clamp(below, kLowestHeaderPredictor, kHighestHeaderPredictor);
}

}  // namespace

void ImaPacketEncoder::EncodePacket(const int16_t* samples, std::ptrdiff_t stride, uint8_t* packet)
{
    const State carried{m_predictor, m_stepIndex};
    Trial trials[2];
    Trial* best = &trials[0];
    Trial* next = &trials[1];
    const auto consider = [&](State start) {
        Try(samples, stride, start, best->error, *next);
        if (next->error < best->error)
            std::swap(best, next);
    };

    // Carrying on needs no restart where the header holds the predictor.
    // Otherwise the header states that every reader starts from (another
    // step index than the carried-on one, or a predictor at least a grid
    // step away) are tried, the likeliest first, until one codes the
    // packet about as well as carrying on would.
    const int below = GridBelow(carried.predictor);
    if (below == carried.predictor) {
        consider(carried);
    } else {
        Trial free;
        Try(samples, stride, carried, std::numeric_limits<int64_t>::max(), free);
        const int64_t enough = free.error + free.error / 4 + kFrames;
        const int nearest
            = carried.predictor - below < kGrid / 2 ? below : std::min(below + kGrid, kHighestHeaderPredictor);
        const int farther = nearest == below ? std::min(below + kGrid, kHighestHeaderPredictor) : below;
        for (const int offset : kStepOffsets) {
            const int s = carried.stepIndex + offset;
            if (s >= 0 && s <= kHighestStepIndex)
                consider({nearest, s});
            if (best->error <= enough)
                break;
        }
        if (best->error > enough) {
            // The same step index from the grid points a step beyond.
            const int away = farther < nearest ? farther - kGrid : farther + kGrid;
            for (const int p : {nearest < carried.predictor ? nearest - kGrid : nearest + kGrid, away})
                if (p >= kLowestHeaderPredictor && p <= kHighestHeaderPredictor
                    && std::abs(p - carried.predictor) >= kGrid)
                    consider({p, carried.stepIndex});
            for (const int offset : {1, -1, 2, 4})
                if (carried.stepIndex + offset >= 0 && carried.stepIndex + offset <= kHighestStepIndex)
                    consider({farther, carried.stepIndex + offset});
        }
    }

    const unsigned header = (unsigned(best->start.predictor) & 0xFF80u) | unsigned(best->start.stepIndex);
    packet[0] = uint8_t(header >> 8);
    packet[1] = uint8_t(header);
    for (int i = 0; i < kFrames; i += 2)
        packet[2 + i / 2] = uint8_t(best->codes[i] | best->codes[i + 1] << 4);
    m_predictor = best->end.predictor;
    m_stepIndex = best->end.stepIndex;
}
