// ForkInputStream: a read-only std::istream over a file's data fork, opened
// through the File Manager, for code that sniffs headers and walks chunks
// with stream calls.  Opening gives the File Manager's codes (fnfErr for a
// missing file, permErr for one that may not be read, notAFileErr for a
// folder), so that a caller can tell them apart; reads and seeks go through
// FSReadFork.  The fork is closed with the stream.  A file this thread
// made and closed a moment ago (see PathMemo::KeepImage) is read from what
// its writer knew of it, as long as the reads stay on bytes it knew; the
// file is opened at the first read of any other byte.
#pragma once

#include "MacTypes.h"

#include <istream>
#include <memory>
#include <streambuf>
#include <string>

class FileImage;

class ForkStreamBuf : public std::streambuf {
public:
    ForkStreamBuf() = default;
    ~ForkStreamBuf() override;
    ForkStreamBuf(const ForkStreamBuf&) = delete;
    ForkStreamBuf& operator=(const ForkStreamBuf&) = delete;

    OSErr open(const std::string& path);
    void close();
    bool isOpen() const { return m_refNum != 0 || m_image; }

protected:
    int_type underflow() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    static constexpr std::size_t kBufferBytes = 4096;

    // Opens the file itself (leaving the image).
    OSErr openFork(const std::string& path);
    SInt64 length() const;

    SInt16 m_refNum = 0;
    std::shared_ptr<const FileImage> m_image;
    std::string m_path;
    SInt64 m_bufferStart = 0;  // file position of eback()
    // The bytes m_buffer holds, from m_heldStart on: a seek away and back
    // (a walk asking the file's length) finds them again without a read.
    SInt64 m_heldStart = 0;
    SInt64 m_held = 0;
    char m_buffer[kBufferBytes];
};

class ForkInputStream : public std::istream {
public:
    ForkInputStream();
    // Opens `path` (POSIX, UTF-8); the stream's state is bad when it fails.
    explicit ForkInputStream(const std::string& path);

    // noErr, or the File Manager's code of the failed open.
    OSErr open(const std::string& path);
    OSErr openError() const { return m_openError; }

private:
    ForkStreamBuf m_buf;
    OSErr m_openError = fnfErr;
};
