#include "FileImage.h"

#include <algorithm>
#include <cstring>

void FileImage::GiveUp()
{
    valid_ = false;
    pieces_.clear();
    held_ = 0;
}

void FileImage::Unknow(SInt64 from, SInt64 to)
{
    if (from >= to)
        return;
    std::vector<Piece> kept;
    kept.reserve(pieces_.size() + 1);
    for (Piece& piece : pieces_) {
        if (piece.end() <= from || piece.start >= to) {
            kept.push_back(std::move(piece));
            continue;
        }
        held_ -= SInt64(piece.bytes.size());
        if (piece.start < from) {
            Piece before{piece.start, piece.bytes.substr(0, std::size_t(from - piece.start))};
            held_ += SInt64(before.bytes.size());
            kept.push_back(std::move(before));
        }
        if (piece.end() > to) {
            Piece after{to, piece.bytes.substr(std::size_t(to - piece.start))};
            held_ += SInt64(after.bytes.size());
            kept.push_back(std::move(after));
        }
    }
    pieces_ = std::move(kept);
}

void FileImage::Insert(SInt64 position, std::string bytes)
{
    if (bytes.empty())
        return;
    const SInt64 size = SInt64(bytes.size());
    if (pieces_.size() >= kMaxPieces || held_ + size > kMaxBytes) {
        GiveUp();
        return;
    }
    const auto at = std::lower_bound(pieces_.begin(), pieces_.end(), position,
                                     [](const Piece& piece, SInt64 start) { return piece.start < start; });
    pieces_.insert(at, Piece{position, std::move(bytes)});
    held_ += size;
}

void FileImage::Write(SInt64 position, const char* data, SInt64 count)
{
    if (!valid_ || count <= 0)
        return;
    if (position < 0 || position > (SInt64(1) << 60) || count > (SInt64(1) << 60)) {
        GiveUp();
        return;
    }
    if (position > length_)
        Resize(position);  // the gap reads as zeros
    if (!valid_)
        return;
    const SInt64 end = position + count;
    Unknow(position, end);
    length_ = std::max(length_, end);
    if (count <= kMaxPieceBytes)
        Insert(position, std::string(data, std::size_t(count)));
}

void FileImage::Resize(SInt64 length)
{
    if (!valid_)
        return;
    if (length < 0) {
        GiveUp();
        return;
    }
    if (length < length_) {
        Unknow(length, length_);
        length_ = length;
        return;
    }
    const SInt64 grown = length - length_;
    const SInt64 from = length_;
    length_ = length;
    if (grown > 0 && grown <= kMaxPieceBytes)
        Insert(from, std::string(std::size_t(grown), '\0'));
}

SInt64 FileImage::Read(SInt64 position, SInt64 request, char* out) const
{
    if (!valid_ || position < 0 || position >= length_ || request <= 0)
        return 0;
    const SInt64 end = std::min(length_, position + std::min(request, length_ - position));
    SInt64 at = position;
    for (const Piece& piece : pieces_) {
        if (piece.end() <= at)
            continue;
        if (piece.start > at || at >= end)
            break;
        const SInt64 n = std::min(piece.end(), end) - at;
        std::memcpy(out + (at - position), piece.bytes.data() + (at - piece.start), std::size_t(n));
        at += n;
    }
    return at - position;
}

bool FileImage::ReadAll(SInt64 position, SInt64 request, char* out, SInt64* done) const
{
    if (!valid_ || position < 0 || request < 0)
        return false;
    const SInt64 inside = position >= length_ ? 0 : std::min(request, length_ - position);
    if (inside > 0 && Read(position, inside, out) != inside)
        return false;
    *done = inside;
    return true;
}
