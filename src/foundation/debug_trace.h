// Debug trace, debug printer and the diagnostics switches.
#pragma once

#include <mutex>
#include <sstream>

extern int debug_trace_enabled;          // off; QUILLMARCH_DEBUG_TRACE=1 turns it on
extern int exception_trace_enabled;      // on
extern int exception_trace_timestamps;   // on
extern std::mutex trace_mutex;
extern std::ostringstream trace_stream;

// "(file:line) function(): message" on stderr while tracing is on; always
// empties the stream so that it never grows while tracing is off.
void trace_log(const char* function, const char* file, unsigned line, std::ostringstream* message);
void debug_printf(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));
void debug_nslog(const char* format, ...);

// Sets exception_trace_enabled for its lifetime, then restores it.
class exception_trace_guard {
public:
    explicit exception_trace_guard(bool value);
    ~exception_trace_guard();
    exception_trace_guard(const exception_trace_guard&) = delete;
    exception_trace_guard& operator=(const exception_trace_guard&) = delete;
private:
    int saved_;
};

// calloc of one element of `size` bytes; null when memory is exhausted.
void* zero_alloc(unsigned size);

// One trace line: QM_TRACE("Open", "opened " << path);  The text is formatted
// only while tracing is on.
#define QM_TRACE(function, expr)                                              \
    do {                                                                      \
        if (debug_trace_enabled) {                                            \
            std::lock_guard<std::mutex> qm_trace_lock_(trace_mutex);          \
            trace_stream << expr;                                             \
            trace_log((function), __FILE__, __LINE__, &trace_stream);         \
        }                                                                     \
    } while (0)
