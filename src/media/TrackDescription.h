// What a track is, as its opening finds it: made once, by one of the
// openers (through the media libraries, from a native FLAC file's
// STREAMINFO, or for an empty raw MPEG stream), and never written
// afterwards.  Whatever the count learns (a stream that turns stereo, the
// true length) is the count's result (CountResult), not a change of this.
#pragma once

#include "CodecTraits.h"
#include "ContainerTraits.h"
#include "FlacStreamCheck.h"
#include "MacTypes.h"

#include <cstdint>
#include <string>
#include <vector>

class DemuxerPackets;
class LibraryFrameDecoder;

struct TrackDescription {
    std::string path;
    const ContainerTraits* container = &ContainerTraits::Of(ContainerKind::Other);
    CodecTraits codec;

    double rate = 0;
    UInt32 channels = 0;
    std::vector<UInt32> labels;  // the file's own channel labels, in its order
    OSType fileFormat = 0;
    OSType dataFormat = 0;
    UInt32 sourceBits = 0;      // of an uncompressed or companded track
    UInt32 statedBitRate = 0;   // as a frame header or a format chunk states it
    bool hasVideo = false;
    // Whether the header gives the track a length (a track cut off before
    // its first packet is no empty one), and the frames it states (0: none).
    bool lengthStated = false;
    UInt64 statedFrames = 0;

    // The stream as the demuxer describes it: its time base, its rate, the
    // frames and bytes of each of its packets where they are fixed (0:
    // they vary), and the frames the decoder gives for each.
    int timeBaseNum = 1;
    int timeBaseDen = 1;
    int streamRate = 0;
    int streamFrameSize = 0;
    int blockAlign = 0;
    int decoderFrameSize = 0;
    bool decoderFloats = false;  // the decoder gives float samples
    UInt64 framesPerPacket = 0;  // as a CAF file's description states them
    // The file's bytes as the demuxer sees them, whether it sees them
    // through a view, and its tracks.
    int64_t fileBytes = -1;
    bool viewed = false;
    unsigned streams = 1;
    // A FLAC stream's STREAMINFO: its checksums, signature and end.
    FlacStreamCheck flac;

    // The track's rate as a whole number of hertz.
    int TrackRate() const;

    // The track the libraries opened: the demuxer's `input` and the opened
    // `decoder`; kNoAudioTrackErr where it has no channels or rate.
    static OSErr Opened(const std::string& path, const DemuxerPackets& input, const LibraryFrameDecoder& decoder,
                        TrackDescription* out);
    // A native FLAC file whose STREAMINFO body is `info`, as the libraries
    // would describe it; false where libFLAC's checks cannot be set up.
    static bool FromStreamInfo(const std::string& path, const uint8_t* info, TrackDescription* out);
    // An empty file named as raw MPEG Layer I or II audio (as the encoder
    // leaves it for no sound): an empty track.  No frame tells its shape;
    // it reads as stereo at 44.1 kHz.  False for any other file.
    static bool EmptyMpegStream(const std::string& path, TrackDescription* out);
};
