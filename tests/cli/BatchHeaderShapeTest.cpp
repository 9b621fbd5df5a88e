// A header whose rate or channel count cannot describe its sound is refused,
// with the file's name, by --info and by the batch, whatever the format: a
// rate of 0 or far beyond any audio, more channels than one frame of the
// data holds, more channels than any peer reads.  Files sox writes, with
// the header's fields changed.
#include "CliTestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace clitest;

namespace {

// Where a format keeps the rate and the channel count: `put` writes a value
// into the header of `bytes` (null: this test cannot set it).
struct HeaderField {
    std::function<void(QByteArray& bytes, double value)> put;
    double largest = 0;  // the largest value the field holds
};

struct HeaderFormat {
    const char* name;
    const char* extension;
    QStringList soxOptions;  // before the output name
    HeaderField rate;
    HeaderField channels;
};

qsizetype At(const QByteArray& bytes, const char* anchor)
{
    const qsizetype at = bytes.indexOf(anchor);
    EXPECT_GE(at, 0) << anchor;
    return std::max<qsizetype>(at, 0);
}

template <typename T> void BigEndian(QByteArray& bytes, qsizetype at, double value)
{
    qToBigEndian<T>(T(value), bytes.data() + at);
}

template <typename T> void LittleEndian(QByteArray& bytes, qsizetype at, double value)
{
    qToLittleEndian<T>(T(value), bytes.data() + at);
}

// An 80-bit IEEE extended number, as 'COMM' keeps the rate.
void Extended(QByteArray& bytes, qsizetype at, double value)
{
    QByteArray field(10, '\0');
    if (value > 0) {
        int exponent = 0;
        const double mantissa = std::frexp(value, &exponent);  // value = mantissa * 2^exponent
        qToBigEndian<quint16>(quint16(16383 + exponent - 1), field.data());
        qToBigEndian<quint64>(quint64(std::ldexp(mantissa, 64)), field.data() + 2);
    }
    bytes.replace(at, 10, field);
}

std::vector<HeaderFormat> Formats()
{
    const HeaderField aiffRate{[](QByteArray& b, double v) { Extended(b, At(b, "COMM") + 16, v); }, 1e300};
    const HeaderField aiffChannels{[](QByteArray& b, double v) { BigEndian<quint16>(b, At(b, "COMM") + 8, v); }, 32767};
    return {
        {"WAVE", "wav", {"-t", "wav"},
         {[](QByteArray& b, double v) { LittleEndian<quint32>(b, At(b, "fmt ") + 12, v); }, 4294967295.0},
         {[](QByteArray& b, double v) { LittleEndian<quint16>(b, At(b, "fmt ") + 10, v); }, 65535}},
        {"NeXT", "au", {"-t", "au"}, {[](QByteArray& b, double v) { BigEndian<quint32>(b, 16, v); }, 4294967295.0},
         {[](QByteArray& b, double v) { BigEndian<quint32>(b, 20, v); }, 4294967295.0}},
        {"AIFF", "aif", {"-t", "aiff"}, aiffRate, aiffChannels},
        {"AIFC", "aifc", {"-t", "aifc"}, aiffRate, aiffChannels},
        // 16-bit Creative Voice: the rate and channels of block 9.
        {"VOC", "voc", {"-t", "voc"},
         {[](QByteArray& b, double v) { LittleEndian<quint32>(b, 26 + 4, v); }, 4294967295.0},
         {[](QByteArray& b, double v) { b[26 + 9] = char(quint8(v)); }, 255}},
        {"Paris", "paf", {"-t", "paf", "-B"}, {[](QByteArray& b, double v) { BigEndian<quint32>(b, 12, v); }, 2147483647.0},
         {[](QByteArray& b, double v) { BigEndian<quint32>(b, 20, v); }, 4294967295.0}},
        // Mono or stereo only, 24 bits of rate.
        {"AVR", "avr", {"-t", "avr"}, {[](QByteArray& b, double v) { BigEndian<quint32>(b, 22, v); }, 16777215.0}, {}},
        {"8SVX", "8svx", {"-t", "8svx", "-b", "8"},
         {[](QByteArray& b, double v) { BigEndian<quint16>(b, At(b, "VHDR") + 8 + 12, v); }, 65535.0}, {}},
    };
}

class BatchHeaderShape : public BatchTest, public ::testing::WithParamInterface<HeaderFormat> {
protected:
    // A mono file of `frames` frames in the format, sox's header and all.
    QByteArray Sound(int frames)
    {
        const QString path = root + "/source." + GetParam().extension;
        QStringList arguments{"-R", "-r", "22050", "-n", "-c", "1"};
        if (!GetParam().soxOptions.contains("-b"))
            arguments << "-b" << "16";
        arguments << GetParam().soxOptions << path << "synth" << QString::number(frames) + "s" << "sine" << "440";
        EXPECT_TRUE(Sox(arguments)) << arguments.join(' ').toStdString();
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        file.remove();
        return bytes;
    }
};

TEST_P(BatchHeaderShape, HeadersThatCannotDescribeTheirSoundAreRefusedByName)
{
    const HeaderFormat& f = GetParam();
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    ASSERT_TRUE(QDir().mkpath(root + "/out"));
    // 200 frames of 16-bit mono: 400 bytes, less than one frame of 255
    // channels; 3000 frames: a few frames of 1025 channels.
    const QByteArray small = Sound(200);
    const QByteArray large = Sound(3000);
    struct Variant {
        QString name;
        const HeaderField& field;
        double value;
        const QByteArray& sound;
        int code;  // the code of the shared check, 0: the reader may refuse first with its own
    };
    const std::vector<Variant> variants = {
        {"rate_0", f.rate, 0, small, 0},
        {"rate_6MHz", f.rate, 6e6, small, -22601},
        {"rate_4GHz", f.rate, 4e9, small, -22601},
        {"channels_255", f.channels, 255, small, 0},
        {"channels_1025", f.channels, 1025, large, 0},
    };
    QStringList bad;
    for (const Variant& v : variants) {
        if (!v.field.put || v.value > v.field.largest)
            continue;
        QByteArray bytes = v.sound;
        v.field.put(bytes, v.value);
        bad << root + "/in/" + v.name + "." + f.extension;
        ASSERT_TRUE(WriteBytes(bad.last(), bytes));
    }
    ASSERT_FALSE(bad.isEmpty());
    const QString good = root + "/in/good." + QString(f.extension);
    ASSERT_TRUE(WriteBytes(good, large));

    // --info: one line per input, an error for each refused header.
    const RunResult info = Run(QStringList{"--info", good} << bad, 60000);
    ASSERT_FALSE(info.crashed);
    EXPECT_EQ(info.exitCode, 1) << info.out.toStdString();
    const QStringList lines = info.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), bad.size() + 1) << info.out.toStdString();
    EXPECT_FALSE(lines[0].contains("\"error\"")) << lines[0].toStdString();
    for (qsizetype i = 0; i < bad.size(); ++i) {
        const QJsonObject line = QJsonDocument::fromJson(lines[i + 1].toUtf8()).object();
        EXPECT_EQ(line.value("path").toString(), bad[i]);
        EXPECT_TRUE(line.contains("error")) << lines[i + 1].toStdString();
        const Variant& v = *std::find_if(variants.begin(), variants.end(),
            [&](const Variant& x) { return bad[i].contains("/" + x.name + "."); });
        if (v.code != 0) {
            EXPECT_EQ(line.value("error").toInt(), v.code) << lines[i + 1].toStdString();
        }
    }

    // The batch: each refused by name, the good file converted.
    const RunResult batch = RunConversions(
        "wave", {{0, TypedConversion("WAVE 16", "WAVE", 16, QByteArray())}}, root + "/in", root + "/out");
    ASSERT_FALSE(batch.crashed);
    EXPECT_EQ(batch.exitCode, 1) << batch.err.toStdString();
    for (const QString& path : bad)
        EXPECT_TRUE(batch.err.contains("failed " + path + ": ")) << path.toStdString() << "\n" << batch.err.toStdString();
    const QStringList outputs = FilesUnder(root + "/out", true).filter(".wav");
    ASSERT_EQ(outputs.size(), 1) << outputs.join(", ").toStdString();
    EXPECT_TRUE(outputs[0].endsWith("good.wav")) << outputs[0].toStdString();
}

INSTANTIATE_TEST_SUITE_P(Formats, BatchHeaderShape, ::testing::ValuesIn(Formats()),
    [](const ::testing::TestParamInfo<HeaderFormat>& info) { return std::string(info.param.name); });

}  // namespace
