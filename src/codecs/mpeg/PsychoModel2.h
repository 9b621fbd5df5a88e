// PsychoModel2: psychoacoustic model 2 of ISO/IEC 11172-3 (Annex D) for
// the Layer I and II encoder.  For one channel and one frame it gives the
// signal-to-mask ratio of each of the 32 subbands in dB: a 1024-point
// Hann-windowed FFT over the channel's recent samples, the predictability
// of each line from the two previous analyses, energy and unpredictability
// spread over the critical-band partitions, a masking threshold bounded by
// the absolute threshold of hearing (and in Layer I by a pre-echo control),
// and the energy of each subband's 17 lines against that threshold.
//
// One object serves one encode: its derived tables are made for the
// encode's sampling frequency and its history starts cleared.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <vector>

class PsychoModel2 {
public:
    static constexpr int kFFTSize = 1024;
    static constexpr int kLines = 513;
    static constexpr int kMaxPartitions = 63;

    // `sfIndex`: sampling_frequency index (0 44.1 kHz, 1 48 kHz, 2 32 kHz);
    // `layer`: 1 or 2.
    PsychoModel2(int sfIndex, int layer);

    // One frame of channel `channel` (0 or 1).  `samples` is the channel's
    // row of the encoder's PCM buffer: 1152 samples in Layer II; in Layer I
    // 448 (64 of the previous frame, then 384 new ones).  Writes 32 ratios.
    void Analyse(const int16_t* samples, int channel, float ratios[32]);

    // The number of partitions the sampling frequency gives.
    int Partitions() const { return partitions_; }
    // The threshold in quiet of spectral line `line` (after set-up).
    float AbsoluteThreshold(int line) const { return absthr_[std::size_t(line)]; }

    // Natural-order 1024-point FFT of real input: energy and phase per line
    // 0-512 as the model uses them (lines 0-511 floored at 0.0005 with
    // phase 0).  Also gives the line's real and imaginary parts.
    static void Spectrum(const float* input, float* energy, float* re, float* im);

private:
    void Pass(const int16_t* input, int channel, float ratios[32]);

    int layer_;
    int flush_, syncSize_, syncFlush_;
    int partitions_ = 0;
    std::array<float, kLines> absthr_{};
    std::array<float, kFFTSize> window_{};
    std::array<int, kLines> partition_{};
    std::array<double, kMaxPartitions> cbval_{}, tmn_{}, rnorm_{}, bmax_{};
    std::array<int, kMaxPartitions> numlines_{};
    std::vector<float> spread_;  // kMaxPartitions x kMaxPartitions

    // History: per channel the magnitude and the unit phase vector of the
    // two previous analyses, and the Layer I threshold memory.
    float r_[2][2][kLines]{};
    float cosPhi_[2][2][kLines]{};
    float sinPhi_[2][2][kLines]{};
    float lthr_[2][kLines]{};
    int new_ = 0, old_ = 1, oldest_ = 0;
    int16_t savebuf_[2][1344]{};
};
