// A Core Audio buffer list that owns one zero-filled data block per buffer:
// what the movie reader hands to the audio extraction and reads the decoded
// samples from.
#pragma once

#include "CoreAudioTypes.h"

#include <cstddef>

class AudioData {
public:
    // The zero-filling allocator behind every list and block (calloc);
    // replaceable so that allocation failures can be exercised.
    using Allocator = void* (*)(size_t count, size_t size);

    // `bufferCount` buffers of `channelsPerBuffer` channels, each with a
    // zero-filled block of `byteSize` bytes.  Throws error_code_exception
    // with the null-pointer code when an allocation fails; nothing
    // allocated is kept then.
    AudioData(UInt32 bufferCount, UInt32 channelsPerBuffer, UInt32 byteSize);
    ~AudioData();

    AudioData(const AudioData&) = delete;
    AudioData& operator=(const AudioData&) = delete;

    // The list, for the extraction call.  Never null.
    AudioBufferList* BufferList() { return list_; }
    // The index-th buffer record, or null when index >= the buffer count.
    AudioBuffer* Channel(UInt32 index);
    // The current byte size of every buffer.
    UInt32 ByteSize() const { return byteSize_; }

    // Gives every buffer a new zero-filled block of `byteSize` bytes.  When
    // an allocation fails, every block is freed and the object stays valid
    // but empty (each buffer without data and of size 0, ByteSize() 0); the
    // exception passes on to the caller.
    void Resize(UInt32 byteSize);

    // The allocator in use; SetAllocator(nullptr) restores calloc.
    static void SetAllocator(Allocator allocator);

private:
    void FreeBlocks();
    static void* Allocate(size_t count, size_t size);

    AudioBufferList* list_ = nullptr;
    UInt32 byteSize_ = 0;
};
