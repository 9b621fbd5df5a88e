#include "ForkInputStream.h"

#include "FileImage.h"
#include "FileManager.h"
#include "FileOperations.h"
#include "PathMemo.h"

#include <cstring>

ForkStreamBuf::~ForkStreamBuf()
{
    close();
}

OSErr ForkStreamBuf::open(const std::string& path)
{
    close();
    if (PathMemo::Current()) {
        const std::string absolute = AbsolutePath(path);
        if (std::shared_ptr<const FileImage> image = PathMemo::Image(absolute)) {
            m_image = std::move(image);
            m_path = absolute;
            m_bufferStart = 0;
            m_held = 0;
            setg(m_buffer, m_buffer, m_buffer);
            return noErr;
        }
    }
    return openFork(path);
}

OSErr ForkStreamBuf::openFork(const std::string& path)
{
    FSSpec spec;
    OSErr err = PathMakeFSSpec(path, &spec);
    if (err != noErr)
        return err;
    SInt16 refNum = 0;
    err = FSpOpenDF(&spec, fsRdPerm, &refNum);
    if (err != noErr)
        return err;
    m_refNum = refNum;
    m_bufferStart = 0;
    m_held = 0;
    setg(m_buffer, m_buffer, m_buffer);
    return noErr;
}

void ForkStreamBuf::close()
{
    if (m_refNum != 0) {
        FSClose(m_refNum);
        m_refNum = 0;
    }
    m_image.reset();
    m_path.clear();
    m_held = 0;
    setg(m_buffer, m_buffer, m_buffer);
}

SInt64 ForkStreamBuf::length() const
{
    if (m_image)
        return m_image->length();
    SInt64 size = 0;
    return FSGetForkSize(m_refNum, &size) == noErr ? size : -1;
}

ForkStreamBuf::int_type ForkStreamBuf::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    const SInt64 position = m_bufferStart + (egptr() - eback());
    if (m_image) {
        if (position >= m_image->length()) {
            m_bufferStart = position;
            setg(m_buffer, m_buffer, m_buffer);
            return traits_type::eof();
        }
        m_held = 0;
        const SInt64 got = m_image->Read(position, SInt64(kBufferBytes), m_buffer);
        if (got > 0) {
            m_bufferStart = position;
            m_heldStart = position;
            m_held = got;
            setg(m_buffer, m_buffer, m_buffer + got);
            return traits_type::to_int_type(*gptr());
        }
        // A byte the writer did not keep: from here on the file itself.
        const std::string path = m_path;
        m_image.reset();
        m_path.clear();
        if (openFork(path) != noErr) {
            setg(m_buffer, m_buffer, m_buffer);
            return traits_type::eof();
        }
        m_bufferStart = position;
        setg(m_buffer, m_buffer, m_buffer);
    }
    if (m_refNum == 0)
        return traits_type::eof();
    m_bufferStart = position;
    m_held = 0;
    ByteCount got = 0;
    const OSErr err = FSReadFork(m_refNum, fsFromStart, m_bufferStart, kBufferBytes, m_buffer, &got);
    if ((err != noErr && err != eofErr) || got == 0) {
        setg(m_buffer, m_buffer, m_buffer);
        return traits_type::eof();
    }
    m_heldStart = position;
    m_held = SInt64(got);
    setg(m_buffer, m_buffer, m_buffer + got);
    return traits_type::to_int_type(*gptr());
}

ForkStreamBuf::pos_type ForkStreamBuf::seekoff(
    off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode which)
{
    if ((m_refNum == 0 && !m_image) || !(which & std::ios_base::in))
        return pos_type(off_type(-1));
    SInt64 base = 0;
    if (dir == std::ios_base::cur) {
        base = m_bufferStart + (gptr() - eback());
    } else if (dir == std::ios_base::end) {
        base = length();
        if (base < 0)
            return pos_type(off_type(-1));
    }
    const SInt64 target = base + SInt64(offset);
    if (target < 0)
        return pos_type(off_type(-1));
    // The bytes at hand are those of the last read (the get area is never
    // more than they are).
    if (m_held > 0 && target >= m_heldStart && target < m_heldStart + m_held) {
        m_bufferStart = m_heldStart;
        setg(m_buffer, m_buffer + (target - m_heldStart), m_buffer + m_held);
    } else {
        m_bufferStart = target;
        setg(m_buffer, m_buffer, m_buffer);
    }
    return pos_type(off_type(target));
}

ForkStreamBuf::pos_type ForkStreamBuf::seekpos(pos_type position, std::ios_base::openmode which)
{
    return seekoff(off_type(position), std::ios_base::beg, which);
}

ForkInputStream::ForkInputStream()
    : std::istream(&m_buf)
{
    setstate(std::ios_base::badbit);
}

ForkInputStream::ForkInputStream(const std::string& path)
    : ForkInputStream()
{
    open(path);
}

OSErr ForkInputStream::open(const std::string& path)
{
    m_openError = m_buf.open(path);
    if (m_openError == noErr)
        clear();
    else
        setstate(std::ios_base::badbit);
    return m_openError;
}
