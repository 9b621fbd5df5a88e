#include "library_input.h"

#include "MacErrorMapping.h"
#include "MediaCodes.h"
#include "RawStreamLengthRule.h"
#include "ContainerTraits.h"
#include "error_codes.h"
#include "mpeg_audio_frames.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>

#include "media_calls.h"

namespace movie_input {

namespace {

bool HasAudioStream(const AVFormatContext* format)
{
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return true;
    return false;
}

} // namespace

OSErr ErrorFromAV(int code, OSErr fallback)
{
    if (code == AVERROR(ENOENT))
        return fnfErr;
    // (Only EACCES: the libraries' own code returns a bare -1, which is
    // AVERROR(EPERM), for a header it refuses.)
    if (code == AVERROR(EACCES))
        return MacErrorFromErrno(EACCES);
    if (code == AVERROR(ENOMEM))
        return kCorruptChunkSizeErr;
    if (code == AVERROR(EIO))
        return ioErr;
    return fallback;
}

OSErr CheckRegularFile(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return MacErrorFromLastErrno();
    return S_ISREG(info.st_mode) ? noErr : kUnknownFileFormatErr;
}

OSErr ContentFormat(const std::string& path, const AVInputFormat** input)
{
    *input = nullptr;
    AVIOContext* io = nullptr;
    if (avio_open(&io, path.c_str(), AVIO_FLAG_READ) < 0)
        return fnfErr;
    const AVInputFormat* guess = nullptr;
    const int score = av_probe_input_buffer2(io, &guess, "", nullptr, 0, 1 << 16);
    avio_closep(&io);
    if (guess && (score >= AVPROBE_SCORE_RETRY || (ContainerTraits::Of(KindOfDemuxer(guess->name)).tagged && IsShortMPEGStream(path))))
        *input = guess;
    else if (const char* demuxer = RawStreamLengthRule::ShortStreamDemuxer(path))
        *input = av_find_input_format(demuxer);
    return noErr;
}

int OpenInput(const std::string& path, AVFormatContext** format, std::unique_ptr<FileView>* view,
              AVIOContext** io)
{
    int rc = avformat_open_input(format, path.c_str(), nullptr, nullptr);
    if (rc >= 0)
        rc = avformat_find_stream_info(*format, nullptr);
    if (rc >= 0 && HasAudioStream(*format))
        return rc;
    if (view && io) {
        auto viewed = std::make_unique<FileView>();
        const char* demuxer = nullptr;
        constexpr int kBufferBytes = 4096;
        uint8_t* buffer = nullptr;
        AVFormatContext* byView = nullptr;
        if (ViewFor(path, viewed.get(), &demuxer) && (buffer = static_cast<uint8_t*>(av_malloc(kBufferBytes))) &&
            (*io = avio_alloc_context(buffer, kBufferBytes, 0, viewed.get(), &FileView::Read, nullptr,
                                      &FileView::Seek)) &&
            (byView = avformat_alloc_context())) {
            byView->pb = *io;
            byView->flags |= AVFMT_FLAG_CUSTOM_IO;
            if (avformat_open_input(&byView, path.c_str(), av_find_input_format(demuxer), nullptr) >= 0 &&
                avformat_find_stream_info(byView, nullptr) >= 0 && HasAudioStream(byView)) {
                avformat_close_input(format);
                *format = byView;
                *view = std::move(viewed);
                return 0;
            }
            avformat_close_input(&byView);
        } else if (!*io) {
            av_free(buffer);
        }
        if (*io) {
            av_freep(&(*io)->buffer);
            avio_context_free(io);
        }
    }
    const AVInputFormat* input = nullptr;
    if (ContentFormat(path, &input) != noErr || !input || (*format && (*format)->iformat == input))
        return rc;
    AVFormatContext* byContent = nullptr;
    if (avformat_open_input(&byContent, path.c_str(), input, nullptr) < 0)
        return rc;
    if (avformat_find_stream_info(byContent, nullptr) < 0 || !HasAudioStream(byContent)) {
        avformat_close_input(&byContent);
        return rc;
    }
    avformat_close_input(format);
    *format = byContent;
    return 0;
}

int64_t FileBytes(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? int64_t(info.st_size) : -1;
}

void QuietLogs()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

} // namespace movie_input
