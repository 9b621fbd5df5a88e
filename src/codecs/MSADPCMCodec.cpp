#include "MSADPCMCodec.h"

#include "ByteOrder.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

const int kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

int Clamp16(int v)
{
    return v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
}

// One channel's coder state within a block.
struct ChannelState {
    int coef1 = 0;
    int coef2 = 0;
    int delta = 16;
    int sample1 = 0;
    int sample2 = 0;

    int Predict() const { return (sample1 * coef1 + sample2 * coef2) >> 8; }
    int Apply(int code)  // code -8..7; returns the new sample
    {
        const int value = Clamp16(Predict() + code * delta);
        delta = std::max(16, (kAdaptation[code & 15] * delta) >> 8);
        // Hostile blocks could grow the delta without end; valid ones stay far below.
        delta = std::min(delta, std::numeric_limits<int>::max() / 768);
        sample2 = sample1;
        sample1 = value;
        return value;
    }
    int Encode(int input)
    {
        const int prediction = Predict();
        int code = int(float(input - prediction) / float(delta));
        code = std::clamp(code, -8, 7);
        Apply(code);
        return code & 15;
    }
};

} // namespace

const std::vector<MSADPCMCodec::Coefficients>& MSADPCMCodec::StandardCoefficients()
{
    static const std::vector<Coefficients> pairs = {{256, 0},   {512, -256}, {0, 0},     {192, 64},
                                                    {240, 0},   {460, -208}, {392, -232}};
    return pairs;
}

MSADPCMCodec::MSADPCMCodec(int channels, int blockAlign, int samplesPerBlock, std::vector<Coefficients> coefficients)
    : m_channels(channels), m_blockAlign(blockAlign), m_samplesPerBlock(samplesPerBlock),
      m_coefficients(std::move(coefficients))
{
}

int MSADPCMCodec::FramesInFullBlock() const
{
    if (m_channels < 1 || m_blockAlign < 7 * m_channels)
        return 0;
    return 2 + (m_blockAlign - 7 * m_channels) * 2 / m_channels;
}

bool MSADPCMCodec::IsValid() const
{
    return (m_channels == 1 || m_channels == 2) && !m_coefficients.empty() &&
           int(m_coefficients.size()) <= kMaxCoefficients && m_blockAlign >= 7 * m_channels &&
           m_samplesPerBlock >= 2 && m_samplesPerBlock <= FramesInFullBlock();
}

int MSADPCMCodec::DecodeBlock(const uint8_t* in, std::size_t bytes, int16_t* out) const
{
    const int c = m_channels;
    if (bytes < std::size_t(7 * c))
        return 0;
    ChannelState state[2];
    for (int ch = 0; ch < c; ++ch) {
        const unsigned index = in[ch];
        if (index >= m_coefficients.size())
            return -1;
        state[ch].coef1 = m_coefficients[index].coef1;
        state[ch].coef2 = m_coefficients[index].coef2;
        state[ch].delta = int16_t(ReadLE16(in + c + 2 * ch));
        state[ch].sample1 = int16_t(ReadLE16(in + 3 * c + 2 * ch));
        state[ch].sample2 = int16_t(ReadLE16(in + 5 * c + 2 * ch));
    }
    for (int ch = 0; ch < c; ++ch) {
        out[ch] = int16_t(state[ch].sample2);
        out[c + ch] = int16_t(state[ch].sample1);
    }
    const std::size_t codeBytes = std::min<std::size_t>(bytes, std::size_t(m_blockAlign)) - std::size_t(7 * c);
    const int codedFrames = int(std::min<std::size_t>(std::size_t(m_samplesPerBlock - 2), codeBytes * 2 / c));
    const uint8_t* codes = in + 7 * c;
    std::size_t nibble = 0;
    for (int f = 0; f < codedFrames; ++f) {
        for (int ch = 0; ch < c; ++ch, ++nibble) {
            const uint8_t byte = codes[nibble >> 1];
            const int n = (nibble & 1) ? (byte & 15) : (byte >> 4);
            const int code = n >= 8 ? n - 16 : n;
            out[(2 + f) * c + ch] = int16_t(state[ch].Apply(code));
        }
    }
    return 2 + codedFrames;
}

std::size_t MSADPCMCodec::BlockBytes(int frames) const
{
    const std::size_t nibbles = std::size_t(std::max(frames - 2, 0)) * std::size_t(m_channels);
    return std::size_t(7 * m_channels) + (nibbles + 1) / 2;
}

std::size_t MSADPCMCodec::EncodeBlock(const int16_t* in, int frames, uint8_t* out) const
{
    const int c = m_channels;
    frames = std::clamp(frames, 1, m_samplesPerBlock);
    auto sample = [&](int f, int ch) { return int(in[std::min(f, frames - 1) * c + ch]); };

    // Per channel, the coefficient pair that reconstructs the block best
    // (ties to the lower index), with its starting delta.
    int bestIndex[2] = {0, 0};
    int bestDelta[2] = {16, 16};
    for (int ch = 0; ch < c; ++ch) {
        long long bestError = std::numeric_limits<long long>::max();
        for (std::size_t k = 0; k < m_coefficients.size(); ++k) {
            const int c1 = m_coefficients[k].coef1;
            const int c2 = m_coefficients[k].coef2;
            int p[5];
            for (int i = 0; i < 5; ++i)
                p[i] = sample(i, ch);
            int delta = (std::abs(((p[0] * c2 + p[1] * c1) >> 8) - p[2]) +
                         std::abs(((p[1] * c2 + p[2] * c1) >> 8) - p[3]) +
                         std::abs(((p[2] * c2 + p[3] * c1) >> 8) - p[4])) / 12;
            delta = std::max(delta, 16);
            ChannelState trial{c1, c2, delta, p[1], p[0]};
            long long error = 0;
            for (int f = 2; f < frames; ++f) {
                const int input = sample(f, ch);
                trial.Encode(input);
                const long long e = trial.sample1 - input;
                error += (e * e) >> 7;
            }
            if (error < bestError) {
                bestError = error;
                bestIndex[ch] = int(k);
                bestDelta[ch] = delta;
            }
        }
    }

    ChannelState state[2];
    for (int ch = 0; ch < c; ++ch) {
        state[ch].coef1 = m_coefficients[std::size_t(bestIndex[ch])].coef1;
        state[ch].coef2 = m_coefficients[std::size_t(bestIndex[ch])].coef2;
        state[ch].delta = bestDelta[ch];
        state[ch].sample2 = sample(0, ch);
        state[ch].sample1 = sample(1, ch);
        out[ch] = uint8_t(bestIndex[ch]);
        WriteLE16(out + c + 2 * ch, uint16_t(bestDelta[ch]));
        WriteLE16(out + 3 * c + 2 * ch, uint16_t(state[ch].sample1));
        WriteLE16(out + 5 * c + 2 * ch, uint16_t(state[ch].sample2));
    }
    uint8_t* codes = out + 7 * c;
    std::size_t nibble = 0;
    for (int f = 2; f < frames; ++f) {
        for (int ch = 0; ch < c; ++ch, ++nibble) {
            const int code = state[ch].Encode(sample(f, ch));
            if (nibble & 1)
                codes[nibble >> 1] = uint8_t(codes[nibble >> 1] | code);
            else
                codes[nibble >> 1] = uint8_t(code << 4);
        }
    }
    return BlockBytes(frames);
}
