#include "PsychoModel2.h"

#include "mpeg_tables.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979;
constexpr float kInitialThreshold = 60802371420160.0f;

constexpr float kCritBand[27] = {0,    100,  200,  300,  400,  510,  630,   770,   920,
                                 1080, 1270, 1480, 1720, 2000, 2320, 2700,  3150,  3700,
                                 4400, 5300, 6400, 7700, 9500, 12000, 15500, 25000, 30000};
constexpr double kBmax[27] = {20.0, 20.0, 20.0, 20.0, 20.0, 17.0, 15.0, 10.0, 7.0, 4.4, 4.5, 4.5, 4.5, 4.5,
                              4.5,  4.5,  4.5,  4.5,  4.5,  4.5,  4.5,  4.5,  4.5, 4.5, 3.5, 3.5, 3.5};
constexpr double kNoiseMaskingTone = 5.5;

// Twiddles and bit reversal of the 512-point complex transform that the
// 1024-point real transform is built on, made once.
struct FFTTables {
    float cosT[512], sinT[512];  // e^(-2 pi i k / 1024)
    uint16_t reverse[512];
    FFTTables()
    {
        for (int k = 0; k < 512; ++k) {
            cosT[k] = float(std::cos(2.0 * kPi * k / 1024.0));
            sinT[k] = float(-std::sin(2.0 * kPi * k / 1024.0));
        }
        for (int i = 0; i < 512; ++i) {
            int r = 0;
            for (int b = 0; b < 9; ++b)
                r |= ((i >> b) & 1) << (8 - b);
            reverse[i] = uint16_t(r);
        }
    }
};
const FFTTables& Tables()
{
    static const FFTTables tables;
    return tables;
}

}  // namespace

void PsychoModel2::Spectrum(const float* input, float* energy, float* re, float* im)
{
    // The real input packed as 512 complex values, transformed radix 2 in
    // place, then split into the spectrum of the real sequence.
    const FFTTables& t = Tables();
    float xr[512], xi[512];
    for (int i = 0; i < 512; ++i) {
        xr[t.reverse[i]] = input[2 * i];
        xi[t.reverse[i]] = input[2 * i + 1];
    }
    for (int len = 2; len <= 512; len <<= 1) {
        const int half = len >> 1;
        const int step = 1024 / len;  // twiddles of the 1024 table: e^(-2 pi i j / len)
        for (int i = 0; i < 512; i += len)
            for (int j = 0; j < half; ++j) {
                const float wr = t.cosT[j * step], wi = t.sinT[j * step];
                const int a = i + j, b = a + half;
                const float vr = wr * xr[b] - wi * xi[b];
                const float vi = wr * xi[b] + wi * xr[b];
                xr[b] = xr[a] - vr;
                xi[b] = xi[a] - vi;
                xr[a] += vr;
                xi[a] += vi;
            }
    }
    for (int k = 0; k <= 512; ++k) {
        const int m = k & 511, n = (512 - k) & 511;
        // Even part E = (Z[k] + conj(Z[512-k])) / 2, odd part
        // O = (Z[k] - conj(Z[512-k])) / 2i, X[k] = E + W^k O.
        const float er = 0.5f * (xr[m] + xr[n]), ei = 0.5f * (xi[m] - xi[n]);
        const float orr = 0.5f * (xi[m] + xi[n]), oi = -0.5f * (xr[m] - xr[n]);
        const float wr = k < 512 ? t.cosT[k] : -1.0f, wi = k < 512 ? t.sinT[k] : 0.0f;
        re[k] = er + wr * orr - wi * oi;
        im[k] = ei + wr * oi + wi * orr;
        float e = re[k] * re[k] + im[k] * im[k];
        if (k < 512 && e <= 0.0005f) {
            e = 0.0005f;
            re[k] = std::sqrt(e);  // phase 0
            im[k] = 0.0f;
        }
        energy[k] = e;
    }
}

PsychoModel2::PsychoModel2(int sfIndex, int layer) : layer_(layer == 1 ? 1 : 2)
{
    if (sfIndex < 0 || sfIndex > 2)
        sfIndex = 0;
    const double rate = mpeg::kSampleRatesKHz[sfIndex] * 1000.0;
    for (int i = 0; i < kLines; ++i)
        absthr_[std::size_t(i)] = mpeg::AbsoluteThreshold(sfIndex, i);
    if (layer_ == 1) {
        flush_ = 384;
        syncSize_ = 1024;
        syncFlush_ = 576;
    } else {
        flush_ = 576;
        syncSize_ = 1056;
        syncFlush_ = 480;
    }
    for (int i = 0; i < kFFTSize; ++i)
        window_[std::size_t(i)] = float(0.5 * (1.0 - std::cos(6.28318530717958 * (i - 0.5) / kFFTSize)));
    for (auto& channel : lthr_)
        std::fill(std::begin(channel), std::end(channel), kInitialThreshold);
    for (auto& channel : cosPhi_)
        for (auto& age : channel)
            std::fill(std::begin(age), std::end(age), 1.0f);

    // Bark value of every line, then the partitions.
    double bark[kLines];
    for (int i = 0; i < kLines; ++i) {
        const double f = i * (rate / kFFTSize);
        int j = 1;
        while (j < 26 && kCritBand[j] < f)
            ++j;
        bark[i] = j - 1 + (f - kCritBand[j - 1]) / (kCritBand[j] - kCritBand[j - 1]);
    }
    int p = 0;
    double first = bark[0];
    double sum = 0.0;
    int count = 0;
    for (int i = 0; i < kLines; ++i) {
        if (i > 0 && bark[i] - first > 0.33 && p + 1 < kMaxPartitions) {
            cbval_[std::size_t(p)] = sum / count;
            numlines_[std::size_t(p)] = count;
            ++p;
            first = bark[i];
            sum = 0.0;
            count = 0;
        }
        partition_[std::size_t(i)] = p;
        sum += bark[i];
        ++count;
    }
    cbval_[std::size_t(p)] = sum / count;
    numlines_[std::size_t(p)] = count;
    partitions_ = p + 1;

    spread_.assign(std::size_t(kMaxPartitions * kMaxPartitions), 0.0f);
    for (int i = 0; i < partitions_; ++i) {
        for (int j = 0; j < partitions_; ++j) {
            double t = (cbval_[std::size_t(i)] - cbval_[std::size_t(j)]) * 1.05;
            double x = 0.0;
            if (t >= 0.5 && t <= 2.5)
                x = 8.0 * ((t - 0.5) * (t - 0.5) - 2.0 * (t - 0.5));
            t += 0.474;
            const double y = 15.811389 + 7.5 * t - 17.5 * std::sqrt(1.0 + t * t);
            spread_[std::size_t(i * kMaxPartitions + j)] = y <= -100.0 ? 0.0f : float(std::exp((x + y) * 0.2302585093));
        }
    }
    for (int j = 0; j < partitions_; ++j) {
        const std::size_t u = std::size_t(j);
        tmn_[u] = std::max(15.5 + cbval_[u], 24.5);
        double norm = 0.0;
        for (int k = 0; k < partitions_; ++k)
            norm += spread_[std::size_t(j * kMaxPartitions + k)];
        rnorm_[u] = norm;
        const int index = std::min(26, int(cbval_[u] + 0.5));
        bmax_[u] = kBmax[index];
    }
}

void PsychoModel2::Analyse(const int16_t* samples, int channel, float ratios[32])
{
    channel = channel ? 1 : 0;
    if (layer_ == 1) {
        Pass(samples, channel, ratios);
        return;
    }
    float second[32];
    Pass(samples, channel, ratios);
    Pass(samples + 576, channel, second);
    for (int i = 0; i < 32; ++i)
        ratios[i] = std::max(ratios[i], second[i]);
}

void PsychoModel2::Pass(const int16_t* input, int ch, float ratios[32])
{
    int16_t* save = savebuf_[ch];
    std::copy(save + flush_, save + flush_ + syncFlush_, save);
    std::copy(input, input + (syncSize_ - syncFlush_), save + syncFlush_);

    float windowed[kFFTSize];
    for (int j = 0; j < kFFTSize; ++j)
        windowed[j] = float(save[j]) * window_[std::size_t(j)];
    float energy[kLines], re[kLines], im[kLines];
    Spectrum(windowed, energy, re, im);

    if (layer_ == 2 || ch == 0) {
        if (new_ == 0)
            new_ = oldest_ = 1;
        else
            new_ = oldest_ = 0;
        old_ ^= 1;
    }

    // Unpredictability from the two previous analyses.
    float c[kLines];
    float* rNew = r_[ch][new_];
    const float* rOld = r_[ch][old_];
    const float* rOldest = r_[ch][oldest_];
    float* cNew = cosPhi_[ch][new_];
    float* sNew = sinPhi_[ch][new_];
    const float* cOld = cosPhi_[ch][old_];
    const float* sOld = sinPhi_[ch][old_];
    const float* cOldest = cosPhi_[ch][oldest_];
    const float* sOldest = sinPhi_[ch][oldest_];
    for (int j = 0; j < kLines; ++j) {
        const float rp = 2.0f * rOld[j] - rOldest[j];
        // cos and sin of pp = 2 phi(old) - phi(oldest).
        const float c2 = cOld[j] * cOld[j] - sOld[j] * sOld[j];
        const float s2 = 2.0f * cOld[j] * sOld[j];
        const float cpp = c2 * cOldest[j] + s2 * sOldest[j];
        const float spp = s2 * cOldest[j] - c2 * sOldest[j];
        const float rn = std::sqrt(energy[j]);
        float cn = 1.0f, sn = 0.0f;
        if (rn > 0.0f && (re[j] != 0.0f || im[j] != 0.0f)) {
            cn = re[j] / rn;
            sn = im[j] / rn;
        }
        // Digital noise may leave the unit vector slightly off length; the
        // recurrence only needs its direction.
        const float t1 = rn * cn - rp * cpp;
        const float t2 = rn * sn - rp * spp;
        const float denom = rn + std::fabs(rp);
        c[j] = denom != 0.0f ? std::sqrt(t1 * t1 + t2 * t2) / denom : 0.0f;
        rNew[j] = rn;
        cNew[j] = cn;
        sNew[j] = sn;
    }

    // Partitions: grouped energy and unpredictability, spread.
    double groupedE[kMaxPartitions] = {};
    double groupedC[kMaxPartitions] = {};
    for (int j = 0; j < kLines; ++j) {
        const int p = partition_[std::size_t(j)];
        groupedE[p] += energy[j];
        groupedC[p] += double(energy[j]) * c[j];
    }
    double nb[kMaxPartitions];
    for (int j = 0; j < partitions_; ++j) {
        double ecb = 0.0, cbSum = 0.0;
        const float* row = &spread_[std::size_t(j * kMaxPartitions)];
        // Terms of a zero spreading value add nothing.
        for (int k = 0; k < partitions_; ++k) {
            ecb += row[k] * groupedE[k];
            cbSum += row[k] * groupedC[k];
        }
        double cb = ecb != 0.0 ? cbSum / ecb : 0.0;
        cb = std::clamp(cb, 0.05, 0.5);
        const double tb = -0.434294482 * std::log(cb) - 0.301029996;
        const std::size_t u = std::size_t(j);
        double bc = tmn_[u] * tb + kNoiseMaskingTone * (1.0 - tb);
        bc = std::max(bc, bmax_[u]);
        bc = std::exp(-bc * 0.2302585093);
        const double norm = rnorm_[u] * numlines_[u];
        nb[j] = (ecb == 0.0 || bc == 0.0 || norm == 0.0) ? 0.0 : ecb * bc / norm;
    }

    float thr[kLines];
    float* lthr = lthr_[ch];
    for (int j = 0; j < kLines; ++j) {
        const float t = std::max(float(nb[partition_[std::size_t(j)]]), absthr_[std::size_t(j)]);
        if (layer_ == 1) {
            float f = std::min(t, lthr[j]);
            thr[j] = std::max(f, 0.00316f * t);
        } else {
            thr[j] = t;
        }
        lthr[j] = 32.0f * t;
    }

    for (int sb = 0; sb < 32; ++sb) {
        const int first = sb * 16;
        double e = 0.0;
        double t;
        if (sb < 13) {
            float smallest = kInitialThreshold;
            for (int j = first; j <= first + 16; ++j) {
                e += energy[j];
                smallest = std::min(smallest, thr[j]);
            }
            t = 17.0 * smallest;
        } else {
            t = 0.0;
            for (int j = first; j <= first + 16; ++j) {
                e += energy[j];
                t += thr[j];
            }
        }
        ratios[sb] = float(4.342944819 * std::log(e / t));
    }
}
