#include "WaveFactRule.h"

#include "MediaCodes.h"
#include "RIFFChunkList.h"
#include "riff_chunks.h"
#include "mpeg_audio_frames.h"
#include "wave_chunks.h"

#include <algorithm>
#include <fstream>

using namespace movie_input;

namespace {

// What the data chunk of a compressed WAVE file holds of what it states.
struct WaveData {
    bool cut = false;             // its size states more bytes than the file holds
    UInt32 partialBlockFrames = 0; // the frames of the block the end breaks off, where the format states them
};

WaveData DataOf(const std::string& path)
{
    WaveData data;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return data;
    StreamChunkSource source(in);
    RIFFChunkList chunks;
    ChunkInfo info;
    if (chunks.Walk(source) != noErr || chunks.Find(riff_chunks::kData, &info) != noErr || info.sizeUnknown)
        return data;
    data.cut = SInt64(info.sizeField) > info.bodySize;
    wave_chunks::Format format;
    // (IMA ADPCM and GSM 6.10 state the frames of a block after the
    // extra-size word.)
    constexpr UInt16 kIMAADPCM = 0x0011, kGSM610 = 0x0031;
    if (data.cut && wave_chunks::ReadFormat(chunks, &format, 64, false) == noErr && format.blockAlign > 0 &&
        (format.tag == kIMAADPCM || format.tag == kGSM610) && info.bodySize % format.blockAlign != 0 &&
        format.extra.size() >= 2)
        data.partialBlockFrames = UInt32(format.extra[0]) | UInt32(format.extra[1]) << 8;
    return data;
}

} // namespace

TrackFinding WaveFactRule::Settle(const std::string& path, const CodecTraits& codec, UInt64 counted, UInt64* startSkip)
{
    const UInt64 factFrames = FactFrames(path);
    const bool lagged = factFrames > 0 && codec.filterbankLag;
    TrackFinding found("WAVE fact");
    // Fewer whole MPEG audio frames than it counts: the file was cut.
    if (factFrames > counted && codec.syntax == FrameSyntax::Mpeg)
        found.cut = true;
    // Fewer frames of any other coding than it counts: what the data chunk
    // states beyond the file's end went with a cut (the block the end
    // broke off with it, which the decoder refused); else they were lost.
    // (How much, the comparison of what is stated with what is delivered
    // says: LengthComparison.)
    const char* how = "";
    if (factFrames > counted && codec.syntax != FrameSyntax::Mpeg) {
        const WaveData data = DataOf(path);
        if (data.cut) {
            found.cut = true;
            if (data.partialBlockFrames > 0)
                found.refusalTakenBack = data.partialBlockFrames;
            how = ": cut";
        } else {
            found.damaged = true;
            how = ": lost";
        }
    }
    if (factFrames > 0)
        found.stated = StatedLength{.frames = factFrames, .exact = true};
    found.Say("states %llu frames, counted %llu%s", (unsigned long long)factFrames, (unsigned long long)counted, how);
    if (lagged) {
        *startSkip = std::min<UInt64>(kFilterbankLag, counted);
        found.frames = std::min(factFrames, counted - *startSkip);
    } else if (factFrames > 0 && factFrames < counted) {
        found.frames = factFrames;
    }
    return found;
}

UInt64 WaveFactRule::FactFrames(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return 0;
    StreamChunkSource source(in);
    RIFFChunkList chunks;
    UInt32 frames = 0;
    if (chunks.Walk(source) != noErr || chunks.ContainerID() != riff_chunks::kRIFF ||
        chunks.FormType() != media_codes::kWAVE || wave_chunks::ReadFact(chunks, &frames) != noErr)
        return 0;
    return frames;
}
