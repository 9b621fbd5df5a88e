#include "ZuTempFile.h"

#include "FileOperations.h"
#include "TemporaryFiles.h"
#include "debug_trace.h"
#include "error_code_exception.h"
#include "throw_helpers.h"

std::shared_ptr<ZuTempFile> ZuTempFile::create(const QString& extension)
{
    std::string suffix = extension.toStdString();
    if (!suffix.empty() && suffix[0] != '.')
        suffix.insert(suffix.begin(), '.');

    std::shared_ptr<ZuTempFile> file(new ZuTempFile);
    try {
        std::string path;
        int fd = -1;
        THROW_IF_ERROR(CreateTemporaryFile(TemporaryFolderPath(), kNamePrefix, suffix, &path, &fd),
                       "creating a temporary file");
        file->fd_ = fd;
        file->pathUtf8_ = path;
        file->path_ = QString::fromStdString(path);
        QM_TRACE("ZuTempFile::create", "created " << path << ", opened with file descriptor " << fd);
    } catch (const error_code_exception&) {
        QM_TRACE("ZuTempFile::create", "temp file creation failed");
        return nullptr;
    }
    return file;
}

ZuTempFile::~ZuTempFile()
{
    if (fd_ < 0)
        return;
    try {
        const int fd = fd_;
        fd_ = -1;
        // Deleted even when closing failed: the name must not outlive us.
        const OSErr closeErr = CloseTemporaryFile(fd);
        THROW_IF_ERROR(DeletePath(pathUtf8_), "deleting a temporary file");
        THROW_IF_ERROR(closeErr, "closing a temporary file");
        QM_TRACE("ZuTempFile::~ZuTempFile", "closed and deleted " << pathUtf8_);
    } catch (const error_code_exception& e) {
        QM_TRACE("ZuTempFile::~ZuTempFile", e.what());
    }
}

bool ZuTempFile::getFSRef(FSRef* ref) const
{
    if (!ref)
        return false;
    try {
        THROW_IF_ERROR(FSPathMakeRef(pathUtf8_, ref));
    } catch (const error_code_exception&) {
        return false;
    }
    return true;
}

bool ZuTempFile::getFSSpec(FSSpec* spec) const
{
    FSRef ref;
    if (!spec || !getFSRef(&ref))
        return false;
    return FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, spec, nullptr) == noErr;
}
