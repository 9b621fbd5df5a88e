// The direct-encode route of the plain copy: a 16-bit Sound Designer II
// input going to a coded output is encoded by the output when it closes,
// with no copy pass; everything else takes the copy pass.
#include "ConversionTestSupport.h"
#include "MemorySoundFile.h"

#include "CCodedFile.h"
#include "CConvSpec.h"
#include "ConvSpec.h"
#include "CreatedFilesList.h"
#include "FileOperations.h"
#include "NotificationCenter.h"
#include "PCMFileTypes.h"
#include "SoundFileRegistry.h"
#include "TestTempDir.h"
#include "progress_channel.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

constexpr OSType kCodedType = FOUR_CHAR_CODE("MPG2");     // encodes the input itself
constexpr OSType kExcludedType = FOUR_CHAR_CODE("DMP3");  // needs its audio handed over
constexpr OSType kClaimsType = FOUR_CHAR_CODE("MPG1");    // says it encodes, but is no coded file

struct CodedRecord {
    int closes = 0;
    int live = 0;  // objects constructed and not yet destroyed
    bool created = false;  // the format's own Create ran (copy route)
    UInt16 loops = 0, regions = 0, markers = 0;
    bool sampler = false;
    std::string name;
    OSErr closeResult = noErr;
};
CodedRecord& Record()
{
    static CodedRecord record;
    return record;
}

class TestCodedOutput : public CCodedFile {
public:
    TestCodedOutput() { ++Record().live; }
    ~TestCodedOutput() override { --Record().live; }
    OSErr Open() override { return noErr; }
    OSErr Create(UInt16 channels, SInt16 bits, UInt32 reserved, const UInt8* specifics, ConstStr255Param extension,
                 float rate) override
    {
        OSErr err = CSoundFile::Create(channels, bits, reserved, specifics, extension, rate);
        if (err)
            return err;
        m_numChannels = channels;
        m_numBits = bits;
        m_sampleRate = rate;
        Record().created = true;
        err = CreateFileExclusive(GetPath());
        m_isOpen = err == noErr;
        return err;
    }
    OSErr Close() override
    {
        CodedRecord& r = Record();
        ++r.closes;
        r.loops = GetNumLoops();
        r.regions = GetNumRegions();
        r.markers = GetNumMarkers();
        SFTSamplerInfo info;
        r.sampler = GetSamplerInfo(&info) == noErr;
        r.name = GetFileNameString();
        m_isOpen = false;
        return r.closeResult;
    }
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
    OSType GetFileType() const override { return kCodedType; }
    QString GetFormatName() const override { return QStringLiteral("test coded"); }
};

// Encodes on close by its own word, but is not a coded file.
class ClaimingOutput : public MemorySoundFile {
public:
    ClaimingOutput() { ++Record().live; }
    ~ClaimingOutput() override { --Record().live; }
    OSType GetFileType() const override { return kClaimsType; }
    Boolean NeedsEncodingOnClose() const override { return true; }
};

class SoundDesignerInput : public MemorySoundFile {
public:
    SoundDesignerInput(UInt16 channels, SInt16 bits, OSType type = FOUR_CHAR_CODE("Sd2f"))
        : MemorySoundFile(channels, bits), type_(type)
    {
        SetData(std::vector<UInt8>(std::size_t(channels) * std::size_t(bits / 8) * 100, 0x11));
        SetOpenFlag(true);
    }
    OSType GetFileType() const override { return type_; }

private:
    OSType type_;
};

class DirectEncodeRouteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Record() = CodedRecord();
        RegisterSoundFileFactory(kCodedType, [] { return static_cast<CSoundFile*>(new TestCodedOutput); });
        RegisterSoundFileFactory(kExcludedType, [] { return static_cast<CSoundFile*>(new TestCodedOutput); });
        RegisterSoundFileFactory(kClaimsType, [] { return static_cast<CSoundFile*>(new ClaimingOutput); });
        CreatedFilesListClear();
        progress_ = std::make_unique<convtest::ProgressRecord>();
    }
    void TearDown() override
    {
        progress_.reset();
        for (OSType t : {kCodedType, kExcludedType, kClaimsType})
            UnregisterSoundFileFactory(t);
        RegisterPCMFileTypes();
        CreatedFilesListClear();
    }

    static ConvSpecRef Conversion(OSType type) { return convtest::PlainConversion(type); }
    SInt16 Run(const ConvSpecRef& s, CSoundFile* in, const std::string& folderPath = std::string())
    {
        return convtest::RunConversion(s, in, QString::fromStdString(folderPath.empty() ? dir_.path() : folderPath));
    }
    QStringList Files() const
    {
        return QDir(dir_.qpath()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    TestTempDir dir_;
    std::unique_ptr<convtest::ProgressRecord> progress_;
};

} // namespace

TEST_F(DirectEncodeRouteTest, SoundDesignerInputIsEncodedWhenTheOutputCloses)
{
    SoundDesignerInput in(2, 16);
    SFTLoop loop;
    loop.loopID = 1, loop.start = 10, loop.end = 20;
    in.AddLoop(&loop);
    SFTRegion region;
    region.regionID = 1, region.start = 5, region.end = 50;
    in.AddRegion(&region);
    SFTMarker marker;
    marker.markerID = 3, marker.pos = 7;
    in.AddMarker(&marker);

    ConvSpecRef s = Conversion(kCodedType);
    s->setCopyExtras(true);
    ASSERT_EQ(Run(s, &in), noErr);
    EXPECT_EQ(progress_->steps, QList<int>{1});
    EXPECT_TRUE(progress_->texts.isEmpty()) << progress_->texts.join(",").toStdString();
    EXPECT_FALSE(Record().created);  // only the base naming, no copy pass
    EXPECT_EQ(Record().closes, 1);
    EXPECT_EQ(Record().live, 0);
    EXPECT_EQ(Record().loops, 1);
    EXPECT_EQ(Record().regions, 1);
    EXPECT_EQ(Record().markers, 1);
    EXPECT_FALSE(Record().sampler);  // the input has no valid sampler record
    ASSERT_EQ(GetCreatedFilesList().size(), 1);
    EXPECT_TRUE(GetCreatedFilesList()[0].startsWith(".QuillOutFile-")) << Record().name;
    EXPECT_EQ(QString::fromStdString(Record().name), GetCreatedFilesList()[0]);

    // Without extras nothing is carried; the close's failure is the result.
    Record() = CodedRecord();
    Record().closeResult = -36;
    CreatedFilesListClear();
    s->setCopyExtras(false);
    EXPECT_EQ(Run(s, &in), -36);
    EXPECT_EQ(Record().loops + Record().regions + Record().markers, 0);
    EXPECT_EQ(Record().live, 0);
}

TEST_F(DirectEncodeRouteTest, OtherInputsAndSettingsGoThroughTheCopyPass)
{
    struct Case {
        const char* what;
        SInt16 bits;
        OSType inType;
        OSType outType;
        bool fades;
    };
    const Case cases[] = {
        {"fades", 16, FOUR_CHAR_CODE("Sd2f"), kCodedType, true},
        {"24-bit input", 24, FOUR_CHAR_CODE("Sd2f"), kCodedType, false},
        {"AIFF input", 16, FOUR_CHAR_CODE("AIFF"), kCodedType, false},
        {"excluded output type", 16, FOUR_CHAR_CODE("Sd2f"), kExcludedType, false},
    };
    for (const Case& c : cases) {
        Record() = CodedRecord();
        progress_->steps.clear();
        progress_->texts.clear();
        SoundDesignerInput in(1, c.bits, c.inType);
        ConvSpecRef s = Conversion(c.outType);
        s->setNeedsFades(c.fades);
        s->setFadeInTime(0.0f);
        s->setFadeOutTime(0.0f);
        EXPECT_EQ(Run(s, &in), noErr) << c.what;
        EXPECT_TRUE(Record().created) << c.what;
        // The coded output's encoding counts as a step.
        EXPECT_EQ(progress_->steps, QList<int>{2}) << c.what;
        EXPECT_EQ(progress_->texts, QStringList{"Copying/format change"}) << c.what;
        EXPECT_EQ(Record().live, 0) << c.what;
    }
}

TEST_F(DirectEncodeRouteTest, FailuresLeaveNoObjectAndNoFile)
{
    SoundDesignerInput in(2, 16);
    // A type that only claims to encode on close is no coded file.
    EXPECT_EQ(Run(Conversion(kClaimsType), &in), -22017);
    EXPECT_EQ(Record().live, 0);
    EXPECT_TRUE(GetCreatedFilesList().isEmpty());
    EXPECT_TRUE(Files().isEmpty()) << Files().join(",").toStdString();

    // The output folder is gone: the output cannot be named.
    const SInt16 err = Run(Conversion(kCodedType), &in, dir_.file("missing"));
    EXPECT_NE(err, noErr);
    EXPECT_EQ(Record().closes, 0);
    EXPECT_EQ(Record().live, 0);
    EXPECT_TRUE(Files().isEmpty());
}
