#include "MpegBitStream.h"

MpegBitStream::~MpegBitStream() = default;

void MpegBitStream::Attach(std::FILE* file, std::size_t bufferBytes)
{
    file_ = file;
    buffer_.assign(bufferBytes < 4 ? 4 : bufferBytes, 0);
    used_ = 0;
    current_ = 0;
    freeBits_ = 8;
    bitCount_ = 0;
    writeError_ = false;
}

void MpegBitStream::Flush()
{
    if (used_ == 0)
        return;
    if (!file_ || std::fwrite(buffer_.data(), 1, used_, file_) != used_)
        writeError_ = true;
    used_ = 0;
}

void MpegBitStream::PutBits(uint32_t value, int n)
{
    if (n > kMaxBitsPerCall) {
        std::printf("Cannot read or write more than %d bits at a time.\n", kMaxBitsPerCall);
        n = kMaxBitsPerCall;
    }
    if (n <= 0)
        return;
    if (buffer_.empty())
        buffer_.assign(4096, 0);
    bitCount_ += uint64_t(n);
    while (n > 0) {
        const int take = n < freeBits_ ? n : freeBits_;
        const uint32_t bits = (value >> (n - take)) & ((1u << take) - 1u);
        current_ |= bits << (freeBits_ - take);
        freeBits_ -= take;
        n -= take;
        if (freeBits_ == 0) {
            buffer_[used_++] = uint8_t(current_);
            current_ = 0;
            freeBits_ = 8;
            if (used_ == buffer_.size())
                Flush();
        }
    }
}

void MpegBitStream::Close()
{
    if (freeBits_ != 8 && !buffer_.empty()) {
        buffer_[used_++] = uint8_t(current_);
        current_ = 0;
        freeBits_ = 8;
    }
    Flush();
    // What the stream still buffers must reach the file too.
    if (file_ && std::fflush(file_) != 0)
        writeError_ = true;
    file_ = nullptr;
    buffer_.clear();
    buffer_.shrink_to_fit();
}
