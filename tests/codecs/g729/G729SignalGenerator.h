// Deterministic 8 kHz test signals for the G.729 tests: a speech-like one
// (voiced segments with a gliding pitch through moving resonances, noisy
// segments, pauses) and a tonal one (tones, sweeps, silence, clipping).
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace qm::g729::signals {

inline std::vector<int16_t> speechLikeSignal(int seconds, uint32_t seed = 1) {
  std::vector<int16_t> out(size_t(seconds) * 8000);
  double phase = 0, r1[2] = {0, 0}, r2[2] = {0, 0};
  uint32_t rng = seed;
  auto noise = [&rng] {
    rng = rng * 1664525u + 1013904223u;
    return (double((rng >> 8) & 0xffff) / 32768.0) - 1.0;
  };
  for (size_t n = 0; n < out.size(); ++n) {
    const double t = double(n) / 8000.0;
    const int segment = int(t * 4);                     // 250 ms segments
    const int kind = (segment * 7 + int(seed)) % 5;     // 0,1,2 voiced, 3 noise, 4 pause
    const double f0 = 90 + 110 * (0.5 + 0.5 * std::sin(2 * M_PI * 0.7 * t + seed));
    phase += 2 * M_PI * f0 / 8000.0;
    double excitation = 0;
    if (kind <= 2) excitation = (std::fmod(phase, 2 * M_PI) < 0.4 ? 1.0 : -0.07) + 0.02 * noise();
    else if (kind == 3) excitation = 0.5 * noise();
    else excitation = 0.002 * noise();
    // Two moving resonances (formants).
    const double fA = 500 + 300 * std::sin(2 * M_PI * 1.3 * t), fB = 1500 + 700 * std::sin(2 * M_PI * 0.9 * t + 1);
    const double rA = 0.95, rB = 0.9;
    double yA = excitation + 2 * rA * std::cos(2 * M_PI * fA / 8000) * r1[0] - rA * rA * r1[1];
    r1[1] = r1[0];
    r1[0] = yA;
    double yB = yA + 2 * rB * std::cos(2 * M_PI * fB / 8000) * r2[0] - rB * rB * r2[1];
    r2[1] = r2[0];
    r2[0] = yB;
    const double level = 300 + 2500 * (0.5 + 0.5 * std::sin(2 * M_PI * 0.37 * t));
    double v = yB * level * 0.05;
    v = std::max(-32768.0, std::min(32767.0, v));
    out[n] = int16_t(std::lrint(v));
  }
  return out;
}

inline std::vector<int16_t> tonalSignal(int seconds) {
  std::vector<int16_t> out(size_t(seconds) * 8000);
  double phase = 0;
  for (size_t n = 0; n < out.size(); ++n) {
    const double t = double(n) / 8000.0;
    const int part = int(t) % 6;
    double v = 0;
    if (part == 0) v = 8000 * std::sin(2 * M_PI * 440 * t);
    else if (part == 1) v = 6000 * std::sin(2 * M_PI * 1000 * t) + 3000 * std::sin(2 * M_PI * 2900 * t);
    else if (part == 2) {  // sweep 100 Hz .. 3.8 kHz
      phase += 2 * M_PI * (100 + 3700 * std::fmod(t, 1.0)) / 8000.0;
      v = 10000 * std::sin(phase);
    } else if (part == 3) v = 0;
    else if (part == 4) v = 40000 * std::sin(2 * M_PI * 200 * t);  // clipped
    else v = (n % 160 < 4) ? 20000 : 0;                             // click train
    v = std::max(-32768.0, std::min(32767.0, v));
    out[n] = int16_t(std::lrint(v));
  }
  return out;
}

}  // namespace qm::g729::signals
