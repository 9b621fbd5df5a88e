// The media libraries (libavformat, libavcodec, libavutil), loaded at their
// first use rather than at start-up: most runs never read or write a movie
// file, and loading them (with everything they pull in) took longer than
// converting a short file.  Only the movie source and exporter use them;
// they include "media_calls.h", which sends each call they make through
// the table below.
//
//   if (!MediaLibraries::Available()) return kUnknownFileFormatErr;  // at an entry
//   avformat_open_input(...);                                    // as before
//
// A call made when the libraries cannot be loaded stops the program with a
// message (as the loader did before, when they were linked directly).
// Internal to the media layer.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#define QM_MEDIA_CALLS(X)                                                                                     \
    X(av_channel_layout_channel_from_index) X(av_channel_layout_copy) X(av_channel_layout_default)              \
    X(av_channel_layout_from_mask) X(av_channel_layout_uninit)                                                  \
    X(av_channel_layout_index_from_channel) X(av_dict_free) X(av_dict_get) X(av_dict_set) X(av_frame_alloc) X(av_frame_free)                  \
    X(av_find_input_format) X(av_frame_get_buffer) X(av_frame_unref) X(av_free) X(av_freep) X(av_malloc) X(av_get_bits_per_sample)             \
    X(av_interleaved_write_frame) X(av_log_set_level) X(av_packet_alloc) X(av_packet_free)                     \
    X(av_packet_get_side_data) X(av_packet_rescale_ts) X(av_packet_unref) X(av_new_packet)                     \
    X(av_probe_input_buffer2)                                                                                \
    X(av_read_frame) X(av_rescale_q) X(av_seek_frame) X(av_write_trailer)           \
    X(avcodec_alloc_context3) X(avcodec_descriptor_get) X(avcodec_find_decoder) X(avcodec_find_encoder)        \
    X(avcodec_flush_buffers) X(avcodec_free_context) X(avcodec_open2) X(avcodec_parameters_from_context)       \
    X(avcodec_parameters_alloc) X(avcodec_parameters_copy) X(avcodec_parameters_free)                          \
    X(avcodec_parameters_to_context) X(avcodec_receive_frame) X(avcodec_receive_packet) X(avcodec_send_frame)  \
    X(avcodec_send_packet) X(avformat_alloc_context) X(avformat_alloc_output_context2) X(avformat_close_input)                           \
    X(avformat_find_stream_info) X(avformat_free_context) X(avformat_new_stream) X(avformat_open_input)        \
    X(avformat_index_get_entries_count) X(avformat_index_get_entry)                                            \
    X(avformat_query_codec) X(avformat_write_header) X(avio_alloc_context) X(avio_closep) X(avio_context_free) X(avio_open)

class MediaLibraries {
public:
#define QM_MEDIA_POINTER(name) decltype(&::name) name = nullptr;
    QM_MEDIA_CALLS(QM_MEDIA_POINTER)
#undef QM_MEDIA_POINTER

    // Loads the libraries once (thread-safe); false when they or one of
    // the calls cannot be found.
    static bool Available();
    // The calls (loaded on the first use).
    static const MediaLibraries& Calls();

private:
    MediaLibraries() = default;
    static const MediaLibraries* Loaded();
    bool load();
};
