// Paris files: 8, 16 and packed 24-bit in both byte orders, written here and
// read by libsndfile sample-exact, and the other way round; header fields,
// the group layout of 24-bit data, split member names and damaged headers.
#include "CParisLinearFile.h"
#include "CreateSoundFile.h"
#include "ParisFileTypes.h"
#include "SoundFileRegistry.h"
#include "TestTempDir.h"
#include "WAVETestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstring>

using namespace wavetest;

namespace {

UInt32 Word(const std::vector<UInt8>& d, std::size_t at, bool little)
{
    if (little)
        return UInt32(d[at]) | (UInt32(d[at + 1]) << 8) | (UInt32(d[at + 2]) << 16) | (UInt32(d[at + 3]) << 24);
    return (UInt32(d[at]) << 24) | (UInt32(d[at + 1]) << 16) | (UInt32(d[at + 2]) << 8) | d[at + 3];
}

// A 2048-byte header (words in the magic's byte order), then `data`.
std::vector<UInt8> PafFile(bool little, UInt32 order, UInt32 rate, UInt32 format, UInt32 channels,
                           const std::vector<UInt8>& data)
{
    std::vector<UInt8> d(2048, 0);
    std::memcpy(d.data(), little ? "fap " : " paf", 4);
    const UInt32 words[] = {order, rate, format, channels, 5};
    for (int w = 0; w < 5; ++w)
        for (int b = 0; b < 4; ++b)
            d[8 + 4 * w + b] = UInt8(words[w] >> (little ? 8 * b : 24 - 8 * b));
    d.insert(d.end(), data.begin(), data.end());
    return d;
}

int SndfileSubtype(int bits)
{
    return bits == 8 ? SF_FORMAT_PCM_S8 : (bits == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
}

const UInt8 kBigEndian[256] = {'B'};
const UInt8 kLittleEndian[256] = {'L'};

} // namespace

// ================================================================ writing
TEST(ParisFile, WritesFilesLibsndfileReadsSampleExact)
{
    TestTempDir dir;
    for (bool little : {false, true}) {
        for (int bits : {8, 16, 24}) {
            for (int channels : {1, 2, 3}) {
                const std::string name = std::string(little ? "le" : "be") + std::to_string(bits) + "_" +
                                         std::to_string(channels);
                OSErr err;
                auto file = CreateWith<CParisLinearFile>(dir.path(), name, UInt16(channels), SInt16(bits), 44100.0f,
                                                         &err, little ? kLittleEndian : kBigEndian);
                ASSERT_EQ(err, noErr);
                EXPECT_EQ(file->GetState(), little ? kSampleFormatLittleEndian : kSampleFormatBigEndian);
                file->SetBufferFrames(37);   // blocks that end inside 24-bit groups
                const UInt32 frames = 1003;
                const auto samples = TestSamples(std::size_t(frames) * channels, bits, unsigned(bits * channels));
                ASSERT_EQ(WriteAllSamples(*file, samples), noErr);
                EXPECT_EQ(file->GetNumFrames(), frames);
                ASSERT_EQ(file->Close(), noErr);
                const std::string path = file->GetPath();
                EXPECT_EQ(path.substr(path.size() - 4), ".paf");

                const auto bytes = ReadAll(path);
                ASSERT_GE(bytes.size(), 2048u);
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), 4), little ? "fap " : " paf");
                EXPECT_EQ(Word(bytes, 8, little), little ? 1u : 0u);
                EXPECT_EQ(Word(bytes, 12, little), 44100u);
                EXPECT_EQ(Word(bytes, 16, little), bits == 16 ? 0u : (bits == 24 ? 1u : 2u));
                EXPECT_EQ(Word(bytes, 20, little), UInt32(channels));
                EXPECT_EQ(Word(bytes, 24, little), 5u);
                // 24-bit: whole groups only; the last one is padded with silence.
                const UInt32 stored = bits == 24 ? 1010 : frames;
                const std::size_t dataBytes = bits == 24 ? std::size_t(101) * channels * 32
                                                         : std::size_t(frames) * channels * bits / 8;
                EXPECT_EQ(bytes.size(), 2048u + dataBytes);

                auto expected = samples;
                expected.resize(std::size_t(stored) * channels, 0);
                const peers::SndfileView view = peers::ReadWithSndfile(path);
                EXPECT_EQ(view.samples, expected) << path;
                EXPECT_EQ(view.format, SF_FORMAT_PAF | SndfileSubtype(bits) | (little ? SF_ENDIAN_LITTLE : SF_ENDIAN_BIG)) << path;
                EXPECT_EQ(view.channels, channels);
                EXPECT_EQ(view.rate, 44100);

                auto back = OpenWith<CParisLinearFile>(path, &err);
                ASSERT_EQ(err, noErr);
                EXPECT_EQ(back->IsLittleEndian(), little);
                EXPECT_EQ(back->GetNumFrames(), stored);
                EXPECT_EQ(ReadAllSamples(*back), expected);
            }
        }
    }
}

TEST(ParisFile, RewritingFramesInsideAGroupKeepsItsNeighbours)
{
    TestTempDir dir;
    OSErr err;
    auto file = CreateWith<CParisLinearFile>(dir.path(), "re", 2, 24, 48000.7f, &err);
    ASSERT_EQ(err, noErr);
    file->SetBufferFrames(4);
    auto samples = TestSamples(2 * 30, 24, 5);
    ASSERT_EQ(WriteAllSamples(*file, samples), noErr);
    // Frames 13 and 14 again, then one frame far past the end.
    double values[4] = {0.5, -0.5, 0.25, -0.25};
    UInt32 count = 2;
    ASSERT_EQ(file->WriteFrames(13, &count, values), noErr);
    count = 1;
    ASSERT_EQ(file->WriteFrames(45, &count, values), noErr);
    EXPECT_EQ(file->GetNumFrames(), 46u);
    ASSERT_EQ(file->Close(), noErr);
    const auto bytes = ReadAll(file->GetPath());
    EXPECT_EQ(Word(bytes, 12, false), 48000u);
    EXPECT_EQ(bytes.size(), 2048u + 5 * 2 * 32);

    samples[26] = 0x3FFFFF00;   // 0.5 x 2147483647, top three bytes
    samples[27] = SInt32(0xC0000000u);
    samples[28] = 0x1FFFFF00;
    samples[29] = SInt32(0xE0000000u);
    samples.resize(2 * 50, 0);
    samples[90] = 0x3FFFFF00;
    samples[91] = SInt32(0xC0000000u);
    EXPECT_EQ(peers::ReadWithSndfile(file->GetPath()).samples, samples);
}

// ================================================================ reading
// Both byte orders and 24-bit groups from the library (sndfile-convert's
// files are in the conformance suite).
TEST(ParisFile, ReadsLibsndfileFilesSampleExact)
{
    TestTempDir dir;
    RegisterParisFileTypes();
    for (int endian : {SF_ENDIAN_BIG, SF_ENDIAN_LITTLE}) {
        for (int bits : {8, 16, 24}) {
            for (int channels : {1, 2, 5}) {
                const std::string path = dir.file("sf" + std::to_string(endian) + "_" + std::to_string(bits) + "_" +
                                                  std::to_string(channels) + ".paf");
                SF_INFO info{};
                info.samplerate = 22050;
                info.channels = channels;
                info.format = SF_FORMAT_PAF | SndfileSubtype(bits) | endian;
                SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
                ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
                const auto samples = TestSamples(std::size_t(640) * channels, bits, unsigned(bits + channels));
                std::vector<int> ints(samples.begin(), samples.end());
                sf_writef_int(sf, ints.data(), 640);
                sf_close(sf);

                OSType type = 0;
                ASSERT_EQ(DetectFileType(path, &type), noErr);
                ASSERT_EQ(type, FOUR_CHAR_CODE(" paf"));
                std::unique_ptr<CSoundFile> file(CreateSoundFileObject(type));
                ASSERT_TRUE(file);
                ASSERT_EQ(file->SetFile(path), noErr);
                ASSERT_EQ(file->Open(), noErr) << path;
                EXPECT_EQ(file->GetNumBits(), bits);
                EXPECT_EQ(file->GetNumChannels(), channels);
                EXPECT_EQ(file->GetSampleRate(), 22050.0);
                EXPECT_EQ(file->GetNumFrames(), 640u);
                file->SetBufferFrames(33);
                EXPECT_EQ(ReadAllSamples(*file), samples) << path;
                EXPECT_EQ(GetParisNumChannels(path), UInt32(channels));
            }
        }
    }
}

TEST(ParisFile, HeaderAndLengthRules)
{
    TestTempDir dir;
    const std::string path = dir.file("h.paf");
    OSErr err;

    // The same 16-bit stereo samples in both byte orders read alike.
    std::vector<UInt8> be, le;
    for (int i = 0; i < 400; ++i) {
        const UInt16 v = UInt16(i * 163 - 20000);
        be.push_back(UInt8(v >> 8));
        be.push_back(UInt8(v));
        le.push_back(UInt8(v));
        le.push_back(UInt8(v >> 8));
    }
    WriteAll(path, PafFile(false, 0, 44100, 0, 2, be));
    auto a = OpenWith<CParisLinearFile>(path, &err);
    ASSERT_EQ(err, noErr);
    const auto fromBig = ReadAllSamples(*a);
    WriteAll(path, PafFile(true, 1, 44100, 0, 2, le));
    auto b = OpenWith<CParisLinearFile>(path, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(b->GetSampleRate(), 44100.0);
    EXPECT_EQ(b->GetNumFrames(), 200u);
    EXPECT_EQ(ReadAllSamples(*b), fromBig);

    // 24-bit: 64 data bytes are 10 frames of two channels, 20 of one;
    // a block past the last group is silence.
    for (UInt32 channels : {1u, 2u}) {
        WriteAll(path, PafFile(false, 0, 8000, 1, channels, std::vector<UInt8>(64 + 20, 0x7F)));
        auto file = OpenWith<CParisLinearFile>(path, &err);
        ASSERT_EQ(err, noErr);
        EXPECT_EQ(file->GetNumFrames(), channels == 2 ? 10u : 20u);
        ASSERT_EQ(file->ReadBlock(40), noErr);
        for (std::size_t i = 0; i < std::size_t(file->GetBufferFrames()) * channels * 3; ++i)
            ASSERT_EQ(file->GetReadBuffer()[i], 0) << i;
    }

    // Refused: another magic, an unknown format code, no channels, too many.
    std::vector<std::vector<UInt8>> bad = {PafFile(false, 0, 8000, 3, 1, {}), PafFile(true, 1, 8000, 0, 0, {}),
                                           PafFile(false, 0, 8000, 0, 0x01000000, {})};
    bad.push_back(PafFile(false, 0, 8000, 0, 1, {}));
    bad.back()[1] = 'X';
    for (const auto& bytes : bad) {
        WriteAll(path, bytes);
        auto file = OpenWith<CParisLinearFile>(path, &err);
        EXPECT_EQ(err, kParisNoHeaderErr);
    }
    RegisterParisFileTypes();
    WriteAll(path, std::vector<UInt8>(40, 'x'));
    EXPECT_EQ(GetHeaderProbe(FOUR_CHAR_CODE(" paf"))(QString::fromStdString(path)), 0);
}

TEST(ParisFile, TruncatedFilesNeverReadPastTheirEnd)
{
    TestTempDir dir;
    const std::string path = dir.file("t.paf");
    for (UInt32 format : {0u, 1u}) {
        const auto full = PafFile(true, 1, 8000, format, 2, std::vector<UInt8>(130, 0x33));
        for (std::size_t length = 0; length <= full.size(); length += (length < 40 || length > 2040) ? 1 : 97) {
            WriteAll(path, std::vector<UInt8>(full.begin(), full.begin() + std::ptrdiff_t(length)));
            OSErr err;
            auto file = OpenWith<CParisLinearFile>(path, &err);
            if (length < 2048) {
                EXPECT_EQ(err, kParisNoHeaderErr) << length;  // a header not all there
                if (length < 28)
                    EXPECT_EQ(GetParisNumChannels(path), 0u);
                continue;
            }
            ASSERT_EQ(err, noErr) << length;
            const std::size_t data = length > 2048 ? length - 2048 : 0;
            EXPECT_EQ(file->GetNumFrames(), format == 1 ? data / 64 * 10 : data / 4) << length;
            EXPECT_EQ(ReadAllSamples(*file).size(), std::size_t(file->GetNumFrames()) * 2);
        }
    }
}
