#include "CodecTraits.h"

#include "CoreAudioTypes.h"
#include "MediaCodes.h"

#include <cstring>

#include "media_calls.h"

namespace {

using Seek = SeekSettling;
using Checks = FrameChecks;
using Syntax = FrameSyntax;

// The rows, in the order of CodecTraits' fields (each names only what
// differs from a codec nothing is known of).
const CodecTraits kRows[] = {
    {.id = AV_CODEC_ID_MP1, .dataFormat = FOUR_CHAR_CODE(".mp1"), .exactDurations = true, .soundPerPacket = true,
     .seek = Seek::FromStart, .checks = Checks::LayerOne, .syntax = Syntax::Mpeg, .filterbankLag = true,
     .channelModeChanges = true, .framePerPacket = true},
    {.id = AV_CODEC_ID_MP2, .dataFormat = FOUR_CHAR_CODE(".mp2"), .exactDurations = true, .soundPerPacket = true,
     .seek = Seek::FromStart, .checks = Checks::WhenProtected, .syntax = Syntax::Mpeg, .filterbankLag = true,
     .channelModeChanges = true, .framePerPacket = true},
    {.id = AV_CODEC_ID_MP3, .dataFormat = FOUR_CHAR_CODE(".mp3"), .exactDurations = true, .soundPerPacket = true,
     .seek = Seek::WithFloatDecoder, .checks = Checks::WhenProtected, .syntax = Syntax::Mpeg, .infoFrame = true,
     .channelModeChanges = true, .framePerPacket = true},
    {.id = AV_CODEC_ID_AAC, .dataFormat = FOUR_CHAR_CODE("aac "), .exactDurations = true, .soundPerPacket = true,
     .seek = Seek::FromStart, .syntax = Syntax::Adts, .firstPacketMayPrime = true, .wholeFrames = true,
     .framePerPacket = true},
    {.id = AV_CODEC_ID_ALAC, .dataFormat = FOUR_CHAR_CODE("alac"), .exactDurations = true, .soundPerPacket = true,
     .framePerPacket = true},
    {.id = AV_CODEC_ID_MP4ALS, .exactDurations = true, .soundPerPacket = true, .framePerPacket = true},
    {.id = AV_CODEC_ID_FLAC, .dataFormat = FOUR_CHAR_CODE("flac"), .exactDurations = true, .soundPerPacket = true,
     .checks = Checks::FlacFrames, .ogg = OggMapping::Flac, .streamInfo = true, .framePerPacket = true},
    {.id = AV_CODEC_ID_PCM_ALAW, .dataFormat = media_codes::kALaw, .exactDurations = true, .sampleFrames = true,
     .framePerPacket = true},
    {.id = AV_CODEC_ID_PCM_MULAW, .dataFormat = media_codes::kULaw, .exactDurations = true, .sampleFrames = true,
     .framePerPacket = true},
    {.id = AV_CODEC_ID_PCM_F32BE, .dataFormat = kAudioFormatLinearPCM, .exactDurations = true, .floatSamples = true,
     .sampleFrames = true, .framePerPacket = true},
    {.id = AV_CODEC_ID_PCM_F32LE, .dataFormat = kAudioFormatLinearPCM, .exactDurations = true, .floatSamples = true,
     .sampleFrames = true, .framePerPacket = true},
    {.id = AV_CODEC_ID_PCM_F64BE, .dataFormat = kAudioFormatLinearPCM, .exactDurations = true, .floatSamples = true,
     .sampleFrames = true, .framePerPacket = true},
    {.id = AV_CODEC_ID_PCM_F64LE, .dataFormat = kAudioFormatLinearPCM, .exactDurations = true, .floatSamples = true,
     .sampleFrames = true, .framePerPacket = true},
    {.id = AV_CODEC_ID_ADPCM_IMA_QT, .dataFormat = media_codes::kIMA4, .exactDurations = true,
     .seek = Seek::FromStart, .cutBlocksDropped = true},
    {.id = AV_CODEC_ID_ADPCM_IMA_WAV, .dataFormat = 0x6D730011 /* 'ms\0\x11' */, .exactDurations = true,
     .seek = Seek::FromStart},
    {.id = AV_CODEC_ID_VORBIS, .dataFormat = FOUR_CHAR_CODE("vorb"), .ogg = OggMapping::Vorbis},
    {.id = AV_CODEC_ID_OPUS, .dataFormat = FOUR_CHAR_CODE("opus"), .soundPerPacket = true, .ogg = OggMapping::Opus},
    {.id = AV_CODEC_ID_SPEEX, .ogg = OggMapping::Speex},
    {.id = AV_CODEC_ID_AMR_NB, .dataFormat = FOUR_CHAR_CODE("samr"), .syntax = Syntax::AmrNarrow},
    {.id = AV_CODEC_ID_AMR_WB, .dataFormat = FOUR_CHAR_CODE("sawb"), .syntax = Syntax::AmrWide},
    {.id = AV_CODEC_ID_AC3, .dataFormat = FOUR_CHAR_CODE("ac-3"), .soundPerPacket = true, .checks = Checks::Always,
     .syntax = Syntax::Ac3},
    {.id = AV_CODEC_ID_EAC3, .soundPerPacket = true, .checks = Checks::Always, .syntax = Syntax::Ac3},
    {.id = AV_CODEC_ID_MJPEG, .coverType = 13},
    {.id = AV_CODEC_ID_PNG, .coverType = 14},
    {.id = AV_CODEC_ID_BMP, .coverType = 27},
};

}  // namespace

CodecTraits CodecTraits::Of(AVCodecID id)
{
    for (const CodecTraits& row : kRows)
        if (row.id == id)
            return row;
    CodecTraits other{.id = id};
    if (id == AV_CODEC_ID_NONE)
        return other;
    // Any other linear PCM codec of the libraries.
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    if (d && d->name && std::strncmp(d->name, "pcm_", 4) == 0) {
        other.dataFormat = kAudioFormatLinearPCM;
        other.exactDurations = true;
        other.sampleFrames = true;
        other.framePerPacket = true;
    }
    return other;
}
