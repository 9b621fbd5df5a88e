#include "ExtendedAttributes.h"

#include "MacErrorMapping.h"

#include <cerrno>
#include <sys/xattr.h>

namespace {

OSErr XattrError(int e)
{
    switch (e) {
    case ENOTSUP:
        return errFSOperationNotSupported;
    case ENODATA:
        return errFSAttributeNotFound;
    default:
        return MacErrorFromErrno(e);
    }
}

constexpr size_t kMaxAttributeSize = 64 * 1024;

} // namespace

OSErr GetExtendedAttribute(const std::string& path, const std::string& name, QByteArray* value)
{
    if (!value || name.empty())
        return paramErr;
    // Ask for the size, then read; retry when the value grew in between.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::getxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (size < 0)
            return XattrError(errno);
        if (size_t(size) > kMaxAttributeSize)
            return ioErr;
        QByteArray buffer(qsizetype(size), '\0');
        const ssize_t got = ::getxattr(path.c_str(), name.c_str(), buffer.data(), size_t(size));
        if (got >= 0) {
            buffer.truncate(got);
            *value = buffer;
            return noErr;
        }
        if (errno != ERANGE)
            return XattrError(errno);
    }
    return ioErr;
}

OSErr SetExtendedAttribute(const std::string& path, const std::string& name, const QByteArray& value)
{
    if (name.empty())
        return paramErr;
    if (::lsetxattr(path.c_str(), name.c_str(), value.constData(), size_t(value.size()), 0) != 0)
        return XattrError(errno);
    return noErr;
}

OSErr RemoveExtendedAttribute(const std::string& path, const std::string& name)
{
    if (name.empty())
        return paramErr;
    if (::lremovexattr(path.c_str(), name.c_str()) != 0)
        return XattrError(errno);
    return noErr;
}
