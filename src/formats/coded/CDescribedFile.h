// CDescribedFile<Base>: Open and ProbeHeader for the coded files whose
// opening is one step, OpenAndDescribe (open the data fork, read what
// describes the audio).  Open closes the file again when that step fails
// and adds the whole-file region when it succeeds; ProbeHeader runs the
// step and closes the file, reporting no regions.  `Base` is the sound-file
// class the format derives from.
//
// It also holds the reading steps of the decoders of mono 16-bit audio:
// BeginBlockRead, and DecodeMonoBlock, which puts a block's decoded samples
// big-endian into the read buffer with silence after the file's end.
#pragma once

#include "open_steps.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

template <class Base>
class CDescribedFile : public Base {
public:
    using Base::Base;

    OSErr Open() override
    {
        if (const OSErr err = OpenAndDescribe())
            return CloseAfterFailedOpen(err, this->m_isOpen, this->m_refNum);
        this->AddFileRegion();
        return noErr;
    }

    OSErr ProbeHeader(SInt16* result) override
    {
        if (result)
            *result = 0;
        // The step sets the data fork's reference, so it runs before the
        // reference is read for the close.
        const OSErr err = OpenAndDescribe();
        return CloseAfterProbe(err, this->m_isOpen, this->m_refNum);
    }

protected:
    // The start of every block read: the file open, the read buffer
    // allocated, the block placed at `frame`.
    OSErr BeginBlockRead(UInt32 frame)
    {
        if (!this->m_isOpen)
            return kFileNotOpenedErr;
        if (const OSErr err = this->AllocateReadBuffer())
            return err;
        this->m_readBufferStart = frame;
        return noErr;
    }

    // Silences the mono 16-bit read block and returns how many of its
    // frames, from `frame`, the file holds.
    UInt32 SilenceMonoBlock(UInt32 frame)
    {
        std::memset(this->m_readBuffer, 0, std::size_t(this->m_bufferFrames) * this->m_numChannels * 2);
        return this->BlockFramesFrom(frame);
    }

    // Stores `count` samples big-endian in the read block from its frame `at`.
    void StoreMonoSamples(const int16_t* samples, UInt32 count, UInt32 at)
    {
        for (UInt32 i = 0; i < count; ++i) {
            this->m_readBuffer[2 * (at + i)] = UInt8(UInt16(samples[i]) >> 8);
            this->m_readBuffer[2 * (at + i) + 1] = UInt8(samples[i]);
        }
    }

    // Reads the mono 16-bit block at `frame` through `decode(first, frames,
    // samples)`; `noMemoryErr` when the samples cannot be held.
    template <class Decode>
    OSErr DecodeMonoBlock(UInt32 frame, OSErr noMemoryErr, Decode decode)
    {
        if (const OSErr err = BeginBlockRead(frame))
            return err;
        const UInt32 frames = SilenceMonoBlock(frame);
        if (frames == 0)
            return noErr;
        std::vector<int16_t> samples;
        try {
            samples.resize(frames);
        } catch (const std::bad_alloc&) {
            return noMemoryErr;
        }
        if (const OSErr err = decode(frame, frames, samples.data()))
            return err;
        StoreMonoSamples(samples.data(), frames, 0);
        return noErr;
    }

    // Opens the data fork and describes the audio; on an error the fork may
    // be left open (the callers close it).
    virtual OSErr OpenAndDescribe() = 0;
};
