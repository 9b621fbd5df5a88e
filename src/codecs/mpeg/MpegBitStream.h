// MpegBitStream: the bit-stream writer of the MPEG audio encoder.  Bits go
// in most significant first; full bytes are gathered in a buffer and
// written to the stream whenever the buffer fills and at Close.  A write
// that fails sets the write-error flag; writing goes on (the encoder driver
// checks the flag after every frame).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class MpegBitStream {
public:
    // "Cannot read or write more than %d bits at a time."
    static constexpr int kMaxBitsPerCall = 32;

    MpegBitStream() = default;
    ~MpegBitStream();
    MpegBitStream(const MpegBitStream&) = delete;
    MpegBitStream& operator=(const MpegBitStream&) = delete;

    // Starts writing to `file` (not owned; it stays open after Close), with
    // a buffer of `bufferBytes` bytes (at least 4).
    void Attach(std::FILE* file, std::size_t bufferBytes = 4096);

    // Appends the low `n` bits of `value`, most significant first; n above
    // 32 is cut to 32.
    void PutBits(uint32_t value, int n);
    void Put1Bit(uint32_t bit) { PutBits(bit & 1u, 1); }

    // The number of bits written so far.
    uint64_t BitsWritten() const { return bitCount_; }

    // Writes what is buffered, including a last partly filled byte (its
    // free bits zero); a stream that ends on a byte boundary gets no extra
    // byte; flushes the stream.  Detaches from the file.
    void Close();

    bool WriteError() const { return writeError_; }

private:
    void Flush();

    std::FILE* file_ = nullptr;
    std::vector<uint8_t> buffer_;
    std::size_t used_ = 0;       // whole bytes in buffer_
    uint32_t current_ = 0;       // bits of the byte being filled
    int freeBits_ = 8;           // free bits of that byte
    uint64_t bitCount_ = 0;
    bool writeError_ = false;
};
