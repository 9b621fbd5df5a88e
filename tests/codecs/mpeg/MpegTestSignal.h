// Test audio for the MPEG encoder tests: a music-like signal (tones, a
// sweep and noise) as interleaved 16-bit samples, and helpers that run the
// ffmpeg tools on encoded files.
#pragma once

#include "PeerTools.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace mpegtest {

// `frames` sample frames of `channels` channels at `rate`: three tones with
// a slow tremolo, an exponential sweep from 100 Hz to 12 kHz and quiet
// noise; the right channel differs (other tone phases, its own noise).
inline std::vector<int16_t> MusicLike(int rate, int channels, int frames, unsigned seed = 7)
{
    std::vector<int16_t> out(std::size_t(frames) * std::size_t(channels));
    std::mt19937 gen(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    const double duration = double(frames) / rate;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double sweep = 100.0 * std::pow(120.0, t / std::max(duration, 1e-9));
        const double sweepPhase = 2 * M_PI * 100.0 * duration / std::log(120.0) *
                                  (std::pow(120.0, t / std::max(duration, 1e-9)) - 1.0);
        (void)sweep;
        for (int c = 0; c < channels; ++c) {
            const double p = c * 0.7;
            double v = 0.20 * std::sin(2 * M_PI * 220.0 * t + p) * (0.8 + 0.2 * std::sin(2 * M_PI * 3 * t)) +
                       0.12 * std::sin(2 * M_PI * 1375.0 * t + 2 * p) + 0.06 * std::sin(2 * M_PI * 5210.0 * t + p) +
                       0.15 * std::sin(sweepPhase + p) + 0.02 * noise(gen);
            v = std::clamp(v, -1.0, 1.0);
            out[std::size_t(i) * std::size_t(channels) + std::size_t(c)] = int16_t(std::lround(v * 32767.0));
        }
    }
    return out;
}

inline bool WriteBigEndian(const std::string& path, const std::vector<int16_t>& samples)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::vector<uint8_t> bytes(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        bytes[2 * i] = uint8_t(uint16_t(samples[i]) >> 8);
        bytes[2 * i + 1] = uint8_t(samples[i]);
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

struct Run {
    bool ok = false;
    QByteArray out, err;
};

inline Run RunTool(const QString& program, const QStringList& args)
{
    const peers::RunResult r = peers::Run(program, args);
    return {r.exitCode == 0, r.out, r.err};
}

// Decodes `path` with ffmpeg to interleaved 16-bit samples; *errors gets
// what the decoder reported.
inline std::vector<int16_t> Decode(const QString& path, QByteArray* errors, const QStringList& before = {})
{
    QStringList args = {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-nostdin")};
    args << before << QStringLiteral("-i") << path << QStringLiteral("-f") << QStringLiteral("s16le")
         << QStringLiteral("-");
    const Run r = RunTool(QStringLiteral("ffmpeg"), args);
    if (errors)
        *errors = r.ok ? r.err : QByteArray("ffmpeg failed: ") + r.err;
    std::vector<int16_t> samples(std::size_t(r.out.size() / 2));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(uint16_t(uint8_t(r.out[qsizetype(2 * i)])) | uint16_t(uint8_t(r.out[qsizetype(2 * i + 1)])) << 8);
    return samples;
}

// SNR in dB of `decoded` against `reference` (interleaved, `channels`),
// at the decoder delay (up to 2000 frames) that matches best on a short
// stretch; the first and last 2048 frames are left out.
inline double BestSNR(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded, int channels)
{
    const std::size_t ch = std::size_t(channels);
    const std::size_t frames = reference.size() / ch;
    const std::size_t decodedFrames = decoded.size() / ch;
    auto snrAt = [&](std::size_t lag, std::size_t from, std::size_t to) {
        double signal = 0.0, error = 0.0;
        for (std::size_t i = from; i < to && i + lag < decodedFrames; ++i)
            for (std::size_t c = 0; c < ch; ++c) {
                const double s = reference[i * ch + c];
                const double d = decoded[(i + lag) * ch + c];
                signal += s * s;
                error += (s - d) * (s - d);
            }
        return error > 0.0 ? 10.0 * std::log10(signal / error) : 200.0;
    };
    if (frames < 8192)
        return -1e9;
    std::size_t bestLag = 0;
    double best = -1e9;
    for (std::size_t lag = 0; lag < 2000; ++lag) {
        const double v = snrAt(lag, 2048, 2048 + 4096);
        if (v > best) {
            best = v;
            bestLag = lag;
        }
    }
    return snrAt(bestLag, 2048, frames - 2048);
}

}  // namespace mpegtest
