// The IFF 8SVX format: written layout, round trips, the peers (sox,
// libsndfile) in both directions, and damaged input.
#include "CIFF8SVXFile.h"
#include "IFF8SVXAVRCDFileTypes.h"
#include "IFF8SVXAVRCDTestSupport.h"
#include "SoundFileRegistry.h"
#include "SoundFileSamples.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

using namespace smallpcm;

namespace {

class IFF8SVXFileTest : public ::testing::Test {
protected:
    void SetUp() override { SetProcessFileIfNoRegions(false); }
    TestTempDir dir;
};

std::vector<UInt8> Chunk(const char* id, const std::vector<UInt8>& body, long sizeField = -1)
{
    std::vector<UInt8> out(id, id + 4);
    out.resize(8);
    PutBE32(out, 4, sizeField < 0 ? UInt32(body.size()) : UInt32(sizeField));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1) {
        out.push_back(0);
    }
    return out;
}

std::vector<UInt8> VHDR(UInt32 oneShot, UInt16 rate, UInt8 compression = 0)
{
    std::vector<UInt8> body(20, 0);
    PutBE32(body, 0, oneShot);
    body[12] = UInt8(rate >> 8);
    body[13] = UInt8(rate);
    body[15] = compression;
    PutBE32(body, 16, 0x00010000);
    return body;
}

// A FORM/8SVX of the given chunks (FORM size as given, or the real one).
std::vector<UInt8> Form(const std::vector<std::vector<UInt8>>& chunks, long formSize = -1)
{
    std::vector<UInt8> out = {'F', 'O', 'R', 'M', 0, 0, 0, 0, '8', 'S', 'V', 'X'};
    for (const auto& c : chunks) {
        out.insert(out.end(), c.begin(), c.end());
    }
    PutBE32(out, 4, formSize < 0 ? UInt32(out.size() - 8) : UInt32(formSize));
    return out;
}

} // namespace

TEST_F(IFF8SVXFileTest, WrittenLayoutPadsAnOddBodyAndKeepsTheFrameCount)
{
    const std::vector<SInt32> samples = {-127, 126, 5};
    const std::string path = WriteSamples<CIFF8SVXFile>(dir.file("odd"), 1, 8, 22050.0f, samples);
    EXPECT_EQ(path, dir.file("odd.8svx"));
    const auto d = ReadAll(path);
    ASSERT_EQ(d.size(), 52u);
    EXPECT_EQ(std::string(d.begin(), d.begin() + 4), "FORM");
    EXPECT_EQ(BE32(d, 4), 44u);
    EXPECT_EQ(std::string(d.begin() + 8, d.begin() + 16), "8SVXVHDR");
    EXPECT_EQ(BE32(d, 16), 20u);
    EXPECT_EQ(BE32(d, 20), 3u);       // one-shot samples
    EXPECT_EQ(BE32(d, 24), 0u);
    EXPECT_EQ(BE32(d, 28), 0u);
    EXPECT_EQ(BE16(d, 32), 22050);    // samples per second
    EXPECT_EQ(d[34], 0);
    EXPECT_EQ(d[35], 0);
    EXPECT_EQ(BE32(d, 36), 0x00010000u);
    EXPECT_EQ(std::string(d.begin() + 40, d.begin() + 44), "BODY");
    EXPECT_EQ(BE32(d, 44), 3u);
    EXPECT_EQ(std::vector<UInt8>(d.begin() + 48, d.end()), (std::vector<UInt8>{0x81, 0x7E, 0x05, 0x00}));

    auto file = OpenFile<CIFF8SVXFile>(path);
    EXPECT_EQ(file->GetNumFrames(), 3u);  // the pad byte is no frame
    EXPECT_EQ(file->GetDataOffset(), 48);
    EXPECT_EQ(file->GetFormatName(), QStringLiteral("Amiga/IFF 8SVX"));
    EXPECT_EQ(file->Close(), noErr);
    EXPECT_EQ(file->Close(), fnOpnErr);
}

TEST_F(IFF8SVXFileTest, RatesUpTo65535AreStoredTruncated)
{
    // (Refused shapes: the conformance suite.)
    CIFF8SVXFile fastest;
    ASSERT_EQ(fastest.SetFile(dir.file("fastest")), noErr);
    EXPECT_EQ(fastest.Create(1, 8, 0, nullptr, nullptr, 65535.0f), noErr);
    EXPECT_EQ(fastest.Close(), noErr);
    // A fractional rate is stored truncated.
    const std::string path = WriteSamples<CIFF8SVXFile>(dir.file("frac"), 1, 8, 8000.9f, {1, 2});
    EXPECT_EQ(BE16(ReadAll(path), 32), 8000);
}

TEST_F(IFF8SVXFileTest, StereoPeerFilesAreRefusedNotMisread)
{
    QM_REQUIRE_PEER("sox");
    const std::vector<SInt32> samples = TestSamples(3333, 8);
    const std::string raw = dir.file("in.raw");
    WriteAll(raw, BlockBytes(samples, 8));
    const std::string peer = dir.file("peer.8svx");
    const RunResult r = RunProgram("sox", {"-t", "raw", "-r", "8000", "-e", "signed", "-b", "8", "-c", "1",
                                           QString::fromStdString(raw), QString::fromStdString(peer)});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // A stereo file (one channel after the other) is refused, not misread.
    const std::string stereo = dir.file("stereo.8svx");
    ASSERT_EQ(RunProgram("sox", {"-t", "raw", "-r", "8000", "-e", "signed", "-b", "8", "-c", "2",
                                 QString::fromStdString(raw), QString::fromStdString(stereo)})
                  .exitCode,
              0);
    OpenFile<CIFF8SVXFile>(stereo, kIFF8SVXChannelsErr);
    SInt16 result = -1;
    CIFF8SVXFile probe;
    ASSERT_EQ(probe.SetFile(peer), noErr);
    EXPECT_EQ(probe.ProbeHeader(&result), noErr);
    EXPECT_EQ(result, 0);
}

// The mono files the peers write, 8-bit 'FORM'/'8SVX' and 16-bit
// 'FORM'/'16SV' (big-endian words), are recognised and read as libsndfile
// reads them, word length and all.
struct PeerIFF {
    const char* name;
    const char* program;
    QStringList options;
    const char* extension;
    SInt16 bits;
};

void PrintTo(const PeerIFF& p, std::ostream* out)
{
    *out << p.name;
}

class IFFPeerFiles : public ::testing::TestWithParam<PeerIFF> {
protected:
    void SetUp() override { SetProcessFileIfNoRegions(false); }
    TestTempDir dir;
};

TEST_P(IFFPeerFiles, ReadSampleExactAtTheirWordLength)
{
    QM_REQUIRE_PEER("sox");
    QM_REQUIRE_PEER("sndfile-convert");
    const PeerIFF& p = GetParam();
    const QString in = QString::fromStdString(dir.file("in.wav"));
    ASSERT_EQ(RunProgram("sox", {"-n", "-r", "11025", "-b", "16", "-c", "1", in, "synth", "0.4", "whitenoise",
                                 "vol", "0.9"})
                  .exitCode,
              0);
    const std::string peer = dir.file(std::string("peer.") + p.extension);
    const RunResult r = RunProgram(p.program, p.options + QStringList{in, QString::fromStdString(peer)});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const std::vector<UInt8> bytes = ReadAll(peer);
    ASSERT_GE(bytes.size(), 12u);
    OSType type = 0;
    std::istringstream stream;
    EXPECT_EQ(Sniff8SVX(bytes.data(), stream, 0, &type), noErr);
    EXPECT_EQ(type, kIFF8SVXFileType);
    EXPECT_EQ(ProbeIFF8SVXChannels(QString::fromStdString(peer)), 1);

    const peers::SndfileView theirs = peers::ReadWithSndfile(peer);
    ASSERT_TRUE(theirs.opened);
    auto file = OpenFile<CIFF8SVXFile>(peer);
    ASSERT_TRUE(file->IsOpen());
    EXPECT_EQ(file->GetNumBits(), p.bits);
    EXPECT_EQ(file->GetNumChannels(), 1);
    EXPECT_EQ(file->GetSampleRate(), 11025.0);
    EXPECT_EQ(SInt64(file->GetNumFrames()), theirs.frames);
    EXPECT_EQ(soundfilesamples::ReadAllSamples(*file), theirs.samples);
}

INSTANTIATE_TEST_SUITE_P(Peers, IFFPeerFiles,
                         ::testing::Values(PeerIFF{"Sndfile16Bit", "sndfile-convert", {}, "svx", 16},
                                           PeerIFF{"Sndfile8Bit", "sndfile-convert", {"-pcms8"}, "svx", 8},
                                           PeerIFF{"Sox8Bit", "sox", {}, "8svx", 8}),
                         [](const ::testing::TestParamInfo<PeerIFF>& info) { return std::string(info.param.name); });

TEST_F(IFF8SVXFileTest, DamagedFilesAreRefusedOrClamped)
{
    const std::vector<UInt8> samples = {1, 2, 3, 4, 5, 6};
    const auto good = Form({Chunk("VHDR", VHDR(6, 8000)), Chunk("BODY", samples)});
    // Every truncation opens without crashing; the short ones are refused.
    for (std::size_t length = 0; length <= good.size(); ++length) {
        const std::string path = dir.file("cut" + std::to_string(length));
        WriteAll(path, std::vector<UInt8>(good.begin(), good.begin() + long(length)));
        CIFF8SVXFile file;
        ASSERT_EQ(file.SetFile(path), noErr);
        const OSErr err = file.Open();
        if (length < 12 + 28) {
            EXPECT_NE(err, noErr) << length;
        } else if (length < 48) {
            EXPECT_EQ(err, kChunkNotFoundErr) << length;
        } else {
            EXPECT_EQ(err, noErr) << length;
            EXPECT_EQ(file.GetNumFrames(), length - 48) << length;
            EXPECT_EQ(ReadAllBlocks(file), std::vector<UInt8>(samples.begin(), samples.begin() + long(length - 48)));
        }
        file.Close();
    }
    struct Case {
        const char* name;
        std::vector<UInt8> bytes;
        OSErr expected;
    } cases[] = {
        {"shortvhdr", Form({Chunk("VHDR", {0, 0, 0, 1}), Chunk("BODY", samples)}), kIFF8SVXNoVHDRErr},
        {"nobody", Form({Chunk("VHDR", VHDR(6, 8000))}), kChunkNotFoundErr},
        {"negative", Form({Chunk("ANNO", {'x', 'y'}, 0x80000000L), Chunk("VHDR", VHDR(6, 8000))}),
         kCorruptChunkSizeErr},
        {"notform", {'R', 'I', 'F', 'F', 0, 0, 0, 4, '8', 'S', 'V', 'X'}, kIFF8SVXNoVHDRErr},
    };
    for (const Case& c : cases) {
        WriteAll(dir.file(c.name), c.bytes);
        auto file = OpenFile<CIFF8SVXFile>(dir.file(c.name), c.expected);
        CIFF8SVXFile probe;
        ASSERT_EQ(probe.SetFile(dir.file(c.name)), noErr);
        SInt16 result = 0;
        if (c.expected == kChunkNotFoundErr) {
            EXPECT_EQ(probe.ProbeHeader(&result), noErr) << c.name;  // the voice header is there
        } else {
            EXPECT_EQ(probe.ProbeHeader(&result), c.expected) << c.name;
        }
    }
    // A BODY that promises more than the file holds, and an odd chunk
    // before the voice header, which is skipped with its pad byte.
    auto big = Form({Chunk("ANNO", {'a', 'b', 'c'}), Chunk("VHDR", VHDR(100, 8000))});
    auto body = Chunk("BODY", samples, 1000);
    big.insert(big.end(), body.begin(), body.end());
    PutBE32(big, 4, 0xFFFFFFFF);
    WriteAll(dir.file("big"), big);
    auto file = OpenFile<CIFF8SVXFile>(dir.file("big"));
    EXPECT_EQ(file->GetNumFrames(), samples.size());
    EXPECT_EQ(ReadAllBlocks(*file), samples);
}

