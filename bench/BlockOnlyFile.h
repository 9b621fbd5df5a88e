// A sound file without a file, for the kernel benchmarks: its read block is
// filled once with noise (each byte masked with `noiseMask`) and written
// blocks are dropped, so that only the processing is timed.
#pragma once

#include "CSoundFile.h"

#include <random>

class BlockOnlyFile : public CSoundFile {
public:
    BlockOnlyFile(UInt16 channels, SInt16 bits, double rate, UInt32 frames, UInt8 noiseMask = 0xFF)
        : noiseMask_(noiseMask)
    {
        m_numChannels = channels;
        m_numBits = bits;
        m_sampleRate = rate;
        m_numFrames = frames;
        m_isOpen = true;
    }
    OSErr Open() override { return noErr; }
    OSErr Close() override { return noErr; }
    OSErr ReadBlock(UInt32 frame) override
    {
        if (!filled_) {
            std::mt19937 rng(1);
            const std::size_t bytes = std::size_t(GetBufferFrames()) * GetNumChannels() * (GetNumBits() / 8);
            for (std::size_t i = 0; i < bytes; ++i)
                GetReadBuffer()[i] = UInt8(rng() & noiseMask_);
            filled_ = true;
        }
        m_readBufferStart = frame;
        return noErr;
    }
    OSErr LoadWrittenFrames(UInt32, UInt32* held) override
    {
        *held = 0;
        return noErr;
    }
    OSErr WriteBlock(UInt32, UInt32) override { return noErr; }
    OSErr SetFilePos(UInt32) override { return noErr; }
    OSErr ProbeHeader(SInt16* result) override
    {
        if (result)
            *result = 0;
        return noErr;
    }
    OSType GetFileType() const override { return FOUR_CHAR_CODE("Bnch"); }
    QString GetFormatName() const override { return QStringLiteral("Benchmark"); }

private:
    UInt8 noiseMask_;
    bool filled_ = false;
};
