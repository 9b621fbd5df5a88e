#include "DirectFlacPackets.h"

DirectFlacPackets::DirectFlacPackets(std::string path, const std::vector<IndexEntry>& index) : path_(std::move(path))
{
    places_.reserve(index.size());
    for (const IndexEntry& e : index)
        places_.push_back({e.pos, e.dts, e.bytes});
}

std::optional<Packet> DirectFlacPackets::Next()
{
    if (next_ >= places_.size())
        return std::nullopt;
    if (!file_)
        file_ = std::make_unique<PositionedFile>(path_);
    const Place& place = places_[next_];
    Packet p;
    if (!(p.data = file_->View(place.pos, place.bytes)))
        return std::nullopt;
    p.size = int(place.bytes);
    p.pos = place.pos;
    p.pts = p.dts = place.dts;
    p.ordinal = int64_t(next_++);
    return p;
}
