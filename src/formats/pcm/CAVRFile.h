// CAVRFile: AVR sound files (a 128-byte big-endian header beginning with
// '2BIT', then 8- or 16-bit samples, mono or stereo, interleaved), read and
// written.
//
// Header fields (offsets): 0 '2BIT'; 4 name (8 characters); 12 stereo word
// (0 mono, 0xFFFF stereo); 14 bits; 16 sign word (0 unsigned, else signed);
// 18 loop flag; 20 MIDI note (0xFFFF: none); 22 replay-speed byte, then the
// rate in 24 bits; 26 frame count; 30 loop begin; 34 loop end; 44 name
// continuation (20 bytes); 64 user data.  Names of 8 or more characters go
// on at 44, with a zero byte after the last character (names are cut to 27
// characters so that it fits).
//
// Written files are signed, carry the first loop (when there is one) and
// the replay-speed byte 0, as other tools write them.  Unsigned files are
// read: their samples are turned signed in the block.
//
// Codes: -23002 no '2BIT'; -23003 a word length other than 8 or 16;
// -22005 close of a closed file; -108 no memory for zero-extending;
// paramErr for a channel count other than 1 or 2, or a rate the 24-bit rate
// field cannot hold.
#pragma once

#include "CLinearPCMFile.h"
#include "error_codes.h"
#include "SoundFileTypeDescriptor.h"

constexpr OSType kAVRFileType = FOUR_CHAR_CODE(".AVR");

constexpr SInt64 kAVRHeaderBytes = 128;

class CAVRFile : public CLinearPCMFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CAVRFile();
    ~CAVRFile() override;

protected:
    OSErr ReadHeader() override;
    OSErr CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const override;
    OSErr WriteHeader() override;
};
