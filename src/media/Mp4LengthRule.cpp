#include "Mp4LengthRule.h"

#include "ByteFields.h"
#include "PositionedFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "media_calls.h"

bool Mp4LengthRule::CutBeforeMovieBox(PositionedFile& file)
{
    const int64_t size = file.Size();
    bool cut = false;
    for (int64_t at = 0, boxes = 0; at < size; ++boxes) {
        uint8_t head[16];
        if (file.Read(at, head, 8) != 8) {
            cut = boxes > 0;
            break;
        }
        if (boxes == 0 && std::memcmp(head + 4, "ftyp", 4) != 0)
            break;
        int64_t length = ReadBE32(head);
        if (length == 1) {
            if (file.Read(at + 8, head + 8, 8) != 8) {
                cut = true;
                break;
            }
            length = int64_t(UInt64(ReadBE32(head + 8)) << 32 | ReadBE32(head + 12));
        } else if (length == 0) {
            length = size - at;
        }
        // A tail of zeros where the boxes go on: the movie box was never
        // written out, as where a cut was filled in.
        if (boxes > 0 && ReadBE32(head) == 0 && ReadBE32(head + 4) == 0) {
            cut = true;
            break;
        }
        if (length < 8)
            break;
        if (std::memcmp(head + 4, "moov", 4) == 0 && at + length <= size)
            break;  // the movie box is whole
        if (at + length > size) {
            cut = true;
            break;
        }
        at += length;
    }
    return cut;
}

bool Mp4LengthRule::BoxesWhole(PositionedFile& file)
{
    const int64_t size = file.Size();
    int64_t at = 0;
    while (at < size) {
        uint8_t head[16];
        if (file.Read(at, head, 8) != 8)
            return false;
        int64_t length = ReadBE32(head);
        if (length == 1) {
            if (file.Read(at + 8, head + 8, 8) != 8)
                return false;
            length = int64_t(ReadBE64(head + 8));
        } else if (length == 0) {
            length = size - at;
        }
        if (length < 8 || at + length > size)
            return false;
        at += length;
    }
    return at == size;
}

namespace {

// The boxes in [at, end) of `file`: each one's type, body and end.
struct Box {
    char type[4];
    int64_t body, end;
};
std::vector<Box> Boxes(PositionedFile& file, int64_t at, int64_t end, bool* runsPast = nullptr)
{
    std::vector<Box> boxes;
    while (at + 8 <= end) {
        uint8_t head[16];
        if (file.Read(at, head, 8) != 8)
            break;
        int64_t length = ReadBE32(head);
        int64_t body = at + 8;
        if (length == 1) {
            if (file.Read(at + 8, head + 8, 8) != 8)
                break;
            length = int64_t(std::min<UInt64>(ReadBE64(head + 8), UInt64(1) << 62));
            body += 8;
        } else if (length == 0) {
            length = end - at;
        }
        if (length < body - at)
            break;
        if (at + length > end) {
            if (runsPast)
                *runsPast = true;
            break;
        }
        Box box{};
        std::memcpy(box.type, head + 4, 4);
        box.body = body;
        box.end = at + length;
        boxes.push_back(box);
        at += length;
    }
    return boxes;
}

bool Is(const Box& box, const char* type)
{
    return std::memcmp(box.type, type, 4) == 0;
}

// The body of a small box (at most 1 MB), read whole.
std::vector<uint8_t> Body(PositionedFile& file, const Box& box)
{
    std::vector<uint8_t> bytes(std::size_t(std::clamp<int64_t>(box.end - box.body, 0, 1 << 20)));
    bytes.resize(file.Read(box.body, bytes.data(), bytes.size()));
    return bytes;
}

}  // namespace

bool Mp4LengthRule::WalkFragments(PositionedFile& file, UInt32 trackId, Fragments* out)
{
    const int64_t size = file.Size();
    bool runsPast = false;
    const std::vector<Box> top = Boxes(file, 0, size, &runsPast);
    if (top.empty() || !Is(top.front(), "ftyp"))
        return false;
    out->cut = runsPast;
    UInt32 trexDuration = 0;
    UInt32 lastNumber = 0;
    int64_t held = -1;  // the end of the time the fragments so far hold
    for (const Box& box : top) {
        if (Is(box, "moov")) {
            for (const Box& inner : Boxes(file, box.body, box.end))
                if (Is(inner, "mvex")) {
                    out->fragmented = true;
                    for (const Box& trex : Boxes(file, inner.body, inner.end))
                        if (const std::vector<uint8_t> b = Body(file, trex);
                            Is(trex, "trex") && b.size() >= 24 && ReadBE32(&b[4]) == trackId)
                            trexDuration = ReadBE32(&b[12]);
                }
        } else if (Is(box, "moof")) {
            for (const Box& inner : Boxes(file, box.body, box.end)) {
                if (Is(inner, "mfhd")) {
                    const std::vector<uint8_t> b = Body(file, inner);
                    const UInt32 number = b.size() >= 8 ? ReadBE32(&b[4]) : 0;
                    if (lastNumber > 0 && number > lastNumber + 1)
                        out->missingNumbers += int(std::min<UInt32>(number - lastNumber - 1, 1 << 20));
                    lastNumber = std::max(lastNumber, number);
                }
                if (!Is(inner, "traf"))
                    continue;
                bool ours = false;
                int64_t start = -1;
                int64_t duration = 0;
                UInt32 defaultDuration = trexDuration;
                for (const Box& part : Boxes(file, inner.body, inner.end)) {
                    const std::vector<uint8_t> b = Body(file, part);
                    if (Is(part, "tfhd") && b.size() >= 8) {
                        const UInt32 flags = ReadBE32(&b[0]) & 0xFFFFFF;
                        ours = ReadBE32(&b[4]) == trackId;
                        std::size_t at = 8 + ((flags & 1) ? 8 : 0) + ((flags & 2) ? 4 : 0);
                        if ((flags & 8) && at + 4 <= b.size())
                            defaultDuration = ReadBE32(&b[at]);
                    } else if (Is(part, "tfdt") && b.size() >= 8) {
                        start = b[0] == 1 && b.size() >= 12
                                    ? int64_t(std::min<UInt64>(ReadBE64(&b[4]), UInt64(1) << 62))
                                    : int64_t(ReadBE32(&b[4]));
                    } else if (Is(part, "trun") && b.size() >= 8) {
                        const UInt32 flags = ReadBE32(&b[0]) & 0xFFFFFF;
                        const UInt32 count = ReadBE32(&b[4]);
                        if (ours)
                            out->samples += count;
                        std::size_t at = 8 + ((flags & 1) ? 4 : 0) + ((flags & 4) ? 4 : 0);
                        const std::size_t each = ((flags & 0x100) ? 4 : 0) + ((flags & 0x200) ? 4 : 0) +
                                                 ((flags & 0x400) ? 4 : 0) + ((flags & 0x800) ? 4 : 0);
                        // (Times a hostile file states stop at 2^60.)
                        constexpr int64_t kMost = int64_t(1) << 60;
                        if (!(flags & 0x100))
                            duration += int64_t(std::min<UInt64>(UInt64(count) * defaultDuration, kMost));
                        else
                            for (UInt32 k = 0; k < count && at + 4 <= b.size(); ++k, at += each)
                                duration += ReadBE32(&b[at]);
                        duration = std::min(duration, kMost);
                    }
                }
                if (!ours)
                    continue;
                ++out->fragments;
                if (start < 0)
                    start = std::max<int64_t>(held, 0);
                if (held >= 0 && start > held) {
                    out->missingTicks = std::min(out->missingTicks + (start - held), int64_t(1) << 62);
                    ++out->gaps;
                } else if (held >= 0 && start < held) {
                    ++out->repeated;
                }
                held = std::max(held, start + duration);
            }
        } else if (Is(box, "mfra")) {
            for (const Box& inner : Boxes(file, box.body, box.end)) {
                const std::vector<uint8_t> b = Body(file, inner);
                if (!Is(inner, "tfra") || b.size() < 16 || ReadBE32(&b[4]) != trackId)
                    continue;
                const bool wide = b[0] == 1;
                const UInt32 sizes = ReadBE32(&b[8]);
                const std::size_t each =
                    (wide ? 16 : 8) + ((sizes >> 4) & 3) + 1 + ((sizes >> 2) & 3) + 1 + (sizes & 3) + 1;
                const UInt32 count = ReadBE32(&b[12]);
                for (std::size_t k = 0, at = 16; k < count && at + each <= b.size(); ++k, at += each)
                    out->lastListed = std::max<int64_t>(
                        out->lastListed, wide ? int64_t(std::min<UInt64>(ReadBE64(&b[at]), UInt64(1) << 62))
                                              : int64_t(ReadBE32(&b[at])));
            }
        }
    }
    out->end = held;
    // (The index is read after the fragments: those it lists past the
    // last fragment's start are gone.)
    return true;
}

UInt64 Mp4LengthRule::MediaHeaderFrames(PositionedFile& file, UInt32 trackId, int rate)
{
    for (const Box& moov : Boxes(file, 0, file.Size()))
        if (Is(moov, "moov"))
            for (const Box& trak : Boxes(file, moov.body, moov.end)) {
                if (!Is(trak, "trak"))
                    continue;
                UInt32 id = 0;
                UInt64 frames = 0;
                for (const Box& inner : Boxes(file, trak.body, trak.end)) {
                    if (Is(inner, "tkhd")) {
                        const std::vector<uint8_t> b = Body(file, inner);
                        const std::size_t at = !b.empty() && b[0] == 1 ? 20 : 12;
                        id = b.size() >= at + 4 ? ReadBE32(&b[at]) : 0;
                    } else if (Is(inner, "mdia")) {
                        for (const Box& mdhd : Boxes(file, inner.body, inner.end)) {
                            const std::vector<uint8_t> b = Body(file, mdhd);
                            if (!Is(mdhd, "mdhd") || b.size() < 24)
                                continue;
                            const bool wide = b[0] == 1 && b.size() >= 32;
                            const UInt64 scale = ReadBE32(&b[wide ? 20 : 12]);
                            const UInt64 duration = wide ? ReadBE64(&b[24]) : ReadBE32(&b[16]);
                            // (All ones: no length stated.)
                            if (scale > 0 && duration != (wide ? ~UInt64(0) : 0xFFFFFFFFu) && duration < (UInt64(1) << 40))
                                frames = duration * UInt64(std::max(rate, 1)) / scale;
                        }
                    }
                }
                if (id == trackId)
                    return frames;
            }
    return 0;
}

TrackFinding Mp4LengthRule::Settle(const TrackTally& tally)
{
    TrackFinding result("MPEG-4 sample table");
    const AVStream* st = tally.format->streams[tally.stream];
    const UInt64 counted = tally.Counted();
    const UInt64 packets = tally.sofar.Loss().packets;
    // Where the sample tables place the samples of every track: a sample of
    // this track that runs past the file's end while samples after it are
    // in the file, or into the sample after it, has a size the table got
    // wrong (the file is damaged, not cut).
    struct Sample {
        int64_t pos, end;
        bool ours;
    };
    std::vector<Sample> samples;
    for (unsigned i = 0; i < tally.format->nb_streams; ++i) {
        AVStream* s = tally.format->streams[i];
        for (int k = 0, n = avformat_index_get_entries_count(s); k < n; ++k)
            if (const AVIndexEntry* e = avformat_index_get_entry(s, k); e && e->pos >= 0)
                samples.push_back({e->pos, e->pos + e->size, int(i) == tally.stream});
    }
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.pos < b.pos; });
    bool pastEnd = false;      // a sample of ours runs past the file's end with a whole one after it
    UInt64 overlaps = 0;       // samples of ours running into the next
    int64_t wholeAfter = -1;   // the last sample's position that the file holds whole
    for (const Sample& sample : samples)
        if (tally.fileBytes >= 0 && sample.end <= tally.fileBytes)
            wholeAfter = std::max(wholeAfter, sample.pos);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (!samples[i].ours)
            continue;
        if (tally.fileBytes >= 0 && samples[i].end > tally.fileBytes && samples[i].pos < wholeAfter)
            pastEnd = true;
        else if (i + 1 < samples.size() && samples[i].end > samples[i + 1].pos)
            ++overlaps;
    }
    // A fragmented track: what its fragments' times say.
    {
        PositionedFile file(tally.path);
        Fragments fragments;
        if (WalkFragments(file, UInt32(st->id), &fragments) && fragments.fragmented)
            return SettleFragments(tally, fragments);
    }
    const UInt64 stated = st->duration > 0 ? tally.Frames(st->duration) : 0;
    // The media header states the track's length apart from its sample
    // table: a table that lost entries from both its sizes and its times
    // (the demuxer reads it as a shorter track) is held against it.
    UInt64 media = 0;
    {
        PositionedFile file(tally.path);
        media = MediaHeaderFrames(file, UInt32(st->id), tally.SampleRate());
    }
    // (It counts what the edit list and the decoder's priming take.)
    if (media > stated)
        result.stated = StatedLength{.frames = media, .untrimmed = true};
    else if (stated > 0)
        result.stated = StatedLength{.frames = stated};
    const auto note = [&](const char* found) {
        result.Say("%lld samples listed, %llu packets read, %llu frames stated (the media header %llu), counted %llu; a "
                   "sample past the end %s, %llu running into the next: %s",
                   (long long)st->nb_frames, (unsigned long long)packets, (unsigned long long)stated,
                   (unsigned long long)media, (unsigned long long)counted, pastEnd ? "yes" : "no",
                   (unsigned long long)overlaps, found);
        return result;
    };
    // (How much is gone, the comparison of what is stated with what is
    // delivered says: LengthComparison.)
    if (pastEnd) {
        result.damaged = true;
        return note("sizes wrong");
    }
    if (overlaps > 0) {
        result.damaged = true;
        result.added.gaps = overlaps;
    }
    // A codec whose samples are its packets, with fewer packets than the
    // sample table lists, and less sound than the track states (packets the
    // edit list leaves out after the sound lose nothing; where no length is
    // stated, the packets read must run to the file's end): a file cut, or,
    // where every box is whole, a table whose sizes the libraries refused
    // from some sample on.
    const bool soundShort = stated > 0 ? stated > counted : tally.packetsEnd >= tally.fileBytes;
    if (av_get_bits_per_sample(st->codecpar->codec_id) == 0 && st->nb_frames > 0 && UInt64(st->nb_frames) > packets &&
        soundShort) {
        if (PositionedFile file(tally.path); BoxesWhole(file)) {
            result.damaged = true;
            return note("a size refused, the boxes whole");
        }
        result.cut = true;
        return note("cut");
    }
    return note(overlaps > 0 ? "sizes wrong" : "whole");
}

TrackFinding Mp4LengthRule::SettleFragments(const TrackTally& tally, const Fragments& f)
{
    TrackFinding result("MPEG-4 fragments");
    const UInt64 counted = tally.Counted();
    // Of the fragments the index lists after the last one here, the time
    // up to the last listed one's start is known gone (its own, not).
    int listedAfter = 0;
    UInt64 after = 0;
    if (f.lastListed >= 0 && f.lastListed >= std::max<int64_t>(f.end, 0)) {
        listedAfter = 1;
        after = tally.Frames(f.lastListed - std::max<int64_t>(f.end, 0));
    }
    const UInt64 end = f.end > 0 ? tally.Frames(f.end) : 0;
    // (A codec of whole frames gives its last one whole, past the time its
    // fragment states.)
    const int frameSize = tally.format->streams[tally.stream]->codecpar->frame_size;
    const UInt64 whole = frameSize > 0 ? f.samples * UInt64(frameSize) + tally.Frames(f.missingTicks) : 0;
    result.expected = std::max(end, whole) + after;
    // (Fragments cut off state nothing of those after them.  The times
    // they state are to the frame but for a codec of whole frames, whose
    // last one the decoder gives whole.)
    const UInt64 lastFrame = UInt64(std::max(frameSize, 1024));
    if (!f.cut)
        result.stated = StatedLength{.frames = end, .tolerance = lastFrame, .exact = true};
    result.damaged = f.gaps > 0 || f.repeated > 0 || listedAfter > 0 || f.missingNumbers > 0;
    result.missingAtLeast = tally.Frames(f.missingTicks) + after;
    // Where the amount is not known, the places are said.
    if (listedAfter > 0 && after == 0)
        result.added.gaps = UInt64(listedAfter);
    const char* found = "whole";
    if (f.cut) {
        result.cut = true;
        tally.TakeBackLastRefusal(&result);
        found = "cut";
    } else if (result.damaged) {
        found = f.gaps > 0 || listedAfter > 0 ? "fragments taken out"
                : f.repeated > 0             ? "fragments met twice, passed over"
                                             : "fragment numbers skipped";
    } else if (end > counted + lastFrame) {
        result.damaged = true;
        found = "lost";
    }
    result.Say("%d fragments, %d numbers skipped, %d met twice; they hold %llu frames, %lld ticks between them held "
               "by none at %d places, the index lists %d after the last; counted %llu: %s",
               f.fragments, f.missingNumbers, f.repeated, (unsigned long long)end, (long long)f.missingTicks, f.gaps,
               listedAfter, (unsigned long long)counted, found);
    return result;
}
