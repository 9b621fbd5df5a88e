// The extended audio file calls for Core Audio Format files: a file's data
// format, length and channel layout, reading in a linear-PCM client format
// of the caller's choice, and writing linear PCM.
//
// Reading: the container is walked here ('desc', 'chan', 'data'; every
// size checked against the file), the samples come from the movie layer
// (MovieSource), which decodes every encoding a CAF holds (integer and
// float PCM of either byte order, A-law, mu-law, IMA 4:1, ALAC, AAC).  The
// client format is signed big-endian integer PCM of 8, 16, 24 or 32 bits,
// interleaved or not; the samples are the decoder's 32-bit integers cut to
// that width.  A client channel layout reorders the channels in memory.
//
// Writing: ExtAudioFileCreateNew makes the file exclusively (an existing
// file is -48) with a 'desc', a 'chan' when a layout is given, and a 'data'
// chunk whose size is set when the file is disposed; the data is written
// as given (the client format must equal the file's linear-PCM format).
//
// Results are OSStatus codes: kExtAudioFileError_InvalidProperty (-66561)
// for an unknown property, -50 for bad arguments, kAudioFileInvalidFileError
// ('dta?') for a malformed container, the movie layer's and the File
// Manager's codes otherwise.
#pragma once

#include "CoreAudioTypes.h"
#include "MediaCodes.h"
#include "FileManager.h"
#include "MacTypes.h"
#include "SoundFileRecords.h"

#include <string>

extern "C++" {

struct OpaqueExtAudioFile;
typedef OpaqueExtAudioFile* ExtAudioFileRef;
typedef UInt32 ExtAudioFilePropertyID;
typedef UInt32 AudioFileTypeID;

constexpr ExtAudioFilePropertyID kExtAudioFileProperty_FileDataFormat = FOUR_CHAR_CODE("ffmt");
constexpr ExtAudioFilePropertyID kExtAudioFileProperty_FileLengthFrames = FOUR_CHAR_CODE("#frm");
constexpr ExtAudioFilePropertyID kExtAudioFileProperty_ClientDataFormat = FOUR_CHAR_CODE("cfmt");
constexpr ExtAudioFilePropertyID kExtAudioFileProperty_FileChannelLayout = FOUR_CHAR_CODE("fclo");
constexpr ExtAudioFilePropertyID kExtAudioFileProperty_ClientChannelLayout = FOUR_CHAR_CODE("cclo");
// This layer's own (UInt32, read only): 1 when the file's 'data' chunk holds
// fewer bytes than its size states, or ends inside a packet.  The length
// in frames counts only the whole packets present.
constexpr ExtAudioFilePropertyID kExtAudioFileProperty_DataCutShort = FOUR_CHAR_CODE("cut?");
// This layer's own (SFTDecodeLoss, read only): what the decoder could not
// turn into sound so far (MovieSource::DecodeLoss); all zero while writing.
constexpr ExtAudioFilePropertyID kExtAudioFileProperty_DecodeLoss = FOUR_CHAR_CODE("los?");
// This layer's own (two UInt64, the first frame and the end, write only):
// the frames whose float samples beyond full scale the decoder counts as
// clipped (MovieSource::SetClipCountWindow).
constexpr ExtAudioFilePropertyID kExtAudioFileProperty_ClipCountWindow = FOUR_CHAR_CODE("clp?");

constexpr AudioFileTypeID kAudioFileCAFType = media_codes::kCAF;
constexpr UInt32 kAudioFormatFlagIsNonInterleaved = 1u << 5;
constexpr OSStatus kExtAudioFileError_InvalidProperty = -66561;
constexpr OSStatus kAudioFileInvalidFileError = caf_chunks::kInvalidFileErr;
constexpr OSStatus kAudioFileUnsupportedDataFormatError = FOUR_CHAR_CODE("fmt?");

OSStatus ExtAudioFileOpen(const FSRef* ref, ExtAudioFileRef* outFile);
// Creates `name` in the folder `parent` (exclusively).  `format` must be
// linear PCM; `layout` may be null.
OSStatus ExtAudioFileCreateNew(const FSRef* parent, const std::string& name, AudioFileTypeID type,
                               const AudioStreamBasicDescription* format, const AudioChannelLayout* layout,
                               UInt32 flags, ExtAudioFileRef* outFile);
OSStatus ExtAudioFileGetPropertyInfo(ExtAudioFileRef file, ExtAudioFilePropertyID property, UInt32* outSize,
                                     Boolean* outWritable);
OSStatus ExtAudioFileGetProperty(ExtAudioFileRef file, ExtAudioFilePropertyID property, UInt32* ioSize,
                                 void* outData);
OSStatus ExtAudioFileSetProperty(ExtAudioFileRef file, ExtAudioFilePropertyID property, UInt32 size,
                                 const void* data);
// Reads up to *ioFrames frames at the position into the buffers (never
// more than the buffers hold); *ioFrames gets the frames read (0 at the
// end) and each buffer's byte size is set to what it got.
OSStatus ExtAudioFileRead(ExtAudioFileRef file, UInt32* ioFrames, AudioBufferList* data);
OSStatus ExtAudioFileWrite(ExtAudioFileRef file, UInt32 frames, const AudioBufferList* data);
OSStatus ExtAudioFileSeek(ExtAudioFileRef file, SInt64 frame);
// Finishes a written file (its data size) and closes it; frees the object.
OSStatus ExtAudioFileDispose(ExtAudioFileRef file);

} // extern "C++"
