#include "RateChangeBridge.h"

#include "MediaLibraries.h"
#include "mpeg_tables.h"

#include <dlfcn.h>

extern "C" {
#include <libswresample/swresample.h>
#include <libswresample/version_major.h>
}

#include "media_calls.h"

namespace {

#define QM_BRIDGE_STRING(x) #x
#define QM_BRIDGE_SONAME(lib, major) "lib" lib ".so." QM_BRIDGE_STRING(major)

// The resampler's calls, loaded with the media libraries (and, like them,
// only when a track needs them).
struct ResamplerCalls {
    decltype(&::swr_alloc_set_opts2) alloc = nullptr;
    decltype(&::swr_init) init = nullptr;
    decltype(&::swr_free) free = nullptr;
    decltype(&::swr_convert_frame) convert = nullptr;
    decltype(&::av_frame_move_ref) moveRef = nullptr;

    bool load()
    {
        if (!MediaLibraries::Available())
            return false;
        void* swr = ::dlopen(QM_BRIDGE_SONAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR), RTLD_NOW | RTLD_GLOBAL);
        void* util = ::dlopen(QM_BRIDGE_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR), RTLD_NOW | RTLD_GLOBAL);
        if (!swr || !util)
            return false;
        alloc = reinterpret_cast<decltype(alloc)>(::dlsym(swr, "swr_alloc_set_opts2"));
        init = reinterpret_cast<decltype(init)>(::dlsym(swr, "swr_init"));
        free = reinterpret_cast<decltype(free)>(::dlsym(swr, "swr_free"));
        convert = reinterpret_cast<decltype(convert)>(::dlsym(swr, "swr_convert_frame"));
        moveRef = reinterpret_cast<decltype(moveRef)>(::dlsym(util, "av_frame_move_ref"));
        return alloc && init && free && convert && moveRef;
    }
};

const ResamplerCalls* Calls()
{
    static ResamplerCalls calls;
    static const bool loaded = calls.load();
    return loaded ? &calls : nullptr;
}

// The rates of MPEG audio headers by version (3: MPEG-1, 2: MPEG-2,
// 0: MPEG-2.5) and rate index, and of ADTS headers by frequency index.
constexpr int kMPEGRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
constexpr int kADTSRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                22050, 16000, 12000, 11025, 8000,  7350};

} // namespace

RateChangeBridge::RateChangeBridge(int trackRate) : trackRate_(trackRate) {}

RateChangeBridge::~RateChangeBridge()
{
    if (swr_)
        Calls()->free(&swr_);
    av_channel_layout_uninit(&swrLayout_);
    for (AVFrame* frame : ready_)
        av_frame_free(&frame);
}

bool RateChangeBridge::Available()
{
    return Calls() != nullptr;
}

bool RateChangeBridge::RatesConvertible(int partRate, int trackRate)
{
    if (partRate <= 0 || trackRate <= 0)
        return false;
    const double ratio = double(partRate) / double(trackRate);
    return ratio <= kMostRatio && ratio >= 1.0 / kMostRatio;
}

bool RateChangeBridge::Queue(AVFrame* frame)
{
    if (frame->nb_samples <= 0) {
        av_frame_free(&frame);
        return true;
    }
    ready_.push_back(frame);
    return true;
}

bool RateChangeBridge::Put(AVFrame* frame)
{
    const ResamplerCalls* calls = Calls();
    if (!calls) {
        av_frame_unref(frame);
        return false;
    }
    const int rate = frame->sample_rate > 0 ? frame->sample_rate : trackRate_;
    if (rate != trackRate_ && !RatesConvertible(rate, trackRate_)) {
        av_frame_unref(frame);
        return false;
    }
    const AVChannelLayout& layout = frame->ch_layout;
    const bool sameLayout = layout.nb_channels == swrLayout_.nb_channels && layout.order == swrLayout_.order &&
                            (layout.order != AV_CHANNEL_ORDER_NATIVE || layout.u.mask == swrLayout_.u.mask);
    if (rate == trackRate_ || (swr_ && (rate != swrRate_ || frame->format != swrFormat_ || !sameLayout))) {
        // A run at another rate (or of another sample format or channel
        // layout: MPEG audio changes its channel mode) ends here.
        if (!Drain()) {
            av_frame_unref(frame);
            return false;
        }
    }
    if (rate == trackRate_) {
        AVFrame* same = av_frame_alloc();
        if (!same) {
            av_frame_unref(frame);
            return false;
        }
        calls->moveRef(same, frame);
        return Queue(same);
    }
    if (!swr_) {
        // The sample format the frames hold, at the track's rate.
        if (calls->alloc(&swr_, &frame->ch_layout, AV_SAMPLE_FMT_FLTP, trackRate_, &frame->ch_layout,
                         AVSampleFormat(frame->format), rate, 0, nullptr) < 0 ||
            calls->init(swr_) < 0) {
            calls->free(&swr_);
            av_frame_unref(frame);
            return false;
        }
        swrRate_ = rate;
        swrFormat_ = frame->format;
        av_channel_layout_uninit(&swrLayout_);
        if (av_channel_layout_copy(&swrLayout_, &frame->ch_layout) < 0) {
            calls->free(&swr_);
            av_frame_unref(frame);
            return false;
        }
    }
    AVFrame* out = av_frame_alloc();
    if (!out) {
        av_frame_unref(frame);
        return false;
    }
    out->sample_rate = trackRate_;
    out->format = AV_SAMPLE_FMT_FLTP;
    const bool converted = av_channel_layout_copy(&out->ch_layout, &frame->ch_layout) >= 0 &&
                           calls->convert(swr_, out, frame) >= 0;
    av_frame_unref(frame);
    if (!converted) {
        av_frame_free(&out);
        return false;
    }
    return Queue(out);
}

bool RateChangeBridge::Drain()
{
    if (!swr_)
        return true;
    const ResamplerCalls* calls = Calls();
    bool ok = true;
    // Until the resampler gives no more (one call gives it all; the loop
    // only guards against a short buffer).
    for (int guard = 0; guard < 16; ++guard) {
        AVFrame* out = av_frame_alloc();
        if (!out) {
            ok = false;
            break;
        }
        out->sample_rate = trackRate_;
        out->format = AV_SAMPLE_FMT_FLTP;
        if (av_channel_layout_copy(&out->ch_layout, &swrLayout_) < 0 ||
            calls->convert(swr_, out, nullptr) < 0) {
            av_frame_free(&out);
            ok = false;
            break;
        }
        const bool more = out->nb_samples > 0;
        Queue(out);
        if (!more)
            break;
    }
    calls->free(&swr_);
    swrRate_ = 0;
    swrFormat_ = -1;
    return ok;
}

bool RateChangeBridge::Finish()
{
    return Drain();
}

bool RateChangeBridge::Take(AVFrame* frame)
{
    if (ready_.empty())
        return false;
    AVFrame* next = ready_.front();
    ready_.pop_front();
    av_frame_unref(frame);
    Calls()->moveRef(frame, next);
    av_frame_free(&next);
    return true;
}

bool RateChangeBridge::PacketShape(FrameSyntax syntax, const uint8_t* p, int size, int* rate, int* channels)
{
    if (!p || size < 4 || p[0] != 0xFF)
        return false;
    if (syntax == FrameSyntax::Mpeg) {
        const int version = (p[1] >> 3) & 3;
        const int index = (p[2] >> 2) & 3;
        if ((p[1] & 0xE0) != 0xE0 || version == 1 || index == 3 || ((p[1] >> 1) & 3) == 0 ||
            mpeg::FrameBytes(p) != size)
            return false;
        *rate = kMPEGRates[version][index];
        *channels = ((p[3] >> 6) & 3) == 3 ? 1 : 2;
        return true;
    }
    if (syntax == FrameSyntax::Adts && size >= 7 && (p[1] & 0xF6) == 0xF0) {
        const int index = (p[2] >> 2) & 0xF;
        const int bytes = ((p[3] & 3) << 11) | (p[4] << 3) | (p[5] >> 5);
        if (index >= 13 || bytes != size)
            return false;
        *rate = kADTSRates[index];
        // 0: the channels are told by an element inside the frame.
        *channels = ((p[2] & 1) << 2) | ((p[3] >> 6) & 3);
        return true;
    }
    return false;
}
