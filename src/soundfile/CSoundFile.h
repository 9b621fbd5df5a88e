// CSoundFile: the abstract sound file.  Every format class derives from it
// and supplies the block operations (Open, Close, ReadBlock,
// PrepareWriteBlock, WriteBlock, SetFilePos, ProbeHeader, GetFileType,
// GetFormatName); callers use only this interface.
//
// What the base keeps for every format:
//   - identity: POSIX path (UTF-8), FSSpec, FSRef, stream, refNum;
//   - shape: sample rate, channel count, word length, frame count and the
//     sample-format code (see below);
//   - annotations: markers (ordered by identifier), loops (insertion order),
//     regions (ordered by start), sampler record, time stamp, channel
//     configuration and a specifics dictionary;
//   - one sample block of buffer-frames frames that serves reads and writes
//     in turn (held as read buffer or as write buffer, never both).
//
// Sample block layout: interleaved frame by frame, big-endian, signed: 8-bit
// bytes, 16-bit words, 24-bit as three bytes most significant first, 32-bit
// words; with sample-format code 146 the 32-bit words hold a 24-bit sample
// in their low three bytes.  A format's ReadBlock fills the block in that
// layout; its WriteBlock writes it out, converting byte order or encoding.
//
// Sample-format codes (GetState): 0 big-endian signed integer (default),
// 1 little-endian signed integer, 2 unsigned 8-bit, 3 unsigned 8-bit of the
// little-endian formats, 4 mu-law, 8 ADPCM, 16 MPEG, 32 A-law, 64 'SSYS'
// 24-bit, 128/129 32-bit float big/little-endian, 146 24-bit in 32-bit words.
// The base reads only 4 and 32 (one byte per sample for the bit rate) and 146
// (the readers shift such words left by 8).
//
// Error codes: every operation returns an OSErr (0 = success).  No exception
// leaves this interface: code below it throws error_code_exception and the
// operation returns its code narrowed to 16 bits (never turning a non-zero
// code into 0).
//
// A CSoundFile is used by one thread at a time; it has no lock.
//
// For format classes: the shape and annotation fields below are protected
// and set directly by Open/Create.  ReadBlock sets m_readBufferStart to the
// frame it was asked for (the base reuses a block only when it does).  The
// member GetSoundFileProperties() hides the free function of the same name
// (CreateSoundFile.h) inside subclasses: call that one as
// ::GetSoundFileProperties(type).  A subclass that overrides one form of an
// overloaded operation (SetFile, ReadFrames, WriteFrames, ReadChannelFrames)
// adds `using CSoundFile::SetFile;` (etc.) to keep the other forms visible.
//
// Life: construct -> SetFile -> Open (reader) or Create (writer) -> block
// I/O -> Close -> delete; or CloseAndDelete, which closes and deletes in one
// call.  The destructor does not close the file.
#pragma once

#include "AudioLayoutTypes.h"
#include "FileManager.h"
#include "MacTypes.h"
#include "OutputContext.h"
#include "SoundFileRecords.h"
#include "ZuLoop.h"
#include "ZuMarker.h"
#include "ZuRegion.h"
#include "error_code_exception.h"
#include "error_codes.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QVariantMap>

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

// Sample-format codes the base and several formats test for.
enum : SInt16 {
    kSampleFormatBigEndian = 0,
    kSampleFormatLittleEndian = 1,
    kSampleFormatUnsigned8 = 2,
    kSampleFormatUnsigned8LE = 3,
    kSampleFormatMuLaw = 4,
    kSampleFormatADPCM = 8,
    kSampleFormatMPEG = 16,
    kSampleFormatALaw = 32,
    kSampleFormatSSYS24 = 64,
    kSampleFormatFloatBE = 128,
    kSampleFormatFloatLE = 129,
    kSampleFormat24In32 = 146,
};

// Channel configurations (GetChannelConfiguration).
enum : SInt32 {
    kChannelConfigMono = 0,
    kChannelConfigStereo = 1,
    kChannelConfigLCR = 2,
    kChannelConfigQuad = 3,
    kChannelConfigLCRS = 4,
    kChannelConfig5_0 = 5,
    kChannelConfig5_1 = 6,
    kChannelConfig6_0 = 7,
    kChannelConfig6_1 = 8,
    kChannelConfig7_1 = 9,
    kChannelConfig10_2 = 10,
    kChannelConfigMultichannel = 11,
};

// The shapes a header read from a file may give (CSoundFile::CheckReadShape):
// no audio is recorded faster than 64 x 48 kHz (the rates of one-bit audio
// taken as samples), and the peers read no more than 1024 channels.
constexpr double kMaxReadSampleRate = 3072000.0;
constexpr UInt32 kMaxReadChannels = 1024;

// Default size of the sample block in frames.
constexpr UInt32 kDefaultBufferFrames = 12288;

// Longest name the base gives a region (characters).
constexpr int kMaxRegionNameLength = 30;

// How a file holds its samples when they are plain integer words, frame
// after frame with nothing else between them: `bytes` per sample (1 to 4),
// least significant byte first or last, and (8 bits only) offset binary.
// ieeeFloat: the 4-byte words are 32-bit floats (whose values the block's
// integers would clip at full scale); they go only to a file of floats.
struct RawSampleLayout {
    UInt8 bytes = 0;
    bool littleEndian = false;
    bool offsetBinary = false;
    bool ieeeFloat = false;
};

class CSoundFile {
public:
    CSoundFile();
    virtual ~CSoundFile();

    CSoundFile(const CSoundFile&) = delete;
    CSoundFile& operator=(const CSoundFile&) = delete;

    // ================================================================ identity
    // The file to open or create, given three ways; each fills path, FSSpec
    // and FSRef (for a file that does not exist yet: FSSpec and path, with
    // the FSRef-valid flag clear).  The output HFS type is taken from the
    // type's properties.
    //
    // FSSpec: noErr also for a file not yet created; the error of the folder
    // look-up otherwise.
    virtual OSErr SetFile(const FSSpec* spec);
    // The next SetFile(const FSSpec*) of the base names a file about to be
    // made under a name just drawn at random: only its folder is looked up,
    // as for any name not there yet (a namesake already there could only be
    // a stranger, never the file to make; the exclusive creation that
    // follows meets any fault of the folder itself).
    void SetNameDrawnAtRandom() { m_nameDrawnAtRandom = true; }
    // FSRef of an existing file: its path and FSSpec; the catalog result.
    virtual OSErr SetFile(const FSRef* ref);
    // A path (input files): -22008 for a folder; a path that does not exist
    // yet still sets FSSpec and path (FSRef-valid clear) and gives noErr when
    // its folder exists.
    virtual OSErr SetFile(const std::string& path);
    // A list of paths (split and surround members): the base takes the first
    // (paramErr for an empty list); the set files take every member.
    virtual OSErr SetFile(const std::vector<std::string>& paths);

    // ============================================================ open/create
    // Opens an existing file for reading: the format fills rate, channels,
    // word length, frame count, sample-format code and annotations, then
    // calls AddFileRegion.
    virtual OSErr Open() = 0;

    // The base step of every format's Create: gives the output its type's
    // name extension (or `nameExtension` when not empty; its result is kept
    // as the create status) and records the new file, relative to the output
    // folder of the running conversion ("ZuOutputFolderRef" in the calling
    // thread's dictionary), in the created-output list.  Formats override
    // it, call CSoundFile::Create first, then create the file themselves
    // (exclusively) with the shape given.
    //   numChannels, numBits: the output's shape
    //   reserved: not used by the base; formats may define a use
    //   fileTypeSpecifics: the conversion's 256-byte file-type block (may be null)
    //   nameExtension: Pascal string, may be empty or null
    //   sampleRate: frames per second
    // Without "ZuOutputFolderRef" in the thread's dictionary the file is
    // recorded by its name alone and the result is noErr.
    virtual OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                         const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension,
                         float sampleRate);

    // Closes the file; a written file patches its header and appends its
    // annotation chunks here.  The format reads IsClosingAfterFailure() to
    // know whether CloseAndDelete was told the work failed.
    virtual OSErr Close() = 0;

    // =========================================================== sample I/O
    // Every reader reads up to *count frames from `frame` on, stopping at the
    // frame count; *count returns the frames moved (0 at or past the end,
    // which is no error).  Values are in -1.0 .. 1.0 (see the scales in
    // CSoundFile.cpp).  On a block failure the frames already moved are in
    // *count and the failure is returned.

    // Writes *count interleaved frames; samples are clipped in place first.
    // 8- and 16-bit words get dither while the dither flag is on and the
    // dither table exists.
    virtual OSErr WriteFrames(UInt32 frame, UInt32* count, double* interleaved);
    // The same from one array per channel (the arrays are not changed).
    virtual OSErr WriteFrames(UInt32 frame, UInt32* count, double** channels);
    // Stereo reader into single-precision arrays: sample 0 of each frame to
    // `left`, sample 1 to `right` (sample 0 to both for a one-channel file).
    virtual OSErr ReadFrames(UInt32 frame, UInt32* count, float* left, float* right);
    // Interleaved floats; word lengths 8, 16, 24 and 32 only (else -50).
    virtual OSErr ReadFrames(UInt32 frame, UInt32* count, float* interleaved);
    // One channel as floats; word lengths 8, 16, 24 and 32 only.
    virtual OSErr ReadChannelFrames(UInt16 channel, UInt32 frame, UInt32* count, float* out);
    // One float array per channel; word lengths 8, 16, 24 and 32 only.
    virtual OSErr ReadFrames(UInt32 frame, UInt32* count, float** channels);
    // Stereo reader into doubles (sample 0 to both for a one-channel file).
    virtual OSErr ReadStereoFrames(UInt32 frame, UInt32* count, double* left, double* right);
    // The reference reader: interleaved doubles.
    virtual OSErr ReadFrames(UInt32 frame, UInt32* count, double* interleaved);
    // One channel as doubles.
    virtual OSErr ReadChannelFrames(UInt16 channel, UInt32 frame, UInt32* count, double* out);
    // Adds one channel into the write blocks (each block is prepared at its
    // frame by PrepareWriteBlock, the channel added at its slot, the block
    // written); no dither; the sum saturates at the word's limits.
    virtual OSErr WriteChannelFrames(UInt16 channel, UInt32 frame, UInt32* count,
                                     const double* samples);

    // Whether the format reports a bit rate of its own (coded formats).
    virtual Boolean UseBitRate() const;
    virtual UInt32 GetNumFrames() const;
    // The header promised more audio than the file holds, or the data ends
    // inside a frame: the frames present are read, and the batch warns
    // "unexpected end of file" for the file.  A set tells for its members.
    Boolean DataCutShort() const;
    // What the decoder of a compressed input could not turn into sound, as
    // far as the input has been read (all zero for other inputs); the batch
    // warns with it, saying how much.  A set adds up its members'.
    SFTDecodeLoss GetDecodeLoss() const;
    // How a compressed input's length and losses were judged, one line per
    // rule of its container and codec, the verdict last (empty for other
    // inputs); `--info` shows them.
    const std::vector<std::string>& VerdictLines() const { return m_verdictLines; }
    // A headerless file whose name gives no rate: its rate is the raw-file
    // settings' (the batch warns, naming the rate and the preference).
    bool RateFromRawSettings() const { return m_rateFromRawSettings; }
    // Whether the shape an opened file's header gives can describe its
    // sound: a rate from 1 Hz to kMaxReadSampleRate, 1 to kMaxReadChannels
    // channels, and at least one whole frame when the sound data holds any
    // bytes.  noErr, else -22601 (the rate) or -22100 (the channels); a set
    // checks its members too.  The input model and the batch check every
    // opened input here, whatever its format.
    OSErr CheckReadShape() const;

    // ============================================== markers, loops, regions
    // Markers: ordered by identifier; equal = same position and name.
    virtual UInt16 GetNumMarkers() const;
    virtual OSErr GetMarker(UInt16 index, SFTMarker* marker) const;  // -22000 past the end
    virtual const ZuMarker* GetMarkerObject(UInt16 index) const;     // null past the end
    virtual OSErr GetMarkerByID(SInt32 markerID, SFTMarker* marker) const;
    // Adds a marker unless an equal one is there; an identifier already in
    // use becomes the last marker's identifier + 1 (appended).
    virtual OSErr AddMarker(const SFTMarker* marker);
    virtual OSErr RemoveMarker(const SFTMarker* marker);              // -22000 when absent

    // Loops: insertion order; equal = identifier, start, end and type equal.
    virtual UInt16 GetNumLoops() const;
    virtual OSErr GetLoop(UInt16 index, SFTLoop* loop) const;        // -22001 past the end
    virtual const ZuLoop* GetLoopObject(UInt16 index) const;
    virtual OSErr AddLoop(const SFTLoop* loop);
    virtual OSErr RemoveLoop(const SFTLoop* loop);                    // -22001 when absent
    // Removes repeated markers (same identifier, position, name) and loops.
    virtual OSErr RemoveDuplicateMarkers();

    // Regions: ordered by start; equal = same start and end.
    virtual UInt16 GetNumRegions() const;
    virtual OSErr GetRegion(UInt16 index, SFTRegion* region) const;  // -22002 past the end
    virtual const ZuRegion* GetRegionObject(UInt16 index) const;
    // Name cut to 30 characters; start < 0 (as signed) becomes 0; the end is
    // clamped to the frame count only while the frame count is known (> 0).
    virtual OSErr AddRegion(const SFTRegion* region);
    virtual OSErr RemoveRegion(const SFTRegion* region);              // -22002 when absent
    // The first region with exactly this start and end; `region` may be null.
    virtual Boolean FindRegion(UInt32 start, UInt32 end, SFTRegion* region) const;
    virtual const QList<ZuRegion>& GetRegions() const;
    virtual const QList<ZuMarker>& GetMarkers() const;
    virtual const QList<ZuLoop>& GetLoops() const;

    // ======================================================= identity (read)
    virtual void GetFSSpec(FSSpec* spec) const;
    virtual void GetFSRef(FSRef* ref) const;
    // The file's name as a Pascal string (Mac OS Roman) into a Str255; the
    // buffer is left untouched when the name does not fit 255 bytes.
    virtual void GetFileName(StringPtr name) const;
    // The same for a format that stores its own name in the file: the name
    // the output will be published under (the temporary word and its tag
    // replaced by the base name of the OutputContext the object was made
    // in); without one, the temporary name less its random tag (see
    // WithoutTemporaryTag).
    void GetStoredFileName(StringPtr name) const;
    std::string GetStoredFileNameString() const;
    // What the conversion making this output tells it (the context of the
    // OutputContextScope it was made in; the empty one for a file made
    // outside any).
    const OutputContext& GetOutputContext() const;
    // The path after its last "/".
    virtual std::string GetFileNameString() const;
    // The file name less a readable extension ("take.wav" -> "take").
    virtual QString GetName() const;
    virtual const std::string& GetPath() const;
    virtual std::fstream& GetStream();

    // The next block of overlapping regions whose first region starts at or
    // after `frame` (signed comparison): its start and the largest end of the
    // regions that overlap it.  -20002 when there is none.
    virtual OSErr GetRegionBounds(SInt32 frame, UInt32* start, UInt32* end) const;

    // ============================================================= blocks
    // Makes sure the block is held as read buffer (a write buffer is handed
    // over with its contents).  Formats with buffers of their own override it.
    virtual OSErr AllocateReadBuffer();
    // Prepares an opened input for reading (a type that decodes the whole
    // input does it here, into a work file in `outputFolder`).  Base: 0.
    virtual OSErr PrepareRead(const FSSpec& outputFolder);
    // Format: fills the read buffer with the frames from `frame` on (at most
    // buffer-frames frames) and sets the read-buffer start to `frame`.
    virtual OSErr ReadBlock(UInt32 frame) = 0;
    // ReadBlock for a reader that takes only the first `wanted` frames of
    // the block into what it makes (0: none, as a scan that only measures):
    // a float input's decoder counts clipping in those frames alone, not in
    // what a block reads past them.  The base's readers go through here.
    OSErr ReadBlockFor(UInt32 frame, UInt32 wanted);
    // Makes sure the block is held as write buffer; a read buffer taken over
    // is cleared to zeros.
    virtual OSErr AllocateWriteBuffer();
    // Makes the write buffer ready for the block starting at `frame`: the
    // frames the file already holds there, as the format loads them
    // (LoadWrittenFrames), and silence in every frame after them, whatever
    // the buffer held before.  Every block any writer is handed passes
    // here, so no writer can add a channel onto, or write out, the samples
    // of another block.  *held (may be null) gets the frames loaded.
    OSErr PrepareWriteBlock(UInt32 frame, UInt32* held = nullptr);
    // Format: writes `frames` frames of the write buffer at `frame` and
    // updates the frame count.  Base: writes nothing, returns 0.
    virtual OSErr WriteBlock(UInt32 frames, UInt32 frame);
    // Frees the block; both buffer pointers become null.
    virtual void FreeBuffers();
    // Format: positions the file at `frame` (past the end of a file being
    // written it extends the file with zeros).
    virtual OSErr SetFilePos(UInt32 frame) = 0;
    // Format: recounts the frames from the file's length.  Base: 0.
    virtual OSErr RecalcNumFrames();
    // Format: reads the file's description (shape, annotations) without
    // keeping it open; *result gets a count the format defines (the number
    // of regions for most).
    virtual OSErr ProbeHeader(SInt16* result) = 0;
    virtual void SetDither(Boolean dither);
    // Whether the file holds 32-bit or 64-bit floats (which the block's
    // integers clip at full scale).  Base: by the sample format.
    virtual bool HoldsFloatSamples() const;
    // Set before Create: a 32-bit output whose type can hold floats (WAVE,
    // AIFF-C, CAF) writes 32-bit floats, as the float input it is kept from
    // holds them.  Types that cannot ignore it.
    void SetKeepsFloatSamples(bool keeps) { m_keepsFloatSamples = keeps; }
    // For a float input's decoder, the frames [frame, frame + frames) just
    // decoded: the samples [*from, *to) of them (counted from the first
    // sample of `frame`) to count for clipping: the frames the reader takes
    // (ReadBlockFor), within the clip-count window, each frame once however
    // often it is read (blocks read again).
    void ClipCountSpan(UInt32 frame, UInt32 frames, std::size_t* from, std::size_t* to);
    // The frames [from, to) whose samples beyond full scale a float input's
    // decoder counts (all, until set): a snip reads only these, whatever a
    // block decodes past them.  A file whose decoding lies elsewhere (the
    // media libraries) passes it on.
    virtual void SetClipCountWindow(UInt32 from, UInt32 to);

    // --------------------------------------------------- raw sample bytes
    // Copies that only change the word length move file bytes straight into
    // another file through these.  GetRawSampleLayout: true, with the
    // layout, when the file's samples are plain words of GetNumBits() / 8
    // bytes and both raw calls below work.  Base: false.
    virtual bool GetRawSampleLayout(RawSampleLayout* layout) const;
    // ReadBlock's frames from `frame` as the file holds them: the frames it
    // would load (none past the end) go to `data`, which holds a block of
    // buffer-frames frames; *filled gets the whole frames read.  The read
    // buffer is left alone.  Base: paramErr.
    virtual OSErr ReadRawFrames(UInt32 frame, UInt8* data, UInt32* filled);
    // ReadRawFrames, at most `frames` of them, in the words of `layout`
    // (another file's), where the file makes those itself exactly as a copy
    // without noise would convert its own: *made true then.  With *made
    // false nothing is given and the caller converts.  Base: never made.
    virtual OSErr ReadRawFramesAs(const RawSampleLayout& layout, UInt32 frame, UInt32 frames, UInt8* data,
                                  UInt32* filled, bool* made);
    // WriteBlock with `frames` frames taken from `data` as the file holds
    // them (the write buffer is neither needed nor touched).  Base: paramErr.
    virtual OSErr WriteRawFrames(const UInt8* data, UInt32 frames, UInt32 frame);

    // Repairs region names (empty -> "... no name ...", ':' and '/' -> '-'),
    // then numbers repeated names "name#1", "name#2" ... (at most 30
    // characters).
    virtual OSErr MakeRegionNamesUnique();
    virtual OSErr RepairRegionNames();
    // Appends "." + extension to the file's name (FSSpec and path) when the
    // longer name is a valid file name; -22021 and nothing changed otherwise.
    virtual OSErr MakeNameWithExtension(ConstStr255Param extension);

    // Closes the file when it is open (Close, after recording !success as the
    // failure flag) and deletes the object.  Returns Close's failure, or else
    // the create status (for example -22021 from naming).  The object no
    // longer exists after the call.
    virtual OSErr CloseAndDelete(Boolean success);

    // Sonic split members: two 16-byte identifiers and the member index.
    // Base: nothing.
    virtual void SetSonicInfo(const UInt8* firstID, const UInt8* secondID, UInt32 index);
    // The type's entry of the file-type dictionary (empty when none).
    virtual QVariantMap GetSoundFileProperties() const;

    // Time stamp (sample count).  Kept as 64 bits; the 32-bit forms give and
    // take the low 32 bits.  Set files override the 64-bit forms.
    virtual UInt32 GetTimeStamp() const;
    virtual void SetTimeStamp(UInt32 timeStamp);
    virtual Boolean HasTimeStamp() const;
    virtual UInt64 GetTimeStamp64() const;
    virtual void SetTimeStamp64(UInt64 timeStamp);

    // A new block size in frames (frees the block when it changes; 0 is
    // refused with paramErr).
    virtual OSErr SetBufferFrames(UInt32 frames);
    virtual Boolean NeedsEncodingOnClose() const;
    virtual Boolean NeedsDecodingOnOpen() const;

    // Per-channel running minimum and maximum over `frames` frames (at least
    // 1) of a buffer in the block layout, with this file's channel count.
    // min/max hold one value per channel at 32-bit scale for the 24-bit forms
    // (the sample in the top three bytes), else at the word's own scale.
    // Returns the last frame index at which a minimum or maximum changed.
    virtual UInt32 FindPeaks8(const void* buffer, UInt32 frames, SInt32* min, SInt32* max) const;
    virtual UInt32 FindPeaks16(const void* buffer, UInt32 frames, SInt32* min, SInt32* max) const;
    virtual UInt32 FindPeaks24(const void* buffer, UInt32 frames, SInt32* min, SInt32* max) const;
    virtual UInt32 FindPeaks24in32(const void* buffer, UInt32 frames, SInt32* min, SInt32* max) const;
    virtual UInt32 FindPeaks32(const void* buffer, UInt32 frames, SInt32* min, SInt32* max) const;

    // The class's four-character type code (its key in the file-type table).
    virtual OSType GetFileType() const = 0;
    // The type an output takes when a conversion keeps the input's type:
    // the type of what the file is (a class that reads several types
    // answers the one it has read); GetFileType by default.
    virtual OSType GetKeptFileType() const;
    // HFS type and creator from the type's properties ("fileType",
    // "creator"); 0 when absent.
    virtual OSType GetHFSFileType() const;
    virtual OSType GetHFSCreator() const;
    virtual Boolean SupportsSplitChannels() const;
    virtual QString GetSplitNamingSuffix() const;
    // Display name of the format (its properties' "text").
    virtual QString GetFormatName() const = 0;
    // With "Process File If No Regions" on: one region over the whole file,
    // named after the file (at most 29 characters).
    virtual OSErr AddFileRegion();
    virtual QVariantMap& GetSpecifics();
    // True when a read buffer exists and holds `frame`.
    virtual Boolean IsFrameInReadBuffer(UInt32 frame) const;
    virtual Boolean IsSplit() const;
    virtual Boolean HasVideoTrack() const;
    virtual Boolean IsOpen() const;
    // Linear PCM description of the file (big-endian signed packed integer).
    virtual void GetAudioStreamBasicDescription(AudioStreamBasicDescription* asbd) const;
    // 1 mono, 2 stereo, 3 more channels (split files 4, surround files 5).
    virtual SInt32 GetChannelKind() const;
    // "2 (stereo)": the channel count and the configuration's name.
    virtual QString GetChannelDescription() const;
    // "" for mono, "Left"/"Right" for stereo, "1", "2" ... otherwise.
    virtual std::string GetChannelName(UInt16 channel) const;
    // A zero-filled layout (12 + 20 x channels bytes) whose tag follows the
    // channel configuration (a multichannel file's own layout tag, when it
    // has one for its channel count); its size through `size` (may be
    // null).  The caller frees it with std::free.  Null when the allocation
    // fails.  The channels in memory are in the order of that tag.
    virtual AudioChannelLayout* CreateChannelLayout(UInt32* size) const;
    virtual SInt32 GetChannelConfiguration() const;
    virtual void SetChannelConfiguration(SInt32 configuration);
    // The layout of a multichannel file whose speakers no configuration
    // has (7.1 with rear surrounds): a Core Audio tag in the order of its
    // channels in memory, 0 when none is known.  Readers set it with the
    // configuration; a conversion hands it on with the configuration.
    virtual AudioChannelLayoutTag GetMultichannelLayoutTag() const;
    void SetMultichannelLayoutTag(AudioChannelLayoutTag tag) { m_multichannelLayoutTag = tag; }
    // The tag of CreateChannelLayout: the order of the channels in memory.
    AudioChannelLayoutTag MemoryLayoutTag() const;
    // Metadata of the file for the output side, owned by the caller, or
    // null without a valid FSRef.
    virtual std::unique_ptr<QVariantMap> GetExtraInfo();
    // The member files of a split or surround set; null for plain files.
    virtual const std::vector<CSoundFile*>* GetSubFiles() const;

    // ====================================================== non-virtual
    SInt16 GetNumBits() const { return m_numBits; }
    UInt16 GetNumChannels() const { return UInt16(m_numChannels); }
    double GetSampleRate() const { return m_sampleRate; }
    // Stores the rate and marks the header dirty; 0.
    OSErr SetSampleRate(double rate);
    // Bit rate in kbit/s, cached once computed; 0 while the rate or the frame
    // count is 0.  Saturates at 65535.
    UInt16 GetBitRate();
    UInt8* GetReadBuffer() const { return m_readBuffer; }
    UInt8* GetWriteBuffer() const { return m_writeBuffer; }
    SInt16 GetRefNum() const { return m_refNum; }
    SInt16 GetState() const { return m_sampleFormat; }
    UInt32 GetBufferFrames() const { return m_bufferFrames; }
    Boolean GetDither() const { return m_dither; }
    Boolean IsOneChannelDone() const;
    void SetOneChannelDone(Boolean done);
    void SetAverageLevel(double level) { m_averageLevel = level; }
    double GetAverageLevel() const { return m_averageLevel; }
    // -22007 when the record is not valid (it is copied out either way).
    OSErr GetSamplerInfo(SFTSamplerInfo* info) const;
    OSErr SetSamplerInfo(const SFTSamplerInfo* info);
    void ResetSamplerInfo();
    OSErr AddSplitPair(UInt32 first, UInt32 second);
    // -22015 when the pair does not exist; either pointer may be null.
    OSErr GetSplitPair(UInt16 index, UInt32* first, UInt32* second) const;
    Boolean IsFSRefValid() const { return m_fsRefValid; }
    Boolean ExtensionGiven() const { return m_extensionGiven; }
    OSErr GetCreateStatus() const { return m_createStatus; }
    OSType GetOutputHFSType() const { return m_outputHFSType; }
    Boolean IsHeaderDirty() const { return m_headerDirty; }
    // True while CloseAndDelete is closing a file whose work failed.
    Boolean IsClosingAfterFailure() const { return m_closeAfterFailure; }

    // The path of `name` in the application's resources; raises -43
    // (error_code_exception) when there is no such resource.
    static std::string GetResourcePathString(const std::string& name);

protected:
    // A code narrowed to the 16 bits of the interface; a code whose low 16
    // bits are 0 would read as success and becomes an I/O error instead.
    static OSErr NarrowError(int32_t code);
    // Runs `body`, turning exceptions into codes: error_code_exception into
    // its narrowed code, an allocation failure into `allocationError`.
    template <typename Body>
    static OSErr Guarded(Body&& body, OSErr allocationError = memFullErr)
    {
        try {
            return body();
        } catch (const error_code_exception& e) {
            return NarrowError(e.code());
        } catch (const std::bad_alloc&) {
            return allocationError;
        }
    }

    // Format: loads into the write buffer (allocating it) what the file
    // already holds from `frame` on, at most a block, and sets *held to the
    // frames loaded (0 for a new file, or past its end).  The bytes after
    // them are not the format's concern: PrepareWriteBlock clears them.
    virtual OSErr LoadWrittenFrames(UInt32 frame, UInt32* held) = 0;

    // Allocates a zero-filled sample block of `bytes` bytes as the owned
    // block (freeing any earlier one); neither buffer pointer is set.
    // Throws error_code_exception (null pointer) when it fails.
    UInt8* AllocateBlock(std::size_t bytes);
    // Bytes of one sample block for the current shape (at least 1).
    std::size_t BlockBytes() const;
    // Block skeletons for formats that fill a block through
    // `load(block, frame, frames)`: the open check, the block allocation, then
    // the read buffer loaded with the frames there are from `frame` (none past
    // the end), or the write buffer loaded with what the file already holds
    // there (running off the end is not an error).
    template <typename Load>
    OSErr LoadReadBlock(UInt32 frame, Load&& load)
    {
        if (!m_isOpen) {
            return kFileNotOpenedErr;
        }
        const OSErr err = AllocateReadBuffer();
        if (err != noErr) {
            return err;
        }
        return load(m_readBuffer, frame, BlockFramesFrom(frame));
    }
    template <typename Load>
    OSErr LoadWriteBlock(UInt32 frame, Load&& load)
    {
        if (!m_isOpen) {
            return kFileNotOpenedErr;
        }
        OSErr err = AllocateWriteBuffer();
        if (err != noErr) {
            return err;
        }
        err = load(m_writeBuffer, frame, m_bufferFrames);
        return err == eofErr ? noErr : err;
    }
    // The shape of a file being created: its channels, word length and rate,
    // and no frames yet.
    void SetNewFileShape(UInt32 channels, SInt16 bits, double rate)
    {
        m_numChannels = channels;
        m_numBits = bits;
        m_sampleRate = rate;
        m_numFrames = 0;
    }
    // Frames of a block from `frame` that the file holds (none past the end).
    UInt32 BlockFramesFrom(UInt32 frame) const
    {
        return frame < m_numFrames ? std::min(m_bufferFrames, m_numFrames - frame) : 0;
    }
    // The frames of the block being read that its reader takes
    // (ReadBlockFor; all when ReadBlock is called alone).
    UInt32 ReadWanted() const { return m_readWanted; }
    // Marks what the base knows of the read buffer's contents as stale (a
    // format that changes the block behind the base's back calls it).
    void InvalidateReadBuffer() { m_blockValidFrames = 0; }
    // Readers settle their frame count from the sound data here: the file
    // holds `presentBytes` of it, the header promises `promisedBytes`
    // (kDataToTheEnd: the data runs to the end of the file), in units of
    // `unitBytes` bytes that hold `unitFrames` frames each (a frame, or a
    // packed group).  The frame count becomes the frames of the whole units
    // both present and promised (at most 2^32 - 1).  Fewer bytes than
    // promised, or a last unit cut off, mark the data cut short
    // (DataCutShort); bytes that hold no whole unit are kept for
    // CheckReadShape, which refuses them.
    static constexpr UInt64 kDataToTheEnd = ~UInt64(0);
    void SettleFramesFromData(UInt64 presentBytes, UInt64 promisedBytes, UInt64 unitBytes, UInt32 unitFrames = 1);

    // ------------------------------------------------------------ fields
    SInt16 m_sampleFormat = 0;              // sample-format code
    UInt8* m_readBuffer = nullptr;          // the block while reading
    UInt8* m_writeBuffer = nullptr;         // the block while writing
    Boolean m_closeAfterFailure = false;    // !success of the last CloseAndDelete
    Boolean m_oneChannelDone = false;
    UInt32 m_numFrames = 0;                 // frame count
    Boolean m_dataCutShort = false;         // frames cut to the data present (see DataCutShort)
    SFTDecodeLoss m_decodeLoss;             // kept by the decoding readers (see GetDecodeLoss)
    std::vector<std::string> m_verdictLines;  // see VerdictLines
    bool m_rateFromRawSettings = false;     // see RateFromRawSettings
    Boolean m_dataHoldsNoFrame = false;     // sound data of fewer bytes than one frame (see CheckReadShape)
    QList<ZuMarker> m_markers;              // ordered by identifier
    QList<ZuLoop> m_loops;                  // insertion order
    QList<ZuRegion> m_regions;              // ordered by start
    Boolean m_headerDirty = false;
    UInt32 m_readBufferStart = 0;           // first frame held in the read buffer
    Boolean m_dither = true;
    bool m_keepsFloatSamples = false;       // SetKeepsFloatSamples
    UInt64 m_clipCountedTo = 0;             // ClipCountSpan: the frames below are counted
    UInt64 m_clipWindowFrom = 0;            // SetClipCountWindow
    UInt64 m_clipWindowTo = ~UInt64(0);
    UInt32 m_readWanted = ~UInt32(0);       // ReadBlockFor
    SInt16 m_refNum = 0;                    // data fork while open
    Boolean m_isOpen = false;
    double m_sampleRate = 0.0;
    UInt32 m_numChannels = 0;
    SInt16 m_numBits = 16;
    UInt16 m_bitRate = 0;                   // cached kbit/s; 0 = not computed
    SFTSamplerInfo m_samplerInfo;
    FSSpec m_fsSpec;
    FSRef m_fsRef;
    Boolean m_fsRefValid = false;           // m_fsRef names the file itself
    std::string m_path;
    std::shared_ptr<const OutputContext> m_outputContext;  // the scope's when made in one
    std::unique_ptr<std::fstream> m_stream;  // made on first GetStream()
    OSType m_outputHFSType = 0;
    std::vector<UInt32> m_splitPairs;       // two frames per pair
    OSErr m_createStatus = 0;               // result of naming the output
    double m_averageLevel = 0.0;
    UInt64 m_timeStamp = 0;
    Boolean m_timeStampValid = false;
    UInt32 m_bufferFrames = kDefaultBufferFrames;
    Boolean m_extensionGiven = false;
    bool m_nameDrawnAtRandom = false;       // see SetNameDrawnAtRandom
    // Most files hold one region or none: node sets cost less to make and
    // drop than hash sets for such counts.
    std::set<QString> m_regionNames;
    std::set<QString> m_duplicateRegionNames;
    QVariantMap m_specifics;
    SInt32 m_channelConfiguration = 0;
    AudioChannelLayoutTag m_multichannelLayoutTag = 0;

private:
    template <typename Convert>
    OSErr ReadLoop(UInt32 frame, UInt32* count, Convert&& convert);
    template <typename Convert>
    OSErr WriteLoop(UInt32 frame, UInt32* count, Convert&& convert);
    template <typename T>
    OSErr ReadInterleavedAs(UInt32 frame, UInt32* count, T* interleaved);
    template <typename T>
    OSErr ReadChannelAs(UInt16 channel, UInt32 frame, UInt32* count, T* out);
    template <typename T>
    OSErr ReadStereoAs(UInt32 frame, UInt32* count, T* left, T* right);
    OSErr CheckFloatWordLength() const;
    OSErr CheckFloatRead(UInt32* count) const;
    OSErr SetFileFromPath(const std::string& path);
    void InsertRegionName(const QString& name);

    UInt8* m_block = nullptr;               // the owned sample block
    std::size_t m_blockBytes = 0;
    // Frames of the read buffer known (by the base) to hold the file's frames
    // from m_blockValidStart on, after a successful ReadBlock; 0 when unknown.
    UInt32 m_blockValidStart = 0;
    UInt32 m_blockValidFrames = 0;
    UInt32 m_blockTakenFrames = 0;  // the frames of it the reader that read it took
};

// Bytes of a sample of `bits` bits (bits >> 3).
inline SInt16 BitsToBytes(SInt16 bits)
{
    return SInt16(bits >> 3);
}
// Three bytes, most significant first, as the top of a 32-bit word (low byte 0).
inline UInt32 UInt24ToUInt32(const UInt8* bytes)
{
    return (UInt32(bytes[0]) << 24) | (UInt32(bytes[1]) << 16) | (UInt32(bytes[2]) << 8);
}
// The top three bytes of a 32-bit word, most significant first.
inline void UInt32ToUInt24(UInt32 value, UInt8* bytes)
{
    bytes[0] = UInt8(value >> 24);
    bytes[1] = UInt8(value >> 16);
    bytes[2] = UInt8(value >> 8);
}

// Single-sample 24-bit conversions (three big-endian bytes at the top of a
// signed 32-bit word, scaled by 4.65661287308e-10).
double Int24ToDouble(const UInt8* bytes);
float Int24ToFloat(const UInt8* bytes);
// Stores the top three bytes of int32(x * 2147483647.0), saturating at the
// 32-bit limits; not-a-number gives 0x80000000.
void DoubleToInt24(double value, UInt8* bytes);

// The read scales.
constexpr double kScale8 = 0.0078125;
constexpr double kScale16 = 3.051758e-5;
constexpr double kScale32 = 4.65661287308e-10;
