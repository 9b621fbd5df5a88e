// An in-memory sound file for the processing tests: the audio is a byte
// vector in the base's block layout (big-endian, interleaved), and every
// block call is counted and can be made to fail.
#pragma once

#include "CSoundFile.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

class ProcTestFile : public CSoundFile {
public:
    ProcTestFile(UInt16 channels, SInt16 bits, double rate = 44100.0, SInt16 state = 0)
    {
        m_numChannels = channels;
        m_numBits = bits;
        m_sampleRate = rate;
        m_sampleFormat = state;
        m_isOpen = true;
    }

    std::size_t SampleBytes() const { return std::size_t(GetNumBits() / 8); }
    std::size_t FrameBytes() const { return std::size_t(GetNumChannels()) * SampleBytes(); }

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

    OSErr Open() override { return noErr; }
    OSErr Close() override { return noErr; }

    OSErr ReadBlock(UInt32 frame) override
    {
        ++readBlockCalls;
        readFrames.push_back(frame);
        if (failReadAt >= 0 && readBlockCalls > failReadAt)
            return readError;
        const std::size_t fb = FrameBytes();
        std::memset(GetReadBuffer(), 0, std::size_t(GetBufferFrames()) * fb);
        if (frame < m_numFrames) {
            const std::size_t frames = std::min<std::size_t>(GetBufferFrames(), m_numFrames - frame);
            std::memcpy(GetReadBuffer(), data.data() + std::size_t(frame) * fb, frames * fb);
        }
        m_readBufferStart = frame;
        return noErr;
    }

    OSErr PrepareWriteBlock(UInt32 frame) override
    {
        const std::size_t fb = FrameBytes();
        std::memset(GetWriteBuffer(), 0, std::size_t(GetBufferFrames()) * fb);
        if (frame < m_numFrames) {
            const std::size_t frames = std::min<std::size_t>(GetBufferFrames(), m_numFrames - frame);
            std::memcpy(GetWriteBuffer(), data.data() + std::size_t(frame) * fb, frames * fb);
        }
        return noErr;
    }

    OSErr WriteBlock(UInt32 frames, UInt32 frame) override
    {
        ++writeBlockCalls;
        writes.emplace_back(frame, frames);
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
    OSType GetFileType() const override { return FOUR_CHAR_CODE("PTst"); }
    QString GetFormatName() const override { return QStringLiteral("Processing test"); }

    std::vector<UInt8> data;
    int readBlockCalls = 0;
    int writeBlockCalls = 0;
    std::vector<UInt32> readFrames;
    std::vector<std::pair<UInt32, UInt32>> writes;  // (frame, frames)
    int failReadAt = -1;   // calls that succeed before the failure; -1 never
    int failWriteAt = -1;
    OSErr readError = -36;
    OSErr writeError = -34;
};
