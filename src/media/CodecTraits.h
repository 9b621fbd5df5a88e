// What the media layer knows of each codec of the media libraries, as one
// row per codec (CodecTraits::Of, looked up once where a track is opened).
// No other file compares codec ids to learn what a codec does: a new codec
// is a new row here, and a rule of its own where it needs one.
#pragma once

#include "MacTypes.h"

#include <libavcodec/codec_id.h>

// How a codec's frames state their own length and shape in a header of
// their own, where they do: MPEG audio, ADTS AAC, AC-3 and E-AC-3, AMR.
enum class FrameSyntax { None, Mpeg, Adts, Ac3, AmrNarrow, AmrWide };

// The checksums a codec's frames carry, and how a frame that fails one is
// refused: none; FLAC's header and frame checksums (the decoder's own
// checks); always checked (AC-3); checked where the stream says its frames
// are protected (MPEG Layer II and III: the first frame header tells); the
// Layer I checksum, which the movie source checks itself.
enum class FrameChecks { None, FlacFrames, Always, WhenProtected, LayerOne };

// Whether the decoder settles within a few packets after a seek: it does;
// it carries state from the start (dither, a noise generator), so that the
// stream is decoded from the start instead; it does where it decodes to
// floats (the fixed-point MPEG decoders carry dither).
enum class SeekSettling { Settles, FromStart, WithFloatDecoder };

// How the codec is mapped into Ogg pages.
enum class OggMapping { None, Vorbis, Opus, Flac, Speex };

struct CodecTraits {
    AVCodecID id = AV_CODEC_ID_NONE;
    // The Core Audio data-format code of a track ('lpcm', '.mp3', 'aac ',
    // ...; 0 when unknown).
    OSType dataFormat = 0;
    // The decoder gives exactly each packet's duration, also right after a
    // flush: the frame count can be read off the packets.
    bool exactDurations = false;
    // The decoder gives every packet's sound as soon as it has it: a
    // packet that gives nothing (unless its skip or trim takes it whole) is
    // lost.
    bool soundPerPacket = false;
    SeekSettling seek = SeekSettling::Settles;
    FrameChecks checks = FrameChecks::None;
    FrameSyntax syntax = FrameSyntax::None;
    OggMapping ogg = OggMapping::None;
    // The first packet may only prime the decoder, giving no sound (as
    // some AAC encoders begin a stream).
    bool firstPacketMayPrime = false;
    // The decoder gives whole frames, whatever a packet's duration says.
    bool wholeFrames = false;
    // A packet cut inside a block holds only its whole blocks (IMA 4:1).
    bool cutBlocksDropped = false;
    // The decoder gives its encoder's input back after the analysis and
    // synthesis filterbanks' delay (MPEG Layer I and II).
    bool filterbankLag = false;
    // The first frame may count the stream's frames (an Xing or Info frame).
    bool infoFrame = false;
    // Frames may change their channel mode: a single-channel frame of a
    // stereo track is given in both channels, no change of channel count.
    bool channelModeChanges = false;
    // The setup bytes hold a FLAC STREAMINFO block (checksums, the
    // signature, the end: FlacStreamCheck; libFLAC decodes the frames).
    bool streamInfo = false;
    // The samples are linear 32 or 64-bit floats.
    bool floatSamples = false;
    // The packets are the samples themselves, a frame of a block's bytes
    // (linear PCM, A-law, mu-law): a count of bytes states the frames.
    bool sampleFrames = false;
    // The decoder gives each packet's sound as one frame: one that gives
    // fewer frames than the packet exactly states stopped inside it.
    bool framePerPacket = false;
    // Of a picture codec: the data type of a cover image (13 JPEG, 14 PNG,
    // 27 BMP; 0 other).
    UInt32 coverType = 0;

    // The row of `id`: a codec of the table, or any other linear PCM codec
    // of the libraries (asked of them, as they name it "pcm_..."), or the
    // row of a codec nothing is known of.
    static CodecTraits Of(AVCodecID id);
};
