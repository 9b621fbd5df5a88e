// The coded-file base: encoding on close, and creation in the shape of
// another file whatever shape the caller asks for.
#include "CCodedFile.h"
#include "CreateSoundFile.h"
#include "CreatedFilesList.h"
#include "MemorySoundFile.h"
#include "SoundFileRegistry.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr OSType kTestCodedType = FOUR_CHAR_CODE("WAVE");

// The smallest coded format: it writes nothing and remembers what it saw.
class TestCodedFile : public CCodedFile {
public:
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
        *result = 0;
        return noErr;
    }
    OSType GetFileType() const override { return kTestCodedType; }
    QString GetFormatName() const override { return QStringLiteral("Test coded"); }

    // The base Create is what CreateLike must run, never this one.
    OSErr Create(UInt16, SInt16, UInt32, const UInt8*, ConstStr255Param, float) override
    {
        ++ownCreates;
        return ioErr;
    }
    int ownCreates = 0;
};

// A coded class that encodes block by block.
class BlockCodedFile : public TestCodedFile {
public:
    Boolean NeedsEncodingOnClose() const override { return false; }
};

} // namespace

TEST(CodedFileTest, EncodesOnCloseUnlessTheClassSaysOtherwise)
{
    TestCodedFile coded;
    EXPECT_TRUE(coded.NeedsEncodingOnClose());
    EXPECT_FALSE(coded.NeedsDecodingOnOpen());
    BlockCodedFile block;
    EXPECT_FALSE(block.NeedsEncodingOnClose());
    const CSoundFile* asBase = &coded;
    EXPECT_NE(dynamic_cast<const CCodedFile*>(asBase), nullptr);

    // Through the type table, before any file exists.
    RegisterSoundFileFactory(kTestCodedType, [] { return static_cast<CSoundFile*>(new TestCodedFile); });
    EXPECT_TRUE(TypeNeedsEncodingOnClose(kTestCodedType));
    EXPECT_FALSE(TypeNeedsDecodingOnOpen(kTestCodedType));
    UnregisterSoundFileFactory(kTestCodedType);
}

TEST(CodedFileTest, CreateLikeNamesAndRecordsTheOutputInTheSourcesShape)
{
    TestTempDir dir;
    CreatedFilesListClear();
    MemorySoundFile source(1, 16, 8000.0);
    TestCodedFile out;
    FSSpec spec;
    spec.parent = dir.path();
    spec.name = "take";
    ASSERT_EQ(out.SetFile(&spec), noErr);

    // Two channels and 24 bits asked for: ignored, the source's shape counts.
    const UInt8 extension[] = {4, '.', 'g', '7', 'x'};
    EXPECT_EQ(out.CreateLike(&source, 2, 24, 0, nullptr, extension, 44100.0), noErr);
    EXPECT_EQ(out.ownCreates, 0);
    EXPECT_EQ(out.GetFileNameString(), "take.g7x");
    EXPECT_EQ(GetCreatedFilesList(), QStringList{"take.g7x"});
    EXPECT_EQ(out.GetCreateStatus(), noErr);

    // Without an extension the type's own is used.
    TestCodedFile typed;
    spec.name = "other";
    ASSERT_EQ(typed.SetFile(&spec), noErr);
    EXPECT_EQ(typed.CreateLike(&source, 2, 24, 0, nullptr, nullptr, 0.0), noErr);
    EXPECT_EQ(typed.GetFileNameString(), "other.wav");
    EXPECT_EQ(GetCreatedFilesList().size(), 2);

    EXPECT_EQ(typed.CreateLike(nullptr, 1, 16, 0, nullptr, nullptr, 0.0), paramErr);
    CreatedFilesListClear();
}
