// The channel layouts a movie or CAF file may carry: the channel
// configuration each gives (ChannelArrangement), the tag of the channel
// order the reader asks the platform for (0: the file's order is kept), and
// the channel names of the configurations.  The movie layer and the CAF
// reader differ only in the name of a mono channel.
#pragma once

#include "CoreAudioTypes.h"

#include <string>

enum class LayoutReader { Movie, Caf };

// The configuration of `tag` (kChannelConfigMultichannel for a tag no
// configuration has), with the client tag in `clientTag`: the tag whose
// order the channels take in memory when it is not the file's (0 when the
// file's order is kept; null: not wanted).
SInt32 ConfigurationForLayoutTag(AudioChannelLayoutTag tag, AudioChannelLayoutTag* clientTag);

// The name of `channel` in `configuration` as the reader names it (the
// last name for a channel past the configuration's count); a multichannel
// file with a layout of its own (`layoutTag`) names its channels by it.
// Empty for a configuration the reader does not name.
std::string ConfigurationChannelName(LayoutReader reader, SInt32 configuration, AudioChannelLayoutTag layoutTag,
                                     UInt16 channel);
