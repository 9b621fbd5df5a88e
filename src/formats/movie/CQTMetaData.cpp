#include "CQTMetaData.h"

#include "ByteOrder.h"
#include "CSoundFile.h"
#include "GenreList.h"
#include "MovieSource.h"
#include "ZudbTable.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace {

const ZudbTable& MetadataKeys()
{
    static std::once_flag once;
    static ZudbTable table;
    std::call_once(once, [] {
        try {
            table = ZudbTable(CSoundFile::GetResourcePathString("metadata_keys.zudb"));
        } catch (...) {
            table = ZudbTable();
        }
    });
    return table;
}

bool SameLetters(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The key's unified name: the table's row with the same key, or else with
// the same key in another case (Vorbis comments are mostly upper case,
// TITLE as often as title); the key itself when no row has it.
std::string UnifiedName(const std::string& key)
{
    const std::vector<ZudbTable::Row>& rows = MetadataKeys().rows();
    const auto byKey = [&](auto same) {
        return std::find_if(rows.begin(), rows.end(), [&](const ZudbTable::Row& row) {
            const auto it = row.find("key");
            return it != row.end() && same(it->second, key);
        });
    };
    auto row = byKey([](const std::string& a, const std::string& b) { return a == b; });
    if (row == rows.end())
        row = byKey(SameLetters);
    if (row == rows.end())
        return key;
    const auto name = row->find("unified_key");
    return name != row->end() ? name->second : std::string();
}

// A genre given by number: "18" or "(18)".
bool GenreNumber(const std::string& text, long* number)
{
    std::string digits = text;
    if (digits.size() > 2 && digits.front() == '(' && digits.back() == ')')
        digits = digits.substr(1, digits.size() - 2);
    if (digits.empty() || digits.size() > 4)
        return false;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    *number = std::stol(digits);
    return true;
}

} // namespace

CQTMetaData::CQTMetaData(const std::string& path)
{
    CollectItems(path);
}

void CQTMetaData::CollectItems(const std::string& path)
{
    std::vector<MovieMetadataItem> items;
    if (MovieSource::ReadMetadata(path, &items) != noErr)
        return;
    for (MovieMetadataItem& item : items)
        m_items.emplace_back(item.key, item.dataType, std::move(item.value));
}

std::map<std::string, std::string> CQTMetaData::GetInfoMap() const
{
    std::map<std::string, std::string> map;
    for (const CQTMetaDataItem& item : m_items) {
        if (item.GetValueSize() == 0)
            continue;
        const std::string name = UnifiedName(item.GetKey());
        if (name == "meta" || name == "pgap" || name == "hnti" || name == "iTunes" || name == "artwork" ||
            item.GetKey() == "covr" || item.GetKey() == "artw")
            continue;
        const std::vector<UInt8>& v = item.GetValue();
        std::string value;
        if (item.GetDataType() == 0) {
            if (name == "genre") {
                if (v.size() >= 2)
                    value = GenreList::NameForNumber(long(ReadBE16(v.data())));
            } else if (name == "track number" || name == "disc") {
                // Sizes are checked before the numbers are read.
                if (v.size() >= 6)
                    value = std::to_string(ReadBE32(v.data())) + "/" + std::to_string(ReadBE16(v.data() + 4));
            }
        } else if (name == "compilation") {
            value = v[0] != 0 && v[0] != '0' ? "yes" : "no";
        } else {
            value = item.GetValueString();
            long number = 0;
            if (name == "genre" && GenreNumber(value, &number))
                value = GenreList::NameForNumber(number);
        }
        auto it = map.find(name);
        if (it != map.end() && it->second != value) {
            const std::string& stored = it->second;
            if (stored.size() > value.size() && stored.find(value) != std::string::npos)
                value = stored;
            else if (value.size() > stored.size() && value.find(stored) != std::string::npos)
                ; // the new, longer value
            else
                value = stored + "\n" + value;
        }
        map[name] = value;
    }
    return map;
}

bool CQTMetaData::FindArtwork(const void** data, UInt32* size) const
{
    if (!data || !size)
        return false;
    for (const CQTMetaDataItem& item : m_items) {
        if (item.GetKey() == "covr" || item.GetKey() == "artw") {
            *data = item.GetValue().data();
            *size = item.GetValueSize();
            return true;
        }
    }
    return false;
}

void CQTMetaData::AddToInfo(const std::string& path, QVariantMap* info)
{
    if (!info)
        return;
    try {
        CQTMetaData metadata(path);
        for (const auto& [key, value] : metadata.GetInfoMap())
            info->insert(QString::fromStdString(key), QString::fromStdString(value));
        const void* data = nullptr;
        UInt32 size = 0;
        if (metadata.FindArtwork(&data, &size))
            info->insert(QStringLiteral("artwork"), QByteArray(static_cast<const char*>(data), qsizetype(size)));
    } catch (...) {
        // The file simply has no movie metadata.
    }
}
