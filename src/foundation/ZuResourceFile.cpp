#include "ZuResourceFile.h"

#include "FileOperations.h"
#include "MacErrorMapping.h"
#include "MacRoman.h"
#include "ResourceManager.h"
#include "debug_trace.h"
#include "error_code_exception.h"
#include "throw_helpers.h"

#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

// The name of the resource fork, fetched once for the process.
HFSUniStr255 gResourceForkName;
std::once_flag gForkNameOnce;
OSErr gForkNameErr = noErr;

void FetchResourceForkName()
{
    std::call_once(gForkNameOnce, [] { gForkNameErr = FSGetResourceForkName(&gResourceForkName); });
    THROW_IF_ERROR(gForkNameErr, "FSGetResourceForkName");
}

// Held by GetResource and PutResource for their whole duration.
std::mutex gResourceFileMutex;

// Restores the saved current resource file when it goes out of scope.
class CurResFileGuard {
public:
    CurResFileGuard() { SaveCurResFile(&saved_); }
    ~CurResFileGuard() { RestoreResFile(&saved_); }
    CurResFileGuard(const CurResFileGuard&) = delete;
    CurResFileGuard& operator=(const CurResFileGuard&) = delete;

private:
    SInt16 saved_ = 0;
};

void ThrowIfResError(const char* file, unsigned line, const char* what)
{
    const OSErr err = ResError();
    if (err != noErr)
        throw_if_error(err, file, line, what);
}

#define THROW_IF_RES_ERROR(what) ThrowIfResError(__FILE__, __LINE__, (what))

} // namespace

ZuResourceFile::ZuResourceFile(const FSRef& ref, bool resourceFork)
    : ref_(ref)
    , haveRef_(true)
    , resourceFork_(resourceFork)
{
    FetchResourceForkName();
    THROW_IF_ERROR(FSRefMakePath(&ref_, &path_), "FSRefMakePath");
}

ZuResourceFile::ZuResourceFile(const std::string& path, bool resourceFork)
    : path_(path)
    , resourceFork_(resourceFork)
{
    FetchResourceForkName();
    if (path_.empty())
        THROW_IF_ERROR(paramErr, "empty path");
    // A missing file is fine here (it is made when first written); any
    // other failure to look at the path is not.
    const int e = StatPath(path_, nullptr);
    if (e == 0)
        MakeRef(false);
    else if (e != ENOENT)
        THROW_IF_ERROR(MacErrorFromErrno(e), path_.c_str());
}

ZuResourceFile::ZuResourceFile(const QString& path, bool resourceFork)
    : ZuResourceFile(path.toStdString(), resourceFork)
{
}

ZuResourceFile::~ZuResourceFile()
{
    CloseQuietly();
}

void ZuResourceFile::MakeRef(bool create)
{
    if (haveRef_)
        return;
    if (create && !PathExists(path_)) {
        const OSErr err = CreateFileExclusive(path_);
        if (err == noErr)
            QM_TRACE("ZuResourceFile", "created: " << path_);
        else if (err != dupFNErr)  // made by someone else meanwhile: use it
            THROW_IF_ERROR(err, path_.c_str());
    }
    THROW_IF_ERROR(FSPathMakeRef(path_, &ref_), path_.c_str());
    haveRef_ = true;
}

UniCharCount ZuResourceFile::ForkNameLength() const
{
    return resourceFork_ ? gResourceForkName.length : 0;
}

const UniChar* ZuResourceFile::ForkName() const
{
    return resourceFork_ ? gResourceForkName.unicode : nullptr;
}

void ZuResourceFile::Open(SInt8 permission)
{
    if (open_)
        return;
    const bool readOnly = permission == fsRdPerm;
    MakeRef(!readOnly);
    OSErr err = FSOpenResourceFile(&ref_, ForkNameLength(), ForkName(), permission, &refNum_);
    if ((err == errFSForkNotFound || err == eofErr) && !readOnly) {
        THROW_IF_ERROR(InitResourceFork(&ref_, ForkNameLength(), ForkName()), "InitResourceFork");
        err = FSOpenResourceFile(&ref_, ForkNameLength(), ForkName(), permission, &refNum_);
    }
    if (err != noErr) {
        refNum_ = 0;
        THROW_IF_ERROR(err, "FSOpenResourceFile");
    }
    open_ = true;
}

void ZuResourceFile::Close()
{
    if (!open_)
        return;
    const SInt16 refNum = refNum_;
    refNum_ = 0;
    open_ = false;
    CloseResFile(refNum);
    THROW_IF_RES_ERROR("CloseResFile");
}

void ZuResourceFile::CloseQuietly() noexcept
{
    if (!open_)
        return;
    CloseResFile(refNum_);
    refNum_ = 0;
    open_ = false;
}

void ZuResourceFile::CreateFork(OSType fileType, OSType creator)
{
    MakeRef(true);
    THROW_IF_ERROR(InitResourceFork(&ref_, ForkNameLength(), ForkName()), "InitResourceFork");
    FSCatalogInfo info;
    info.finderInfo.fileType = fileType;
    info.finderInfo.fileCreator = creator;
    info.finderInfo.finderFlags = 0;
    info.finderInfo.location = {0, 0};
    info.finderInfo.reservedField = 0;
    THROW_IF_ERROR(FSSetCatalogInfo(&ref_, kFSCatInfoFinderInfo, &info), "FSSetCatalogInfo");
}

Handle ZuResourceFile::OpenAndFind(SInt8 permission, ResType type, SInt16 id)
{
    Open(permission);
    UseResFile(refNum_);
    THROW_IF_RES_ERROR("UseResFile");
    Handle h = Get1Resource(type, id);
    THROW_IF_RES_ERROR("Get1Resource");
    return h;
}

Handle ZuResourceFile::GetResource(ResType type, SInt16 id)
{
    std::lock_guard<std::mutex> lock(gResourceFileMutex);
    CurResFileGuard restore;
    Handle h = nullptr;
    try {
        h = OpenAndFind(fsRdPerm, type, id);
        if (h) {
            DetachResource(h);
            if (ResError() != noErr) {
                h = nullptr;  // still the file's: closing disposes of it
                THROW_IF_RES_ERROR("DetachResource");
            }
        }
        Close();
    } catch (...) {
        CloseQuietly();
        DisposeHandle(h);
        throw;
    }
    return h;
}

QString ZuResourceFile::GetStringResource(SInt16 id)
{
    Handle h = GetResource(FOUR_CHAR_CODE("STR "), id);
    if (!h)
        return QString();
    const Size size = GetHandleSize(h);
    QString text;
    if (size > 0)
        text = MacRoman::fromPascal(reinterpret_cast<const unsigned char*>(*h), size_t(size));
    DisposeHandle(h);
    return text;
}

void ZuResourceFile::PutResource(ResType type, SInt16 id, Handle data, ConstStr255Param name)
{
    const Size newSize = GetHandleSize(data);
    THROW_IF_ERROR(MemError(), "GetHandleSize");
    static const unsigned char kNoName[1] = {0};
    if (!name)
        name = kNoName;

    std::lock_guard<std::mutex> lock(gResourceFileMutex);
    CurResFileGuard restore;
    Handle added = nullptr;
    try {
        Handle resource = OpenAndFind(fsRdWrPerm, type, id);
        if (!resource) {
            // The file gets a copy: the caller's handle stays the caller's.
            THROW_IF_ERROR(PtrToHand(*data, &added, newSize), "PtrToHand");
            AddResource(added, type, id, name);
            THROW_IF_RES_ERROR("AddResource");
            resource = added;
            added = nullptr;  // the file's now
        } else {
            // The resource takes the new data's size exactly: a shorter
            // rewrite leaves no tail of the older data behind.
            SetHandleSize(resource, newSize);
            THROW_IF_ERROR(MemError(), "SetHandleSize");
            if (newSize > 0)
                std::memcpy(*resource, *data, size_t(newSize));
            if (GetResAttrs(resource) & resProtected) {
                SetResAttrs(resource, 0);
                THROW_IF_RES_ERROR("SetResAttrs");
            }
            ChangedResource(resource);
            THROW_IF_RES_ERROR("ChangedResource");
            ResID oldID = 0;
            ResType oldType = 0;
            Str255 oldName;
            GetResInfo(resource, &oldID, &oldType, oldName);
            THROW_IF_RES_ERROR("GetResInfo");
            if (oldName[0] != name[0] || std::memcmp(oldName + 1, name + 1, name[0]) != 0) {
                SetResInfo(resource, oldID, name);
                THROW_IF_RES_ERROR("SetResInfo");
            }
        }
        WriteResource(resource);
        THROW_IF_RES_ERROR("WriteResource");
        Close();
    } catch (...) {
        DisposeHandle(added);
        CloseQuietly();
        throw;
    }
}

void ZuResourceFile::PutResource(ResType type, SInt16 id, Handle data, const QString& name)
{
    Str255 pascal;
    MacRoman::toPascal(name, pascal, 255);
    PutResource(type, id, data, pascal);
}

void ZuResourceFile::PutStringResource(const QString& text, SInt16 id, const QString& name)
{
    Handle h = NewHandleClear(256);
    THROW_IF_NULL(h, "NewHandle");
    MacRoman::toPascal(text, reinterpret_cast<unsigned char*>(*h), 255);
    try {
        PutResource(FOUR_CHAR_CODE("STR "), id, h, name);
    } catch (...) {
        DisposeHandle(h);
        throw;
    }
    DisposeHandle(h);
}

void SaveCurResFile(SInt16* out)
{
    *out = CurResFile();
}

void SaveAndUseResFile(SInt16* out, SInt16 refNum)
{
    *out = CurResFile();
    UseResFile(refNum);
}

void RestoreResFile(const SInt16* saved)
{
    UseResFile(*saved);
}
