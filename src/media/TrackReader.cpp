#include "TrackReader.h"

#include "ByteFields.h"
#include "error_codes.h"
#include "RateChangeBridge.h"
#include "sample_conversion.h"
#include "TrackVerdict.h"

#include <algorithm>

#include "media_calls.h"

using namespace movie_input;

OSErr TrackReader::OpenStreams(bool forCounting)
{
    CloseStreams();
    if (const OSErr err = OpenDecoding(forCounting); err != noErr)
        return err;
    ResetDecoding();
    // Past the delay of a lagged stream (its frame 0 is the first
    // sample after it).
    if (!forCounting && startSkip > 0) {
        if (const OSErr err = Skip(startSkip); err != noErr)
            return err;
        position = 0;
    }
    return noErr;
}

OSErr TrackReader::Rewind()
{
    if (!WithoutLibraries())
        return OpenStreams(false);
    ResetDecoding();
    return noErr;
}

void TrackReader::ResetDecoding()
{
    bridge.reset();
    position = silence = 0;
    frameOffset = frameEnd = 0;
    state = ReadState::Idle;
    flushed = packetHeld = inPacket = sentGaveNothing = false;
    if (decoder)
        decoder->Reset();
    packetOrdinal = -1;
    decoderSkip = 0;
    gaveFrame = false;
}

bool TrackReader::SkipTookPacket()
{
    size_t sideSize = 0;
    const uint8_t* side = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
    const bool dropped =
        (packet->flags & AV_PKT_FLAG_DISCARD) || (side && sideSize >= 10 && ReadLE32(side + 4) > 0);
    const UInt64 frames = PacketFrames();
    if (frames == 0 || decoderSkip < frames)
        return dropped;
    decoderSkip -= frames;
    return true;
}

bool TrackReader::NextPiece()
{
    silence = 0;
    state = ReadState::Idle;
    return trusted ? NextIndexedPiece() : NextFrame();
}

bool TrackReader::NextIndexedPiece()
{
    for (;;) {
        if (!inPacket) {
            if (!NextPacket() || packetOrdinal < 0 || std::size_t(packetOrdinal) >= index.size())
                return false;
            const IndexEntry& entry = index[std::size_t(packetOrdinal)];
            packetSkip = entry.trim;
            packetLeft = entry.frames;
            packetGave = false;
            inPacket = SendPacket() >= 0;
            packetFailed = !inPacket;
        }
        bool refused = false;
        if (inPacket && ReceiveFrame(&refused)) {
            packetGave = true;
            const UInt64 samples = UInt64(frame->nb_samples);
            const UInt64 skipped = std::min(samples, packetSkip);
            const UInt64 taken = std::min(samples - skipped, packetLeft);
            packetSkip -= skipped;
            packetLeft -= taken;
            if (taken == 0) {
                ClearFrame();
                continue;
            }
            frameOffset = int(skipped);
            frameEnd = int(skipped + taken);
            state = ReadState::Frame;
            return true;
        }
        // The packet is done: what it did not give is silence.
        if (packetGave && refused)
            SeeDamage();
        packetFailed = packetFailed || refused;
        inPacket = false;
        // A packet of the stream's delay alone that the decoder refuses
        // leaves it unprimed for the sound that follows: the frames it
        // stood for are lost.  (One that decodes to nothing only primes
        // it: the count knows it as such, FirstPacketGivesSound.)
        IndexEntry& entry = index[std::size_t(packetOrdinal)];
        if (!packetGave && packetFailed && entry.frames == 0 && entry.priming > 0 && !entry.refused) {
            entry.refused = true;
            RefusedMissing(1, entry.priming);
        }
        if (packetLeft > 0) {
            NoteRefused(index[std::size_t(packetOrdinal)], packetLeft);
            silence = packetLeft;
            state = ReadState::Silence;
            packetLeft = 0;
            return true;
        }
    }
}

bool TrackReader::Pending()
{
    frameOffset = 0;
    frameEnd = frame->nb_samples;
    state = ReadState::Frame;
    return true;
}

bool TrackReader::NextFrame()
{
    for (;;) {
        if (bridge && bridge->Take(frame))
            return Pending();
        const int rc = avcodec_receive_frame(codec, frame);
        if (rc == 0) {
            if (!UsableFrame()) {
                av_frame_unref(frame);
                continue;
            }
            // A native FLAC stream has its STREAMINFO's rate: a frame
            // stating another is damage, refused as a frame failing its
            // checksums is.
            if (OtherRate() && codecTraits.streamInfo && containerTraits->nativeFlac) {
                av_frame_unref(frame);
                TallyRefused();
                continue;
            }
            sentGaveNothing = false;
            gaveFrame = true;
            decoderSkip = 0;  // what is left of it was taken from this frame
            // From the first frame at another rate on, every frame goes
            // through the bridge, in order.
            if (!bridge && OtherRate())
                bridge = std::make_unique<RateChangeBridge>(TrackRate());
            if (!bridge)
                return Pending();
            if (!bridge->Put(frame)) {
                shapeError = kTrackRateChangesErr;
                return false;
            }
            continue;
        }
        if (rc == AVERROR_EOF || flushed) {
            if (bridge && bridge->Finish() && bridge->Take(frame))
                return Pending();
            return false;
        }
        // An error: the rest of the packet is lost; the decoder goes on
        // with the next one.  A packet that gave no frame and no error
        // is lost as well, from a codec that gives every packet's sound
        // as it comes.
        if (rc != AVERROR(EAGAIN) ||
            (sentGaveNothing && codecTraits.soundPerPacket && !PrimesOnly() && !SkipTookPacket()))
            TallyRefused();
        sentGaveNothing = false;
        if (NextPacket()) {
            sentGaveNothing = true;
            size_t sideSize = 0;
            if (const uint8_t* side = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
                side && sideSize >= 10)
                decoderSkip = ReadLE32(side);
            if (SendPacket() < 0)
                TallyRefused();
        } else {
            flushed = true;
            avcodec_send_packet(codec, nullptr);
        }
    }
}

OSErr TrackReader::SeekTo(UInt64 target)
{
    if (target == position)
        return noErr;
    // Ahead within reach, or ahead in a stream whose decoder carries
    // state from the start: decode on.
    if (target > position && (!seekExact || target - position < UInt64(sampleRate) * 4 + 65536))
        return Skip(target - position);
    if (seekExact && !index.empty()) {
        // The last seekable packet at or before the target, then back
        // far enough for the decoder to settle.
        std::size_t i = index.size();
        while (i > 0 && !(index[i - 1].seekable && index[i - 1].start <= target))
            --i;
        if (i > 0) {
            std::size_t k = i - 1;
            const int64_t wantBytes = 4096;
            std::size_t back = 0;
            while (k > 0 && (back < 8 || (index[k].pos >= 0 && index[i - 1].pos - index[k].pos < wantBytes))) {
                --k;
                ++back;
            }
            while (k > 0 && !index[k].seekable)
                --k;
            if (index[k].seekable && SeekToPacket(k) == noErr)
                return Skip(target - position);
        }
    }
    // From the start.
    const OSErr err = Rewind();
    if (err != noErr)
        return err;
    return Skip(target);
}

OSErr TrackReader::SeekToPacket(std::size_t k)
{
    const IndexEntry& e = index[k];
    if (e.start == 0 && k == 0)
        return Rewind();
    if (packets && packets->ReadsIndex()) {
        decoder->Flush();
        ResetDecoding();
        packetOrdinal = int64_t(k) - 1;
        position = e.start;
        return noErr;
    }
    // Raw MPEG audio is found again by its byte position; every other
    // container by its own timestamp seek.
    const bool byteSeek = containerTraits->byteSeek && e.pos >= 0;
    int rc;
    if (byteSeek)
        rc = av_seek_frame(format, stream, e.pos, AVSEEK_FLAG_BYTE);
    else
        rc = av_seek_frame(format, stream, e.dts, AVSEEK_FLAG_BACKWARD);
    if (rc < 0)
        return ioErr;
    // The index trims the decoded frames, as from the start.
    decoder->Flush();
    ResetDecoding();
    // Find the packet itself.
    for (int guard = 0; guard < 1 << 20; ++guard) {
        if (!NextPacket())
            return ioErr;
        if (packet->pos == e.pos && (byteSeek || packet->dts == e.dts))
            break;
        if (packet->pos > e.pos && e.pos >= 0)
            return ioErr;
    }
    packetOrdinal = int64_t(k);
    packetHeld = true;
    position = e.start;
    return noErr;
}

UInt64 TrackReader::Advance(SInt32* const* out, UInt64 frames)
{
    UInt64 done = 0;
    while (done < frames) {
        if (state == ReadState::Idle && !NextPiece())
            state = ReadState::Finished;
        if (state == ReadState::Finished)
            break;
        if (state == ReadState::Frame) {
            const UInt64 take = std::min<UInt64>(UInt64(frameEnd - frameOffset), frames - done);
            // Each frame of the track is counted for clipping once,
            // however often it is decoded.
            const UInt64 at = position + done;
            const UInt64 end = std::max(at, std::min(at + take, clipWindowTo));
            const UInt64 first = std::min(std::max({clipCountedTo, at, clipWindowFrom}), end);
            if (out) {
                const int frameChannels = frame->ch_layout.nb_channels;
                for (UInt32 c = 0; c < channels; ++c)
                    ConvertChannel(frame, std::min(order[c], frameChannels - 1), frameChannels, frameOffset,
                                   UInt32(take), out[c] + done, UInt32(first - at), UInt32(end - at));
                clipCountedTo = std::max(clipCountedTo, end);
            }
            flac.TakeDecoded(position + done, frame, frameOffset, int(take));
            frameOffset += int(take);
            done += take;
            if (frameOffset >= frameEnd) {
                state = ReadState::Idle;
                ClearFrame();
            }
        } else {
            const UInt64 take = std::min(silence, frames - done);
            if (out)
                for (UInt32 c = 0; c < channels; ++c)
                    std::fill(out[c] + done, out[c] + done + take, 0);
            flac.TakeSilence(position + done, take);
            silence -= take;
            done += take;
            if (silence == 0)
                state = ReadState::Idle;
        }
    }
    position += done;
    if (flac.SignatureMismatch() != verdict.Loss().checksumMismatch) {
        TrackFinding found("FLAC signature");
        found.checksumMismatch = flac.SignatureMismatch();
        verdict.Take(found);
    }
    return done;
}

OSErr TrackReader::Skip(UInt64 frames)
{
    const UInt64 moved = Advance(nullptr, frames);
    position += frames - moved;
    return noErr;
}

OSErr TrackReader::Read(SInt32* const* out, UInt32 frames, UInt32* delivered)
{
    const UInt64 limit = verdict.Frames() > position ? verdict.Frames() - position : 0;
    if (frames > limit)
        frames = UInt32(limit);
    const UInt64 done = Advance(out, frames);
    if (shapeError != noErr)
        return shapeError;
    if (done < frames) {
        // The decoder gave fewer frames than counted (the file changed
        // since it was opened): silence, said as such.
        for (UInt32 c = 0; c < channels; ++c)
            std::fill(out[c] + done, out[c] + frames, 0);
        TrackFinding found("decoder");
        found.added.silencedFrames = frames - done;
        verdict.Take(found);
        position += frames - done;
    }
    *delivered = frames;
    return noErr;
}
