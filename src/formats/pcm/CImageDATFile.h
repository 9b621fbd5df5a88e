// CImageDATFile: a headerless audio CD image (16-bit little-endian stereo
// at 44100 Hz) with its track layout in a PQ descriptor file beside it.
//
// The descriptor is looked for in the image's folder, ignoring case, under
// the names "SD", "PQ_DESCR", "PQDESCR.txt" and "DDPPQ" (the first that
// exists is used).  It is a sequence of 64-byte ASCII records; records of
// type "VVVS" give a track number (two digits; 'A' first marks the lead-out),
// an index and a position hh mm ss ff (frames of 1/75 second).  Each track
// becomes a region "Track nn" from its index 1 to the next track's first
// record (the lead-out ends the last one); a layout that does not begin at
// 00:00:00:00 gets a region "Track 00" before it.  Regions that lie beyond
// the image or end before they start are left out.
//
// Images are written as they are read (16-bit little-endian stereo at
// 44100 Hz; other shapes are refused with paramErr); no descriptor is
// written.
//
// Codes: -22005 close of a closed file; -21004 no memory for zero-extending.
#pragma once

#include "CLinearPCMFile.h"
#include "SoundFileTypeDescriptor.h"

#include <string>

constexpr OSType kImageDATFileType = FOUR_CHAR_CODE("IDAT");
constexpr double kImageDATSampleRate = 44100.0;

class CImageDATFile : public CLinearPCMFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CImageDATFile();
    ~CImageDATFile() override;

    // *result: the track number of the descriptor's last track (0 without
    // a descriptor).
    OSErr ProbeHeader(SInt16* result) override;

    // One record of a PQ descriptor.
    struct PQRecord {
        bool valid = false;   // a "VVVS" record
        int track = 0;        // -1 for the lead-out
        int index = 0;
        UInt64 cdFrame = 0;   // position in 1/75 second
        char trackChars[2] = {'0', '0'};
    };
    // Parses one 64-byte record.
    static PQRecord ParsePQRecord(const UInt8* record);

protected:
    // The image's fixed shape and its frame count.
    OSErr ReadHeader() override;
    // The tracks of the descriptor become regions (a descriptor that
    // cannot be read is left out), then the file region.
    OSErr AfterOpen() override;
    OSErr CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const override;
    OSErr SetUpNewFile(const UInt8* fileTypeSpecifics) override;
    OSErr RewriteHeader() override;

private:
    // Opens the descriptor beside the image read-only: fnfErr when there is
    // none.
    OSErr OpenDescriptor(SInt16* refNum) const;
    // Calls `visit` for every "VVVS" record of the descriptor.
    template <typename Visit>
    OSErr ScanDescriptor(Visit&& visit) const;
    OSErr ReadDescriptor();
    void SetImageProperties();
};
