#include "mpeg_frame.h"

namespace mpeg {

void EncodeInfo(const FrameParams& fr, MpegBitStream& bs)
{
    const FrameHeader& h = *fr.header;
    bs.PutBits(0xfff, 12);
    bs.PutBits(uint32_t(h.version), 1);
    bs.PutBits(uint32_t(4 - h.lay), 2);
    bs.PutBits(uint32_t(!h.error_protection), 1);
    bs.PutBits(uint32_t(h.bitrate_index), 4);
    bs.PutBits(uint32_t(h.sampling_frequency), 2);
    bs.PutBits(uint32_t(h.padding), 1);
    bs.PutBits(uint32_t(h.extension), 1);
    bs.PutBits(uint32_t(h.mode), 2);
    bs.PutBits(uint32_t(h.mode_ext), 2);
    bs.PutBits(uint32_t(h.copyright), 1);
    bs.PutBits(uint32_t(h.original), 1);
    bs.PutBits(uint32_t(h.emphasis), 2);
}

void EncodeBitAllocI(const BitAlloc& bitAlloc, const FrameParams& fr, MpegBitStream& bs)
{
    for (int sb = 0; sb < 32; ++sb) {
        const int channels = sb < fr.jsbound ? fr.stereo : 1;
        for (int k = 0; k < channels; ++k)
            bs.PutBits(bitAlloc[k][sb], 4);
    }
}

void EncodeScaleI(const ScaleIndex& scalar, const BitAlloc& bitAlloc, const FrameParams& fr, MpegBitStream& bs)
{
    for (int sb = 0; sb < 32; ++sb)
        for (int k = 0; k < fr.stereo; ++k)
            if (bitAlloc[k][sb])
                bs.PutBits(scalar[k][0][sb], 6);
}

void SampleEncodingI(const Subband& sbband, const BitAlloc& bitAlloc, const FrameParams& fr, MpegBitStream& bs)
{
    for (int j = 0; j < 12; ++j)
        for (int sb = 0; sb < 32; ++sb) {
            const int channels = sb < fr.jsbound ? fr.stereo : 1;
            for (int k = 0; k < channels; ++k)
                if (const unsigned n = bitAlloc[k][sb])
                    bs.PutBits(sbband[k][0][j][sb], int(n) + 1);
        }
}

void EncodeBitAllocII(const BitAlloc& bitAlloc, const FrameParams& fr, MpegBitStream& bs)
{
    const AllocTable& alloc = *fr.alloc;
    for (int sb = 0; sb < fr.sblimit; ++sb) {
        const int channels = sb < fr.jsbound ? fr.stereo : 1;
        for (int k = 0; k < channels; ++k)
            bs.PutBits(bitAlloc[k][sb], int(alloc[sb][0].bits));
    }
}

void EncodeScaleII(const BitAlloc& bitAlloc, const Scfsi& scfsi, const ScaleIndex& scalar, const FrameParams& fr,
                   MpegBitStream& bs)
{
    for (int sb = 0; sb < fr.sblimit; ++sb)
        for (int k = 0; k < fr.stereo; ++k)
            if (bitAlloc[k][sb])
                bs.PutBits(scfsi[k][sb], 2);
    for (int sb = 0; sb < fr.sblimit; ++sb)
        for (int k = 0; k < fr.stereo; ++k)
            if (bitAlloc[k][sb]) {
                switch (scfsi[k][sb]) {
                case 0:
                    bs.PutBits(scalar[k][0][sb], 6);
                    bs.PutBits(scalar[k][1][sb], 6);
                    bs.PutBits(scalar[k][2][sb], 6);
                    break;
                case 1:
                case 3:
                    bs.PutBits(scalar[k][0][sb], 6);
                    bs.PutBits(scalar[k][2][sb], 6);
                    break;
                case 2:
                    bs.PutBits(scalar[k][0][sb], 6);
                    break;
                }
            }
}

void SampleEncodingII(const Subband& sbband, const BitAlloc& bitAlloc, const FrameParams& fr, MpegBitStream& bs)
{
    const AllocTable& alloc = *fr.alloc;
    for (int part = 0; part < 3; ++part)
        for (int j = 0; j < 12; j += 3)
            for (int sb = 0; sb < fr.sblimit; ++sb) {
                const int channels = sb < fr.jsbound ? fr.stereo : 1;
                for (int k = 0; k < channels; ++k) {
                    const unsigned index = bitAlloc[k][sb];
                    if (!index)
                        continue;
                    const AllocEntry& e = alloc[sb][index];
                    if (e.group == 3) {
                        for (int x = 0; x < 3; ++x)
                            bs.PutBits(sbband[k][part][j + x][sb], int(e.bits));
                    } else {
                        const uint32_t steps = e.steps;
                        const uint32_t code = sbband[k][part][j][sb] +
                                              steps * (sbband[k][part][j + 1][sb] + steps * sbband[k][part][j + 2][sb]);
                        bs.PutBits(code, int(e.bits));
                    }
                }
            }
}

}  // namespace mpeg
