#include "CQTMetaDataItem.h"

#include "MacRoman.h"

#include <QString>
#include <QStringDecoder>

#include <cstdio>
#include <cstring>
#include <sstream>

CQTMetaDataItem::CQTMetaDataItem(std::string key, UInt32 dataType, std::vector<UInt8> value)
    : m_key(std::move(key)), m_dataType(dataType), m_value(std::move(value))
{
}

std::string CQTMetaDataItem::HexDump(const std::vector<UInt8>& bytes)
{
    std::string out;
    char buffer[32];
    for (std::size_t line = 0; line < bytes.size(); line += 16) {
        std::snprintf(buffer, sizeof buffer, "%08zx", line);
        out += buffer;
        out += "  ";
        for (std::size_t i = 0; i < 16; ++i) {
            if (i == 8)
                out += ' ';
            if (line + i < bytes.size()) {
                std::snprintf(buffer, sizeof buffer, "%02x ", unsigned(bytes[line + i]));
                out += buffer;
            } else {
                out += "   ";
            }
        }
        out += '|';
        for (std::size_t i = 0; i < 16; ++i) {
            if (line + i < bytes.size()) {
                const UInt8 c = bytes[line + i];
                out += c >= 0x20 && c <= 0x7F ? char(c) : '.';
            } else {
                out += ' ';
            }
        }
        out += "|\n";
    }
    std::snprintf(buffer, sizeof buffer, "%08zx", bytes.size());
    out += buffer;
    return out;
}

namespace {

std::string Decode(QStringDecoder::Encoding encoding, const std::vector<UInt8>& bytes)
{
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    const QString text = decoder(QByteArrayView(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
    if (decoder.hasError())
        return std::string();
    return text.toStdString();
}

} // namespace

std::string CQTMetaDataItem::GetValueString() const
{
    const std::size_t n = m_value.size();
    const UInt8* p = m_value.data();
    auto bigEndian = [&]() {
        UInt64 v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v = (v << 8) | p[i];
        return v;
    };
    switch (m_dataType) {
    case 0: case 12: case 13: case 14: case 27:
        return HexDump(m_value);
    case 1:
        return Decode(QStringDecoder::Utf8, m_value);
    case 2:
        return Decode(QStringDecoder::Utf16BE, m_value);
    case 3:
        return MacRoman::toUnicode(reinterpret_cast<const char*>(p), n).toStdString();
    case 21: {
        if (n != 1 && n != 2 && n != 4 && n != 8)
            return std::string();
        const UInt64 v = bigEndian();
        const int shift = int(64 - 8 * n);
        const SInt64 s = SInt64(v << shift) >> shift;
        return std::to_string(s);
    }
    case 22:
        if (n != 1 && n != 2 && n != 4 && n != 8)
            return std::string();
        return std::to_string(bigEndian());
    case 23: {
        if (n != 4)
            return std::string();
        const UInt32 bits = UInt32(bigEndian());
        float f;
        std::memcpy(&f, &bits, 4);
        std::ostringstream s;
        s << double(f);
        return s.str();
    }
    case 24: {
        if (n != 8)
            return std::string();
        const UInt64 bits = bigEndian();
        double d;
        std::memcpy(&d, &bits, 8);
        std::ostringstream s;
        s << d;
        return s.str();
    }
    default:
        return std::string();
    }
}
