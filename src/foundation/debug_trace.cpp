#include "debug_trace.h"

#include "throw_helpers.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

// The diagnostics switch: QUILLMARCH_DEBUG_TRACE=1 in the environment at
// start-up turns the debug trace on.
int initial_debug_trace()
{
    const char* value = getenv("QUILLMARCH_DEBUG_TRACE");
    return value != nullptr && strcmp(value, "1") == 0 ? 1 : 0;
}

} // namespace

int debug_trace_enabled = initial_debug_trace();
int exception_trace_enabled = 1;
int exception_trace_timestamps = 1;
std::mutex trace_mutex;
std::ostringstream trace_stream;

void trace_log(const char* function, const char* file, unsigned line, std::ostringstream* message)
{
    if (debug_trace_enabled) {
        std::cerr << "(" << path_file_name(file) << ":" << line << ") " << (function ? function : "")
                  << "(): " << (message ? message->str() : std::string()) << std::endl;
    }
    // Emptied whether or not the line was written, so that text formatted
    // while tracing is off does not pile up.
    if (message != nullptr) {
        message->str(std::string());
        message->clear();
    }
}

void debug_printf(const char* tag, const char* format, ...)
{
    if (!debug_trace_enabled)
        return;
    fprintf(stderr, "%s: ", tag ? tag : "");
    va_list args;
    va_start(args, format);
    vfprintf(stdout, format, args);
    va_end(args);
    fputc('\n', stdout);
}

void debug_nslog(const char* /*format*/, ...)
{
}

exception_trace_guard::exception_trace_guard(bool value)
    : saved_(exception_trace_enabled)
{
    exception_trace_enabled = value ? 1 : 0;
}

exception_trace_guard::~exception_trace_guard()
{
    exception_trace_enabled = saved_;
}

void* zero_alloc(unsigned size)
{
    return calloc(1, size);
}
