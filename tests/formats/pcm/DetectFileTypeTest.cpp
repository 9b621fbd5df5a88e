// Type detection from the HFS type in the sidecar, the header bytes (the
// sniffers the PCM formats register), the extension and the raw-file
// settings, on hand-made files.
#include "AppleDoubleFile.h"
#include "CNeXT_SUNFile.h"
#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "DetectionFiles.h"
#include "PCMFileTypes.h"
#include "RawFileSettings.h"
#include "SoundFileRegistry.h"
#include "TestTempDir.h"
#include "ZuResourceFile.h"

#include <gtest/gtest.h>


using namespace detection_files;

namespace {

constexpr OSType T(const char (&s)[5]) { return FOUR_CHAR_CODE(s); }

struct Detected {
    OSErr err = 1;
    OSType type = 0;
    SInt32 recognized = -1;
    SInt32 configuration = -1;
};

Detected Detect(const std::string& path)
{
    Detected d;
    std::vector<std::string> members;
    std::string name;
    d.err = DetectFileType(path, &d.type, &d.recognized, &members, &name, &d.configuration, false);
    return d;
}

class DetectFileTypeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearSoundFileRegistries();
        RegisterPCMFileTypes();
        RawFileSettings::Release();
    }
    void TearDown() override { RawFileSettings::Release(); }

    std::string Make(const std::string& name, const Bytes& bytes)
    {
        const std::string path = dir.file(name);
        WriteFile(path, bytes);
        return path;
    }

    TestTempDir dir;
};

TEST_F(DetectFileTypeTest, NeXTEncodings)
{
    const struct {
        UInt32 encoding;
        OSErr err;
        OSType type;
    } cases[] = {
        {1, noErr, T("ulaw")},  {2, noErr, T("NxTS")},  {3, noErr, T("NxTS")},
        {4, noErr, T("NxTS")},  {5, noErr, T("NxTS")},  {27, noErr, T("NSAL")},
        // G.723 ADPCM is not A-law.
        {25, -22600, 0},        {23, -22600, 0},        {0, -22600, 0},
        {6, -22600, 0},         {26, -22600, 0},        {28, -22600, 0},
    };
    for (const auto& c : cases) {
        const Detected d = Detect(Make("tone.au", NeXT(c.encoding)));
        EXPECT_EQ(d.err, c.err) << "encoding " << c.encoding;
        EXPECT_EQ(d.recognized, 1) << "encoding " << c.encoding;
        if (c.err == noErr) {
            EXPECT_EQ(d.type, c.type) << "encoding " << c.encoding;
            EXPECT_EQ(d.configuration, kChannelConfigMultichannel);
        }
    }
}

TEST_F(DetectFileTypeTest, HeaderMagics)
{
    EXPECT_EQ(Detect(Make("a.dat", Paris(1, false))).type, T(" paf"));
    EXPECT_EQ(Detect(Make("b.dat", Paris(2, true))).type, T(" paf"));

    Bytes avr;
    Append(avr, "2BIT");
    avr.resize(128, 0);
    EXPECT_EQ(Detect(Make("c.dat", avr)).type, T(".AVR"));

    Bytes svx;
    Append(svx, "FORM");
    BE32(svx, 20);
    Append(svx, "8SVX");
    svx.resize(28, 0);
    EXPECT_EQ(Detect(Make("d.dat", svx)).type, T("8SVX"));

    // Creative Voice: block 8 or 9 declares the format ('VOC2').
    EXPECT_EQ(Detect(Make("e.dat", Voc({1}))).type, T("VOC "));
    EXPECT_EQ(Detect(Make("f.dat", Voc({8, 1}))).type, T("VOC2"));
    EXPECT_EQ(Detect(Make("g.dat", Voc({9}))).type, T("VOC2"));
    EXPECT_EQ(Detect(Make("h.dat", Voc({5, 1, 8}))).type, T("VOC2"));
    // A block length that runs past the end: no block 8 found.
    Bytes cut = Voc({1});
    cut[27] = 0xFF;
    cut[28] = 0xFF;
    cut[29] = 0xFF;
    EXPECT_EQ(Detect(Make("i.dat", cut)).type, T("VOC "));
}

TEST_F(DetectFileTypeTest, RIFFFormatTags)
{
    const struct {
        UInt16 tag;
        bool bext;
        OSType type;
    } cases[] = {
        {1, false, T("WAVE")},   {1, true, T("BWLN")},    {0xFFFE, false, T("WAVE")},
        {0xFFFE, true, T("BWLN")}, {2, false, T("MSAP")}, {3, false, T("WVfl")},
        {6, false, T("WVal")},   {7, false, T("WVau")},   {0x42, false, T("G729")},
    };
    for (const auto& c : cases) {
        for (bool junkFirst : {false, true}) {
            const Detected d = Detect(Make("x.wav", Wave(c.tag, 1, c.bext, junkFirst)));
            EXPECT_EQ(d.err, noErr) << c.tag << " junk " << junkFirst;
            EXPECT_EQ(d.type, c.type) << c.tag << " junk " << junkFirst;
        }
    }
    // An unknown tag is an unknown file ("wav" maps to no type by itself).
    const Detected unknown = Detect(Make("y.wav", Wave(0x55)));
    EXPECT_EQ(unknown.err, kUnknownFileFormatErr);
    EXPECT_EQ(unknown.recognized, 0);
    // No "fmt " chunk: detection ends saying the file lacks it, as its
    // reading does.
    const Detected noFmt = Detect(Make("z.wav", Wave(1, 1, false, true, false)));
    EXPECT_EQ(noFmt.err, kWAVENoFmtChunkErr);
    EXPECT_EQ(noFmt.recognized, 1);
    // A negative chunk size on the way to "fmt ": the WAVE finder reports
    // the chunk as missing.
    Bytes bad = Wave(1, 1, false, true);
    bad[16] = 0x00, bad[17] = 0x00, bad[18] = 0x00, bad[19] = 0x80;
    EXPECT_EQ(Detect(Make("w.wav", bad)).err, kWAVENoFmtChunkErr);
}

TEST_F(DetectFileTypeTest, AIFFFamily)
{
    EXPECT_EQ(Detect(Make("a.aif", Aiff(1))).type, T("AIFF"));
    EXPECT_EQ(Detect(Make("b.aif", Aiff(1, "SSYS"))).type, T("SAIF"));
    EXPECT_EQ(Detect(Make("c.aif", Aiff(1, "abcd"))).type, T("AIFF"));

    // Creator codes from the sidecar: 'SSYS' is Sonic, 'CARI' Dawn, but an
    // "APPL" chunk signed "SSYS" wins over 'CARI'.
    const std::string dawn = Make("d.aif", Aiff(1));
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(dawn, T("AIFF"), T("CARI"), 0), noErr);
    EXPECT_EQ(Detect(dawn).type, T("Dawn"));
    const std::string sonicDawn = Make("e.aif", Aiff(1, "SSYS"));
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(sonicDawn, T("AIFF"), T("CARI"), 0), noErr);
    EXPECT_EQ(Detect(sonicDawn).type, T("SAIF"));
    const std::string sonic = Make("f.aif", Aiff(1));
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(sonic, T("AIFF"), T("SSYS"), 0), noErr);
    EXPECT_EQ(Detect(sonic).type, T("SAIF"));

    for (const char* linear : {"NONE", "none", "sowt", "in24", "in32", "fl32", "42ni", "23ni", "23lf", "able"})
        EXPECT_EQ(Detect(Make("g.aifc", Aiff(1, "", linear))).type, T("AIFC")) << linear;
    EXPECT_EQ(Detect(Make("h.aifc", Aiff(1, "", "ima4"))).type, T("A1t4"));
    EXPECT_EQ(Detect(Make("i.aifc", Aiff(1, "", "twos"))).type, T("MooV"));
    EXPECT_EQ(Detect(Make("j.aifc", Aiff(1, "", "fl64"))).type, T("MooV"));
    // AIFF-C without "COMM".
    EXPECT_EQ(Detect(Make("k.aifc", Aiff(1, "", "NONE", false))).err, -22004);
}

TEST_F(DetectFileTypeTest, HFSTypeFromSidecar)
{
    // 'Mp3 ' wins whatever the data; 'SFIL' is Sound Designer I.
    const std::string mp3 = Make("song.wav", Wave());
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(mp3, T("Mp3 "), T("TVOD"), 0), noErr);
    EXPECT_EQ(Detect(mp3).type, T("Mp3 "));
    for (const char* kept : {"Mpg4", "MMIX", "8SVX", "sfil"}) {
        const std::string path = Make("k.bin", Bytes(4, 0));
        ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(path, FourCharCodeFromString(kept), 0, 0), noErr);
        EXPECT_EQ(Detect(path).type, FourCharCodeFromString(kept)) << kept;
    }
    const std::string sd1 = Make("old.bin", Bytes(2, 0));
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(sd1, T("SFIL"), 0, 0), noErr);
    EXPECT_EQ(Detect(sd1).type, T("Sd1f"));

    // 'MooV' on a file nothing else recognises: 'MooV', recognised flag 0.
    const std::string movie = Make("clip.xyz", Bytes(40, 7));
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(movie, T("MooV"), 0, 0), noErr);
    const Detected m = Detect(movie);
    EXPECT_EQ(m.err, noErr);
    EXPECT_EQ(m.type, T("MooV"));
    EXPECT_EQ(m.recognized, 0);

    // A malformed sidecar is no sidecar: the header decides.
    const std::string wave = Make("plain.wav", Wave());
    WriteText(AppleDoubleFile::SidecarPathFor(wave), "garbage that is no AppleDouble file");
    EXPECT_EQ(Detect(wave).type, T("WAVE"));
}

TEST_F(DetectFileTypeTest, SoundDesignerIIResources)
{
    // Type 'Sd2f' without the resources: straight to the extension step,
    // even when the data is a valid WAVE file.
    const std::string bare = Make("take.xyz", Wave());
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(bare, T("Sd2f"), T("Sd2a"), 0), noErr);
    EXPECT_EQ(CheckSDIIResources(bare), kUnknownFileFormatErr);
    Detected d = Detect(bare);
    EXPECT_EQ(d.err, kUnknownFileFormatErr);
    EXPECT_EQ(d.recognized, 0);

    // With the extension "sd2" the table gives 'Sd2f'.
    const std::string named = Make("take.sd2", Wave());
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(named, T("Sd2f"), T("Sd2a"), 0), noErr);
    d = Detect(named);
    EXPECT_EQ(d.err, noErr);
    EXPECT_EQ(d.type, T("Sd2f"));
    EXPECT_EQ(d.recognized, 1);

    // An empty resource fork is as good as none.
    const std::string empty = Make("e.xyz", Bytes(16, 0));
    ASSERT_EQ(AppleDoubleFile::WriteFinderInfo(empty, T("Sd2f"), T("Sd2a"), 0), noErr);
    ASSERT_EQ(AppleDoubleFile::WriteResourceFork(empty, QByteArray()), noErr);
    EXPECT_EQ(CheckSDIIResources(empty), kUnknownFileFormatErr);

    // Two of the three resources: still absent.
    const std::string partial = Make("p.xyz", Bytes(16, 0));
    {
        ZuResourceFile resources(partial, true);
        resources.CreateFork(T("Sd2f"), T("Sd2a"));
        resources.PutStringResource(QStringLiteral("2"), 1000, QStringLiteral("sample-size"));
        resources.PutStringResource(QStringLiteral("44100.000000"), 1001, QStringLiteral("sample-rate"));
    }
    EXPECT_EQ(CheckSDIIResources(partial), kUnknownFileFormatErr);

    // All three: 'Sd2f' without looking at the data.
    const std::string full = Make("f.xyz", Bytes(16, 0));
    {
        ZuResourceFile resources(full, true);
        resources.CreateFork(T("Sd2f"), T("Sd2a"));
        resources.PutStringResource(QStringLiteral("2"), 1000, QStringLiteral("sample-size"));
        resources.PutStringResource(QStringLiteral("44100.000000"), 1001, QStringLiteral("sample-rate"));
        resources.PutStringResource(QStringLiteral("1"), 1002, QStringLiteral("channels"));
    }
    EXPECT_EQ(CheckSDIIResources(full), noErr);
    d = Detect(full);
    EXPECT_EQ(d.err, noErr);
    EXPECT_EQ(d.type, T("Sd2f"));
}

TEST_F(DetectFileTypeTest, ExtensionAndRawSettings)
{
    // Too short for a header, extension in the table: the table's type.
    const Detected voc = Detect(Make("short.voc", Bytes(10, 1)));
    EXPECT_EQ(voc.err, noErr);
    EXPECT_EQ(voc.type, T("VOC "));
    EXPECT_EQ(voc.recognized, 1);
    // Upper-case extensions are looked up in lower case.
    EXPECT_EQ(Detect(Make("SHORT.SD2", Bytes(3, 1))).type, T("Sd2f"));
    EXPECT_EQ(Detect(Make("tune.mp3", Bytes(30, 0x55))).type, T("Mp3 "));

    // Nothing recognised, raw action 0: unknown, flag cleared.
    const std::string raw = Make("data.raw", Bytes(10, 0));
    Detected d = Detect(raw);
    EXPECT_EQ(d.err, kUnknownFileFormatErr);
    EXPECT_EQ(d.recognized, 0);

    // Raw action 2: the raw type, result 0, flag still cleared.
    RawFileSettings::SetAction(RawFileSettings::kActionReadAsRaw);
    RawFileSettings::SetFileType(T("DPCM"));
    d = Detect(raw);
    EXPECT_EQ(d.err, noErr);
    EXPECT_EQ(d.type, T("DPCM"));
    EXPECT_EQ(d.recognized, 0);
    EXPECT_EQ(d.configuration, kChannelConfigMultichannel);

    // A folder is no sound file, even when unknown files are read as raw.
    Detected folder = Detect(dir.path());
    EXPECT_EQ(folder.err, kUnknownFileFormatErr);
    EXPECT_EQ(folder.recognized, 0);

    // Names without an extension, or that are only an extension.
    EXPECT_EQ(Detect(Make("noextension", Bytes(10, 0))).type, T("DPCM"));
    EXPECT_EQ(Detect(Make(".voc", Bytes(10, 0))).type, T("DPCM"));
}

TEST_F(DetectFileTypeTest, PlatformErrorsAndUntouchedOutputs)
{
    OSType type = T("keep");
    SInt32 recognized = 7;
    SInt32 configuration = 5;
    std::vector<std::string> members{"x"};
    std::string name = "y";
    EXPECT_EQ(DetectFileType(dir.file("missing.wav"), &type, &recognized, &members, &name, &configuration, true),
              fnfErr);
    EXPECT_EQ(recognized, 1);
    EXPECT_EQ(type, T("keep"));
    EXPECT_EQ(configuration, 5);

    // Grouping off leaves the set outputs alone.
    const std::string wave = Make("mono.wav", Wave());
    EXPECT_EQ(DetectFileType(wave, &type, &recognized, &members, &name, &configuration, false), noErr);
    EXPECT_EQ(members, std::vector<std::string>{"x"});
    EXPECT_EQ(name, "y");
    EXPECT_EQ(configuration, kChannelConfigMultichannel);
}

// Sniffers are asked by priority; the first answer other than -22008
// decides, and without sniffers a header tells nothing.
OSErr ClaimsRIFF(const UInt8* header, std::istream&, OSType, OSType* type)
{
    if (std::memcmp(header, "RIFF", 4) != 0)
        return kUnknownFileFormatErr;
    *type = FOUR_CHAR_CODE("Test");
    return noErr;
}
OSErr RefusesVOC(const UInt8* header, std::istream&, OSType, OSType*)
{
    return std::memcmp(header, "Crea", 4) == 0 ? OSErr(-22304) : kUnknownFileFormatErr;
}

TEST_F(DetectFileTypeTest, SniffersDecideByPriority)
{
    const std::string wave = Make("a.wav", Wave(1, 1, true, true));
    const std::string voc = Make("c.voc", Voc({8}));
    RegisterHeaderSniffer(T("Test"), ClaimsRIFF, 5);
    RegisterHeaderSniffer(T("Tst2"), RefusesVOC, -1);
    EXPECT_EQ(Detect(wave).type, T("Test"));
    EXPECT_EQ(Detect(voc).type, T("VOC2"));  // the VOC sniffer answers first
    RegisterHeaderSniffer(T("Test"), nullptr);
    EXPECT_EQ(Detect(wave).type, T("BWLN"));
    RegisterHeaderSniffer(T("VOC "), nullptr);
    EXPECT_EQ(Detect(voc).err, -22304);
    ClearSoundFileRegistries();
    RawFileSettings::Release();
    EXPECT_EQ(Detect(Make("d.xyz", Wave())).err, kUnknownFileFormatErr);
}

} // namespace
