#include "RawStreamLengthRule.h"

#include "ByteOrder.h"
#include "PositionedFile.h"
#include "mpeg_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
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

// A syncsafe size (seven bits a byte), or -1 when a byte has its top bit.
int64_t Syncsafe(const uint8_t* p)
{
    if ((p[0] | p[1] | p[2] | p[3]) & 0x80)
        return -1;
    return int64_t(p[0]) << 21 | int64_t(p[1]) << 14 | int64_t(p[2]) << 7 | p[3];
}

// CRC-16 of polynomial 0x8005, not reflected, from 0: over an AC-3 or
// E-AC-3 frame after its sync word, 0 when the frame is whole.
uint16_t FrameCrc(const uint8_t* p, std::size_t n)
{
    uint32_t crc = 0;
    for (std::size_t i = 0; i < n; ++i)
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((crc >> 15) ^ (p[i] >> bit)) & 1;
            crc = (crc << 1) & 0xFFFF;
            if (top)
                crc ^= 0x8005;
        }
    return uint16_t(crc);
}

}  // namespace

const char* RawStreamLengthRule::ShortStreamDemuxer(const std::string& path)
{
    constexpr int64_t kMostBytes = 1 << 16;
    PositionedFile file(path);
    const int64_t size = file.Size();
    if (size < kHeaderBytes || size > kMostBytes)
        return nullptr;
    std::vector<uint8_t> bytes(std::size_t(size) + kHeaderBytes, 0);
    if (file.Read(0, bytes.data(), std::size_t(size)) != std::size_t(size))
        return nullptr;
    for (const AVCodecID codec : {AV_CODEC_ID_AC3, AV_CODEC_ID_AAC}) {
        int frames = 0;
        bool checked = false;  // the one frame's checksum holds
        int64_t at = 0;
        for (int bytesOf = 0, samples = 0; at + kHeaderBytes <= size; at += bytesOf, ++frames) {
            if (!ReadFrameHeader(codec, &bytes[std::size_t(at)], &bytesOf, &samples) || at + bytesOf > size ||
                !SameStream(codec, bytes.data(), &bytes[std::size_t(at)]))
                break;
            checked = codec == AV_CODEC_ID_AC3 && FrameCrc(&bytes[std::size_t(at) + 2], std::size_t(bytesOf) - 2) == 0;
        }
        if (at != size || !(frames >= 2 || (frames == 1 && checked)))
            continue;
        if (codec == AV_CODEC_ID_AAC)
            return "aac";
        return (bytes[5] >> 3) > 10 ? "eac3" : "ac3";
    }
    return nullptr;
}

int64_t RawStreamLengthRule::TagBytes(const uint8_t* p, int available, int64_t left)
{
    if (available >= 10 && std::memcmp(p, "ID3", 3) == 0 && p[3] != 0xFF && p[4] != 0xFF) {
        const int64_t size = Syncsafe(p + 6);
        const int64_t bytes = 10 + size + ((p[5] & 0x10) ? 10 : 0);
        return size >= 0 && bytes <= left ? bytes : 0;
    }
    // An APEv2 tag's header: its size counts the items and the footer.
    if (available >= 32 && std::memcmp(p, "APETAGEX", 8) == 0 && (ReadLE32(p + 20) & 0x20000000u)) {
        const int64_t bytes = 32 + int64_t(ReadLE32(p + 12));
        return bytes <= left ? bytes : 0;
    }
    if (available >= 3 && left == 128 && std::memcmp(p, "TAG", 3) == 0)
        return 128;
    return 0;
}

int64_t RawStreamLengthRule::TrailingTagsStart(const std::string& path)
{
    PositionedFile file(path);
    int64_t end = file.Size();
    for (bool found = end > 0; found;) {
        found = false;
        uint8_t p[32];
        // ID3v1, with a Lyrics3 (version 2) block before it or not.
        if (end >= 128 && file.Read(end - 128, p, 3) == 3 && std::memcmp(p, "TAG", 3) == 0) {
            end -= 128;
            found = true;
            if (end >= 15 && file.Read(end - 15, p, 15) == 15 && std::memcmp(p + 6, "LYRICS200", 9) == 0 &&
                std::all_of(p, p + 6, [](uint8_t c) { return c >= '0' && c <= '9'; })) {
                const int64_t size = std::strtoll(std::string(p, p + 6).c_str(), nullptr, 10) + 15;
                end -= size <= end ? size : 0;
            }
        }
        // An APEv2 tag's footer (and its header when it has one).
        if (end >= 32 && file.Read(end - 32, p, 32) == 32 && std::memcmp(p, "APETAGEX", 8) == 0 &&
            !(ReadLE32(p + 20) & 0x20000000u)) {
            const int64_t size = int64_t(ReadLE32(p + 12)) + ((ReadLE32(p + 20) & 0x80000000u) ? 32 : 0);
            if (size >= 32 && size <= end) {
                end -= size;
                found = true;
            }
        }
        // An ID3v2 tag with a footer.
        if (end >= 20 && file.Read(end - 10, p, 10) == 10 && std::memcmp(p, "3DI", 3) == 0) {
            const int64_t size = Syncsafe(p + 6);
            if (size >= 0 && size + 20 <= end) {
                end -= size + 20;
                found = true;
            }
        }
    }
    return end;
}

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
    // Tags are no sound, wherever they are (TagBytes); those at the end
    // may also be known by their footers alone.
    end = TrailingTagsStart(path);
    const auto tagAt = [&](int64_t from) -> int64_t {
        const uint8_t* p = from < end ? file.At(from, 32, &got) : nullptr;
        return p ? TagBytes(p, got, end - from) : 0;
    };
    int64_t at = 0;
    // A frame whose header leads to the next one's (or to a tag, or the
    // end).
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
        if (next && ReadFrameHeader(codec, next, &nextBytes, &nextFrames) && SameStream(codec, here, next))
            return true;
        return tagAt(from + *bytes) > 0;
    };
    UInt64 wholeBytes = 0;
    UInt64 wholeCount = 0;
    std::vector<int64_t> between;  // the lengths of the stretches between chains
    int64_t stretch = 0;
    while (at < end) {
        int bytes = 0, frames = 0;
        if (const int64_t tag = tagAt(at); tag > 0) {
            at += tag;
            continue;
        }
        if (frameAt(at, &bytes, &frames)) {
            if (!first) {
                first = bytesAt(at, kHeaderBytes);
                std::memcpy(reference, first, kHeaderBytes);
                stretch = 0;  // what comes before the first frame is no sound
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
        tally.expected = counted;
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
    tally.expected = expected;
    const AVCodecParameters* par = tally.format->streams[tally.stream]->codecpar;
    const UInt64 halfFrame = UInt64(std::max(par->frame_size, 2)) / 2;
    if (expected > tally.frames + halfFrame)
        tally.loss.missingFrames = std::max(tally.loss.missingFrames, expected - tally.frames);
}
