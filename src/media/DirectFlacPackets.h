// Where the count found a native FLAC file's packets whole and one after
// another from its first frame to its last, they are read again straight
// from the file by the index (the bytes the demuxer gave for them), not
// through the demuxer.
#pragma once

#include "ListedPackets.h"
#include "PositionedFile.h"

#include <memory>
#include <string>
#include <vector>

class DirectFlacPackets : public ListedPackets {
public:
    DirectFlacPackets(std::string path, const std::vector<IndexEntry>& index);

    std::optional<Packet> Next() override;

private:
    struct Place {
        int64_t pos;
        int64_t dts;
        UInt32 bytes;
    };
    std::string path_;
    std::vector<Place> places_;
    std::unique_ptr<PositionedFile> file_;
};
