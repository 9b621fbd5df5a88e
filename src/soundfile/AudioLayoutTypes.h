// The Core Audio records that the sound-file layer hands out: the stream
// description of a file's linear PCM and its channel layout.  Only plain
// data; laid out as on the Mac so that a layout can be written as it stands
// into a CAF 'chan' chunk after byte swapping.
#pragma once

#include "MacTypes.h"

#include <cstddef>

typedef UInt32 AudioChannelLayoutTag;
typedef UInt32 AudioChannelLabel;
typedef UInt32 AudioChannelBitmap;
typedef UInt32 AudioChannelFlags;

struct AudioStreamBasicDescription {
    double mSampleRate = 0.0;
    UInt32 mFormatID = 0;
    UInt32 mFormatFlags = 0;
    UInt32 mBytesPerPacket = 0;
    UInt32 mFramesPerPacket = 0;
    UInt32 mBytesPerFrame = 0;
    UInt32 mChannelsPerFrame = 0;
    UInt32 mBitsPerChannel = 0;
    UInt32 mReserved = 0;
};

constexpr UInt32 kAudioFormatLinearPCM = FOUR_CHAR_CODE("lpcm");
constexpr UInt32 kAudioFormatFlagIsFloat = 1u << 0;
constexpr UInt32 kAudioFormatFlagIsBigEndian = 1u << 1;
constexpr UInt32 kAudioFormatFlagIsSignedInteger = 1u << 2;
constexpr UInt32 kAudioFormatFlagIsPacked = 1u << 3;

struct AudioChannelDescription {
    AudioChannelLabel mChannelLabel;
    AudioChannelFlags mChannelFlags;
    float mCoordinates[3];
};

// 12 bytes of header, then mNumberChannelDescriptions descriptions of 20
// bytes each (the array is declared with one element, as on the Mac).
struct AudioChannelLayout {
    AudioChannelLayoutTag mChannelLayoutTag;
    AudioChannelBitmap mChannelBitmap;
    UInt32 mNumberChannelDescriptions;
    AudioChannelDescription mChannelDescriptions[1];
};

static_assert(sizeof(AudioChannelDescription) == 20, "channel description is 20 bytes");
static_assert(offsetof(AudioChannelLayout, mChannelDescriptions) == 12, "layout header is 12 bytes");

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
