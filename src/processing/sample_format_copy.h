// Sample-format copy: the audio of an input sound file copied block by block
// into an output sound file, changing the word length (8, 16, 24 or 32 bits)
// and, where asked, the channel layout; then the input's loops, regions,
// markers, sampler record and time stamp of the copied range carried over.
//
// Samples travel through a left-justified signed 32-bit intermediate.  When
// the word length shrinks to 8 or 16 bits the value is rounded, or, with
// redither, rectangular noise from the process-wide dither table
// (DitherTable.h) is added before truncation.  Noise is only ever added when
// the output's words are shorter than the input's.
//
// 32-bit words that carry 24-bit samples in their low three bytes (sample
// format 146) are shifted into place on every path, also when the word
// lengths agree, unless the output holds such words too; an output of that
// kind gets its samples back in the low three bytes.
//
// When both files keep their samples as plain words (GetRawSampleLayout)
// and the layout is kept, each block goes from the input's file bytes to the
// output's in one pass (ReadRawFrames, WriteRawFrames) with the same
// arithmetic, noise draws, positions and progress posts as the block path;
// neither file's block is used then.
//
// Every operation returns 0 or an error code; the first failing step's code
// ends it.  After each block the position reached in the input is posted
// (PostProgressPosition); a non-zero answer (-128 after a cancel) stops the
// copy after the block just written and is returned.  The output is neither
// closed nor deleted here.
#pragma once

#include "MacTypes.h"
#include "pass_settings.h"

class CSoundFile;

// What the copy takes from the conversion: the output flags alone.
struct SampleCopySettings : OutputFlags {
    // Fades follow the copy on the output: float samples travel as the
    // blocks' integers, clipped (and counted) at full scale like every
    // other change, instead of being copied as they are.
    bool fadesFollow = false;
};

// ------------------------------------------------------------------ cores
// Each copies the input frames [start, end) to the output from *outPos on
// and advances *outPos by the frames written; then carries the extras of the
// range.  With start >= end nothing is read or written (and nothing posted)
// but the extras step still runs.  paramErr (-50) for null files, a word
// length of other than 1 to 4 bytes, or channel counts that do not fit the
// core (nothing is changed then).

// Same channels in and out.
SInt32 ConvertSampleFormat(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32* outPos,
                           const SampleCopySettings& settings);
// A mono input written to both channels of a stereo output.
SInt32 ConvertSampleFormatMonoToStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                       UInt32* outPos, const SampleCopySettings& settings);
// The average of a stereo input's two channels into a mono output.
SInt32 ConvertSampleFormatMixToMono(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                    UInt32* outPos, const SampleCopySettings& settings);
// One channel of a stereo input (0 left, 1 right) into a mono output.
SInt32 ConvertSampleFormatOneChannel(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                     UInt32* outPos, UInt16 channel, const SampleCopySettings& settings);

// --------------------------------------------------------------- wrappers
// Range: [start, end) written from output frame 0.  All: the whole input
// from output frame 0.  Strip: the input's region blocks, merged when at
// most two margins apart, widened by one margin (1 ms at the output's rate)
// and written back to back from output frame 0; an input without regions
// gives an empty output and 0.
SInt32 ConvertSampleFormatRange(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                const SampleCopySettings& settings);
SInt32 ConvertSampleFormatStrip(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings);
SInt32 ConvertSampleFormatAll(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings);

SInt32 ConvertSampleFormatRangeMonoToStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                            const SampleCopySettings& settings);
SInt32 ConvertSampleFormatStripMonoToStereo(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings);
SInt32 ConvertSampleFormatAllMonoToStereo(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings);

SInt32 ConvertSampleFormatRangeMixToMono(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                         const SampleCopySettings& settings);
SInt32 ConvertSampleFormatStripMixToMono(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings);
SInt32 ConvertSampleFormatAllMixToMono(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings);

SInt32 ConvertSampleFormatRangeLeft(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                    const SampleCopySettings& settings);
SInt32 ConvertSampleFormatStripLeft(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings);
SInt32 ConvertSampleFormatAllLeft(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings);

SInt32 ConvertSampleFormatRangeRight(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                     const SampleCopySettings& settings);
SInt32 ConvertSampleFormatStripRight(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings);
SInt32 ConvertSampleFormatAllRight(CSoundFile* in, CSoundFile* out, const SampleCopySettings& settings);

// ----------------------------------------------------------------- extras
// Carries the extras of the input range [start, end] written at output frame
// outStart: loops and regions lying wholly in the range and markers in it
// (end included) are added with their positions moved by outStart - start;
// then the sampler record; then, whatever happened before, the time stamp
// (as the time of the output's first frame: the input's stamp plus start -
// outStart, 64-bit), unless the output has one already.  Nothing when
// copyExtras is off or the output is marked one-channel-done.  The first
// failing list's code is returned (the later lists and the sampler record
// are skipped); -22007 (no sampler record) counts as 0.
SInt32 CarrySampleFormatExtras(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, UInt32 outStart,
                               bool copyExtras);
