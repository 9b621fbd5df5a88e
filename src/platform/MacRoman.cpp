#include "MacRoman.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace {

// One conversion descriptor per thread and direction: an iconv_t keeps shift
// state and must not be shared between threads.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }
    void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t cd_;
};

Converter& toRoman()
{
    thread_local Converter c("MACINTOSH", "UTF-8");
    return c;
}

Converter& fromRoman()
{
    thread_local Converter c("UTF-8", "MACINTOSH");
    return c;
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t utf8SequenceLength(unsigned char lead)
{
    if (lead < 0xC0)
        return 1;
    if (lead < 0xE0)
        return 2;
    if (lead < 0xF0)
        return 3;
    if (lead < 0xF8)
        return 4;
    return 1;
}

// UTF-8 (already NFC) -> Mac OS Roman, one "?" per character that has no
// Mac OS Roman form.
std::string encode(std::string_view utf8, bool* lossless)
{
    if (lossless)
        *lossless = true;
    std::string out;
    out.reserve(utf8.size());
    Converter& conv = toRoman();
    if (!conv.valid()) {  // no iconv module: keep ASCII, replace the rest
        for (std::size_t i = 0; i < utf8.size();) {
            const auto c = static_cast<unsigned char>(utf8[i]);
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
                ++i;
            } else {
                out.push_back('?');
                if (lossless)
                    *lossless = false;
                i += std::min(utf8SequenceLength(c), utf8.size() - i);
            }
        }
        return out;
    }
    conv.reset();
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t r = iconv(conv.get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (r != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ (no Mac OS Roman form) or EINVAL (cut sequence): one "?"
        // for the character, then go on after it.
        out.push_back('?');
        if (lossless)
            *lossless = false;
        const std::size_t skip =
            std::min(utf8SequenceLength(static_cast<unsigned char>(*in)), inLeft);
        in += skip;
        inLeft -= skip;
        conv.reset();
    }
    return out;
}

// True when every byte is below 0x80.  Mac OS Roman and Unicode agree on
// those (ASCII), and ASCII text is already in normal form, so such text
// converts byte for byte in either direction.
bool isAscii(const char* bytes, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(bytes[i]) >= 0x80)
            return false;
    return true;
}

bool isAscii(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

}  // namespace

QByteArray MacRoman::fromUnicode(const QString& text, bool* lossless)
{
    if (!text.isEmpty() && isAscii(text)) {
        if (lossless)
            *lossless = true;
        return text.toLatin1();
    }
    const QByteArray utf8 = text.normalized(QString::NormalizationForm_C).toUtf8();
    const std::string roman = encode(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())),
                                     lossless);
    return QByteArray(roman.data(), static_cast<qsizetype>(roman.size()));
}

std::string MacRoman::fromUtf8(std::string_view utf8, bool* lossless)
{
    if (isAscii(utf8.data(), utf8.size())) {
        if (lossless)
            *lossless = true;
        return std::string(utf8);
    }
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    const QByteArray normal = text.normalized(QString::NormalizationForm_C).toUtf8();
    return encode(std::string_view(normal.constData(), static_cast<std::size_t>(normal.size())), lossless);
}

std::string MacRoman::toUtf8(const char* bytes, std::size_t length)
{
    std::string out;
    if (!bytes || length == 0)
        return out;
    if (isAscii(bytes, length))
        return std::string(bytes, length);
    out.reserve(length * 2);
    Converter& conv = fromRoman();
    if (!conv.valid()) {
        for (std::size_t i = 0; i < length; ++i) {
            const auto c = static_cast<unsigned char>(bytes[i]);
            out += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return out;
    }
    conv.reset();
    char* in = const_cast<char*>(bytes);
    std::size_t inLeft = length;
    char buffer[512];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t r = iconv(conv.get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // Every Mac OS Roman byte has a character; should a converter
            // refuse one all the same, write U+FFFD and go on.
            out += "\xEF\xBF\xBD";
            ++in;
            --inLeft;
            conv.reset();
        }
    }
    return out;
}

QString MacRoman::toUnicode(const char* bytes, std::size_t length)
{
    if (bytes && length > 0 && isAscii(bytes, length))
        return QString::fromLatin1(bytes, static_cast<qsizetype>(length));
    const std::string utf8 = toUtf8(bytes, length);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString MacRoman::toUnicode(const QByteArray& bytes)
{
    return toUnicode(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

bool MacRoman::toPascal(const QString& text, unsigned char* out, int maxLength, bool* lossless)
{
    if (!out) {
        if (lossless)
            *lossless = false;
        return false;
    }
    maxLength = std::clamp(maxLength, 0, 255);
    const QByteArray roman = fromUnicode(text, lossless);
    const auto n = static_cast<int>(std::min<qsizetype>(roman.size(), maxLength));
    out[0] = static_cast<unsigned char>(n);
    if (n > 0)
        std::memcpy(out + 1, roman.constData(), static_cast<std::size_t>(n));
    return n == roman.size();
}

QString MacRoman::fromPascal(const unsigned char* pascal)
{
    if (!pascal)
        return QString();
    return toUnicode(reinterpret_cast<const char*>(pascal + 1), pascal[0]);
}

QString MacRoman::fromPascal(const unsigned char* pascal, std::size_t bufferSize)
{
    if (!pascal || bufferSize == 0)
        return QString();
    const std::size_t n = std::min<std::size_t>(pascal[0], bufferSize - 1);
    return toUnicode(reinterpret_cast<const char*>(pascal + 1), n);
}

QByteArray MacRoman::pascalBytes(const QString& text, int maxLength, bool* lossless)
{
    unsigned char buffer[256];
    toPascal(text, buffer, maxLength, lossless);
    return QByteArray(reinterpret_cast<const char*>(buffer), buffer[0] + 1);
}
