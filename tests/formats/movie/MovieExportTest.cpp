// Movie export: every writable movie type written through its class from a
// sox-made input.  ffprobe reads each output with the codec, rate, channels
// and length asked for; the linear and companded outputs decode in ffmpeg
// to exactly the samples given, IMA 4:1 and AAC within a stated error; the
// markers of an AIFF-C IMA 4:1 output read back; a cancelled or refused
// export leaves neither output nor intermediate.
#include "CQTAIFFImaFile.h"
#include "CCodedFile.h"
#include "CQTMP4File.h"
#include "CreateSoundFile.h"
#include "MovieFileTypes.h"
#include "MovieTestSupport.h"
#include "NotificationCenter.h"
#include "PCMFileTypes.h"
#include "TestTempDir.h"
#include "ThreadDictionary.h"
#include "ieee_extended.h"
#include "progress_channel.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <tuple>

using namespace movietest;

namespace {

struct ExportCase {
    const char* name;
    const char* type;
    SInt16 wordLength;      // the conversion's (the bit rate for MPEG-4)
    const char* variant;    // first specifics bytes ('QTIF')
    UInt16 channels;
    int rate;
    const char* soxEncoding;  // how sox makes the input: "-e a-law" etc.
    int bits;               // bits of the samples handed over
    const char* codec;      // what ffprobe must read
    double minSNR;          // 0: the decode must be exact
};

// The lossy outputs must keep the undithered two-tone input above these
// SNR figures (measured with the libraries here: IMA 4:1 29.8 dB at
// 22.05 kHz and 36.0 dB at 44.1 kHz; AAC 25.4 dB for stereo at 128 kbit/s
// and 16.2 dB for mono at 64 kbit/s and 48 kHz, sample-aligned).
const ExportCase kCases[] = {
    {"ALaw", "QTAL", 16, "", 2, 44100, "-e a-law -b 8", 16, "pcm_alaw", 0},
    {"MuLaw", "QTUL", 16, "", 1, 8000, "-e mu-law -b 8", 16, "pcm_mulaw", 0},
    {"IMAMovie", "QTIM", 16, "", 2, 22050, "-b 16", 16, "adpcm_ima_qt", 27},
    {"Linear8", "QTIF", 8, "BI", 1, 11025, "-b 8", 8, "pcm_u8", 0},
    {"Linear16", "QTIF", 16, "BI", 2, 44100, "-b 16", 16, "pcm_s16be", 0},
    {"Int24Little", "QTIF", 24, "LI", 2, 48000, "-b 24", 24, "pcm_s24le", 0},
    {"Int32Big", "QTIF", 32, "BI", 1, 32000, "-b 24", 32, "pcm_s32be", 0},
    {"Float32Little", "QTIF", 32, "LF", 2, 44100, "-b 24", 32, "pcm_f32le", 0},
    {"Float64Big", "QTIF", 64, "BF", 1, 22050, "-b 24", 32, "pcm_f64be", 0},
    {"AACStereo", "Mpg4", 128, "", 2, 44100, "-b 16", 16, "aac", 22},
    {"AACMono", "Mpg4", 64, "", 1, 48000, "-b 16", 16, "aac", 13},
    {"AIFCIMA", "A1t4", 16, "", 2, 44100, "-b 16", 16, "adpcm_ima_qt", 33},
};

void PrintTo(const ExportCase& c, std::ostream* os)
{
    *os << c.name;
}

constexpr double kSeconds = 0.5;

OSType Code(const char* text)
{
    return OSType(UInt8(text[0])) << 24 | OSType(UInt8(text[1])) << 16 | OSType(UInt8(text[2])) << 8 | UInt8(text[3]);
}

std::unique_ptr<TestTempDir> g_tmp;  // the intermediates' folder (TMPDIR)
std::optional<std::string> g_tmpdirBefore;

// The intermediates go to a folder of the suite's own.
class MovieExportSuite : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        RegisterPCMFileTypes();
        RegisterMovieFileTypes();
        g_tmp = std::make_unique<TestTempDir>();
        const char* before = std::getenv("TMPDIR");
        g_tmpdirBefore = before ? std::optional<std::string>(before) : std::nullopt;
        setenv("TMPDIR", g_tmp->path().c_str(), 1);
    }
    // The folder goes, and TMPDIR points where it did before (the suites
    // after this one in the same process make their folders there).
    static void TearDownTestSuite()
    {
        if (g_tmpdirBefore)
            setenv("TMPDIR", g_tmpdirBefore->c_str(), 1);
        else
            unsetenv("TMPDIR");
        g_tmp.reset();
    }

    static bool TempEmpty() { return QDir(g_tmp->qpath()).entryList(QDir::Files | QDir::Hidden).isEmpty(); }
};

class MovieExportTest : public MovieExportSuite, public ::testing::WithParamInterface<ExportCase> { };

// Writes `samples` (interleaved, left-aligned in 32 bits) through the
// class's blocks, `bits` bits each, big-endian.
OSErr WriteAll(CSoundFile& out, const std::vector<int32_t>& samples, int bits)
{
    const UInt32 channels = out.GetNumChannels();
    const UInt32 frames = UInt32(samples.size() / channels);
    OSErr err = out.AllocateWriteBuffer();
    const int bytes = out.GetNumBits() / 8;
    for (UInt32 at = 0; err == noErr && at < frames;) {
        const UInt32 n = std::min(out.GetBufferFrames(), frames - at);
        if ((err = out.PrepareWriteBlock(at)) != noErr)
            break;
        UInt8* p = out.GetWriteBuffer();
        for (UInt32 i = 0; i < n * channels; ++i) {
            uint32_t v = uint32_t(samples[at * channels + i]);
            if (bits < 32)
                v &= ~((1u << (32 - bits)) - 1);
            for (int k = 0; k < bytes; ++k)
                *p++ = UInt8(v >> (24 - 8 * k));
        }
        err = out.WriteBlock(n, at);
        at += n;
    }
    return err;
}

QJsonObject ProbeStream(const std::string& path)
{
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_streams", "-of", "json", QString::fromStdString(path)});
    probe.waitForFinished(60000);
    return QJsonDocument::fromJson(probe.readAllStandardOutput()).object().value("streams").toArray().at(0).toObject();
}

double SNR(const std::vector<int32_t>& reference, const std::vector<int32_t>& decoded)
{
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < reference.size() && i < decoded.size(); ++i) {
        const double r = reference[i] / 2147483648.0, d = decoded[i] / 2147483648.0;
        signal += r * r;
        noise += (r - d) * (r - d);
    }
    return noise > 0 ? 10 * std::log10(signal / noise) : 200;
}

std::unique_ptr<CSoundFile> MakeOutput(const TestTempDir& dir, const ExportCase& c)
{
    std::unique_ptr<CSoundFile> out(CreateSoundFileObject(Code(c.type)));
    if (!out || out->SetFile(dir.file("out")) != noErr)
        return nullptr;
    UInt8 specifics[256] = {0};
    std::memcpy(specifics, c.variant, std::strlen(c.variant));
    Str255 none = {0};
    if (out->Create(c.channels, c.wordLength, 0, specifics, none, float(c.rate)) != noErr)
        return nullptr;
    return out;
}

TEST_P(MovieExportTest, OutputReadsAsAskedAndDecodesToTheInput)
{
    const ExportCase& c = GetParam();
    TestTempDir dir;
    const std::string in = dir.file("in.wav");
    ASSERT_TRUE(RunCommand("sox -D -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " " +
                           c.soxEncoding + " '" + in + "' synth " + std::to_string(kSeconds) +
                           " sine 440 sine 1250 gain -4"));
    const std::vector<int32_t> input = FFmpegS32(in);
    ASSERT_EQ(input.size(), std::size_t(c.rate * kSeconds) * c.channels);

    std::unique_ptr<CSoundFile> out = MakeOutput(dir, c);
    ASSERT_TRUE(out);
    const std::string path = out->GetPath();
    if (Code(c.type) == FOUR_CHAR_CODE("A1t4")) {
        for (const auto& [id, pos, name, type] : {std::tuple{1, 100u, "Verse", 1}, std::tuple{2, 2000u, "Intro", 2},
                                                  std::tuple{3, 9000u, "Coda", 1}}) {
            SFTMarker m;
            m.markerID = id;
            m.pos = pos;
            m.type = SInt16(type);
            m.name[0] = UInt8(std::strlen(name));
            std::memcpy(m.name + 1, name, m.name[0]);
            ASSERT_EQ(out->AddMarker(&m), noErr);
        }
    }
    ASSERT_EQ(WriteAll(*out, input, c.bits), noErr);
    ASSERT_EQ(out->Close(), noErr);
    out.reset();
    EXPECT_TRUE(TempEmpty()) << "the intermediate is removed";

    const QJsonObject stream = ProbeStream(path);
    EXPECT_EQ(stream.value("codec_name").toString().toStdString(), c.codec);
    EXPECT_EQ(stream.value("sample_rate").toString().toInt(), c.rate);
    EXPECT_EQ(stream.value("channels").toInt(), c.channels);
    // IMA 4:1 comes in packets of 64 frames.
    EXPECT_NEAR(stream.value("duration").toString().toDouble(), kSeconds, 64.0 / c.rate + 1e-3);

    std::vector<int32_t> decoded = FFmpegS32(path);
    if (c.minSNR == 0) {
        EXPECT_EQ(decoded, Truncate(input, c.bits));
    } else {
        ASSERT_GE(decoded.size(), input.size());
        decoded.resize(input.size());
        const double snr = SNR(input, decoded);
        EXPECT_GE(snr, c.minSNR) << "SNR " << snr << " dB";
        RecordProperty("snr_db", std::to_string(snr));
    }

    if (Code(c.type) == FOUR_CHAR_CODE("A1t4")) {
        // The 'MARK' chunk lies inside FORM, whose size covers the file
        // (sox refuses 'ima4' AIFF-C altogether, so a plain walk checks it).
        const std::vector<uint8_t> bytes = ReadAll(path);
        ASSERT_GT(bytes.size(), 12u);
        auto be32 = [&](std::size_t at) {
            return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 |
                   bytes[at + 3];
        };
        EXPECT_EQ(std::size_t(be32(4)) + 8, bytes.size());
        std::vector<std::string> chunks;
        for (std::size_t at = 12; at + 8 <= bytes.size(); at += 8 + be32(at + 4) + (be32(at + 4) & 1))
            chunks.emplace_back(reinterpret_cast<const char*>(&bytes[at]), 4);
        EXPECT_EQ(chunks.back(), "MARK");

        // The markers come back through our reader, renumbered.
        CQTAIFFImaFile back;
        ASSERT_EQ(back.SetFile(path), noErr);
        ASSERT_EQ(back.Open(), noErr);
        ASSERT_EQ(back.GetNumMarkers(), 3);
        const char* names[] = {"Verse", "Intro", "Coda"};
        const SInt16 numbers[] = {1, -1, 2};
        for (UInt16 i = 0; i < 3; ++i) {
            SFTMarker m;
            ASSERT_EQ(back.GetMarker(i, &m), noErr);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.name + 1), m.name[0]), names[i]);
            EXPECT_EQ(m.number, numbers[i]);
        }
        back.Close();
    }
}

INSTANTIATE_TEST_SUITE_P(Types, MovieExportTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ExportCase>& info) { return info.param.name; });

// IMA 4:1 as both kinds of reader play it: libsndfile starts every packet
// from its header, ffmpeg carries its own predictor on from the packet
// before while the header's step index is its own and the header's
// predictor within 127 of its own.  Both decode the same samples, and a
// tone keeps its SNR at every level (the tone has as many samples to a
// cycle at every rate: IMA 4:1's own noise depends on nothing else).  A
// movie's packets, copied out by ffmpeg, are read in an AIFF-C file made
// here.
struct ImaCase {
    const char* type;
    int rate;
    UInt16 channels;
    int level;      // dBFS of the tones' peaks
    double minSNR;  // dB, in every channel, in both readers
};

void PrintTo(const ImaCase& c, std::ostream* os)
{
    *os << c.type << ' ' << c.rate << ' ' << c.channels << "ch " << c.level << " dBFS";
}

std::vector<ImaCase> ImaCases()
{
    std::vector<ImaCase> cases;
    for (const char* type : {"A1t4", "QTIM"})
        for (const int rate : {8000, 44100, 192000})
            for (const UInt16 channels : {UInt16(1), UInt16(2)})
                for (const auto& [level, snr] : {std::pair{-1, 25.0}, std::pair{-40, 35.0}, std::pair{-60, 15.0}})
                    cases.push_back({type, rate, channels, level, snr});
    return cases;
}

// An AIFF-C file of IMA 4:1 `packets` (whole frames of packets).
std::vector<uint8_t> ImaAIFC(const std::vector<uint8_t>& packets, UInt16 channels, double rate)
{
    std::vector<uint8_t> b;
    const auto put = [&](std::initializer_list<uint32_t> words, int bytes) {
        for (const uint32_t w : words)
            for (int k = bytes - 1; k >= 0; --k)
                b.push_back(uint8_t(w >> (8 * k)));
    };
    const auto tag = [&](const char* t) { b.insert(b.end(), t, t + 4); };
    const uint32_t frames = uint32_t(packets.size() / (34u * channels));
    tag("FORM");
    put({uint32_t(4 + 12 + 8 + 24 + 8 + 8 + packets.size())}, 4);
    tag("AIFC");
    tag("FVER");
    put({4, 0xA2805140}, 4);
    tag("COMM");
    put({24}, 4);
    put({channels}, 2);
    put({frames}, 4);
    put({16}, 2);
    UInt8 extended[10];
    ConvertToIeeeExtended(rate, extended);
    b.insert(b.end(), extended, extended + 10);
    tag("ima4");
    put({0}, 2);
    tag("SSND");
    put({uint32_t(8 + packets.size()), 0, 0}, 4);
    b.insert(b.end(), packets.begin(), packets.end());
    return b;
}

class ImaReadersTest : public MovieExportSuite, public ::testing::WithParamInterface<ImaCase> { };

// The SNR (dB) of channel `channel` of `decoded` against `input` over the
// input's frames, the decode's first `skip` frames left out.
double ChannelSNR(const std::vector<int32_t>& input, const std::vector<int32_t>& decoded, int channels, int channel,
                  std::size_t skip)
{
    double signal = 0, noise = 0;
    for (std::size_t i = std::size_t(channel); i < input.size(); i += std::size_t(channels)) {
        const double r = input[i] / 2147483648.0;
        const double d = i + skip * channels < decoded.size() ? decoded[i + skip * channels] / 2147483648.0 : 0.0;
        signal += r * r;
        noise += (r - d) * (r - d);
    }
    return noise > 0 ? 10 * std::log10(signal / noise) : 200;
}

TEST_P(ImaReadersTest, LibsndfileAndFFmpegDecodeTheSameSoundAtEveryLevel)
{
    QM_REQUIRE_PEER("ffmpeg");
    const ImaCase& c = GetParam();
    TestTempDir dir;
    // A quarter of a second and a part packet; 440 Hz (and 660 Hz on the
    // right) at 44.1 kHz, scaled with the rate.
    const int frames = c.rate / 4 + 37;
    std::vector<int32_t> input(std::size_t(frames) * c.channels);
    const double peak = 32767.0 * std::pow(10.0, c.level / 20.0);
    for (int i = 0; i < frames; ++i)
        for (int ch = 0; ch < c.channels; ++ch)
            input[std::size_t(i) * c.channels + ch] =
                int32_t(std::lround(peak * std::sin(2 * M_PI * (ch ? 660.0 : 440.0) / 44100.0 * i))) * 65536;

    const ExportCase shape{"ima", c.type, 16, "", c.channels, c.rate, "", 16, "adpcm_ima_qt", 0};
    std::unique_ptr<CSoundFile> out = MakeOutput(dir, shape);
    ASSERT_TRUE(out);
    const std::string path = out->GetPath();
    ASSERT_EQ(WriteAll(*out, input, 16), noErr);
    ASSERT_EQ(out->Close(), noErr);
    out.reset();

    // A movie's sound starts where its edit list says, after the silence
    // that fills its first packet.
    const bool movie = Code(c.type) == FOUR_CHAR_CODE("QTIM");
    std::string aifc = path;
    std::size_t lead = 0;
    if (movie) {
        const std::string raw = dir.file("packets");
        ASSERT_TRUE(RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a -c copy -f data '" + raw + "'"));
        aifc = dir.file("copied.aifc");
        peers::WriteAll(aifc, ImaAIFC(ReadAll(raw), c.channels, c.rate));
        lead = std::size_t((64 - frames % 64) % 64);
    }
    const peers::SndfileView sndfile = peers::ReadWithSndfile(aifc);
    ASSERT_TRUE(sndfile.opened);
    const std::vector<int32_t> ffmpegCopy = FFmpegS32(aifc);
    const std::vector<int32_t> ffmpeg = FFmpegS32(path);
    ASSERT_EQ(sndfile.frames, (frames + 63) / 64 * 64);
    EXPECT_TRUE(ffmpegCopy == sndfile.samples) << "ffmpeg and libsndfile decode the same packets alike";
    for (int ch = 0; ch < c.channels; ++ch) {
        const double bySndfile = ChannelSNR(input, sndfile.samples, c.channels, ch, lead);
        const double byFFmpeg = ChannelSNR(input, ffmpeg, c.channels, ch, 0);
        EXPECT_GE(bySndfile, c.minSNR) << "channel " << ch << " by libsndfile";
        EXPECT_GE(byFFmpeg, c.minSNR) << "channel " << ch << " by ffmpeg";
        RecordProperty("snr_db_ch" + std::to_string(ch),
                       std::to_string(bySndfile) + " libsndfile, " + std::to_string(byFFmpeg) + " ffmpeg");
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, ImaReadersTest, ::testing::ValuesIn(ImaCases()),
                         [](const ::testing::TestParamInfo<ImaCase>& info) {
                             const ImaCase& c = info.param;
                             return std::string(c.type) + "_" + std::to_string(c.rate) + "_" +
                                    std::to_string(c.channels) + "ch_" + std::to_string(-c.level) + "dB";
                         });

TEST_F(MovieExportTest, CancelRefusalAndDiscardLeaveNothingAndHandedFilesStay)
{
    TestTempDir dir;
    const std::string in = dir.file("in.wav");
    ASSERT_TRUE(RunCommand("sox -D -n -r 44100 -c 2 -b 16 '" + in + "' synth 3 sine 440"));
    const std::vector<int32_t> input = FFmpegS32(in);
    ASSERT_TRUE(QFile::remove(QString::fromStdString(in)));

    // A cancel half-way through the export.
    PostProgressNumSampleFrames(int64_t(input.size() / 2));
    int64_t cancelledAt = -1;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        kProgressPositionNotification, nullptr, [&](const Notification& n) {
            const int64_t position = n.object.toLongLong();
            if (cancelledAt < 0 && position >= int64_t(input.size() / 4)) {
                cancelledAt = position;
                ThreadDictionary::current().setLastError(-128);
            }
        });
    const ExportCase aac = kCases[9];
    std::unique_ptr<CSoundFile> out = MakeOutput(dir, aac);
    ASSERT_TRUE(out);
    ASSERT_EQ(WriteAll(*out, input, 16), noErr);
    EXPECT_EQ(out->Close(), -128);
    NotificationCenter::defaultCenter().removeObserver(token);
    ThreadDictionary::current().clearLastError();
    EXPECT_LT(cancelledAt, int64_t(input.size() / 2)) << "cancelled in the middle";
    EXPECT_TRUE(QDir(dir.qpath()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_TRUE(TempEmpty());

    // Combinations the AAC table does not allow.
    struct Refusal {
        UInt16 channels;
        SInt16 kbps;
        int rate;
        OSErr code;
    } refusals[] = {{1, 8, 44100, -24700}, {2, 20, 44100, -24701}, {6, 384, 48000, -24702}};
    for (const Refusal& r : refusals) {
        ExportCase c = aac;
        c.channels = r.channels;
        c.wordLength = r.kbps;
        c.rate = r.rate;
        out = MakeOutput(dir, c);
        ASSERT_TRUE(out);
        ASSERT_EQ(WriteAll(*out, std::vector<int32_t>(std::size_t(r.channels) * 1000, 1 << 20), 16), noErr);
        EXPECT_EQ(out->Close(), r.code);
        out.reset();
    }
    EXPECT_TRUE(CQTMP4File::LookUpCombination(2, 128, 44100, nullptr));

    // A discarded output is not exported.
    out = MakeOutput(dir, kCases[0]);
    ASSERT_TRUE(out);
    ASSERT_EQ(WriteAll(*out, std::vector<int32_t>(2000, 1 << 24), 16), noErr);
    out.release()->CloseAndDelete(false);
    EXPECT_TRUE(QDir(dir.qpath()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_TRUE(TempEmpty());

    // An output made like a finished file exports that file and leaves it.
    const std::string handed = dir.file("handed.wav");
    ASSERT_TRUE(RunCommand("sox -D -n -r 8000 -c 1 -b 16 '" + handed + "' synth 0.2 sine 300"));
    std::unique_ptr<CSoundFile> source(CreateSoundFileObject(FOUR_CHAR_CODE("WAVE")));
    ASSERT_TRUE(source && source->SetFile(handed) == noErr && source->Open() == noErr);
    out.reset(CreateSoundFileObject(FOUR_CHAR_CODE("QTUL")));
    ASSERT_TRUE(out && out->SetFile(dir.file("like")) == noErr);
    Str255 none = {0};
    ASSERT_EQ(dynamic_cast<CCodedFile&>(*out).CreateLike(source.get(), 1, 16, 0, nullptr, none, 8000), noErr);
    const std::string likePath = out->GetPath();
    EXPECT_EQ(out->Close(), noErr);
    EXPECT_EQ(ProbeStream(likePath).value("codec_name").toString(), "pcm_mulaw");
    EXPECT_TRUE(QFile::exists(QString::fromStdString(handed)));

    // MACE, QDesign and PureVoice have no class: nothing can write them.
    for (const char* type : {"QTM3", "QTM6", "QTQP", "QTQ2", "QTQD", "QTPV"})
        EXPECT_EQ(CreateSoundFileObject(Code(type)), nullptr) << type;
}

TEST(AIFCMarkerChunk, NamesNumbersAndBounds)
{
    auto marker = [](SInt32 id, UInt32 pos, const char* name, SInt16 type) {
        SFTMarker m;
        m.markerID = id;
        m.pos = pos;
        m.type = type;
        m.name[0] = UInt8(std::strlen(name));
        std::memcpy(m.name + 1, name, m.name[0]);
        return m;
    };
    // Types 1, 2, 1 named A, B, C are stored as #1 A, B and #2 C.
    const std::vector<UInt8> chunk =
        CQTAIFFImaFile::BuildMarkerChunk({marker(1, 10, "A", 1), marker(2, 20, "B", 2), marker(3, 30, "C", 1)});
    ASSERT_EQ(chunk.size(), 10u + 12 + 8 + 12);
    EXPECT_EQ(std::string(chunk.begin() + 17, chunk.begin() + 21), "#1 A");
    EXPECT_EQ(chunk[16], 4);   // even length byte: a pad follows
    std::vector<SFTMarker> back;
    ASSERT_TRUE(CQTAIFFImaFile::ParseMarkerChunk(chunk.data() + 8, chunk.size() - 8, &back));
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0].number, 1);
    EXPECT_EQ(back[1].type, 2);
    EXPECT_EQ(back[1].number, -1);
    EXPECT_EQ(back[2].number, 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(back[2].name + 1), back[2].name[0]), "C");

    // "#12 Verse" is numbered; "Intro" is not.
    const std::vector<UInt8> named =
        CQTAIFFImaFile::BuildMarkerChunk({marker(7, 5, "#12 Verse", 2), marker(8, 6, "Intro", 2)});
    ASSERT_TRUE(CQTAIFFImaFile::ParseMarkerChunk(named.data() + 8, named.size() - 8, &back));
    EXPECT_EQ(back[0].type, 1);
    EXPECT_EQ(back[0].number, 12);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(back[0].name + 1), back[0].name[0]), "Verse");
    EXPECT_EQ(back[1].number, -1);

    // A count the chunk cannot hold, and a name past its end, are refused.
    std::vector<UInt8> body(chunk.begin() + 8, chunk.end());
    body[1] = 4;
    EXPECT_FALSE(CQTAIFFImaFile::ParseMarkerChunk(body.data(), body.size(), &back));
    body[1] = 3;
    body[2 + 6] = 200;
    EXPECT_FALSE(CQTAIFFImaFile::ParseMarkerChunk(body.data(), body.size(), &back));
}

} // namespace
