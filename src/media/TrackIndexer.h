// The counting pass: the packet index, the data size, the frame count
// (off the packets where they tell it, by decoding where not), and what
// the rules of the codec and of the container find on the way.
#pragma once

#include "FlacEndRule.h"
#include "MpegFrameSizeRule.h"
#include "OggPacketTrust.h"
#include "PacketShapeRule.h"
#include "TrackReader.h"

#include <memory>
#include <optional>

class TrackIndexer : public TrackReader {
public:
    // Whether the first packet of an AAC stream, read last, gives sound.
    // One that decodes to nothing, cleanly, only primes the decoder (as some
    // encoders begin a stream); one the decoder refuses is lost
    // (NextIndexedPiece counts it).  Neither stands for frames of the
    // track, nor takes a share of the stream's skip, which the decoder
    // counts in the frames it gives.
    bool FirstPacketGivesSound();

    // The counting pass: the packet index, the data size and, where the
    // packets cannot tell, the decoded frame count.  The packets come from
    // the demuxer, or from a native FLAC file's walk where it proves the
    // file whole; after the count they are read straight from the file
    // where DirectPackets says so (DirectFlacPackets).
    OSErr Count();
    // The decoder for what the count settled: libFLAC before the
    // libraries' decoder where the packets tell a native FLAC file's
    // frames, the libraries' alone for the rest.
    void ChooseDecoder();
    // The count's running state over the packets.
    struct CountPass {
        AVStream* st = nullptr;
        AVRational rate{1, 1};
        OggPacketTrust ogg;
        PacketShapeRule shapes;
        MpegFrameSizeRule mpegSizes;
        FlacEndRule flacEnd;
        std::unique_ptr<TrackTally> packetTally;
        UInt64 total = 0;
        UInt64 wholeMPEGFrames = 0;  // frames of the packets (MPEG audio: of whole frames), no trim taken
        UInt64 pendingSkip = 0;
        int64_t lastPos = -1;
        bool durationsKnown = true;
        bool firstGivesNothing = false;
        bool stereoFrames = false;  // MPEG audio frames of two channels
        UInt64 firstFrames = 0;
        int frameSize = 0;
        UInt64 widestPacket = 0;
    };
    // One packet of the count, read last: its entry in the index, and what
    // the rules of the codec and the container find in it.
    void IndexPacket(CountPass& c);
    // The rules that judge the packets once all are seen: the FLAC end,
    // the MPEG frame sizes, the AIFF-C frame count.
    void SettleCountRules(CountPass& c);
    // Where the packets cannot tell the frames: the count by decoding.
    OSErr CountByDecoding();

    // The count's own finding: the frames the track gives and (where it
    // read them again) its packets.
    void Counted(UInt64 frames, std::optional<UInt64> packets);

    // What the count found, for the container's rule.
    TrackTally Tally();

    // The frames the container states the track holds (0: it states
    // none).
    UInt64 StatedFrames() const;

    // Whether the track's packets run to the end of the file (nothing
    // follows them that is no packet): a file cut there ends in one.
    bool PacketsReachFileEnd() const;

    // The packets at the end of the track that the decoder refuses give no
    // sound, and are no frames of it: a file cut inside its last packet
    // (said as cut short: that one packet, reaching the end of the file),
    // or damaged at its very end (counted as refused and missing).  Found
    // by decoding the last packets, further back until one decodes;
    // kUndecodableAudioErr when none does.
    OSErr DropUndecodableEnd();

    // Whether the packets the count indexed can be read straight from the
    // file (DirectFlacPackets): a native FLAC file's, whole, undamaged, each
    // beginning where the one before ended.
    bool DirectPackets() const;

    // The decoder's running counts, said once the count is settled.
    void SayDecoder();
};
