// One metadata item of a movie: its key (four-character codes as their four
// characters), well-known data type and value bytes, with the value as text.
#pragma once

#include "MacTypes.h"

#include <string>
#include <vector>

class CQTMetaDataItem {
public:
    CQTMetaDataItem(std::string key, UInt32 dataType, std::vector<UInt8> value);

    const std::string& GetKey() const { return m_key; }
    UInt32 GetDataType() const { return m_dataType; }
    const std::vector<UInt8>& GetValue() const { return m_value; }
    UInt32 GetValueSize() const { return UInt32(m_value.size()); }

    // The value as text by its data type: a hex dump of binary and image
    // data, UTF-8 and UTF-16BE text (empty when it does not decode), Mac OS
    // Roman text, big-endian integers of 1, 2, 4 or 8 bytes, floats; empty
    // for anything else.
    std::string GetValueString() const;

    // Lines of 16 bytes: offset, hex columns, printable characters; then the
    // total count.
    static std::string HexDump(const std::vector<UInt8>& bytes);

private:
    std::string m_key;
    UInt32 m_dataType;
    std::vector<UInt8> m_value;
};
