#include "MpegStreamEncoder.h"

#include <algorithm>
#include <memory>
#include <vector>

int MpegStreamEncoder::Encode(const MpegFrameEncoder::Settings& settings, std::FILE* in, uint64_t inputFrames,
                              std::FILE* out, const Progress& progress, Result* result)
{
    Result r;
    // The encoder's work arrays are some 50 KB: kept off the stack.
    const auto owned = std::make_unique<MpegFrameEncoder>();
    MpegFrameEncoder& encoder = *owned;
    int err = encoder.Configure(settings);
    if (err)
        return err;
    const int channels = encoder.Channels();
    const int spf = encoder.SamplesPerFrame();
    MpegBitStream bs;
    bs.Attach(out, 4096);

    std::vector<uint8_t> raw(std::size_t(spf) * std::size_t(channels) * 2);
    std::vector<int16_t> left(static_cast<std::size_t>(spf)), right(static_cast<std::size_t>(spf));
    uint64_t done = 0;
    // A decoder gives every input sample back DecoderLag samples late: the
    // stream runs on, with silence, until it holds the last one.
    const uint64_t needed = inputFrames == 0 ? 0 : inputFrames + uint64_t(DecoderLag(settings.layer));
    uint64_t covered = 0;
    while (covered < needed) {
        const uint64_t want = inputFrames > done ? std::min<uint64_t>(uint64_t(spf), inputFrames - done) : 0;
        if (want > 0) {
            const std::size_t bytes = std::size_t(want) * std::size_t(channels) * 2;
            if (std::fread(raw.data(), 1, bytes, in) != bytes) {
                bs.Close();
                return kMPEGIntermediateErr;
            }
        }
        for (int i = 0; i < spf; ++i) {
            if (uint64_t(i) < want) {
                const uint8_t* p = &raw[std::size_t(i) * std::size_t(channels) * 2];
                left[std::size_t(i)] = int16_t(uint16_t(p[0] << 8 | p[1]));
                right[std::size_t(i)] = channels == 2 ? int16_t(uint16_t(p[2] << 8 | p[3])) : int16_t(0);
            } else {
                left[std::size_t(i)] = right[std::size_t(i)] = 0;
            }
        }
        const uint64_t before = bs.BitsWritten();
        if ((err = encoder.EncodeFrame(left.data(), right.data(), bs))) {
            bs.Close();
            return err;
        }
        r.lastFrameOffset = before / 8;
        r.lastPadding = encoder.LastHeader().padding;
        r.bytes = bs.BitsWritten() / 8;
        ++r.frames;
        done += want;
        covered += uint64_t(spf);
        if (progress && (err = progress(done))) {
            bs.Close();
            return err;
        }
        if (bs.WriteError()) {
            bs.Close();
            return kMPEGDiskFullErr;
        }
    }
    bs.Close();
    if (bs.WriteError())
        return kMPEGDiskFullErr;
    if (result)
        *result = r;
    return 0;
}
