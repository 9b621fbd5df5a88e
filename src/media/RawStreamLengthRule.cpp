#include "RawStreamLengthRule.h"

#include "ByteChecksum.h"
#include "ByteFields.h"
#include "PositionedFile.h"
#include "mpeg_tables.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "media_calls.h"

namespace {

// AC-3 bit rates (kbit/s) by frame size code / 2.
constexpr int kAC3Rates[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr int kHeaderBytes = 7;
// The frames of another part's stream in a row that start it.
constexpr int kOtherPartFrames = 3;

// Whether two headers belong to one stream (the fields every frame of it
// repeats).
bool SameStream(FrameSyntax syntax, const uint8_t* a, const uint8_t* b)
{
    if (syntax == FrameSyntax::Mpeg)
        return a[1] == b[1] && ((a[2] ^ b[2]) & 0x0C) == 0;
    if (syntax == FrameSyntax::Adts)
        return (a[1] & 0xFE) == (b[1] & 0xFE) && (a[2] & 0xFC) == (b[2] & 0xFC);
    return (a[4] >> 6) == (b[4] >> 6) && (a[5] >> 3) == (b[5] >> 3);
}

// The sample rate a frame's header states (0: none it can state).
int FrameRate(FrameSyntax syntax, const uint8_t* p)
{
    if (syntax == FrameSyntax::Mpeg) {
        const int version = (p[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
        const int index = (p[2] >> 2) & 3;
        if (version == 1 || index == 3)
            return 0;
        return int(mpeg::kSampleRatesKHz[index] * 1000) / (version == 3 ? 1 : version == 2 ? 2 : 4);
    }
    if (syntax == FrameSyntax::Adts) {
        constexpr int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
        const int index = (p[2] >> 2) & 15;
        return index < 13 ? kRates[index] : 0;
    }
    constexpr int kRates[3] = {48000, 44100, 32000};
    const int code = p[4] >> 6;
    if (code < 3)
        return kRates[code];
    // (E-AC-3 at half those rates.)
    const int half = (p[4] >> 4) & 3;
    return (p[5] >> 3) > 10 && half < 3 ? kRates[half] / 2 : 0;
}

// Whether `length` zero bytes between two frames of an MPEG audio stream
// (headers `before` and `after`) are frames overwritten by zeros: a whole
// number of frames of either one's bit rate (each with its padding byte or
// without), or one frame of any bit rate of the stream (a stream of
// varying rate).  Zeros of another length are padding between frames.
bool ZerosAreFrames(int64_t length, const uint8_t* before, const uint8_t* after)
{
    for (const uint8_t* header : {before, after}) {
        uint8_t plain[4];
        std::memcpy(plain, header, 4);
        plain[2] &= 0xFD;  // without the padding byte
        const int bytes = mpeg::FrameBytes(plain);
        if (bytes <= 0)
            continue;
        const int64_t frames = (length + bytes / 2) / bytes;
        if (frames >= 1 && length >= frames * bytes && length - frames * bytes <= frames * (((plain[1] >> 1) & 3) == 3 ? 4 : 1))
            return true;
    }
    for (int rate = 1; rate < 15; ++rate)
        for (int padding = 0; padding < 2; ++padding) {
            uint8_t header[4];
            std::memcpy(header, before, 4);
            header[2] = uint8_t((header[2] & 0x0D) | rate << 4 | padding << 1);
            if (mpeg::FrameBytes(header) == length)
                return true;
        }
    return false;
}

// The bits of a frame's side information, most significant first.
class SideBits {
public:
    explicit SideBits(const uint8_t* p) : p_(p) {}
    UInt32 Take(int n)
    {
        UInt32 v = 0;
        for (; n > 0; --n, ++at_)
            v = v << 1 | ((p_[at_ >> 3] >> (7 - (at_ & 7))) & 1);
        return v;
    }
    void Skip(int n) { at_ += std::size_t(n); }

private:
    const uint8_t* p_;
    std::size_t at_ = 0;
};

constexpr int kSideBytes = 4 + 2 + 32;  // the most a Layer III frame's header and side information take

// Of the Layer III frame `p` of `frameBytes`: where its main data begins
// (bytes before the frame's own), the bytes the frame holds after its side
// information, and the bits of its main data.  False for other layers.
bool MainData(const uint8_t* p, int frameBytes, int* begin, int* region, int* bits)
{
    if (((p[1] >> 1) & 3) != 1)
        return false;
    const bool mpeg1 = ((p[1] >> 3) & 3) == 3;
    const bool mono = (p[3] >> 6) == 3;
    const int channels = mono ? 1 : 2;
    const int check = (p[1] & 1) ? 0 : 2;
    const int side = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    *region = frameBytes - 4 - check - side;
    if (*region < 0)
        return false;
    SideBits b(p + 4 + check);
    *begin = int(b.Take(mpeg1 ? 9 : 8));
    b.Skip(mpeg1 ? (mono ? 5 : 3) + 4 * channels : (mono ? 1 : 2));
    *bits = 0;
    for (int granule = 0; granule < (mpeg1 ? 2 : 1); ++granule)
        for (int channel = 0; channel < channels; ++channel) {
            *bits += int(b.Take(12));
            b.Skip(mpeg1 ? 47 : 51);
        }
    return true;
}

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
    return ByteChecksum::Crc16(p, n);
}

}  // namespace

bool RawStreamLengthRule::ReadInfoFrame(const uint8_t* frame, int frameBytes, InfoFrame* out)
{
    *out = InfoFrame();
    const int limit = std::min(frameBytes, 64);
    int at = 4;
    while (at + 8 <= limit && std::memcmp(frame + at, "Xing", 4) != 0 && std::memcmp(frame + at, "Info", 4) != 0)
        ++at;
    if (at + 8 > limit)
        return false;
    const UInt32 flags = ReadBE32(frame + at + 4);
    int field = at + 8;
    const auto next = [&](int bytes) { const int here = field; field += bytes; return here; };
    if (flags & 1) {
        const int f = next(4);
        if (f + 4 > frameBytes)
            return false;
        out->frames = ReadBE32(frame + f);
    }
    if (flags & 2) {
        const int f = next(4);
        if (f + 4 > frameBytes)
            return false;
        out->bytes = ReadBE32(frame + f);
    }
    if (flags & 4)
        next(100);
    if (flags & 8)
        next(4);
    out->present = true;
    // A LAME tag follows; its last field checks the frame's bytes before it.
    if (field + 36 <= frameBytes && ByteChecksum::Crc16Reflected(frame, std::size_t(field + 34)) == ReadBE16(frame + field + 34)) {
        out->hasMusicCRC = true;
        out->musicCRC = ReadBE16(frame + field + 32);
    } else if (field + 36 <= frameBytes) {
        // An encoder's tag names the encoder in letters and digits first.
        out->tagDamaged = std::all_of(frame + field, frame + field + 4, [](uint8_t c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        });
    }
    return true;
}

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
    for (const FrameSyntax syntax : {FrameSyntax::Ac3, FrameSyntax::Adts}) {
        int frames = 0;
        bool checked = false;  // the one frame's checksum holds
        int64_t at = 0;
        for (int bytesOf = 0, samples = 0; at + kHeaderBytes <= size; at += bytesOf, ++frames) {
            if (!ReadFrameHeader(syntax, &bytes[std::size_t(at)], &bytesOf, &samples) || at + bytesOf > size ||
                !SameStream(syntax, bytes.data(), &bytes[std::size_t(at)]))
                break;
            checked = syntax == FrameSyntax::Ac3 && FrameCrc(&bytes[std::size_t(at) + 2], std::size_t(bytesOf) - 2) == 0;
        }
        if (at != size || !(frames >= 2 || (frames == 1 && checked)))
            continue;
        if (syntax == FrameSyntax::Adts)
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
    if (available >= 11 && std::memcmp(p, "LYRICSBEGIN", 11) == 0)
        return left;
    return 0;
}

int RawStreamLengthRule::NoSoundBeforeFrame(FrameSyntax syntax, const uint8_t* data, int size)
{
    int at = 0;
    for (int64_t tag = 1; tag > 0 && at < size;) {
        while (at < size && data[at] == 0)
            ++at;
        tag = at < size ? TagBytes(data + at, std::min(size - at, 32), size - at) : 0;
        at += int(tag);
    }
    int bytes = 0, frames = 0;
    return at > 0 && size - at >= kHeaderBytes && ReadFrameHeader(syntax, data + at, &bytes, &frames) ? at : 0;
}

int64_t RawStreamLengthRule::TrailingTagsStart(const std::string& path)
{
    PositionedFile file(path);
    return TrailingTagsStart(file);
}

int64_t RawStreamLengthRule::TrailingTagsStart(PositionedFile& file)
{
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

bool RawStreamLengthRule::ReadFrameHeader(FrameSyntax syntax, const uint8_t* p, int* bytes, int* frames)
{
    if (syntax == FrameSyntax::Mpeg) {
        *bytes = mpeg::FrameBytes(p);
        *frames = mpeg::FrameSamples(p);
        return *bytes > kHeaderBytes;
    }
    if (syntax == FrameSyntax::Adts) {
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

namespace {

// Sound frames inside a tag grown over them (the ID3v2 tag that starts a
// raw MPEG stream, ending at `tagEnd`, its first frame at `firstAt`; the
// file's bytes through `bytesAt`): a chain of frames in the tag that leads
// exactly to the stream's first frame (two frames at least, or an Info
// frame); the bytes after the tag up to that frame are the rest of the
// last hidden one.  Their sample frames (0: none).
template <class BytesAt>
UInt64 HiddenFrames(FrameSyntax syntax, const BytesAt& bytesAt, int64_t tagEnd, int64_t firstAt)
{
    UInt64 hidden = 0;
    int bytes = 0, frames = 0;
    const uint8_t* after = bytesAt(firstAt, kHeaderBytes);
    uint8_t stream[kHeaderBytes];
    if (after && RawStreamLengthRule::ReadFrameHeader(syntax, after, &bytes, &frames)) {
        std::memcpy(stream, after, kHeaderBytes);
        for (int64_t p = 10; p < tagEnd && hidden == 0; ++p) {
            const uint8_t* h = bytesAt(p, kHeaderBytes);
            if (!h || h[0] != 0xFF)
                continue;
            int64_t q = p;
            int chain = 0;
            UInt64 samples = 0;
            UInt64 firstSamples = 0;
            int firstBytes = 0;
            while (q < firstAt) {
                h = bytesAt(q, kHeaderBytes);
                if (!h || !RawStreamLengthRule::ReadFrameHeader(syntax, h, &bytes, &frames) || !SameStream(syntax, stream, h))
                    break;
                if (chain == 0) {
                    firstSamples = UInt64(frames);
                    firstBytes = bytes;
                }
                ++chain;
                samples += UInt64(frames);
                q += bytes;
            }
            RawStreamLengthRule::InfoFrame info;
            const int head = std::min(firstBytes, 64);
            const uint8_t* whole = q == firstAt && chain > 0 ? bytesAt(p, head) : nullptr;
            const bool isInfo = whole && RawStreamLengthRule::ReadInfoFrame(whole, head, &info);
            if (q == firstAt && (chain >= 2 || isInfo))
                hidden = samples - (isInfo ? firstSamples : 0);
        }
    }
    return hidden;
}

// The walk over a raw stream's frames, one header leading to the next:
// the tags and zeros it passes over, the stretches of bytes that are no
// frame, and what the frames of an MPEG stream say of its Info frame and
// its main data.
class FrameWalk {
public:
    FrameWalk(FrameSyntax syntax, PositionedFile& file, RawStreamLengthRule::Walk* out)
        : syntax_(syntax), file_(file), out_(out)
    {
    }

    // False for a file with no whole frame.
    bool Run()
    {
        end_ = file_.Size();
        if (end_ <= 0)
            return false;
        // Tags are no sound, wherever they are (TagBytes); those at the end
        // may also be known by their footers alone.
        end_ = RawStreamLengthRule::TrailingTagsStart(file_);
        int64_t at = 0;
        const uint8_t* head = BytesAt(0, 3);
        // An ID3v2 tag that starts the file.
        const int64_t tagEnd = head && std::memcmp(head, "ID3", 3) == 0 ? TagAt(0) : 0;
        while (at < end_) {
            int bytes = 0, frames = 0;
            if (const int64_t tag = TagAt(at); tag > 0) {
                at += tag;
                tagSeen_ = true;
                continue;
            }
            if (FrameAt(at, &bytes, &frames)) {
                if (!TakeFrame(at, bytes, frames))
                    break;
                const int64_t next = ZerosFrom(at + bytes, reference_);
                // Zeros the size of frames (a frame overwritten) are sound
                // lost, not padding; AC-3 and ADTS streams are never padded.
                if (const uint8_t* after = next > at + bytes ? BytesAt(next, kHeaderBytes) : nullptr;
                    after && (syntax_ != FrameSyntax::Mpeg || ZerosAreFrames(next - at - bytes, reference_, after)))
                    stretch_ += next - at - bytes;
                at = next;
                continue;
            }
            if (!first_) {
                const uint8_t* p = BytesAt(at, 1);
                nonZero_ = nonZero_ || (p && *p != 0);
            } else if (const uint8_t* p = BytesAt(at, kHeaderBytes);
                       p && RawStreamLengthRule::ReadFrameHeader(syntax_, p, &bytes, &frames) &&
                       SameStream(syntax_, reference_, p)) {
                ++stretchHeaders_;
            }
            ++stretch_;
            ++at;
        }
        if (stretch_ > 0)
            between_.push_back({stretch_, stretchHeaders_});
        if (wholeCount_ == 0)
            return false;
        // Sound frames inside a tag grown over them (HiddenFrames).
        if (syntax_ == FrameSyntax::Mpeg && tagEnd > 10 && firstAt_ >= tagEnd && out_->hiddenFrames == 0)
            out_->hiddenFrames = HiddenFrames(
                syntax_, [this](int64_t from, int count) { return BytesAt(from, count); }, tagEnd, firstAt_);
        out_->damaged = !between_.empty() || leading_ > 0;
        if (infoEnd_ >= 0)
            out_->streamBytes = lastWholeEnd_ - firstAt_;
        CloseMusicChecksum();
        FramesBetween();
        return true;
    }

private:
    const uint8_t* BytesAt(int64_t at, int count)
    {
        return at >= 0 && at < end_ ? file_.View(at, std::size_t(count)) : nullptr;
    }
    int64_t TagAt(int64_t from)
    {
        const int available = int(std::min<int64_t>(32, end_ - from));
        const uint8_t* p = from < end_ ? file_.View(from, std::size_t(available)) : nullptr;
        return p ? RawStreamLengthRule::TagBytes(p, available, end_ - from) : 0;
    }
    // Where a run of zero bytes from `from` ends, when a header of the
    // stream of `header` or a tag follows it (zeros that end the file may
    // be sound overwritten); else `from`.
    int64_t ZerosFrom(int64_t from, const uint8_t* header)
    {
        int64_t to = from;
        for (const uint8_t* p; to < end_ && (p = BytesAt(to, 1)) && *p == 0;)
            ++to;
        if (to == from || to >= end_)
            return from;
        const uint8_t* next = BytesAt(to, kHeaderBytes);
        int nextBytes = 0, nextFrames = 0;
        const bool frameNext = next && RawStreamLengthRule::ReadFrameHeader(syntax_, next, &nextBytes, &nextFrames) &&
                               SameStream(syntax_, header, next);
        return frameNext || TagAt(to) > 0 ? to : from;
    }
    // A frame whose header leads to the next one's (zeros between them or
    // not), to a tag, or to the end.
    bool FrameAt(int64_t from, int* bytes, int* frames)
    {
        const uint8_t* p = BytesAt(from, kHeaderBytes);
        if (!p || !RawStreamLengthRule::ReadFrameHeader(syntax_, p, bytes, frames) ||
            (first_ && !SameStream(syntax_, reference_, p) && !ChainFrom(from, kOtherPartFrames)))
            return false;
        if (from + *bytes >= end_)
            return true;
        uint8_t here[kHeaderBytes];
        std::memcpy(here, p, kHeaderBytes);
        const int64_t after = ZerosFrom(from + *bytes, here);
        const uint8_t* next = BytesAt(after, kHeaderBytes);
        int nextBytes = 0, nextFrames = 0;
        if (next && RawStreamLengthRule::ReadFrameHeader(syntax_, next, &nextBytes, &nextFrames) &&
            (SameStream(syntax_, here, next) || ChainFrom(after, kOtherPartFrames)))
            return true;
        return TagAt(after) > 0;
    }

    // Whether `count` whole frames of one stream follow each other from
    // `from` (the end of the sound, or a tag, may come after one).
    bool ChainFrom(int64_t from, int count)
    {
        uint8_t stream[kHeaderBytes];
        for (int k = 0; k < count; ++k) {
            if (k > 0 && (from == end_ || TagAt(from) > 0))
                return true;
            const uint8_t* p = BytesAt(from, kHeaderBytes);
            int bytes = 0, frames = 0;
            if (!p || !RawStreamLengthRule::ReadFrameHeader(syntax_, p, &bytes, &frames) ||
                (k > 0 && !SameStream(syntax_, stream, p)) || from + bytes > end_)
                return false;
            std::memcpy(stream, p, kHeaderBytes);
            from += bytes;
        }
        return true;
    }

    // The frame at `at` of `bytes` and `frames` (FrameAt): false when the
    // file's end breaks it off.
    bool TakeFrame(int64_t at, int bytes, int frames)
    {
        if (!first_) {
            first_ = BytesAt(at, kHeaderBytes);
            std::memcpy(reference_, first_, kHeaderBytes);
            firstRate_ = FrameRate(syntax_, reference_);
            // What comes after a tag and before the first frame is no
            // sound; what starts the file is the end of a frame cut.
            if (!tagSeen_ && nonZero_)
                leading_ = stretch_;
            stretch_ = 0;
        } else if (const uint8_t* p = BytesAt(at, kHeaderBytes); p && !SameStream(syntax_, reference_, p)) {
            // A part of another rate or kind joined after the first: its
            // frames count at the first part's rate, as the track gives
            // them.
            std::memcpy(reference_, p, kHeaderBytes);
            ++out_->otherParts;
        }
        const int rate = FrameRate(syntax_, reference_);
        if (rate > 0 && firstRate_ > 0 && rate != firstRate_)
            frames = int(std::llround(double(frames) * firstRate_ / rate));
        if (at + bytes > end_) {
            // Broken off by the file's end (a stretch of damage before
            // it is counted, the frame is not).
            out_->endsInsideFrame = true;
            return false;
        }
        if (stretch_ > 0)
            between_.push_back({stretch_, stretchHeaders_});
        stretch_ = 0;
        stretchHeaders_ = 0;
        if (syntax_ == FrameSyntax::Mpeg) {
            InfoFrames(at, bytes, frames);
            MainDataJoins(at, bytes);
            MusicChecksum(at, bytes);
            lastWholeEnd_ = at + bytes;
        }
        wholeBytes_ += UInt64(bytes);
        ++wholeCount_;
        fewestBytes_ = std::min(fewestBytes_, bytes);
        mostBytes_ = std::max(mostBytes_, bytes);
        out_->wholeFrames += UInt64(frames);
        return true;
    }

    // MPEG audio: the Info frame the first frame may be, and the frames
    // after it, or the Info frames of encodes joined after the first.
    void InfoFrames(int64_t at, int bytes, int frames)
    {
        RawStreamLengthRule::InfoFrame& info = out_->info;
        if (firstAt_ < 0) {
            firstAt_ = at;
            out_->frameSamples = frames;
            if (const uint8_t* whole = BytesAt(at, bytes);
                whole && RawStreamLengthRule::ReadInfoFrame(whole, bytes, &info)) {
                infoEnd_ = at + bytes;
                musicExpected_ = info.hasMusicCRC;
                expectedMusicCRC_ = info.musicCRC;
                infoFrame_ = true;
            }
        } else if (infoEnd_ >= 0) {
            // Encodes joined one after another: each Info frame
            // counts its own; together they state the whole, and each
            // one's checksum covers its own frames.
            RawStreamLengthRule::InfoFrame later;
            if (const uint8_t* p = BytesAt(at, bytes); p && RawStreamLengthRule::ReadInfoFrame(p, bytes, &later)) {
                CloseMusicChecksum();
                musicExpected_ = later.hasMusicCRC;
                expectedMusicCRC_ = later.musicCRC;
                infoFrame_ = true;
                if (info.frames >= 0 && later.frames >= 0)
                    info.frames += later.frames;
                else
                    info.frames = -1;
                if (info.bytes >= 0 && later.bytes >= 0)
                    info.bytes += later.bytes;
                else
                    info.bytes = -1;
                info.hasMusicCRC = false;
                ++out_->joinedEncodes;
            } else {
                ++out_->framesAfterInfo;
            }
        }
    }

    // Layer III: a frame whose main data begins before the end of the
    // last frame's is a join (frames were taken out before it).
    void MainDataJoins(int64_t at, int bytes)
    {
        int begin = 0, region = 0, bits = 0;
        if (const uint8_t* side = bytes >= kSideBytes ? BytesAt(at, kSideBytes) : nullptr;
            side && MainData(side, bytes, &begin, &region, &bits)) {
            // (A frame of empty granules uses no bytes, wherever
            // its main data would begin.)
            if (bits > 0 && dataAt_ - begin < mainEnd_)
                ++out_->joins;
            if (bits > 0)
                mainEnd_ = dataAt_ - begin + bits / 8;
            dataAt_ += region;
        }
    }

    // The checksum of the frames after an Info frame, as the encoder made
    // it over its frames (tags and padding put between them later are none
    // of them), held against the one it states when the next encode's Info
    // frame, or the end, comes.
    void MusicChecksum(int64_t at, int bytes)
    {
        if (std::exchange(infoFrame_, false) || infoEnd_ < 0 || at < infoEnd_)
            return;
        if (const uint8_t* p = BytesAt(at, bytes)) {
            runningMusicCRC_ = ByteChecksum::Crc16Reflected(p, std::size_t(bytes), runningMusicCRC_);
            if (out_->joinedEncodes == 0)
                out_->musicCRC = runningMusicCRC_;
        }
    }
    void CloseMusicChecksum()
    {
        if (musicExpected_) {
            ++out_->musicChecked;
            out_->musicFails += runningMusicCRC_ != expectedMusicCRC_ ? 1 : 0;
        }
        musicExpected_ = false;
        runningMusicCRC_ = 0;
    }

    // The frames the stretches between chains held, at the stream's own
    // bytes per frame.  Of a stream of frames of one size (but for the
    // padding byte), a stretch of another length than a whole number of
    // frames had bytes put into it, and held the frames whose headers
    // stand in it.  (Of frames of varying size, as ADTS streams' are, the
    // length tells nothing of that, and overwritten headers are many.)
    void FramesBetween()
    {
        const double bytesPerFrame = double(wholeBytes_) / double(wholeCount_);
        const double framesPerFrame = double(out_->wholeFrames) / double(wholeCount_);
        const int spread = mostBytes_ - fewestBytes_;
        const bool oneSize = spread <= (syntax_ == FrameSyntax::Adts ? -1 : 4);
        for (const Stretch& stretch : between_) {
            double held = std::round(double(stretch.bytes) / bytesPerFrame);
            const bool whole = held >= 1 && std::fabs(double(stretch.bytes) - held * bytesPerFrame) <= held * (spread + 1);
            if (oneSize && !whole)
                held = stretch.headers;
            out_->framesBetween += UInt64(std::llround(held * framesPerFrame));
        }
        // The frame whose end starts the file at least (what came before it,
        // no header tells).
        if (leading_ > 0)
            out_->framesBetween +=
                UInt64(std::llround(std::max(1.0, std::round(double(leading_) / bytesPerFrame)) * framesPerFrame));
    }

    FrameSyntax syntax_;
    PositionedFile& file_;
    RawStreamLengthRule::Walk* out_;
    int64_t end_ = 0;  // where the sound's bytes end (the tags at the end before it)
    const uint8_t* first_ = nullptr;
    // The header of the part being walked (the first's, or of a part
    // joined after it), and the first part's rate.
    uint8_t reference_[kHeaderBytes] = {};
    int firstRate_ = 0;
    UInt64 wholeBytes_ = 0;
    UInt64 wholeCount_ = 0;
    // Layer III main data: where the stream of frame bytes after the side
    // information stands, and where the last frame's main data ended.
    int64_t dataAt_ = 0;
    int64_t mainEnd_ = 0;
    int64_t firstAt_ = -1;
    int64_t infoEnd_ = -1;
    int64_t lastWholeEnd_ = 0;
    // The checksum of the encode being walked: whether its Info frame
    // states one, which, and the frames' so far; whether the frame taken
    // last was an Info frame.
    bool musicExpected_ = false;
    UInt16 expectedMusicCRC_ = 0;
    UInt16 runningMusicCRC_ = 0;
    bool infoFrame_ = false;
    // The stretches between chains: their lengths, and the headers of the
    // stream that stand in them.
    struct Stretch {
        int64_t bytes;
        int headers;
    };
    std::vector<Stretch> between_;
    int64_t stretch_ = 0;
    int stretchHeaders_ = 0;
    int fewestBytes_ = INT_MAX;  // of a whole frame
    int mostBytes_ = 0;
    // Bytes that start the file, no tag before them, and not all zeros:
    // the stream does not begin on a frame, the front of the file is lost.
    bool tagSeen_ = false, nonZero_ = false;
    int64_t leading_ = 0;
};

// What the walk found and the frames counted against it, with what
// `found` says of them.
void SayWalk(TrackFinding* result, const RawStreamLengthRule::Walk& walk, UInt64 counted, const char* found)
{
    result->Say("%llu frames in whole frames, %llu in bytes between, %llu hidden in a tag, %d joins; Info frame %s "
                "(%lld frames, %lld bytes stated; %lld frames, %lld bytes held; checksum %s); counted %llu: %s",
                (unsigned long long)walk.wholeFrames, (unsigned long long)walk.framesBetween,
                (unsigned long long)walk.hiddenFrames, walk.joins, walk.info.present ? "read" : "none",
                (long long)walk.info.frames, (long long)walk.info.bytes, (long long)walk.framesAfterInfo,
                (long long)walk.streamBytes,
                walk.musicChecked == 0 ? "none" : walk.musicFails == 0 ? "holds" : "fails",
                (unsigned long long)counted, found);
}

}  // namespace

bool RawStreamLengthRule::WalkFile(FrameSyntax syntax, PositionedFile& file, Walk* out)
{
    return FrameWalk(syntax, file, out).Run();
}

bool RawStreamLengthRule::Packet(const ::Packet& packet, UInt64* frames, const TrackTally&, TrackFinding*)
{
    if (packet.discard)
        return false;
    packetFrames_ += *frames;
    ++packets_;
    int bytes = 0, samples = 0;
    const bool whole = packet.size >= kHeaderBytes && (!ReadFrameHeader(syntax_, packet.data, &bytes, &samples) ||
                                                       packet.size >= bytes);
    lastShortFrames_ = whole ? 0 : *frames;
    return false;
}

TrackFinding RawStreamLengthRule::Settle(const TrackTally& tally)
{
    TrackFinding result("frame walk");
    Walk walk;
    PositionedFile file(tally.path);
    const bool walked = WalkFile(syntax_, file, &walk);
    const UInt64 counted = tally.Counted();
    const auto note = [&](const char* found) {
        SayWalk(&result, walk, counted, found);
        return result;
    };
    const AVStream* st = tally.format->streams[tally.stream];
    const UInt64 oneFrame = UInt64(st->codecpar->frame_size > 0 ? st->codecpar->frame_size : 1152);
    if (walked && walk.hiddenFrames > 0) {
        result.damaged = true;
        result.missingAtLeast = walk.hiddenFrames;
    }
    const bool endsCut = walked && walk.endsInsideFrame;
    if (endsCut) {
        result.cut = true;
        tally.TakeBackLastRefusal(&result);
    }
    if (walked && walk.damaged)
        result.damaged = true;
    const bool damaged = tally.sofar.Damaged() || result.damaged;
    // An MP3 stream whose Info frame counts its frames and bytes: frames
    // more than it counts were repeated; fewer were cut off at the end, or
    // taken out inside where a frame's main data reaches back into bytes
    // that are not there.  A count the bytes and the encoder's checksum
    // both bear out is the encoder's (some count the Info frame itself).
    // (A count of 0 with frames after it is no count: a writer that could
    // not go back to it left it so.)
    if (walked && walk.info.present && walk.info.frames > 0 && walk.frameSamples > 0) {
        const int64_t held = walk.framesAfterInfo;
        const int64_t stated = walk.info.frames;
        // Encoders differ on whether the Info frame counts itself and its
        // bytes: one frame either way with no checksum failing passes.
        // An Info frame whose encoder's tag fails its own checksum was
        // damaged itself: its count tells nothing of the frames.
        // (Not where bytes that are no frame stand between frames: the
        // frame short is one of them.)
        const bool checksumHolds = walk.musicFails == 0;
        const bool whole = walk.info.tagDamaged ||
                           (checksumHolds && walk.framesBetween == 0 &&
                            (walk.info.bytes < 0 || walk.info.bytes == walk.streamBytes ||
                             (held <= stated + 1 && held + 1 >= stated)));
        const UInt64 samples = UInt64(walk.frameSamples);
        result.expected = UInt64(std::max(stated, held)) * samples;
        // (Encodes joined each keep their own delay and padding: two frames
        // at most each.)
        result.stated = StatedLength{.frames = UInt64(std::max<int64_t>(stated, 0)) * samples,
                                     .tolerance = samples * UInt64(2 * walk.joinedEncodes),
                                     .untrimmed = true};
        bool countAloneWrong = false;
        if (held > stated && !whole) {
            result.damaged = true;
            result.added.repeatedFrames = UInt64(held - stated) * samples;
        } else if (whole && stated > 0 && (held > stated + 1 || held + 1 < stated)) {
            // Every frame there, as the bytes and the checksum say: only the
            // count is wrong.
            result.headerAndHeld = std::make_pair(UInt64(stated) * samples, UInt64(held) * samples);
            countAloneWrong = true;
        } else if (held < stated && !whole) {
            UInt64 gone = UInt64(stated - held) * samples;
            if (walk.joins > 0 || walk.damaged || damaged) {
                // Where bytes that are no frame came between, the demuxer
                // may have handed some of them out as packets: each stands
                // in the track for a frame that is gone (the decoder's
                // refusal of it says it as silence), so what is missing is
                // what the packets leave short of the count, not the frames
                // the walk found whole (the Info frames of encodes joined
                // after the first are packets of no sound).
                const int64_t given = std::max(held, int64_t(packets_) - walk.joinedEncodes);
                gone = given < stated ? UInt64(stated - given) * samples : 0;
                result.damaged = true;
                result.missingAtLeast = std::max(result.missingAtLeast, gone);
            } else if (walk.info.bytes >= 0 && walk.streamBytes >= walk.info.bytes) {
                // Every byte the Info frame counts is there: the frames were
                // not cut off, but lost inside the stream (a frame's bytes
                // overwritten).
                result.damaged = true;
                result.missingAtLeast = std::max(result.missingAtLeast, gone);
            } else {
                result.cut = true;
                result.cutFramesAtLeast = gone;
            }
        }
        // Every frame counted, and the encoder's checksum of them fails:
        // sound damaged, how much no header states.
        const bool soundDamaged = !checksumHolds && !walk.info.tagDamaged && held <= stated + 1 && held + 1 >= stated &&
                                  result.added.repeatedFrames == 0 && result.missingAtLeast == 0 && !result.cut;
        if (soundDamaged) {
            result.damaged = true;
            result.added.gaps = 1;
        }
        const bool cut = tally.sofar.Cut() || result.cut.value_or(false);
        return note(held > stated && !whole   ? "frames repeated"
                    : held < stated && !whole ? (cut ? "cut" : "frames taken out")
                    : soundDamaged            ? "sound damaged"
                    : countAloneWrong         ? "the count alone wrong"
                                              : "as stated");
    }
    // An MP3 file whose first frame counts the frames (from which the
    // libraries take the track's length) holds fewer when it was cut, even
    // between two frames, or when damage took some.  Encoders differ on
    // whether that first frame counts itself, so one frame short passes.
    if (infoFrame_ && tally.format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM &&
        st->duration > 0) {
        const UInt64 stated = tally.Frames(st->duration);
        result.expected = stated;
        result.stated = StatedLength{.frames = stated, .untrimmed = true};
        const UInt64 whole = packetFrames_ - std::min(packetFrames_, lastShortFrames_);
        if (stated > whole + oneFrame) {
            if (damaged)
                result.added.missingFrames = stated - whole;
            else
                result.cut = true;
        }
    }
    if (!walked) {
        result.Say("no frames found; counted %llu", (unsigned long long)counted);
        return result;
    }
    // Frames taken out of a stream that states no length: the places are
    // known, not how much.
    if (walk.joins > 0 && !walk.damaged && walk.hiddenFrames == 0) {
        result.damaged = true;
        result.added.gaps = UInt64(walk.joins);
    }
    if (!walk.damaged || (infoFrame_ &&
                          tally.format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM))
        return note(walk.damaged ? "damaged" : endsCut ? "cut" : walk.joins > 0 ? "frames taken out" : "whole");
    const UInt64 expected = walk.wholeFrames + walk.framesBetween;
    result.expected = expected;
    const AVCodecParameters* par = tally.format->streams[tally.stream]->codecpar;
    const UInt64 halfFrame = UInt64(std::max(par->frame_size, 2)) / 2;
    if (expected > counted + halfFrame)
        result.missingAtLeast = std::max(result.missingAtLeast, expected - counted);
    return note("damaged");
}
