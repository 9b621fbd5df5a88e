#include "PositionedFile.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int64_t kWindowBytes = 1 << 20;

}  // namespace

PositionedFile::PositionedFile(const std::string& path) : in_(path, std::ios::binary)
{
    if (in_ && in_.seekg(0, std::ios::end))
        size_ = int64_t(in_.tellg());
}

PositionedFile::PositionedFile(std::vector<uint8_t> bytes)
    : memory_(std::move(bytes)), inMemory_(true), size_(int64_t(memory_.size()))
{
}

std::size_t PositionedFile::Read(int64_t at, void* into, std::size_t bytes)
{
    if (size_ < 0 || at < 0 || at >= size_ || bytes == 0)
        return 0;
    if (inMemory_) {
        const std::size_t n = std::size_t(std::min<int64_t>(int64_t(bytes), size_ - at));
        std::memcpy(into, memory_.data() + at, n);
        return n;
    }
    in_.clear();
    if (!in_.seekg(std::streamoff(at)))
        return 0;
    in_.read(static_cast<char*>(into), std::streamsize(bytes));
    return std::size_t(in_.gcount());
}

const uint8_t* PositionedFile::View(int64_t at, std::size_t count)
{
    if (size_ < 0 || at < 0 || int64_t(count) > size_ - at)
        return nullptr;
    if (inMemory_)
        return memory_.data() + at;
    const int64_t held = windowAt_ + int64_t(window_.size());
    if (at < windowAt_ || at + int64_t(count) > held) {
        // A window of at least twice the view, so that views walking
        // forward refill it seldom; the bytes it holds from `at` on stay
        // and are not read again.
        const std::size_t kept = at >= windowAt_ && at < held ? std::size_t(held - at) : 0;
        if (kept > 0)
            std::memmove(window_.data(), window_.data() + (at - windowAt_), kept);
        window_.resize(std::size_t(std::min(std::max<int64_t>(kWindowBytes, 2 * int64_t(count)), size_ - at)));
        windowAt_ = at;
        if (Read(at + int64_t(kept), window_.data() + kept, window_.size() - kept) != window_.size() - kept) {
            window_.clear();
            return nullptr;
        }
    }
    return window_.data() + (at - windowAt_);
}
