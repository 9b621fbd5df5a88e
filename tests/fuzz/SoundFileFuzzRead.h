// The walk every reader's fuzz target runs over one input file, so that a
// target is its seeds and one call:
//
//   on a fresh object (blocks of 64 frames): SetFile, Open; when it opens
//   (or answers one of the format's warnings) with a channel count it can
//   read, every frame up to 4096 (ReadFrames, or the raw ReadBlock walk
//   through the end and RecalcNumFrames), the channel names, a block past
//   the end and whatever else the target asks of the open file; Close;
//   ProbeHeader on the same object; then ProbeHeader on a fresh object.
#pragma once

#include "CSoundFile.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace soundfilefuzz {

// Any channel count is read, even none.
constexpr UInt16 kAnyChannels = 0xFFFF;

struct Walk {
    std::vector<OSErr> openWarnings;  // answers of Open that still leave a readable file
    UInt16 maxChannels = 64;  // files of more channels (or none) are not read
    bool blockWalk = false;  // ReadBlock over every block through the end, then RecalcNumFrames
    bool channelNames = false;  // also the names of the first ten channels
    UInt32 pastEnd = 0;  // also reads the block this many frames past the end (0: not)
    std::function<void(CSoundFile&)> whileOpen;  // more to ask of the open file

    // Chained settings: Walk().Warnings({-22204}).ChannelNames().
    Walk& Warnings(std::vector<OSErr> errors) { openWarnings = std::move(errors); return *this; }
    Walk& AnyChannels() { maxChannels = kAnyChannels; return *this; }
    Walk& Blocks() { blockWalk = true; return *this; }
    Walk& ChannelNames() { channelNames = true; return *this; }
    Walk& PastEnd(UInt32 frames) { pastEnd = frames; return *this; }
    Walk& WhileOpen(std::function<void(CSoundFile&)> ask) { whileOpen = std::move(ask); return *this; }
};

inline void ReadThrough(CSoundFile& file, const Walk& walk)
{
    const OSErr err = file.Open();
    const UInt16 channels = file.GetNumChannels();
    const bool opened = err == noErr
        || std::find(walk.openWarnings.begin(), walk.openWarnings.end(), err) != walk.openWarnings.end();
    const bool channelsOK = channels <= walk.maxChannels && (channels > 0 || walk.maxChannels == kAnyChannels);
    if (opened && (walk.blockWalk || channelsOK)) {
        if (walk.blockWalk) {
            for (UInt32 frame = 0; frame <= file.GetNumFrames() && frame < 4096; frame += 64) {
                if (file.ReadBlock(frame) != noErr)
                    break;
            }
            file.RecalcNumFrames();
        } else {
            std::vector<double> samples(std::size_t(std::max<UInt16>(channels, 1)) * 64);
            for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 4096; frame += 64) {
                UInt32 count = 64;
                if (file.ReadFrames(frame, &count, samples.data()) != noErr || count == 0)
                    break;
            }
        }
        for (UInt16 c = 0; walk.channelNames && c < channels && c < 10; ++c)
            (void)file.GetChannelName(c);
        if (walk.pastEnd)
            file.ReadBlock(file.GetNumFrames() + walk.pastEnd);
        if (walk.whileOpen)
            walk.whileOpen(file);
    }
    file.Close();
    SInt16 result = 0;
    file.ProbeHeader(&result);
}

inline int ReadAndProbe(const std::function<std::unique_ptr<CSoundFile>()>& make, const std::string& path,
    const Walk& walk = {})
{
    {
        const std::unique_ptr<CSoundFile> file = make();
        file->SetBufferFrames(64);
        if (file->SetFile(path) == noErr)
            ReadThrough(*file, walk);
    }
    const std::unique_ptr<CSoundFile> probe = make();
    SInt16 result = 0;
    if (probe->SetFile(path) == noErr)
        probe->ProbeHeader(&result);
    return 0;
}

template <typename File>
int ReadAndProbe(const std::string& path, const Walk& walk = {})
{
    return ReadAndProbe([] { return std::unique_ptr<CSoundFile>(new File); }, path, walk);
}

} // namespace soundfilefuzz
