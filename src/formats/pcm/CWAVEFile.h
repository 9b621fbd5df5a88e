// CWAVEFile: linear-PCM RIFF/WAVE files (type 'WAVE', "Wave"), and the base
// of the WAVE family (mu-law, A-law, float, uncompressed Broadcast Wave).
//
// Besides the samples the class carries markers and regions ('cue ' and a
// 'LIST'/'adtl' chunk: 'labl' for markers, 'ltxt' plus a 'labl' for the
// name of each region), loops ('smpl'), sampler data ('inst') and the
// channel layout (the channel mask of the extensible format).
//
// All numbers in the file are little-endian.  Written files have the
// layout "RIFF" size "WAVE", 'fmt ' (plain for one or two channels,
// extensible for more), 'data' and the samples; at close the sizes are
// patched and the annotation chunks appended after the data.
//
// Sample coding.  In memory (the base's block) samples are big-endian
// signed words of GetNumBits() bits.  In the file:
//   PCM     1..4 bytes a sample; 8-bit unsigned, wider signed
//           little-endian.  A word length that is not a whole number of
//           bytes (12, 20 bits) is read through the bytes that hold it, so
//           the word length in memory is theirs; in the extensible form
//           the bits per sample are those bytes and the valid bits may be
//           fewer (24 in 32).
//   float   32-bit IEEE little-endian floats, 32-bit integers in memory.
//   mu-law, A-law  one G.711 byte per sample, 16-bit words in memory.
// Any class of the family reads every coding its format chunk names (an
// extensible file with a float or G.711 subformat reads as such).  A block
// alignment other than channels x sample bytes is refused (-22705), and so
// are more valid bits than the sample bytes hold (-22706).
//
// The file's chunks are walked once when it is opened (RIFFChunkList) and
// read from that list by wave_chunks, in whatever order the file holds
// them: 'cue ' points without an 'adtl' list are unnamed markers.
//
// Every size and count read from the file is checked against its chunk;
// RIFF and data sizes of 0xFFFFFFFF, or beyond the end of the file, mean
// "to the end of the file".  An output that would pass the 4 GiB limit of
// RIFF sizes is refused with -22704 before anything is written past it.
#pragma once

#include "CLinearPCMFile.h"
#include "ChunkReader.h"
#include "RIFFChunkList.h"
#include "error_codes.h"
#include "SoundFileTypeDescriptor.h"
#include "wave_chunks.h"

#include <istream>
#include <string>
#include <vector>

// The channel configuration a WAVE channel mask describes for a channel
// count (11 when it describes none of them).
SInt32 WAVEChannelMaskToConfiguration(UInt32 channels, UInt32 mask);
// The mask written for a configuration and channel count (0 when the pair
// does not match).
UInt32 WAVEChannelConfigurationToMask(SInt32 configuration, UInt32 channels);
// The mask written for channels in the order of layout `tag` (0 for fewer
// than three channels or speakers no mask describes), and the order they
// take in the file: memory channel i is file channel (*memoryFromFile)[i]
// (left empty when the orders agree).
UInt32 WAVEChannelMaskForLayout(AudioChannelLayoutTag tag, UInt32 channels, std::vector<int>* memoryFromFile);

// The chunk walk of type detection on a stream: 0 with the stream just past
// the identifier of the occurrence-th (from 1) chunk `id`; -22004 when it is
// not there (or the stream fails).  "RIFF" looks at the first four bytes
// only.  Chunk sizes are unsigned: a chunk of 2 to 4 GiB is walked over.
OSErr FindRIFFChunk(const std::string& id, UInt32 occurrence, std::istream& stream);
// The channel count of the file's 'fmt ' chunk; 0 when it cannot be read.
UInt32 GetWAVENumChannels(const std::string& path);

// What a 'fmt ' chunk says (wave_chunks reads and writes it).
using WAVEFormat = wave_chunks::Format;

class CWAVEFile : public CLinearPCMFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CWAVEFile();
    ~CWAVEFile() override;

    // ------------------------------------------------ CSoundFile interface
    OSErr Open() override;
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    // Reads the shape and counts the regions ('ltxt' entries) into *result.
    OSErr ProbeHeader(SInt16* result) override;
    std::string GetChannelName(UInt16 channel) const override;
    // PCM words of whole bytes whose channels keep the memory order.
    bool GetRawSampleLayout(RawSampleLayout* layout) const override;

    // ------------------------------------------------- the family's hooks
    // Appends 'cue ', 'LIST'/'adtl' (markers and regions), 'smpl' and 'inst'.
    virtual OSErr WriteChunks();
    // Counts the regions the file describes ('ltxt' entries of its list).
    virtual OSErr CountRegionTexts(SInt16* count);
    // Writes the plain 'fmt ' chunk at the current end of the header.
    virtual OSErr WriteFmtChunk();
    // Reads the format and the data size, and sets the shape.
    virtual OSErr ReadFormat();
    // Writes the extensible 'fmt ' chunk.
    virtual OSErr WriteExtensibleFmtChunk();
    // Reads an extensible 'fmt ' chunk: -22004 when the file's is not one.
    virtual OSErr ReadExtensibleFmtChunk();
    // Written at close after WriteChunks (Broadcast Wave: 'bext', 'regn').
    virtual OSErr WriteExtraChunks();

    // ---------------------------------------------------------- chunks
    // The occurrence-th (from 1) chunk `id` of the open file: from the
    // walk made when it was opened, or, while it is being written, from a
    // walk made now.
    OSErr FindChunk(FourCharCode id, ChunkInfo* info, UInt32 occurrence = 1);
    // A chunk's body (at most maxBytes of it when maxBytes >= 0).
    OSErr ReadChunkBody(const ChunkInfo& info, ChunkView* view, SInt64 maxBytes = -1);
    // The body of the first chunk `id`; *found false (and noErr) when the
    // file has none.
    OSErr ReadOptionalChunk(FourCharCode id, ChunkView* view, bool* found, SInt64 maxBytes = -1);
    OSErr ReadSmplChunk();
    // Markers, regions, loops and sampler data.
    OSErr ReadChunks();
    OSErr WriteSmplChunk();
    OSErr WriteInstChunk();

    // The bytes of one sample and one frame in the file.
    UInt32 GetFileSampleBytes() const { return m_fileSampleBytes; }
    UInt64 GetFileFrameBytes() const { return UInt64(m_fileSampleBytes) * m_numChannels; }

protected:
    // The family's other types: their type code and format name.
    CWAVEFile(OSType fileType, const char* formatName);

    // Patches the sizes and the channel mask, appends the chunks.
    OSErr RewriteHeader() override;
    SInt64 FileBytesPerFrame() const override;
    // The RIFF sizes are 32 bits wide.
    OSErr CheckWriteExtent(UInt64 endFrame) const override;
    // Silence in the file's coding (0x80 for 8-bit PCM, G.711 silence).
    UInt8 FileSilenceByte() const override;
    // Decodes and reorders to and from the block layout.
    OSErr LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled) override;
    OSErr StoreFrames(UInt32 frames, UInt32 frame) override;
    // One positioned read.
    OSErr ReadFileFrames(UInt8* data, UInt32 frame, UInt32 frames, std::size_t* bytes) override;

    // How the file stores its samples.
    enum class Coding { PCM, Float, MuLaw, ALaw };

    // The sample coding of a format tag or subformat and the shape that
    // follows from the format (word length in memory, sample-format code,
    // bytes per file sample); kUnsupportedDataErr for anything else.
    OSErr SetCodingFromFormat(const WAVEFormat& format);
    // Finds the 'fmt ' chunk (or "fmt" and a carriage return) and parses
    // it (at most `maxBytes` of its body): -22703 when there is none.
    OSErr FindAndParseFormat(WAVEFormat* format, SInt64 maxBytes = 64);
    // Reads a 'fmt ' chunk whose coding is one of the two given (else
    // kUnsupportedDataErr), the shape it sets and the data chunk.
    OSErr ReadFormatOfCodings(UInt16 coding, UInt16 otherCoding);
    // Mono and stereo by the channel count; wider files by their mask.
    void SetConfigurationFromFormat(const WAVEFormat& format);
    // Frame count from the data chunk (its size cut to the file).
    OSErr ReadDataChunk();
    // Shared steps of Create: the base step, the file, the shape and the
    // RIFF header; the caller then writes its format chunks and then
    // calls FinishHeader.
    OSErr BeginCreate(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                      ConstStr255Param nameExtension, float sampleRate, Coding coding);
    OSErr FinishHeader();
    // What Create writes: the sample coding (PCM) and the format chunks
    // after the RIFF header (plain 'fmt ' up to two channels, extensible
    // above).
    virtual Coding WrittenCoding() const;
    virtual OSErr WriteFormatChunks();
    // Opens the data fork read-only and walks its chunks.
    OSErr OpenForReading();
    // The fork's end of file (while Create puts the header together: the
    // header's length).
    OSErr GetFileLength(SInt64* length);
    // Writes at the end of file (while Create puts the header together:
    // appends to the header, written in one piece at its end).
    OSErr AppendBytes(const void* bytes, std::size_t count);
    OSErr WriteU32At(SInt64 position, UInt32 value);
    // Whether `frames` frames of data still fit the RIFF size limits.
    bool DataFits(UInt64 frames) const;
    // Patches the 'fact' frame count at close (companded classes).
    virtual OSErr PatchFactChunk();
    // Closes the fork; the first error of `result` and the close.
    OSErr CloseFork(OSErr result);
    // The region regions come from in WriteChunks: false when a subclass
    // keeps regions in a chunk of its own.
    virtual bool WritesRegionCues() const { return true; }
    // What ProbeHeader reads after counting the regions (Broadcast Wave:
    // the 'regn' regions and 'bext'); a failure is thrown as an
    // error_code_exception.
    virtual void ProbeExtraChunks() {}
    // What Open reads after the format (the annotation chunks; Broadcast
    // Wave reads its 'regn' regions and 'bext' first); a failure is thrown
    // as an error_code_exception.
    virtual void OpenChunks();

    // The chunks of the open file (its one walk: OpenForReading).
    RIFFChunkList m_chunks;
    Coding m_coding = Coding::PCM;
    UInt32 m_fileSampleBytes = 2;   // bytes per sample in the file
    SInt64 m_riffEnd = 0;           // where the chunk walk ends
    UInt32 m_channelMask = 0;       // mask of an extensible file as read
    bool m_fmtExtensible = false;   // the file being written has the extensible form

private:
    // The header Create puts together before writing it (the new file is
    // empty until then); m_staging while it does.
    std::vector<UInt8> m_staged;
    bool m_staging = false;

    RefNumChunkSource m_chunkSource{0};  // what m_chunks reads from

    // Walks the open file's chunks into m_chunks.
    OSErr WalkChunks();
    // The extensible 'fmt ' chunk of the file being written, with `mask`.
    std::vector<UInt8> ExtensibleFmtChunk(UInt32 mask) const;
    // Float samples from `countFrom` on that lie beyond full scale are
    // counted as clipped (AddClippedSamples).
    // The float samples [countFrom, countTo) beyond full scale are counted.
    void DecodeToBlock(const UInt8* file, UInt8* block, std::size_t samples, std::size_t countFrom = 0,
                       std::size_t countTo = 0) const;
    void EncodeFromBlock(const UInt8* block, UInt8* file, std::size_t samples) const;
    OSErr ReadChunksBody();
};
