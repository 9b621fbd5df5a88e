// The channel-layout tags a movie or CAF file may carry, each with the
// channel configuration it gives and the tag of that configuration's own
// channel order (0: none set).  Each format keeps its own table.
#pragma once

#include "CoreAudioTypes.h"

#include <span>

struct ChannelLayoutRule {
    AudioChannelLayoutTag tag;
    SInt32 configuration;
    AudioChannelLayoutTag client;
};

// The configuration `rules` give `tag` (kChannelConfigMultichannel for a
// tag they do not list), with the client tag in `clientTag` (0 if unlisted;
// null: not wanted).
SInt32 ConfigurationFromRules(std::span<const ChannelLayoutRule> rules, AudioChannelLayoutTag tag,
                              AudioChannelLayoutTag* clientTag);
