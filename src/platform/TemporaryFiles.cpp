#include "TemporaryFiles.h"

#include "FileOperations.h"
#include "TemporaryLedger.h"
#include "MacErrorMapping.h"
#include "MadeFiles.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kWordLength = sizeof kTemporaryNameWord - 1;
constexpr std::size_t kTagLength = 7;  // "-" and six letters or digits

} // namespace

bool BeginsWithTemporaryTag(const std::string& name)
{
    if (name.size() < kWordLength + kTagLength || name.compare(0, kWordLength, kTemporaryNameWord) != 0 ||
        name[kWordLength] != '-')
        return false;
    for (std::size_t i = kWordLength + 1; i < kWordLength + kTagLength; ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

bool IsOwnTemporaryName(const std::string& name)
{
    return BeginsWithTemporaryTag(name) && TemporaryLedger::WasDrawn(name);
}

bool IsTemporaryItemName(const std::string& name)
{
    if (!BeginsWithTemporaryTag(name))
        return false;
    if (name.size() == kWordLength + kTagLength)
        return true;
    const char next = name[kWordLength + kTagLength];
    return next == '.' || next == '-' || next == '(';
}

std::string RandomLetters(int count)
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string text;
    for (int i = 0; i < count; ++i)
        text += kLetters[random() % (sizeof kLetters - 1)];
    return text;
}

std::string NewTemporaryItemName(const std::string& suffix)
{
    std::string name = std::string(kTemporaryNameWord) + "-" + RandomLetters(6) + suffix;
    TemporaryLedger::NameDrawn(name);
    return name;
}

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
    // Held by its descriptor, as every file this process makes (MadeFiles.h).
    struct stat st;
    if (::fstat(fd, &st) != 0 || !MadeFiles::Add(buffer.data(), fd, st)) {
        const OSErr err = MacErrorFromLastErrno();
        ::unlink(buffer.data());
        ::close(fd);
        return err;
    }
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
