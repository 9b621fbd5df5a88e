#include "OggPacketTrust.h"

#include "OggLengthRule.h"

#include <algorithm>

#include "MediaLibraries.h"

bool OggPacketTrust::Open(TrackLengthRule* rule, const std::string& path, bool viewed, unsigned streams,
                          OggMapping codec, const AVStream* st)
{
    codec_ = codec;
    auto* oggRule = dynamic_cast<OggLengthRule*>(rule);
    if (!oggRule || viewed || streams != 1)
        return false;
    const AVCodecParameters* par = st->codecpar;
    const bool vorbis = codec == OggMapping::Vorbis && vorbisBlocks_.Open(par->extradata, par->extradata_size);
    applies_ = (codec == OggMapping::Opus || vorbis) && oggRule->Intact(path, &granule_);
    if (const OggLengthRule::Pages* pages = oggRule->Walked(path)) {
        ratesChange_ = codec == OggMapping::Flac && pages->otherRates;
        channelsChange_ = pages->otherChannels;
        rateNoTypeHolds_ = pages->rateNoTypeHolds;
        bitsChange_ = pages->otherBits;
    }
    return applies_;
}

void OggPacketTrust::Packet(const ::Packet& packet, UInt64 padding, UInt64* frames, bool* durationsKnown)
{
    *durationsKnown = *durationsKnown && !ratesChange_;
    // The demuxer shortens the last Ogg packet by its end trim, which
    // the decoder takes from the whole packet (where it holds it: a
    // duration of 1 may stand for a packet trimmed whole or not at all).
    if (applies_ && codec_ == OggMapping::Opus && padding > 0) {
        *durationsKnown = *durationsKnown && packet.duration > 1;
        *frames += padding;
    }
    const int64_t vorbisFrames = applies_ && codec_ == OggMapping::Vorbis
                                     ? vorbisBlocks_.Next(packet.data, packet.size) : 0;
    if (applies_ && codec_ == OggMapping::Vorbis) {
        *durationsKnown = *durationsKnown && vorbisFrames >= 0;
        *frames = UInt64(std::max<int64_t>(vorbisFrames, 0));
    }
}

bool OggPacketTrust::FirstPacketPrimes(const ::Packet& packet, IndexEntry* entry, UInt64* frames)
{
    if (!(applies_ && codec_ == OggMapping::Vorbis))
        return false;
    vorbisUnheard_ = packet.pts == ::Packet::kNoTime || packet.pts > 0 || packet.duration <= 0
                         ? 0 : packet.pts + packet.duration;
    entry->priming = UInt32(std::clamp<int64_t>(packet.duration, 0, 0xFFFFFFFF));
    *frames = 0;
    return true;
}

bool OggPacketTrust::Holds(UInt64 total, std::size_t packets, const AVStream* st) const
{
    return !((codec_ == OggMapping::Vorbis && packets < 2) ||
             int64_t(total) + (codec_ == OggMapping::Opus ? std::max(st->codecpar->initial_padding, 0)
                                                          : vorbisUnheard_) != granule_);
}
