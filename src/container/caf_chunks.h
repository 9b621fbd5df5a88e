// The chunks of a Core Audio Format file that are read without the media
// libraries: the stream description ('desc'), the channel layout ('chan')
// and the extent of the samples ('data'), every size checked against the
// file.
#pragma once

#include "CoreAudioTypes.h"
#include "MacTypes.h"

#include <string>
#include <vector>

namespace caf_chunks {

constexpr OSType kCAFF = FOUR_CHAR_CODE("caff");  // the file's first four bytes
// A container that is not a CAF file, or lacks its 'desc' or 'data' chunk
// (the extended audio file calls' code for it).
constexpr OSStatus kInvalidFileErr = FOUR_CHAR_CODE("dta?");

} // namespace caf_chunks

struct CafLayout {
    AudioStreamBasicDescription format{};
    std::vector<UInt8> chan;  // the 'chan' chunk's body, as stored
    bool hasData = false;
    // The 'data' chunk's samples (after its edit count): the bytes the
    // file holds and the bytes its size promises (kToTheEnd: a size of -1,
    // the samples run to the end of the file).
    static constexpr UInt64 kToTheEnd = ~UInt64(0);
    UInt64 dataPresent = 0;
    UInt64 dataPromised = 0;
    bool editCountCut = false;  // the file ends inside the edit count

    // Frames of the whole packets both present and promised, for packets of
    // a fixed size (kToTheEnd for packets of varying size: the decoder's
    // count stands).
    UInt64 WholePacketFrames() const;
    // Fewer bytes than promised, or a last packet (or the edit count)
    // cut off.
    bool CutShort() const;
    // The speakers of the channels in the file's order, as its 'chan'
    // names them (by layout tag, bitmap or channel descriptions); empty
    // without a 'chan', or when it does not name one speaker per channel.
    std::vector<UInt32> ChannelLabels() const;
};

// The 'chan' chunk's body describing `layout` (its channel descriptions
// when its tag says it has them).
std::vector<UInt8> CafChanBody(const AudioChannelLayout& layout);
// The layout a 'chan' body stores, into `out` (`outSize` bytes, zeroed
// first): false when it does not fit.  CafChanLayoutSize: the bytes that
// layout takes (at least an AudioChannelLayout).
std::size_t CafChanLayoutSize(const std::vector<UInt8>& body);
bool CafChanLayout(const std::vector<UInt8>& body, AudioChannelLayout* out, std::size_t outSize);

// Walks the file's chunks into *out: noErr, fnfErr, or
// caf_chunks::kInvalidFileErr for a container that is not a CAF file or
// lacks its 'desc' or 'data' chunk.
OSStatus WalkCaf(const std::string& path, CafLayout* out);
