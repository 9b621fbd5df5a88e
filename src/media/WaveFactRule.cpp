#include "WaveFactRule.h"

#include "MediaCodes.h"
#include "RIFFChunkList.h"
#include "mpeg_audio_frames.h"
#include "wave_chunks.h"

#include <algorithm>
#include <fstream>

using namespace movie_input;

TrackFinding WaveFactRule::Settle(const std::string& path, const CodecTraits& codec, UInt64 counted, UInt64* startSkip)
{
    const UInt64 factFrames = FactFrames(path);
    const bool lagged = factFrames > 0 && codec.filterbankLag;
    TrackFinding found("WAVE fact");
    // Fewer whole MPEG audio frames than it counts: the file was cut.
    if (factFrames > counted && codec.syntax == FrameSyntax::Mpeg)
        found.cut = true;
    if (factFrames > 0)
        found.statedFrames = factFrames;
    found.Say("states %llu frames, counted %llu", (unsigned long long)factFrames, (unsigned long long)counted);
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
