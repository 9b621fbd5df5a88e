// The check run on each input before anything is written.  An input whose
// header CSoundFile::CheckReadShape refuses (its rate or channels cannot
// describe its sound: -22601 or -22100) or whose rate change passes
// kMaxRateChange either way is refused with -22601 ("has incompatible
// samplerate"); an output whose estimated size passes what its type's header
// can describe (the type table's "maxSoundBytes": the FORM size of the AIFF
// family, 2 GiB, the RIFF size of the WAVE family, 4 GiB)
// is refused with -1310 ("is too big for the output file type").  A type
// that keeps its sound in one data block (the type table's
// "soundBlockBytes": Creative Voice, whose block length field has 24 bits)
// refuses an input split over several data blocks, and a conversion to it
// whose sound data would not fit one block.  An output
// the type cannot hold (OutputCapabilities.h: a channel count, a word length,
// or the rate of a type whose files do not record it) is refused with the
// type's refusal code or the error of what does not fit.  Every other
// conversion passes.
#pragma once

#include "error_codes.h"
#include "MacTypes.h"

#include <QString>

class CConvSpec;
class CSoundFile;

constexpr double kMinUsableSampleRate = 1.0;
constexpr double kMaxUsableSampleRate = 4294967295.0;
constexpr double kMaxRateChange = 256.0;  // the converters' largest ratio either way

// A sample rate a file may have: finite, from 1 Hz to 2^32 - 1 Hz.
bool SampleRateUsable(double rate);
// The largest length of a VOC data block, in bytes.
constexpr UInt32 kMaxVOCBlockLength = 0xFFFFFF;

// Counts the data blocks (types 1, 2, 3, 6) of the VOC file open under
// `refNum`, walking the block headers from the offset stored at byte 20.
// 0 for at most one data block, -22305 for two or more, else the file
// error that ended the walk (the end of the file is no error).  The fork's
// position is restored.
SInt16 CountVOCDataBlocks(SInt16 refNum);

// 0 to go on, -22305, -20008 or the error of a sound-file or file operation.
//   - An input of a one-block type is walked for its data blocks (through
//     its open fork, or a fork opened for the walk when it has none).
//   - For an output of a one-block type the bytes of each output file are
//     estimated: the frames written (the longest region when extracting,
//     else the kept frames of the compacting walk when compacting, else the
//     whole input; a conversion that does both is tested both ways), scaled by
//     the sample-rate ratio when the rate changes, x the channels of each
//     output file (as the pipeline's channel route makes them) x bytes per
//     sample of the output's word length.  Above the block's bytes: -20008.
//   - An input refusal is never replaced by a later pass.
// An input the channel treatment has no route for (mixing to mono, left or
// right only on more than two channels) is refused with -22100.  For that
// refusal and an output shape the type cannot hold, *reason (when given)
// gets the line the log and the batch command show: what does not fit and
// the keys to set.
SInt16 CheckConversionLimits(CSoundFile* in, CConvSpec* spec, QString* reason = nullptr);
