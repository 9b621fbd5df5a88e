#include "debug_trace.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

class DebugTraceTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = debug_trace_enabled; }
    void TearDown() override
    {
        debug_trace_enabled = saved_;
        trace_stream.str(std::string());
    }

private:
    int saved_ = 0;
};

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(DebugTraceSwitches, InitialValues)
{
    EXPECT_EQ(exception_trace_enabled, 1);
    EXPECT_EQ(exception_trace_timestamps, 1);
    const char* env = getenv("QUILLMARCH_DEBUG_TRACE");
    EXPECT_EQ(debug_trace_enabled, env != nullptr && strcmp(env, "1") == 0 ? 1 : 0);
}

// Runs the test above in a child process with QUILLMARCH_DEBUG_TRACE set, so
// that the start-up value of the switch is checked both ways.
TEST(DebugTraceSwitches, EnvironmentTurnsTheTraceOnAtStartUp)
{
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    ASSERT_FALSE(self.isEmpty());
    for (const char* value : {"1", "0", "yes"}) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QUILLMARCH_DEBUG_TRACE", value);
        child.setProcessEnvironment(env);
        child.start(self, {"--gtest_filter=DebugTraceSwitches.InitialValues"});
        ASSERT_TRUE(child.waitForFinished(30000)) << value;
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0) << value << "\n" << child.readAllStandardOutput().toStdString();
        EXPECT_TRUE(child.readAllStandardOutput().contains("[  PASSED  ] 1 test")) << value;
    }
}

TEST_F(DebugTraceTest, OffWritesNothingButEmptiesTheStream)
{
    debug_trace_enabled = 0;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    std::ostringstream message;
    message << "some text " << 42;
    trace_log("Open", "/src/formats/CAIFFFile.cpp", 120, &message);
    debug_printf("tag", "value %d", 5);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(message.str(), "");

    // The macro does not even format while the trace is off.
    trace_stream.str(std::string());
    int evaluated = 0;
    QM_TRACE("Close", "text " << ++evaluated);
    EXPECT_EQ(evaluated, 0);
    EXPECT_EQ(trace_stream.str(), "");
}

TEST_F(DebugTraceTest, LineFormatAndStreamEmptied)
{
    debug_trace_enabled = 1;
    std::ostringstream message;
    message << "opened " << 3 << " chunks";
    testing::internal::CaptureStderr();
    trace_log("Open", "/work/src/formats/CAIFFFile.cpp", 120, &message);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "(CAIFFFile.cpp:120) Open(): opened 3 chunks\n");
    EXPECT_EQ(message.str(), "");

    // The stream is usable again and starts from the beginning.
    message << "next";
    testing::internal::CaptureStderr();
    trace_log("-[ConversionProcess doConversion:]", "bare.mm", 7, &message);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "(bare.mm:7) -[ConversionProcess doConversion:](): next\n");
}

TEST_F(DebugTraceTest, MacroWritesThroughTheSharedStream)
{
    debug_trace_enabled = 1;
    testing::internal::CaptureStderr();
    const unsigned line = __LINE__ + 1;
    QM_TRACE("ReadBEXT", "size " << 602 << ' ' << "bytes");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "(DebugTraceTest.cpp:" + std::to_string(line) + ") ReadBEXT(): size 602 bytes\n");
    EXPECT_EQ(trace_stream.str(), "");
}

TEST_F(DebugTraceTest, ConcurrentTracesKeepTheirLinesWhole)
{
    debug_trace_enabled = 1;
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i)
                QM_TRACE("Worker", "thread " << t << " item " << i << " end");
        });
    for (auto& thread : threads)
        thread.join();
    auto lines = lines_of(testing::internal::GetCapturedStderr());
    ASSERT_EQ(lines.size(), 200u);
    for (const auto& line : lines) {
        EXPECT_EQ(line.rfind("(DebugTraceTest.cpp:", 0), 0u) << line;
        EXPECT_NE(line.find(") Worker(): thread "), std::string::npos) << line;
        EXPECT_EQ(line.substr(line.size() - 4), " end") << line;
        EXPECT_EQ(line.find(" end"), line.size() - 4) << line;
    }
}

TEST_F(DebugTraceTest, DebugPrintfSplitsTagAndMessage)
{
    debug_trace_enabled = 1;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    debug_printf("SDII", "rate %d, %s", 44100, "stereo");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "SDII: ");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "rate 44100, stereo\n");
}

TEST(ZeroAlloc, GivesZeroedBlocks)
{
    auto* block = static_cast<unsigned char*>(zero_alloc(4096));
    ASSERT_NE(block, nullptr);
    for (unsigned i = 0; i < 4096; ++i)
        ASSERT_EQ(block[i], 0u) << i;
    free(block);
}
