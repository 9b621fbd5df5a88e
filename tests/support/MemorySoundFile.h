// The one in-memory sound file of the tests: the audio lives in a byte
// vector in the base's block layout (big-endian, interleaved), so the base
// class's buffered I/O can be driven without a real format.  Every block
// call is counted and can be made to fail (at once, or after a number of
// calls).  Header-only: tests that use it link the sound-file library.
#pragma once

#include "CSoundFile.h"
#include "SoundFileSwitches.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

class MemorySoundFile : public CSoundFile {
public:
    static constexpr OSType kType = FOUR_CHAR_CODE("Memo");

    // Counters shared by every object (tests reset them).
    static int& destroyedCount()
    {
        static int count = 0;
        return count;
    }

    MemorySoundFile() = default;
    MemorySoundFile(UInt16 channels, SInt16 bits, double rate = 44100.0) { SetShape(channels, bits, rate); }
    ~MemorySoundFile() override { ++destroyedCount(); }

    void SetShape(UInt16 channels, SInt16 bits, double rate = 44100.0)
    {
        m_numChannels = channels;
        m_numBits = bits;
        m_sampleRate = rate;
    }
    void SetNumFrames(UInt32 frames) { m_numFrames = frames; }
    void SetSampleFormat(SInt16 code) { m_sampleFormat = code; }
    void SetOpenFlag(bool open) { m_isOpen = open; }

    // Bytes per frame as the base lays out the block.
    std::size_t FrameBytes() const { return std::size_t(GetNumChannels()) * std::size_t(GetNumBits() / 8); }

    std::size_t SampleBytes() const { return std::size_t(GetNumBits() / 8); }

    // Samples as integers of the word (sign-extended on the way back).
    void SetSamples(const std::vector<SInt32>& samples)
    {
        const std::size_t b = SampleBytes();
        data.assign(samples.size() * b, 0);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const UInt32 v = UInt32(samples[i]);
            for (std::size_t k = 0; k < b; ++k)
                data[i * b + k] = UInt8(v >> (8 * (b - 1 - k)));
        }
        m_numFrames = UInt32(samples.size() / GetNumChannels());
    }
    std::vector<SInt32> Samples() const
    {
        const std::size_t b = SampleBytes();
        std::vector<SInt32> out(data.size() / b);
        for (std::size_t i = 0; i < out.size(); ++i) {
            UInt32 v = 0;
            for (std::size_t k = 0; k < b; ++k)
                v = (v << 8) | data[i * b + k];
            const unsigned shift = unsigned(32 - 8 * b);
            out[i] = shift ? SInt32(v << shift) >> shift : SInt32(v);
        }
        return out;
    }
    void SetTimeStampValue(UInt64 stamp) { SetTimeStamp64(stamp); }
    void SetFrameCount(UInt32 frames) { m_numFrames = frames; }

    // Replaces the audio; the frame count follows.
    void SetData(const std::vector<UInt8>& bytes)
    {
        data = bytes;
        m_numFrames = FrameBytes() ? UInt32(data.size() / FrameBytes()) : 0;
    }

    // Regions the next Open "reads" from the file, handled as the format
    // readers handle theirs: regions over the whole file are dropped while
    // "Ignore Regions Containing Whole File" is on; names are made unique
    // while "Skip Bad Region" is off; then the whole-file region is added.
    std::vector<SFTRegion> regionsInFile;

    OSErr Open() override
    {
        m_isOpen = true;
        for (const SFTRegion& r : regionsInFile) {
            if (GetIgnoreRegionsContainingWholeFile() && r.start == 0 && r.end >= m_numFrames)
                continue;
            if (OSErr err = AddRegion(&r))
                return err;
        }
        if (!GetSkipBadRegion())
            if (OSErr err = MakeRegionNamesUnique())
                return err;
        return AddFileRegion();
    }

    OSErr Close() override
    {
        ++closeCalls;
        closedAfterFailure = IsClosingAfterFailure();
        m_isOpen = false;
        return closeResult;
    }

    OSErr ReadBlock(UInt32 frame) override
    {
        ++readBlockCalls;
        readFrames.push_back(frame);
        if (readBlockResult)
            return readBlockResult;
        if (failReadAt >= 0 && readBlockCalls > failReadAt)
            return readError;
        return LoadBlock(GetReadBuffer(), frame);
    }

    OSErr LoadWrittenFrames(UInt32 frame, UInt32* held) override
    {
        ++prepareCalls;
        *held = frame < m_numFrames ? std::min<UInt32>(GetBufferFrames(), m_numFrames - frame) : 0;
        return LoadBlock(GetWriteBuffer(), frame);
    }

    // The stored frames from `frame` into a block buffer, silence past the end.
    OSErr LoadBlock(UInt8* block, UInt32 frame)
    {
        const std::size_t fb = FrameBytes();
        std::memset(block, 0, std::size_t(GetBufferFrames()) * fb);
        if (frame < m_numFrames) {
            const std::size_t frames = std::min<std::size_t>(GetBufferFrames(), m_numFrames - frame);
            std::memcpy(block, data.data() + std::size_t(frame) * fb, frames * fb);
        }
        m_readBufferStart = frame;
        return noErr;
    }

    OSErr WriteBlock(UInt32 frames, UInt32 frame) override
    {
        ++writeBlockCalls;
        writes.emplace_back(frame, frames);
        if (writeBlockResult)
            return writeBlockResult;
        if (failWriteAt >= 0 && writeBlockCalls > failWriteAt)
            return writeError;
        const std::size_t fb = FrameBytes();
        const std::size_t needed = (std::size_t(frame) + frames) * fb;
        if (data.size() < needed)
            data.resize(needed, 0);
        std::memcpy(data.data() + std::size_t(frame) * fb, GetWriteBuffer(), std::size_t(frames) * fb);
        m_numFrames = std::max<UInt32>(m_numFrames, frame + frames);
        return noErr;
    }

    OSErr SetFilePos(UInt32) override { return noErr; }
    OSErr ProbeHeader(SInt16* result) override
    {
        if (result)
            *result = 0;
        return noErr;
    }
    OSType GetFileType() const override { return kType; }
    QString GetFormatName() const override { return QStringLiteral("Memory"); }

    std::vector<UInt8> data;
    int readBlockCalls = 0;
    int prepareCalls = 0;
    int writeBlockCalls = 0;
    int closeCalls = 0;
    bool closedAfterFailure = false;
    OSErr closeResult = noErr;
    OSErr readBlockResult = noErr;
    OSErr writeBlockResult = noErr;
    std::vector<UInt32> readFrames;
    std::vector<std::pair<UInt32, UInt32>> writes;  // (frame, frames)
    int failReadAt = -1;   // calls that succeed before the failure; -1 never
    int failWriteAt = -1;
    OSErr readError = -36;
    OSErr writeError = -34;
};
