// The check before conversion: fragmented VOC inputs, and VOC outputs whose
// sound would not fit one 24-bit data block.
#include "CConvSpec.h"
#include "ConvSpec.h"
#include "ConvTestFile.h"
#include "CreateSoundFile.h"
#include "FileManager.h"
#include "OutputCapabilities.h"
#include "PreConversionCheck.h"
#include "TestTempDir.h"
#include "error_table.h"

#include <QFile>
#include <QRegularExpression>

#include <cmath>

#include <gtest/gtest.h>

namespace {

constexpr OSType kVOC = FOUR_CHAR_CODE("VOC ");
constexpr OSType kWAVE = FOUR_CHAR_CODE("WAVE");

// A VOC file: the 20-byte signature, the data offset 26, version words,
// then the given blocks (type, payload length) with zero payloads.
QByteArray VOC(std::initializer_list<std::pair<int, int>> blocks, bool terminator = true)
{
    QByteArray b("Creative Voice File\x1a", 20);
    b.append(char(26)).append(char(0)).append(char(0x0a)).append(char(0x01)).append(char(0x29)).append(char(0x11));
    for (const auto& [type, length] : blocks) {
        b.append(char(type)).append(char(length & 0xFF)).append(char((length >> 8) & 0xFF))
            .append(char((length >> 16) & 0xFF));
        b.append(QByteArray(length, '\x80'));
    }
    if (terminator)
        b.append(char(0));
    return b;
}

std::string WriteFile(const TestTempDir& dir, const std::string& name, const QByteArray& data)
{
    QFile f(QString::fromStdString(dir.file(name)));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
    return dir.file(name);
}

SInt16 Count(const std::string& path)
{
    FSSpec spec;
    PathMakeFSSpec(path, &spec);
    SInt16 refNum = 0;
    if (FSpOpenDF(&spec, fsRdPerm, &refNum) != noErr)
        return 1;
    SetFPos(refNum, fsFromStart, 7);
    const SInt16 result = CountVOCDataBlocks(refNum);
    SInt64 mark = 0;
    GetFPos(refNum, &mark);
    FSClose(refNum);
    EXPECT_EQ(mark, 7) << "the walk restores the position";
    return result;
}

// To the VOC variant whose files hold stereo and 16 bits: the size
// estimates count the channels and word length of the output.
ConvSpecRef ToVOC()
{
    ConvSpecRef s = ConvSpec::create();
    s->setNeedsStrictFileType(true);
    s->setOutputFileType(FOUR_CHAR_CODE("VOC2"));
    s->setNeedsChannelTreat(false);
    s->setNeedsNewWordLength(false);
    return s;
}

SInt16 Check(ConvTestFile& in, const ConvSpecRef& s)
{
    CConvSpec spec(s);
    return CheckConversionLimits(&in, &spec);
}

} // namespace

TEST(PreConversionCheckTest, CountsVOCDataBlocks)
{
    TestTempDir dir;
    EXPECT_EQ(Count(WriteFile(dir, "one.voc", VOC({{1, 100}}))), 0);
    EXPECT_EQ(Count(WriteFile(dir, "noterm.voc", VOC({{1, 100}}, false))), 0);
    EXPECT_EQ(Count(WriteFile(dir, "silence.voc", VOC({{1, 100}, {3, 3}}))), kFragmentedVOCInputErr);
    EXPECT_EQ(Count(WriteFile(dir, "cont.voc", VOC({{1, 10}, {2, 10}}))), kFragmentedVOCInputErr);
    // Markers, text, extended-information and end-repeat blocks are stepped over.
    EXPECT_EQ(Count(WriteFile(dir, "marks.voc", VOC({{4, 2}, {5, 6}, {8, 4}, {6, 2}, {7, 0}}))), 0);
    // A block 9 is sound as block 1 is: with a continuation the file is fragmented.
    EXPECT_EQ(Count(WriteFile(dir, "nine.voc", VOC({{9, 40}}))), 0);
    EXPECT_EQ(Count(WriteFile(dir, "ninecont.voc", VOC({{9, 40}, {2, 10}}))), kFragmentedVOCInputErr);
    // A length that runs past the end, a short file, an offset past the end.
    EXPECT_EQ(Count(WriteFile(dir, "long.voc", VOC({{1, 100}}).left(60))), 0);
    EXPECT_EQ(Count(WriteFile(dir, "short.voc", QByteArray("Creative", 8))), 0);
    QByteArray far = VOC({{1, 1}, {1, 1}});
    far[20] = char(0xFF);
    far[21] = char(0xFF);
    EXPECT_EQ(Count(WriteFile(dir, "far.voc", far)), 0);
    EXPECT_EQ(CountVOCDataBlocks(12345), rfNumErr);
}

TEST(PreConversionCheckTest, RefusesFragmentedVOCInputWhateverTheOutput)
{
    TestTempDir dir;
    const std::string path = WriteFile(dir, "in.voc", VOC({{1, 50}, {3, 3}}));
    ConvTestFile in(kVOC, 1, 16, 11025.0, 50);
    ASSERT_EQ(in.SetFile(path), noErr);
    ConvSpecRef toWave = ToVOC();
    toWave->setOutputFileType(kWAVE);
    EXPECT_EQ(Check(in, toWave), kFragmentedVOCInputErr);  // through a fork opened for the walk

    FSSpec spec;
    PathMakeFSSpec(path, &spec);
    SInt16 refNum = 0;
    ASSERT_EQ(FSpOpenDF(&spec, fsRdPerm, &refNum), noErr);
    in.SetRefNum(refNum);
    // Compacting without regions finds nothing to keep: the input refusal stays.
    ConvSpecRef compact = ToVOC();
    compact->setNeedsStrip(true);
    EXPECT_EQ(Check(in, compact), kFragmentedVOCInputErr);
    in.SetRefNum(0);
    FSClose(refNum);

    const std::string good = WriteFile(dir, "good.voc", VOC({{1, 50}}));
    ConvTestFile one(kVOC, 1, 16, 11025.0, 50);
    ASSERT_EQ(one.SetFile(good), noErr);
    EXPECT_EQ(Check(one, ToVOC()), 0);
}

TEST(PreConversionCheckTest, WholeFileEstimateCountsBytes)
{
    ConvTestFile mono16(kWAVE, 1, 16, 44100.0, 0x7FFFFF);
    EXPECT_EQ(Check(mono16, ToVOC()), 0);
    ConvTestFile mono16Over(kWAVE, 1, 16, 44100.0, 0x800000);
    EXPECT_EQ(Check(mono16Over, ToVOC()), kFragmentedVOCOutputErr);
    // Other output types pass.
    ConvSpecRef toAIFF = ToVOC();
    toAIFF->setOutputFileType(FOUR_CHAR_CODE("AIFF"));
    EXPECT_EQ(Check(mono16Over, toAIFF), 0);

    // 16-bit stereo: 4,194,304 frames are 16,777,216 bytes.
    ConvTestFile stereo(kWAVE, 2, 16, 44100.0, 4194304, 2);
    EXPECT_EQ(Check(stereo, ToVOC()), kFragmentedVOCOutputErr);
    ConvTestFile stereoFits(kWAVE, 2, 16, 44100.0, 4194303, 2);
    EXPECT_EQ(Check(stereoFits, ToVOC()), 0);
    // The output's word length and channels count, not the input's.
    ConvSpecRef to16 = ToVOC();
    to16->setNeedsNewWordLength(true);
    to16->setWordLength(16);
    ConvTestFile stereo8(kWAVE, 2, 8, 44100.0, 4194304, 2);
    EXPECT_EQ(Check(stereo8, to16), kFragmentedVOCOutputErr);
    ConvSpecRef split = ToVOC();
    split->setNeedsChannelTreat(true);
    split->setChannelTreat(2);  // two mono files
    EXPECT_EQ(Check(stereo, split), 0);
    // A rate change scales the frames written, down as well as up.
    ConvSpecRef half = ToVOC();
    half->setNeedsSampleRateConversion(true);
    half->setSampleRate(22050.0);
    EXPECT_EQ(Check(stereo, half), 0);
    ConvSpecRef twice = ToVOC();
    twice->setNeedsSampleRateConversion(true);
    twice->setSampleRate(88200.0);
    EXPECT_EQ(Check(stereoFits, twice), kFragmentedVOCOutputErr);
}

TEST(PreConversionCheckTest, ExtractionEstimatesTheLongestRegion)
{
    ConvSpecRef extract = ToVOC();
    extract->setNeedsExtraction(true);
    ConvTestFile in(kWAVE, 2, 16, 44100.0, 10000000, 2);
    in.AddTestRegion(0, 1000);
    in.AddTestRegion(2000, 2000 + 4194303);
    EXPECT_EQ(Check(in, extract), 0);  // the whole file would not fit, each region does
    in.AddTestRegion(5000000, 5000000 + 4194304);
    EXPECT_EQ(Check(in, extract), kFragmentedVOCOutputErr);
}

TEST(PreConversionCheckTest, CompactingEstimatesTheKeptFramesWithMargins)
{
    ConvSpecRef compact = ToVOC();
    compact->setNeedsStrip(true);
    // 16-bit mono at 44100 Hz: margin 44 frames on each side of a kept block.
    ConvTestFile fits(kWAVE, 1, 16, 44100.0, 20000000, 1);
    fits.AddTestRegion(100, 8388500);  // 8,388,488 frames kept
    EXPECT_EQ(Check(fits, compact), 0);
    ConvTestFile over(kWAVE, 1, 16, 44100.0, 20000000, 1);
    over.AddTestRegion(100, 8388620);  // 8,388,608 frames kept: 16,777,216 bytes
    EXPECT_EQ(Check(over, compact), kFragmentedVOCOutputErr);

    // Blocks 0.5 ms apart merge (the gap is kept); 3 ms apart they stay
    // separate, each widened by the margin.
    ConvTestFile merged(kWAVE, 1, 16, 44100.0, 20000000, 1);
    merged.AddTestRegion(44, 4000000);
    merged.AddTestRegion(4000022, 8388600);  // one block [0, 8388644)
    EXPECT_EQ(Check(merged, compact), kFragmentedVOCOutputErr);
    ConvTestFile apart(kWAVE, 1, 16, 44100.0, 20000000, 1);
    apart.AddTestRegion(44, 4000000);
    apart.AddTestRegion(4000132, 8388600);  // [0, 4000044) and [4000088, 8388644)
    EXPECT_EQ(Check(apart, compact), 0);

    // Empty regions end the walk; a conversion that also extracts is tested both ways.
    ConvTestFile empty(kWAVE, 1, 16, 44100.0, 1000, 1);
    empty.AddTestRegion(10, 10);
    empty.AddTestRegion(10, 10);
    empty.AddTestRegion(500, 400);
    EXPECT_EQ(Check(empty, compact), 0);
    ConvSpecRef both = ToVOC();
    both->setNeedsStrip(true);
    both->setNeedsExtraction(true);
    EXPECT_EQ(Check(over, both), kFragmentedVOCOutputErr);
}

TEST(PreConversionCheckTest, RefusesUnusableRatesAndOutputsTheirHeaderCannotHold)
{
    struct Case {
        const char* what;
        OSType output;
        UInt16 channels;
        SInt16 bits;
        double inRate;
        double toRate;  // 0: no rate change
        UInt32 frames;
        SInt16 expected;
    } cases[] = {
        {"rate 0", kWAVE, 1, 16, 0.0, 0, 10, kIncompatibleSampleRateErr},
        {"rate not a number", kWAVE, 1, 16, std::nan(""), 0, 10, kIncompatibleSampleRateErr},
        {"absurd rate", kWAVE, 1, 16, 1e30, 0, 10, kIncompatibleSampleRateErr},
        {"1 Hz to 768 kHz passes 256x", kWAVE, 1, 16, 1.0, 768000.0, 10, kIncompatibleSampleRateErr},
        {"384 kHz to 44.1 kHz", kWAVE, 1, 16, 384000.0, 44100.0, 10, 0},
        {"AIFF past 2 GiB", FOUR_CHAR_CODE("AIFF"), 2, 16, 44100.0, 0, 600000000u, fsDataTooBigErr},
        {"AIFF just below", FOUR_CHAR_CODE("AIFF"), 2, 16, 44100.0, 0, 500000000u, 0},
        {"WAVE holds 2.4 GB", kWAVE, 2, 16, 44100.0, 0, 600000000u, 0},
        {"WAVE past 4 GiB", kWAVE, 2, 16, 44100.0, 0, 1100000000u, fsDataTooBigErr},
        {"WAVE past 4 GiB once doubled", kWAVE, 2, 16, 44100.0, 88200.0, 600000000u, fsDataTooBigErr},
        {"24 bits take 3 bytes", FOUR_CHAR_CODE("AIFC"), 1, 24, 44100.0, 0, 716000000u, fsDataTooBigErr},
    };
    for (const Case& c : cases) {
        ConvTestFile in(kWAVE, c.channels, c.bits, c.inRate, c.frames, c.channels == 2 ? 2 : -1);
        ConvSpecRef s = ToVOC();
        s->setOutputFileType(c.output);
        if (c.toRate > 0) {
            s->setNeedsSampleRateConversion(true);
            s->setSampleRate(c.toRate);
        }
        EXPECT_EQ(Check(in, s), c.expected) << c.what;
    }
}

// Per file, what the input decides: a channel count, a word length, and the
// rate of a type whose files do not record it (written at any other rate it
// would play at the wrong speed).  Types that record their rate keep it.
TEST(PreConversionCheckTest, RefusesShapesTheOutputTypeCannotHold)
{
    struct Case {
        const char* output;  // empty: the input's type is kept
        const char* input;
        UInt16 channels;
        SInt16 bits;
        double inRate;
        double toRate;  // 0: no rate change
        SInt16 treatment;
        SInt16 expected;
    } cases[] = {
        {"26-4", "WAVE", 1, 16, 44100.0, 0, 0, kIncompatibleSampleRateErr},
        {"26-4", "WAVE", 2, 16, 44100.0, 8000.0, 3, 0},
        {"26-4", "WAVE", 2, 16, 8000.0, 0, 0, kTelephonyChannelsErr},
        {"", "26-4", 1, 16, 8000.0, 16000.0, 0, kIncompatibleSampleRateErr},
        {"DADP", "WAVE", 1, 16, 6000.0, 0, 0, 0},
        {"DADP", "WAVE", 1, 16, 44100.0, 7000.0, 0, kIncompatibleSampleRateErr},
        {"DPCM", "WAVE", 2, 16, 8000.0, 0, 0, kIncompatibleChannelsErr},
        {"DPCM", "WAVE", 1, 24, 8000.0, 0, 0, kIncompatibleWordSizeErr},
        {"DPCM", "WAVE", 2, 24, 44100.0, 8000.0, 4, kIncompatibleWordSizeErr},
        {"DPCM", "WAVE", 1, 8, 44100.0, 8000.0, 0, 0},
        {"IDAT", "WAVE", 1, 16, 44100.0, 0, 0, -24100},
        {"IDAT", "WAVE", 2, 16, 48000.0, 0, 0, -24100},
        {"IDAT", "WAVE", 1, 16, 48000.0, 44100.0, 1, 0},
        {"DVAP", "WAVE", 1, 16, 44100.0, 0, 0, 0},
        {"WAVE", "WAVE", 6, 24, 96000.0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const OSType input = HFSTypeCodeFromFileType(QString::fromLatin1(c.input));
        ConvTestFile in(input, c.channels, c.bits, c.inRate, 1000, c.channels == 1 ? 1 : c.channels == 2 ? 2 : 3);
        ConvSpecRef s = ToVOC();
        s->setNeedsStrictFileType(*c.output != 0);
        if (*c.output)
            s->setOutputFileType(HFSTypeCodeFromFileType(QString::fromLatin1(c.output)));
        if (c.toRate > 0) {
            s->setNeedsSampleRateConversion(true);
            s->setSampleRate(c.toRate);
        }
        s->setNeedsChannelTreat(c.treatment != 0);
        s->setChannelTreat(c.treatment);
        EXPECT_EQ(Check(in, s), c.expected) << c.output << " from " << c.channels << " ch " << c.bits << " bits "
                                            << c.inRate << " Hz";
    }
}

// A line said of one input file speaks in names: no type code in quotes and
// no conversion key, over every output type, every shape and channel
// treatment the checks refuse, and every message of the error table.
TEST(PreConversionCheckTest, PerFileRefusalsSpeakInNames)
{
    const QRegularExpression code(QStringLiteral("QMCS|\\(type '|'[ -~]{4}'"));
    for (const ErrorTableEntry* e = ErrorTableBegin(); e != ErrorTableEnd(); ++e)
        EXPECT_FALSE(QString::fromLatin1(e->message).contains(code)) << e->code << " " << e->message;

    int refused = 0;
    for (const QVariant& entry : LoadSoundFileProperties()) {
        const OSType output = HFSTypeCodeFromFileType(entry.toMap().value(QStringLiteral("typeCode")).toString());
        for (const UInt16 channels : {1, 2, 6})
            for (const SInt16 bits : {8, 24})
                for (const double rate : {8000.0, 44100.0})
                    for (SInt16 treatment = 0; treatment <= 5; ++treatment) {
                        ConvTestFile in(kWAVE, channels, bits, rate, 1000, channels <= 2 ? channels : 3);
                        ConvSpecRef s = ToVOC();
                        s->setOutputFileType(output);
                        s->setNeedsChannelTreat(treatment != 0);
                        s->setChannelTreat(treatment);
                        CConvSpec spec(s);
                        QString reason;
                        if (CheckConversionLimits(&in, &spec, &reason) == noErr || reason.isEmpty())
                            continue;
                        ++refused;
                        EXPECT_FALSE(reason.contains(code)) << reason.toStdString();
                    }
    }
    EXPECT_GT(refused, 100);
}
