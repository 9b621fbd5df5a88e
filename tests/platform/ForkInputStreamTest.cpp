// The stream over a data fork: reads across its buffer, seeks from every
// origin, the end of the file, and the File Manager's codes when opening
// fails (a folder, a missing file).
#include "ForkInputStream.h"
#include "PlatformTestUtil.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <string>

TEST(ForkInputStreamTest, ReadsSeeksAndReportsOpenErrors)
{
    TestTempDir dir;
    QByteArray bytes(10000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7);
    const std::string path = dir.file("data.bin");
    ASSERT_TRUE(WriteWholeFile(path, bytes));

    ForkInputStream in(path);
    ASSERT_EQ(in.openError(), noErr);
    std::string all(10000, '\0');
    in.read(all.data(), 10000);  // more than one buffer
    ASSERT_EQ(in.gcount(), 10000);
    EXPECT_EQ(QByteArray(all.data(), 10000), bytes);
    EXPECT_EQ(in.get(), std::char_traits<char>::eof());

    for (const auto& [offset, dirn, expected] : {std::tuple{5000, std::ios::beg, 5000},
             std::tuple{-10, std::ios::end, 9990}, std::tuple{-4000, std::ios::cur, 5990}}) {
        in.clear();
        in.seekg(offset, dirn);
        ASSERT_EQ(int(in.tellg()), expected);
        EXPECT_EQ(char(in.get()), bytes[expected]);
        in.seekg(-1, std::ios::cur);
    }
    in.clear();
    in.seekg(-1, std::ios::beg);
    EXPECT_TRUE(in.fail());

    EXPECT_EQ(ForkInputStream(dir.file("missing")).openError(), fnfErr);
    ForkInputStream folder(dir.path());
    EXPECT_NE(folder.openError(), noErr);
    EXPECT_FALSE(folder.good());
}

// A chunk walk asks the length (a seek to the end) between its reads: the
// bytes read before are found again, also across the end of what was read
// and after a later read replaced them.
TEST(ForkInputStreamTest, SeeksAwayAndBackKeepTheBytesRight)
{
    TestTempDir dir;
    QByteArray bytes(12000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 13 + i / 256);
    const std::string path = dir.file("walk.bin");
    ASSERT_TRUE(WriteWholeFile(path, bytes));

    ForkInputStream in(path);
    ASSERT_EQ(in.openError(), noErr);
    auto readAt = [&](int position, int count) {
        in.clear();
        in.seekg(0, std::ios::end);
        EXPECT_EQ(int(in.tellg()), 12000);
        in.seekg(position, std::ios::beg);
        std::string got(std::size_t(count), '\0');
        in.read(got.data(), count);
        EXPECT_EQ(in.gcount(), count) << position;
        EXPECT_EQ(QByteArray(got.data(), count), bytes.mid(position, count)) << position;
    };
    for (const auto& [position, count] : {std::pair{12, 8}, std::pair{20, 8}, std::pair{4000, 300},
                                          std::pair{100, 50}, std::pair{8190, 20}, std::pair{8191, 4},
                                          std::pair{0, 12000}, std::pair{11990, 10}})
        readAt(position, count);
    in.seekg(11999, std::ios::beg);
    EXPECT_EQ(char(in.get()), bytes[11999]);
    EXPECT_EQ(in.get(), std::char_traits<char>::eof());
}
