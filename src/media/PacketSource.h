// Where a track's packets come from: the libraries' demuxer
// (DemuxerPackets), a native FLAC file's frames as the walk found them
// (WalkedFlacPackets), or the index's packets read straight from the file
// (DirectFlacPackets).  Each hands out its packets as values, one at a
// time, and owns whatever it reads them through.
#pragma once

#include "IndexEntry.h"
#include "MacTypes.h"
#include "Packet.h"

#include <cstddef>
#include <optional>

class PacketSource {
public:
    virtual ~PacketSource() = default;

    // The next packet of the track; none at the end.
    virtual std::optional<Packet> Next() = 0;

    // Places the source so that the next packet it hands out is the index's
    // packet `k` (`entry`); false where it cannot be found (the source is
    // then to be rewound).
    virtual bool SeekTo(std::size_t k, const IndexEntry& entry) = 0;

    // Back to the first packet (a demuxer's input opened again); an error
    // where it cannot be.
    virtual OSErr Rewind() = 0;

    // Whether packets can be read (a demuxer whose input failed to open
    // again after a rewind cannot).
    virtual bool IsOpen() const { return true; }
};
