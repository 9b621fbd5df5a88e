// Helpers shared by the 8SVX, AVR and CD-image tests: writing a file through
// a format object from exact block bytes, reading a peer's raw output, and
// libsndfile's view of a file.
#pragma once

#include "AIFFTestSupport.h"
#include "CSoundFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace smallpcm {

using namespace aifftest;

// Doubles that the writers turn back into exactly these big-endian block
// samples (8- or 16-bit, interleaved).
inline std::vector<double> ExactValues(const std::vector<SInt32>& samples, SInt16 bits)
{
    std::vector<double> out;
    for (SInt32 s : samples) {
        // 8-bit words are written as trunc(x * 127) within -127 .. 126.
        out.push_back(bits == 8 ? (s + (s < 0 ? -0.5 : 0.5)) / 127.0 : s / 32768.0);
    }
    return out;
}

// Deterministic samples over the range the writers reach (8 bits: -127 ..
// 126; 16 bits: the whole word).
inline std::vector<SInt32> TestSamples(std::size_t count, SInt16 bits)
{
    std::vector<SInt32> out(count);
    UInt32 state = 777;
    const SInt32 low = bits == 8 ? -127 : -32768;
    const SInt32 high = bits == 8 ? 126 : 32767;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        out[i] = low + SInt32((state >> 8) % UInt32(high - low + 1));
    }
    if (count >= 2) {
        out[0] = low;
        out[1] = high;
    }
    return out;
}

// The samples as big-endian signed bytes (the block layout).
inline std::vector<UInt8> BlockBytes(const std::vector<SInt32>& samples, SInt16 bits)
{
    std::vector<UInt8> out;
    for (SInt32 s : samples) {
        if (bits == 16) {
            out.push_back(UInt8(UInt16(s) >> 8));
        }
        out.push_back(UInt8(s));
    }
    return out;
}

// Writes `samples` through a new T at `path` (the format adds its
// extension); returns the written path, empty on failure.
template <typename T>
std::string WriteSamples(const std::string& path, UInt16 channels, SInt16 bits, float rate,
                         const std::vector<SInt32>& samples)
{
    T file;
    EXPECT_EQ(file.SetFile(path), noErr);
    EXPECT_EQ(file.Create(channels, bits, 0, nullptr, nullptr, rate), noErr);
    if (!file.IsOpen()) {
        return std::string();
    }
    file.SetDither(false);
    std::vector<double> values = ExactValues(samples, bits);
    UInt32 count = UInt32(samples.size() / channels);
    EXPECT_EQ(file.WriteFrames(0, &count, values.data()), noErr);
    EXPECT_EQ(file.Close(), noErr);
    return file.GetPath();
}

inline bool HaveSox()
{
    return peers::Have(QStringLiteral("sox"));
}

} // namespace smallpcm
