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
    const UInt64 stated = st->duration > 0 ? tally.Frames(st->duration) : 0;
    const auto note = [&](const char* found) {
        result.Say("%lld samples listed, %llu packets read, %llu frames stated, counted %llu; a sample past the end %s, "
                   "%llu running into the next: %s",
                   (long long)st->nb_frames, (unsigned long long)packets, (unsigned long long)stated,
                   (unsigned long long)counted, pastEnd ? "yes" : "no", (unsigned long long)overlaps, found);
        return result;
    };
    if (pastEnd) {
        result.damaged = true;
        if (stated > counted)
            result.missingAtLeast = stated - counted;
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
            if (stated > counted)
                result.missingAtLeast = stated - counted;
            return note("a size refused, the boxes whole");
        }
        result.cut = true;
        if (stated > counted)
            result.cutFramesAtLeast = stated - counted;
        return note("cut");
    }
    return note(overlaps > 0 ? "sizes wrong" : "whole");
}
