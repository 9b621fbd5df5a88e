#include "channel_layout_rules.h"

#include "CSoundFile.h"
#include "ChannelArrangement.h"
#include "ChannelLabels.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace {

// Names of the configurations from quad to 7.1, in configuration order.
const std::vector<std::vector<const char*>>& SurroundNames()
{
    static const std::vector<std::vector<const char*>> kNames = {
        {"Left", "Right", "Left Surround", "Right Surround"},
        {"Center", "Left", "Right", "Surround"},
        {"Left", "Right", "Left Surround", "Right Surround", "Center"},
        {"Left", "Right", "Center", "Lfe", "Left Surround", "Right Surround"},
        {"Left", "Right", "Left Surround", "Right Surround", "Center", "Center Surround"},
        {"Left", "Right", "Center", "Lfe", "Left Surround", "Right Surround", "Center Surround"},
        {"Center", "Left Center", "Right Center", "Left", "Right", "Left Surround", "Right Surround", "Lfe"},
    };
    return kNames;
}

const char* NameAt(std::initializer_list<const char*> names, UInt16 channel)
{
    return names.begin()[std::min<std::size_t>(channel, names.size() - 1)];
}

} // namespace

SInt32 ConfigurationForLayoutTag(AudioChannelLayoutTag tag, AudioChannelLayoutTag* clientTag)
{
    if (clientTag)
        *clientTag = 0;
    const std::vector<UInt32> labels = ChannelLabelsForLayoutTag(tag);
    if (labels.empty())
        return kChannelConfigMultichannel;
    const ChannelArrangement arrangement = ArrangementForChannelLabels(labels);
    if (clientTag && !arrangement.order.empty())
        *clientTag = arrangement.layoutTag;
    return arrangement.configuration;
}

std::string ConfigurationChannelName(LayoutReader reader, SInt32 configuration, AudioChannelLayoutTag layoutTag,
                                     UInt16 channel)
{
    switch (configuration) {
    case kChannelConfigMono: return reader == LayoutReader::Movie ? "1" : "";
    case kChannelConfigStereo: return NameAt({"Left", "Right"}, channel);
    case kChannelConfigLCR: return NameAt({"Left", "Center", "Right"}, channel);
    case kChannelConfigMultichannel: {
        const std::vector<UInt32> labels = ChannelLabelsForLayoutTag(layoutTag);
        if (labels.empty())
            return {};
        return ChannelLabelName(labels[std::min<std::size_t>(channel, labels.size() - 1)]);
    }
    default: break;
    }
    if (configuration < kChannelConfigQuad || configuration > kChannelConfig7_1)
        return {};
    const std::vector<const char*>& names = SurroundNames()[std::size_t(configuration - kChannelConfigQuad)];
    return names[std::min<std::size_t>(channel, names.size() - 1)];
}
