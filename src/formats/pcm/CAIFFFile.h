// CAIFFFile: uncompressed AIFF ('FORM'/'AIFF'), read and written.
//
// Written files hold, in this order: 'COMM' (at offset 12), 'CHAN' (when the
// channel configuration has a layout tag), 'SSND' with the samples (one pad
// byte after an odd amount of data), then at close 'INST' (sampler data and
// loops), 'MARK' (markers, loop markers included) and 'regn' (regions).
// Sizes are provisional while writing (FORM 0x7FFFFFFF, SSND 0) and patched
// at close.  Outputs whose FORM would pass 0x7FFFFFFF bytes are refused
// (fsDataTooBigErr) rather than written with wrapped sizes.
//
// Reading walks the chunks with ChunkReader (bounded to the FORM and the
// file); sizes of 0xFFFFFFFF or past the end of the file mean "to the end of
// the file", and a 'COMM' frame count larger than the 'SSND' data is cut to
// the data (Open succeeds and DataCutShort() tells).  The SSND offset field is
// applied.  Word lengths that are not whole bytes (12, 20 bits) are read as
// their containers (16, 24 bits), in which AIFF keeps them left-justified.
//
// The channel data are in the order of the configuration's layout tag
// (CreateChannelLayout); the 'CHAN' written carries that tag, and a 'CHAN'
// read sets the configuration only when its tag lists the channels in that
// order (else the file is "multichannel" and keeps its order and tag).
//
// Codes: -22200 no FORM at close, -22201 no SSND, -22202 no or invalid COMM,
// -22204 100 chunks without a match,
// -23405 rate <= 0, -38 Close of a closed file; chunk walk -22004 / -22009.
#pragma once

#include "CLinearPCMFile.h"
#include "ChunkReader.h"
#include "aiff_chunks.h"
#include "error_code_exception.h"

#include <new>

#include <functional>
#include <istream>
#include <string>

constexpr OSType kAIFFFileType = aiff_chunks::kAIFF;

// Largest FORM size written (AIFF sizes are read as signed 32-bit values).
constexpr SInt64 kAIFFMaxFormSize = 0x7FFFFFFF;

class CAIFFFile : public CLinearPCMFile {
public:
    CAIFFFile();
    ~CAIFFFile() override;

    OSErr ProbeHeader(SInt16* result) override;
    std::string GetChannelName(UInt16 channel) const override;
    // Big-endian words, or the byte order its transform gives.
    bool GetRawSampleLayout(RawSampleLayout* layout) const override;

    // The chunk walk: on success the file's mark stands at the chunk's size
    // field and `info` (may be null) describes the chunk.  'FORM' checks the
    // first four bytes.  -22004 not found, -22009 corrupt size, -22204 after
    // 100 chunks.
    virtual OSErr FindChunk(OSType id, ChunkInfo* info = nullptr);
    virtual OSErr ReadMARK();
    virtual OSErr WriteMARK();
    virtual OSErr ReadINSTLoops();
    virtual OSErr WriteINST();
    virtual OSErr ReadINSTSamplerInfo();
    virtual OSErr ReadCOMM();
    virtual OSErr WriteCOMM();
    // The 'COMM' chunk WriteCOMM writes, and its position.
    virtual OSErr BuildCOMM(ChunkBuilder* chunk, SInt64* position);
    virtual OSErr ReadCHAN();
    virtual OSErr WriteCHAN();
    // Puts the 'CHAN' chunk of the file's channel configuration; false
    // (nothing put) when it does not describe the file's channels.
    bool PutCHAN(ChunkBuilder* chunk);
    virtual OSErr ReadRegions();
    virtual OSErr WriteRegions();
    SInt64 GetFormEnd() const { return m_formEnd; }
    UInt32 GetChannelLayoutTag() const { return m_channelLayoutTag; }

protected:
    // The order of the layout 'CHAN' names (PutCHAN).
    bool KeepsOwnChannelOrder() const override { return true; }
    // The family's other types: their type code and format name.
    CAIFFFile(OSType fileType, const char* formatName);

    // Open: the FORM header, 'COMM', the annotation chunks and 'SSND'; then
    // the file region and 'APPL'.
    OSErr ReadHeader() override;
    OSErr AfterOpen() override;
    // Create: the shape is channels >= 1, 1..32 bits (rounded up to whole
    // bytes), rate > 0; paramErr otherwise.
    OSErr CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const override;
    OSErr SetUpNewFile(const UInt8* fileTypeSpecifics) override;
    // FORM header, an empty 'COMM', 'CHAN', an empty 'SSND'.
    OSErr WriteHeader() override;
    // Patches the sizes and appends the annotation chunks.
    OSErr RewriteHeader() override;
    // The FORM size may not pass kAIFFMaxFormSize.
    OSErr CheckWriteExtent(UInt64 endFrame) const override;
    // Bytes of one frame in the file (channels x bytes per sample).
    SInt64 BytesPerFrame() const { return FileBytesPerFrame(); }
    // Loads a chunk's body (at most maxBytes of it when >= 0; `info` may
    // be null); *found false (and noErr) when the chunk is not there.
    OSErr ReadChunk(OSType id, ChunkView* body, bool* found, ChunkInfo* info = nullptr, SInt64 maxBytes = -1);
    // The body of an optional chunk: true when the chunk is there, could be
    // read and holds at least `minBytes` bytes.
    bool ReadPresentChunk(OSType id, std::size_t minBytes, ChunkView* body);
    // Appends bytes at the end of the file.
    OSErr AppendAtEnd(const void* data, std::size_t count);
    // Reads the FORM header (FORM end).
    OSErr ReadFormHeader();
    // ReadFormHeader, then ReadCOMM: the first steps of every Open.
    OSErr ReadFormAndCOMM();
    // Finds 'SSND' and sets the data offset (offset field applied) and the
    // bytes of sample data it holds.  -22201 when absent.
    OSErr LocateSoundData(SInt64* availableBytes);
    // Cuts the frame count to `availableBytes`; true when it was cut.
    bool ClampFramesTo(SInt64 availableBytes);
    void LimitBlockBytes();
    // The configuration whose in-memory order a layout tag describes.
    SInt32 ConfigurationForTag(UInt32 tag) const;
    // The layout tag of a configuration for this file's channel count (0 when
    // it has none).
    UInt32 TagForConfiguration(SInt32 configuration) const;
    // Reads the 'APPL' signature: 'SSYS' files are mono, 24-bit ones stored
    // least significant byte first.
    OSErr ReadAPPL();
    using COMMFields = aiff_chunks::COMMFields;
    // What a form reads of 'COMM' after the common fields (`body` stands
    // after the rate): it may change the word length and the rate, and
    // gives the code to return once the rest of the chunk is taken.
    using COMMExtension = std::function<OSErr(ChunkView& body, COMMFields* comm, double* rate)>;
    // Loads 'COMM', reads its common fields and then `extension`, checks
    // the shape (word length rounded up to whole bytes) and takes frames
    // and rate (ApplyCOMM).  -22202 when the chunk is absent, shorter than
    // `minBytes`, or its channels or word length (1..32) are not readable.
    OSErr ReadCOMMChunk(std::size_t minBytes, const COMMExtension& extension);
    // Takes the frame count and rate read from 'COMM': cuts the frames to
    // the sample data when they cannot fit in the FORM; -23405 for a bad rate.
    OSErr ApplyCOMM(UInt32 frames, double sampleRate);
    // Appends the 'COMM' header and the fields common to both forms.
    void PutCOMMFields(ChunkBuilder* chunk, UInt32 bodySize) const;
    // Reads the annotation chunks of an opened file, then finds 'SSND'.
    OSErr ReadAnnotationsAndLocateData(SInt64* availableBytes);
    // Cuts the frame count 'COMM' states to the `availableBytes` of sample
    // data (the file is then cut short, DataCutShort); -22202 when they hold
    // bytes but not one frame.  A count of 0 beside sound data of unknown
    // size (a file written to a pipe) is the whole frames the data holds.
    OSErr SettleSoundData(SInt64 availableBytes);
    SInt64 m_formEnd = 0;          // where the chunk walk stops
    UInt32 m_commFrames = 0;       // the frame count 'COMM' states
    bool m_soundSizeUnknown = false; // the 'SSND' size was left unknown (ChunkInfo::sizeUnknown)
    UInt32 m_channelLayoutTag = 0; // from 'CHAN'; 0 when none was read
};

// The stream forms used by type detection.  FindAIFFChunk leaves the stream
// just after the chunk's ID (for "FORM": after the first four bytes).
OSErr FindAIFFChunk(const std::string& id, std::istream& in);
// Throws error_code_exception when the file has no 'COMM' chunk.
UInt16 GetAIFFNumChannels(const std::string& path);

// The AIFF family's header probe: the channel count of a 'FORM' file of
// `formType` (0 when it is another file, a negative code when its 'COMM' is
// missing or unreadable); `bits` and `compression` (may be null) get the
// COMM word length and, for AIFF-C, the compression type.
SInt32 ProbeFORMFile(const QString& path, OSType formType, SInt16* bits, OSType* compression);
// The probe of the 'AIFF' form (AIFF, Dawn and Sonic AIFF files).
SInt32 ProbeAIFFHeader(const QString& path);

// Registers the 'AIFF' factory, its header probe and the 'FORM' chunk finder.
void RegisterAIFFFileTypes();
