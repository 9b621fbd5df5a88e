#include "string_utils.h"

#include "FileOperations.h"
#include "MacRoman.h"
#include "MainBundle.h"
#include "throw_helpers.h"

#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

bool file_exists(const std::string& path)
{
    return StatPath(path, nullptr) != ENOENT;
}

uint64_t file_size(const std::string& path)
{
    PathStatus status;
    const int error = StatPath(path, &status);
    if (error != 0) {
        errno = error;
        THROW_IF_POSIX_ERROR(-1, path.c_str());
    }
    return status.size;
}

uint32_t fourcc_from_string(const std::string& text)
{
    uint32_t code = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const uint32_t byte = i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
        code = (code << 8) | byte;
    }
    return code;
}

std::string fourcc_to_string(uint32_t code)
{
    std::string text(4, '\0');
    for (int i = 0; i < 4; ++i)
        text[static_cast<std::size_t>(i)] = static_cast<char>((code >> (24 - 8 * i)) & 0xFFu);
    return text;
}

std::string path_filename(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string path_directory(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(0, slash);
}

std::string path_extension(const std::string& path)
{
    const std::size_t dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

std::vector<std::string> split_string(const std::string& text, const std::string& separator)
{
    std::vector<std::string> pieces;
    if (separator.empty()) {
        pieces.push_back(text);
        return pieces;
    }
    std::size_t start = 0;
    for (std::size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
        pieces.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

std::string escape_chars(const std::string& text, const std::string& chars)
{
    std::string out = text;
    if (chars.empty())
        return out;
    for (std::size_t at = out.find_first_of(chars); at != std::string::npos;
         at = out.find_first_of(chars, at + 2)) {
        out.insert(at, 1, '\\');
    }
    return out;
}

namespace {

constexpr char16_t kFirstByteUnit = 0xDC80;
constexpr char16_t kLastByteUnit = 0xDCFF;

} // namespace

QString file_name_text(std::string_view bytes)
{
    QString out;
    out.reserve(qsizetype(bytes.size()));
    std::size_t i = 0;
    while (i < bytes.size()) {
        // The next valid sequence, else one byte on its own.
        const auto b = static_cast<unsigned char>(bytes[i]);
        std::size_t length = b < 0x80 ? 1 : (b >= 0xC2 && b <= 0xDF) ? 2 : (b >= 0xE0 && b <= 0xEF) ? 3
                                                                      : (b >= 0xF0 && b <= 0xF4) ? 4 : 0;
        if (length > 1 && i + length <= bytes.size()) {
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString piece = utf8.decode(QByteArrayView(bytes.data() + i, qsizetype(length)));
            if (!utf8.hasError()) {
                out += piece;
                i += length;
                continue;
            }
        }
        out += length == 1 ? QChar(char16_t(b)) : QChar(char16_t(kFirstByteUnit + (b - 0x80)));
        ++i;
    }
    return out;
}

bool has_undecodable_bytes(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        return c == QChar::ReplacementCharacter || (c.unicode() >= kFirstByteUnit && c.unicode() <= kLastByteUnit);
    });
}

QString printable_text(const QString& text)
{
    auto control = [](char16_t c) {
        return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= kFirstByteUnit && c <= kLastByteUnit);
    };
    if (std::none_of(text.cbegin(), text.cend(), [&](QChar c) { return control(c.unicode()); }))
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!control(u))
            out += c;
        else if (u == u'\n')
            out += QLatin1String("\\n");
        else if (u == u'\r')
            out += QLatin1String("\\r");
        else if (u == u'\t')
            out += QLatin1String("\\t");
        else if (u >= kFirstByteUnit)
            out += QString::asprintf("\\%03o", unsigned(u - kFirstByteUnit + 0x80));
        else
            out += QString::asprintf("\\x%02x", unsigned(u));
    }
    return out;
}

std::string string_to_lower(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string macroman_to_utf8(const char* text, size_t length)
{
    if (!text)
        return std::string();
    // The text ends at its first NUL, as a C string would.
    const void* nul = std::memchr(text, '\0', length);
    const size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length;
    return MacRoman::toUtf8(text, n);
}

std::string cfstring_to_string(const QString& text)
{
    return text.toStdString();
}

std::string bundle_resource_path(const QString& name, const QString& type)
{
    return MainBundle::pathForResource(name, type).toStdString();
}

std::string bundle_resource_path(const std::string& name, const std::string& type)
{
    return bundle_resource_path(QString::fromStdString(name), QString::fromStdString(type));
}

std::string bundle_resource_path(const char* name, const char* type)
{
    if (!name || !type)
        return std::string();
    return bundle_resource_path(QString::fromUtf8(name), QString::fromUtf8(type));
}

pcre* regex_compile(const char* pattern)
{
    const char* error = nullptr;
    int offset = 0;
    pcre* compiled = pcre_compile(pattern ? pattern : "", 0, &error, &offset, nullptr);
    if (!compiled) {
        const std::string text = std::string("pcre compile error of pattern '") + (pattern ? pattern : "") +
                                 "' at offset " + std::to_string(offset) + ": " + (error ? error : "");
        THROW_IF_NULL(nullptr, text.c_str());
    }
    return compiled;
}

pcre_extra* regex_study(const pcre* compiled)
{
    const char* error = nullptr;
    pcre_extra* extra = pcre_study(compiled, 0, &error);
    if (!extra && error) {
        const std::string text = std::string("pcre pattern study error: ") + error;
        THROW_IF_NULL(nullptr, text.c_str());
    }
    return extra;
}

bool regex_search(const char* pattern, const char* subject, int start_offset, int* match_start, int* match_end)
{
    if (!pattern || !subject)
        return false;
    std::unique_ptr<pcre, void (*)(void*)> compiled(regex_compile(pattern), pcre_free);
    const std::size_t length = std::strlen(subject);
    if (length > static_cast<std::size_t>(INT32_MAX))
        return false;
    int ovector[30];
    const int rc = pcre_exec(compiled.get(), nullptr, subject, static_cast<int>(length), start_offset, 0,
                             ovector, 30);
    if (rc < 0)
        return false;
    if (match_start)
        *match_start = ovector[0];
    if (match_end)
        *match_end = ovector[1];
    return true;
}
