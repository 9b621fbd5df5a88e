// The exception that the sound-file, codec and foundation code throws: an
// error code and a message that ends in the source file name and line.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class error_code_exception : public std::exception {
public:
    // Copies the message; writes the exception trace line (see debug_trace.h).
    error_code_exception(int32_t code, const std::string& message);
    // printf-style; the formatted message is cut to 1023 characters.
    error_code_exception(int32_t code, const char* format, ...) __attribute__((format(printf, 3, 4)));
    ~error_code_exception() override;

    const char* what() const noexcept override;
    virtual int32_t code() const noexcept;

private:
    int32_t code_;
    std::string message_;
};

// Writes the "*** exception thrown: error ..." line for an exception being
// constructed, while the exception trace is on.
void trace_exception(const error_code_exception& e);

// The prefix of an exception trace line when time stamps are on:
// "YYYY-MM-DD HH:MM:SS.mmm program[pid] " for the given wall-clock moment
// (local time).  The milliseconds are rounded, not clamped, so 999600
// microseconds read "1000".
std::string exception_trace_timestamp(int64_t seconds, long microseconds);

