// Where the sound track's packets come from: the demuxer (DemuxerPackets),
// a native FLAC file's frames as the walk found them (WalkedFlacPackets),
// or the index's packets read straight from the file (DirectFlacPackets).
// Which one reads is chosen where the track is opened and counted, by the
// object built; the decoding asks it for each packet's bytes.
#pragma once

#include <cstddef>
#include <cstdint>

class PacketSource {
public:
    virtual ~PacketSource() = default;

    // The next packet of the track (the track's packetOrdinal counts it);
    // false at the end.
    virtual bool Next() = 0;

    // The bytes of the packet read last (valid until the next call).
    virtual const uint8_t* Data() const = 0;
    virtual std::size_t Size() const = 0;

    // Whether the packets are the index's, read straight from the file
    // with no demuxer behind them: a seek then places the source by the
    // index alone, and the libraries' decoder is given each as a packet
    // made of its bytes (IntoPacket).
    virtual bool ReadsIndex() const { return false; }

    // The packet read last, into the track's packet for the libraries'
    // decoder (a negative error where it cannot be made).
    virtual int IntoPacket() { return 0; }

    // Whether each packet is a frame the walk proved whole.
    virtual bool ProvenWhole() const { return false; }
};
