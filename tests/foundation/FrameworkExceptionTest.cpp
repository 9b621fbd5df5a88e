#include "FrameworkException.h"
#include "debug_trace.h"
#include "error_code_exception.h"
#include "throw_helpers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>

#include <unistd.h>

namespace {

// Saves and restores the exception-trace switches around each test.
class ExceptionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_enabled_ = exception_trace_enabled;
        saved_timestamps_ = exception_trace_timestamps;
        exception_trace_enabled = 1;
        exception_trace_timestamps = 0;
    }
    void TearDown() override
    {
        exception_trace_enabled = saved_enabled_;
        exception_trace_timestamps = saved_timestamps_;
    }

    // Constructs (and drops) an exception and returns what went to stderr.
    static std::string trace_of(int32_t code, const std::string& message)
    {
        testing::internal::CaptureStderr();
        error_code_exception e(code, message);
        return testing::internal::GetCapturedStderr();
    }

private:
    int saved_enabled_ = 1;
    int saved_timestamps_ = 1;
};

// What `f` throws as an E; otherwise a failure and what `fallback` makes.
template <typename E, typename F, typename G>
E Caught(F f, G fallback)
{
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "nothing thrown";
    return fallback();
}

template <typename F>
error_code_exception catch_error(F f)
{
    return Caught<error_code_exception>(f, [] {
        exception_trace_guard quiet(false);
        return error_code_exception(0, std::string());
    });
}

template <typename F>
FrameworkException catch_framework(F f)
{
    return Caught<FrameworkException>(f, [] { return FrameworkException("", ""); });
}

} // namespace

TEST_F(ExceptionTest, CarriesCodeAndMessage)
{
    exception_trace_guard quiet(false);
    error_code_exception e(-22004, std::string("Chunk not in file"));
    EXPECT_EQ(e.code(), -22004);
    EXPECT_STREQ(e.what(), "Chunk not in file");

    error_code_exception f(-50, "bad %s %d%%", "value", 7);
    EXPECT_EQ(f.code(), -50);
    EXPECT_STREQ(f.what(), "bad value 7%");

    const std::exception& base = f;
    EXPECT_STREQ(base.what(), "bad value 7%");
}

TEST_F(ExceptionTest, FormattedMessageIsCutTo1023Characters)
{
    exception_trace_guard quiet(false);
    std::string long_text(2000, 'x');
    error_code_exception e(-1, "%s", long_text.c_str());
    EXPECT_EQ(strlen(e.what()), 1023u);
    error_code_exception g(-1, "%s", std::string(1023, 'y').c_str());
    EXPECT_EQ(strlen(g.what()), 1023u);
    // The string form keeps everything.
    error_code_exception h(-1, long_text);
    EXPECT_EQ(strlen(h.what()), 2000u);
}

TEST_F(ExceptionTest, TraceLineWithoutTimestamps)
{
    EXPECT_EQ(trace_of(-43, "gone (f.cpp:1)"), "*** exception thrown: error -43 gone (f.cpp:1)\n");
    // Negative codes start with 0xFF: no character form.
    EXPECT_EQ(trace_of(-22004, "m"), "*** exception thrown: error -22004 m\n");
    EXPECT_EQ(trace_of(0x4E554C50, "m"), "*** exception thrown: error 1314212944 ('NULP') m\n");
    // 0x7F is inside the accepted range, 0x1F and 0x80 are not.
    EXPECT_EQ(trace_of(0x7F414243, "m"), "*** exception thrown: error 2134983235 ('\x7F" "ABC') m\n");
    EXPECT_EQ(trace_of(0x41424320, "m"), "*** exception thrown: error 1094861600 ('ABC ') m\n");
    EXPECT_EQ(trace_of(0x4142431F, "m"), "*** exception thrown: error 1094861599 m\n");
    EXPECT_EQ(trace_of(0x41428043, "m"), "*** exception thrown: error 1094877251 m\n");
}

TEST_F(ExceptionTest, TraceOffWritesNothingAndGuardsNest)
{
    exception_trace_enabled = 0;
    EXPECT_EQ(trace_of(-43, "m"), "");
    exception_trace_enabled = 1;
    {
        exception_trace_guard outer(false);
        EXPECT_EQ(exception_trace_enabled, 0);
        EXPECT_EQ(trace_of(-43, "m"), "");
        {
            exception_trace_guard inner(true);
            EXPECT_EQ(exception_trace_enabled, 1);
            EXPECT_NE(trace_of(-43, "m"), "");
        }
        EXPECT_EQ(exception_trace_enabled, 0);
    }
    EXPECT_EQ(exception_trace_enabled, 1);
}

TEST_F(ExceptionTest, TraceLineWithTimestamps)
{
    exception_trace_timestamps = 1;
    std::string line = trace_of(-39, "eof (x.cpp:9)");
    const std::string pid = std::to_string(getpid());
    std::regex expected(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3,4} )" + std::string(program_invocation_short_name)
                        + R"(\[)" + pid + R"(\] \*\*\* exception thrown: error -39 eof \(x\.cpp:9\)\n)");
    EXPECT_TRUE(std::regex_match(line, expected)) << line;
}

TEST_F(ExceptionTest, TimestampPrefixFormatAndRounding)
{
    struct tm local {};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 5;
    local.tm_hour = 7;
    local.tm_min = 8;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    const int64_t seconds = mktime(&local);
    const std::string tail = std::string(" ") + program_invocation_short_name + "[" + std::to_string(getpid()) + "] ";

    EXPECT_EQ(exception_trace_timestamp(seconds, 0), "2024-03-05 07:08:09.000" + tail);
    EXPECT_EQ(exception_trace_timestamp(seconds, 499), "2024-03-05 07:08:09.000" + tail);
    EXPECT_EQ(exception_trace_timestamp(seconds, 500), "2024-03-05 07:08:09.001" + tail);
    EXPECT_EQ(exception_trace_timestamp(seconds, 42499), "2024-03-05 07:08:09.042" + tail);
    // Not clamped: the field reads 1000 and the seconds stay.
    EXPECT_EQ(exception_trace_timestamp(seconds, 999600), "2024-03-05 07:08:09.1000" + tail);
}

TEST_F(ExceptionTest, ThrowIfErrorMessages)
{
    exception_trace_guard quiet(false);
    EXPECT_NO_THROW(throw_if_error(0, "/a/b/file.cpp", 57, "never"));

    auto e = catch_error([] { throw_if_error(-43, "/src/foundation/file.cpp", 57, "opening input"); });
    EXPECT_EQ(e.code(), -43);
    EXPECT_STREQ(e.what(), "opening input (file.cpp:57)");

    e = catch_error([] { throw_if_error(-43, "/src/foundation/file.cpp", 57); });
    EXPECT_STREQ(e.what(), "(file.cpp:57)");

    // A path without '/' is used whole; positive and four-character codes pass through.
    e = catch_error([] { throw_if_error(0x4D4F6F56, "bare.cpp", 3); });
    EXPECT_EQ(e.code(), 0x4D4F6F56);
    EXPECT_STREQ(e.what(), "(bare.cpp:3)");
}

TEST_F(ExceptionTest, ThrowIfNullMessagesAndTrace)
{
    int value = 0;
    {
        exception_trace_guard quiet(false);
        EXPECT_NO_THROW(throw_if_null(&value, "x.cpp", 1));
        auto e = catch_error([] { throw_if_null(nullptr, "dir/alloc.cpp", 12, "sample buffer"); });
        EXPECT_EQ(e.code(), 1314212944);
        EXPECT_EQ(e.code(), kNullPointerErrorCode);
        EXPECT_STREQ(e.what(), "null pointer error, sample buffer (alloc.cpp:12)");
    }
    testing::internal::CaptureStderr();
    auto e = catch_error([] { throw_if_null(nullptr, "dir/alloc.cpp", 12); });
    std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_STREQ(e.what(), "null pointer error (alloc.cpp:12)");
    EXPECT_EQ(trace, "*** exception thrown: error 1314212944 ('NULP') null pointer error (alloc.cpp:12)\n");
}

TEST_F(ExceptionTest, PosixHelpers)
{
    exception_trace_guard quiet(false);
    EXPECT_NO_THROW(throw_if_posix_error(0, "f.cpp", 1));
    EXPECT_NO_THROW(throw_if_posix_error(-2, "f.cpp", 1));
    EXPECT_NO_THROW(throw_if_negative(0, "f.cpp", 1));

    errno = ENOENT;
    auto e = catch_error([] { throw_if_posix_error(-1, "/x/open.cpp", 33, "opening the list"); });
    EXPECT_EQ(e.code(), ENOENT);
    EXPECT_EQ(std::string(e.what()), std::string(strerror(ENOENT)) + ", opening the list (open.cpp:33)");

    errno = EACCES;
    e = catch_error([] { throw_if_negative(-2, "/x/open.cpp", 34); });
    EXPECT_EQ(e.code(), EACCES);
    EXPECT_EQ(std::string(e.what()), std::string(strerror(EACCES)) + " (open.cpp:34)");

    // A failing call that left errno at 0 still throws a failure code.
    errno = 0;
    e = catch_error([] { throw_if_negative(-5, "n.cpp", 2); });
    EXPECT_EQ(e.code(), EIO);
    EXPECT_EQ(std::string(e.what()), std::string(strerror(EIO)) + " (n.cpp:2)");
}

TEST_F(ExceptionTest, MacrosNameTheCallSite)
{
    exception_trace_guard quiet(false);
    const unsigned line = __LINE__ + 1;
    auto e = catch_error([] { THROW_IF_ERROR(-48, "creating"); });
    EXPECT_EQ(e.code(), -48);
    EXPECT_EQ(std::string(e.what()), "creating (FrameworkExceptionTest.cpp:" + std::to_string(line) + ")");

    const unsigned null_line = __LINE__ + 1;
    e = catch_error([] { THROW_IF_NULL(nullptr); });
    EXPECT_EQ(std::string(e.what()), "null pointer error (FrameworkExceptionTest.cpp:" + std::to_string(null_line) + ")");
}

TEST_F(ExceptionTest, FrameworkRaisers)
{
    int value = 1;
    EXPECT_NO_THROW(raise_oserr_exception(0, "a.cpp", 1));
    EXPECT_NO_THROW(raise_null_pointer_exception(&value, "a.cpp", 1));
    EXPECT_NO_THROW(raise_bool_exception(1, "a.cpp", 1));

    testing::internal::CaptureStderr();
    auto f = catch_framework([] { raise_oserr_exception(-43, "/src/player/file.cpp", 57); });
    EXPECT_EQ(f.name(), "OSErr Exception");
    EXPECT_EQ(f.reason(), "Error -43, (file.cpp:57)");
    EXPECT_STREQ(f.what(), "Error -43, (file.cpp:57)");

    f = catch_framework([] { raise_null_pointer_exception(nullptr, "p.cpp", 8); });
    EXPECT_EQ(f.name(), "Null Pointer Exception");
    EXPECT_EQ(f.reason(), "(p.cpp:8)");

    f = catch_framework([] { raise_bool_exception(0, "/q/b.cpp", 9); });
    EXPECT_EQ(f.name(), "BOOL Exception");
    EXPECT_EQ(f.reason(), "(b.cpp:9)");
    // Framework exceptions leave no exception trace line.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
