// The count of a track: one pass over a packet source with the rules of
// its codec and its container, giving the packet index, the frames (off
// the packets where they tell them, by decoding where not) and the
// findings, combined into the track's verdict, and what it learned
// (CountResult).  Every opener builds its index so.  The stages, in order:
//
//   TrackCount count(description, rule, input);
//   count.IndexPackets(packets, decoder);        // every packet once
//   count.SettlePackets();                       // the rules once all are seen
//   if (count.CountedFromPackets()) {            // the packets tell the frames
//       count.TakePacketCount();
//       count.DropUndecodableEnd(packets, decoder);
//   } else {
//       count.BeginDecodingCount();              // then a source and decoder from the start
//       count.CountByDecoding(packets, decoder);
//   }
//   count.Settle();                              // what the container states, against the count
//   CountResult result = std::move(count).Result();
//
// The count reads the track's description, the source and decoder it is
// given and the demuxer's context (for the container's rules); it writes
// nothing of theirs.
#pragma once

#include "CountResult.h"
#include "FlacEndRule.h"
#include "FrameDecoder.h"
#include "FrameShape.h"
#include "MpegFrameSizeRule.h"
#include "OggPacketTrust.h"
#include "PacketShapeRule.h"
#include "TrackDescription.h"
#include "TrackLengthRule.h"

#include <map>
#include <memory>
#include <optional>

class DemuxerPackets;
class PacketSource;
struct AVStream;

class TrackCount {
public:
    // The count of the track `track` (which outlives it), with the
    // container's length rule; `input`: the demuxer whose context the
    // container's rules read (null where no rule reads one).
    TrackCount(const TrackDescription& track, std::unique_ptr<TrackLengthRule> rule, const DemuxerPackets* input);
    TrackCount(const TrackCount&) = delete;
    TrackCount& operator=(const TrackCount&) = delete;

    // Whether the codec and the container say the packets tell the frames
    // (until the packets say otherwise).
    bool PacketsTellFrames() const { return trusted_; }
    // What a decoder of the libraries opened now needs to know.
    DecoderPlan Plan() const { return {trusted_, mpegHeader_}; }
    // The shape of the track's frames, as far as the count has learned it.
    const FrameShape& Shape() const { return shape_; }
    const std::vector<IndexEntry>& Index() const { return index_; }

    // Every packet of `packets` once: its entry in the index, and what the
    // rules of the codec and the container find in it.  `decoder` decodes
    // a first packet that may only prime it (null: it gives sound).
    void IndexPackets(PacketSource& packets, FrameDecoder* decoder);
    // The rules that judge the packets once all are seen (the FLAC end,
    // the MPEG frame sizes, a stereo MPEG stream, the AIFF-C frame count,
    // Ogg trust); kTrackChannelsChangeErr where the channel count changes,
    // kTrackWordLengthChangesErr where a chained link's word length does.
    OSErr SettlePackets();
    // Whether the packets tell the frames: the count is theirs.
    bool CountedFromPackets() const;
    void TakePacketCount();
    // Whether the indexed packets can be read straight from the file
    // (DirectFlacPackets): a native FLAC file's, whole, undamaged, each
    // beginning where the one before ended.
    bool ReadsStraight() const;
    // The packets at the end of the track that the decoder refuses give no
    // sound, and are no frames of it: a file cut inside its last packet
    // (said as cut short: that one packet, reaching the end of the file),
    // or damaged at its very end (counted as refused and missing).  Found
    // by decoding the last packets from `packets`, further back until one
    // decodes; kUndecodableAudioErr when none does.
    OSErr DropUndecodableEnd(PacketSource& packets, FrameDecoder& decoder);
    // Where the packets cannot tell the frames: the count by decoding,
    // from the start of `packets`, with a decoder opened after the plan
    // BeginDecodingCount leaves.
    void BeginDecodingCount();
    OSErr CountByDecoding(PacketSource& packets, FrameDecoder& decoder);
    // Last: a WAVE file's 'fact', the decoder's counts, what the container
    // states against the frames counted, and the verdict's bound.
    void Settle();

    CountResult Result() &&;

private:
    // One packet of the pass.
    void IndexPacket(const Packet& packet, FrameDecoder* decoder);
    // Whether the first packet, which may only prime the decoder, gives
    // sound.  One that decodes to nothing, cleanly, only primes the decoder
    // (as some encoders begin a stream); one the decoder refuses is lost
    // (the reading counts it).  Neither stands for frames of the track,
    // nor takes a share of the stream's skip, which the decoder counts in
    // the frames it gives.
    bool FirstPacketGivesSound(const Packet& packet, FrameDecoder* decoder);
    // Sends `packet` and drains what the decoder gives of it: whether that
    // is any sound (*refused: the decoder refused the rest).
    bool SendAndDrain(FrameDecoder& decoder, const Packet& packet, bool* refused);
    // The source placed at the index's packet `k`, or at the start, with
    // the decoder as after a seek, or as opened.
    OSErr SeekToPacket(PacketSource& packets, FrameDecoder& decoder, std::size_t k);
    OSErr Rewind(PacketSource& packets, FrameDecoder& decoder);
    // The count's own finding: the frames the track gives and (where it
    // read them again) its packets.
    void Counted(UInt64 frames, std::optional<UInt64> packets);
    void Take(const TrackFinding& found);
    // What the count found, for the container's rule.
    TrackTally Tally() const;
    const AVFormatContext* Format() const;
    int StreamIndex() const;
    const AVStream* Stream() const;
    // Whether the track's packets run to the end of the file.
    bool PacketsReachFileEnd() const;
    // The decoder's running counts, said once the count is settled.
    void SayDecoder();
    // The longest of the usual `durations` (how many packets or decoded
    // frames are each long).
    static UInt64 LongestPacket(const std::map<UInt64, UInt64>& durations);

    const TrackDescription& track_;
    std::unique_ptr<TrackLengthRule> rule_;
    const DemuxerPackets* input_;
    FrameShape shape_;

    std::vector<IndexEntry> index_;
    TrackVerdict verdict_;
    LearnedShape learned_;
    TrackLengths lengths_;
    bool trusted_ = false;
    bool seekExact_ = false;
    bool oggPackets_ = false;
    bool channelsChange_ = false;
    UInt32 mpegHeader_ = 0;
    // The last packet, when the count by decoding found it refused (its
    // frames).
    bool lastPacketRefused_ = false;
    UInt64 lastPacketFrames_ = 0;

    // The pass's running state.
    OggPacketTrust ogg_;
    PacketShapeRule shapes_;
    MpegFrameSizeRule mpegSizes_;
    FlacEndRule flacEnd_;
    std::unique_ptr<TrackTally> packetTally_;
    UInt64 total_ = 0;
    UInt64 wholeMPEGFrames_ = 0;  // frames of the packets (MPEG audio: of whole frames), no trim taken
    UInt64 pendingSkip_ = 0;
    int64_t lastPos_ = -1;
    bool durationsKnown_ = true;
    bool firstGivesNothing_ = false;
    bool stereoFrames_ = false;  // MPEG audio frames of two channels
    UInt64 firstFrames_ = 0;
    UInt64 widestPacket_ = 0;
    // How many packets state each duration, and how many decoded frames
    // are each long (in frames).
    std::map<UInt64, UInt64> durations_;
    std::map<UInt64, UInt64> decodedSizes_;
};
