// The samples of an open sound file as exact words, read through its block
// interface, so that every word length compares alike with a peer's
// decoding.
#pragma once

#include "CSoundFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace soundfilesamples {

// Frames `frame` to `frame + frames` of an open file (cut to its frame
// count), each sample as a 32-bit word with the sample in its top bits (so
// every word length compares alike); those before a block that fails to
// read.
inline std::vector<SInt32> ReadSamples(CSoundFile& file, UInt32 frame, UInt32 frames)
{
    std::vector<SInt32> samples;
    const std::size_t channels = file.GetNumChannels();
    const int bytes = file.GetNumBits() / 8;
    const UInt32 end = UInt32(std::min<UInt64>(UInt64(frame) + frames, file.GetNumFrames()));
    for (UInt32 pos = frame; pos < end;) {
        if (file.AllocateReadBuffer() != noErr || file.ReadBlock(pos) != noErr)
            break;
        const UInt32 n = std::min(file.GetBufferFrames(), end - pos);
        const UInt8* p = file.GetReadBuffer();
        for (std::size_t i = 0; i < std::size_t(n) * channels; ++i, p += bytes) {
            UInt32 v = 0;
            for (int k = 0; k < bytes; ++k)
                v |= UInt32(p[k]) << (24 - 8 * k);
            samples.push_back(SInt32(v));
        }
        pos += n;
    }
    return samples;
}

// Every frame of an open file, as ReadSamples; a block that fails to read
// fails the test.
inline std::vector<SInt32> ReadAllSamples(CSoundFile& file)
{
    std::vector<SInt32> samples = ReadSamples(file, 0, file.GetNumFrames());
    EXPECT_EQ(samples.size(), std::size_t(file.GetNumFrames()) * file.GetNumChannels()) << "a block failed to read";
    return samples;
}

} // namespace soundfilesamples
