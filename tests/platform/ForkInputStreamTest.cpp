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
