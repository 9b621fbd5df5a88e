#include "RawStreamLengthRule.h"

#include "ByteOrder.h"
#include "mpeg_tables.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

#include "media_calls.h"

namespace {

// AC-3 bit rates (kbit/s) by frame size code / 2.
constexpr int kAC3Rates[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr int kHeaderBytes = 7;

bool IsMPEG(AVCodecID codec)
{
    return codec == AV_CODEC_ID_MP1 || codec == AV_CODEC_ID_MP2 || codec == AV_CODEC_ID_MP3;
}

// Whether two headers belong to one stream (the fields every frame of it
// repeats).
bool SameStream(AVCodecID codec, const uint8_t* a, const uint8_t* b)
{
    if (IsMPEG(codec))
        return a[1] == b[1] && ((a[2] ^ b[2]) & 0x0C) == 0;
    if (codec == AV_CODEC_ID_AAC)
        return (a[1] & 0xFE) == (b[1] & 0xFE) && (a[2] & 0xFC) == (b[2] & 0xFC);
    return (a[4] >> 6) == (b[4] >> 6) && (a[5] >> 3) == (b[5] >> 3);
}

// The bytes of a file read through a window.
class FileBytes {
public:
    explicit FileBytes(const std::string& path) : in_(path, std::ios::binary)
    {
        if (in_) {
            in_.seekg(0, std::ios::end);
            size_ = int64_t(in_.tellg());
        }
    }
    int64_t Size() const { return size_; }
    // `count` bytes from `at` (fewer at the file's end); null when none.
    const uint8_t* At(int64_t at, int count, int* got)
    {
        if (at < start_ || at + count > start_ + int64_t(window_.size())) {
            if (at >= size_)
                return nullptr;
            window_.resize(std::size_t(std::min<int64_t>(kWindow, size_ - at)));
            in_.clear();
            in_.seekg(at);
            if (!in_.read(reinterpret_cast<char*>(window_.data()), std::streamsize(window_.size())))
                return nullptr;
            start_ = at;
        }
        *got = int(std::min<int64_t>(count, start_ + int64_t(window_.size()) - at));
        return window_.data() + (at - start_);
    }

private:
    static constexpr int64_t kWindow = 1 << 20;
    std::ifstream in_;
    int64_t size_ = -1;
    std::vector<uint8_t> window_;
    int64_t start_ = 0;
};

}  // namespace

bool RawStreamLengthRule::Handles(const char* name, AVCodecID codec)
{
    return (std::strcmp(name, "mp3") == 0 && IsMPEG(codec)) || (std::strcmp(name, "aac") == 0 && codec == AV_CODEC_ID_AAC) ||
           ((std::strcmp(name, "ac3") == 0 || std::strcmp(name, "eac3") == 0) &&
            (codec == AV_CODEC_ID_AC3 || codec == AV_CODEC_ID_EAC3));
}

bool RawStreamLengthRule::ReadFrameHeader(AVCodecID codec, const uint8_t* p, int* bytes, int* frames)
{
    if (IsMPEG(codec)) {
        *bytes = mpeg::FrameBytes(p);
        *frames = mpeg::FrameSamples(p);
        return *bytes > kHeaderBytes;
    }
    if (codec == AV_CODEC_ID_AAC) {
        if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0 || ((p[2] >> 2) & 15) > 12)
            return false;
        *bytes = ((p[3] & 3) << 11) | (p[4] << 3) | (p[5] >> 5);
        *frames = 1024 * ((p[6] & 3) + 1);
        return *bytes > kHeaderBytes;
    }
    if (p[0] != 0x0B || p[1] != 0x77)
        return false;
    const int bsid = p[5] >> 3;
    if (bsid > 10 && bsid <= 16) {  // E-AC-3: the size in 16-bit words, less one
        static const int kBlocks[4] = {1, 2, 3, 6};
        *bytes = ((((p[2] & 7) << 8) | p[3]) + 1) * 2;
        *frames = 256 * ((p[4] >> 6) == 3 ? 6 : kBlocks[(p[4] >> 4) & 3]);
        return *bytes > kHeaderBytes;
    }
    const int sizeCode = p[4] & 0x3F;
    const int rateCode = p[4] >> 6;
    if (bsid > 10 || sizeCode >= 38 || rateCode == 3)
        return false;
    const int kbps = kAC3Rates[sizeCode / 2];
    *bytes = 2 * (rateCode == 0 ? kbps * 2 : rateCode == 2 ? kbps * 3 : kbps * 320 / 147 + (sizeCode & 1));
    *frames = 1536;
    return true;
}

bool RawStreamLengthRule::WalkFile(AVCodecID codec, const std::string& path, Walk* out)
{
    FileBytes file(path);
    int64_t end = file.Size();
    if (end <= 0)
        return false;
    int got = 0;
    const auto bytesAt = [&](int64_t at, int count) -> const uint8_t* {
        const uint8_t* p = at >= 0 && at < end ? file.At(at, count, &got) : nullptr;
        return p && got >= count ? p : nullptr;
    };
    // Tags before and after the frames: an ID3v2 tag first; an ID3v1 tag
    // and an APE tag last.
    int64_t at = 0;
    if (const uint8_t* p = bytesAt(0, 10); p && std::memcmp(p, "ID3", 3) == 0)
        at = 10 + ((int64_t(p[6] & 0x7F) << 21) | (int64_t(p[7] & 0x7F) << 14) | (int64_t(p[8] & 0x7F) << 7) | (p[9] & 0x7F)) +
             ((p[5] & 0x10) ? 10 : 0);
    if (const uint8_t* p = bytesAt(end - 128, 3); p && std::memcmp(p, "TAG", 3) == 0)
        end -= 128;
    if (const uint8_t* p = bytesAt(end - 32, 32); p && std::memcmp(p, "APETAGEX", 8) == 0)
        end -= std::min<int64_t>(end, int64_t(ReadLE32(p + 12)) + ((ReadLE32(p + 20) & 0x80000000u) ? 32 : 0));
    // A frame whose header leads to the next one's (or to the end).
    const uint8_t* first = nullptr;
    uint8_t reference[kHeaderBytes] = {};
    const auto frameAt = [&](int64_t from, int* bytes, int* frames) {
        const uint8_t* p = bytesAt(from, kHeaderBytes);
        if (!p || !ReadFrameHeader(codec, p, bytes, frames) || (first && !SameStream(codec, reference, p)))
            return false;
        if (from + *bytes >= end)
            return true;
        uint8_t here[kHeaderBytes];
        std::memcpy(here, p, kHeaderBytes);
        const uint8_t* next = bytesAt(from + *bytes, kHeaderBytes);
        int nextBytes = 0, nextFrames = 0;
        return next && ReadFrameHeader(codec, next, &nextBytes, &nextFrames) && SameStream(codec, here, next);
    };
    UInt64 wholeBytes = 0;
    UInt64 wholeCount = 0;
    std::vector<int64_t> between;  // the lengths of the stretches between chains
    int64_t stretch = 0;
    while (at < end) {
        int bytes = 0, frames = 0;
        if (frameAt(at, &bytes, &frames)) {
            if (!first) {
                first = bytesAt(at, kHeaderBytes);
                std::memcpy(reference, first, kHeaderBytes);
            }
            if (at + bytes > end) {
                // Broken off by the file's end (a stretch of damage before
                // it is counted, the frame is not).
                out->endsInsideFrame = true;
                break;
            }
            if (stretch > 0)
                between.push_back(stretch);
            stretch = 0;
            wholeBytes += UInt64(bytes);
            ++wholeCount;
            out->wholeFrames += UInt64(frames);
            at += bytes;
            continue;
        }
        ++stretch;
        ++at;
    }
    if (stretch > 0)
        between.push_back(stretch);
    if (wholeCount == 0)
        return false;
    out->damaged = !between.empty();
    const double bytesPerFrame = double(wholeBytes) / double(wholeCount);
    const double framesPerFrame = double(out->wholeFrames) / double(wholeCount);
    for (const int64_t bytes : between)
        out->framesBetween += UInt64(std::llround(std::round(double(bytes) / bytesPerFrame) * framesPerFrame));
    return true;
}

void RawStreamLengthRule::Packet(const AVPacket& packet, UInt64* frames, TrackTally&)
{
    if (packet.flags & AV_PKT_FLAG_DISCARD)
        return;
    packetFrames_ += *frames;
    int bytes = 0, samples = 0;
    const bool whole = packet.size >= kHeaderBytes && (!ReadFrameHeader(codec_, packet.data, &bytes, &samples) ||
                                                       packet.size >= bytes);
    lastShortFrames_ = whole ? 0 : *frames;
}

void RawStreamLengthRule::Settle(TrackTally& tally)
{
    // An MP3 file whose first frame counts the frames (from which the
    // libraries take the track's length) holds fewer when it was cut, even
    // between two frames, or when damage took some.  Encoders differ on
    // whether that first frame counts itself, so one frame short passes.
    const AVStream* st = tally.format->streams[tally.stream];
    if (codec_ == AV_CODEC_ID_MP3 && tally.format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM &&
        st->duration > 0) {
        const UInt64 counted = tally.Frames(st->duration);
        const UInt64 whole = packetFrames_ - std::min(packetFrames_, lastShortFrames_);
        const UInt64 oneFrame = UInt64(st->codecpar->frame_size > 0 ? st->codecpar->frame_size : 1152);
        if (counted > whole + oneFrame) {
            if (tally.damageSeen)
                tally.loss.missingFrames += counted - whole;
            else
                tally.cutShort = true;
        }
    }
    Walk walk;
    if (!WalkFile(codec_, tally.path, &walk))
        return;
    if (walk.endsInsideFrame) {
        tally.cutShort = true;
        tally.UncountLastRefusal();
    }
    if (!walk.damaged)
        return;
    tally.damageSeen = true;
    if (codec_ == AV_CODEC_ID_MP3 && tally.format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM)
        return;
    const UInt64 expected = walk.wholeFrames + walk.framesBetween;
    const AVCodecParameters* par = tally.format->streams[tally.stream]->codecpar;
    const UInt64 halfFrame = UInt64(std::max(par->frame_size, 2)) / 2;
    if (expected > tally.frames + halfFrame)
        tally.loss.missingFrames = std::max(tally.loss.missingFrames, expected - tally.frames);
}
