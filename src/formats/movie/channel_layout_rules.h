// The channel-layout tags a movie or CAF file may carry: the channel
// configuration each gives, the tag of the channel order each reader asks
// the platform for (0: the file's order is kept), and the channel names of
// the configurations.  The movie layer and the CAF reader differ only in
// those orders and in the names of the mono and LCR channels.
#pragma once

#include "CoreAudioTypes.h"

#include <string>

enum class LayoutReader { Movie, Caf };

// The configuration of `tag` (kChannelConfigMultichannel for a tag not
// listed), with the reader's client tag in `clientTag` (0 if unlisted;
// null: not wanted).
SInt32 ConfigurationForLayoutTag(LayoutReader reader, AudioChannelLayoutTag tag, AudioChannelLayoutTag* clientTag);

// The name of `channel` in `configuration` as the reader names it (the
// last name for a channel past the configuration's count); empty for a
// configuration the reader does not name.
std::string ConfigurationChannelName(LayoutReader reader, SInt32 configuration, UInt16 channel);
