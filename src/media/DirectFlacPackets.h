// Where the count found a native FLAC file's packets whole and one after
// another from its first frame to its last, they are read again straight
// from the file by the index (the bytes the demuxer gave for them), not
// through the demuxer.
#pragma once

#include "PacketSource.h"
#include "PositionedFile.h"

#include <memory>

struct TrackState;

class DirectFlacPackets : public PacketSource {
public:
    explicit DirectFlacPackets(TrackState& track) : track_(track) {}

    bool Next() override;
    const uint8_t* Data() const override { return bytes_; }
    std::size_t Size() const override { return size_; }
    bool ReadsIndex() const override { return true; }
    int IntoPacket() override;

private:
    TrackState& track_;
    std::unique_ptr<PositionedFile> file_;
    const uint8_t* bytes_ = nullptr;
    std::size_t size_ = 0;
};
