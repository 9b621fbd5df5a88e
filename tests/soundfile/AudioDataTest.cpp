// AudioData: buffer lists with zero-filled blocks, resizing, and what is
// left after an allocation fails.
#include "AudioData.h"

#include "error_code_exception.h"
#include "throw_helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

// An allocator that fails from the n-th call on (counting from 1).
int g_calls = 0;
int g_failFrom = 0;
void* FailingCalloc(size_t count, size_t size)
{
    ++g_calls;
    if (g_failFrom > 0 && g_calls >= g_failFrom)
        return nullptr;
    return std::calloc(count, size);
}

class AudioDataTest : public ::testing::Test {
protected:
    void TearDown() override { AudioData::SetAllocator(nullptr); }
    static void FailFrom(int call)
    {
        g_calls = 0;
        g_failFrom = call;
        AudioData::SetAllocator(&FailingCalloc);
    }
};

bool AllZero(const AudioBuffer* buffer)
{
    const auto* bytes = static_cast<const unsigned char*>(buffer->mData);
    for (UInt32 i = 0; i < buffer->mDataByteSize; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

TEST_F(AudioDataTest, BuffersAreZeroFilledAndIndexed)
{
    AudioData data(3, 2, 4096);
    ASSERT_NE(data.BufferList(), nullptr);
    EXPECT_EQ(data.BufferList()->mNumberBuffers, 3u);
    EXPECT_EQ(data.ByteSize(), 4096u);
    for (UInt32 i = 0; i < 3; ++i) {
        AudioBuffer* buffer = data.Channel(i);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(buffer->mNumberChannels, 2u);
        EXPECT_EQ(buffer->mDataByteSize, 4096u);
        ASSERT_NE(buffer->mData, nullptr);
        EXPECT_TRUE(AllZero(buffer));
        std::memset(buffer->mData, 0x5A, buffer->mDataByteSize); // every byte is writable
    }
    EXPECT_EQ(data.Channel(3), nullptr);

    AudioData none(0, 2, 4096);
    EXPECT_EQ(none.BufferList()->mNumberBuffers, 0u);
    EXPECT_EQ(none.Channel(0), nullptr);
}

TEST_F(AudioDataTest, ResizeGivesFreshZeroedBlocks)
{
    AudioData data(2, 1, 16);
    std::memset(data.Channel(0)->mData, 0xFF, 16);
    for (UInt32 size : {100000u, 8u, 0u, 512u}) {
        data.Resize(size);
        EXPECT_EQ(data.ByteSize(), size);
        for (UInt32 i = 0; i < 2; ++i) {
            ASSERT_NE(data.Channel(i)->mData, nullptr);
            EXPECT_EQ(data.Channel(i)->mDataByteSize, size);
            EXPECT_EQ(data.Channel(i)->mNumberChannels, 1u);
            EXPECT_TRUE(AllZero(data.Channel(i)));
        }
        std::memset(data.Channel(1)->mData, 0x11, size);
    }
}

TEST_F(AudioDataTest, FailedConstructionThrowsTheNullPointerCode)
{
    // The list itself, then each of the blocks in turn.  Under the
    // sanitizer build a leak of any earlier allocation fails the run.
    for (int failing = 1; failing <= 4; ++failing) {
        FailFrom(failing);
        try {
            AudioData data(3, 2, 64);
            FAIL() << "no exception when allocation " << failing << " failed";
        } catch (const error_code_exception& e) {
            EXPECT_EQ(e.code(), kNullPointerErrorCode);
        }
    }
}

TEST_F(AudioDataTest, FailedResizeLeavesAValidEmptyObject)
{
    for (int failing = 1; failing <= 3; ++failing) {
        AudioData data(3, 2, 64);
        FailFrom(failing);
        try {
            data.Resize(1024);
            FAIL() << "no exception when allocation " << failing << " failed";
        } catch (const error_code_exception& e) {
            EXPECT_EQ(e.code(), kNullPointerErrorCode);
        }
        // No blocks, size 0; the list and its buffer records remain.
        EXPECT_EQ(data.ByteSize(), 0u);
        ASSERT_NE(data.BufferList(), nullptr);
        EXPECT_EQ(data.BufferList()->mNumberBuffers, 3u);
        for (UInt32 i = 0; i < 3; ++i) {
            EXPECT_EQ(data.Channel(i)->mData, nullptr);
            EXPECT_EQ(data.Channel(i)->mDataByteSize, 0u);
            EXPECT_EQ(data.Channel(i)->mNumberChannels, 2u);
        }
        // It can be resized again once memory is back, and destroyed either
        // way (no double free).
        AudioData::SetAllocator(nullptr);
        if (failing == 2) {
            data.Resize(32);
            EXPECT_EQ(data.ByteSize(), 32u);
            EXPECT_TRUE(AllZero(data.Channel(2)));
        }
    }
}

} // namespace
