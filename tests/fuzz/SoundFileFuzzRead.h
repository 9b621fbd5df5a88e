// The walk a reader's fuzz target runs over one input file: Open, every frame
// (up to 4096) read in blocks of 64, Close; then ProbeHeader on a fresh
// object.
#pragma once

#include "MacTypes.h"

#include <cstddef>
#include <string>
#include <vector>

namespace soundfilefuzz {

template <typename File>
int ReadAndProbe(const std::string& path)
{
    {
        File file;
        file.SetBufferFrames(64);
        if (file.SetFile(path) == noErr) {
            if (file.Open() == noErr && file.GetNumChannels() > 0 && file.GetNumChannels() <= 64) {
                std::vector<double> samples(std::size_t(file.GetNumChannels()) * 64);
                for (UInt32 frame = 0; frame < file.GetNumFrames() && frame < 4096; frame += 64) {
                    UInt32 count = 64;
                    if (file.ReadFrames(frame, &count, samples.data()) != noErr || count == 0) {
                        break;
                    }
                }
            }
            file.Close();
        }
    }
    {
        File probe;
        SInt16 result = 0;
        if (probe.SetFile(path) == noErr) {
            probe.ProbeHeader(&result);
        }
    }
    return 0;
}

} // namespace soundfilefuzz
