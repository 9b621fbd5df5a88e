// What the headerless telephony files and the annotated-voice file take
// from names, headers and the raw-file settings, and how their bytes are
// laid out.
#include "CodedTestSupport.h"
#include "RawFileSettings.h"
#include "TestTempDir.h"

#include <QDir>

#include <algorithm>

using namespace codedtest;

namespace {

// Restores the raw-file settings after a test.
struct RawSettingsGuard {
    RawSettingsGuard() : saved(RawFileSettings::Instance()) {}
    ~RawSettingsGuard()
    {
        RawFileSettings::SetSampleRate(saved.sampleRate);
        RawFileSettings::SetNumBits(saved.wordSize);
        RawFileSettings::SetBigEndian(saved.bigEndian);
        RawFileSettings::SetNumChannels(saved.numChannels);
    }
    RawFileSettings::Values saved;
};

double RateOf(OSType type, const std::string& path)
{
    OSErr err;
    auto file = OpenFile(type, path, &err);
    return err == noErr ? file->GetSampleRate() : -double(err);
}

} // namespace

TEST(DialogicFiles, RatesComeFromTheNameElseFromTheRawSettings)
{
    RawSettingsGuard guard;
    RawFileSettings::SetSampleRate(11025.0);
    TestTempDir dir;
    for (const char* name : {"call8", "call6", "call9", "call.vox", "take.al8", "take.ul6"})
        WriteBytes(dir.file(name), std::vector<UInt8>(1000, 0x18));
    for (OSType type : {FOUR_CHAR_CODE("DADP"), FOUR_CHAR_CODE("PADP")}) {
        EXPECT_EQ(RateOf(type, dir.file("call8")), 8000.0);
        EXPECT_EQ(RateOf(type, dir.file("call6")), 6000.0);
        EXPECT_EQ(RateOf(type, dir.file("call9")), 32000.0);
        EXPECT_EQ(RateOf(type, dir.file("call.vox")), 11025.0);
    }
    for (OSType type : {FOUR_CHAR_CODE("DALW"), FOUR_CHAR_CODE("DULW")}) {
        EXPECT_EQ(RateOf(type, dir.file("take.al8")), 8000.0);
        EXPECT_EQ(RateOf(type, dir.file("take.ul6")), 6000.0);
        EXPECT_EQ(RateOf(type, dir.file("call9")), 11025.0);  // '9' is not an A-law or mu-law rate
    }
    // Never 0 Hz: a raw rate that is no rate fails the file alone.
    RawFileSettings::SetSampleRate(0.0);
    EXPECT_EQ(RateOf(FOUR_CHAR_CODE("DADP"), dir.file("call.vox")), -double(kRawFileRateWarning));
    EXPECT_EQ(RateOf(FOUR_CHAR_CODE("DULW"), dir.file("call9")), -double(kRawFileRateWarning));

    OSErr err;
    auto file = OpenFile(FOUR_CHAR_CODE("DADP"), dir.file("call8"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetNumFrames(), 2000u);
}

TEST(DialogicFiles, NibbleOrderAndAnnotatedVoiceLayout)
{
    TestTempDir dir;
    // 0x18 decodes from reset as code 1 then code 8 (Dialogic), 8 then 1 (Pika).
    WriteBytes(dir.file("one8"), {0x18});
    OSErr err;
    auto dialogic = OpenFile(FOUR_CHAR_CODE("DADP"), dir.file("one8"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(ReadSamples16(*dialogic), (std::vector<int>{4 * 16, 2 * 16}));
    auto pika = OpenFile(FOUR_CHAR_CODE("PADP"), dir.file("one8"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(ReadSamples16(*pika), (std::vector<int>{-4 * 16, 2 * 16}));

    // The same audio: Pika bytes are Dialogic bytes with their nibbles
    // swapped; the annotated voice file is the Dialogic codes behind its header.
    const std::vector<double> audio = TestAudio(16001, 1);
    std::string dPath, pPath, vPath;
    ASSERT_EQ(WriteFile(FOUR_CHAR_CODE("DADP"), dir.file("d.ap8"), 1, 8000.0, 16, audio, &dPath), noErr);
    ASSERT_EQ(WriteFile(FOUR_CHAR_CODE("PADP"), dir.file("p.pi8"), 1, 8000.0, 16, audio, &pPath), noErr);
    ASSERT_EQ(WriteFile(FOUR_CHAR_CODE("DVAP"), dir.file("greeting.vap"), 1, 8000.0, 16, audio, &vPath), noErr);
    const std::vector<UInt8> d = ReadBytes(dPath);
    const std::vector<UInt8> p = ReadBytes(pPath);
    const std::vector<UInt8> v = ReadBytes(vPath);
    ASSERT_EQ(d.size(), 8000u);  // the odd last sample is not written
    ASSERT_EQ(p.size(), d.size());
    for (std::size_t i = 0; i < d.size(); ++i)
        ASSERT_EQ(p[i], UInt8((d[i] << 4) | (d[i] >> 4))) << i;
    const std::string name = vPath.substr(vPath.find_last_of('/') + 1);
    const std::size_t offset = 37 + name.size();
    ASSERT_EQ(v.size(), offset + d.size());
    auto le32 = [&](std::size_t at) { return UInt32(v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (v[at + 3] << 24)); };
    EXPECT_EQ(le32(0), 1u);
    EXPECT_EQ(le32(4), 8000u);
    EXPECT_EQ(le32(8), 1u);
    EXPECT_EQ(le32(24), offset);
    EXPECT_EQ(le32(28), 8000u);
    EXPECT_EQ(le32(32), 36u);
    EXPECT_EQ(std::string(v.begin() + 36, v.begin() + 36 + std::ptrdiff_t(name.size())), name);
    EXPECT_EQ(v[offset - 1], 0);
    EXPECT_TRUE(std::equal(d.begin(), d.end(), v.begin() + std::ptrdiff_t(offset)));

    // A data offset past the end of the file is refused.
    std::vector<UInt8> far = v;
    far[24] = 0xF0;
    far[25] = 0xFF;
    WriteBytes(dir.file("far.vap"), far);
    auto bad = OpenFile(FOUR_CHAR_CODE("DVAP"), dir.file("far.vap"), &err);
    EXPECT_EQ(err, -22008);
}

TEST(DialogicFiles, StereoIsRefusedBeforeAnythingIsMade)
{
    RegisterTypes();
    TestTempDir dir;
    for (const char* code : {"DADP", "PADP", "DVAP", "DALW", "DULW"}) {
        const OSType type = (OSType(UInt8(code[0])) << 24) | (OSType(UInt8(code[1])) << 16) |
                            (OSType(UInt8(code[2])) << 8) | OSType(UInt8(code[3]));
        std::unique_ptr<CSoundFile> file(CreateSoundFileObject(type));
        ASSERT_EQ(file->SetFile(dir.file("stereo")), noErr);
        EXPECT_EQ(file->Create(2, 16, 0, nullptr, nullptr, 8000.0f), -23900) << code;
    }
    EXPECT_TRUE(QDir(dir.qpath()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(DialogicFiles, PCMShapesFromExtensionOrRawSettings)
{
    RawSettingsGuard guard;
    TestTempDir dir;
    WriteBytes(dir.file("a.p16"), {0x12, 0x34});
    WriteBytes(dir.file("a.pc8"), {0x80, 0x00, 0xFF});
    WriteBytes(dir.file("a.PCM"), {0x80});
    std::vector<UInt8> stereo(40000);
    for (std::size_t i = 0; i < stereo.size(); ++i)
        stereo[i] = UInt8(i * 7);
    WriteBytes(dir.file("a.Pcm"), stereo);
    OSErr err;
    auto p16 = OpenFile(FOUR_CHAR_CODE("DPCM"), dir.file("a.p16"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(p16->GetNumBits(), 16);
    EXPECT_EQ(p16->GetSampleRate(), 8000.0);
    EXPECT_EQ(ReadSamples16(*p16), std::vector<int>{0x1234});
    auto pc8 = OpenFile(FOUR_CHAR_CODE("DPCM"), dir.file("a.pc8"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(pc8->GetNumBits(), 8);
    std::vector<double> values(3);
    UInt32 count = 3;
    ASSERT_EQ(pc8->ReadFrames(0, &count, values.data()), noErr);
    EXPECT_EQ(values, (std::vector<double>{0.0, -128 * kScale8, 127 * kScale8}));
    auto upper = OpenFile(FOUR_CHAR_CODE("DPCM"), dir.file("a.PCM"), &err);
    EXPECT_EQ(upper->GetNumBits(), 8);

    // Another extension: the raw settings, here stereo 16-bit little-endian.
    RawFileSettings::SetNumBits(16);
    RawFileSettings::SetBigEndian(0);
    RawFileSettings::SetNumChannels(2);
    RawFileSettings::SetSampleRate(22050.0);
    auto raw = OpenFile(FOUR_CHAR_CODE("DPCM"), dir.file("a.Pcm"), &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(raw->GetNumFrames(), 10000u);
    EXPECT_EQ(raw->GetSampleRate(), 22050.0);
    const std::vector<int> samples = ReadSamples16(*raw);
    EXPECT_EQ(samples[1], int16_t(UInt16(stereo[2] | (stereo[3] << 8))));
    // A channel count of 0 is refused.
    RawFileSettings::SetNumChannels(0);
    OpenFile(FOUR_CHAR_CODE("DPCM"), dir.file("a.Pcm"), &err);
    EXPECT_EQ(err, paramErr);
}

TEST(DialogicFiles, EightBitPCMAndCompandedBytesRoundTrip)
{
    RegisterTypes();
    TestTempDir dir;
    // 8-bit PCM: the block's signed bytes go to the file as unsigned bytes
    // (as the peers read them) and come back as they were.
    {
        std::unique_ptr<CSoundFile> out(CreateSoundFileObject(FOUR_CHAR_CODE("DPCM")));
        ASSERT_EQ(out->SetFile(dir.file("all")), noErr);
        ASSERT_EQ(out->Create(1, 8, 0, nullptr, nullptr, 8000.0f), noErr);
        ASSERT_EQ(out->PrepareWriteBlock(0), noErr);
        for (int i = 0; i < 256; ++i)
            out->GetWriteBuffer()[i] = UInt8(i);
        ASSERT_EQ(out->WriteBlock(256, 0), noErr);
        const std::string path = out->GetPath();
        ASSERT_EQ(out->Close(), noErr);
        EXPECT_EQ(path.substr(path.size() - 4), ".pc8");  // so that it reads back as 8-bit
        const std::vector<UInt8> bytes = ReadBytes(path);
        ASSERT_EQ(bytes.size(), 256u);
        for (int i = 0; i < 256; ++i)
            EXPECT_EQ(bytes[std::size_t(i)], UInt8(i + 128));
        OSErr err;
        auto in = OpenFile(FOUR_CHAR_CODE("DPCM"), path, &err);
        ASSERT_EQ(err, noErr);
        ASSERT_EQ(in->ReadBlock(0), noErr);
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(in->GetReadBuffer()[i], UInt8(i)) << i;
    }
    // Every A-law and mu-law byte read and written again gives the same byte.
    std::vector<UInt8> all(256);
    for (int i = 0; i < 256; ++i)
        all[std::size_t(i)] = UInt8(i);
    for (const auto& [code, name] : {std::pair{FOUR_CHAR_CODE("DALW"), "all.al8"}, std::pair{FOUR_CHAR_CODE("DULW"), "all.ul8"}}) {
        WriteBytes(dir.file(name), all);
        OSErr err;
        auto in = OpenFile(code, dir.file(name), &err);
        ASSERT_EQ(err, noErr);
        std::vector<double> values(256);
        UInt32 count = 256;
        ASSERT_EQ(in->ReadFrames(0, &count, values.data()), noErr);
        std::string path;
        ASSERT_EQ(WriteFile(code, dir.file(std::string("copy_") + name), 1, 8000.0, 16, values, &path), noErr);
        std::vector<UInt8> back = ReadBytes(path);
        if (code == FOUR_CHAR_CODE("DULW"))
            back[0x7F] = 0x7F;  // mu-law has two codes for 0; 0x7F is written as 0xFF
        EXPECT_EQ(back, all) << name;
    }
    OSErr err;
    WriteBytes(dir.file("b.al8"), {0xD5, 0x55});
    auto alaw = OpenFile(FOUR_CHAR_CODE("DALW"), dir.file("b.al8"), &err);
    EXPECT_EQ(ReadSamples16(*alaw), (std::vector<int>{8, -8}));
    WriteBytes(dir.file("b.ul8"), {0x80, 0x00});
    auto ulaw = OpenFile(FOUR_CHAR_CODE("DULW"), dir.file("b.ul8"), &err);
    EXPECT_EQ(ReadSamples16(*ulaw), (std::vector<int>{32124, -32124}));
}
