// CLinearPCMFile: the lifecycle and block I/O every simple linear-PCM
// container shares.  A subclass describes its header; this class does the
// rest:
//   - Open: open the data fork (OpenFileFork), ReadHeader, AfterOpen (the
//     file region);
//   - ProbeHeader: the same ReadHeader on a fork opened for the call;
//   - Create: CheckCreateShape at three steps (before the already-open
//     check, before CSoundFile::Create, after it), the file created
//     exclusively, the asked shape stored, SetUpNewFile, WriteHeader;
//   - the samples start at m_dataOffset and run frame after frame, each of
//     FileBytesPerFrame() bytes;
//   - a per-sample transform turns the file's bytes into the block layout
//     and back (byte order, sign, swapped byte pairs; see SampleTransform);
//   - SetFilePos seeks to a frame and, in a file being written, extends the
//     file to it (zero bytes, or ExtendData's own fill);
//   - ReadBlock / LoadWrittenFrames load a block and zero-fill it past the
//     last frame; WriteBlock writes one and raises the frame count;
//   - Close rewrites the header (RewriteHeader) when a written file's header
//     is dirty, then closes the data fork (CloseFileFork).
// A format whose header and samples live in another fork (the resource
// fork) opens and closes it through OpenFileFork / CloseFileFork and makes
// it in MakeDataFork; all the fork I/O here goes through m_refNum.
// The file type and format name are given to the constructor (see
// CTypedSoundFile).  Classes
// whose lifecycle differs more (chunked families) override Open,
// ProbeHeader and Create and call OpenForReading / ProbeWith /
// CreateDataFork for the common steps.
// Codecs whose samples are not bytes of the block layout (G.711, packed
// groups) override LoadFrames / StoreFrames and keep the rest.
#pragma once

#include "CTypedSoundFile.h"
#include "ChunkReader.h"

#include <cstddef>
#include <vector>

// The one order of channels in a file that does not keep an order of its
// own: the speakers of layout `tag` in the order of the WAVE speaker mask
// (L R C LFE, back pair, front centre pair, back centre, side pair ...),
// which players take a file to hold when nothing says otherwise.  Memory
// channel i is file channel order[i]; empty when that is the memory order
// or when no mask names every speaker of the layout.  *mask (when given)
// gets the mask of those speakers, 0 when there is none.
std::vector<int> SpeakerMaskChannelOrder(AudioChannelLayoutTag tag, UInt32 channels, UInt32* mask = nullptr);

class CLinearPCMFile : public CTypedSoundFile {
public:
    ~CLinearPCMFile() override;

    OSErr Open() override;
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr ProbeHeader(SInt16* result) override;
    OSErr Close() override;
    OSErr ReadBlock(UInt32 frame) override;
    OSErr WriteBlock(UInt32 frames, UInt32 frame) override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr RecalcNumFrames() override;
    // The raw frames of the copies that move file bytes (see CSoundFile);
    // formats whose samples are plain words say so by GetRawSampleLayout.
    OSErr ReadRawFrames(UInt32 frame, UInt8* data, UInt32* filled) override;
    OSErr WriteRawFrames(const UInt8* data, UInt32 frames, UInt32 frame) override;

    SInt64 GetDataOffset() const { return m_dataOffset; }
    // Split channels are written by the formats that name them
    // (m_splitSuffix).
    Boolean SupportsSplitChannels() const override;
    QString GetSplitNamingSuffix() const override;

protected:
    OSErr LoadWrittenFrames(UInt32 frame, UInt32* held) override;
    // After a written file is closed: its Finder information is written
    // unless the (complete) file gives its type by itself.
    virtual void DropFinderInfoTheFileTells(bool complete);

    // How the file's samples differ from the block layout (big-endian,
    // signed); applied in this order when reading, reversed when writing.
    struct SampleTransform {
        bool reverseBytes = false;  // little-endian samples
        bool swapPairs = false;  // byte pairs swapped (16-bit words of a CD image)
        bool flipSign = false;  // unsigned samples (offset binary)
    };

    CLinearPCMFile() = default;
    // `formatName` is UTF-8 text with static storage; `headerBytes` is the
    // data offset of the files Create makes.
    CLinearPCMFile(OSType fileType, const char* formatName, SInt64 headerBytes = 0);

    // The steps of Create at which the asked shape is checked.
    enum class CreateStep {
        First,  // before anything else, even the already-open check
        BeforeBase,  // after the already-open check, before CSoundFile::Create
        AfterBase  // after CSoundFile::Create, before the file is made
    };

    // ------------------------------------------------------------- hooks
    // Reads the header of the open file: shape, data offset, frame count,
    // sample format, transform.  Base: nothing.
    virtual OSErr ReadHeader();
    // Open's step after a header that was read.  Base: AddFileRegion.
    virtual OSErr AfterOpen();
    // The format's own code for a shape it cannot hold at `step`; noErr to
    // go on.  Base: noErr.
    virtual OSErr CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const;
    // Create's step after the file is made and channels, bits, rate and
    // the data offset are stored (big-endian signed samples, no transform):
    // the rest of the shape.  Base: nothing.
    virtual OSErr SetUpNewFile(const UInt8* fileTypeSpecifics);
    // Writes the header of a new file (Create's last step).  Base: nothing.
    virtual OSErr WriteHeader();
    // Writes the final header of a file being written (Close, while the
    // header is dirty).  Base: WriteHeader.
    virtual OSErr RewriteHeader();
    // Bytes of one frame in the file.  Base: channels x bytes per sample.
    virtual SInt64 FileBytesPerFrame() const;
    // File position of `frame`.  Base: the data offset + frame x frame bytes.
    virtual SInt64 FramePosition(UInt32 frame) const;
    // Frames a file of `length` bytes holds (0 to 2^32-1).  Base: the bytes
    // after the data offset over the frame bytes.
    virtual UInt32 FramesUpTo(SInt64 length) const;
    // noErr when a written file may reach `endFrame` frames; the format's
    // size error otherwise (size fields that would wrap).  Base: noErr.
    virtual OSErr CheckWriteExtent(UInt64 endFrame) const;
    // Grows a file being written to `frame` frames (SetFilePos past the
    // end) with silence (FileSilenceByte) and raises the frame count.
    virtual OSErr ExtendData(UInt32 frame);
    // The byte that is silence in the file's coding (0x80 for unsigned
    // bytes, 0xFF for mu-law, 0xD5 for A-law).  Base: 0.
    virtual UInt8 FileSilenceByte() const;
    // Reads `frames` frames at `frame` into `block` in the block layout;
    // *filled gets the block bytes it filled.  Base: seek, read, transform.
    virtual OSErr LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled);
    // Writes `frames` frames of the write buffer at `frame`.  Base: seek,
    // transform a copy, write.
    virtual OSErr StoreFrames(UInt32 frames, UInt32 frame);
    // Reads `frames` frames at `frame` as the file holds them into `data`;
    // *bytes gets the bytes read.  Base: seek, read.
    virtual OSErr ReadFileFrames(UInt8* data, UInt32 frame, UInt32 frames, std::size_t* bytes);
    // Writes `frames` frames held as the file holds them at `frame`: seek,
    // write (a short write is ioErr).
    OSErr WriteFileFrames(const UInt8* data, UInt32 frames, UInt32 frame);
    // The raw layout the sample transform gives, when the file's frames are
    // the block's frames with at most their byte order reversed or (8 bits)
    // their sign flipped; false otherwise.
    bool RawLayoutFromTransform(RawSampleLayout* layout) const;

    // Opens the fork that holds the file's header and samples for reading
    // and sets m_refNum (OpenForReading's step).  Base: the data fork.
    virtual OSErr OpenFileFork();
    // Closes the fork of m_refNum (Close's and the probe's step, and Open's
    // for a refused file).  Base: FSClose.
    virtual OSErr CloseFileFork();

    // ------------------------------------------------------ common steps
    // Opens the file's fork for reading (opWrErr when already open).
    OSErr OpenForReading();
    // Opens the data fork, runs `readHeader`, closes it again: the frame of
    // every ProbeHeader.  *result is set to 0 first.
    template <typename Body> OSErr ProbeWith(SInt16* result, Body&& readHeader)
    {
        if (result) {
            *result = 0;
        }
        OSErr err = OpenForReading();
        if (err != noErr) {
            return err;
        }
        err = readHeader();
        const OSErr closeErr = CloseFileFork();
        m_isOpen = false;
        m_refNum = 0;
        return err != noErr ? err : closeErr;
    }
    // Finds chunk `id` of an IFF-style (FORM) file walked with `options`:
    // on success the mark stands after its ID and `info` (may be null)
    // describes it.  'FORM' checks the first four bytes.  -22004 when it
    // is not there; the walk's own codes otherwise.
    OSErr FindFormChunk(OSType id, const ChunkWalkOptions& options, ChunkInfo* info);
    // Creates the file exclusively and opens it for writing; the shape is
    // the subclass's to set.
    OSErr CreateDataFork();
    // CreateDataFork's step that makes the file and opens its fork.  Base:
    // no Finder information yet (see DropFinderInfoTheFileTells).
    virtual OSErr MakeDataFork();
    // The file's length; throws error_code_exception on failure.
    SInt64 FileLength() const;
    // Writes `count` bytes at `position` (a file shorter than `position` is
    // extended with zeros first); a short write is ioErr.
    OSErr WriteAt(SInt64 position, const void* data, std::size_t count);
    // Reads `count` bytes at `position`; a short read is eofErr.
    OSErr ReadAt(SInt64 position, void* data, std::size_t count);
    // Bytes to write at a position inside the file (a header field).
    struct Patch {
        SInt64 position = 0;
        std::vector<UInt8> bytes;
    };
    // Writes `patches` in their order: as one write over the span they
    // cover, with the file's own bytes between them, when that span is
    // small and its bytes can be read; one write each otherwise.
    OSErr WritePatches(const std::vector<Patch>& patches);
    // Bytes of one frame in the block layout.
    SInt64 BlockBytesPerFrame() const;
    // Turns `bytes` bytes of file samples into the block layout in place;
    // EncodeSamples is its inverse.
    void DecodeSamples(UInt8* data, std::size_t bytes) const;
    void EncodeSamples(UInt8* data, std::size_t bytes) const;

    SInt64 m_dataOffset = 0;
    bool m_writable = false;
    SampleTransform m_transform;
    // The code Close gives for a file that is not open.
    OSErr m_notOpenErr = kFileNotOpenedErr;
    // The code Open, ProbeHeader and Create give when memory runs out.
    OSErr m_noMemoryErr = memFullErr;
    // Open closes the fork again when the header is refused.
    bool m_closesRefusedFile = false;
    // Create goes on when CSoundFile::Create fails.
    bool m_ignoresBaseCreateErr = false;
    // The naming suffix of a split-channel pair ("(.L/.R)"), set by the
    // formats that write one; null for the others.
    const char* m_splitSuffix = nullptr;
    // A scratch block for codecs and transformed writes.
    std::vector<UInt8> m_scratch;

    // The order of the channels in the file when it is not the memory order
    // (see ChannelArrangement): memory channel i is file channel
    // memoryFromFile[i]; empty for the same order.  Blocks are put in order
    // as they are loaded and stored; raw frame copies are refused.
    void SetChannelOrder(const std::vector<int>& memoryFromFile);
    bool ReordersChannels() const { return !m_memoryFromFile.empty(); }
    // Whether the written file keeps its channels in an order its header
    // names ('CHAN'); the others, whatever they say of their speakers (a
    // WAVE mask) or if they say nothing, hold them in the order of
    // SpeakerMaskChannelOrder, which PlaceChannels gives a file being
    // written: at Create and again before its first frame (a layout given
    // after Create).
    virtual bool KeepsOwnChannelOrder() const { return false; }
    void PlaceChannels();
    const std::vector<int>& ChannelOrder() const { return m_memoryFromFile; }

private:
    SInt64 m_headerBytes = 0;
    std::vector<int> m_memoryFromFile;
    std::vector<int> m_fileFromMemory;

    OSErr LoadBlock(UInt8* block, UInt32 frame, UInt32 frames);
    // Seeks to `frame` (SetFilePos) and runs `transfer(bytes, &count)` for
    // the bytes of `frames` frames there, count set to them.
    template <typename Transfer> OSErr TransferFileFrames(UInt32 frame, UInt32 frames, Transfer&& transfer);
    // WriteBlock's checks and frame count around `store`; `data`: whether
    // there is anything to write from.
    template <typename Store> OSErr WriteFramesWith(UInt32 frames, UInt32 frame, bool data, Store&& store);
};
