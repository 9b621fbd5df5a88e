#include "CodecTraits.h"

#include "CoreAudioTypes.h"
#include "MediaCodes.h"

#include <cstring>

#include "media_calls.h"

namespace {

using Seek = SeekSettling;
using Checks = FrameChecks;
using Syntax = FrameSyntax;

CodecTraits Row(AVCodecID id, OSType dataFormat)
{
    CodecTraits row;
    row.id = id;
    row.dataFormat = dataFormat;
    return row;
}

// A codec whose packets tell their frames.
CodecTraits Exact(AVCodecID id, OSType dataFormat, Seek seek)
{
    CodecTraits row = Row(id, dataFormat);
    row.exactDurations = true;
    row.seek = seek;
    return row;
}

CodecTraits Mpeg(AVCodecID id, OSType dataFormat, Seek seek, Checks checks, bool lag, bool info)
{
    CodecTraits row = Exact(id, dataFormat, seek);
    row.soundPerPacket = true;
    row.checks = checks;
    row.syntax = Syntax::Mpeg;
    row.filterbankLag = lag;
    row.infoFrame = info;
    row.channelModeChanges = true;
    return row;
}

CodecTraits Table(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_MP1: return Mpeg(id, FOUR_CHAR_CODE(".mp1"), Seek::FromStart, Checks::LayerOne, true, false);
    case AV_CODEC_ID_MP2: return Mpeg(id, FOUR_CHAR_CODE(".mp2"), Seek::FromStart, Checks::WhenProtected, true, false);
    case AV_CODEC_ID_MP3:
        return Mpeg(id, FOUR_CHAR_CODE(".mp3"), Seek::WithFloatDecoder, Checks::WhenProtected, false, true);
    case AV_CODEC_ID_AAC: {
        CodecTraits row = Exact(id, FOUR_CHAR_CODE("aac "), Seek::FromStart);
        row.soundPerPacket = true;
        row.syntax = Syntax::Adts;
        row.firstPacketMayPrime = true;
        row.wholeFrames = true;
        return row;
    }
    case AV_CODEC_ID_ALAC: {
        CodecTraits row = Exact(id, FOUR_CHAR_CODE("alac"), Seek::Settles);
        row.soundPerPacket = true;
        return row;
    }
    case AV_CODEC_ID_FLAC: {
        CodecTraits row = Exact(id, FOUR_CHAR_CODE("flac"), Seek::Settles);
        row.soundPerPacket = true;
        row.checks = Checks::FlacFrames;
        row.ogg = OggMapping::Flac;
        row.streamInfo = true;
        return row;
    }
    case AV_CODEC_ID_PCM_ALAW: return Exact(id, media_codes::kALaw, Seek::Settles);
    case AV_CODEC_ID_PCM_MULAW: return Exact(id, media_codes::kULaw, Seek::Settles);
    case AV_CODEC_ID_PCM_F32BE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F64BE:
    case AV_CODEC_ID_PCM_F64LE: {
        CodecTraits row = Exact(id, kAudioFormatLinearPCM, Seek::Settles);
        row.floatSamples = true;
        return row;
    }
    case AV_CODEC_ID_ADPCM_IMA_QT: {
        CodecTraits row = Exact(id, media_codes::kIMA4, Seek::FromStart);
        row.cutBlocksDropped = true;
        return row;
    }
    case AV_CODEC_ID_ADPCM_IMA_WAV: return Exact(id, 0x6D730011, Seek::FromStart);  // 'ms\0\x11'
    case AV_CODEC_ID_VORBIS: {
        CodecTraits row = Row(id, FOUR_CHAR_CODE("vorb"));
        row.ogg = OggMapping::Vorbis;
        return row;
    }
    case AV_CODEC_ID_OPUS: {
        CodecTraits row = Row(id, FOUR_CHAR_CODE("opus"));
        row.soundPerPacket = true;
        row.ogg = OggMapping::Opus;
        return row;
    }
    case AV_CODEC_ID_SPEEX: {
        CodecTraits row = Row(id, 0);
        row.ogg = OggMapping::Speex;
        return row;
    }
    case AV_CODEC_ID_AMR_NB: {
        CodecTraits row = Row(id, FOUR_CHAR_CODE("samr"));
        row.syntax = Syntax::AmrNarrow;
        return row;
    }
    case AV_CODEC_ID_AMR_WB: {
        CodecTraits row = Row(id, FOUR_CHAR_CODE("sawb"));
        row.syntax = Syntax::AmrWide;
        return row;
    }
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_EAC3: {
        CodecTraits row = Row(id, id == AV_CODEC_ID_AC3 ? FOUR_CHAR_CODE("ac-3") : 0);
        row.soundPerPacket = true;
        row.checks = Checks::Always;
        row.syntax = Syntax::Ac3;
        return row;
    }
    case AV_CODEC_ID_MJPEG: {
        CodecTraits row = Row(id, 0);
        row.coverType = 13;
        return row;
    }
    case AV_CODEC_ID_PNG: {
        CodecTraits row = Row(id, 0);
        row.coverType = 14;
        return row;
    }
    case AV_CODEC_ID_BMP: {
        CodecTraits row = Row(id, 0);
        row.coverType = 27;
        return row;
    }
    default: return Row(AV_CODEC_ID_NONE, 0);
    }
}

}  // namespace

CodecTraits CodecTraits::Of(AVCodecID id)
{
    if (CodecTraits row = Table(id); row.id != AV_CODEC_ID_NONE || id == AV_CODEC_ID_NONE)
        return row;
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    if (d && d->name && std::strncmp(d->name, "pcm_", 4) == 0)
        return Exact(id, kAudioFormatLinearPCM, Seek::Settles);
    return Row(id, 0);
}
