// The records of one MPEG-1 Layer I or II encode, and the functions that
// put a frame's header, side information and quantised samples into the
// bit stream in the order of ISO/IEC 11172-3.
#pragma once

#include "MpegBitStream.h"
#include "mpeg_tables.h"

#include <cstdint>

namespace mpeg {

enum Mode : int { kStereo = 0, kJointStereo = 1, kDualChannel = 2, kSingleChannel = 3 };

struct FrameHeader {
    int version = 1;            // MPEG-1
    int lay = 2;                // 1 or 2
    int error_protection = 0;   // never on: no check word
    int bitrate_index = 0;
    int sampling_frequency = 0;
    int padding = 0;
    int extension = 0;
    int mode = kStereo;
    int mode_ext = 0;
    int copyright = 0;
    int original = 0;
    int emphasis = 0;
};

struct FrameParams {
    FrameHeader* header = nullptr;
    int actual_mode = kStereo;  // what the user asked for
    const AllocTable* alloc = nullptr;
    int tab_num = -1;
    int stereo = 2;             // channels coded
    int jsbound = 32;           // first subband coded jointly
    int sblimit = 32;           // subbands coded
};

// Per-frame coded data.
using BitAlloc = unsigned int[2][32];
using ScaleIndex = unsigned int[2][3][32];
using Scfsi = unsigned int[2][32];
using Subband = unsigned int[2][3][12][32];

// The 32-bit frame header.
void EncodeInfo(const FrameParams& fr, MpegBitStream& bs);

void EncodeBitAllocI(const BitAlloc& bitAlloc, const FrameParams& fr, MpegBitStream& bs);
void EncodeScaleI(const ScaleIndex& scalar, const BitAlloc& bitAlloc, const FrameParams& fr, MpegBitStream& bs);
void SampleEncodingI(const Subband& sbband, const BitAlloc& bitAlloc, const FrameParams& fr, MpegBitStream& bs);

void EncodeBitAllocII(const BitAlloc& bitAlloc, const FrameParams& fr, MpegBitStream& bs);
void EncodeScaleII(const BitAlloc& bitAlloc, const Scfsi& scfsi, const ScaleIndex& scalar, const FrameParams& fr,
                   MpegBitStream& bs);
void SampleEncodingII(const Subband& sbband, const BitAlloc& bitAlloc, const FrameParams& fr, MpegBitStream& bs);

}  // namespace mpeg
