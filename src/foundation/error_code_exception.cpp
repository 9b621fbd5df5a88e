#include "error_code_exception.h"

#include "debug_trace.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>

#include <sys/time.h>
#include <unistd.h>

error_code_exception::error_code_exception(int32_t code, const std::string& message)
    : code_(code), message_(message)
{
    trace_exception(*this);
}

error_code_exception::error_code_exception(int32_t code, const char* format, ...)
    : code_(code)
{
    constexpr size_t kBufferSize = 1024;
    std::unique_ptr<char[]> buffer(new char[kBufferSize]);
    buffer[0] = '\0';
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        vsnprintf(buffer.get(), kBufferSize, format, args);
        va_end(args);
    }
    message_.assign(buffer.get());
    buffer.reset();
    trace_exception(*this);
}

error_code_exception::~error_code_exception() = default;

const char* error_code_exception::what() const noexcept
{
    return message_.c_str();
}

int32_t error_code_exception::code() const noexcept
{
    return code_;
}

std::string exception_trace_timestamp(int64_t seconds, long microseconds)
{
    time_t when = static_cast<time_t>(seconds);
    struct tm local {};
    char date[32] = "";
    if (localtime_r(&when, &local) != nullptr)
        strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    long milliseconds = static_cast<long>(microseconds / 1000.0 + 0.5);

    // Room for the date, the milliseconds, the program name and the pid.
    char prefix[64 + 256];
    snprintf(prefix, sizeof prefix, "%s.%03ld %s[%ld] ", date, milliseconds,
             program_invocation_short_name, static_cast<long>(getpid()));
    return prefix;
}

namespace {

bool is_printable_code_byte(uint32_t byte)
{
    return byte >= 0x20 && byte <= 0x7F;
}

} // namespace

void trace_exception(const error_code_exception& e)
{
    if (!exception_trace_enabled)
        return;

    if (exception_trace_timestamps) {
        struct timeval now {};
        gettimeofday(&now, nullptr);
        fputs(exception_trace_timestamp(now.tv_sec, now.tv_usec).c_str(), stderr);
    }

    const uint32_t bits = static_cast<uint32_t>(e.code());
    std::cerr << "*** exception thrown: error " << e.code();
    if (is_printable_code_byte(bits >> 24) && is_printable_code_byte((bits >> 16) & 0xFF)
        && is_printable_code_byte((bits >> 8) & 0xFF) && is_printable_code_byte(bits & 0xFF)) {
        const char chars[5] = {static_cast<char>(bits >> 24), static_cast<char>(bits >> 16),
                               static_cast<char>(bits >> 8), static_cast<char>(bits), '\0'};
        std::cerr << " ('" << chars << "')";
    }
    std::cerr << " " << e.what() << std::endl;
}
