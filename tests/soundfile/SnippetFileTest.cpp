// The snippet file over an in-memory input, and the snip window rules.
#include "CSnippetFile.h"
#include "CoreFileTypes.h"
#include "CreateSoundFile.h"
#include "MemorySoundFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr UInt32 kFrames = 4000;

// A mono 16-bit file whose frame f holds the value f.
MemorySoundFile* MakeRamp(UInt32 frames = kFrames)
{
    auto* file = new MemorySoundFile(1, 16, 8000.0);
    std::vector<UInt8> bytes(frames * 2);
    for (UInt32 f = 0; f < frames; ++f) {
        bytes[2 * f] = UInt8(f >> 8);
        bytes[2 * f + 1] = UInt8(f);
    }
    file->SetData(bytes);
    return file;
}

int FrameValue(double sample)
{
    return int(sample / kScale16 + (sample >= 0 ? 0.5 : -0.5));
}

} // namespace

TEST(SnippetFileTest, WindowReadsTheInnerFramesThroughEveryReader)
{
    MemorySoundFile* inner = MakeRamp();
    CSnippetFile snippet;
    snippet.SetInnerFile(inner);
    ASSERT_EQ(snippet.Open(), noErr);
    EXPECT_EQ(snippet.GetNumFrames(), kFrames);  // whole file until a window is set
    EXPECT_EQ(snippet.GetSampleRate(), 8000.0);
    EXPECT_EQ(snippet.GetNumChannels(), 1);
    EXPECT_EQ(snippet.GetNumBits(), 16);
    ASSERT_EQ(snippet.SetWindow(1000, 3000), noErr);
    EXPECT_EQ(snippet.GetNumFrames(), 2000u);

    std::vector<double> d(3000, -9.0);
    UInt32 count = 5;
    ASSERT_EQ(snippet.ReadFrames(0, &count, d.data()), noErr);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(FrameValue(d[0]), 1000);
    EXPECT_EQ(FrameValue(d[4]), 1004);

    // Reads stop at the window's end, not the inner file's.
    count = 3000;
    ASSERT_EQ(snippet.ReadFrames(1990, &count, d.data()), noErr);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(FrameValue(d[9]), 2999);
    count = 10;
    EXPECT_EQ(snippet.ReadFrames(2000, &count, d.data()), noErr);
    EXPECT_EQ(count, 0u);

    std::vector<double> left(100), right(100);
    count = 100;
    ASSERT_EQ(snippet.ReadStereoFrames(50, &count, left.data(), right.data()), noErr);
    EXPECT_EQ(FrameValue(left[0]), 1050);
    EXPECT_EQ(FrameValue(right[99]), 1149);
    count = 100;
    ASSERT_EQ(snippet.ReadChannelFrames(0, 1500, &count, d.data()), noErr);
    EXPECT_EQ(FrameValue(d[0]), 2500);

    // The base's float readers go through the snippet's blocks.
    std::vector<float> f(3000);
    count = 3000;
    ASSERT_EQ(snippet.ReadFrames(0, &count, f.data()), noErr);
    EXPECT_EQ(count, 2000u);
    EXPECT_EQ(FrameValue(f[0]), 1000);
    EXPECT_EQ(FrameValue(f[1999]), 2999);

    // Blocks come from the inner file, moved by the window's start.
    ASSERT_EQ(snippet.AllocateReadBuffer(), noErr);
    ASSERT_EQ(snippet.ReadBlock(7), noErr);
    ASSERT_NE(snippet.GetReadBuffer(), nullptr);
    EXPECT_EQ(snippet.GetReadBuffer(), inner->GetReadBuffer());
    EXPECT_EQ((snippet.GetReadBuffer()[0] << 8) | snippet.GetReadBuffer()[1], 1007);

    EXPECT_EQ(snippet.Close(), noErr);
    EXPECT_EQ(inner->closeCalls, 1);
}

TEST(SnippetFileTest, ReadOnlyIdentityAndEmptyWindow)
{
    MemorySoundFile* inner = MakeRamp();
    const std::vector<UInt8> before = inner->data;
    CSnippetFile snippet;
    Str255 name;
    name[0] = 9;
    snippet.GetFileName(name);
    EXPECT_EQ(name[0], 0);  // no inner file: empty name
    EXPECT_EQ(snippet.Open(), kFileNotOpenedErr);

    snippet.SetInnerFile(inner);
    ASSERT_EQ(snippet.Open(), noErr);
    EXPECT_EQ(snippet.GetFileType(), MemorySoundFile::kType);
    EXPECT_EQ(snippet.GetFormatName(), "Snippet");

    std::vector<double> samples(100, 0.5);
    UInt32 count = 100;
    EXPECT_EQ(snippet.WriteFrames(0, &count, samples.data()), noErr);
    double* channels[1] = {samples.data()};
    EXPECT_EQ(snippet.WriteFrames(0, &count, channels), noErr);
    EXPECT_EQ(snippet.WriteChannelFrames(0, 0, &count, samples.data()), noErr);
    EXPECT_EQ(snippet.Create(1, 16, 0, nullptr, nullptr, 8000.0f), noErr);
    EXPECT_EQ(inner->data, before);
    EXPECT_EQ(inner->writeBlockCalls, 0);

    ASSERT_EQ(snippet.SetWindow(500, 500), noErr);
    EXPECT_EQ(snippet.GetNumFrames(), 0u);
    count = 10;
    EXPECT_EQ(snippet.ReadFrames(0, &count, samples.data()), noErr);
    EXPECT_EQ(count, 0u);

    // Windows outside the inner file are refused and change nothing.
    EXPECT_EQ(snippet.SetWindow(10, 5), paramErr);
    EXPECT_EQ(snippet.SetWindow(0, kFrames + 1), paramErr);
    EXPECT_EQ(snippet.GetNumFrames(), 0u);
}

TEST(SnippetFileTest, OwnershipOfTheInnerFile)
{
    MemorySoundFile::destroyedCount() = 0;
    {
        CSnippetFile snippet;
        snippet.SetInnerFile(MakeRamp());
    }
    EXPECT_EQ(MemorySoundFile::destroyedCount(), 1);

    // A caller that keeps its input hands it over without ownership.
    MemorySoundFile::destroyedCount() = 0;
    MemorySoundFile* kept = MakeRamp();
    auto* snippet = new CSnippetFile();
    snippet->SetInnerFile(kept, false);
    ASSERT_EQ(snippet->Open(), noErr);
    EXPECT_EQ(snippet->CloseAndDelete(true), noErr);
    EXPECT_EQ(MemorySoundFile::destroyedCount(), 0);
    EXPECT_EQ(kept->closeCalls, 1);
    delete kept;

    // Owned: CloseAndDelete closes and destroys both.
    MemorySoundFile::destroyedCount() = 0;
    MemorySoundFile* owned = MakeRamp();
    owned->closeResult = -36;
    snippet = new CSnippetFile();
    snippet->SetInnerFile(owned);
    ASSERT_EQ(snippet->Open(), noErr);
    EXPECT_EQ(snippet->CloseAndDelete(false), -36);
    EXPECT_EQ(MemorySoundFile::destroyedCount(), 1);
}

TEST(SnippetFileTest, MadeThroughTheFileTypeTable)
{
    RegisterCoreFileTypes();
    CSoundFile* file = CreateSoundFileObject(kSnippetFileType);
    ASSERT_NE(file, nullptr);
    EXPECT_NE(dynamic_cast<CSnippetFile*>(file), nullptr);
    EXPECT_EQ(file->GetFormatName(), "Snippet");
    delete file;
}

