// The sequential decoding of the G.72x, Dialogic ADPCM and G.729 readers,
// over a stream whose every sample depends on all before it: reads in any
// order give what one straight read gives, an earlier frame restarts the
// decoder, a read inside the last unit decoded or further on does not, and
// a failed decode starts the next read afresh.
#include "SequentialDecoding.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Shape {
    UInt32 unitFrames;
    UInt32 chunkUnits;
};

class SequentialDecodingTest : public ::testing::TestWithParam<Shape> {
protected:
    // A decoder whose output carries its whole history: sample n is the sum
    // of the unit numbers decoded before it, plus n.
    OSErr Read(UInt32 frame, UInt32 frames, std::vector<int16_t>* out)
    {
        out->assign(frames, -1);
        const UInt32 unit = GetParam().unitFrames;
        return m_sequence.Read(
            frame, frames, out->data(), GetParam().chunkUnits, [this] {
                ++m_resets;
                m_state = 0;
                m_expected = 0;
            },
            [this, unit](UInt32 first, UInt32 units, int16_t* samples) {
                if (first + units > m_failAtUnit)
                    return OSErr(ioErr);
                EXPECT_EQ(first, m_expected) << "a unit skipped or repeated";
                for (UInt32 u = first; u < first + units; ++u) {
                    for (UInt32 i = 0; i < unit; ++i)
                        *samples++ = int16_t(m_state + u * unit + i);
                    m_state += u;
                }
                m_expected = first + units;
                return OSErr(noErr);
            });
    }

    std::vector<int16_t> Straight(UInt32 frame, UInt32 frames) const
    {
        std::vector<int16_t> all;
        int state = 0;
        const UInt32 unit = GetParam().unitFrames;
        for (UInt32 u = 0; all.size() < frame + frames; ++u) {
            for (UInt32 i = 0; i < unit; ++i)
                all.push_back(int16_t(state + u * unit + i));
            state += int(u);
        }
        return std::vector<int16_t>(all.begin() + frame, all.begin() + frame + frames);
    }

    SequentialDecoding m_sequence{GetParam().unitFrames};
    int m_resets = 0;
    int m_state = 0;
    UInt32 m_expected = 0;
    UInt32 m_failAtUnit = ~UInt32(0);
};

TEST_P(SequentialDecodingTest, AnyOrderOfReadsGivesTheStraightRead)
{
    // {frame, frames, whether the decoder starts again}
    struct Step {
        UInt32 frame, frames;
        bool restarts;
    };
    const UInt32 u = GetParam().unitFrames;
    const std::vector<Step> steps = {
        {0, 5 * u + 1, true},         // ends one frame into a unit
        {5 * u + 1, 3 * u, false},    // goes on from there
        {8 * u, 2, false},            // starts inside the last unit decoded
        {20 * u + 3, 7, false},       // skips ahead: the head is dropped
        {4 * u, 10, true},            // an earlier frame
        {4 * u + 10, 3, false},
    };
    int resets = 0;
    for (const Step& s : steps) {
        std::vector<int16_t> got;
        ASSERT_EQ(Read(s.frame, s.frames, &got), noErr);
        EXPECT_EQ(got, Straight(s.frame, s.frames)) << s.frame;
        resets += s.restarts;
        EXPECT_EQ(m_resets, resets) << s.frame;
    }

    // A failed decode: the error, and the next read starts from the start.
    m_failAtUnit = 30;
    std::vector<int16_t> got;
    EXPECT_EQ(Read(29 * u, 2 * u, &got), ioErr);
    m_failAtUnit = ~UInt32(0);
    ASSERT_EQ(Read(29 * u, 2 * u, &got), noErr);
    EXPECT_EQ(got, Straight(29 * u, 2 * u));
    EXPECT_EQ(m_resets, resets + 1);
}

INSTANTIATE_TEST_SUITE_P(Shapes, SequentialDecodingTest,
                         ::testing::Values(Shape{1, 1}, Shape{1, 4096}, Shape{80, 1}, Shape{80, 3}),
                         [](const auto& info) {
                             return "unit" + std::to_string(info.param.unitFrames) + "_chunk" +
                                    std::to_string(info.param.chunkUnits);
                         });

} // namespace
