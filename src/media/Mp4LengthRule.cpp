#include "Mp4LengthRule.h"

#include "ByteOrder.h"
#include "PositionedFile.h"

#include <cstring>

#include "media_calls.h"

bool Mp4LengthRule::CutBeforeMovieBox(const std::string& path)
{
    PositionedFile file(path);
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

void Mp4LengthRule::Settle(TrackTally& tally)
{
    // A codec whose samples are its packets, with fewer packets than the
    // sample table lists, read to the file's end (packets the edit list
    // leaves out after the sound are no cut).
    const AVStream* st = tally.format->streams[tally.stream];
    if (av_get_bits_per_sample(st->codecpar->codec_id) == 0 && st->nb_frames > 0 &&
        UInt64(st->nb_frames) > tally.loss.packets && tally.packetsEnd >= tally.fileBytes)
        tally.cutShort = true;
}
