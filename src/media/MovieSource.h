// The movie layer: any file the media libraries can demultiplex, seen as
// its first sound track.  It stands in for opening a movie, its audio
// extraction, the audio-file properties of a movie input (file format, data
// format, channel layout) and its metadata items.
//
// Samples come out as signed 32-bit integers per channel, exactly as the
// media libraries' own conversion to 32-bit integers gives them (floats
// scaled by 2^31, rounded and saturated; narrower integers shifted up), so a
// decode of the whole track equals the reference decoder's sample for
// sample.  The frame count is the number of frames such a decode yields:
// taken from the packets where the codec delivers exactly a packet's
// duration, counted by decoding at open otherwise.
//
// Reading at any frame gives the same samples as reading from the start:
// a seek goes to a packet far enough before the frame for the decoder to
// settle, and decodes and discards up to the frame.
//
// Channel order: the delivered channels follow the file's order, or the
// order of a Core Audio layout tag given with SetClientLayout.
//
// Error codes (warnings of the program's error table, so that one bad input
// never stops a batch): -43 for a missing file, -22008 ("has unknown file
// format") for a file that cannot be demultiplexed, -39 ("unexpected end of
// file") for one cut before what the demuxer needs (TrackLengthRule),
// -24202 ("no audio track in file") for one without a sound track, -24203
// for a sound track of which no packet decodes, -24230 for one whose parts
// differ in channel count (a chained or joined stream), -24231 for one whose
// parts differ in rate when they cannot be converted; other failures map to
// I/O codes.
//
// A track whose later parts decode at another rate (a chained Ogg link, MPEG
// audio or ADTS frames of another rate joined on) is read at its first
// part's rate, the others converted to it (RateChangeBridge), and counted
// by decoding.
// No exception leaves this class.  One object is used by one thread.
//
// Writing (movie export) is MovieExporter's, over the same libraries.
#pragma once

#include "ChannelLabels.h"
#include "ContainerKind.h"
#include "CoreAudioTypes.h"
#include "error_codes.h"
#include "MacTypes.h"
#include "SoundFileRecords.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One metadata item as the movie presents it.
struct MovieMetadataItem {
    std::string key;             // the container's key ("title", "covr")
    UInt32 dataType = 1;         // 1 UTF-8 text, 13 JPEG, 14 PNG, 27 BMP, 0 binary
    std::vector<UInt8> value;    // the value's bytes
};

class MovieSource {
public:
    ~MovieSource();
    MovieSource(const MovieSource&) = delete;
    MovieSource& operator=(const MovieSource&) = delete;

    // Opens `path` (UTF-8) and its first sound track; noErr and the object,
    // or an error code and null.
    static OSErr Open(const std::string& path, std::unique_ptr<MovieSource>* out);
    // Opens as Open does, always through the media libraries.  Open reads
    // a native FLAC file whose frames are proven whole without them (with
    // libFLAC, loading them only for a frame it refuses, or for the
    // metadata), giving all this does.
    static OSErr OpenWithLibraries(const std::string& path, std::unique_ptr<MovieSource>* out);
    // A quick look: the channel count of the first sound track when the
    // libraries recognise the file's content with confidence, or it is a
    // raw MPEG audio stream of a few whole frames (its name is not
    // consulted), 0 when they do not, a negative code when the file
    // cannot be read.  The demuxer's kind and the track's data-format
    // code go to the out parameters (either may be null).
    static SInt32 Probe(const std::string& path, ContainerKind* container, OSType* dataFormat);
    // Opens only far enough for the metadata (no sound track needed).
    static OSErr ReadMetadata(const std::string& path, std::vector<MovieMetadataItem>* items);

    double SampleRate() const;
    UInt32 Channels() const;
    UInt64 FrameCount() const;
    // The file holds less sound data than its header says (known for CAF
    // files, IMA 4:1 AIFF-C tracks, MPEG audio, FLAC, Ogg, ASF and MPEG-4
    // tracks, raw ADTS and AC-3 streams: TrackLengthRule; and any track
    // whose one last packet, broken off at the file's end, the decoder
    // refuses; the frame count is then what the data holds, a packet cut
    // inside a block counting its whole blocks, a packet cut short none).
    bool DataCutShort() const;
    // What the decoder could not turn into sound, as far as the track has
    // been read.  A packet it refuses inside the track reads as silence of
    // the packet's length (the frame count stays what the packets give);
    // refused packets at the track's end are no frames of it (a file cut
    // inside its last packet is cut short instead); a track of which no
    // packet decodes does not open (kUndecodableAudioErr).  Counted at
    // open where the frames are counted by decoding.
    const SFTDecodeLoss& DecodeLoss() const;
    // The file's own channel labels in the file's order: for a sample
    // coder's track in a CAF or QuickTime file, the speakers its 'chan'
    // names; otherwise the libraries' layout of the decoded track.
    const std::vector<UInt32>& FileChannelLabels() const;
    // Delivers the channels in the order of `tag` from now on, when every
    // label of the tag is among the file's labels (ChannelOrderForLabels:
    // a missing surround may come from a direct or rear surround); false
    // and nothing changed otherwise.  Only memory is changed, never the file.
    bool SetClientLayout(AudioChannelLayoutTag tag);

    // Core Audio file-format code of the container (the media_codes file
    // formats, 'MPG3', 'mp4f', 'm4af', 'flac', 'Ogg ', ...; 0 when unknown), and the
    // data-format code of the track ('lpcm', the media_codes data formats, '.mp3',
    // '.mp2', '.mp1', 'aac ', 'alac', 'flac', 'vorb', 'opus', ...; 0 when
    // unknown).
    OSType FileFormat() const;
    OSType DataFormat() const;
    // Bits per sample of an uncompressed or companded track (0 otherwise).
    UInt32 SourceBits() const;
    // The track holds linear 32 or 64-bit floats.
    bool FloatSamples() const;
    bool HasVideoTrack() const;
    // Bytes of the sound track's packets.
    UInt64 AudioDataBytes() const;
    // The bit rate (bit/s) the track's header states (an MPEG audio frame
    // header, a WAVE format chunk); 0 when it states none.
    UInt32 StatedBitRate() const;
    // The first MPEG audio frame header of an MPEG audio track (0 when
    // there is none).
    UInt32 FirstMPEGHeader() const;
    // How the length and the losses were judged: one line per rule (what
    // it counted, what it expected, what it found), the verdict last; also
    // in the debug trace.
    const std::vector<std::string>& RuleLines() const;

    // Float samples beyond full scale are counted as clipped (each frame
    // once) only in the frames [from, to); all until set.
    void SetClipCountWindow(UInt64 from, UInt64 to);
    // The frame the next Read starts at.
    UInt64 Position() const;
    // Nothing has been read or sought since the opening: the object is as
    // Open left it (but for its client layout and clip-count window).
    bool Untouched() const;
    // The file is read without the media libraries (so far).
    bool ReadsWithoutLibraries() const;
    OSErr Seek(UInt64 frame);
    // Up to `frames` frames from the position into `channels` (one array
    // of at least `frames` values per channel); *delivered gets the frames
    // stored (fewer only at the end of the track).
    OSErr Read(SInt32* const* channels, UInt32 frames, UInt32* delivered);

private:
    struct Impl;
    explicit MovieSource(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
