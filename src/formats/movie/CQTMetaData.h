// The metadata of a file the movie layer opens, as a map from unified key
// names (the resource table "metadata_keys.zudb": columns "key" and
// "unified_key") to text, plus the cover artwork.
//
// Values: genres given as numbers ("18", "(18)" or a binary 16-bit value)
// are named from the genre list; binary track and disc numbers read as
// "n/m"; "compilation" as yes or no; other values by their data type.  Two
// values under one name merge: the longer when it contains the shorter,
// else both on separate lines.
#pragma once

#include "CQTMetaDataItem.h"

#include <QVariantMap>

#include <map>
#include <string>
#include <vector>

class CQTMetaData {
public:
    CQTMetaData() = default;
    // The items of the file at `path` (none when it cannot be opened).
    explicit CQTMetaData(const std::string& path);

    void CollectItems(const std::string& path);
    void AddItem(const CQTMetaDataItem& item) { m_items.push_back(item); }
    const std::vector<CQTMetaDataItem>& Items() const { return m_items; }

    std::map<std::string, std::string> GetInfoMap() const;
    // The first "covr" or "artw" item's bytes; false when there is none or
    // a pointer is null.  The bytes stay owned by this object.
    bool FindArtwork(const void** data, UInt32* size) const;

    // The movie half of a file's information: every pair of the map as
    // text, the artwork as bytes under "artwork".
    static void AddToInfo(const std::string& path, QVariantMap* info);

private:
    std::vector<CQTMetaDataItem> m_items;
};
