// One-call checks that throw error_code_exception with a location suffix.
#pragma once

#include <cstdint>
#include <sys/types.h>

// Throws `status` when it is non-zero: message + " " (when given) + "(file:line)".
void throw_if_error(int32_t status, const char* file, unsigned line, const char* message = nullptr);
// Throws 'NULP' when `pointer` is null: "null pointer error[, message] (file:line)".
void throw_if_null(const void* pointer, const char* file, unsigned line, const char* message = nullptr);
// Throws errno when `result` is -1: "strerror(errno)[, message] (file:line)".
void throw_if_posix_error(long result, const char* file, unsigned line, const char* message = nullptr);
// Throws errno when `result` is below 0, with the message of throw_if_posix_error.
void throw_if_negative(long result, const char* file, unsigned line, const char* message = nullptr);

// The call-site forms used throughout the code.
#define THROW_IF_ERROR(status, ...) throw_if_error((status), __FILE__, __LINE__, ##__VA_ARGS__)
#define THROW_IF_NULL(pointer, ...) throw_if_null((pointer), __FILE__, __LINE__, ##__VA_ARGS__)
#define THROW_IF_POSIX_ERROR(result, ...) throw_if_posix_error((result), __FILE__, __LINE__, ##__VA_ARGS__)
#define THROW_IF_NEGATIVE(result, ...) throw_if_negative((result), __FILE__, __LINE__, ##__VA_ARGS__)

// The error code that identifies a null pointer ('NULP').
constexpr int32_t kNullPointerErrorCode = 0x4E554C50;
