// Process-wide state of the sound-file layer: raw-file settings, the
// created-output list, the region switches, and the hand-off of an opened
// input from the batch's first look to its conversion.
#include "CreatedFilesList.h"
#include "InputHandOff.h"
#include "RawFileSettings.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <QSet>
#include <cstring>
#include <fstream>

#include <thread>
#include <vector>

namespace {

void SetPascal(Str255 out, const char* text)
{
    const size_t length = std::strlen(text);
    out[0] = static_cast<unsigned char>(length);
    std::memcpy(out + 1, text, length);
}

HFSUniStr255 Uni(const char* text)
{
    HFSUniStr255 name;
    EXPECT_TRUE(QStringToHFSUniStr255(QString::fromUtf8(text), &name));
    return name;
}

} // namespace

TEST(RawFileSettingsTest, StartValuesSettersAndRelease)
{
    RawFileSettings::Release();
    RawFileSettings::Values v = RawFileSettings::Instance();
    EXPECT_EQ(v.fileType, FOUR_CHAR_CODE("DPCM"));
    EXPECT_EQ(v.sampleRate, 44100.0);
    EXPECT_EQ(v.bigEndian, 1u);
    EXPECT_EQ(v.wordSize, 16u);
    EXPECT_EQ(v.action, 0);
    EXPECT_EQ(v.numChannels, 1u);

    RawFileSettings::SetFileType(FOUR_CHAR_CODE("DULW"));
    RawFileSettings::SetSampleRate(8000.0);
    RawFileSettings::SetBigEndian(0);
    RawFileSettings::SetNumBits(8);
    RawFileSettings::SetAction(RawFileSettings::kActionReadAsRaw);
    RawFileSettings::SetNumChannels(2);
    EXPECT_EQ(RawFileSettings::FileType(), FOUR_CHAR_CODE("DULW"));
    EXPECT_EQ(RawFileSettings::SampleRate(), 8000.0);
    EXPECT_EQ(RawFileSettings::BigEndian(), 0u);
    EXPECT_EQ(RawFileSettings::NumBits(), 8u);
    EXPECT_EQ(RawFileSettings::Action(), 2);
    EXPECT_EQ(RawFileSettings::NumChannels(), 2u);
    v = RawFileSettings::Instance();
    EXPECT_EQ(v.fileType, FOUR_CHAR_CODE("DULW"));
    EXPECT_EQ(v.numChannels, 2u);

    RawFileSettings::Release();
    EXPECT_EQ(RawFileSettings::FileType(), FOUR_CHAR_CODE("DPCM"));
    EXPECT_EQ(RawFileSettings::Action(), 0);
}

TEST(CreatedFilesListTest, EntriesGrowFromTheInsideOut)
{
    CreatedFilesListInit();
    Str255 name;
    SetPascal(name, "");
    CreatedFilesListAdd(name);
    CreatedFilesListAdd(static_cast<ConstStr255Param>(nullptr));
    EXPECT_TRUE(GetCreatedFilesList().isEmpty());

    // Appending a folder to an empty list does nothing.
    CreatedFilesListAppendComponent(Uni("Lost"));
    EXPECT_TRUE(GetCreatedFilesList().isEmpty());

    SetPascal(name, ".QuillOutFile");
    CreatedFilesListAdd(name);
    SetPascal(name, "second.aif");
    CreatedFilesListAdd(name);
    CreatedFilesListAppendComponent(Uni("inner"));
    CreatedFilesListAppendComponent(Uni("Outer \xC3\xA9t\xC3\xA9"));
    CreatedFilesListAdd(QStringLiteral("\u6587\u4EF6.wav")); // not Mac OS Roman
    EXPECT_EQ(GetCreatedFilesList(),
              (QStringList{QStringLiteral(".QuillOutFile"), QString::fromUtf8("Outer \xC3\xA9t\xC3\xA9/inner/second.aif"),
                           QStringLiteral("\u6587\u4EF6.wav")}));

    CreatedFilesListClear();
    EXPECT_TRUE(GetCreatedFilesList().isEmpty());
    CreatedFilesListAdd(QStringLiteral("after-clear.aif"));
    EXPECT_EQ(GetCreatedFilesList().size(), 1);
    CreatedFilesListRelease();
    EXPECT_TRUE(GetCreatedFilesList().isEmpty());
}

TEST(CreatedFilesListTest, ConcurrentAddsLoseNothing)
{
    CreatedFilesListInit();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                CreatedFilesListAdd(QStringLiteral("t%1-%2").arg(t).arg(i));
                if (i % 50 == 0)
                    (void)GetCreatedFilesList();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const QStringList list = GetCreatedFilesList();
    EXPECT_EQ(list.size(), 2000);
    EXPECT_EQ(QSet<QString>(list.cbegin(), list.cend()).size(), 2000);
    CreatedFilesListRelease();
}

TEST(SoundFileSwitchesTest, SkipBadRegionIsOnOnlyForOne)
{
    EXPECT_FALSE(GetProcessFileIfNoRegions());
    EXPECT_FALSE(GetSkipBadRegion());
    EXPECT_FALSE(GetIgnoreRegionsContainingWholeFile());
    EXPECT_FALSE(GetRecognizeNumberFilesAsSplit());

    SetSkipBadRegion(1);
    EXPECT_TRUE(GetSkipBadRegion());
    SetSkipBadRegion(2);
    EXPECT_FALSE(GetSkipBadRegion());
    SetSkipBadRegion(-1);
    EXPECT_FALSE(GetSkipBadRegion());

    SetProcessFileIfNoRegions(true);
    SetIgnoreRegionsContainingWholeFile(true);
    SetRecognizeNumberFilesAsSplit(true);
    EXPECT_TRUE(GetProcessFileIfNoRegions());
    EXPECT_TRUE(GetIgnoreRegionsContainingWholeFile());
    EXPECT_TRUE(GetRecognizeNumberFilesAsSplit());
    SetProcessFileIfNoRegions(false);
    SetIgnoreRegionsContainingWholeFile(false);
    SetRecognizeNumberFilesAsSplit(false);
    EXPECT_FALSE(GetProcessFileIfNoRegions());
    SetSkipBadRegion(0);
}

// What a reader opened of the conversion's input goes to its next opening
// of it, once, as the reader's own type, while the file is the one it was;
// never for another path, and never past the conversion of the file.
struct OpenedA : OpenedInput {
    explicit OpenedA(std::shared_ptr<int> held) : held(std::move(held)) {}
    std::shared_ptr<int> held;
};
struct OpenedB : OpenedInput {};

TEST(InputHandOff, AnOpenedInputIsCarriedToItsNextOpeningWhileUnchanged)
{
    TestTempDir dir;
    const std::string input = dir.file("in.flac");
    const std::string other = dir.file("other.flac");
    const auto write = [](const std::string& path, std::size_t bytes) {
        std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
    };
    write(input, 4000);
    write(other, 4000);
    auto state = std::make_shared<int>(3);
    std::weak_ptr<int> held = state;
    EXPECT_FALSE(InputHandOff::Keep(input, std::make_unique<OpenedA>(state)));  // no conversion
    {
        InputHandOff handOff(input);
        EXPECT_FALSE(InputHandOff::Keep(other, std::make_unique<OpenedA>(state)));  // not its input
        ASSERT_TRUE(InputHandOff::Keep(input, std::make_unique<OpenedA>(state)));
        EXPECT_EQ(InputHandOff::Take<OpenedA>(other), nullptr);
        EXPECT_EQ(InputHandOff::Take<OpenedB>(input), nullptr);  // another reader's is left
        std::unique_ptr<OpenedA> taken = InputHandOff::Take<OpenedA>(input);
        ASSERT_NE(taken, nullptr);
        EXPECT_EQ(taken->held, state);
        EXPECT_EQ(InputHandOff::Take<OpenedA>(input), nullptr);  // once
        // A file that changed since is opened anew.
        ASSERT_TRUE(InputHandOff::Keep(input, std::move(taken)));
        write(input, 4001);
        EXPECT_EQ(InputHandOff::Take<OpenedA>(input), nullptr);
        // What is still kept goes with the conversion of the file.
        ASSERT_TRUE(InputHandOff::Keep(input, std::make_unique<OpenedA>(state)));
        state.reset();
        EXPECT_FALSE(held.expired());
    }
    EXPECT_TRUE(held.expired());
}
