// The walk the WAVE-family fuzz targets run over a file: Open, every frame
// read in blocks, Close, then ProbeHeader.
#pragma once

#include "CWAVEFile.h"

#include <vector>

namespace wavefuzz {

// `channelNames`: also asks for the name of each of the first ten channels.
inline void ReadThrough(CWAVEFile& file, bool channelNames)
{
    file.SetBufferFrames(64);
    if (file.Open() == noErr && file.GetNumChannels() > 0 && file.GetNumChannels() <= 64) {
        std::vector<double> samples(std::size_t(file.GetNumChannels()) * 64);
        for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 4096; frame += 64) {
            UInt32 count = 64;
            if (file.ReadFrames(frame, &count, samples.data()) != noErr || count == 0)
                break;
        }
        for (UInt16 c = 0; channelNames && c < file.GetNumChannels() && c < 10; ++c)
            (void)file.GetChannelName(c);
    }
    if (file.IsOpen())
        file.Close();
    SInt16 result = 0;
    file.ProbeHeader(&result);
}

} // namespace wavefuzz
