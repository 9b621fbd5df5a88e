// File identity, naming and creation of CSoundFile, CloseAndDelete, and
// the small descriptive answers (bit rate, channel texts and layouts).
#include "CreatedFilesList.h"
#include "FileManager.h"
#include "MemorySoundFile.h"
#include "TestTempDir.h"
#include "ThreadDictionary.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <cstdlib>

namespace {

void Touch(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

Str255* PascalOf(const char* text, Str255& out)
{
    const std::size_t n = std::strlen(text);
    out[0] = UInt8(n);
    std::memcpy(out + 1, text, n);
    return &out;
}

// Sets "ZuOutputFolderRef" for the calling thread while it lives.
class OutputFolderContext {
public:
    explicit OutputFolderContext(const std::string& folder)
    {
        FSRef ref;
        EXPECT_EQ(FSPathMakeRef(folder, &ref), 0);
        ThreadDictionary::current().setValue(QStringLiteral("ZuOutputFolderRef"), FSRefSerialize(ref));
        CreatedFilesListClear();
    }
    ~OutputFolderContext()
    {
        ThreadDictionary::current().remove(QStringLiteral("ZuOutputFolderRef"));
        CreatedFilesListClear();
    }
};

} // namespace

TEST(SoundFileIdentity, SetFileForNewAndExistingFiles)
{
    TestTempDir dir;
    MemorySoundFile f;
    FSSpec spec{dir.path(), "new.aif"};
    ASSERT_EQ(f.SetFile(&spec), 0);
    EXPECT_EQ(f.GetPath(), dir.file("new.aif"));
    EXPECT_FALSE(f.IsFSRefValid());

    Touch(dir.file("old.aif"));
    FSSpec existing{dir.path(), "old.aif"};
    ASSERT_EQ(f.SetFile(&existing), 0);
    EXPECT_TRUE(f.IsFSRefValid());
    EXPECT_EQ(f.GetFileNameString(), "old.aif");

    // A missing folder is reported, not hidden.
    FSSpec lost{dir.file("no-such-folder"), "x.aif"};
    EXPECT_NE(f.SetFile(&lost), 0);

    // Paths: a folder is refused; a file not yet there gets FSSpec and path.
    MemorySoundFile g;
    EXPECT_EQ(g.SetFile(dir.path()), -22008);
    ASSERT_EQ(g.SetFile(dir.file("later.wav")), 0);
    EXPECT_FALSE(g.IsFSRefValid());
    FSSpec out;
    g.GetFSSpec(&out);
    EXPECT_EQ(out.name, "later.wav");
    ASSERT_EQ(g.SetFile(dir.file("old.aif")), 0);
    EXPECT_TRUE(g.IsFSRefValid());
    g.GetFSSpec(&out);
    EXPECT_EQ(out.name, "old.aif");
    EXPECT_EQ(g.SetFile(std::vector<std::string>{}), -50);
    ASSERT_EQ(g.SetFile(std::vector<std::string>{dir.file("a.L.aif"), dir.file("a.R.aif")}), 0);
    EXPECT_EQ(g.GetFileNameString(), "a.L.aif");

    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(dir.file("old.aif"), &ref), 0);
    MemorySoundFile h;
    ASSERT_EQ(h.SetFile(&ref), 0);
    EXPECT_TRUE(h.IsFSRefValid());
    h.GetFSSpec(&out);
    EXPECT_EQ(out.name, "old.aif");
}

TEST(SoundFileIdentity, NamesAndExtensions)
{
    TestTempDir dir;
    MemorySoundFile f;
    ASSERT_EQ(f.SetFile(dir.file("take.wav")), 0);
    EXPECT_EQ(f.GetName(), QStringLiteral("take"));
    EXPECT_EQ(f.GetFileNameString(), "take.wav");
    ASSERT_EQ(f.SetFile(dir.file("take.xyz")), 0);
    EXPECT_EQ(f.GetName(), QStringLiteral("take.xyz"));

    // Linux names: a 40-character name is handed out whole.
    const std::string forty(40, 'n');
    ASSERT_EQ(f.SetFile(dir.file(forty)), 0);
    Str255 name;
    name[0] = 0;
    f.GetFileName(name);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), forty);

    // Extending: a 28-character name takes "aiff" (the name limit is 255 bytes).
    Str255 ext;
    ASSERT_EQ(f.SetFile(dir.file(std::string(28, 'a'))), 0);
    ASSERT_EQ(f.MakeNameWithExtension(*PascalOf("aiff", ext)), 0);
    EXPECT_EQ(f.GetPath(), dir.file(std::string(28, 'a') + ".aiff"));
    FSSpec spec;
    f.GetFSSpec(&spec);
    EXPECT_EQ(spec.name, std::string(28, 'a') + ".aiff");
    // A leading "." in the extension is not doubled.
    ASSERT_EQ(f.SetFile(dir.file("x")), 0);
    ASSERT_EQ(f.MakeNameWithExtension(*PascalOf(".wav", ext)), 0);
    EXPECT_EQ(f.GetFileNameString(), "x.wav");
    // Too long: -22021 and neither name nor path change.
    const std::string longName(252, 'b');
    ASSERT_EQ(f.SetFile(dir.file(longName)), 0);
    EXPECT_EQ(f.MakeNameWithExtension(*PascalOf("aiff", ext)), -22021);
    EXPECT_EQ(f.GetPath(), dir.file(longName));
    // An empty extension changes nothing.
    Str255 none = {0};
    ASSERT_EQ(f.MakeNameWithExtension(none), 0);
    EXPECT_EQ(f.GetPath(), dir.file(longName));
}

TEST(SoundFileIdentity, CreateNamesAndRecordsTheOutput)
{
    TestTempDir dir;
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir.file("outer/inner"))));
    OutputFolderContext context(dir.path());
    Str255 ext;

    MemorySoundFile top;
    FSSpec spec{dir.path(), ".QuillOutFile"};
    ASSERT_EQ(top.SetFile(&spec), 0);
    ASSERT_EQ(top.Create(2, 16, 0, nullptr, *PascalOf("aiff", ext), 44100.0f), 0);
    EXPECT_TRUE(top.ExtensionGiven());
    EXPECT_EQ(top.GetCreateStatus(), 0);
    EXPECT_EQ(top.GetFileNameString(), ".QuillOutFile.aiff");

    MemorySoundFile nested;
    FSSpec deep{dir.file("outer/inner"), "region"};
    ASSERT_EQ(nested.SetFile(&deep), 0);
    ASSERT_EQ(nested.Create(1, 16, 0, nullptr, nullptr, 44100.0f), 0);
    EXPECT_FALSE(nested.ExtensionGiven());

    EXPECT_EQ(GetCreatedFilesList(), (QStringList{".QuillOutFile.aiff", "outer/inner/region"}));

    // A name that cannot be extended is kept; the status comes back from
    // CloseAndDelete.
    auto* tooLong = new MemorySoundFile;
    FSSpec longSpec{dir.path(), std::string(252, 'c')};
    ASSERT_EQ(tooLong->SetFile(&longSpec), 0);
    ASSERT_EQ(tooLong->Create(1, 16, 0, nullptr, *PascalOf("aiff", ext), 8000.0f), 0);
    EXPECT_EQ(tooLong->GetCreateStatus(), -22021);
    EXPECT_EQ(tooLong->CloseAndDelete(true), -22021);
}

TEST(SoundFileIdentity, CreateWithoutOutputFolderRecordsTheName)
{
    TestTempDir dir;
    ThreadDictionary::current().remove(QStringLiteral("ZuOutputFolderRef"));
    CreatedFilesListClear();
    MemorySoundFile f;
    FSSpec spec{dir.path(), "solo"};
    ASSERT_EQ(f.SetFile(&spec), 0);
    EXPECT_EQ(f.Create(1, 16, 0, nullptr, nullptr, 44100.0f), 0);
    EXPECT_EQ(GetCreatedFilesList(), (QStringList{"solo"}));
    CreatedFilesListClear();
}

TEST(SoundFileIdentity, CloseAndDeleteOnOpenAndUnopenedFiles)
{
    MemorySoundFile::destroyedCount() = 0;
    // Never opened: the create status, no Close, the object gone.
    {
        auto* f = new MemorySoundFile(1, 16);
        EXPECT_EQ(f->CloseAndDelete(true), 0);
        EXPECT_EQ(MemorySoundFile::destroyedCount(), 1);
    }
    // Open: Close runs and learns whether the work failed.
    {
        struct Probe : MemorySoundFile {
            bool* sawFailure;
            int* closes;
            OSErr Close() override
            {
                *sawFailure = IsClosingAfterFailure();
                ++*closes;
                return MemorySoundFile::Close();
            }
        };
        bool sawFailure = false;
        int closes = 0;
        auto* f = new Probe;
        f->sawFailure = &sawFailure;
        f->closes = &closes;
        ASSERT_EQ(f->Open(), 0);
        EXPECT_EQ(f->CloseAndDelete(false), 0);
        EXPECT_EQ(closes, 1);
        EXPECT_TRUE(sawFailure);
        EXPECT_EQ(MemorySoundFile::destroyedCount(), 2);

        auto* g = new Probe;
        g->sawFailure = &sawFailure;
        g->closes = &closes;
        g->closeResult = -36;
        ASSERT_EQ(g->Open(), 0);
        EXPECT_EQ(g->CloseAndDelete(true), -36);
        EXPECT_FALSE(sawFailure);
        EXPECT_EQ(closes, 2);
        EXPECT_EQ(MemorySoundFile::destroyedCount(), 3);
    }
}

TEST(SoundFileIdentity, BitRateChannelTextsAndLayouts)
{
    MemorySoundFile f(2, 16, 44100.0);
    f.SetNumFrames(44100);
    EXPECT_EQ(f.GetBitRate(), 1411);
    f.SetNumFrames(88200);
    EXPECT_EQ(f.GetBitRate(), 1411);  // cached

    MemorySoundFile law(1, 16, 8000.0);
    law.SetSampleFormat(kSampleFormatMuLaw);
    law.SetNumFrames(8000);
    EXPECT_EQ(law.GetBitRate(), 64);

    MemorySoundFile empty(2, 16, 44100.0);
    EXPECT_EQ(empty.GetBitRate(), 0);
    empty.SetNumFrames(100);
    EXPECT_EQ(empty.GetBitRate(), 1411);  // nothing was cached before

    MemorySoundFile noRate(2, 16, 0.0);
    noRate.SetNumFrames(100);
    EXPECT_EQ(noRate.GetBitRate(), 0);

    MemorySoundFile huge(1000, 32, 192000.0);
    huge.SetNumFrames(192000);
    EXPECT_EQ(huge.GetBitRate(), 65535);

    f.SetChannelConfiguration(kChannelConfigStereo);
    EXPECT_EQ(f.GetChannelDescription(), QStringLiteral("2 (stereo)"));
    f.SetChannelConfiguration(12);
    EXPECT_EQ(f.GetChannelDescription(), QStringLiteral("2 ()"));
    EXPECT_EQ(f.GetChannelName(0), "Left");
    EXPECT_EQ(f.GetChannelName(1), "Right");
    EXPECT_EQ(f.GetChannelKind(), 2);
    MemorySoundFile six(6, 24);
    EXPECT_EQ(six.GetChannelName(4), "5");
    EXPECT_EQ(six.GetChannelKind(), 3);
    MemorySoundFile mono(1, 16);
    EXPECT_EQ(mono.GetChannelName(0), "");

    six.SetChannelConfiguration(kChannelConfig5_1);
    UInt32 size = 0;
    AudioChannelLayout* layout = six.CreateChannelLayout(&size);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(size, 12u + 20u * 6u);
    EXPECT_EQ(layout->mChannelLayoutTag, 0x790006u);
    EXPECT_EQ(layout->mNumberChannelDescriptions, 0u);
    std::free(layout);
    six.SetChannelConfiguration(kChannelConfigMultichannel);
    layout = six.CreateChannelLayout(nullptr);
    EXPECT_EQ(layout->mChannelLayoutTag, 0x930006u);
    std::free(layout);
    six.SetChannelConfiguration(42);
    layout = six.CreateChannelLayout(nullptr);
    EXPECT_EQ(layout->mChannelLayoutTag, 0u);
    std::free(layout);

    AudioStreamBasicDescription asbd;
    six.GetAudioStreamBasicDescription(&asbd);
    EXPECT_EQ(asbd.mFormatID, FOUR_CHAR_CODE("lpcm"));
    EXPECT_EQ(asbd.mFormatFlags, 14u);
    EXPECT_EQ(asbd.mBytesPerFrame, 18u);
    EXPECT_EQ(asbd.mBitsPerChannel, 24u);

    EXPECT_EQ(six.SetSampleRate(48000.0), 0);
    EXPECT_TRUE(six.IsHeaderDirty());
    EXPECT_EQ(six.GetSampleRate(), 48000.0);
}

TEST(SoundFileIdentity, ExtraInfoNeedsAnExistingFile)
{
    TestTempDir dir;
    MemorySoundFile f;
    ASSERT_EQ(f.SetFile(dir.file("none.wav")), 0);
    EXPECT_EQ(f.GetExtraInfo(), nullptr);
    Touch(dir.file("some.wav"));
    ASSERT_EQ(f.SetFile(dir.file("some.wav")), 0);
    auto info = f.GetExtraInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->isEmpty());

    EXPECT_THROW(CSoundFile::GetResourcePathString("no-such-resource-here"), std::exception);
    EXPECT_FALSE(CSoundFile::GetResourcePathString("SoundFileProperties").empty());
}
