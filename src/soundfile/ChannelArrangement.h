// How a file's channels are arranged in memory and in the file.
//
// In memory the channels follow the layout tag of their configuration
// (CSoundFile::CreateChannelLayout).  A reader that knows the speaker of
// each channel of its file (a WAVE channel mask, an AIFF or CAF channel
// layout, the media libraries' layout) finds the configuration with those
// speakers and puts the channels in its order; speakers no configuration
// has stay in the file's order as a multichannel file that keeps the tag of
// its own layout.  A writer stores the channels in the order of a
// description it can write, and that description.
#pragma once

#include "AudioLayoutTypes.h"
#include "MacTypes.h"

#include <cstddef>
#include <vector>

struct ChannelArrangement {
    SInt32 configuration = 0;
    // The layout of the channels in memory: the configuration's tag, or a
    // multichannel file's own (0: none known).
    AudioChannelLayoutTag layoutTag = 0;
    // Memory channel i is file channel order[i]; empty: the file's order.
    std::vector<int> order;
};

// The layout tag of `configuration` for `channels` channels (0 for none).
AudioChannelLayoutTag LayoutTagForConfiguration(SInt32 configuration, UInt32 channels);

// The arrangement of channels whose speakers are `labels` (Core Audio
// labels, in the file's order): mono and stereo by their count (a pair
// stored right first is put left first), then the configuration with those
// speakers, then a known layout with them.
ChannelArrangement ArrangementForChannelLabels(const std::vector<UInt32>& labels);

// A channel layout as a file stores it: a tag, or the bitmap tag with its
// bitmap, and the order of the channels in the file: file channel j is
// memory channel order[j] (empty: the memory order).
struct StoredChannelLayout {
    AudioChannelLayoutTag tag = 0;
    UInt32 bitmap = 0;
    std::vector<int> order;
};

// How the channels of `memoryTag` are stored in a file that describes them
// by a Core Audio layout (AIFF 'CHAN', CAF 'chan'): in speaker-mask order,
// under a tag that lists them in that order where one does (the tags the
// media libraries write themselves), else under a bitmap; a layout no mask
// describes keeps its tag and the memory order.
StoredChannelLayout StoredLayoutForTag(AudioChannelLayoutTag memoryTag);

// Reorders interleaved frames of `sampleBytes`-byte samples in place:
// channel i of each frame becomes what channel source[i] was.
void ArrangeFrames(UInt8* bytes, std::size_t frames, std::size_t sampleBytes, const std::vector<int>& source);

// The inverse of a permutation: inverse[order[i]] = i.
std::vector<int> InverseOrder(const std::vector<int>& order);
