#include "PathResolution.h"

#include "MacErrorMapping.h"

#include <cerrno>
#include <cstdlib>

OSErr ResolvePath(const std::string& path, std::string* resolved)
{
    if (!resolved || path.empty())
        return paramErr;
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return MacErrorFromLastErrno();
    *resolved = real;
    std::free(real);
    return noErr;
}
