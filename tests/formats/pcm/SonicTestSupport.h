// Helpers of the Sound Designer I, Sonic AIFF and Dawn AIFF tests.
#pragma once

#include "AIFFTestSupport.h"
#include "CSoundFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sonictest {

// Creates `path` through a format object and writes `samples` (interleaved,
// block layout: big-endian bytes) with WriteBlock; returns the written path.
template <typename T, typename Before>
std::string WriteBlocks(const std::string& path, UInt16 channels, SInt16 bits, double rate, UInt32 reserved,
                        const std::vector<UInt8>& bytes, Before&& before)
{
    T file;
    EXPECT_EQ(file.SetFile(path), noErr);
    before(file);
    EXPECT_EQ(file.Create(channels, bits, reserved, nullptr, nullptr, float(rate)), noErr);
    const std::size_t frameBytes = std::size_t(channels) * std::size_t(bits / 8);
    const UInt32 total = UInt32(bytes.size() / frameBytes);
    for (UInt32 frame = 0; frame < total; frame += file.GetBufferFrames()) {
        EXPECT_EQ(file.AllocateWriteBuffer(), noErr);
        const UInt32 n = std::min(file.GetBufferFrames(), total - frame);
        std::copy(bytes.begin() + std::ptrdiff_t(frame * frameBytes),
                  bytes.begin() + std::ptrdiff_t((frame + n) * frameBytes), file.GetWriteBuffer());
        EXPECT_EQ(file.WriteBlock(n, frame), noErr);
    }
    EXPECT_EQ(file.Close(), noErr);
    return file.GetPath();
}

// Deterministic sample bytes.
inline std::vector<UInt8> Bytes(std::size_t count, UInt32 seed = 7)
{
    std::vector<UInt8> out(count);
    for (UInt8& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = UInt8(seed >> 16);
    }
    return out;
}

// The s-bit big-endian samples sox decodes from `path` (as raw big-endian).
inline std::vector<UInt8> SoxRaw(const std::string& path, int bits)
{
    const aifftest::RunResult r = aifftest::RunProgram(
        QStringLiteral("sox"), {QString::fromStdString(path), QStringLiteral("-t"), QStringLiteral("raw"),
                                QStringLiteral("-e"), QStringLiteral("signed-integer"), QStringLiteral("-b"),
                                QString::number(bits), QStringLiteral("-B"), QStringLiteral("-")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return std::vector<UInt8>(r.out.begin(), r.out.end());
}

// Sonic files end on a 256 KB boundary with an 'SSND' chunk that runs to
// the end of the file: sox reads that padding as silence after the samples
// (ffprobe and libsndfile stop at the 'COMM' frame count).
inline void ExpectSamplesThenSilence(const std::vector<UInt8>& decoded, const std::vector<UInt8>& samples)
{
    ASSERT_GE(decoded.size(), samples.size());
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), decoded.begin()));
    EXPECT_TRUE(std::all_of(decoded.begin() + std::ptrdiff_t(samples.size()), decoded.end(),
                            [](UInt8 b) { return b == 0; }));
}

// The frame count ffprobe reports for the first stream (-1 without ffprobe).
inline long FfprobeFrames(const std::string& path)
{
    const aifftest::RunResult r = aifftest::RunProgram(
        QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                    QStringLiteral("stream=duration_ts"), QStringLiteral("-of"),
                                    QStringLiteral("default=nw=1:nk=1"), QString::fromStdString(path)});
    return r.exitCode == 0 ? r.out.trimmed().toLong() : -1;
}

inline std::string Prefix(const std::string& path, std::size_t length, const std::string& out)
{
    std::vector<UInt8> d = aifftest::ReadAll(path);
    d.resize(std::min(d.size(), length));
    aifftest::WriteAll(out, d);
    return out;
}

} // namespace sonictest
