#include "ForkInputStream.h"

#include "FileManager.h"

#include <cstring>

ForkStreamBuf::~ForkStreamBuf()
{
    close();
}

OSErr ForkStreamBuf::open(const std::string& path)
{
    close();
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
    setg(m_buffer, m_buffer, m_buffer);
    return noErr;
}

void ForkStreamBuf::close()
{
    if (m_refNum != 0) {
        FSClose(m_refNum);
        m_refNum = 0;
    }
    setg(m_buffer, m_buffer, m_buffer);
}

ForkStreamBuf::int_type ForkStreamBuf::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (m_refNum == 0)
        return traits_type::eof();
    m_bufferStart += egptr() - eback();
    ByteCount got = 0;
    const OSErr err = FSReadFork(m_refNum, fsFromStart, m_bufferStart, kBufferBytes, m_buffer, &got);
    if ((err != noErr && err != eofErr) || got == 0) {
        setg(m_buffer, m_buffer, m_buffer);
        return traits_type::eof();
    }
    setg(m_buffer, m_buffer, m_buffer + got);
    return traits_type::to_int_type(*gptr());
}

ForkStreamBuf::pos_type ForkStreamBuf::seekoff(
    off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode which)
{
    if (m_refNum == 0 || !(which & std::ios_base::in))
        return pos_type(off_type(-1));
    SInt64 base = 0;
    if (dir == std::ios_base::cur) {
        base = m_bufferStart + (gptr() - eback());
    } else if (dir == std::ios_base::end) {
        if (FSGetForkSize(m_refNum, &base) != noErr)
            return pos_type(off_type(-1));
    }
    const SInt64 target = base + SInt64(offset);
    if (target < 0)
        return pos_type(off_type(-1));
    const SInt64 held = egptr() - eback();
    if (target >= m_bufferStart && target < m_bufferStart + held) {
        setg(eback(), eback() + (target - m_bufferStart), egptr());
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
