// String, path and regular-expression helpers shared by the engine code.
// They keep no state; only file_size and the regular-expression wrappers
// throw (error_code_exception).
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <pcre.h>

// False only when stat fails with ENOENT; true when it succeeds and for any
// other failure (a file in a folder we may not search may well exist).
bool file_exists(const std::string& path);
// The size from stat; a failing stat throws with errno and strerror.
uint64_t file_size(const std::string& path);

// The first four bytes as an unsigned big-endian code ("FORM" -> 'FORM');
// bytes missing from a shorter text count as 0.
uint32_t fourcc_from_string(const std::string& text);
// The code's four bytes, most significant first; zero bytes stay NUL
// characters, so the result always has four characters.
std::string fourcc_to_string(uint32_t code);

// The part after the last '/' (the whole path when there is none).
std::string path_filename(const std::string& path);
// The part before the last '/' (the whole path when there is none).
std::string path_directory(const std::string& path);
// The part after the last '.' anywhere in the path; empty without a '.'.
std::string path_extension(const std::string& path);

// The pieces between occurrences of `separator`, always one more than there
// are occurrences (empty pieces kept).  An empty separator gives the whole
// text as the one piece.
std::vector<std::string> split_string(const std::string& text, const std::string& separator);
// A backslash before every character of `text` that is in `chars`.
std::string escape_chars(const std::string& text, const std::string& chars);
// `text` with every control character (U+0000-U+001F, U+007F-U+009F)
// written out as "\n", "\r", "\t" or "\xHH", so that a name holding one
// can neither start a line of its own in a log nor drive a terminal.
// A byte of a file name that is not UTF-8 (see file_name_text) is written
// as a backslash and three octal digits ("\351"), as `ls -b` shows it.
QString printable_text(const QString& text);
// The text of a file name's bytes: UTF-8, where a byte that is not part
// of a valid sequence becomes a code unit of its own (U+DC80 + the byte),
// so that two names that differ in such bytes stay apart.  Such a name
// names no file when turned back into bytes.
QString file_name_text(std::string_view bytes);
// A name (or path) with bytes that were not UTF-8: replacement characters,
// or the code units of file_name_text.
bool has_undecodable_bytes(const QString& text);
// ASCII letters lowered, as the "C" locale does; other bytes unchanged.
std::string string_to_lower(const std::string& text);

// Mac OS Roman text (up to `length` bytes or the first NUL) as UTF-8.
std::string macroman_to_utf8(const char* text, size_t length);
// The UTF-8 bytes of a string.
std::string cfstring_to_string(const QString& text);

// The path of resource "name.type" in the application's resources folder;
// empty when there is no such resource.
std::string bundle_resource_path(const QString& name, const QString& type);
std::string bundle_resource_path(const std::string& name, const std::string& type);
std::string bundle_resource_path(const char* name, const char* type);

// Compiles `pattern` (no options, PCRE's built-in tables); the caller frees
// the result with pcre_free.  A syntax error throws 'NULP' with the message
// "null pointer error, pcre compile error of pattern '<pattern>' at offset
// <n>: <PCRE's text> (file:line)".
pcre* regex_compile(const char* pattern);
// PCRE's study data for a compiled pattern (free with pcre_free_study), or
// null when PCRE has nothing to add; an error throws 'NULP'.
pcre_extra* regex_study(const pcre* compiled);
// True when `pattern` matches `subject` at or after `start_offset`; the whole
// match's byte offsets go to *match_start and *match_end (each may be null)
// only on a match.  False for a null pattern or subject, for no match and
// for a matching error (an offset outside the subject, for example).  An
// invalid pattern throws as regex_compile does.
bool regex_search(const char* pattern, const char* subject, int start_offset = 0,
                  int* match_start = nullptr, int* match_end = nullptr);
