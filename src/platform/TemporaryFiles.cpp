#include "TemporaryFiles.h"

#include "FileOperations.h"
#include "MacErrorMapping.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

OSErr CreateTemporaryFile(const std::string& folder, const std::string& prefix, const std::string& suffix,
                          std::string* path, int* descriptor)
{
    if (descriptor)
        *descriptor = -1;
    if (!path || !descriptor || folder.empty())
        return paramErr;
    if (prefix.find('/') != std::string::npos || suffix.find('/') != std::string::npos)
        return bdNamErr;
    if (prefix.size() + 6 + suffix.size() > 255)
        return bdNamErr;
    if (!IsFolder(folder))
        return dirNFErr;

    std::string templ = (folder == "/" ? std::string() : folder) + "/" + prefix + "XXXXXX" + suffix;
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    const int fd = ::mkostemps(buffer.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0)
        return MacErrorFromLastErrno();
    *path = std::string(buffer.data());
    *descriptor = fd;
    return noErr;
}

OSErr CloseTemporaryFile(int descriptor)
{
    if (descriptor < 0)
        return paramErr;
    if (::close(descriptor) != 0)
        return MacErrorFromLastErrno();
    return noErr;
}
