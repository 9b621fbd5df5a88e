// Mac OS Roman text: the encoding of Pascal strings stored inside files
// (region, marker and resource names) and of the engine's step messages.
// Unicode text is normalised to NFC before it is encoded; a character that
// Mac OS Roman cannot hold becomes "?".
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

class MacRoman {
public:
    // Unicode -> Mac OS Roman bytes.  *lossless (when given) is false when a
    // character had to be replaced by "?".
    static QByteArray fromUnicode(const QString& text, bool* lossless = nullptr);
    static std::string fromUtf8(std::string_view utf8, bool* lossless = nullptr);

    // Mac OS Roman bytes -> Unicode.  Every byte value has a character, so
    // this cannot fail; NUL bytes are kept.
    static QString toUnicode(const char* bytes, std::size_t length);
    static QString toUnicode(const QByteArray& bytes);
    static std::string toUtf8(const char* bytes, std::size_t length);

    // Pascal strings: a length byte followed by that many Mac OS Roman bytes.
    //
    // Writes `text` into `out`, which holds maxLength + 1 bytes (a Str255 is
    // 256 bytes: maxLength 255; Str63: 63; Str31: 31).  Text that does not fit
    // is cut to maxLength bytes and the result is false; true when it fit.
    // maxLength is clamped to 0..255.
    static bool toPascal(const QString& text, unsigned char* out, int maxLength = 255,
                         bool* lossless = nullptr);
    // Reads a Pascal string.  The second form never reads past `bufferSize`
    // bytes: a length byte larger than the buffer allows is clamped.
    static QString fromPascal(const unsigned char* pascal);
    static QString fromPascal(const unsigned char* pascal, std::size_t bufferSize);
    // The Pascal string as a byte array: length byte and the bytes.
    static QByteArray pascalBytes(const QString& text, int maxLength = 255, bool* lossless = nullptr);
};
