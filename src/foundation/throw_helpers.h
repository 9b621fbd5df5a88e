// One-call checks that throw error_code_exception with a location suffix, and
// the raisers of framework exceptions used by the playback side.
#pragma once

#include <cstdint>
#include <sys/types.h>

// Throws `status` when it is non-zero: message + " " (when given) + "(file:line)".
void throw_if_error(int32_t status, const char* file, unsigned line, const char* message = nullptr);
// Throws 'NULP' when `pointer` is null: "null pointer error[, message] (file:line)".
void throw_if_null(const void* pointer, const char* file, unsigned line, const char* message = nullptr);
// Throws errno when `result` is -1: "strerror(errno)[, message] (file:line)".
// When errno is 0 (the failing call did not set it) the code is EIO instead,
// so that the failure never reads as success.
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

// The text after the last '/' of a path (the whole path when it has none).
const char* path_file_name(const char* path);

// Raisers of FrameworkException (see FrameworkException.h); each returns
// normally when its test passes.
//   raise_oserr_exception:        code != 0  -> "OSErr Exception", "Error <code>, (file:line)"
//   raise_null_pointer_exception: null       -> "Null Pointer Exception", "(file:line)"
//   raise_bool_exception:         flag == 0  -> "BOOL Exception", "(file:line)"
void raise_oserr_exception(int32_t code, const char* file, long line);
void raise_null_pointer_exception(const void* pointer, const char* file, long line);
void raise_bool_exception(int flag, const char* file, long line);

#define RAISE_OSERR_EXCEPTION(code) raise_oserr_exception((code), __FILE__, __LINE__)
#define RAISE_NULL_POINTER_EXCEPTION(pointer) raise_null_pointer_exception((pointer), __FILE__, __LINE__)
#define RAISE_BOOL_EXCEPTION(flag) raise_bool_exception((flag), __FILE__, __LINE__)
