// Helpers of the WAVE family tests: running the peer programs, reading and
// writing whole files, driving a sound file's block I/O with exact samples,
// and small builders of hand-made RIFF files.
#pragma once

#include "CSoundFile.h"
#include "ChunkReader.h"
#include "MacTypes.h"
#include "PeerTools.h"
#include "RIFFBuilding.h"
#include "SoundFileSamples.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace wavetest {

// The runner and file helpers of tests/support (PeerTools.h).
using peers::HaveProgram, peers::ReadAll, peers::RunProgram, peers::RunResult, peers::WriteAll;

inline UInt32 LE32(const std::vector<UInt8>& b, std::size_t at)
{
    return UInt32(b.at(at)) | (UInt32(b.at(at + 1)) << 8) | (UInt32(b.at(at + 2)) << 16) |
           (UInt32(b.at(at + 3)) << 24);
}
inline UInt16 LE16(const std::vector<UInt8>& b, std::size_t at)
{
    return UInt16(b.at(at) | (b.at(at + 1) << 8));
}

// Position of the first chunk `id` of a RIFF file in memory (of its ID), or
// npos.
inline std::size_t FindChunkIn(const std::vector<UInt8>& b, const char* id, int occurrence = 1)
{
    std::size_t pos = 12;
    int seen = 0;
    while (pos + 8 <= b.size()) {
        if (std::memcmp(&b[pos], id, 4) == 0 && ++seen == occurrence)
            return pos;
        const UInt32 size = LE32(b, pos + 4);
        pos += 8 + std::size_t(size) + (size & 1);
    }
    return std::string::npos;
}

// The hand-built RIFF files of tests/support.
using riffbuild::Body, riffbuild::ExtensibleFmt, riffbuild::Fmt, riffbuild::RIFFBuilder;

using soundfilesamples::ReadAllSamples;

// Writes interleaved samples (32-bit words, sample in the top bits) through
// the block interface from frame 0 on.
inline OSErr WriteAllSamples(CSoundFile& file, const std::vector<SInt32>& samples)
{
    const std::size_t channels = file.GetNumChannels();
    const int bytes = file.GetNumBits() / 8;
    const UInt32 frames = UInt32(samples.size() / channels);
    OSErr err = file.AllocateWriteBuffer();
    if (err)
        return err;
    for (UInt32 pos = 0; pos < frames;) {
        err = file.PrepareWriteBlock(pos);
        if (err)
            return err;
        const UInt32 n = std::min(file.GetBufferFrames(), frames - pos);
        UInt8* p = file.GetWriteBuffer();
        for (std::size_t i = 0; i < std::size_t(n) * channels; ++i, p += bytes) {
            const UInt32 v = UInt32(samples[std::size_t(pos) * channels + i]);
            for (int k = 0; k < bytes; ++k)
                p[k] = UInt8(v >> (24 - 8 * k));
        }
        err = file.WriteBlock(n, pos);
        if (err)
            return err;
        pos += n;
    }
    return noErr;
}

// Deterministic test samples of a word length (top-aligned words),
// including both extremes and zero.
inline std::vector<SInt32> TestSamples(std::size_t count, int bits, unsigned seed = 7)
{
    std::mt19937 rng(seed);
    std::vector<SInt32> out(count);
    const int shift = 32 - bits;
    for (std::size_t i = 0; i < count; ++i) {
        SInt64 v = SInt64(SInt32(rng()));
        if (i % 97 == 1)
            v = std::numeric_limits<SInt32>::max();
        else if (i % 97 == 2)
            v = std::numeric_limits<SInt32>::min();
        else if (i % 97 == 3)
            v = 0;
        out[i] = SInt32(UInt32(v) >> shift << shift);
    }
    return out;
}

// The peers' decoding (one runner for every test).
using peers::FFmpegF32, peers::FFmpegS32, peers::FFprobeField, peers::SoxS32;

// Opens a file with a new object of class T.
template <typename T>
std::unique_ptr<T> OpenWith(const std::string& path, OSErr* result)
{
    auto file = std::make_unique<T>();
    OSErr err = file->SetFile(path);
    if (err == noErr)
        err = file->Open();
    *result = err;
    return file;
}

// Creates an output of class T named `name` (the type's extension is
// appended) in `folder`; *path gets the file's final path.
template <typename T>
std::unique_ptr<T> CreateWith(const std::string& folder, const std::string& name, UInt16 channels, SInt16 bits,
                              float rate, OSErr* result, const UInt8* specifics = nullptr)
{
    auto file = std::make_unique<T>();
    OSErr err = file->SetFile(folder + "/" + name);
    if (err == noErr)
        err = file->Create(channels, bits, 0, specifics, nullptr, rate);
    *result = err;
    return file;
}

} // namespace wavetest
