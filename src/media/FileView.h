// A file as a demuxer reads it through its own I/O context.
#pragma once

#include "MacTypes.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "MediaLibraries.h"

namespace movie_input {

// A file as a demuxer is given it where the file's own bytes would stop it
// short of what it holds: some of its bytes replaced (each patch at its
// position), and `tail` read after its end.  What is read of the tail is
// the view's, never the file's (FileView::Bytes).
class FileView {
public:
    struct Patch {
        int64_t at;
        std::vector<uint8_t> bytes;
    };
    bool Open(const std::string& path, std::vector<Patch> patches, std::vector<uint8_t> tail)
    {
        file_ = std::fopen(path.c_str(), "rb");
        if (!file_)
            return false;
        struct stat info;
        size_ = ::fstat(::fileno(file_), &info) == 0 ? int64_t(info.st_size) : -1;
        patches_ = std::move(patches);
        tail_ = std::move(tail);
        return size_ >= 0 && std::all_of(patches_.begin(), patches_.end(), [this](const Patch& p) {
                   return p.at >= 0 && p.at + int64_t(p.bytes.size()) <= size_;
               });
    }
    ~FileView()
    {
        if (file_)
            std::fclose(file_);
    }
    FileView() = default;
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;
    // The file's own bytes.
    int64_t Bytes() const { return size_; }

    static int Read(void* opaque, uint8_t* buffer, int size)
    {
        auto* view = static_cast<FileView*>(opaque);
        int done = 0;
        if (view->position_ < view->size_) {
            if (::fseeko(view->file_, off_t(view->position_), SEEK_SET) != 0)
                return AVERROR(EIO);
            done = int(std::fread(buffer, 1, std::size_t(std::min<int64_t>(size, view->size_ - view->position_)),
                                  view->file_));
            for (const Patch& patch : view->patches_) {
                const int64_t from = std::max(view->position_, patch.at);
                const int64_t to = std::min(view->position_ + done, patch.at + int64_t(patch.bytes.size()));
                for (int64_t at = from; at < to; ++at)
                    buffer[at - view->position_] = patch.bytes[std::size_t(at - patch.at)];
            }
        }
        const int64_t end = view->size_ + int64_t(view->tail_.size());
        for (; done < size && view->position_ + done >= view->size_ && view->position_ + done < end; ++done)
            buffer[done] = view->tail_[std::size_t(view->position_ + done - view->size_)];
        view->position_ += done;
        return done > 0 ? done : AVERROR_EOF;
    }
    static int64_t Seek(void* opaque, int64_t offset, int whence)
    {
        auto* view = static_cast<FileView*>(opaque);
        const int64_t length = view->size_ + int64_t(view->tail_.size());
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return length;
        case SEEK_SET: break;
        case SEEK_CUR: offset += view->position_; break;
        case SEEK_END: offset += length; break;
        default: return AVERROR(EINVAL);
        }
        if (offset < 0)
            return AVERROR(EINVAL);
        view->position_ = offset;
        return offset;
    }

private:
    std::FILE* file_ = nullptr;
    int64_t size_ = -1;
    int64_t position_ = 0;
    std::vector<Patch> patches_;
    std::vector<uint8_t> tail_;
};

// The view a file needs for the demuxer `*demuxer` to open it: a raw MPEG
// audio stream of too few frames for the demuxer (it wants to see the
// header of a frame after the first, an information frame's too) is
// followed by a copy of its first frame's header.  An AIFF file cut short
// whose FORM chunk goes on after its sound (a marker chunk written last)
// has its FORM chunk end where the file ends, so that its sound is read to
// there; one written to a pipe, whose FORM and 'SSND' sizes were left
// unknown (0 or 0xFFFFFFFF), has both end there.  False for any other
// file.
bool ViewFor(const std::string& path, FileView* view, const char** demuxer);

} // namespace movie_input
