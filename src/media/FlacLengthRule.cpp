#include "FlacLengthRule.h"

#include "ByteFields.h"
#include "FlacStreamCheck.h"
#include "PositionedFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "media_calls.h"

bool FlacLengthRule::Packet(const ::Packet& packet, UInt64* frames, const TrackTally& tally, TrackFinding* found)
{
    if (whole_)
        return false;
    FlacStreamCheck::FrameHeader h;
    const AVCodecParameters* par = tally.format->streams[tally.stream]->codecpar;
    const int bits = par->bits_per_raw_sample;
    const bool numbered =
        packet.data && packet.size >= 6 &&
        FlacStreamCheck::ReadFrameHeader(packet.data, std::size_t(packet.size), UInt32(std::max(bits, 1)), &h) ==
            FlacStreamCheck::HeaderRead::Ok;
    // A frame stating another rate than STREAMINFO is damage: it stands for
    // its block of the stream's own rate, which the decoder refuses.  (The
    // packets of a file the frame walk proved whole hold no bytes here.)
    if (numbered && h.rate != 0 && int(h.rate) != par->sample_rate) {
        *frames = h.blockSize;
        *found = TrackFinding("FLAC frame headers");
        found->damaged = true;
        first_ = false;
        nextPts_ = INT64_MIN;
        return true;
    }
    // Frames missing between two packets, or before the first (a stream
    // starts at its first sample, whatever time the demuxer gives a stream
    // that lost its head): taken out.
    const UInt64 before = first_ && numbered ? (h.variable ? h.number : h.number * h.blockSize) : 0;
    const bool gap = before > 0 || (!first_ && packet.pts != AV_NOPTS_VALUE && nextPts_ != INT64_MIN &&
                                    packet.pts > nextPts_);
    if (gap) {
        *found = TrackFinding("FLAC frame numbers");
        found->added.missingFrames = before > 0 ? before : tally.Frames(packet.pts - nextPts_);
        found->damaged = true;
    }
    // A frame met before, of its number, length and checksum (a frame
    // written again): said, and not given twice.  (The demuxer's time of
    // such a frame is no guide.)
    if (numbered) {
        const UInt64 print = UInt64(packet.size) << 16 | UInt64(packet.data[packet.size - 2]) << 8 |
                             packet.data[packet.size - 1];
        const auto [at, fresh] = seen_.emplace(h.number << 1 | (h.variable ? 1 : 0), print);
        if (!fresh && at->second == print) {
            *found = TrackFinding("FLAC frame numbers");
            found->added.repeatedFrames = *frames;
            found->damaged = true;
            found->Say("frame %llu again (%s), %llu samples", (unsigned long long)h.number,
                       h.variable ? "by samples" : "by frames", (unsigned long long)*frames);
            *frames = 0;
            return true;
        }
    }
    first_ = false;
    nextPts_ = packet.pts != AV_NOPTS_VALUE && packet.duration > 0 ? packet.pts + packet.duration : INT64_MIN;
    return gap;
}

namespace {

constexpr const char* kRuleName = "FLAC stream information";
constexpr const char* kStatedCounted = "states %llu frames, counted %llu: %s";

} // namespace

TrackFinding FlacLengthRule::Whole(UInt64 frames)
{
    TrackFinding result(kRuleName);
    result.expected = frames;
    result.stated = StatedLength{.frames = frames, .exact = true};
    result.Say(kStatedCounted, (unsigned long long)frames, (unsigned long long)frames, "whole");
    return result;
}

TrackFinding FlacLengthRule::Settle(const TrackTally& tally)
{
    if (whole_)
        return Whole(*whole_);
    TrackFinding result(kRuleName);
    const AVStream* st = tally.format->streams[tally.stream];
    if (tally.format->duration_estimation_method != AVFMT_DURATION_FROM_STREAM || st->duration <= 0) {
        // A file cut inside its metadata blocks (no frame found) holds no
        // sound; damage that no amount tells is said as a place.
        PositionedFile file(tally.path);
        const SFTDecodeLoss& loss = tally.sofar.Loss();
        const bool cut = tally.fileBytes >= 0 && tally.Counted() == 0 && CutInMetadata(file);
        // A stream head further on (the file's halves traded) still states
        // the stream's length, where it is of the track's rate.
        const FlacStreamCheck::StreamShape head = cut ? FlacStreamCheck::StreamShape{} : HeadFurtherOn(file);
        if (head.frames > 0 && int(head.rate) == st->codecpar->sample_rate)
            result.stated = StatedLength{.frames = head.frames, .exact = true};
        if (cut)
            result.cut = true;
        else if (!result.stated && tally.sofar.Damaged() && !tally.sofar.Cut() && loss.refusedPackets == 0 &&
                 loss.missingFrames == 0 && loss.repeatedFrames == 0 && loss.gaps == 0)
            result.added.gaps = 1;
        result.Say("states no length%s; counted %llu%s", result.stated ? " at the start, a stream head further on does" : "",
                   (unsigned long long)tally.Counted(),
                   cut ? "; cut in the metadata" : result.added.gaps > 0 ? "; damaged" : "");
        return result;
    }
    const UInt64 stated = tally.Frames(st->duration);
    const UInt64 counted = tally.Counted();
    const UInt64 slack =
        UInt64(std::max(st->codecpar->initial_padding, 0) + std::max(st->codecpar->trailing_padding, 0));
    result.expected = stated;
    result.stated = StatedLength{.frames = stated, .tolerance = slack, .exact = true};
    // (How much is gone, the comparison of what is stated with what is
    // delivered says: LengthComparison.)
    const char* found = "whole";
    if (stated > counted) {
        const bool undamaged = tally.sofar.Loss().refusedPackets == 0 && !tally.sofar.Damaged();
        PositionedFile file(tally.path);
        if (undamaged && tally.fileBytes >= 0 && (tally.packetsEnd >= tally.fileBytes || CutInMetadata(file))) {
            result.cut = true;
            found = "cut";
        } else if (stated - counted > slack) {
            found = "lost";
        }
    }
    result.Say(kStatedCounted, (unsigned long long)stated, (unsigned long long)counted, found);
    return result;
}

FlacStreamCheck::StreamShape FlacLengthRule::HeadFurtherOn(PositionedFile& file)
{
    // "fLaC", then a STREAMINFO block's header (the last block or not).
    const int64_t size = file.Size();
    std::vector<uint8_t> block(1 << 16);
    for (int64_t from = 1; from < size; from += int64_t(block.size()) - 8 - int64_t(FlacStreamCheck::kStreamInfoBytes)) {
        const std::size_t n = file.Read(from, block.data(), block.size());
        for (std::size_t i = 0; i + 8 + FlacStreamCheck::kStreamInfoBytes <= n; ++i)
            if (std::memcmp(&block[i], "fLaC", 4) == 0 && (block[i + 4] & 0x7F) == 0 && block[i + 5] == 0 &&
                block[i + 6] == 0 && block[i + 7] == FlacStreamCheck::kStreamInfoBytes)
                return FlacStreamCheck::Shape(&block[i + 8]);
        if (n < block.size())
            break;
    }
    return {};
}

bool FlacLengthRule::CutInMetadata(PositionedFile& file)
{
    uint8_t head[4];
    if (file.Read(0, head, 4) != 4 || std::memcmp(head, "fLaC", 4) != 0)
        return false;
    for (int64_t at = 4;;) {
        if (file.Read(at, head, 4) != 4)
            return true;
        const int64_t end = at + 4 + int64_t(ReadBE32(head) & 0xFFFFFF);
        if (end > file.Size())
            return true;
        if (head[0] & 0x80)
            return false;
        at = end;
    }
}
