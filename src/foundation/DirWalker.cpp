#include "DirWalker.h"

#include "FileOperations.h"

namespace {

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string parentPath(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return path;
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace

DirWalker::DirWalker(const QString& root)
{
    setPath(root);
}

void DirWalker::setPath(const QString& folder)
{
    basePath_ = folder.toStdString();
    while (basePath_.size() > 1 && basePath_.back() == '/')
        basePath_.pop_back();
    curDir_ = basePath_;
    stack_.clear();
    openIds_.clear();

    FolderId root;
    PathStatus status;
    if (StatPath(basePath_, &status) == 0) {
        root.device = status.device;
        root.inode = status.inode;
        root.known = true;
    }
    openIds_.push_back(root);
    load(curDir_);
    index_ = -1;
}

void DirWalker::load(const std::string& folder)
{
    // A folder that cannot be listed (gone, no permission) has no entries.
    contents_.clear();
    if (ListFolderNames(folder, &contents_) != noErr)
        contents_.clear();
}

bool DirWalker::isOpenFolder(const FolderId& id) const
{
    for (const FolderId& open : openIds_) {
        if (open.known && open.device == id.device && open.inode == id.inode)
            return true;
    }
    return false;
}

QString DirWalker::curFileForward()
{
    return step(+1);
}

QString DirWalker::curFileReverse()
{
    return step(-1);
}

QString DirWalker::step(int direction)
{
    for (;;) {
        index_ += direction;
        const long count = static_cast<long>(contents_.size());

        if (index_ >= 0 && index_ < count) {
            const std::string path = joinPath(curDir_, contents_[static_cast<size_t>(index_)]);
            PathStatus status;
            if (StatPath(path, &status) != 0 || !status.isFolder)
                return QString::fromStdString(path);   // a file, or an entry gone since the listing
            const FolderId id{status.device, status.inode, true};
            if (isOpenFolder(id))
                continue;                               // a link back into the walk
            stack_.push_back(index_);
            openIds_.push_back(id);
            curDir_ = path;
            load(curDir_);
            index_ = direction > 0 ? -1 : static_cast<long>(contents_.size());
            continue;
        }

        if (stack_.empty()) {
            // Done: stay just past the end (or before the start).
            index_ = direction > 0 ? count : -1;
            return QString();
        }
        index_ = stack_.back();
        stack_.pop_back();
        openIds_.pop_back();
        curDir_ = parentPath(curDir_);
        load(curDir_);
    }
}
