// The file-type table: one dispatcher per type code with the entry's create
// function and callbacks, objects made through the factory registry, and the
// fixed answers of empty slots.
#include "CConvSpec.h"
#include "CSoundFile.h"
#include "ConvSpec.h"
#include "CreateSoundFile.h"
#include "FileTypeDictionary.h"
#include "SoundFileDispatcher.h"
#include "SoundFileRegistry.h"
#include "file_type_table.h"
#include "format_type_codes.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <memory>
#include <utility>
#include <set>
#include <stdexcept>

namespace {

// The 61 codes, in table order.
const char* const kTableCodes[] = {
    "AIFC", "AIFF", ".AVR", "BWLN", "BWMP", "21-4", "23-2", "23-3", "23-5", "26-3", "26-4", "26-5", "Dawn",
    "DADP", "DALW", "711a", "DPCM", "DULW", "711u", "DVAP", "DMP3", "MMIX", "8SVX", "IDAT", "G729", "MPG1",
    "MPG2", "MSAP", "NSAL", "ulaw", "NxTS", " paf", "PADP", "A1t4", "QTAL", "QTIM", "QTIF", "QTM3", "QTM6",
    "MooV", "Mp3 ", "Mpg4", "QTQP", "QTQ2", "QTQD", "QTPV", "QTUL", "Sd1f", "Sd2f", "sfil", "Snip", "SAIF",
    "SpSc", "Temp", "VOC ", "VOC2", "WAVE", "WVfl", "WVal", "WVau", "caff"};

OSType Code(const char* text)
{
    return FourCharCodeFromString(std::string(text, 4));
}

// A sound file that only knows its type code (the class a test factory
// makes).
class TaggedSoundFile : public CSoundFile {
public:
    explicit TaggedSoundFile(OSType type) : type_(type) {}
    OSErr Open() override { return 0; }
    OSErr Close() override { return 0; }
    OSErr ReadBlock(UInt32) override { return 0; }
    OSErr LoadWrittenFrames(UInt32, UInt32* held) override
    {
        *held = 0;
        return 0;
    }
    OSErr SetFilePos(UInt32) override { return 0; }
    OSErr ProbeHeader(SInt16* result) override
    {
        *result = 0;
        return 0;
    }
    OSType GetFileType() const override { return type_; }
    QString GetFormatName() const override { return QStringLiteral("Tagged"); }

private:
    OSType type_;
};

CSoundFile* MakeALaw() { return new TaggedSoundFile(FOUR_CHAR_CODE("DALW")); }
CSoundFile* MakeAIFF() { return new TaggedSoundFile(FOUR_CHAR_CODE("AIFF")); }
CSoundFile* MakeWAVE() { return new TaggedSoundFile(FOUR_CHAR_CODE("WAVE")); }
CSoundFile* Throwing() { throw std::runtime_error("constructor failed"); }

// One factory per code, each making an object that reports that code.
template <std::size_t I>
CSoundFile* MakeTagged()
{
    return new TaggedSoundFile(Code(kTableCodes[I]));
}

template <std::size_t... I>
void RegisterAll(std::index_sequence<I...>)
{
    (RegisterSoundFileFactory(Code(kTableCodes[I]), MakeTagged<I>), ...);
}

class FileTypeTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ReleaseSoundFileGlobals();
        ResetFileTypeDictionary();
        for (const char* code : kTableCodes)
            UnregisterSoundFileFactory(Code(code));
    }
    void TearDown() override
    {
        for (const char* code : kTableCodes)
            UnregisterSoundFileFactory(Code(code));
        ResetFileTypeDictionary();
        ReleaseSoundFileGlobals();
    }
};

} // namespace

TEST_F(FileTypeTableTest, TableHoldsTheSixtyOneCodesInOrder)
{
    const std::vector<OSType> codes = GetFileTypeTableCodes();
    ASSERT_EQ(codes.size(), std::size(kTableCodes));
    for (std::size_t i = 0; i < codes.size(); ++i)
        EXPECT_EQ(codes[i], Code(kTableCodes[i])) << kTableCodes[i];
    EXPECT_EQ(std::set<OSType>(codes.begin(), codes.end()).size(), codes.size());
    EXPECT_FALSE(MakeSoundFileDispatcher(format_type_codes::kSplitSet));
    EXPECT_FALSE(MakeSoundFileDispatcher(format_type_codes::kSurroundSet));
}

TEST_F(FileTypeTableTest, EveryEntryGetsADispatcherThatCreatesOnlyThroughTheRegistry)
{
    BuildSoundFileDispatchers();
    for (const char* text : kTableCodes) {
        SCOPED_TRACE(text);
        const OSType code = Code(text);
        const SoundFileDispatcherRef dispatcher = GetEntryDispatcher(GetFileTypeEntry(code));
        ASSERT_TRUE(dispatcher);
        EXPECT_TRUE(dispatcher->hasCreateFunc());
        // No format library registered: "no object".
        EXPECT_EQ(dispatcher->callCreateSoundFileObject(), nullptr);
        // No type has a recogniser or auto-name functions.
        EXPECT_FALSE(dispatcher->callIsMyFileType(nullptr));
        EXPECT_FALSE(dispatcher->hasAutoNameWordLengthFunc());
        EXPECT_FALSE(dispatcher->hasAutoNameChannelSettingsFunc());
    }

    // With a factory, the type's object; other types still have none.
    RegisterSoundFileFactory(FOUR_CHAR_CODE("WAVE"), MakeWAVE);
    const SoundFileDispatcherRef wave = GetEntryDispatcher(GetFileTypeEntry(FOUR_CHAR_CODE("WAVE")));
    std::unique_ptr<CSoundFile> file(wave->callCreateSoundFileObject());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetFileType(), FOUR_CHAR_CODE("WAVE"));
    EXPECT_EQ(GetEntryDispatcher(GetFileTypeEntry(FOUR_CHAR_CODE("AIFF")))->callCreateSoundFileObject(), nullptr);

    // A constructor's failure reaches the caller.
    RegisterSoundFileFactory(FOUR_CHAR_CODE("AIFF"), Throwing);
    EXPECT_THROW(GetEntryDispatcher(GetFileTypeEntry(FOUR_CHAR_CODE("AIFF")))->callCreateSoundFileObject(),
                 std::runtime_error);
}

TEST_F(FileTypeTableTest, EachRowCreatesTheObjectOfItsOwnCode)
{
    RegisterAll(std::make_index_sequence<std::size(kTableCodes)>());
    BuildSoundFileDispatchers();
    for (const char* text : kTableCodes) {
        const SoundFileDispatcherRef dispatcher = GetEntryDispatcher(GetFileTypeEntry(Code(text)));
        ASSERT_TRUE(dispatcher) << text;
        std::unique_ptr<CSoundFile> file(dispatcher->callCreateSoundFileObject());
        ASSERT_TRUE(file) << text;
        // The second code of a format shares the first code's create
        // function (one class per format).
        OSType expected = Code(text);
        if (expected == FOUR_CHAR_CODE("711a"))
            expected = FOUR_CHAR_CODE("DALW");
        else if (expected == FOUR_CHAR_CODE("711u"))
            expected = FOUR_CHAR_CODE("DULW");
        EXPECT_EQ(file->GetFileType(), expected) << text;
    }
}

TEST_F(FileTypeTableTest, TwoCodesOfOneFormatMakeTheSameClass)
{
    // The library registers one code of the pair: both codes make it.
    RegisterSoundFileFactory(FOUR_CHAR_CODE("711a"), MakeALaw);
    for (const char* text : {"DALW", "711a"}) {
        std::unique_ptr<CSoundFile> file(MakeSoundFileDispatcher(Code(text))->callCreateSoundFileObject());
        ASSERT_TRUE(file) << text;
        EXPECT_EQ(file->GetFileType(), FOUR_CHAR_CODE("DALW"));
    }
    EXPECT_EQ(MakeSoundFileDispatcher(FOUR_CHAR_CODE("DULW"))->callCreateSoundFileObject(), nullptr);
    EXPECT_EQ(MakeSoundFileDispatcher(FOUR_CHAR_CODE("711u"))->callCreateSoundFileObject(), nullptr);
}

TEST_F(FileTypeTableTest, BuildingOnAGivenDictionarySkipsMissingAndMalformedEntries)
{
    QVariantMap dictionary;
    dictionary.insert(FileTypeForHFSTypeCode(FOUR_CHAR_CODE("AIFF")),
                      QVariantMap{{QStringLiteral("text"), QStringLiteral("AIFF")}});
    dictionary.insert(FileTypeForHFSTypeCode(FOUR_CHAR_CODE("WAVE")), QStringLiteral("not a dictionary"));
    dictionary.insert(FileTypeForHFSTypeCode(format_type_codes::kSplitSet), QVariantMap());
    BuildSoundFileDispatchers(dictionary);

    EXPECT_EQ(dictionary.size(), 3);
    const QVariantMap aiff = dictionary.value(QStringLiteral("'AIFF'")).toMap();
    EXPECT_EQ(aiff.value(QStringLiteral("text")).toString(), QStringLiteral("AIFF"));
    ASSERT_TRUE(GetEntryDispatcher(aiff));
    EXPECT_EQ(dictionary.value(QStringLiteral("'WAVE'")).toString(), QStringLiteral("not a dictionary"));
    EXPECT_FALSE(GetEntryDispatcher(dictionary.value(QStringLiteral("'Splt'")).toMap()));

    // Installed, the conversion layer finds it there.
    RegisterSoundFileFactory(FOUR_CHAR_CODE("AIFF"), MakeAIFF);
    SetFileTypeDictionary(dictionary);
    std::unique_ptr<CSoundFile> file(
        GetEntryDispatcher(GetFileTypeEntry(FOUR_CHAR_CODE("AIFF")))->callCreateSoundFileObject());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetFileType(), FOUR_CHAR_CODE("AIFF"));
}

TEST_F(FileTypeTableTest, EmptySlotsGiveTheirFixedAnswers)
{
    const SoundFileDispatcherRef aiff = MakeSoundFileDispatcher(FOUR_CHAR_CODE("AIFF"));
    ASSERT_TRUE(aiff);
    ConvSpecRef spec = ConvSpec::create();
    spec->setSampleRate(48000.0);
    const QVariantMap before = spec->dictionary();
    CConvSpec view(spec);
    EXPECT_EQ(aiff->callHandleSampleRateSettings(&view, 17, QStringLiteral("8000"), 17), paramErr);
    EXPECT_EQ(aiff->callHandleWordLengthSettings(&view, 1, QStringLiteral("16 bits"), 16), paramErr);
    EXPECT_EQ(aiff->callHandleChannelSettings(&view, 1, QStringLiteral("Split"), 2), paramErr);
    EXPECT_EQ(spec->dictionary(), before);
    EXPECT_EQ(aiff->callChannelIndexFunc(&view), -1);
    EXPECT_EQ(aiff->callWordLengthIndexFunc(&view), -1);
    EXPECT_EQ(aiff->callLogChannelSettingsFunc(&view), QStringLiteral("internal error during logging"));
    EXPECT_EQ(aiff->callLogWordLengthFunc(&view), QStringLiteral("internal error during logging"));
    EXPECT_EQ(aiff->callAutoNameWordLengthFunc(&view),
              QStringLiteral("internal error during auto name generation"));
    EXPECT_FALSE(aiff->hasHandleWordLengthFunc() || aiff->hasHandleChannelFunc() || aiff->hasSampleRateFunc() ||
                 aiff->hasWordLengthIndexFunc() || aiff->hasChannelIndexFunc() || aiff->hasLogWordLengthFunc() ||
                 aiff->hasLogChannelSettingsFunc());

    const QString description = aiff->description();
    EXPECT_TRUE(description.startsWith(QStringLiteral("dispatcher 0x")));
    EXPECT_EQ(description.count(QRegularExpression(QStringLiteral("func (0x[0-9a-f]+|\\(nil\\))"))), 11);
}

TEST_F(FileTypeTableTest, RowsCarryTheirCallbacks)
{
    struct Expect {
        const char* code;
        bool wordLength, channel, sampleRate, channelIndex, wordLengthIndex, logWordLength, logChannel;
    };
    const Expect rows[] = {
        {"BWMP", false, true, false, true, false, false, false},
        {"21-4", false, true, false, false, false, false, false},
        {"26-5", false, true, false, false, false, false, false},
        {"Dawn", false, true, false, false, false, false, false},
        {"DADP", false, true, true, false, false, true, false},
        {"711a", false, true, true, false, false, true, false},
        {"DPCM", true, false, false, false, false, false, false},
        {"711u", false, true, true, false, false, true, false},
        {"DVAP", false, true, false, false, false, true, false},
        {"DMP3", true, true, false, true, false, false, false},
        {"MPG1", true, true, false, true, false, true, true},
        {"MPG2", false, true, false, true, false, true, true},
        {"MSAP", false, false, false, false, false, true, false},
        {" paf", true, false, false, false, true, false, false},
        {"PADP", false, false, true, false, false, true, false},
        {"QTIF", true, false, false, false, true, true, false},
        {"Mp3 ", false, false, true, false, false, false, false},
        {"Mpg4", true, false, true, false, false, false, false},
        {"SAIF", true, false, false, false, true, true, false},
        {"VOC ", false, false, true, false, false, false, false},
        {"WAVE", false, false, false, false, false, false, false},
        {"G729", false, false, false, false, false, false, false},
    };
    for (const Expect& row : rows) {
        SCOPED_TRACE(row.code);
        const SoundFileDispatcherRef d = MakeSoundFileDispatcher(Code(row.code));
        ASSERT_TRUE(d);
        EXPECT_EQ(d->hasHandleWordLengthFunc(), row.wordLength);
        EXPECT_EQ(d->hasHandleChannelFunc(), row.channel);
        EXPECT_EQ(d->hasSampleRateFunc(), row.sampleRate);
        EXPECT_EQ(d->hasChannelIndexFunc(), row.channelIndex);
        EXPECT_EQ(d->hasWordLengthIndexFunc(), row.wordLengthIndex);
        EXPECT_EQ(d->hasLogWordLengthFunc(), row.logWordLength);
        EXPECT_EQ(d->hasLogChannelSettingsFunc(), row.logChannel);
    }
}
