// Helpers of the WAVE family tests: running the peer programs, reading and
// writing whole files, driving a sound file's block I/O with exact samples,
// and small builders of hand-made RIFF files.
#pragma once

#include "CSoundFile.h"
#include "ChunkReader.h"
#include "MacTypes.h"
#include "PeerTools.h"

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

// A RIFF file built by hand.
class RIFFBuilder {
public:
    RIFFBuilder() { bytes_ = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}; }
    RIFFBuilder& chunk(const char* id, const std::vector<UInt8>& body, bool pad = true)
    {
        bytes_.insert(bytes_.end(), id, id + 4);
        put32(UInt32(body.size()));
        bytes_.insert(bytes_.end(), body.begin(), body.end());
        if (pad && (body.size() & 1))
            bytes_.push_back(0);
        return *this;
    }
    // A chunk header with a size of its own (no body follows it here).
    RIFFBuilder& header(const char* id, UInt32 size)
    {
        bytes_.insert(bytes_.end(), id, id + 4);
        put32(size);
        return *this;
    }
    RIFFBuilder& raw(const std::vector<UInt8>& body)
    {
        bytes_.insert(bytes_.end(), body.begin(), body.end());
        return *this;
    }
    std::vector<UInt8> build(bool patchSize = true) const
    {
        std::vector<UInt8> b = bytes_;
        if (patchSize) {
            const UInt32 size = UInt32(b.size() - 8);
            b[4] = UInt8(size);
            b[5] = UInt8(size >> 8);
            b[6] = UInt8(size >> 16);
            b[7] = UInt8(size >> 24);
        }
        return b;
    }

private:
    void put32(UInt32 v)
    {
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(UInt8(v >> (8 * i)));
    }
    std::vector<UInt8> bytes_;
};

// Little-endian field builder for chunk bodies.
class Body {
public:
    Body& u8(UInt8 v) { b.push_back(v); return *this; }
    Body& u16(UInt16 v) { b.push_back(UInt8(v)); b.push_back(UInt8(v >> 8)); return *this; }
    Body& u32(UInt32 v) { for (int i = 0; i < 4; ++i) b.push_back(UInt8(v >> (8 * i))); return *this; }
    Body& text(const char* t, std::size_t n) { for (std::size_t i = 0; i < n; ++i) b.push_back(UInt8(t[i])); return *this; }
    Body& zeros(std::size_t n) { b.insert(b.end(), n, 0); return *this; }
    std::vector<UInt8> b;
};

// A plain 'fmt ' body.
inline std::vector<UInt8> Fmt(UInt16 tag, UInt16 channels, UInt32 rate, UInt16 bits, UInt16 blockAlign)
{
    return Body().u16(tag).u16(channels).u32(rate).u32(rate * blockAlign).u16(blockAlign).u16(bits).b;
}

inline std::vector<UInt8> ExtensibleFmt(UInt16 channels, UInt32 rate, UInt16 bits, UInt16 blockAlign,
                                        UInt16 validBits, UInt32 mask, UInt32 subformat)
{
    Body body;
    body.u16(0xFFFE).u16(channels).u32(rate).u32(rate * blockAlign).u16(blockAlign).u16(bits);
    body.u16(22).u16(validBits).u32(mask).u32(subformat);
    const UInt8 tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    body.b.insert(body.b.end(), tail, tail + 12);
    return body.b;
}

// Every frame of an open file, each sample as a 32-bit word with the
// sample in its top bits (so every word length compares alike).
inline std::vector<SInt32> ReadAllSamples(CSoundFile& file)
{
    std::vector<SInt32> samples;
    const UInt32 frames = file.GetNumFrames();
    const std::size_t channels = file.GetNumChannels();
    const int bytes = file.GetNumBits() / 8;
    for (UInt32 pos = 0; pos < frames;) {
        EXPECT_EQ(file.AllocateReadBuffer(), noErr);
        const OSErr err = file.ReadBlock(pos);
        EXPECT_EQ(err, noErr);
        if (err)
            break;
        const UInt32 n = std::min(file.GetBufferFrames(), frames - pos);
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
