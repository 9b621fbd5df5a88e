#include "MpegFrameEncoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

using namespace mpeg;

namespace {

// The Layer I lists: allocation n (2^(n+1) - 1 steps) indexes its SNR and
// its quantiser class (n - 1).
constexpr int kLayerIClass[14] = {0, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16};

double LayerISNR(int allocation)
{
    // Entries 0 and 1 as stored, entry 2 = 16.00, 3-15 = stored 5-17.
    if (allocation <= 1)
        return kSNR[allocation];
    if (allocation == 2)
        return kSNR[3];
    return kSNR[allocation + 2];
}

int PickTable(int sfIndex, int bitRate, int stereo)
{
    const int f = int(kSampleRatesKHz[sfIndex]);
    const int b = bitRate / stereo;
    if ((f == 48 && b >= 56) || (b >= 56 && b <= 80))
        return 0;
    if (f != 48 && b >= 96)
        return 1;
    if (f != 32 && b <= 48)
        return 2;
    return 3;
}

unsigned ScaleIndexOf(double peak)
{
    // The highest index whose value is at least `peak` (values fall with
    // the index); 0 when even entry 0 is below it.
    int lo = 0, hi = 62;
    if (kScaleFactors[0] < peak)
        return 0;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (kScaleFactors[mid] >= peak)
            lo = mid;
        else
            hi = mid - 1;
    }
    return unsigned(lo);
}

int DifferenceClass(int d)
{
    if (d <= -3)
        return 0;
    if (d < 0)
        return 1;
    if (d == 0)
        return 2;
    if (d < 3)
        return 3;
    return 4;
}

}  // namespace

MpegFrameEncoder::MpegFrameEncoder() = default;
MpegFrameEncoder::~MpegFrameEncoder() = default;

int MpegFrameEncoder::Configure(const Settings& s)
{
    layer_ = s.layer == 1 ? 1 : 2;
    sfIndex_ = SampleRateIndex(s.sampleRate);
    if (sfIndex_ < 0)
        return kMPEGSampleRateErr;
    const bool mono = s.mode == kSingleChannel;
    if (layer_ == 1 && !mono && s.bitRate == 32)
        return kMPEGStereo32kErr;
    if (layer_ == 2 && mono && s.bitRate > 223)
        return kMPEGMonoRateErr;
    if (layer_ == 2 && !mono && (s.bitRate <= 56 || s.bitRate == 80))
        return kMPEGStereoRateErr;
    const int index = BitRateIndex(layer_, s.bitRate);
    if (index < 0)
        return kMPEGBitRateErr;

    header_ = FrameHeader{};
    header_.lay = layer_;
    header_.bitrate_index = index;
    header_.sampling_frequency = sfIndex_;
    header_.mode = s.mode;
    fr_ = FrameParams{};
    fr_.header = &header_;
    fr_.actual_mode = s.mode;
    fr_.stereo = mono ? 1 : 2;
    if (layer_ == 1) {
        fr_.sblimit = 32;
    } else {
        fr_.tab_num = PickTable(sfIndex_, s.bitRate, fr_.stereo);
        fr_.sblimit = FillAllocTable(fr_.tab_num, alloc_).sblimit;
        fr_.alloc = &alloc_;
    }
    fr_.jsbound = fr_.sblimit;

    // Slots per frame: whole part and fraction, from exact integers.
    const int rate = s.sampleRate;
    const long long numerator = (layer_ == 1 ? 12000LL : 144000LL) * s.bitRate;
    wholeSlots_ = int(numerator / rate);
    fraction_ = double(numerator % rate) / rate;
    lag_ = -fraction_;
    paddingOn_ = s.padding;

    filter_ = std::make_unique<SubbandAnalysis>();
    model_ = std::make_unique<PsychoModel2>(sfIndex_, layer_);
    std::memset(pcm_, 0, sizeof pcm_);
    scalingWarnings_ = 0;
    return 0;
}

double MpegFrameEncoder::AverageFrameBytes() const
{
    const double slots = wholeSlots_ + (paddingOn_ ? fraction_ : 0.0);
    return slots * SlotBits() / 8.0;
}

void MpegFrameEncoder::ScaleFactors(const double (*samples)[3][12][32], ScaleIndex& scalar, int channels, int parts,
                                    int sblimit)
{
    for (int k = 0; k < channels; ++k)
        for (int t = 0; t < parts; ++t)
            for (int sb = 0; sb < 32; ++sb) {
                if (sb >= sblimit) {
                    scalar[k][t][sb] = 63;
                    continue;
                }
                double peak = 0.0;
                for (int j = 0; j < 12; ++j)
                    peak = std::max(peak, std::fabs(samples[k][t][j][sb]));
                scalar[k][t][sb] = ScaleIndexOf(peak);
            }
}

void MpegFrameEncoder::TransmissionPattern()
{
    for (int k = 0; k < fr_.stereo; ++k)
        for (int sb = 0; sb < fr_.sblimit; ++sb) {
            unsigned* s[3] = {&scalar_[k][0][sb], &scalar_[k][1][sb], &scalar_[k][2][sb]};
            const int d1 = int(*s[0]) - int(*s[1]);
            const int d2 = int(*s[1]) - int(*s[2]);
            switch (kScalefactorPattern[DifferenceClass(d1)][DifferenceClass(d2)]) {
            case 0x123:
                scfsi_[k][sb] = 0;
                break;
            case 0x122:
                scfsi_[k][sb] = 3;
                *s[2] = *s[1];
                break;
            case 0x133:
                scfsi_[k][sb] = 3;
                *s[1] = *s[2];
                break;
            case 0x113:
                scfsi_[k][sb] = 1;
                *s[1] = *s[0];
                break;
            case 0x111:
                scfsi_[k][sb] = 2;
                *s[1] = *s[2] = *s[0];
                break;
            case 0x222:
                scfsi_[k][sb] = 2;
                *s[0] = *s[2] = *s[1];
                break;
            case 0x333:
                scfsi_[k][sb] = 2;
                *s[0] = *s[1] = *s[2];
                break;
            case 0x444:
                scfsi_[k][sb] = 2;
                *s[0] = *s[1] = *s[2] = std::min(*s[0], *s[2]);
                break;
            }
        }
}

int MpegFrameEncoder::BitsForNoNoiseII()
{
    const int stereo = fr_.stereo;
    int bits = 32;
    for (int sb = 0; sb < fr_.sblimit; ++sb)
        bits += int(alloc_[sb][0].bits) * (sb < fr_.jsbound ? stereo : 1);
    for (int sb = 0; sb < fr_.sblimit; ++sb) {
        const int limit = (1 << alloc_[sb][0].bits) - 2;
        const int channels = sb < fr_.jsbound ? stereo : 1;
        for (int k = 0; k < channels; ++k) {
            auto snrOf = [&](int ba) { return ba > 0 ? kSNR[alloc_[sb][ba].quant + 1] : kSNR[alloc_[sb][0].quant]; };
            int ba = 0;
            while (ba < limit && snrOf(ba) - smr_[k][sb] < 0.0)
                ++ba;
            if (stereo == 2 && sb >= fr_.jsbound)
                while (ba < limit && snrOf(ba) - smr_[1 - k][sb] < 0.0)
                    ++ba;
            if (ba > 0) {
                const AllocEntry& e = alloc_[sb][ba];
                bits += 12 * int(e.group * e.bits) + 2 + 6 * kScalefactorsPerCode[scfsi_[k][sb]];
                if (stereo == 2 && sb >= fr_.jsbound)
                    bits += 2 + 6 * kScalefactorsPerCode[scfsi_[1 - k][sb]];
            }
        }
    }
    return bits;
}

int MpegFrameEncoder::BitsForNoNoiseI()
{
    const int stereo = fr_.stereo;
    int bits = 32 + 4 * (fr_.jsbound * stereo + 32 - fr_.jsbound);
    for (int sb = 0; sb < 32; ++sb) {
        const int channels = sb < fr_.jsbound ? stereo : 1;
        for (int k = 0; k < channels; ++k) {
            int ba = 0;
            while (ba < 14 && LayerISNR(ba) - smr_[k][sb] < 0.0)
                ++ba;
            if (stereo == 2 && sb >= fr_.jsbound)
                while (ba < 14 && LayerISNR(ba) - smr_[1 - k][sb] < 0.0)
                    ++ba;
            if (ba > 0)
                bits += (ba + 1) * 12 + 6 * (sb >= fr_.jsbound ? stereo : 1);
        }
    }
    return bits;
}

void MpegFrameEncoder::ChooseJointStereo(int adb)
{
    if (fr_.actual_mode != kJointStereo)
        return;
    // Every frame of a joint-stereo stream says so: stream readers take the
    // first frames' mode bits as part of the stream's signature and drop a
    // first frame whose mode differs from the next ones.  A frame that would
    // fit as plain stereo gets the widest bound (16 subbands).
    header_.mode = kJointStereo;
    auto needed = [&] { return layer_ == 1 ? BitsForNoNoiseI() : BitsForNoNoiseII(); };
    for (int ext = 3; ext >= 0; --ext) {
        header_.mode_ext = ext;
        fr_.jsbound = std::min(kJointStereoBound[layer_ - 1][ext], fr_.sblimit);
        if (ext == 0 || needed() <= adb)
            break;
    }
}

void MpegFrameEncoder::AllocateII(int& adb)
{
    const int stereo = fr_.stereo;
    int fieldBits = 0;
    for (int sb = 0; sb < fr_.sblimit; ++sb)
        fieldBits += int(alloc_[sb][0].bits) * (sb < fr_.jsbound ? stereo : 1);
    const int ad = adb - fieldBits - 32;
    double mnr[2][32];
    int used[2][32];
    for (int sb = 0; sb < fr_.sblimit; ++sb)
        for (int k = 0; k < stereo; ++k) {
            mnr[k][sb] = kSNR[0] - smr_[k][sb];
            bitAlloc_[k][sb] = 0;
            used[k][sb] = 0;
        }
    int spent = 0;
    for (;;) {
        double smallest = 999999.0;
        int minSb = -1, minCh = -1;
        for (int sb = 0; sb < fr_.sblimit; ++sb)
            for (int k = 0; k < stereo; ++k)
                if (used[k][sb] != 2 && smallest > mnr[k][sb]) {
                    smallest = mnr[k][sb];
                    minSb = sb;
                    minCh = k;
                }
        if (minSb < 0)
            break;
        const int sb = minSb, k = minCh;
        const unsigned ba = bitAlloc_[k][sb];
        const AllocEntry& next = alloc_[sb][ba + 1];
        int cost = 12 * int(next.group * next.bits);
        if (used[k][sb]) {
            cost -= 12 * int(alloc_[sb][ba].group * alloc_[sb][ba].bits);
        } else {
            cost += 2 + 6 * kScalefactorsPerCode[scfsi_[k][sb]];
            if (stereo == 2 && sb >= fr_.jsbound)
                cost += 2 + 6 * kScalefactorsPerCode[scfsi_[1 - k][sb]];
        }
        if (spent + cost <= ad) {
            const unsigned nba = ++bitAlloc_[k][sb];
            spent += cost;
            used[k][sb] = 1;
            mnr[k][sb] = -smr_[k][sb] + kSNR[alloc_[sb][nba].quant + 1];
            if (nba >= (1u << alloc_[sb][0].bits) - 1)
                used[k][sb] = 2;
        } else {
            used[k][sb] = 2;
        }
        if (stereo == 2 && sb >= fr_.jsbound) {
            const int other = 1 - k;
            bitAlloc_[other][sb] = bitAlloc_[k][sb];
            used[other][sb] = used[k][sb];
            mnr[other][sb] = -smr_[other][sb] + kSNR[alloc_[sb][bitAlloc_[other][sb]].quant + 1];
        }
    }
    adb = ad - spent;
    for (int k = 0; k < 2; ++k)
        for (int sb = fr_.sblimit; sb < 32; ++sb)
            bitAlloc_[k][sb] = 0;
    if (stereo == 1)
        for (int sb = 0; sb < 32; ++sb)
            bitAlloc_[1][sb] = 0;
}

void MpegFrameEncoder::AllocateI(int& adb)
{
    const int stereo = fr_.stereo;
    const int ad = adb - 4 * (fr_.jsbound * stereo + 32 - fr_.jsbound) - 32;
    double mnr[2][32];
    int used[2][32];
    for (int sb = 0; sb < 32; ++sb)
        for (int k = 0; k < stereo; ++k) {
            mnr[k][sb] = LayerISNR(0) - smr_[k][sb];
            bitAlloc_[k][sb] = 0;
            used[k][sb] = 0;
        }
    int spent = 0;
    for (;;) {
        double smallest = mnr[0][0] + 1;
        int minSb = -1, minCh = -1;
        for (int sb = 0; sb < 32; ++sb)
            for (int k = 0; k < stereo; ++k)
                if (used[k][sb] != 2 && smallest > mnr[k][sb]) {
                    smallest = mnr[k][sb];
                    minSb = sb;
                    minCh = k;
                }
        if (minSb < 0)
            break;
        const int sb = minSb, k = minCh;
        int sampleBits = used[k][sb] ? 12 : 24;
        int scaleBits = used[k][sb] ? 0 : 6;
        if (sb >= fr_.jsbound)
            scaleBits *= stereo;
        if (spent + sampleBits + scaleBits <= ad) {
            const unsigned nba = ++bitAlloc_[k][sb];
            spent += sampleBits + scaleBits;
            used[k][sb] = 1;
            mnr[k][sb] = -smr_[k][sb] + LayerISNR(int(nba));
            if (nba >= 14)
                used[k][sb] = 2;
        } else {
            used[k][sb] = 2;
        }
        if (stereo == 2 && sb >= fr_.jsbound) {
            const int other = 1 - k;
            bitAlloc_[other][sb] = bitAlloc_[k][sb];
            used[other][sb] = used[k][sb];
            mnr[other][sb] = -smr_[other][sb] + LayerISNR(int(bitAlloc_[other][sb]));
        }
    }
    adb = ad - spent;
    if (stereo == 1)
        for (int sb = 0; sb < 32; ++sb)
            bitAlloc_[1][sb] = 0;
}

void MpegFrameEncoder::QuantiseII()
{
    const int stereo = fr_.stereo;
    for (int sb = 0; sb < fr_.sblimit; ++sb) {
        const int channels = sb < fr_.jsbound ? stereo : 1;
        const bool joint = stereo == 2 && sb >= fr_.jsbound;
        for (int k = 0; k < channels; ++k) {
            const unsigned ba = bitAlloc_[k][sb];
            if (!ba)
                continue;
            const AllocEntry& e = alloc_[sb][ba];
            const double a = kQuantA[e.quant], b = kQuantB[e.quant];
            int n = 0;
            while ((1u << n) < e.steps)
                ++n;
            --n;
            const double range = double(1u << n);
            const unsigned signBit = 1u << n;
            for (int s = 0; s < 3; ++s) {
                const double scale = 1.0 / (joint ? kScaleFactors[jScalar_[0][s][sb]] : kScaleFactors[scalar_[k][s][sb]]);
                for (int j = 0; j < 12; ++j) {
                    double d = (joint ? jSample_[0][s][j][sb] : sbSample_[k][s][j][sb]) * scale;
                    if (std::fabs(d) > 1.0)
                        ++scalingWarnings_;
                    d = a * d + b;
                    const bool sign = d >= 0.0;
                    if (!sign)
                        d += 1.0;
                    double scaled = d * range;
                    if (!(scaled >= 0.0))
                        scaled = 0.0;
                    unsigned code = unsigned(std::min(scaled, range - 1.0));
                    if (sign)
                        code |= signBit;
                    // A value at the very edge of the range could reach the
                    // step count, which is no legal code.
                    subband_[k][s][j][sb] = std::min(code, e.steps - 1);
                }
            }
        }
    }
    for (int k = 0; k < 2; ++k)
        for (int s = 0; s < 3; ++s)
            for (int j = 0; j < 12; ++j)
                for (int sb = fr_.sblimit; sb < 32; ++sb)
                    subband_[k][s][j][sb] = 0;
}

void MpegFrameEncoder::QuantiseI()
{
    const int stereo = fr_.stereo;
    for (int j = 0; j < 12; ++j)
        for (int sb = 0; sb < 32; ++sb) {
            const int channels = sb < fr_.jsbound ? stereo : 1;
            for (int k = 0; k < channels; ++k) {
                const unsigned ba = bitAlloc_[k][sb];
                if (!ba)
                    continue;
                const bool joint = stereo == 2 && sb >= fr_.jsbound;
                double d = joint ? jSample_[0][0][j][sb] / kScaleFactors[jScalar_[0][0][sb]]
                                 : sbSample_[k][0][j][sb] / kScaleFactors[scalar_[k][0][sb]];
                if (std::fabs(d) > 1.0)
                    ++scalingWarnings_;
                const int q = kLayerIClass[ba - 1];
                d = kQuantA[q] * d + kQuantB[q];
                const bool sign = d >= 0.0;
                if (!sign)
                    d += 1.0;
                const int n = int(ba);
                double scaled = d * double(1u << n);
                if (!(scaled >= 0.0))
                    scaled = 0.0;
                unsigned code = unsigned(std::min(scaled, double(1u << n) - 1.0));
                if (sign)
                    code |= 1u << n;
                // All ones is no legal Layer I code.
                subband_[k][0][j][sb] = std::min(code, (2u << n) - 2u);
            }
        }
}

int MpegFrameEncoder::EncodeFrame(const int16_t* left, const int16_t* right, MpegBitStream& bs)
{
    const int stereo = fr_.stereo;
    const int spf = SamplesPerFrame();
    for (int k = 0; k < stereo; ++k) {
        const int16_t* in = k == 0 ? left : right;
        if (layer_ == 1) {
            std::memmove(pcm_[k], pcm_[k] + 384, 64 * sizeof(int16_t));
            std::memcpy(pcm_[k] + 64, in, std::size_t(spf) * sizeof(int16_t));
        } else {
            std::memcpy(pcm_[k], in, std::size_t(spf) * sizeof(int16_t));
        }
    }

    // Frame length and padding.
    int extra = 0;
    if (fraction_ != 0.0 && paddingOn_) {
        if (lag_ > fraction_ - 1.0) {
            lag_ -= fraction_;
        } else {
            extra = 1;
            lag_ += 1.0 - fraction_;
        }
    }
    header_.padding = extra;
    const int frameBits = (wholeSlots_ + extra) * SlotBits();
    int adb = frameBits;
    const uint64_t start = bs.BitsWritten();

    const int parts = layer_ == 1 ? 1 : 3;
    for (int s = 0; s < parts; ++s)
        for (int j = 0; j < 12; ++j)
            for (int k = 0; k < stereo; ++k)
                filter_->Filter(&pcm_[k][s * 384 + j * 32], k, sbSample_[k][s][j]);
    ScaleFactors(sbSample_, scalar_, stereo, parts, fr_.sblimit);
    if (fr_.actual_mode == kJointStereo) {
        for (int s = 0; s < parts; ++s)
            for (int j = 0; j < 12; ++j)
                for (int sb = 0; sb < fr_.sblimit; ++sb)
                    jSample_[0][s][j][sb] = (sbSample_[0][s][j][sb] + sbSample_[1][s][j][sb]) * 0.5;
        ScaleFactors(jSample_, jScalar_, 1, parts, fr_.sblimit);
    }
    for (int k = 0; k < stereo; ++k) {
        float ratios[32];
        model_->Analyse(pcm_[k], k, ratios);
        for (int sb = 0; sb < 32; ++sb)
            smr_[k][sb] = ratios[sb];
    }

    if (layer_ == 2) {
        TransmissionPattern();
        ChooseJointStereo(adb);
        AllocateII(adb);
        EncodeInfo(fr_, bs);
        EncodeBitAllocII(bitAlloc_, fr_, bs);
        EncodeScaleII(bitAlloc_, scfsi_, scalar_, fr_, bs);
        QuantiseII();
        SampleEncodingII(subband_, bitAlloc_, fr_, bs);
    } else {
        ChooseJointStereo(adb);
        AllocateI(adb);
        EncodeInfo(fr_, bs);
        EncodeBitAllocI(bitAlloc_, fr_, bs);
        EncodeScaleI(scalar_, bitAlloc_, fr_, bs);
        QuantiseI();
        SampleEncodingI(subband_, bitAlloc_, fr_, bs);
    }
    for (; adb >= 32; adb -= 32)
        bs.PutBits(0, 32);
    if (adb > 0)
        bs.PutBits(0, adb);
    if (bs.BitsWritten() - start != uint64_t(frameBits))
        return kMPEGFrameLengthErr;
    return 0;
}
