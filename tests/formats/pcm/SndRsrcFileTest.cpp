// System 7 sound files ('sfil'): the resource fork we write, byte by byte
// and through the Resource Manager; round trips; hand-built 'snd '
// resources of every accepted and refused form; size limits.
#include "AIFFTestSupport.h"
#include "CSndRsrcFile.h"
#include "CreateSoundFile.h"
#include "FileManager.h"
#include "MemoryManager.h"
#include "ResourceManager.h"
#include "SndRsrcFileTypes.h"
#include "TestTempDir.h"
#include "ZuResourceFile.h"
#include "ieee_extended.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using aifftest::BE32, aifftest::PutBE32;

void PutBE16(std::vector<UInt8>& b, std::size_t at, UInt32 v)
{
    b[at] = UInt8(v >> 8);
    b[at + 1] = UInt8(v);
}

// The whole resource fork of a file, through the platform layer.
std::vector<UInt8> ReadResourceFork(const std::string& path)
{
    FSSpec spec;
    EXPECT_EQ(PathMakeFSSpec(path, &spec), noErr);
    SInt16 ref = 0;
    EXPECT_EQ(FSpOpenRF(&spec, fsRdPerm, &ref), noErr);
    SInt64 size = 0;
    GetEOF(ref, &size);
    std::vector<UInt8> bytes(static_cast<std::size_t>(size));
    SInt32 n = SInt32(size);
    FSRead(ref, &n, bytes.data());
    FSClose(ref);
    return bytes;
}

// Writes `frames` frames of a ramp through the block API; returns the path
// the file got.
std::string WriteSound(const std::string& base, UInt16 channels, SInt16 bits, float rate, UInt32 frames,
                       std::vector<UInt8>* block = nullptr)
{
    CSndRsrcFile file;
    EXPECT_EQ(file.SetFile(base), noErr);
    EXPECT_EQ(file.Create(channels, bits, 0, nullptr, nullptr, rate), noErr);
    file.SetBufferFrames(1000);
    const std::size_t frameBytes = std::size_t(channels) * std::size_t(bits / 8);
    std::vector<UInt8> all;
    for (UInt32 f = 0; f < frames; f += 1000) {
        const UInt32 n = std::min<UInt32>(1000, frames - f);
        EXPECT_EQ(file.PrepareWriteBlock(f), noErr);
        for (std::size_t i = 0; i < n * frameBytes; ++i)
            file.GetWriteBuffer()[i] = UInt8((f * frameBytes + i) * 37 + i / 7);
        all.insert(all.end(), file.GetWriteBuffer(), file.GetWriteBuffer() + n * frameBytes);
        EXPECT_EQ(file.WriteBlock(n, f), noErr);
    }
    EXPECT_EQ(file.Close(), noErr);
    if (block)
        *block = all;
    return file.GetPath();
}

std::vector<UInt8> ReadSound(const std::string& path, CSndRsrcFile& file)
{
    EXPECT_EQ(file.SetFile(path), noErr);
    EXPECT_EQ(file.Open(), noErr);
    file.SetBufferFrames(777);
    std::vector<UInt8> all;
    const std::size_t frameBytes = std::size_t(file.GetNumChannels()) * std::size_t(file.GetNumBits() / 8);
    for (UInt32 f = 0; f < file.GetNumFrames(); f += 777) {
        EXPECT_EQ(file.ReadBlock(f), noErr);
        const UInt32 n = std::min<UInt32>(777, file.GetNumFrames() - f);
        all.insert(all.end(), file.GetReadBuffer(), file.GetReadBuffer() + n * frameBytes);
    }
    return all;
}

class SndRsrcTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterSndRsrcFileTypes(); }
    TestTempDir dir;
};

TEST_F(SndRsrcTest, ForkLayoutOfAWrittenSound)
{
    std::vector<UInt8> samples;
    const std::string path = WriteSound(dir.file("Voice"), 1, 16, 22050.0f, 44100, &samples);
    const auto fork = ReadResourceFork(path);
    ASSERT_EQ(fork.size(), 344u + 88200u + 306u);
    EXPECT_EQ(BE32(fork, 0), 256u);
    EXPECT_EQ(BE32(fork, 4), 88544u);
    EXPECT_EQ(BE32(fork, 8), 88288u);
    EXPECT_EQ(BE32(fork, 12), 306u);
    EXPECT_EQ(BE32(fork, 256), 88284u);
    const std::size_t h = 260;
    EXPECT_EQ(BE32(fork, h + 6), 0xA0u);
    EXPECT_EQ(BE32(fork, h + 12), 0x80510000u);
    EXPECT_EQ(BE32(fork, h + 16), 20u);
    EXPECT_EQ(BE32(fork, h + 24), 1u);
    EXPECT_EQ(BE32(fork, h + 28), 0x56220000u);
    EXPECT_EQ(fork[h + 40], 0xFF);
    EXPECT_EQ(fork[h + 41], 0x3C);
    EXPECT_EQ(BE32(fork, h + 42), 44100u);
    EXPECT_EQ(ConvertFromIeeeExtended(&fork[h + 46]), 22050.0);
    EXPECT_EQ(fork[h + 68] << 8 | fork[h + 69], 16);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), fork.begin() + 344));
    // The map: a copy of the header, one 'snd ' of ID 13456, purgeable,
    // named after the file.
    const std::size_t m = 344 + 88200;
    EXPECT_TRUE(std::equal(fork.begin(), fork.begin() + 16, fork.begin() + std::ptrdiff_t(m)));
    EXPECT_EQ(BE32(fork, m + 30), FOUR_CHAR_CODE("snd "));
    EXPECT_EQ(fork[m + 38] << 8 | fork[m + 39], 13456);
    EXPECT_EQ(fork[m + 42], 0x20);
    const std::string stored(reinterpret_cast<const char*>(&fork[m + 51]), fork[m + 50]);
    EXPECT_EQ(stored, path.substr(path.rfind('/') + 1));

    // The Resource Manager reads the fork, and detection knows the type.
    ZuResourceFile resources(path, true);
    Handle sound = resources.GetResource(FOUR_CHAR_CODE("snd "), 13456);
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(GetHandleSize(sound), 84 + 88200);
    DisposeHandle(sound);
    OSType type = 0;
    EXPECT_EQ(DetectFileType(path, &type), noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("sfil"));
}

TEST_F(SndRsrcTest, RoundTripsAndUnsignedBytes)
{
    struct Case { UInt16 channels; SInt16 bits; float rate; };
    int n = 0;
    for (const Case c : {Case{1, 8, 11025.0f}, Case{2, 8, 22254.5f}, Case{2, 16, 48000.0f}}) {
        std::vector<UInt8> samples;
        const std::string path = WriteSound(dir.file("rt" + std::to_string(n++)), c.channels, c.bits, c.rate, 2500,
                                            &samples);
        CSndRsrcFile in;
        EXPECT_EQ(ReadSound(path, in), samples);
        EXPECT_EQ(in.GetNumChannels(), c.channels);
        EXPECT_EQ(in.GetNumBits(), c.bits);
        EXPECT_EQ(in.GetNumFrames(), 2500u);
        EXPECT_NEAR(in.GetSampleRate(), c.rate, 1.0 / 65536);
        EXPECT_EQ(in.GetState(), c.bits == 8 ? kSampleFormatUnsigned8 : kSampleFormatBigEndian);
        // Past the end: silence.
        ASSERT_EQ(in.ReadBlock(2400), noErr);
        EXPECT_EQ(in.GetReadBuffer()[776 * c.channels * (c.bits / 8)], 0);
        EXPECT_EQ(in.Close(), noErr);
        if (c.bits == 8) {
            const auto fork = ReadResourceFork(path);
            EXPECT_EQ(fork[344], UInt8(samples[0] ^ 0x80));
            EXPECT_EQ(BE32(fork, 260 + 6), c.channels == 1 ? 0xA0u : 0xE0u);
        }
    }
}

TEST_F(SndRsrcTest, CreateAndWriteLimits)
{
    // (Refused shapes and existing files: the conformance suite.)
    CSndRsrcFile big;
    big.SetFile(dir.file("big"));
    ASSERT_EQ(big.Create(2, 16, 0, nullptr, nullptr, 44100.0f), noErr);
    big.SetBufferFrames(16);
    ASSERT_EQ(big.PrepareWriteBlock(0), noErr);
    EXPECT_EQ(big.WriteBlock(16, 16777216 / 4 - 15), kSndTooBigErr);
    EXPECT_EQ(big.WriteBlock(16, 0), noErr);
    EXPECT_EQ(big.Close(), noErr);
}

// A file whose resource fork holds `data` as 'snd ' 128.
std::string MakeResource(const TestTempDir& dir, const std::string& name, const std::vector<UInt8>& data)
{
    const std::string path = dir.file(name);
    ZuResourceFile file(path, true);
    Handle h = NewHandle(Size(data.size()));
    if (!data.empty())
        std::memcpy(*h, data.data(), data.size());
    file.PutResource(FOUR_CHAR_CODE("snd "), 128, h, QString());
    DisposeHandle(h);
    return path;
}

// Format 1 with `commands` commands and a standard (22-byte) header.
std::vector<UInt8> Format1Standard(UInt16 commands, UInt8 encoding, UInt32 frames, std::size_t sampleBytes)
{
    const std::size_t at = 12 + 8 * std::size_t(commands);
    std::vector<UInt8> r(at + 22 + sampleBytes, 0);
    PutBE16(r, 0, 1);
    PutBE16(r, 2, 1);
    PutBE16(r, 4, 5);
    PutBE16(r, 10, commands);
    PutBE32(r, at + 4, frames);
    PutBE32(r, at + 8, 0x1F400000); // 8000 Hz
    r[at + 20] = encoding;
    for (std::size_t i = 0; i < sampleBytes; ++i)
        r[at + 22 + i] = UInt8(0x80 + i);
    return r;
}

TEST_F(SndRsrcTest, HandBuiltResources)
{
    // Format 2: 8-bit mono after the 22-byte header.
    {
        std::vector<UInt8> r(6 + 8 + 22 + 5, 0);
        PutBE16(r, 0, 2);
        PutBE16(r, 4, 1);
        PutBE32(r, 14 + 4, 5);
        PutBE32(r, 14 + 8, 0x56220000);
        for (int i = 0; i < 5; ++i)
            r[36 + std::size_t(i)] = UInt8(0x80 + i);
        CSndRsrcFile file;
        EXPECT_EQ(ReadSound(MakeResource(dir, "f2", r), file), (std::vector<UInt8>{0, 1, 2, 3, 4}));
        EXPECT_EQ(file.GetDataStart(), 36);
        EXPECT_EQ(file.GetSampleRate(), 22050.0);
        EXPECT_EQ(file.GetNumChannels(), 1);
    }
    // Format 1 with a standard header, two commands; more frames promised
    // than the resource holds are clamped.
    {
        CSndRsrcFile file;
        EXPECT_EQ(ReadSound(MakeResource(dir, "f1", Format1Standard(2, 0, 1000, 3)), file),
                  (std::vector<UInt8>{0, 1, 2}));
        EXPECT_EQ(file.GetDataStart(), 8 * 2 + 34);
        EXPECT_EQ(file.GetSampleRate(), 8000.0);
    }
    auto openErr = [&](const std::string& name, const std::vector<UInt8>& r) {
        CSndRsrcFile file;
        file.SetFile(MakeResource(dir, name, r));
        return file.Open();
    };
    EXPECT_EQ(openErr("comp", Format1Standard(1, 0xFE, 3, 3)), kUnsupportedDataErr);
    EXPECT_EQ(openErr("enc", Format1Standard(1, 0x07, 3, 3)), kSndUndocumentedErr);
    // A synthesizer, two data types, format 3, and a command count that puts
    // the header outside the resource.
    for (const auto& [name, at, value, err] : {std::tuple{"synth", 4, 1u, kSndNotSampledErr},
             std::tuple{"types", 2, 2u, kSndMultipleTypesErr}, std::tuple{"f3", 0, 3u, kSndUndocumentedErr},
             std::tuple{"cmds", 10, 0xFFFFu, kSndUndocumentedErr}}) {
        auto r = Format1Standard(1, 0, 3, 3);
        PutBE16(r, std::size_t(at), value);
        EXPECT_EQ(openErr(name, r), err) << name;
    }
    EXPECT_EQ(openErr("short", {0, 1, 0}), kSndUndocumentedErr);

    // Every truncation of a written resource opens or is refused cleanly.
    std::vector<UInt8> written = ReadResourceFork(WriteSound(dir.file("src"), 2, 16, 8000.0f, 6));
    std::vector<UInt8> data(written.begin() + 260, written.begin() + 260 + 84 + 24);
    for (std::size_t len = 0; len <= data.size(); ++len) {
        CSndRsrcFile file;
        file.SetFile(MakeResource(dir, "cut" + std::to_string(len), {data.begin(), data.begin() + std::ptrdiff_t(len)}));
        if (file.Open() == noErr) {
            EXPECT_LE(file.GetDataStart() + SInt64(file.GetNumFrames()) * 4, SInt64(len));
            EXPECT_EQ(file.ReadBlock(0), noErr);
            EXPECT_EQ(file.Close(), noErr);
        }
    }

    // A file without any 'snd ' resource: no error, no frames.
    {
        const std::string path = dir.file("none");
        ZuResourceFile other(path, true);
        other.PutStringResource(QStringLiteral("hello"), 128, QString());
        CSndRsrcFile file;
        file.SetFile(path);
        EXPECT_EQ(file.Open(), noErr);
        EXPECT_EQ(file.GetNumFrames(), 0u);
        EXPECT_EQ(file.Close(), noErr);
        SInt16 result = -1;
        EXPECT_EQ(file.ProbeHeader(&result), noErr);
        EXPECT_EQ(result, 0);
    }
}

} // namespace
