// G.729 Annex A: encode and decode 10 minutes of 8 kHz speech-like audio
// with our codec and with libbcg729, and print the times and the real-time
// factors side by side.
extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}

#include "G729Bits.h"
#include "G729Decoder.h"
#include "G729Encoder.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// Voiced stretches (a pulse train with a gliding pitch through two moving
// resonances), noise and pauses.
std::vector<int16_t> SpeechLike(std::size_t samples)
{
    std::vector<int16_t> out(samples);
    double phase = 0, a1 = 0, a2 = 0, b1 = 0, b2 = 0;
    uint32_t rng = 7;
    for (std::size_t n = 0; n < samples; ++n) {
        const double t = double(n) / 8000.0;
        rng = rng * 1664525u + 1013904223u;
        const double noise = double((rng >> 8) & 0xffff) / 32768.0 - 1.0;
        const int kind = int(t * 4) % 5;
        phase += 2 * M_PI * (100 + 80 * std::sin(2 * M_PI * 0.7 * t)) / 8000.0;
        const double e = kind <= 2 ? (std::fmod(phase, 2 * M_PI) < 0.4 ? 1.0 : -0.07) : kind == 3 ? 0.5 * noise : 0.002 * noise;
        const double fa = 500 + 300 * std::sin(2 * M_PI * 1.3 * t), fb = 1500 + 700 * std::sin(2 * M_PI * 0.9 * t);
        const double ya = e + 2 * 0.95 * std::cos(2 * M_PI * fa / 8000) * a1 - 0.9025 * a2;
        a2 = a1;
        a1 = ya;
        const double yb = ya + 2 * 0.9 * std::cos(2 * M_PI * fb / 8000) * b1 - 0.81 * b2;
        b2 = b1;
        b1 = yb;
        out[n] = int16_t(std::lrint(std::fmax(-32768.0, std::fmin(32767.0, yb * 80))));
    }
    return out;
}

double Seconds(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

} // namespace

int main()
{
    constexpr double kAudioSeconds = 600;
    const std::vector<int16_t> pcm = SpeechLike(std::size_t(kAudioSeconds * 8000));
    const std::size_t frames = pcm.size() / 80;
    std::vector<uint8_t> ours(frames * 10), theirs(frames * 10);
    std::vector<int16_t> out(80);

    auto t = std::chrono::steady_clock::now();
    qm::g729::G729Encoder encoder;
    for (std::size_t f = 0; f < frames; ++f) {
        uint16_t p[qm::g729::kParameterCount];
        encoder.encodeFrame(&pcm[f * 80], p);
        qm::g729::paramsToPacked(p, &ours[f * 10]);
    }
    const double ourEncode = Seconds(t);

    t = std::chrono::steady_clock::now();
    auto* enc = initBcg729EncoderChannel(0);
    for (std::size_t f = 0; f < frames; ++f) {
        uint8_t len = 0;
        bcg729Encoder(enc, &pcm[f * 80], &theirs[f * 10], &len);
    }
    closeBcg729EncoderChannel(enc);
    const double theirEncode = Seconds(t);

    t = std::chrono::steady_clock::now();
    qm::g729::G729Decoder decoder;
    for (std::size_t f = 0; f < frames; ++f) {
        uint16_t p[qm::g729::kParameterCount];
        qm::g729::packedToParams(&ours[f * 10], p);
        decoder.decodeFrame(p, false, out.data());
    }
    const double ourDecode = Seconds(t);

    t = std::chrono::steady_clock::now();
    auto* dec = initBcg729DecoderChannel();
    for (std::size_t f = 0; f < frames; ++f)
        bcg729Decoder(dec, &theirs[f * 10], 10, 0, 0, 0, out.data());
    closeBcg729DecoderChannel(dec);
    const double theirDecode = Seconds(t);

    std::printf("G.729A, %.0f s of 8 kHz speech-like audio\n", kAudioSeconds);
    std::printf("%-10s %10s %12s %10s %12s\n", "", "encode s", "x real time", "decode s", "x real time");
    std::printf("%-10s %10.3f %12.0f %10.3f %12.0f\n", "ours", ourEncode, kAudioSeconds / ourEncode, ourDecode,
                kAudioSeconds / ourDecode);
    std::printf("%-10s %10.3f %12.0f %10.3f %12.0f\n", "libbcg729", theirEncode, kAudioSeconds / theirEncode,
                theirDecode, kAudioSeconds / theirDecode);
    return 0;
}
