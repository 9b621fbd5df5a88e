#include "PositionedFile.h"

PositionedFile::PositionedFile(const std::string& path) : in_(path, std::ios::binary)
{
    if (in_ && in_.seekg(0, std::ios::end))
        size_ = int64_t(in_.tellg());
}

std::size_t PositionedFile::Read(int64_t at, void* into, std::size_t bytes)
{
    if (size_ < 0 || at < 0 || at >= size_)
        return 0;
    in_.clear();
    if (!in_.seekg(std::streamoff(at)))
        return 0;
    in_.read(static_cast<char*>(into), std::streamsize(bytes));
    return std::size_t(in_.gcount());
}
