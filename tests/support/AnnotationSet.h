// One set of annotations written to a file the same way everywhere: three
// markers (two numbered, one plain), a sustain and a release loop, the
// sampler record, two named regions with sync frames and time stamps, and
// the file's time stamp, placed within `n` frames.  The conformance suite
// checks what each format keeps of it; format tests check where it lands.
#pragma once

#include "CSoundFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace annotationset {

template <std::size_t N>
void SetName(unsigned char (&name)[N], const char* text)
{
    name[0] = UInt8(std::strlen(text));
    std::memcpy(name + 1, text, name[0]);
}

inline std::string Name(const unsigned char* pascal)
{
    return std::string(reinterpret_cast<const char*>(pascal + 1), pascal[0]);
}

constexpr UInt64 kFileStamp = 0x100000005ULL;

// Adds the set to `f` (an output of at least `n` frames).
inline void Annotate(CSoundFile& f, UInt32 n)
{
    SFTMarker m;
    const struct {
        SInt32 id;
        UInt32 pos;
        SInt16 type, number;
        const char* name;
    } markers[] = {{7, n / 20, 1, 5, "Verse"}, {8, n / 10, 1, 9, "Chorus"}, {9, 3 * n / 20, 2, -1, "Plain marker"}};
    for (const auto& mark : markers) {
        m.markerID = mark.id;
        m.pos = mark.pos;
        m.type = mark.type;
        m.number = mark.number;
        SetName(m.name, mark.name);
        ASSERT_EQ(f.AddMarker(&m), noErr);
    }
    SFTLoop sustain{1, n / 5, 9 * n / 20, 1};
    SFTLoop release{2, n / 2, 3 * n / 4, 2};
    ASSERT_EQ(f.AddLoop(&sustain), noErr);
    ASSERT_EQ(f.AddLoop(&release), noErr);
    SFTSamplerInfo info;
    info.baseNote = 48;
    info.detune = -7;
    info.lowNote = 12;
    info.highNote = 100;
    info.lowVelocity = 3;
    info.highVelocity = 120;
    info.gain = -6;
    info.valid = 1;
    ASSERT_EQ(f.SetSamplerInfo(&info), noErr);
    SFTRegion r;
    r.start = n / 200;
    r.end = n / 4;
    r.syncFrame = n / 100;
    r.timeStamp = 0x123456789LL;
    SetName(r.name, "First region");
    ASSERT_EQ(f.AddRegion(&r), noErr);
    r.start = 3 * n / 10;
    r.end = n - 1;
    r.syncFrame = 7 * n / 20;
    r.timeStamp = 77;
    SetName(r.name, "Second");
    ASSERT_EQ(f.AddRegion(&r), noErr);
    f.SetTimeStamp64(kFileStamp);
}

} // namespace annotationset
