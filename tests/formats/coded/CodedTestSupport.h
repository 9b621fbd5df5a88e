// Helpers of the telephony and ADPCM format tests: peers run with an
// argument vector, test audio, and whole-file writes and reads through a
// format class.
#pragma once

#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace codedtest {

// The engine's types registered once.
inline void RegisterTypes()
{
    static const bool done = [] {
        EngineStartup::registerFileTypes();
        return true;
    }();
    (void)done;
}

inline bool RunPeer(const QString& program, const QStringList& args, QByteArray* err = nullptr)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(20000))
        return false;
    process.closeWriteChannel();
    process.waitForFinished(120000);
    if (err)
        *err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A peer's standard output (empty when it fails).
inline QByteArray PeerOutput(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(20000) || !process.waitForFinished(120000) || process.exitCode() != 0)
        return QByteArray();
    return process.readAllStandardOutput();
}

inline std::vector<UInt8> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<UInt8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<UInt8>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Little-endian 16-bit samples of a raw file.
inline std::vector<int> ReadS16LE(const std::string& path)
{
    const std::vector<UInt8> b = ReadBytes(path);
    std::vector<int> out;
    for (std::size_t i = 0; i + 1 < b.size(); i += 2)
        out.push_back(int16_t(UInt16(b[i] | (b[i + 1] << 8))));
    return out;
}

// Speech-like audio, interleaved, in -1..1: a gliding tone, a second tone
// on the right, noise, a quiet stretch and a loud burst.
inline std::vector<double> TestAudio(UInt32 frames, UInt16 channels, double level = 0.6)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> noise(-0.2, 0.2);
    std::vector<double> out;
    for (UInt32 i = 0; i < frames; ++i) {
        const double t = i / 8000.0;
        for (UInt16 c = 0; c < channels; ++c) {
            double v = level * std::sin(2 * M_PI * (200 + 900 * t + 150 * c) * t);
            if ((i / 1000) % 4 == 2)
                v = 0.3 * v + noise(rng);
            if ((i / 1000) % 4 == 3)
                v *= 0.05;
            out.push_back(v);
        }
    }
    return out;
}

// Writes interleaved audio through a format class as the pipelines do.
inline OSErr WriteFile(OSType type, const std::string& path, UInt16 channels, double rate, SInt16 bits,
                       const std::vector<double>& audio, std::string* finalPath = nullptr)
{
    RegisterTypes();
    std::unique_ptr<CSoundFile> file(CreateSoundFileObject(type));
    if (!file)
        return -22017;
    OSErr err = file->SetFile(path);
    if (!err)
        err = file->Create(channels, bits, 0, nullptr, nullptr, float(rate));
    if (err)
        return err;
    file->SetDither(false);
    std::vector<double> copy = audio;
    UInt32 count = UInt32(audio.size() / channels);
    err = file->WriteFrames(0, &count, copy.data());
    if (finalPath)
        *finalPath = file->GetPath();
    const OSErr closeErr = file->Close();
    return err ? err : closeErr;
}

// Opens a file with a format class.
inline std::unique_ptr<CSoundFile> OpenFile(OSType type, const std::string& path, OSErr* err)
{
    RegisterTypes();
    std::unique_ptr<CSoundFile> file(CreateSoundFileObject(type));
    *err = file ? file->SetFile(path) : OSErr(-22017);
    if (!*err)
        *err = file->Open();
    return file;
}

// Every sample of an opened file as a 16-bit integer.
inline std::vector<int> ReadSamples16(CSoundFile& file)
{
    const UInt16 channels = file.GetNumChannels();
    std::vector<double> values(std::size_t(file.GetNumFrames()) * channels);
    UInt32 count = file.GetNumFrames();
    EXPECT_EQ(file.ReadFrames(0, &count, values.data()), noErr);
    EXPECT_EQ(count, file.GetNumFrames());
    std::vector<int> out;
    for (std::size_t i = 0; i < std::size_t(count) * channels; ++i)
        out.push_back(int(std::lround(values[i] / kScale16)));
    return out;
}

inline std::vector<int> ToInt16(const std::vector<double>& audio)
{
    std::vector<int> out;
    for (double v : audio)
        out.push_back(int(std::lround(std::clamp(v * 32768.0, -32768.0, 32767.0))));
    return out;
}

// Signal-to-noise ratio in dB of `test` against `reference` (common length).
inline double SnrDb(const std::vector<int>& reference, const std::vector<int>& test)
{
    double signal = 0;
    double noise = 0;
    const std::size_t n = std::min(reference.size(), test.size());
    for (std::size_t i = 0; i < n; ++i) {
        signal += double(reference[i]) * reference[i];
        noise += double(reference[i] - test[i]) * (reference[i] - test[i]);
    }
    return noise == 0 ? 200.0 : 10 * std::log10(signal / noise);
}

inline int MaxDifference(const std::vector<int>& a, const std::vector<int>& b)
{
    int worst = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

} // namespace codedtest
