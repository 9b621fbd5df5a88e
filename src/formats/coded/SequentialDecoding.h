// SequentialDecoding: the reading side of a code stream that decodes only
// from its start (every code depends on all those before it: G.72x,
// Dialogic ADPCM, G.729).  It knows how far the decoder has gone; a read
// of an earlier frame restarts the decoder at the stream's start, a read
// further on decodes on from where it stands and drops the frames before
// the one asked for.  The last unit decoded is kept, so that a read that
// starts inside it (a block boundary inside a G.729 speech frame) goes on
// without a restart.
//
// A unit is what one decoding step yields: one sample of an ADPCM code,
// 80 of a G.729 frame.  The decoder's own state stays with its file; Read
// is given how to reset it and how to decode a run of units.
#pragma once

#include "MacTypes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

class SequentialDecoding {
public:
    explicit SequentialDecoding(UInt32 unitFrames = 1) : m_unitFrames(unitFrames), m_last(unitFrames) {}

    // The next read decodes from the stream's start.
    void Restart()
    {
        m_decodedUnits = 0;
        m_haveLast = false;
    }

    // Puts frames [frame, frame + frames) into `out`.  `reset()` readies the
    // decoder for the stream's first unit; `decode(first, units, samples)`
    // decodes `units` units from unit `first` (always the next one) into
    // `samples`, at most `chunkUnits` at a time.  An error of `decode`
    // restarts the stream (the decoder's place is no longer known) and is
    // returned.
    template <class Reset, class Decode>
    OSErr Read(UInt32 frame, UInt32 frames, int16_t* out, UInt32 chunkUnits, Reset reset, Decode decode)
    {
        const UInt64 end = UInt64(frame) + frames;
        const UInt64 firstUnit = frame / m_unitFrames;
        if (m_haveLast && firstUnit + 1 == m_decodedUnits)
            Keep(m_last.data(), firstUnit, 1, frame, end, out);
        else if (firstUnit < m_decodedUnits)
            Restart();
        chunkUnits = std::max<UInt32>(chunkUnits, 1);
        while (UInt64(m_decodedUnits) * m_unitFrames < end) {
            if (m_decodedUnits == 0)
                reset();
            const UInt64 unitsLeft = (end - UInt64(m_decodedUnits) * m_unitFrames + m_unitFrames - 1) / m_unitFrames;
            const UInt32 units = UInt32(std::min<UInt64>(unitsLeft, chunkUnits));
            m_samples.resize(std::size_t(units) * m_unitFrames);
            if (const OSErr err = decode(m_decodedUnits, units, m_samples.data())) {
                Restart();
                return err;
            }
            Keep(m_samples.data(), m_decodedUnits, units, frame, end, out);
            std::memcpy(m_last.data(), m_samples.data() + std::size_t(units - 1) * m_unitFrames,
                        std::size_t(m_unitFrames) * sizeof(int16_t));
            m_haveLast = true;
            m_decodedUnits += units;
        }
        return noErr;
    }

private:
    // Copies what of `units` decoded units from unit `first` falls in
    // [frame, end) to its place in `out`.
    void Keep(const int16_t* samples, UInt64 first, UInt32 units, UInt64 frame, UInt64 end, int16_t* out) const
    {
        const UInt64 from = std::max(first * m_unitFrames, frame);
        const UInt64 to = std::min((first + units) * m_unitFrames, end);
        if (from < to)
            std::memcpy(out + (from - frame), samples + (from - first * m_unitFrames),
                        std::size_t(to - from) * sizeof(int16_t));
    }

    UInt32 m_unitFrames;
    UInt32 m_decodedUnits = 0;     // units the decoder has consumed
    bool m_haveLast = false;
    std::vector<int16_t> m_last;   // the last unit decoded
    std::vector<int16_t> m_samples;
};
