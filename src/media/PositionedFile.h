#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// The one reader of the container rules' byte walks: a file (or bytes in
// memory, as a test or a fuzzer gives them) read at chosen positions.  Its
// size is known at opening; a read returns how many bytes it got (fewer at
// the end, none past it), and a view gives bytes through a window the
// reader keeps, for walks that step through a file a few bytes at a time.
class PositionedFile {
public:
    explicit PositionedFile(const std::string& path);
    explicit PositionedFile(std::vector<uint8_t> bytes);
    PositionedFile(const PositionedFile&) = delete;
    PositionedFile& operator=(const PositionedFile&) = delete;

    bool IsOpen() const { return size_ >= 0; }
    // The file's bytes, or -1 when it could not be opened.
    int64_t Size() const { return size_; }
    std::size_t Read(int64_t at, void* into, std::size_t bytes);
    // `count` bytes from `at`, valid until the next view; null unless the
    // file holds all of them.  Views walking forward through the file read
    // each byte once.
    const uint8_t* View(int64_t at, std::size_t count);

private:
    std::ifstream in_;
    std::vector<uint8_t> memory_;
    bool inMemory_ = false;
    int64_t size_ = -1;
    std::vector<uint8_t> window_;
    int64_t windowAt_ = 0;
};
