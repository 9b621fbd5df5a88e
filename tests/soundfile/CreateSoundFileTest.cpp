// Creation by type code through the factory registry, set files, and the
// registries themselves.
#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "SoundFileRegistry.h"
#include "format_type_codes.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// A format class that only answers who it is.
class FakeSoundFile : public CSoundFile {
public:
    explicit FakeSoundFile(OSType type, OSType member = 0, bool encodes = false, bool decodes = false)
        : m_type(type), m_member(member), m_encodes(encodes), m_decodes(decodes)
    {
    }
    OSErr Open() override { return noErr; }
    OSErr Close() override { return noErr; }
    OSErr ReadBlock(UInt32) override { return noErr; }
    OSErr LoadWrittenFrames(UInt32, UInt32* held) override
    {
        *held = 0;
        return noErr;
    }
    OSErr SetFilePos(UInt32) override { return noErr; }
    OSErr ProbeHeader(SInt16* result) override
    {
        if (result)
            *result = 0;
        return noErr;
    }
    OSType GetFileType() const override { return m_type; }
    QString GetFormatName() const override { return QStringLiteral("Fake"); }
    Boolean NeedsEncodingOnClose() const override { return m_encodes; }
    Boolean NeedsDecodingOnOpen() const override { return m_decodes; }

    OSType member() const { return m_member; }

private:
    OSType m_type;
    OSType m_member;
    bool m_encodes;
    bool m_decodes;
};

constexpr OSType kAIFF = FOUR_CHAR_CODE("AIFF");
constexpr OSType kAIFC = FOUR_CHAR_CODE("AIFC");
constexpr OSType kWAVE = FOUR_CHAR_CODE("WAVE");
constexpr OSType kSpSc = FOUR_CHAR_CODE("SpSc");
constexpr OSType kSplt = format_type_codes::kSplitSet;
constexpr OSType kSrnd = format_type_codes::kSurroundSet;
constexpr OSType kNoEntry = FOUR_CHAR_CODE("Zz9!");

CSoundFile* MakeAIFF() { return new FakeSoundFile(kAIFF); }
CSoundFile* MakeEncodingAIFC() { return new FakeSoundFile(kAIFC, 0, true, true); }
CSoundFile* MakeSonicSplit() { return new FakeSoundFile(kSpSc); }
CSoundFile* MakeNoEntry() { return new FakeSoundFile(kNoEntry); }
CSoundFile* MakeSplit(OSType member) { return new FakeSoundFile(kSplt, member); }
CSoundFile* MakeSurround(OSType member) { return new FakeSoundFile(kSrnd, member); }
CSoundFile* MakeNothing() { return nullptr; }

std::unique_ptr<FakeSoundFile> Take(CSoundFile* file)
{
    return std::unique_ptr<FakeSoundFile>(static_cast<FakeSoundFile*>(file));
}

class CreateSoundFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearSoundFileRegistries();
        ReleaseSoundFileGlobals();
    }
    void TearDown() override
    {
        ClearSoundFileRegistries();
        ReleaseSoundFileGlobals();
    }
};

} // namespace

TEST(FileTypeKeyTest, QuotedFourCharacterForm)
{
    EXPECT_EQ(FileTypeForHFSTypeCode(kAIFF), QStringLiteral("'AIFF'"));
    EXPECT_EQ(FileTypeForHFSTypeCode(FOUR_CHAR_CODE(" paf")), QStringLiteral("' paf'"));
    EXPECT_EQ(HFSTypeCodeFromFileType(QStringLiteral("'Mp3 '")), FOUR_CHAR_CODE("Mp3 "));
    EXPECT_EQ(HFSTypeCodeFromFileType(QStringLiteral("AIFF")), kAIFF);
    EXPECT_EQ(HFSTypeCodeFromFileType(QStringLiteral("'AIF'")), 0u);
    EXPECT_EQ(HFSTypeCodeFromFileType(QStringLiteral("AIF")), 0u);
    EXPECT_EQ(HFSTypeCodeFromFileType(QStringLiteral("'AIFFF'")), 0u);
    EXPECT_EQ(HFSTypeCodeFromFileType(QString::fromUtf8("'\xE6\x96\x87" "ABC'")), 0u); // not Mac OS Roman
    EXPECT_EQ(HFSTypeCodeFromFileType(QStringLiteral("'")), 0u);
    // A Mac OS Roman character survives the round trip.
    const OSType copyright = FOUR_CHAR_CODE("\xA9nam");
    EXPECT_EQ(HFSTypeCodeFromFileType(FileTypeForHFSTypeCode(copyright)), copyright);
}

TEST_F(CreateSoundFileTest, FactoryMakesTheObjectAndMissingFactoryGivesNull)
{
    EXPECT_EQ(CreateSoundFileObject(kAIFF), nullptr);

    RegisterSoundFileFactory(kAIFF, MakeAIFF);
    auto file = Take(CreateSoundFileObject(kAIFF));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetFileType(), kAIFF);

    // 'WAVE' has properties but no factory.
    EXPECT_FALSE(GetSoundFileProperties(kWAVE).isEmpty());
    EXPECT_EQ(CreateSoundFileObject(kWAVE), nullptr);

    // A factory without a file-type entry makes nothing either.
    RegisterSoundFileFactory(kNoEntry, MakeNoEntry);
    EXPECT_EQ(CreateSoundFileObject(kNoEntry), nullptr);

    // A factory that fails gives null, and removing the factory works.
    RegisterSoundFileFactory(kAIFF, MakeNothing);
    EXPECT_EQ(CreateSoundFileObject(kAIFF), nullptr);
    UnregisterSoundFileFactory(kAIFF);
    EXPECT_EQ(GetSoundFileFactory(kAIFF), nullptr);
}

TEST_F(CreateSoundFileTest, SetFilesGetTheirMemberTypes)
{
    EXPECT_EQ(CreateSoundFileObject(kSplt), nullptr); // no set factory yet

    RegisterSetFileFactory(kSplt, MakeSplit);
    RegisterSetFileFactory(kSrnd, MakeSurround);
    RegisterSoundFileFactory(kSpSc, MakeSonicSplit);

    auto split = Take(CreateSoundFileObject(kSplt));
    ASSERT_NE(split, nullptr);
    EXPECT_EQ(split->GetFileType(), kSplt);
    EXPECT_EQ(split->member(), FOUR_CHAR_CODE("Sd2f"));

    auto surround = Take(CreateSoundFileObject(kSrnd));
    ASSERT_NE(surround, nullptr);
    EXPECT_EQ(surround->member(), FOUR_CHAR_CODE("BWLN"));

    auto sonic = Take(CreateSoundFileObject(kSplt, FOUR_CHAR_CODE("SAIF")));
    ASSERT_NE(sonic, nullptr);
    EXPECT_EQ(sonic->GetFileType(), kSpSc);
    auto sonic2 = Take(CreateSoundFileObject(kSpSc, kWAVE));
    ASSERT_NE(sonic2, nullptr);
    EXPECT_EQ(sonic2->GetFileType(), kSpSc);

    auto waveSplit = Take(CreateSoundFileObject(kSplt, kWAVE));
    ASSERT_NE(waveSplit, nullptr);
    EXPECT_EQ(waveSplit->GetFileType(), kSplt);
    EXPECT_EQ(waveSplit->member(), kWAVE);

    auto aiffSurround = Take(CreateSoundFileObject(kSrnd, kAIFF));
    ASSERT_NE(aiffSurround, nullptr);
    EXPECT_EQ(aiffSurround->member(), kAIFF);

    // Any other type ignores the member type.
    RegisterSoundFileFactory(kAIFF, MakeAIFF);
    auto plain = Take(CreateSoundFileObject(kAIFF, kWAVE));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->GetFileType(), kAIFF);
}

TEST_F(CreateSoundFileTest, EncodingAndDecodingQuestions)
{
    RegisterSoundFileFactory(kAIFF, MakeAIFF);
    RegisterSoundFileFactory(kAIFC, MakeEncodingAIFC);
    EXPECT_FALSE(TypeNeedsEncodingOnClose(kAIFF));
    EXPECT_FALSE(TypeNeedsDecodingOnOpen(kAIFF));
    EXPECT_TRUE(TypeNeedsEncodingOnClose(kAIFC));
    EXPECT_TRUE(TypeNeedsDecodingOnOpen(kAIFC));
    EXPECT_FALSE(TypeNeedsEncodingOnClose(kWAVE)); // no object
}

namespace {
SInt32 ProbeMono(const QString&) { return 1; }
SInt32 ProbeStereo(const QString&) { return 2; }
OSErr FindNothing(std::istream&, OSType, UInt32) { return -22004; }
} // namespace

TEST_F(CreateSoundFileTest, RegistriesKeepOrderAndReplace)
{
    RegisterHeaderProbe(kWAVE, ProbeMono);
    RegisterHeaderProbe(kAIFF, ProbeStereo);
    RegisterHeaderProbe(kWAVE, ProbeStereo); // replaces, keeps its place
    auto probes = GetHeaderProbes();
    ASSERT_EQ(probes.size(), 2u);
    EXPECT_EQ(probes[0].first, kWAVE);
    EXPECT_EQ(probes[0].second(QString()), 2);
    EXPECT_EQ(probes[1].first, kAIFF);
    EXPECT_EQ(GetHeaderProbe(FOUR_CHAR_CODE("Sd2f")), nullptr);
    RegisterHeaderProbe(kWAVE, nullptr);
    ASSERT_EQ(GetHeaderProbes().size(), 1u);
    EXPECT_EQ(GetHeaderProbes()[0].first, kAIFF);

    RegisterChunkFinder(FOUR_CHAR_CODE("RIFF"), FindNothing);
    ASSERT_NE(GetChunkFinder(FOUR_CHAR_CODE("RIFF")), nullptr);
    EXPECT_EQ(GetChunkFinder(FOUR_CHAR_CODE("FORM")), nullptr);

    RegisterSoundFileFactory(kWAVE, MakeAIFF);
    RegisterSoundFileFactory(kAIFF, MakeAIFF);
    const std::vector<OSType> types = GetRegisteredSoundFileTypes();
    ASSERT_EQ(types.size(), 2u);
    EXPECT_LT(types[0], types[1]);
}
