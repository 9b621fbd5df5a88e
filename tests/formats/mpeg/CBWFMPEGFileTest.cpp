// The MPEG output classes written through their CSoundFile interface:
// Layer I and II streams and the Broadcast Wave form, checked with ffprobe,
// ffmpeg and our own reader; refused settings leave nothing behind.
#include "BWFMPEGReader.h"
#include "CBWFMPEGFile.h"
#include "CMPEG2File.h"
#include "CreateSoundFile.h"
#include "PeerTools.h"
#include "EngineStartup.h"
#include "ThreadDictionary.h"
#include "ZuSoundFile.h"
#include "TestTempDir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <memory>
#include <cstring>
#include <gtest/gtest.h>

namespace {

QJsonObject Probe(const std::string& path, QByteArray* errors)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_format"),
                                        QStringLiteral("-show_streams"), QStringLiteral("-of"), QStringLiteral("json"),
                                        QString::fromStdString(path)});
    p.waitForFinished(30000);
    *errors = p.readAllStandardError();
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

long long DecodedFrames(const std::string& path, int channels, QByteArray* errors)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-nostdin"),
                                       QStringLiteral("-i"), QString::fromStdString(path), QStringLiteral("-f"),
                                       QStringLiteral("s16le"), QStringLiteral("-")});
    p.waitForFinished(60000);
    *errors = p.readAllStandardError();
    return p.readAllStandardOutput().size() / (2 * channels);
}

// The tone every test writes: 440 Hz on the first channel, 110 Hz higher on
// each further one.
double Tone(UInt32 frame, UInt16 channel, double rate)
{
    return 0.4 * std::sin(2 * M_PI * (440.0 + 110 * channel) * frame / rate);
}

class MPEGFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EngineStartup::registerFileTypes(); }

    // Writes `frames` frames of a tone through `file` and closes it.
    // The output gets its type's extension: written_ is its path.
    OSErr Write(CSoundFile& file, const std::string& path, UInt16 channels, SInt16 kbps, float rate, UInt32 frames,
                const UInt8* specifics)
    {
        EXPECT_EQ(file.SetFile(path), noErr);
        OSErr err = file.Create(channels, kbps, 0, specifics, nullptr, rate);
        written_ = file.GetPath();
        if (err)
            return err;
        std::vector<double> samples(std::size_t(frames) * channels);
        for (UInt32 i = 0; i < frames; ++i)
            for (UInt16 c = 0; c < channels; ++c)
                samples[std::size_t(i) * channels + c] = Tone(i, c, rate);
        UInt32 count = frames;
        EXPECT_EQ(file.WriteFrames(0, &count, samples.data()), noErr);
        EXPECT_EQ(count, frames);
        return file.Close();
    }

    QStringList FolderEntries() const
    {
        return QDir(dir_.qpath()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    TestTempDir dir_;
    std::string written_;
};

TEST_F(MPEGFileTest, Layer2StreamDecodesToItsLengthAndLeavesNoIntermediate)
{
    CMPEG2File file;
    const UInt32 frames = 44100 + 500;
    ASSERT_EQ(Write(file, dir_.file("take"), 2, 192, 44100.0f, frames, nullptr), noErr);
    EXPECT_EQ(FolderEntries(), QStringList{QStringLiteral("take.mp2")});
    QByteArray errors;
    const QJsonObject info = Probe(written_, &errors);
    EXPECT_TRUE(errors.isEmpty()) << errors.constData();
    const QJsonObject stream = info.value(QStringLiteral("streams")).toArray().at(0).toObject();
    EXPECT_EQ(stream.value(QStringLiteral("codec_name")).toString(), QStringLiteral("mp2"));
    EXPECT_EQ(stream.value(QStringLiteral("bit_rate")).toString(), QStringLiteral("192000"));
    const long long decoded = DecodedFrames(written_, 2, &errors);
    EXPECT_TRUE(errors.isEmpty()) << errors.constData();
    // Every input sample, given back 481 samples late, and no more than one
    // frame beyond.
    EXPECT_GE(decoded, frames + 481);
    EXPECT_LT(decoded, frames + 481 + 1152);
}

TEST_F(MPEGFileTest, RefusedSettingsLeaveNothingBehind)
{
    struct Refusal {
        UInt16 channels;
        SInt16 kbps;
        float rate;
        OSErr code;
    } refusals[] = {
        {2, 100, 44100.0f, kMPEGBitRateErr},   // not in the Layer II table
        {2, 0, 44100.0f, kMPEGStereoRateErr},  // 56 or lower in stereo
        {2, 80, 44100.0f, kMPEGStereoRateErr},
        {1, 224, 44100.0f, kMPEGMonoRateErr},
        {2, 192, 22050.0f, kMPEGSampleRateErr},
        {3, 192, 44100.0f, kMPEGChannelsErr},
    };
    for (const Refusal& r : refusals) {
        CMPEG2File file;
        EXPECT_EQ(Write(file, dir_.file("x.mp2"), r.channels, r.kbps, r.rate, 100, nullptr), r.code) << r.kbps;
        EXPECT_TRUE(FolderEntries().isEmpty()) << FolderEntries().join(QLatin1Char(' ')).toStdString();
    }
    CMPEG1File layer1;
    EXPECT_EQ(Write(layer1, dir_.file("x.mp1"), 2, 32, 48000.0f, 100, nullptr), kMPEGStereo32kErr);
}

TEST_F(MPEGFileTest, BroadcastWaveCarriesItsDescriptionAndDecodes)
{
    UInt8 specifics[256] = {};
    specifics[0] = 20;
    std::memcpy(specifics + 1, "MPEG joint stereo   ", 20);
    const char* annotation = "Morning take, studio 2 \xc3\xa9t\xc3\xa9";
    std::strcpy(reinterpret_cast<char*>(specifics + 22), annotation);
    CBWFMPEGFile file;
    const UInt32 frames = 48000;
    ASSERT_EQ(Write(file, dir_.file("take"), 2, 192, 48000.0f, frames, specifics), noErr);
    EXPECT_EQ(FolderEntries().size(), 1) << FolderEntries().join(QLatin1Char(' ')).toStdString();

    QByteArray errors;
    const QJsonObject info = Probe(written_, &errors);
    EXPECT_TRUE(errors.isEmpty()) << errors.constData();
    // ffmpeg shows the description as "comment", the originator as "encoded_by".
    const QJsonObject tags = info.value(QStringLiteral("format")).toObject().value(QStringLiteral("tags")).toObject();
    EXPECT_EQ(tags.value(QStringLiteral("comment")).toString(), QString::fromUtf8(annotation));
    EXPECT_EQ(tags.value(QStringLiteral("encoded_by")).toString(), QStringLiteral("Quillmarch"));
    const QJsonObject stream = info.value(QStringLiteral("streams")).toArray().at(0).toObject();
    EXPECT_EQ(stream.value(QStringLiteral("codec_name")).toString(), QStringLiteral("mp2"));
    const long long decoded = DecodedFrames(written_, 2, &errors);
    EXPECT_TRUE(errors.isEmpty()) << errors.constData();
    // Every input sample, given back 481 samples late, and no more than one
    // frame beyond.
    EXPECT_GE(decoded, frames + 481);
    EXPECT_LT(decoded, frames + 481 + 1152);

    QFile f(QString::fromStdString(written_));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    BWFMPEGReader::Info read;
    ASSERT_TRUE(BWFMPEGReader::Parse(bytes, &read));
    EXPECT_EQ(read.description, QByteArray(annotation));
    EXPECT_EQ(read.channels, 2);
    EXPECT_EQ(read.sampleRate, 48000u);
    EXPECT_EQ(read.bytesPerSecond, 24000u);
    EXPECT_EQ(read.bitRate, 192000u);
    EXPECT_EQ(read.layer, 2);
    EXPECT_EQ(read.mode, 2);  // joint stereo
    EXPECT_EQ(read.modeExtension, 1);
    EXPECT_EQ(read.soundInformation, 1);  // 48 kHz, no padding
    EXPECT_EQ(read.factFrames, frames);
    EXPECT_EQ(read.dataOffset, 966u);
    EXPECT_EQ(read.dataSize % 576, 0u);  // every frame 576 bytes
    EXPECT_EQ(read.date.size(), 10);
    EXPECT_EQ(read.time.size(), 8);
    EXPECT_NE(read.date, QByteArray("2000:02:07"));
    EXPECT_TRUE(read.codingHistory.startsWith("A=MPEG1L2,F=48000,B=192,M=joint-stereo"));
    EXPECT_EQ(qsizetype(read.dataOffset + read.dataSize + (read.dataSize & 1)), bytes.size());
    // The RIFF size covers the whole file.
    EXPECT_EQ(qFromLittleEndian<quint32>(bytes.constData() + 4), quint32(bytes.size() - 8));

    // The file-information model gives its bit rate where a word size would stand.
    const std::shared_ptr<ZuSoundFile> model = ZuSoundFile::soundFileWithPath(QString::fromStdString(written_));
    EXPECT_TRUE(model->useBitRate());
    EXPECT_EQ(model->displayBits(), model->displayBitRate());
    EXPECT_NEAR(model->bitRate(), 192, 8);
}

// No input sample is lost: a decoder gives every sample back 481 samples
// late (the two filterbanks), so the stream runs on until it has given the
// last one, and our reader, which honours 'fact', reads the input's frames
// in place, to the end of the tone.
TEST_F(MPEGFileTest, BroadcastWaveHoldsEveryInputSampleInPlace)
{
    QM_REQUIRE_PEER("ffmpeg");
    constexpr UInt32 kLag = 481;
    struct Case {
        float rate;
        UInt16 channels;
        SInt16 kbps;
        UInt32 frames;
    };
    for (const Case& c : {Case{44100.0f, 2, 192, 88200}, Case{48000.0f, 1, 96, 1152 * 5}, Case{32000.0f, 2, 128, 1000}}) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " channels, " << c.frames << " frames");
        CBWFMPEGFile file;
        ASSERT_EQ(Write(file, dir_.file("tail" + std::to_string(c.frames)), c.channels, c.kbps, c.rate, c.frames,
                        nullptr),
                  noErr);
        // The error of `decoded` (interleaved, from frame `offset`) against
        // the tone over frames [from, to), in dB below the tone.
        const auto snr = [&](const std::vector<double>& decoded, UInt32 offset, UInt32 from, UInt32 to) {
            double signal = 0, noise = 0;
            for (UInt32 i = from; i < to; ++i)
                for (UInt16 ch = 0; ch < c.channels; ++ch) {
                    const double x = Tone(i, ch, c.rate);
                    const double y = decoded[std::size_t(i + offset) * c.channels + ch];
                    signal += x * x;
                    noise += (x - y) * (x - y);
                }
            return 10 * std::log10(signal / std::max(noise, 1e-12));
        };
        const UInt32 last10ms = c.frames - UInt32(c.rate / 100);

        OSType type = 0;
        ASSERT_EQ(DetectFileType(written_, &type), noErr);
        std::unique_ptr<CSoundFile> in(CreateSoundFileObject(type));
        ASSERT_TRUE(in);
        ASSERT_EQ(in->SetFile(written_), noErr);
        ASSERT_EQ(in->Open(), noErr);
        ASSERT_EQ(in->GetNumFrames(), c.frames);
        EXPECT_FALSE(in->DataCutShort());
        std::vector<double> ours(std::size_t(c.frames) * c.channels);
        UInt32 count = c.frames;
        ASSERT_EQ(in->ReadFrames(0, &count, ours.data()), noErr);
        ASSERT_EQ(count, c.frames);
        EXPECT_GT(snr(ours, 0, 0, c.frames), 20.0);
        EXPECT_GT(snr(ours, 0, last10ms, c.frames), 20.0);

        std::vector<double> theirs;
        for (SInt32 v : peers::FFmpegS32(written_))
            theirs.push_back(v / 2147483648.0);
        ASSERT_GE(theirs.size(), std::size_t(c.frames + kLag) * c.channels);
        EXPECT_GT(snr(theirs, kLag, last10ms, c.frames), 20.0);
    }
}

TEST_F(MPEGFileTest, PaddingFollowsTheConversionsSetting)
{
    // 44.1 kHz Layer II at 128 kbit/s: 417.96 bytes a frame on average with
    // padding, 417 exactly without.
    for (const bool padding : {true, false}) {
        OutputContext context;
        context.specifics = QVariantMap{{QStringLiteral("Use MPEG Frame Padding"), padding}};
        const OutputContextScope scope(context);
        CMPEG2File file;
        const std::string name = padding ? "padded" : "plain";
        // 50 frames hold this input and the decoders' lag of 481 samples.
        ASSERT_EQ(Write(file, dir_.file(name), 2, 128, 44100.0f, 1152 * 50 - 481, nullptr), noErr);
        QFile f(QString::fromStdString(written_));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.size(), padding ? 417 * 50 + 48 : 417 * 50) << name;
    }
}

TEST_F(MPEGFileTest, DirectRouteEncodesASoundDesignerInputAndKeepsIt)
{
    // A 16-bit Sound Designer II input is the encoder's intermediate itself.
    std::unique_ptr<CSoundFile> sd2(CreateSoundFileObject(FOUR_CHAR_CODE("Sd2f")));
    ASSERT_TRUE(sd2);
    ASSERT_EQ(Write(*sd2, dir_.file("source"), 1, 16, 48000.0f, 24000, nullptr), noErr);
    const std::string sourcePath = written_;
    std::unique_ptr<CSoundFile> input(CreateSoundFileObject(FOUR_CHAR_CODE("Sd2f")));
    ASSERT_EQ(input->SetFile(sourcePath), noErr);
    ASSERT_EQ(input->Open(), noErr);
    ASSERT_EQ(input->GetNumFrames(), 24000u);

    CMPEG2File out;
    ASSERT_EQ(out.SetFile(dir_.file("direct")), noErr);
    ASSERT_EQ(out.CreateLike(input.get(), 1, 96, 0, nullptr, nullptr, 48000.0), noErr);
    EXPECT_EQ(out.CreateLike(input.get(), 1, 96, 0, nullptr, nullptr, 48000.0), opWrErr);
    ASSERT_EQ(out.Close(), noErr);
    input->Close();
    EXPECT_TRUE(QFile::exists(QString::fromStdString(sourcePath))) << "the input is never removed";
    QByteArray errors;
    EXPECT_EQ(DecodedFrames(out.GetPath(), 1, &errors) / 1152, 22);  // 24000 frames and the lag of 481
    EXPECT_TRUE(errors.isEmpty()) << errors.constData();
    // Not a 16-bit Sound Designer II file: refused.
    CMPEG2File other;
    ASSERT_EQ(other.SetFile(dir_.file("other")), noErr);
    EXPECT_EQ(other.CreateLike(&out, 1, 96, 0, nullptr, nullptr, 48000.0), paramErr);
}

TEST_F(MPEGFileTest, StoppingTheBatchEndsTheEncodeAndRemovesTheOutput)
{
    ThreadDictionary::current().setLastError(-128);
    CMPEG2File file;
    EXPECT_EQ(Write(file, dir_.file("stopped"), 2, 192, 44100.0f, 44100, nullptr), -128);
    ThreadDictionary::current().clearLastError();
    EXPECT_TRUE(FolderEntries().isEmpty()) << FolderEntries().join(QLatin1Char(' ')).toStdString();
}

TEST_F(MPEGFileTest, BroadcastWaveWithoutAudioIsAnEmptyWaveFile)
{
    CBWFMPEGFile file;
    ASSERT_EQ(file.SetFile(dir_.file("empty")), noErr);
    ASSERT_EQ(file.Create(1, 64, 0, nullptr, nullptr, 32000.0f), noErr);
    ASSERT_EQ(file.Close(), noErr);
    QFile f(QString::fromStdString(file.GetPath()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    BWFMPEGReader::Info read;
    ASSERT_TRUE(BWFMPEGReader::Parse(f.readAll(), &read));
    EXPECT_EQ(read.dataSize, 0u);
    EXPECT_EQ(read.factFrames, 0u);
    EXPECT_EQ(read.mode, 8);  // one channel
    EXPECT_EQ(read.description, QByteArray());
    EXPECT_EQ(f.size(), CBWFMPEGFile::kHeaderBytes);

    // Destroyed without Close: still a Broadcast Wave file.
    {
        CBWFMPEGFile open;
        ASSERT_EQ(open.SetFile(dir_.file("unclosed")), noErr);
        ASSERT_EQ(open.Create(1, 64, 0, nullptr, nullptr, 32000.0f), noErr);
    }
    QFile g(QString::fromStdString(dir_.file("unclosed.wav")));
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    EXPECT_TRUE(BWFMPEGReader::Parse(g.readAll(), &read));
}

// Our MPEG outputs read back as any input is, through the media layer:
// a stream of a few frames reads as ffmpeg decodes it, and the same file
// cut inside its last frame reads as ffmpeg decodes the file without that
// frame, and says it was cut.  Type detection knows both by their content
// alone (a copy without a name ending), as ffprobe does.
struct ReadBackCase {
    const char* name;
    OSType type;
    UInt16 channels;
    SInt16 kbps;
    UInt32 frames;
    std::size_t frameBytes;  // of every coded frame (48 kHz: no padding)
    bool countsItsFrames;  // the file says how many frames it holds
};

void PrintTo(const ReadBackCase& c, std::ostream* os)
{
    *os << c.name;
}

class MPEGReadBack : public MPEGFileTest, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(MPEGReadBack, ShortAndCutStreamsReadTheirWholeFrames)
{
    QM_REQUIRE_PEER("ffmpeg");
    const ReadBackCase& c = GetParam();
    std::unique_ptr<CSoundFile> file(CreateSoundFileObject(c.type));
    ASSERT_TRUE(file);
    ASSERT_EQ(Write(*file, dir_.file("short"), c.channels, c.kbps, 48000.0f, c.frames, nullptr), noErr);
    const std::vector<UInt8> bytes = peers::ReadAll(written_);
    const std::string ending = written_.substr(written_.rfind('.'));
    const auto prefix = [&](const char* name, std::size_t dropped) {
        const std::string path = dir_.file(name) + ending;
        peers::WriteAll(path, std::vector<UInt8>(bytes.begin(), bytes.end() - std::ptrdiff_t(dropped)));
        return path;
    };
    const std::string withoutLast = prefix("whole-frames", c.frameBytes);
    struct Case {
        std::string path;
        std::string oracle;  // what ffmpeg decodes to the frames expected
        bool cut;
    };
    std::vector<Case> files{{written_, written_, false}, {prefix("cut", c.frameBytes / 2), withoutLast, true}};
    // Cut between frames: told only by a file that counts its frames (the
    // 'fact' chunk; the MP3 encoder's first frame, which passes one frame
    // short).
    if (c.countsItsFrames) {
        const std::string twoShort = prefix("two-short", 2 * c.frameBytes);
        files.push_back({twoShort, twoShort, true});
    }
    for (const auto& f : files) {
        UInt32 expected = UInt32(peers::FFmpegS32(f.oracle).size() / c.channels);
        ASSERT_GT(expected, 0u) << f.oracle;
        // The Broadcast Wave form starts after the decoders' lag of 481
        // samples and ends where its 'fact' chunk says.
        if (c.type == FOUR_CHAR_CODE("BWMP"))
            expected = std::min(expected - 481, c.frames);
        // The content alone tells: with no name ending, and with one that
        // belongs to another kind of file.
        const std::string nameless = f.path.substr(0, f.path.rfind('.'));
        const std::string misnamed = nameless + ".bin";
        peers::WriteAll(nameless, peers::ReadAll(f.path));
        peers::WriteAll(misnamed, peers::ReadAll(f.path));
        for (const std::string& path : {f.path, nameless, misnamed}) {
            OSType type = 0;
            SInt32 recognized = 0;
            ASSERT_EQ(DetectFileType(path, &type, &recognized), noErr) << path;
            EXPECT_EQ(recognized, 1) << path;
            std::unique_ptr<CSoundFile> in(CreateSoundFileObject(type));
            ASSERT_TRUE(in) << path;
            ASSERT_EQ(in->SetFile(path), noErr);
            ASSERT_EQ(in->Open(), noErr) << path;
            EXPECT_EQ(in->GetNumChannels(), c.channels);
            EXPECT_EQ(in->GetNumFrames(), expected) << path;
            EXPECT_EQ(bool(in->DataCutShort()), f.cut) << path;
            in->Close();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, MPEGReadBack,
    ::testing::Values(ReadBackCase{"LayerI", FOUR_CHAR_CODE("MPG1"), 1, 128, 1000, 128, false},
                      ReadBackCase{"LayerII", FOUR_CHAR_CODE("MPG2"), 2, 192, 3000, 576, false},
                      ReadBackCase{"BroadcastWave", FOUR_CHAR_CODE("BWMP"), 1, 96, 3000, 288, true},
                      ReadBackCase{"MP3", FOUR_CHAR_CODE("DMP3"), 2, 128, 3000, 384, true}),
    [](const ::testing::TestParamInfo<ReadBackCase>& info) { return std::string(info.param.name); });

}  // namespace
