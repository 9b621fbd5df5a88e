// What the movie source knows of its track once opened: the libraries'
// handles, the track's description, its packet index and its verdict, and
// where the reading stands.  The classes over it (TrackDecoding,
// TrackReader, TrackIndexer, MovieSource's own) each do one part of the
// work on it.
#pragma once

#include "CodecTraits.h"
#include "ContainerTraits.h"
#include "FileView.h"
#include "FlacFrameDecoder.h"
#include "FlacStreamCheck.h"
#include "FrameDecoder.h"
#include "MacTypes.h"
#include "MovieSource.h"
#include "PacketSource.h"
#include "RateChangeBridge.h"
#include "TrackLengthRule.h"
#include "TrackVerdict.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MediaLibraries.h"

struct IndexEntry {
    int64_t pos;
    int64_t dts;
    UInt64 start;      // frames of the track before this packet
    bool seekable;     // no pending start skip; a known, increasing position
    UInt32 trim = 0;   // decoded frames dropped from the packet's start (the stream's delay)
    UInt32 frames = 0; // frames of the track the packet gives after that
    UInt32 priming = 0; // decoded frames that only prime the decoder (trimmed or discarded)
    UInt32 bytes = 0;   // the packet's size
    bool refused = false;  // the decoder refused it (counted once)
};

struct TrackState {
    std::string path;
    AVFormatContext* format = nullptr;
    // A file the demuxer stops short of is read through a view (OpenInput).
    std::unique_ptr<movie_input::FileView> view;
    AVIOContext* viewIO = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    AVCodecID codecID = AV_CODEC_ID_NONE;

    double sampleRate = 0;
    UInt32 channels = 0;
    // The track's frames, whether the file was cut short or damaged, what
    // the decoder could not turn into sound (a refused packet of the index
    // counted once, however often it is read), and each rule's line: every
    // rule's finding, this source's own and the container's, combined in
    // one place (TrackVerdict::Take).
    TrackVerdict verdict;
    // Packets that decode, all of whose frames the stream's delay and
    // padding take (an encoder's whole output for no sound).
    bool trimmedToNothing = false;
    std::vector<UInt32> fileLabels;
    std::vector<int> order;          // delivered channel -> decoded channel
    OSType fileFormat = 0;
    OSType dataFormat = 0;
    UInt32 sourceBits = 0;
    ContainerKind kind = ContainerKind::Other;
    // What the container and the codec do (their rows of the tables).
    const ContainerTraits* containerTraits = &ContainerTraits::Of(ContainerKind::Other);
    CodecTraits codecTraits;
    bool hasVideo = false;
    UInt64 dataBytes = 0;
    UInt32 statedBitRate = 0;
    UInt32 mpegHeader = 0;
    std::vector<MovieMetadataItem> metadata;  // MovieSource::ReadMetadata's
    std::vector<IndexEntry> index;
    bool trusted = false;
    // Whether the decoder settles within a few packets after a seek: the
    // fixed-point MPEG decoders carry dither and AAC its noise generator
    // from the start, so those streams are decoded from the start instead.
    bool seekExact = false;
    // Decoded frames before the sound's first frame (an MPEG stream in a
    // WAVE file: the filterbanks' delay).
    UInt64 startSkip = 0;

    // The frames of each packet (0: they vary).
    UInt64 framesPerPacket = 0;
    // The container's own rule for the track's length and losses.
    std::unique_ptr<TrackLengthRule> lengthRule;
    // The packet last tallied as refused, and its frames.
    int64_t lastTallied = -1;
    UInt64 lastTalliedFrames = 0;
    // End of the last packet's bytes.
    int64_t packetsEnd = 0;
    // A FLAC stream's checksums and its end (FlacStreamCheck).
    FlacStreamCheck flac;
    // A native FLAC file's packets, decoded by libFLAC where each is one
    // whole frame (FlacFallbackDecoder; the rest by the FFmpeg decoder).
    FlacFrameDecoder flacFrames;
    // Where the packets come from (PacketSource): the demuxer, the frames
    // the walk found while counting, or the index's packets straight from
    // the file, as built at the opening and the count.
    std::unique_ptr<PacketSource> packets;
    // What decodes them (FrameDecoder): the libraries' decoder, or libFLAC
    // before it, as built at the opening and the count.
    std::unique_ptr<FrameDecoder> decoder;
    // A raw MPEG audio stream: where the tags at the file's end begin (-1:
    // no such stream).  A tag the demuxer hands out as a packet is none.
    int64_t tagsFrom = -1;

    // A whole native FLAC file read without the media libraries
    // (OpenNativeFlac): libFLAC's samples are given in `nativeFrame`.
    AVFrame nativeFrame{};
    bool touched = false;       // read or sought since the opening

    // Reading state: the piece of sound handed out next (`state`), which is
    // silence standing for a refused packet (`silence` frames) or the
    // samples frameOffset to frameEnd of the decoded frame pending; none yet
    // (the next is to be found); or the end of the track.
    enum class ReadState {
        Idle,     // nothing pending: the next piece is found when asked for
        Frame,    // the decoded frame's samples [frameOffset, frameEnd)
        Silence,  // `silence` frames of silence
        Finished  // the decoder is drained: nothing follows
    };
    ReadState state = ReadState::Idle;
    UInt64 position = 0;        // frame the next Read starts at
    UInt64 clipCountedTo = 0;   // the frames below were counted for clipping
    UInt64 clipWindowFrom = 0;  // and only those in [from, to) are (SetClipCountWindow)
    UInt64 clipWindowTo = ~UInt64(0);
    UInt64 silence = 0;
    int frameOffset = 0;
    int frameEnd = 0;
    bool flushed = false;       // end of packets sent to the decoder
    // The index of the packet last read (-1: none yet), and whether it is
    // held for NextPacket to hand out again (a seek found it).
    int64_t packetOrdinal = -1;
    bool packetHeld = false;
    // The packet being decoded (where the index tells the frames): its
    // decoded frames still to drop and to give, and whether it gave any.
    bool inPacket = false;
    UInt64 packetSkip = 0;
    UInt64 packetLeft = 0;
    bool packetGave = false;
    bool packetFailed = false;  // the decoder refused it, or the rest of it
    // While the frames are counted by decoding: the packets refused.
    bool tallying = false;
    // While counting by decoding: the packet last sent gave no frame yet.
    bool sentGaveNothing = false;
    // While counting by decoding: the frames the decoder still drops from
    // the start of what it gives (the stream's skip, as its first packet
    // states it: an Opus pre-skip, an encoder's delay).  A packet whose
    // whole sound they take gives no frame, and is no refusal.
    UInt64 decoderSkip = 0;
    // While counting by decoding: the decoder gave a frame.
    bool gaveFrame = false;
    // Parts of the track that decode at another rate than its first (a
    // chained Ogg stream, joined MPEG audio or ADTS frames) reach the
    // reader at the track's rate through the bridge, made when the first
    // such frame is decoded; the track is then counted by decoding.
    std::unique_ptr<RateChangeBridge> bridge;
    // A decoded frame, or a run of frame headers, of another channel count
    // than the track's was met: such a track does not open.
    bool channelsChange = false;
    // The bridge could not convert a part (its reads fail with this code).
    OSErr shapeError = noErr;


    TrackState() = default;
    TrackState(const TrackState&) = delete;
    TrackState& operator=(const TrackState&) = delete;
    ~TrackState() { CloseStreams(); }

    void CloseStreams();

    // Whether the track is read without the media libraries (its decoder
    // has not needed them).
    bool WithoutLibraries() const { return decoder && decoder->WithoutLibraries(); }

    // Empties `frame` (while native, its samples are libFLAC's).
    void ClearFrame();
};
