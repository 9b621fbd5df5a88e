#include "SubbandAnalysis.h"

#include "mpeg_tables.h"

#include <cmath>
#include <cstring>

namespace {

// The matrix folded by its symmetries: M[k][32 - i] = M[k][i] and
// M[k][96 - i] = -M[k][i], M[k][48] = 0, so 32 columns remain:
// columns 0-16 take y[0] + y[32], y[i] + y[32 - i] (1-15) and y[16];
// columns 17-31 take y[i] - y[96 - i] for i = 33..47.
struct FoldedMatrix {
    double m[32][32];  // [column][subband]
    FoldedMatrix()
    {
        for (int k = 0; k < 32; ++k) {
            for (int i = 0; i <= 16; ++i)
                m[i][k] = SubbandAnalysis::Matrix(k, i);
            for (int i = 33; i <= 47; ++i)
                m[i - 16][k] = SubbandAnalysis::Matrix(k, i);
        }
    }
};
const FoldedMatrix& Folded()
{
    static const FoldedMatrix matrix;
    return matrix;
}

}  // namespace

double SubbandAnalysis::Matrix(int k, int i)
{
    constexpr double kPi = 3.14159265358979;
    double v = 1e9 * std::cos((2 * k + 1) * (16 - i) * kPi / 64.0);
    v = v >= 0 ? std::trunc(v + 0.5) : std::trunc(v - 0.5);
    return v * 1e-9;
}

SubbandAnalysis::SubbandAnalysis()
{
    std::memset(x_, 0, sizeof x_);
    offset_[0] = offset_[1] = 0;
}

void SubbandAnalysis::Filter(const int16_t* samples, int channel, double out[32])
{
    double* x = x_[channel ? 1 : 0];
    int& offset = offset_[channel ? 1 : 0];
    for (int i = 0; i < 32; ++i) {
        const int n = (31 - i + offset) & 511;
        x[n] = x[n + 512] = samples[i] / 32768.0;
    }

    // Windowing and the partial sums y[i] = sum over j of z[i + 64 j],
    // z[n] = x[(n + offset) mod 512] c[n].
    const double* c = mpeg::kAnalysisWindow;
    const double* xs = x + offset;
    double y[64] = {};
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 64; ++i)
            y[i] += xs[i + 64 * j] * c[i + 64 * j];
    offset = (offset + 480) & 511;

    double a[32];
    a[0] = y[0] + y[32];
    for (int i = 1; i < 16; ++i)
        a[i] = y[i] + y[32 - i];
    a[16] = y[16];
    for (int i = 33; i <= 47; ++i)
        a[i - 16] = y[i] - y[96 - i];
    const FoldedMatrix& m = Folded();
    double sum[32] = {};  // local, so the loop needs no alias checks
    for (int i = 0; i < 32; ++i)
        for (int k = 0; k < 32; ++k)
            sum[k] += m.m[i][k] * a[i];
    for (int k = 0; k < 32; ++k)
        out[k] = sum[k];
}
