// One file-system location as a POSIX path, with its other forms: FSRef,
// FSSpec, an alias record that finds the item again after it was moved or
// renamed, a standard folder, the dictionary kept in the user defaults and
// an archived form.
//
// An alias record holds the item's real path (symbolic links resolved), its
// device and inode, whether it is a folder, and its birth time when the file
// system reports one.  Resolving one gives the item at the stored path when
// it is still the same item, else the same item found near its former place
// (in the former folder or below one of its three nearest ancestors), else
// whatever exists at the stored path; else nothing.
//
// Inode numbers are handed out again after an item is deleted, so an entry
// with the stored device and inode is taken for the item only when its birth
// time matches too.  Where either birth time is unknown (records written in
// the older form, which is the FSRef's stored form, or file systems without
// one) the kind must match and the entry must be in the former folder or
// carry the former name.
#pragma once

#include "FileManager.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <optional>

class ZuPath {
public:
    // Dictionary keys.
    static constexpr const char* kStringValueKey = "ZuStringValue";
    static constexpr const char* kAliasDataKey = "ZuAliasData";
    // Archive key.
    static constexpr const char* kArchivePathKey = "path";

    // The path an alias record leads to; a null string for empty or
    // malformed data and for an item that cannot be found.
    static QString stringWithAliasData(const QByteArray& data);

    // The path of an FSRef; a null string for null or when the item cannot
    // be found (logged).
    static QString pathFromFSRef(const FSRef* ref);

    // An empty path.
    ZuPath() = default;
    explicit ZuPath(const QString& path) : stringValue_(path) {}
    // The resolved alias under "ZuAliasData" when it resolves; else the
    // string under "ZuStringValue"; else an empty path.
    explicit ZuPath(const QVariantMap& dictionary);

    // The standard folder of a domain and type (not created); nothing on
    // any error.
    static std::optional<ZuPath> fromFindFolder(SInt16 domain, OSType folderType);
    // The path of an FSRef; nothing for null or an item that is gone.
    static std::optional<ZuPath> fromFSRef(const FSRef* ref);

    // Archived form: the map {"path": string}, and the same map as a binary
    // property list.  Decoding gives nothing for anything malformed.
    void encodeWithCoder(QVariantMap* coder) const;
    static std::optional<ZuPath> initWithCoder(const QVariantMap& coder);
    QByteArray archivedData() const;
    static std::optional<ZuPath> fromArchivedData(const QByteArray& data);

    const QString& stringValue() const { return stringValue_; }
    void setStringValue(const QString& path) { stringValue_ = path; }

    // An item (file or folder) exists at the path.
    bool exists() const;
    // FSRef of the existing item; false when there is none.
    bool toFSRef(FSRef* ref) const;
    // FSSpec of the item, which may not exist yet as long as its folder does
    // (nothing is created); false otherwise.
    bool toFSSpec(FSSpec* spec) const;
    // The alias record of the existing item; a null array when there is none.
    QByteArray dataWithAlias() const;
    // {"ZuStringValue": path, "ZuAliasData": alias (only when the item exists)}.
    QVariantMap dictionary() const;
    QString description() const;

    bool operator==(const ZuPath& other) const { return stringValue_ == other.stringValue_; }

private:
    bool toFSSpecOfNewItem(FSSpec* spec) const;

    QString stringValue_ = QStringLiteral("");
};
