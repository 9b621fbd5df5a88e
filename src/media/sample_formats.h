// What a sample format of the media libraries is, answered here rather than
// by the libraries: a FLAC file read by libFLAC alone never loads them.
// Internal to the media layer.
#pragma once

extern "C" {
#include <libavutil/samplefmt.h>
}

// Whether `format` holds one plane per channel.
inline bool SampleFormatIsPlanar(AVSampleFormat format)
{
    return (format >= AV_SAMPLE_FMT_U8P && format <= AV_SAMPLE_FMT_DBLP) || format == AV_SAMPLE_FMT_S64P;
}

// The interleaved format of the same samples (`format` itself when it is one).
inline AVSampleFormat PackedSampleFormat(AVSampleFormat format)
{
    switch (format) {
    case AV_SAMPLE_FMT_U8P: return AV_SAMPLE_FMT_U8;
    case AV_SAMPLE_FMT_S16P: return AV_SAMPLE_FMT_S16;
    case AV_SAMPLE_FMT_S32P: return AV_SAMPLE_FMT_S32;
    case AV_SAMPLE_FMT_FLTP: return AV_SAMPLE_FMT_FLT;
    case AV_SAMPLE_FMT_DBLP: return AV_SAMPLE_FMT_DBL;
    case AV_SAMPLE_FMT_S64P: return AV_SAMPLE_FMT_S64;
    default: return format;
    }
}
