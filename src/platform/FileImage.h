// What a writer knows of a file it made: the file's length and the bytes
// of its small writes (headers, chunk headers, trailing chunks), without
// reading the file back.  It starts as an empty file (every byte known);
// a large write (sample data) leaves a hole, whose bytes only the file can
// give.  A file grown past its end reads as zeros there, as the file does.
// The image gives up (invalid) when it would hold more than a few pieces
// or bytes: the caller then reads the file.
// Internal to the platform layer.
#pragma once

#include "MacTypes.h"

#include <string>
#include <vector>

class FileImage {
public:
    // Writes up to this size are kept; larger ones leave a hole.
    static constexpr SInt64 kMaxPieceBytes = 4096;

    bool valid() const { return valid_; }
    SInt64 length() const { return length_; }

    // `count` bytes written at `position`.
    void Write(SInt64 position, const char* data, SInt64 count);
    // The file's length set (truncated, or grown with zeros).
    void Resize(SInt64 length);

    // The known bytes from `position` on, as many as run on without a hole
    // (at most `request`), copied to `out`: their number.  0 at or past the
    // end of the file (see length()) and in a hole.
    SInt64 Read(SInt64 position, SInt64 request, char* out) const;
    // Whether every byte of [position, position + request) that lies
    // inside the file is known; then they are copied to `out` and *done
    // gets their number.
    bool ReadAll(SInt64 position, SInt64 request, char* out, SInt64* done) const;

private:
    static constexpr SInt64 kMaxBytes = 65536;
    static constexpr std::size_t kMaxPieces = 64;

    struct Piece {
        SInt64 start = 0;
        std::string bytes;
        SInt64 end() const { return start + SInt64(bytes.size()); }
    };
    // Forgets what is known of [from, to).
    void Unknow(SInt64 from, SInt64 to);
    void Insert(SInt64 position, std::string bytes);
    void GiveUp();

    std::vector<Piece> pieces_;  // by start, not overlapping
    SInt64 length_ = 0;
    SInt64 held_ = 0;  // bytes in pieces_
    bool valid_ = true;
};
