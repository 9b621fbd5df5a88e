#include "channel_layout_rules.h"

#include "CSoundFile.h"

SInt32 ConfigurationFromRules(std::span<const ChannelLayoutRule> rules, AudioChannelLayoutTag tag,
                              AudioChannelLayoutTag* clientTag)
{
    if (clientTag)
        *clientTag = 0;
    for (const ChannelLayoutRule& rule : rules) {
        if (rule.tag == tag) {
            if (clientTag)
                *clientTag = rule.client;
            return rule.configuration;
        }
    }
    return kChannelConfigMultichannel;
}
