// The packets of the track and their decoding: the demuxer's packets (a
// viewed file's, a raw MPEG stream's without its tags), a native FLAC
// file's frames as the walk found them or straight from the file, sent to
// libFLAC or to the libraries' decoder, and what the decoder refuses, said
// to the verdict.
#pragma once

#include "TrackState.h"

class TrackDecoding : public TrackState {
public:
    // The demuxer and the decoder, opened (the decoding state is the
    // caller's).
    OSErr OpenDecoding(bool forCounting);

    // Reads the next packet of the sound track (packetOrdinal counts it);
    // false at the end.
    bool NextPacket();

    // Sends the packet read last to the decoder (FrameDecoder); a Layer I
    // frame whose checksum fails is refused before it.  A native FLAC
    // file's packet that is one whole frame is decoded by libFLAC instead,
    // where the index tells the frames (counting by decoding takes every
    // frame from the FFmpeg decoder).
    int SendPacket();

    // Whether `frame` holds decoded sound of the track's shape.
    // (An MPEG audio stream may change its channel mode from frame to
    // frame: a single-channel frame of a stereo track is given in both.)
    // A frame of another channel count is noted (channelsChange).
    bool UsableFrame();

    // Whether `frame` is at another rate than the track's.
    bool OtherRate() const { return frame->sample_rate > 0 && frame->sample_rate != TrackRate(); }

    int TrackRate() const { return int(std::lround(sampleRate)); }

    // The next frame the decoder gives for the packets sent to it, into
    // `frame`; false when it wants another packet, or refused the rest of
    // the one sent (*refused: true then).  Where the packets tell the
    // frames (at the track's rate), a frame at another rate is none of
    // the track's: its packet reads as silence, said as refused, never at
    // the wrong speed.
    bool ReceiveFrame(bool* refused);

    // Sends the packet read last and drains what the decoder gives of it:
    // whether that is any sound (*refused: the decoder refused the rest).
    bool SendAndDrain(bool* refused);

    // Whether the packet read last gives any sound.
    bool PacketDecodes();

    // A packet of the index the decoder refused (`silencedFrames` of its
    // frames read as silence), counted the first time it is read.
    void NoteRefused(IndexEntry& entry, UInt64 silencedFrames);

    // A packet the decoder took in part and refused the rest of, or (MPEG
    // audio) a frame whose packet is not the size its header says: the
    // track is damaged there, which tells a shortfall apart from a cut.
    void SeeDamage();

    // `frames` frames of refused packets, said as missing.
    void RefusedMissing(UInt64 packets, UInt64 frames);

    // While counting by decoding: the packet read last was refused.
    void TallyRefused();

    // The frames of the packet read last, where the packet, the codec or
    // the container tells them.
    UInt64 PacketFrames() const;
};
