#include "g72x.h"

#include <cstdlib>

namespace {

// ------------------------------------------------------------------ tables
// Quantiser decision levels (log domain), per code width.
const int kQuant16[1] = {261};
const int kQuant24[3] = {8, 218, 331};
const int kQuant32[7] = {-124, 80, 178, 246, 300, 349, 400};
const int kQuant40[15] = {-122, -16, 68, 139, 198, 250, 298, 339, 378, 413, 445, 475, 502, 528, 553};

// Inverse quantiser outputs (log domain), by code.
const int kDqln16[4] = {116, 365, 365, 116};
const int kDqln24[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
const int kDqln32[16] = {-2048, 4, 135, 213, 273, 323, 373, 425, 425, 373, 323, 273, 213, 135, 4, -2048};
const int kDqln40[32] = {-2048, -66, 28, 104, 169, 224, 274, 318, 358, 395, 429, 459, 488, 514, 539, 566,
                         566,   539, 514, 488, 459, 429, 395, 358, 318, 274, 224, 169, 104, 28,  -66, -2048};

// Scale-factor multipliers W(I); the 32 kbit/s table at 1/32 of its scale.
const int kW16[4] = {-704, 14048, 14048, -704};
const int kW24[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
const int kW32[16] = {-12, 18, 41, 64, 112, 198, 355, 1122, 1122, 355, 198, 112, 64, 41, 18, -12};
const int kW40[32] = {448,   448,   768,   1248,  1280,  1312,  1856, 3200, 4512, 5728, 7008,
                      8960,  11456, 14080, 16928, 22272, 22272, 16928, 14080, 11456, 8960, 7008,
                      5728,  4512,  3200,  1856,  1312,  1280,  1248,  768,   448,   448};

// Transition values F(I).
const int kF16[4] = {0, 0xE00, 0xE00, 0};
const int kF24[8] = {0, 0x200, 0x400, 0xE00, 0xE00, 0x400, 0x200, 0};
const int kF32[16] = {0, 0, 0, 0x200, 0x200, 0x200, 0x600, 0xE00, 0xE00, 0x600, 0x200, 0x200, 0x200, 0, 0, 0};
const int kF40[32] = {0,     0,     0,     0,     0,     0x200, 0x200, 0x200, 0x200, 0x200, 0x400,
                      0x600, 0x800, 0xA00, 0xC00, 0xC00, 0xC00, 0xC00, 0xA00, 0x800, 0x600, 0x400,
                      0x200, 0x200, 0x200, 0x200, 0x200, 0,     0,     0,     0,     0};

const int kPowers[15] = {1, 2, 4, 8, 0x10, 0x20, 0x40, 0x80, 0x100, 0x200, 0x400, 0x800, 0x1000, 0x2000, 0x4000};

// One code width's tables.
struct Width {
    int bits;
    const int* quant;   // decision levels
    int levels;         // their number
    const int* dqln;
    const int* w;
    int wScale;         // W(I) multiplier
    const int* f;
};

const Width k16 = {2, kQuant16, 1, kDqln16, kW16, 1, kF16};
const Width k24 = {3, kQuant24, 3, kDqln24, kW24, 1, kF24};
const Width k32 = {4, kQuant32, 7, kDqln32, kW32, 32, kF32};
const Width k40 = {5, kQuant40, 15, kDqln40, kW40, 1, kF40};

// The index of the first table entry above `value` (the table's size when none).
int quan(int value, const int* table, int size)
{
    int i = 0;
    while (i < size && value >= table[i])
        ++i;
    return i;
}

// The product of a predictor coefficient and a floating-format signal
// (FMULT): 4-bit exponent and 6-bit mantissa arithmetic.
int fmult(int an, int srn)
{
    const int anmag = an > 0 ? an : ((-an) & 0x1FFF);
    const int anexp = quan(anmag, kPowers, 15) - 6;
    const int anmant = anmag == 0 ? 32 : (anexp >= 0 ? anmag >> anexp : anmag << -anexp);
    const int wanexp = anexp + ((srn >> 6) & 0xF) - 13;
    const int wanmant = (anmant * (srn & 0x3F) + 0x30) >> 4;
    const int product = wanexp >= 0 ? ((wanmant << wanexp) & 0x7FFF) : (wanmant >> -wanexp);
    return (an ^ srn) < 0 ? -product : product;
}

// The recommendation's blocks, shared by all widths.
int g72x_predictor_zero(const g72x_state* s)
{
    int sezi = 0;
    for (int i = 0; i < 6; ++i)
        sezi += fmult(s->b[i] >> 2, s->dq[i]);
    return sezi;
}

int g72x_predictor_pole(const g72x_state* s)
{
    return fmult(s->a[1] >> 2, s->sr[1]) + fmult(s->a[0] >> 2, s->sr[0]);
}

int g72x_step_size(const g72x_state* s)
{
    if (s->ap >= 256)
        return s->yu;
    int y = s->yl >> 6;
    const int dif = s->yu - y;
    const int al = s->ap >> 2;
    if (dif > 0)
        y += (dif * al) >> 6;
    else if (dif < 0)
        y += (dif * al + 0x3F) >> 6;
    return y;
}

// Adaptive quantiser: the code of difference `d` at scale `y` against
// `levels` decision levels; codes grow with the magnitude, negative ones
// are the one's complement.  With an even number of quantiser intervals
// (the 2-bit coder) the positive lowest interval has code 0; otherwise code
// 0 is never sent and the lowest positive interval takes the all-ones code.
int g72x_quantize(int d, int y, const int* table, int levels)
{
    const int dqm = std::abs(d);
    const int exp = quan(dqm >> 1, kPowers, 15);
    const int mant = ((dqm << 7) >> exp) & 0x7F;
    const int dl = (exp << 7) + mant;
    const int dln = dl - (y >> 2);
    const int i = quan(dln, table, levels);
    const int ones = (levels << 1) + 1;
    if (d < 0)
        return ones - i;
    if (i == 0 && levels > 1)
        return ones;
    return i;
}

// Inverse adaptive quantiser: the quantised difference in sign-magnitude
// form (negative values have 0x8000 subtracted from the magnitude).
int g72x_reconstruct(int sign, int dqln, int y)
{
    const int dql = dqln + (y >> 2);
    if (dql < 0)
        return sign ? -0x8000 : 0;
    const int dex = (dql >> 7) & 15;
    const int dqt = 128 + (dql & 127);
    const int dq = (dqt << 7) >> (14 - dex);
    return sign ? dq - 0x8000 : dq;
}

// Floating format of a magnitude with a sign: 4-bit exponent, 6-bit mantissa.
int16_t ToFloat(int mag, bool negative)
{
    const int exp = quan(mag, kPowers, 15);
    const int value = (exp << 6) + ((mag << 6) >> exp);
    return int16_t(negative ? value - 0x400 : value);
}

void g72x_update(int bits, int y, int wi, int fi, int dq, int sr, int dqsez, g72x_state* s)
{
    const int pk0 = dqsez < 0 ? 1 : 0;
    const int mag = dq & 0x7FFF;

    // Transition detector.
    const int ylint = s->yl >> 15;
    const int ylfrac = (s->yl >> 10) & 0x1F;
    const int thr1 = (32 + ylfrac) << ylint;
    const int thr2 = ylint > 9 ? 31 << 10 : thr1;
    const int dqthr = (thr2 + (thr2 >> 1)) >> 1;
    const bool tr = s->td != 0 && mag > dqthr;

    // Quantiser scale factor adaptation.
    int yu = y + ((wi - y) >> 5);
    if (yu < 544)
        yu = 544;
    else if (yu > 5120)
        yu = 5120;
    s->yu = int16_t(yu);
    s->yl += yu + ((-s->yl) >> 6);

    // Predictor coefficients.
    int a2p = 0;
    if (tr) {
        s->a[0] = s->a[1] = 0;
        for (int i = 0; i < 6; ++i)
            s->b[i] = 0;
    } else {
        const int pks1 = pk0 ^ s->pk[0];
        a2p = s->a[1] - (s->a[1] >> 7);
        if (dqsez != 0) {
            const int fa1 = pks1 ? s->a[0] : -s->a[0];
            if (fa1 < -8191)
                a2p -= 0x100;
            else if (fa1 > 8191)
                a2p += 0xFF;
            else
                a2p += fa1 >> 5;
            if (pk0 ^ s->pk[1]) {
                if (a2p <= -12160)
                    a2p = -12288;
                else if (a2p >= 12416)
                    a2p = 12288;
                else
                    a2p -= 0x80;
            } else if (a2p <= -12416) {
                a2p = -12288;
            } else if (a2p >= 12160) {
                a2p = 12288;
            } else {
                a2p += 0x80;
            }
        }
        s->a[1] = int16_t(a2p);

        int a1 = s->a[0] - (s->a[0] >> 8);
        if (dqsez != 0)
            a1 += pks1 == 0 ? 192 : -192;
        const int a1ul = 15360 - a2p;
        if (a1 < -a1ul)
            a1 = -a1ul;
        else if (a1 > a1ul)
            a1 = a1ul;
        s->a[0] = int16_t(a1);

        for (int i = 0; i < 6; ++i) {
            int b = s->b[i];
            b -= bits == 5 ? (b >> 9) : (b >> 8);
            if (mag != 0)
                b += (dq ^ s->dq[i]) >= 0 ? 128 : -128;
            s->b[i] = int16_t(b);
        }
    }

    // Delay lines.
    for (int i = 5; i > 0; --i)
        s->dq[i] = s->dq[i - 1];
    if (mag == 0)
        s->dq[0] = int16_t(dq >= 0 ? 0x20 : 0xFC20 - 0x10000);
    else
        s->dq[0] = ToFloat(mag, dq < 0);

    s->sr[1] = s->sr[0];
    if (sr == 0)
        s->sr[0] = 0x20;
    else if (sr > 0)
        s->sr[0] = ToFloat(sr, false);
    else if (sr > -32768)
        s->sr[0] = ToFloat(-sr, true);
    else
        s->sr[0] = int16_t(0xFC20 - 0x10000);

    s->pk[1] = s->pk[0];
    s->pk[0] = int16_t(pk0);

    // Tone detector.
    s->td = int8_t(!tr && a2p < -11776 ? 1 : 0);

    // Adaptation speed control.
    s->dms = int16_t(s->dms + ((fi - s->dms) >> 5));
    s->dml = int16_t(s->dml + (((fi << 2) - s->dml) >> 7));
    if (tr)
        s->ap = 256;
    else if (y < 1536 || s->td == 1 || std::abs((s->dms << 2) - s->dml) >= (s->dml >> 3))
        s->ap = int16_t(s->ap + ((0x200 - s->ap) >> 4));
    else
        s->ap = int16_t(s->ap + ((-s->ap) >> 4));
}

namespace {

// Re-encodes the linear value of a companded decoder output against the
// signal estimate: 0 when that gives the received code, 1 when it gives a
// code above it, -1 below (codes compared as sign-magnitude).
int TandemStep(int decoded, int se, int y, int code, int sign, const int* table, int levels)
{
    const int id = g72x_quantize((decoded >> 2) - se, y, table, levels);
    if (id == code)
        return 0;
    return (id ^ sign) > (code ^ sign) ? 1 : -1;
}

} // namespace

// Synchronous coding adjustment of a companded decoder output: the byte is
// moved one step when re-encoding it would not give the received code.
int g72x_tandem_adjust_alaw(int sr, int se, int y, int code, int sign, const int* table, int levels)
{
    if (sr <= -32768)
        sr = -1;
    const unsigned char sp = g711_linear2alaw((sr >> 1) << 3);
    const int step = TandemStep(g711_alaw2linear(sp), se, y, code, sign, table, levels);
    if (step == 0)
        return sp;
    if (step > 0) {
        if (sp & 0x80)
            return sp == 0xD5 ? 0x55 : (((sp ^ 0x55) - 1) ^ 0x55);
        return sp == 0x2A ? 0x2A : (((sp ^ 0x55) + 1) ^ 0x55);
    }
    if (sp & 0x80)
        return sp == 0xAA ? 0xAA : (((sp ^ 0x55) + 1) ^ 0x55);
    return sp == 0x55 ? 0xD5 : (((sp ^ 0x55) - 1) ^ 0x55);
}

int g72x_tandem_adjust_ulaw(int sr, int se, int y, int code, int sign, const int* table, int levels)
{
    if (sr <= -32768)
        sr = 0;
    const unsigned char sp = g711_linear2ulaw(sr << 2);
    const int step = TandemStep(g711_ulaw2linear(sp), se, y, code, sign, table, levels);
    if (step == 0)
        return sp;
    if (step > 0) {
        if (sp & 0x80)
            return sp == 0xFF ? 0x7E : sp + 1;
        return sp == 0 ? 0 : sp - 1;
    }
    if (sp & 0x80)
        return sp == 0x80 ? 0x80 : sp - 1;
    return sp == 0x7F ? 0xFE : sp + 1;
}

int Encode(const Width& w, int sample, int coding, g72x_state* s)
{
    switch (coding) {
    case kG72xCodingMuLaw: sample = g711_ulaw2linear(static_cast<unsigned char>(sample)); break;
    case kG72xCodingALaw: sample = g711_alaw2linear(static_cast<unsigned char>(sample)); break;
    case kG72xCodingLinear: break;
    default: return -1;
    }
    // The recommendation's signals are 16-bit words: sums wrap as they do.
    const int sl = sample >> 2;
    const int16_t sezi = int16_t(g72x_predictor_zero(s));
    const int16_t sez = int16_t(sezi >> 1);
    const int16_t sei = int16_t(sezi + g72x_predictor_pole(s));
    const int16_t se = int16_t(sei >> 1);
    const int16_t d = int16_t(sl - se);
    const int16_t y = int16_t(g72x_step_size(s));
    const int code = g72x_quantize(d, y, w.quant, w.levels);
    const int sign = 1 << (w.bits - 1);
    const int16_t dq = int16_t(g72x_reconstruct(code & sign, w.dqln[code], y));
    const int16_t sr = int16_t(dq < 0 ? se - (dq & 0x7FFF) : se + dq);
    const int16_t dqsez = int16_t(sr + sez - se);
    g72x_update(w.bits, y, w.w[code] * w.wScale, w.f[code], dq, sr, dqsez, s);
    return code;
}

int Decode(const Width& w, int code, int coding, g72x_state* s)
{
    code &= (1 << w.bits) - 1;
    const int16_t sezi = int16_t(g72x_predictor_zero(s));
    const int16_t sez = int16_t(sezi >> 1);
    const int16_t sei = int16_t(sezi + g72x_predictor_pole(s));
    const int16_t se = int16_t(sei >> 1);
    const int16_t y = int16_t(g72x_step_size(s));
    const int sign = 1 << (w.bits - 1);
    const int16_t dq = int16_t(g72x_reconstruct(code & sign, w.dqln[code], y));
    const int16_t sr = int16_t(dq < 0 ? se - (dq & 0x7FFF) : se + dq);
    const int16_t dqsez = int16_t(sr - se + sez);
    g72x_update(w.bits, y, w.w[code] * w.wScale, w.f[code], dq, sr, dqsez, s);
    switch (coding) {
    case kG72xCodingALaw: return g72x_tandem_adjust_alaw(sr, se, y, code, sign, w.quant, w.levels);
    case kG72xCodingMuLaw: return g72x_tandem_adjust_ulaw(sr, se, y, code, sign, w.quant, w.levels);
    case kG72xCodingLinear: return sr << 2;
    default: return -1;
    }
}

} // namespace

void g72x_init_state(g72x_state* s)
{
    *s = g72x_state{};
    s->yl = 34816;
    s->yu = 544;
    for (int16_t& v : s->dq)
        v = 32;
    s->sr[0] = s->sr[1] = 32;
}

int g721_encoder(int sample, int coding, g72x_state* s) { return Encode(k32, sample, coding, s); }
int g721_decoder(int code, int coding, g72x_state* s) { return Decode(k32, code, coding, s); }
int g723_16_encoder(int sample, int coding, g72x_state* s) { return Encode(k16, sample, coding, s); }
int g723_16_decoder(int code, int coding, g72x_state* s) { return Decode(k16, code, coding, s); }
int g723_24_encoder(int sample, int coding, g72x_state* s) { return Encode(k24, sample, coding, s); }
int g723_24_decoder(int code, int coding, g72x_state* s) { return Decode(k24, code, coding, s); }
int g723_40_encoder(int sample, int coding, g72x_state* s) { return Encode(k40, sample, coding, s); }
int g723_40_decoder(int code, int coding, g72x_state* s) { return Decode(k40, code, coding, s); }

G72xEncoder G72xEncoderForBits(int bits)
{
    switch (bits) {
    case 2: return g723_16_encoder;
    case 3: return g723_24_encoder;
    case 4: return g721_encoder;
    case 5: return g723_40_encoder;
    default: return nullptr;
    }
}

G72xDecoder G72xDecoderForBits(int bits)
{
    switch (bits) {
    case 2: return g723_16_decoder;
    case 3: return g723_24_decoder;
    case 4: return g721_decoder;
    case 5: return g723_40_decoder;
    default: return nullptr;
    }
}
