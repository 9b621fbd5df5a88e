#include "MacTypes.h"

#include <cstdio>

FourCharCode FourCharCodeFromString(const std::string& text)
{
    FourCharCode code = 0;
    for (size_t i = 0; i < 4; ++i) {
        const UInt8 byte = i < text.size() ? UInt8(text[i]) : 0;
        code = (code << 8) | byte;
    }
    return code;
}

std::string FourCharCodeToString(FourCharCode code)
{
    std::string text(4, '\0');
    for (int i = 0; i < 4; ++i)
        text[i] = char((code >> (24 - 8 * i)) & 0xFF);
    return text;
}

std::string FourCharCodeToDisplay(FourCharCode code)
{
    std::string text = "'";
    for (int i = 0; i < 4; ++i) {
        const unsigned byte = (code >> (24 - 8 * i)) & 0xFF;
        if (byte >= 0x20 && byte <= 0x7E && byte != '\\') {
            text += char(byte);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            text += hex;
        }
    }
    return text + "'";
}
