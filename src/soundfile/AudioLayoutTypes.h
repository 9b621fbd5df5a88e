// The Core Audio layout tags of the channel configurations.  The records
// themselves (stream description, channel layout) are the platform's
// (CoreAudioTypes.h).
#pragma once

#include "CoreAudioTypes.h"
#include "MacTypes.h"

#include <cstddef>

// Layout tags by channel configuration (high 16 bits: the layout, low 16
// bits: the channel count).
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_Mono = (100u << 16) | 1;
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_Stereo = (101u << 16) | 2;
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_AC3_3_0 = (150u << 16) | 3;      // 0x960003
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_Quadraphonic = (108u << 16) | 4; // 0x6C0004
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_MPEG_4_0_B = (116u << 16) | 4;   // 0x740004
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_MPEG_5_0_B = (118u << 16) | 5;   // 0x760005
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_MPEG_5_1_A = (121u << 16) | 6;   // 0x790006
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_AudioUnit_6_0 = (139u << 16) | 6; // 0x8B0006
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_MPEG_6_1_A = (125u << 16) | 7;   // 0x7D0007
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_MPEG_7_1_B = (127u << 16) | 8;   // 0x7F0008
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_TMH_10_2_std = (145u << 16) | 16; // 0x910010
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_DiscreteInOrder = (147u << 16) | 0; // 0x930000
