// Helpers of the AIFF family tests: running peer programs (sox, ffmpeg,
// libsndfile's tools) without a shell, reading and writing whole files, and
// writing a file through a format class.
#pragma once

#include "CAIFFFile.h"
#include "PeerTools.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace aifftest {

// The runner and file helpers of tests/support (PeerTools.h).
using peers::HaveProgram, peers::ReadAll, peers::RunProgram, peers::RunResult, peers::WriteAll;

inline UInt32 BE32(const std::vector<UInt8>& d, std::size_t at)
{
    return (UInt32(d[at]) << 24) | (UInt32(d[at + 1]) << 16) | (UInt32(d[at + 2]) << 8) | d[at + 3];
}
inline UInt16 BE16(const std::vector<UInt8>& d, std::size_t at)
{
    return UInt16((d[at] << 8) | d[at + 1]);
}
inline void PutBE32(std::vector<UInt8>& d, std::size_t at, UInt32 v)
{
    d[at] = UInt8(v >> 24);
    d[at + 1] = UInt8(v >> 16);
    d[at + 2] = UInt8(v >> 8);
    d[at + 3] = UInt8(v);
}

// Position of the first chunk `id` in an IFF file (walking from 12), or -1.
inline long FindChunkIn(const std::vector<UInt8>& d, const char* id)
{
    std::size_t pos = 12;
    while (pos + 8 <= d.size()) {
        if (std::string(reinterpret_cast<const char*>(&d[pos]), 4) == id) {
            return long(pos);
        }
        const UInt32 size = BE32(d, pos + 4);
        pos += 8 + std::size_t(size) + (size & 1);
    }
    return -1;
}

// A deterministic test signal in -0.9 .. 0.9, interleaved.
inline std::vector<double> Signal(UInt32 frames, UInt16 channels)
{
    std::vector<double> out(std::size_t(frames) * channels);
    UInt32 state = 12345;
    for (double& v : out) {
        state = state * 1103515245u + 12345u;
        v = (double((state >> 8) & 0xFFFF) / 65535.0 - 0.5) * 1.8;
    }
    return out;
}

// The block bytes of every frame of an opened file (big-endian, interleaved).
inline std::vector<UInt8> ReadAllBlocks(CSoundFile& file)
{
    std::vector<UInt8> out;
    const std::size_t bpf = std::size_t(file.GetNumChannels()) * std::size_t(file.GetNumBits() / 8);
    for (UInt32 frame = 0; frame < file.GetNumFrames(); frame += file.GetBufferFrames()) {
        if (file.ReadBlock(frame) != noErr) {
            break;
        }
        const UInt32 n = std::min(file.GetBufferFrames(), file.GetNumFrames() - frame);
        out.insert(out.end(), file.GetReadBuffer(), file.GetReadBuffer() + std::size_t(n) * bpf);
    }
    return out;
}

// A file of class T opened at `path`, expecting `expected`.
template <typename T>
std::unique_ptr<T> OpenFile(const std::string& path, OSErr expected = noErr)
{
    auto file = std::make_unique<T>();
    EXPECT_EQ(file->SetFile(path), noErr);
    EXPECT_EQ(file->Open(), expected) << path;
    return file;
}

// The AIFF tests' fixture: annotations read as written, in a fresh folder.
class AIFFFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetProcessFileIfNoRegions(false);
        SetIgnoreRegionsContainingWholeFile(false);
        SetSkipBadRegion(1);
    }
    TestTempDir dir;
};

} // namespace aifftest
