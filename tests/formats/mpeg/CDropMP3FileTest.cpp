// MP3 output through the LAME encoder: outputs that ffmpeg decodes with the
// bit rate, rate and channel mode asked for, ID3 tags that ffprobe reads
// (from the options, or an MP3 input's own tag put in front), and a fake
// encoder that fails, writes nothing or hangs until the batch is cancelled.
#include "CDropMP3File.h"
#include "CreateSoundFile.h"
#include "MP3FileTypes.h"
#include "NotificationCenter.h"
#include "PCMFileTypes.h"
#include "TestTempDir.h"
#include "ThreadDictionary.h"
#include "id3_tags.h"
#include "lame_encoder.h"
#include "progress_channel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>

namespace {

QByteArray RunPeer(const QString& program, const QStringList& arguments, int* exitCode = nullptr,
               QByteArray* errors = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (errors)
        *errors = process.readAllStandardError();
    return process.readAllStandardOutput();
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The channel mode of the first MPEG audio frame (after any ID3v2 tag):
// 0 stereo, 1 joint stereo, 2 dual channel, 3 mono; -1 when none is found.
int FirstFrameMode(const QByteArray& data)
{
    qsizetype at = 0;
    if (data.startsWith("ID3") && data.size() >= 10)
        at = 10 + ((qsizetype(data[6] & 0x7F) << 21) | (qsizetype(data[7] & 0x7F) << 14) |
                   (qsizetype(data[8] & 0x7F) << 7) | qsizetype(data[9] & 0x7F));
    for (; at + 4 <= data.size(); ++at) {
        if (quint8(data[at]) == 0xFF && (quint8(data[at + 1]) & 0xE0) == 0xE0)
            return (quint8(data[at + 3]) >> 6) & 3;
    }
    return -1;
}

class DropMP3File : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RegisterPCMFileTypes();
        RegisterMP3FileTypes();
    }
    void SetUp() override
    {
        savedPath = qgetenv("PATH");
        root = dir.qpath();
    }
    void TearDown() override
    {
        qputenv("PATH", savedPath);
        ThreadDictionary::current().clearLastError();
    }

    // A new output `name`.mp3 with a 1 s sine written, not yet closed.
    std::unique_ptr<CSoundFile> Write(const QString& name, int channels, double rate, int bitRate,
                                      const QVariantMap& specifics, char recordMode = 0, OSErr* createError = nullptr)
    {
        OutputContext context;
        context.specifics = specifics;
        context.inputPath = "/recordings/take one.wav";
        const OutputContextScope scope(context);
        std::unique_ptr<CSoundFile> file(CreateSoundFileObject(CDropMP3File::kType));
        EXPECT_TRUE(file);
        if (!file)
            return nullptr;
        EXPECT_EQ(file->SetFile((root + "/" + name).toStdString()), noErr);
        UInt8 record[256] = {};
        record[6] = UInt8(recordMode);
        Str255 none = {0};
        const OSErr err = file->Create(UInt16(channels), SInt16(bitRate), 0, record, none, float(rate));
        if (createError)
            *createError = err;
        if (err)
            return nullptr;
        const UInt32 frames = UInt32(rate);
        std::vector<double> samples(size_t(frames) * size_t(channels));
        for (UInt32 i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                samples[size_t(i) * size_t(channels) + size_t(c)] = 0.5 * std::sin(i * (0.03 + 0.02 * c));
        UInt32 count = frames;
        EXPECT_EQ(file->WriteFrames(0, &count, samples.data()), noErr);
        EXPECT_EQ(count, frames);
        EXPECT_EQ(file->GetNumFrames(), frames);
        return file;
    }

    // Files with a temporary name (the encoder's input has one).
    QStringList Leftovers()
    {
        return QDir(root).entryList({".QuillOutFile-*"}, QDir::Files | QDir::Hidden);
    }

    QJsonObject Probe(const QString& path)
    {
        return QJsonDocument::fromJson(RunPeer("ffprobe", {"-v", "error", "-print_format", "json", "-show_streams",
                                                       "-show_format", path}))
            .object();
    }

    void FakeEncoder(const QString& body)
    {
        const QString bin = root + "/bin";
        QDir().mkpath(bin);
        QFile file(bin + "/lame");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("#!/bin/sh\nPATH=/usr/bin:/bin\nif [ \"$1\" = -v ]; then echo 'LAME version 3.100'; exit 0; fi\n" +
                    body + "\n")
                       .toUtf8());
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("PATH", bin.toUtf8());
    }

    TestTempDir dir;
    QString root;
    QByteArray savedPath;
};

struct EncodeCase {
    const char* label;
    int channels;
    double rate;
    int bitRate;
    char recordMode;
    QVariantMap specifics;
    int outputChannels;
    int mode;  // of the frame header
};

void PrintTo(const EncodeCase& c, std::ostream* os)
{
    *os << c.label;
}

class DropMP3Encodes : public DropMP3File, public ::testing::WithParamInterface<EncodeCase> {};

TEST_P(DropMP3Encodes, FfmpegDecodesTheBitRateAndModeAskedFor)
{
    const EncodeCase& c = GetParam();
    QVariantMap specifics = c.specifics;
    specifics.insert("LAMEWriteID3Tags", false);
    std::unique_ptr<CSoundFile> file = Write("out", c.channels, c.rate, c.bitRate, specifics, c.recordMode);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->Close(), noErr);
    const QString path = root + "/out.mp3";

    const QJsonObject stream = Probe(path).value("streams").toArray().at(0).toObject();
    EXPECT_EQ(stream.value("codec_name").toString(), "mp3");
    EXPECT_EQ(stream.value("bit_rate").toString().toInt(), c.bitRate * 1000);
    EXPECT_EQ(stream.value("sample_rate").toString().toInt(), int(c.rate));
    EXPECT_EQ(stream.value("channels").toInt(), c.outputChannels);
    EXPECT_EQ(FirstFrameMode(ReadAll(path)), c.mode);

    int exitCode = -1;
    QByteArray errors;
    RunPeer("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"}, &exitCode, &errors);
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
    EXPECT_TRUE(Leftovers().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DropMP3Encodes,
    ::testing::Values(EncodeCase{"StereoCbr128", 2, 44100, 128, 0, {{"LAMEQuality", 2}}, 2, 0},
                      EncodeCase{"JointFromTheRecord", 2, 48000, 192, 'j', {}, 2, 1},
                      EncodeCase{"Mono64", 1, 22050, 64, 0, {{"LAMEEncodingMode", 0}}, 1, 3},
                      EncodeCase{"HandlingMonoFromStereo", 2, 32000, 96, 0,
                                 {{"LAMEChannelHandling", 0}, {"LAMEStereoMode", 1}}, 1, 3},
                      EncodeCase{"StereoModeJoint", 2, 44100, 160, 0,
                                 {{"LAMEChannelHandling", 1}, {"LAMEStereoMode", 1}}, 2, 1}),
    [](const ::testing::TestParamInfo<EncodeCase>& info) { return std::string(info.param.label); });

TEST_F(DropMP3File, TagsFromTheOptionsAndAnInputsOwnTagReachFfprobe)
{
    std::unique_ptr<CSoundFile> file =
        Write("tagged", 2, 44100, 128, {{"LAMETitle", "07 Song (live)"}, {"LAMEArtist", "Ann & Bob's"},
                                        {"LAMEAlbum", "Étude"}, {"LAMEYear", "1999"}, {"LAMEGenre", 17}});
    ASSERT_TRUE(file);
    ASSERT_EQ(file->Close(), noErr);
    QJsonObject tags = Probe(root + "/tagged.mp3").value("format").toObject().value("tags").toObject();
    EXPECT_EQ(tags.value("title").toString(), "Song (live)");
    EXPECT_EQ(tags.value("artist").toString(), "Ann & Bob's");
    EXPECT_EQ(tags.value("album").toString(), "Étude");
    EXPECT_EQ(tags.value("genre").toString(), "Rock");

    // An MP3 input's ID3v2 tag is put in front of the data as it is, and no
    // tag of the options is written.
    int exitCode = -1;
    RunPeer("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=d=0.3", "-metadata", "title=From the input",
                   "-metadata", "artist=Original", "-id3v2_version", "3", root + "/input.mp3"},
        &exitCode);
    ASSERT_EQ(exitCode, 0);
    std::ifstream in((root + "/input.mp3").toStdString(), std::ios::binary);
    const QByteArray blob = ReadID3v2TagData(in);
    ASSERT_TRUE(blob.startsWith("ID3"));
    file = Write("carried", 1, 44100, 64, {{"ID3v2 tag blob", blob}, {"LAMETitle", "Not this"}});
    ASSERT_TRUE(file);
    ASSERT_EQ(file->Close(), noErr);
    const QByteArray written = ReadAll(root + "/carried.mp3");
    EXPECT_TRUE(written.startsWith(blob));
    tags = Probe(root + "/carried.mp3").value("format").toObject().value("tags").toObject();
    EXPECT_EQ(tags.value("title").toString(), "From the input");
    EXPECT_EQ(tags.value("artist").toString(), "Original");
    EXPECT_EQ(FirstFrameMode(written), 3);
}

TEST_F(DropMP3File, AFailingEncoderOrOneThatWritesNothingIsAnError)
{
    FakeEncoder("echo 'cannot do it' >&2; exit 3");
    std::unique_ptr<CSoundFile> file = Write("failed", 2, 44100, 128, {});
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Close(), kLAMEEncoderFailedErr);
    EXPECT_TRUE(Leftovers().isEmpty());

    FakeEncoder("exit 0");
    file = Write("empty", 2, 44100, 128, {});
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Close(), kLAMEEncoderFailedErr);
    EXPECT_TRUE(Leftovers().isEmpty());

    // No encoder at all by the time of the encode.
    qputenv("PATH", (root + "/nothing").toUtf8());
    file = Write("none", 1, 44100, 128, {});
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Close(), kLAMEEncoderMissingErr);
    EXPECT_TRUE(Leftovers().isEmpty());

    // More than two channels are refused at once.
    OSErr err = noErr;
    EXPECT_FALSE(Write("six", 6, 44100, 128, {}, 0, &err));
    EXPECT_EQ(err, kMP3ChannelsErr);
}

TEST_F(DropMP3File, TheEncodersProgressLinesArePostedAsPercentages)
{
    // Progress lines end in carriage returns; the percentage is between "(" and "%".
    FakeEncoder("for a; do out=$a; done; printf 'Encoding (11x)\\n 1/4 ( 25%%)|\\r 2/4 ( 50%%)|\\r"
                "no number (x%%)\\r 4/4 (100%%)|\\n'; exec lame --quiet \"$@\"");
    std::vector<int> seen;
    NotificationCenter& center = NotificationCenter::defaultCenter();
    const auto token = center.addObserver(kProgressPercentageNotification, nullptr, [&seen](const Notification& n) {
        if (seen.empty() || seen.back() != n.object.toInt())
            seen.push_back(n.object.toInt());
    });
    std::unique_ptr<CSoundFile> file = Write("progress", 1, 8000, 32, {});
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Close(), noErr);
    center.removeObserver(token);
    EXPECT_EQ(seen, (std::vector<int>{0, 25, 50, 100})) << ::testing::PrintToString(seen);
}

TEST_F(DropMP3File, ACancelEndsAHangingEncoderAndWhatItStarted)
{
    // The encoder has begun its output when it is stopped.
    FakeEncoder("for a; do out=$a; done; echo partial > \"$out\"; sleep 300 & echo $! > \"" + root +
                "/sleeper\"; echo '    0/10 ( 0%)|'; wait");
    std::unique_ptr<CSoundFile> file = Write("hung", 2, 44100, 128, {});
    ASSERT_TRUE(file);
    // The Cancel button's stop value, as the batch driver writes it, once
    // the encoder has started its child (a stop before that would end the
    // encoder before it got there).
    const QString sleeperFile = root + "/sleeper";
    const auto token = NotificationCenter::defaultCenter().addObserver(
        kProgressPercentageNotification, nullptr, [&sleeperFile](const Notification&) {
            if (!ReadAll(sleeperFile).trimmed().isEmpty())
                ThreadDictionary::current().setLastError(userCanceledErr);
        });
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(file->Close(), userCanceledErr);
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(Leftovers().isEmpty());
    EXPECT_FALSE(QFile::exists(root + "/hung.mp3"));
    // The encoder's own child is gone too (at most a zombie on its way out).
    const QString sleeper = QString::fromLatin1(ReadAll(root + "/sleeper")).trimmed();
    ASSERT_FALSE(sleeper.isEmpty());
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        const QByteArray stat = ReadAll("/proc/" + sleeper + "/stat");
        gone = stat.isEmpty() || stat.contains(") Z");
        if (!gone)
            QThread::msleep(10);
    }
    EXPECT_TRUE(gone);
}

TEST_F(DropMP3File, ADiscardedOutputIsNotEncoded)
{
    FakeEncoder("touch \"" + root + "/encoder-ran\"; exit 0");
    std::unique_ptr<CSoundFile> file = Write("discarded", 2, 44100, 128, {});
    ASSERT_TRUE(file);
    EXPECT_EQ(file.release()->CloseAndDelete(false), noErr);
    EXPECT_FALSE(QFile::exists(root + "/encoder-ran"));
    EXPECT_FALSE(QFile::exists(root + "/discarded.mp3"));
    EXPECT_TRUE(Leftovers().isEmpty());
}

}  // namespace
