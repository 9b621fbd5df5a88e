#include "throw_helpers.h"

#include "FrameworkException.h"
#include "error_code_exception.h"

#include <cerrno>
#include <cstring>
#include <string>

const char* path_file_name(const char* path)
{
    if (path == nullptr)
        return "";
    const char* slash = strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

namespace {

// "file:line" of a call site.
std::string location(const char* file, unsigned long line)
{
    return std::string(path_file_name(file)) + ":" + std::to_string(line);
}

[[noreturn]] void throw_posix(const char* file, unsigned line, const char* message)
{
    int error = errno;
    if (error == 0)
        error = EIO;
    std::string text = strerror(error);
    if (message != nullptr)
        text.append(", ").append(message);
    text.append(" (").append(location(file, line)).append(")");
    throw error_code_exception(error, text);
}

} // namespace

void throw_if_error(int32_t status, const char* file, unsigned line, const char* message)
{
    if (status == 0)
        return;
    std::string text;
    if (message != nullptr)
        text.append(message).append(" ");
    text.append("(").append(location(file, line)).append(")");
    throw error_code_exception(status, text);
}

void throw_if_null(const void* pointer, const char* file, unsigned line, const char* message)
{
    if (pointer != nullptr)
        return;
    std::string text = "null pointer error";
    if (message != nullptr)
        text.append(", ").append(message);
    text.append(" (").append(location(file, line)).append(")");
    throw error_code_exception(kNullPointerErrorCode, text);
}

void throw_if_posix_error(long result, const char* file, unsigned line, const char* message)
{
    if (result == -1)
        throw_posix(file, line, message);
}

void throw_if_negative(long result, const char* file, unsigned line, const char* message)
{
    if (result < 0)
        throw_posix(file, line, message);
}

void raise_oserr_exception(int32_t code, const char* file, long line)
{
    if (code == 0)
        return;
    throw FrameworkException("OSErr Exception", "Error " + std::to_string(code) + ", ("
                                                    + std::string(path_file_name(file)) + ":"
                                                    + std::to_string(line) + ")");
}

void raise_null_pointer_exception(const void* pointer, const char* file, long line)
{
    if (pointer != nullptr)
        return;
    throw FrameworkException("Null Pointer Exception",
                             "(" + std::string(path_file_name(file)) + ":" + std::to_string(line) + ")");
}

void raise_bool_exception(int flag, const char* file, long line)
{
    if (flag != 0)
        return;
    throw FrameworkException("BOOL Exception",
                             "(" + std::string(path_file_name(file)) + ":" + std::to_string(line) + ")");
}
