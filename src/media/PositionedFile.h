#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

// A file read at chosen positions, as the container rules walk it: its size
// is known at opening, and a read returns how many bytes it got (fewer at
// the file's end, none past it).
class PositionedFile {
public:
    explicit PositionedFile(const std::string& path);
    bool IsOpen() const { return size_ >= 0; }
    // The file's bytes, or -1 when it could not be opened.
    int64_t Size() const { return size_; }
    std::size_t Read(int64_t at, void* into, std::size_t bytes);

private:
    std::ifstream in_;
    int64_t size_ = -1;
};
