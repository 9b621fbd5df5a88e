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

} // extern "C++"
