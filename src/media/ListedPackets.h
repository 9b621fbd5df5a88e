// A packet source whose packets are a list it holds (the frames a walk
// found, the index's places): a seek places it at the entry's place in the
// list, a rewind at the first.
#pragma once

#include "PacketSource.h"

class ListedPackets : public PacketSource {
public:
    bool SeekTo(std::size_t k, const IndexEntry&) override
    {
        next_ = k;
        return true;
    }
    OSErr Rewind() override
    {
        next_ = 0;
        return noErr;
    }

protected:
    // The place of the packet Next hands out next.
    std::size_t next_ = 0;
};
