#include "AudioData.h"

#include "throw_helpers.h"

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<AudioData::Allocator> g_allocator{nullptr};

} // namespace

void AudioData::SetAllocator(Allocator allocator)
{
    g_allocator.store(allocator);
}

void* AudioData::Allocate(size_t count, size_t size)
{
    // A block of 0 bytes still gets a pointer of its own, so that a null
    // result always means failure.
    if (size == 0)
        size = 1;
    const Allocator allocator = g_allocator.load();
    return allocator ? allocator(count, size) : std::calloc(count, size);
}

AudioData::AudioData(UInt32 bufferCount, UInt32 channelsPerBuffer, UInt32 byteSize)
    : byteSize_(byteSize)
{
    list_ = static_cast<AudioBufferList*>(Allocate(1, AudioBufferListSize(bufferCount)));
    THROW_IF_NULL(list_);
    list_->mNumberBuffers = bufferCount;
    try {
        for (UInt32 i = 0; i < bufferCount; ++i) {
            AudioBuffer& buffer = list_->mBuffers[i];
            buffer.mNumberChannels = channelsPerBuffer;
            buffer.mDataByteSize = byteSize;
            buffer.mData = Allocate(1, byteSize);
            THROW_IF_NULL(buffer.mData);
        }
    } catch (...) {
        FreeBlocks();
        std::free(list_);
        list_ = nullptr;
        throw;
    }
}

AudioData::~AudioData()
{
    FreeBlocks();
    std::free(list_);
}

AudioBuffer* AudioData::Channel(UInt32 index)
{
    if (index >= list_->mNumberBuffers)
        return nullptr;
    return &list_->mBuffers[index];
}

void AudioData::FreeBlocks()
{
    if (!list_)
        return;
    for (UInt32 i = 0; i < list_->mNumberBuffers; ++i) {
        std::free(list_->mBuffers[i].mData);
        list_->mBuffers[i].mData = nullptr;
        list_->mBuffers[i].mDataByteSize = 0;
    }
}

void AudioData::Resize(UInt32 byteSize)
{
    FreeBlocks();
    byteSize_ = 0;
    try {
        for (UInt32 i = 0; i < list_->mNumberBuffers; ++i) {
            AudioBuffer& buffer = list_->mBuffers[i];
            buffer.mData = Allocate(1, byteSize);
            THROW_IF_NULL(buffer.mData);
            buffer.mDataByteSize = byteSize;
        }
    } catch (...) {
        FreeBlocks();
        throw;
    }
    byteSize_ = byteSize;
}
