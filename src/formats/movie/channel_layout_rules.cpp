#include "channel_layout_rules.h"

#include "CSoundFile.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace {

struct ChannelLayoutRule {
    AudioChannelLayoutTag tag;
    SInt32 configuration;
    AudioChannelLayoutTag movieClient;
    AudioChannelLayoutTag cafClient;
};

constexpr ChannelLayoutRule kRules[] = {
    {0x640001, kChannelConfigMono, 0, 0},
    {0x650002, kChannelConfigStereo, 0, 0}, {0x660002, kChannelConfigStereo, 0, 0x650002},
    {0x670002, kChannelConfigStereo, 0, 0x650002}, {0x680002, kChannelConfigStereo, 0, 0x650002},
    {0x690002, kChannelConfigStereo, 0, 0x650002}, {0x6A0002, kChannelConfigStereo, 0, 0x650002},
    {0x960003, kChannelConfigLCR, 0x960003, 0x960003}, {0x710003, kChannelConfigLCR, 0x960003, 0x710003},
    {0x720003, kChannelConfigLCR, 0x960003, 0x720003}, {0x830003, kChannelConfigLCR, 0x960003, 0x830003},
    {0x6C0004, kChannelConfigQuad, 0x6C0004, 0}, {0x840004, kChannelConfigQuad, 0x6C0004, 0x6C0004},
    {0x740004, kChannelConfigLCRS, 0x740004, 0}, {0x730004, kChannelConfigLCRS, 0x740004, 0x740004},
    {0x760005, kChannelConfig5_0, 0x760005, 0x760005}, {0x6D0005, kChannelConfig5_0, 0x760005, 0x760005},
    {0x750005, kChannelConfig5_0, 0x760005, 0x760005}, {0x770005, kChannelConfig5_0, 0x760005, 0x760005},
    {0x780005, kChannelConfig5_0, 0x760005, 0x760005},
    {0x790006, kChannelConfig5_1, 0x790006, 0}, {0x7A0006, kChannelConfig5_1, 0x790006, 0x790006},
    {0x7B0006, kChannelConfig5_1, 0x790006, 0x790006}, {0x7C0006, kChannelConfig5_1, 0x790006, 0x790006},
    {0x8B0006, kChannelConfig6_0, 0x8B0006, 0}, {0x6E0006, kChannelConfig6_0, 0x8B0006, 0x8B0006},
    {0x8D0006, kChannelConfig6_0, 0x8B0006, 0x8B0006},
    {0x7D0007, kChannelConfig6_1, 0x7D0007, 0}, {0x8E0007, kChannelConfig6_1, 0x7D0007, 0x7D0007},
    {0x7F0008, kChannelConfig7_1, 0x7F0008, 0}, {0x7E0008, kChannelConfig7_1, 0x7F0008, 0x7F0008},
    {0x800008, kChannelConfig7_1, 0x7F0008, 0x7F0008}, {0x810008, kChannelConfig7_1, 0x7F0008, 0x7F0008},
};

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

SInt32 ConfigurationForLayoutTag(LayoutReader reader, AudioChannelLayoutTag tag, AudioChannelLayoutTag* clientTag)
{
    if (clientTag)
        *clientTag = 0;
    for (const ChannelLayoutRule& rule : kRules) {
        if (rule.tag == tag) {
            if (clientTag)
                *clientTag = reader == LayoutReader::Movie ? rule.movieClient : rule.cafClient;
            return rule.configuration;
        }
    }
    return kChannelConfigMultichannel;
}

std::string ConfigurationChannelName(LayoutReader reader, SInt32 configuration, UInt16 channel)
{
    switch (configuration) {
    case kChannelConfigMono: return reader == LayoutReader::Movie ? "1" : "";
    case kChannelConfigStereo: return NameAt({"Left", "Right"}, channel);
    case kChannelConfigLCR:
        return reader == LayoutReader::Movie ? NameAt({"Left", "Center", "Right"}, channel)
                                             : NameAt({"Left", "Right", "Center"}, channel);
    default: break;
    }
    if (configuration < kChannelConfigQuad || configuration > kChannelConfig7_1)
        return {};
    const std::vector<const char*>& names = SurroundNames()[std::size_t(configuration - kChannelConfigQuad)];
    return names[std::min<std::size_t>(channel, names.size() - 1)];
}
