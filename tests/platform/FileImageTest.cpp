#include "FileImage.h"
#include "PlatformTestUtil.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <ostream>
#include <vector>

namespace {

// One step of a writer: `size` bytes of a pattern written at `at`, or
// (size < 0) the length set to `at`.
struct Step {
    SInt64 at;
    int size;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
    // Ranges that must be known (read without the file) afterwards.
    std::vector<std::pair<SInt64, SInt64>> known;
};

void PrintTo(const Scenario& scenario, std::ostream* out)
{
    *out << scenario.name;
}

class FileImageTest : public ::testing::TestWithParam<Scenario> {};

// The same steps on a real file and on an image: every byte the image
// gives is the file's, at every position and for reads of every size.
TEST_P(FileImageTest, GivesOnlyTheFilesOwnBytes)
{
    TestTempDir dir;
    const std::string path = dir.file("f");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    FileImage image;
    int seed = 1;
    for (const Step& step : GetParam().steps) {
        if (step.size < 0) {
            ASSERT_EQ(::ftruncate(fd, off_t(step.at)), 0);
            image.Resize(step.at);
        } else {
            const QByteArray bytes = Pattern(step.size, seed++);
            ASSERT_EQ(::pwrite(fd, bytes.constData(), size_t(bytes.size()), off_t(step.at)), bytes.size());
            image.Write(step.at, bytes.constData(), bytes.size());
        }
    }
    ::close(fd);
    const QByteArray file = ReadWholeFile(path);
    ASSERT_TRUE(image.valid());
    EXPECT_EQ(image.length(), file.size());
    std::vector<char> out(9000);
    for (SInt64 at = 0; at <= file.size() + 2; at += 97) {
        for (SInt64 request : {1, 4, 12, 100, 4096, 9000}) {
            const SInt64 got = image.Read(at, request, out.data());
            ASSERT_LE(got, request);
            ASSERT_EQ(QByteArray(out.data(), int(got)), file.mid(int(at), int(got))) << at << " " << request;
            SInt64 done = -1;
            if (image.ReadAll(at, request, out.data(), &done)) {
                const QByteArray expected = at < file.size() ? file.mid(int(at), int(request)) : QByteArray();
                ASSERT_EQ(QByteArray(out.data(), int(done)), expected) << at << " " << request;
            }
        }
    }
    for (const auto& [at, size] : GetParam().known) {
        SInt64 done = -1;
        EXPECT_TRUE(image.ReadAll(at, size, out.data(), &done)) << at;
        EXPECT_EQ(done, size);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, FileImageTest,
    ::testing::Values(
        // A header, the samples, the header patched and a chunk appended.
        Scenario{"HeaderDataPatches",
                 {{0, 94}, {94, 73728}, {73822, 58572}, {12, 26}, {132394, 100}, {82, 4}, {4, 4}},
                 {{0, 94}, {132394, 100}}},
        // Writes past the end leave zeros between; a small gap is known.
        Scenario{"Gaps", {{0, 10}, {50, 10}, {20000, 8}}, {{0, 60}, {20000, 8}}},
        // Cut short and grown again: the bytes past the cut read as zeros.
        Scenario{"ShrinkAndGrow", {{0, 300}, {100, -1}, {200, -1}, {150, 5}, {5000, -1}}, {{0, 200}}},
        // A large write over small ones forgets them, a small one over it
        // is known again.
        Scenario{"Overwritten", {{0, 200}, {100, 8000}, {150, 10}, {9000, -1}}, {{0, 100}, {150, 10}}}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

TEST(FileImage, GivesUpRatherThanHoldTooMuch)
{
    FileImage image;
    const QByteArray bytes = Pattern(4000);
    for (int i = 0; i < 40; ++i)
        image.Write(SInt64(i) * 4000, bytes.constData(), bytes.size());
    EXPECT_FALSE(image.valid());
    char out[4];
    SInt64 done = 0;
    EXPECT_EQ(image.Read(0, 4, out), 0);
    EXPECT_FALSE(image.ReadAll(0, 4, out, &done));
}

} // namespace
