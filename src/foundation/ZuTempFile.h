// One uniquely named plain file in the user's temporary folder, owned by a
// reference-counted object: making the object creates and opens the file,
// releasing the last reference closes and deletes it.  Callers hand the
// path to platform calls or to another sound-file object while the object
// lives.
#pragma once

#include "FileManager.h"

#include <QString>
#include <memory>
#include <string>

class ZuTempFile {
public:
    // The identifier at the start of every temporary file's name.
    static constexpr const char* kNamePrefix = "org.quillmarch.Quillmarch.";

    // Creates and opens "<temporary folder>/org.quillmarch.Quillmarch.XXXXXX"
    // + extension (a "." is put in front of an extension that lacks one; no
    // extension for an empty one), the six X made unique, exclusively, with
    // owner-only access.  Null on failure (traced).
    static std::shared_ptr<ZuTempFile> create(const QString& extension = QString());

    ~ZuTempFile();
    ZuTempFile(const ZuTempFile&) = delete;
    ZuTempFile& operator=(const ZuTempFile&) = delete;

    const QString& path() const { return path_; }
    const QString& stringValue() const { return path_; }
    // UTF-8, owned by this object.
    const char* pathAsCString() const { return pathUtf8_.c_str(); }
    std::string pathAsStdString() const { return pathUtf8_; }

    // The file's FSRef / FSSpec; false when it cannot be made.
    bool getFSRef(FSRef* ref) const;
    bool getFSSpec(FSSpec* spec) const;

    // The descriptor the file is held open with; -1 when there is none.
    int fileDescriptor() const { return fd_; }

private:
    ZuTempFile() = default;

    int fd_ = -1;
    QString path_;
    std::string pathUtf8_;
};
