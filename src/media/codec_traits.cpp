#include "codec_traits.h"

#include "MediaCodes.h"

#include <cstring>

#include "media_calls.h"

namespace movie_input {

bool SoundPerPacket(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_ALAC:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_EAC3:
    case AV_CODEC_ID_OPUS:
    case AV_CODEC_ID_FLAC:
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
        return true;
    default:
        return false;
    }
}

bool Trusted(AVCodecID id)
{
    // Codecs whose decoder delivers exactly each packet's duration, also
    // right after a flush: the frame count can be read off the packets.
    switch (id) {
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_ALAC:
    case AV_CODEC_ID_FLAC:
    case AV_CODEC_ID_PCM_ALAW:
    case AV_CODEC_ID_PCM_MULAW:
    case AV_CODEC_ID_ADPCM_IMA_QT:
    case AV_CODEC_ID_ADPCM_IMA_WAV:
        return true;
    default:
        break;
    }
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return d && d->name && std::strncmp(d->name, "pcm_", 4) == 0;
}

OSType DataFormatFor(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_PCM_ALAW: return media_codes::kALaw;
    case AV_CODEC_ID_PCM_MULAW: return media_codes::kULaw;
    case AV_CODEC_ID_ADPCM_IMA_QT: return media_codes::kIMA4;
    case AV_CODEC_ID_ADPCM_IMA_WAV: return 0x6D730011; // 'ms\0\x11'
    case AV_CODEC_ID_MP1: return FOUR_CHAR_CODE(".mp1");
    case AV_CODEC_ID_MP2: return FOUR_CHAR_CODE(".mp2");
    case AV_CODEC_ID_MP3: return FOUR_CHAR_CODE(".mp3");
    case AV_CODEC_ID_AAC: return FOUR_CHAR_CODE("aac ");
    case AV_CODEC_ID_ALAC: return FOUR_CHAR_CODE("alac");
    case AV_CODEC_ID_FLAC: return FOUR_CHAR_CODE("flac");
    case AV_CODEC_ID_VORBIS: return FOUR_CHAR_CODE("vorb");
    case AV_CODEC_ID_OPUS: return FOUR_CHAR_CODE("opus");
    case AV_CODEC_ID_AMR_NB: return FOUR_CHAR_CODE("samr");
    case AV_CODEC_ID_AMR_WB: return FOUR_CHAR_CODE("sawb");
    case AV_CODEC_ID_AC3: return FOUR_CHAR_CODE("ac-3");
    default: break;
    }
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return d && d->name && std::strncmp(d->name, "pcm_", 4) == 0 ? FOUR_CHAR_CODE("lpcm") : 0;
}

} // namespace movie_input
