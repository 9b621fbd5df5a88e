// MpegFrameEncoder: the MPEG-1 Layer I and II frame encoder.  It splits
// 16-bit PCM into 32 subbands, chooses scalefactors, a joint-stereo bound
// and a bit allocation from the signal-to-mask ratios of psychoacoustic
// model 2, quantises the subband samples and writes each frame through the
// bit-stream writer.  Every frame has exactly the length its bit rate and
// padding bit give.
//
// One object per encode: all state (filterbank history, model, padding
// lag, allocation table) lives in it.
#pragma once

#include "MpegBitStream.h"
#include "PsychoModel2.h"
#include "SubbandAnalysis.h"
#include "error_codes.h"
#include "mpeg_frame.h"

#include <cstdint>
#include <memory>

class MpegFrameEncoder {
public:
    struct Settings {
        int layer = 2;           // 1 or 2
        int sampleRate = 44100;  // 32000, 44100 or 48000
        int bitRate = 192;       // kbit/s, a rate of the layer's table
        int mode = mpeg::kStereo;  // mpeg::Mode; kSingleChannel for one channel
        bool padding = true;     // pad frames so the average rate is exact
    };

    MpegFrameEncoder();
    ~MpegFrameEncoder();

    // Checks the settings and prepares the encode; 0 or one of the codes
    // above (a bit rate the layer's table lacks is refused, never replaced).
    int Configure(const Settings& settings);

    // Samples per channel of one frame (384 or 1152).
    int SamplesPerFrame() const { return layer_ == 1 ? 384 : 1152; }
    int Channels() const { return fr_.stereo; }
    // Base frame length in slots and the bits of a slot.
    int SlotBits() const { return layer_ == 1 ? 32 : 8; }
    // The average frame length in bytes (exact when padding is on).
    double AverageFrameBytes() const;

    // Encodes one frame of SamplesPerFrame() samples per channel (`right`
    // is ignored for one channel) into `bs`.  Returns 0, or -23603 when the
    // frame would not have its exact length.
    int EncodeFrame(const int16_t* left, const int16_t* right, MpegBitStream& bs);

    // The header of the last frame written (its padding bit, mode and
    // mode extension).
    const mpeg::FrameHeader& LastHeader() const { return header_; }

    // Number of quantised values that needed scaling back into range.
    uint64_t ScalingWarnings() const { return scalingWarnings_; }

private:
    void ScaleFactors(const double (*samples)[3][12][32], mpeg::ScaleIndex& scalar, int channels, int parts,
                      int sblimit);
    void TransmissionPattern();
    int BitsForNoNoiseII();
    int BitsForNoNoiseI();
    void AllocateII(int& adb);
    void AllocateI(int& adb);
    void QuantiseII();
    void QuantiseI();
    void ChooseJointStereo(int adb);

    int layer_ = 2;
    int sfIndex_ = 0;
    mpeg::FrameHeader header_;
    mpeg::FrameParams fr_;
    mpeg::AllocTable alloc_{};
    bool paddingOn_ = true;
    int wholeSlots_ = 0;
    double fraction_ = 0.0;
    double lag_ = 0.0;

    std::unique_ptr<SubbandAnalysis> filter_;
    std::unique_ptr<PsychoModel2> model_;

    // Work arrays of one frame.
    int16_t pcm_[2][1152 + 64]{};
    double sbSample_[2][3][12][32]{};
    double jSample_[1][3][12][32]{};
    mpeg::ScaleIndex scalar_{};
    mpeg::ScaleIndex jScalar_{};
    mpeg::Scfsi scfsi_{};
    mpeg::BitAlloc bitAlloc_{};
    mpeg::Subband subband_{};
    double smr_[2][32]{};
    uint64_t scalingWarnings_ = 0;
};
