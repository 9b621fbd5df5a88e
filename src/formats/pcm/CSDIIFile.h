// CSDIIFile: Sound Designer II files (type 'Sd2f', "SoundDesigner II").
//
// The data fork holds nothing but the samples: interleaved frames of
// big-endian signed integers, channels x bytes per sample bytes a frame,
// from byte 0 to the end of the fork.  Everything else is in the resource
// fork (kept in the AppleDouble sidecar "._name"):
//   'STR ' 1000 "sample-size"  bytes per sample as decimal text ("2")
//   'STR ' 1001 "sample-rate"  sample rate ("%f": "44100.000000")
//   'STR ' 1002 "channels"     channel count ("2")
//   'sdML' 1000  markers: header {1 (2), 0 (4), count (2)}, then per marker
//                {type (2), type (2), frame (4), 0 (2), 0 (2), 0x5F6E for
//                type 1 else 0x0BC4 (2), ID (2), name length (4), name}
//   'sdLL' 1000  loops: header {1, 0, 0, count (2 bytes each)}, then per
//                loop {start (4), end (4), number (2), 'u' or 'v' (2), 0 (2)}
//   'ddRL' 1000  regions: header {1 (2), 12 (4), 56 (4), 0 (4), count + 1
//                (4)}, then 56-byte records {ID, start, end, sync frame,
//                time stamp, time stamp (4 bytes each), name as Str31}
// All resource access goes through ZuResourceFile; the data fork is read
// and written through the linear-PCM base (CLinearPCMFile).
//
// Every count, length and offset of the resources is checked against the
// resource before it is used; the shape is checked before the file is
// used (word sizes of 1 to 4 bytes, 1 to kSDIIMaxChannels channels, a
// positive, finite rate).
#pragma once

#include "CLinearPCMFile.h"
#include "error_codes.h"
#include "SoundFileTypeDescriptor.h"

#include <memory>
#include <string>

class ZuResourceFile;


// Most channels a file may declare.
constexpr UInt32 kSDIIMaxChannels = 1024;

// The channel count in 'STR ' 1002 of the file's resource fork (0 when the
// resource is missing).  Errors of the resource file are thrown as
// error_code_exception.
SInt32 GetSDIINumChannels(const std::string& path);

// The leading number of a text as the string's intValue / doubleValue
// give it: leading blanks skipped, 0 when there is no number.
SInt32 SDIITextIntValue(const QString& text);
double SDIITextDoubleValue(const QString& text);

class CSDIIFile : public CLinearPCMFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CSDIIFile();
    ~CSDIIFile() override;

    OSErr Open() override;
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr Close() override;
    // Reads the resources without opening the data fork; *count gets the
    // number of region records.
    OSErr ProbeHeader(SInt16* count) override;

    OSErr ReadHeaderResources();
    OSErr WriteHeaderResources();
    OSErr ReadMarkerResource();
    OSErr ReadLoopResource();
    OSErr ReadRegionResource(SInt16* count);
    OSErr WriteMarkerResource();
    OSErr WriteLoopResource();
    OSErr WriteRegionResource();

protected:
    // The layout under another type code and format name (UTF-8 text with
    // static storage).
    CSDIIFile(OSType fileType, const char* formatName);
    // A write that would pass frame 2^32 - 1 is refused (paramErr).
    OSErr CheckWriteExtent(UInt64 endFrame) const override;

private:
    // The file's resource fork (by FSRef when there is one, else by path).
    std::unique_ptr<ZuResourceFile> MakeResourceFile() const;
    // Runs `parse` (data, size; failures thrown) on list resource `type`
    // when the file has it; `what` names the step in the trace.
    template <typename Parse> OSErr ReadListResource(ResType type, const char* what, Parse&& parse);
    // Fills a zeroed list resource of `bytes` bytes (`fill` may resize
    // it; failures thrown) and stores it as resource `type`.
    template <typename Fill> OSErr WriteListResource(ResType type, std::size_t bytes, Fill&& fill);
    // Closes the data fork and clears the flags.
    OSErr CloseDataFork();
};
