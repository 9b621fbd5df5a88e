// The Core Audio buffer-list layout, as the audio extraction and playback
// code hands buffers around: a buffer count, then per buffer its channel
// count, data byte size and data pointer.
#pragma once

#include "MacTypes.h"

#include <cstddef>

extern "C++" {

struct AudioBuffer {
    UInt32 mNumberChannels;
    UInt32 mDataByteSize;
    void* mData;
};

// Variable length: mNumberBuffers records follow the count (at least one
// record's room is always declared).
struct AudioBufferList {
    UInt32 mNumberBuffers;
    AudioBuffer mBuffers[1];
};

// Bytes of an AudioBufferList holding `bufferCount` buffers (never less
// than sizeof(AudioBufferList)).
constexpr size_t AudioBufferListSize(UInt32 bufferCount)
{
    const size_t size = offsetof(AudioBufferList, mBuffers) + size_t(bufferCount) * sizeof(AudioBuffer);
    return size < sizeof(AudioBufferList) ? sizeof(AudioBufferList) : size;
}

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

} // extern "C++"
