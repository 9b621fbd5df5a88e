// Resampling reads a file's plain integer words straight from its bytes:
// the output equals, bit for bit, that of the same words given through the
// readers every sound file has, for every word length and byte order (WAVE
// and AIFF files made by sox, 8-bit WAVE in offset binary), every way the
// converters read (a pair, one channel of three, a pair mixed to mono),
// through the filter's stages and the linear path.
#include "ConversionTestSupport.h"

#include "MemorySoundFile.h"
#include "PCMFileTypes.h"
#include "PeerTools.h"
#include "TestTempDir.h"
#include "resampling_passes.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace convtest;

namespace {

// The words of a file in memory, read through the base's readers only.
class WordsFile : public MemorySoundFile {
public:
    WordsFile(UInt16 channels, SInt16 bits, double rate) : MemorySoundFile(channels, bits, rate) { SetOpenFlag(true); }
    OSErr Open() override { return noErr; }
    OSErr Close() override { return noErr; }
    OSType GetFileType() const override { return FOUR_CHAR_CODE("Word"); }
    QString GetFormatName() const override { return QStringLiteral("Words"); }
};

struct RawCase {
    const char* name;
    int channels, bits;
};

void PrintTo(const RawCase& c, std::ostream* os) { *os << c.name; }

class ResampledFileInput : public ::testing::TestWithParam<RawCase> {};

TEST_P(ResampledFileInput, GivesTheOutputOfTheFilesReaders)
{
    QM_REQUIRE_PEER("sox");
    RegisterPCMFileTypes();
    const RawCase& c = GetParam();
    TestTempDir dir;
    InputPtr in = OpenInput(SoxTone(dir.qpath() + "/" + c.name, c.channels, c.bits, 48000, 0.4, 1000, 300, 0.9));
    ASSERT_TRUE(in);
    ASSERT_EQ(in->GetNumBits(), c.bits);
    RawSampleLayout layout;
    ASSERT_TRUE(in->GetRawSampleLayout(&layout)) << "the raw path is what this test is about";

    // The same words in a file without a raw layout: the doubles the file's
    // readers give are the words times the base's scales.
    const UInt32 frames = in->GetNumFrames();
    std::vector<double> x(std::size_t(frames) * std::size_t(c.channels));
    UInt32 count = frames;
    ASSERT_EQ(in->ReadFrames(0, &count, x.data()), 0);
    ASSERT_EQ(count, frames);
    const double scale = c.bits == 8 ? kScale8 : c.bits == 16 ? kScale16 : kScale32;
    const int shift = c.bits == 24 ? 8 : 0;
    std::vector<SInt32> words;
    for (double v : x)
        words.push_back(SInt32(std::lround(v / scale)) >> shift);
    WordsFile copy(UInt16(c.channels), SInt16(c.bits), 48000);
    copy.SetSamples(words);

    using Pass = SInt32 (*)(CSoundFile*, CSoundFile*, ResampleSettings&);
    struct Route {
        Pass pass;
        UInt16 outChannels;
    };
    std::vector<Route> routes{{SRCPass, UInt16(c.channels)}};
    if (c.channels == 2) {
        routes.push_back({SRCPassMixToMono, 1});
        routes.push_back({SRCPassRight, 1});
    }
    for (const Route& route : routes) {
        for (double rate : {44100.0, 22050.0, 96000.0}) {
            for (SInt16 quality : {0, 1, 3}) {
                SCOPED_TRACE(testing::Message() << route.outChannels << " out, " << rate << " Hz, q" << quality);
                WordsFile fromFile(route.outChannels, 32, rate), fromWords(route.outChannels, 32, rate);
                ResampleSettings s;
                s.targetRate = rate;
                s.quality = quality;
                ASSERT_EQ(route.pass(in.get(), &fromFile, s), 0);
                const double peak = s.max;
                ASSERT_EQ(route.pass(&copy, &fromWords, s), 0);
                EXPECT_EQ(s.max, peak);
                ASSERT_GT(fromFile.GetNumFrames(), 0u);
                EXPECT_TRUE(fromFile.data == fromWords.data);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ResampledFileInput,
                         ::testing::Values(RawCase{"pair24.wav", 2, 24}, RawCase{"pair16.aif", 2, 16},
                                           RawCase{"three32.wav", 3, 32}, RawCase{"pair8.wav", 2, 8},
                                           RawCase{"pair24.aif", 2, 24}, RawCase{"one16.wav", 1, 16}),
                         [](const ::testing::TestParamInfo<RawCase>& info) {
                             std::string name = info.param.name;
                             name.erase(name.find('.'), 1);
                             return name;
                         });

} // namespace
