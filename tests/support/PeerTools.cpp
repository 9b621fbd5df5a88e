#include "PeerTools.h"

#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace peers {

RunResult Run(const QString& program, const QStringList& arguments)
{
    RunResult result;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return result;
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

bool Have(const QString& program)
{
    static QMutex mutex;
    static QHash<QString, bool> known;
    QMutexLocker lock(&mutex);
    auto it = known.find(program);
    if (it == known.end())
        it = known.insert(program, !QStandardPaths::findExecutable(program).isEmpty());
    return it.value();
}

bool InCI()
{
    return qEnvironmentVariable("CI") == QLatin1String("true");
}

namespace {

std::vector<SInt32> BigEndianS32(const QByteArray& bytes)
{
    std::vector<SInt32> out(std::size_t(bytes.size()) / 4);
    const auto* p = reinterpret_cast<const UInt8*>(bytes.constData());
    for (std::size_t i = 0; i < out.size(); ++i, p += 4)
        out[i] = SInt32((UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]));
    return out;
}

}  // namespace

std::vector<SInt32> SoxS32(const std::string& path, const QStringList& inputOptions)
{
    QStringList arguments = inputOptions;
    arguments << QString::fromStdString(path) << "-t"
              << "s32"
              << "-B"
              << "-";
    const RunResult r = Run(QStringLiteral("sox"), arguments);
    return r.exitCode == 0 ? BigEndianS32(r.out) : std::vector<SInt32>();
}

std::vector<SInt32> FFmpegS32(const std::string& path, const QStringList& inputOptions)
{
    const RunResult r = Run(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-loglevel", "error"} + inputOptions
            + QStringList{"-i", QString::fromStdString(path), "-f", "s32be", "-"});
    return r.exitCode == 0 ? BigEndianS32(r.out) : std::vector<SInt32>();
}

std::vector<float> FFmpegF32(const std::string& path)
{
    const RunResult r = Run(QStringLiteral("ffmpeg"),
        {"-nostdin", "-loglevel", "error", "-i", QString::fromStdString(path), "-f", "f32le", "-"});
    std::vector<float> out;
    if (r.exitCode == 0) {
        out.resize(std::size_t(r.out.size()) / 4);
        std::memcpy(out.data(), r.out.constData(), out.size() * 4);
    }
    return out;
}

std::string FFprobeField(const std::string& path, const std::string& field)
{
    const RunResult r = Run(QStringLiteral("ffprobe"),
        {"-v", "error", "-select_streams", "a:0", "-show_entries", QString::fromStdString("stream=" + field), "-of",
            "default=nw=1:nk=1", QString::fromStdString(path)});
    return r.exitCode == 0 ? r.out.trimmed().toStdString() : std::string();
}

SndfileView ReadWithSndfile(const std::string& path)
{
    SndfileView view;
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return view;
    view.opened = true;
    view.channels = info.channels;
    view.rate = info.samplerate;
    view.frames = info.frames;
    view.format = info.format;
    const int encoding = info.format & SF_FORMAT_SUBMASK;
    if (encoding == SF_FORMAT_FLOAT || encoding == SF_FORMAT_DOUBLE) {
        // Float data scaled to the integer range (1.0 is 2^31), clamped.
        std::vector<double> samples(std::size_t(info.frames * info.channels));
        samples.resize(std::size_t(sf_readf_double(file, samples.data(), info.frames) * info.channels));
        for (const double x : samples)
            view.samples.push_back(SInt32(std::clamp(std::lround(x * 2147483648.0), -2147483648L, 2147483647L)));
    } else {
        std::vector<int> samples(std::size_t(info.frames * info.channels));
        samples.resize(std::size_t(sf_readf_int(file, samples.data(), info.frames) * info.channels));
        view.samples.assign(samples.begin(), samples.end());
    }
    sf_close(file);
    return view;
}

std::vector<short> SndfileShorts(const std::string& path)
{
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<short> samples(std::size_t(info.frames * info.channels));
    samples.resize(std::size_t(sf_readf_short(file, samples.data(), info.frames) * info.channels));
    sf_close(file);
    return samples;
}

std::vector<UInt8> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<UInt8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<UInt8>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace peers
