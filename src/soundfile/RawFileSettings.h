// How to read input files without a recognised header: one process-wide
// record, filled by the application from the preferences ("Unrecognized
// Input File ..." defaults) and read by type detection and the headerless
// formats.  Every field is read and written atomically.
#pragma once

#include "MacTypes.h"

class RawFileSettings {
public:
    // A snapshot of the record.
    struct Values {
        OSType fileType;
        double sampleRate;
        UInt32 bigEndian;
        UInt32 wordSize;
        SInt32 action;
        UInt32 numChannels;
    };

    // The type headerless files are read as until the preferences say
    // otherwise: Dialogic linear PCM.
    static constexpr OSType kDefaultFileType = FOUR_CHAR_CODE("DPCM");

    // The record's values; the first call sets them up with Init.
    static Values Instance();
    // kDefaultFileType, 44100.0, big-endian, 16 bits, action 0, 1 channel.
    static void Init();

    static OSType FileType();
    static void SetFileType(OSType type);
    static double SampleRate();
    static void SetSampleRate(double rate);
    static UInt32 BigEndian();
    static void SetBigEndian(UInt32 bigEndian);
    static UInt32 NumBits();
    static void SetNumBits(UInt32 bits);
    // 2: read unrecognised files as raw data of FileType(); other values
    // leave them unrecognised.
    static SInt32 Action();
    static void SetAction(SInt32 action);
    static UInt32 NumChannels();
    static void SetNumChannels(UInt32 channels);

    // Back to the values of Init (the end of the application's run).
    static void Release();

    static constexpr SInt32 kActionReadAsRaw = 2;

    // The rates a headerless file may be read at (the rates a conversion
    // may set), and the word sizes.
    static constexpr double kMinSampleRate = 1000.0;
    static constexpr double kMaxSampleRate = 192000.0;
    static bool SampleRateUsable(double rate) { return rate >= kMinSampleRate && rate <= kMaxSampleRate; }
    static bool WordSizeUsable(double bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; }
};
