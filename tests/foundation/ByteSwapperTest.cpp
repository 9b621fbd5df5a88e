#include "ByteFormatter.h"
#include "ByteSwapper.h"
#include "DirWalker.h"

#include "TestTempDir.h"
#include "UserDefaults.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

// Formatter tests set the decimal separator in the process's defaults
// (in memory only) and put it back afterwards.
class ByteFormatterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Never read or write the user's own preferences.
        if (qEnvironmentVariableIsEmpty("QUILLMARCH_DEFAULTS"))
            qputenv("QUILLMARCH_DEFAULTS", QByteArray(dir_.file("defaults.plist").c_str()));
    }
    void SetUp() override { defaults().removeObject(ByteFormatter::kDecimalSeparatorKey); }
    void TearDown() override { defaults().removeObject(ByteFormatter::kDecimalSeparatorKey); }

    static UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }
    static void useSeparator(const char* separator)
    {
        defaults().setString(ByteFormatter::kDecimalSeparatorKey, QString::fromUtf8(separator));
    }
    QString format(const QVariant& v) const { return formatter_.stringForObjectValue(v); }
    // The parsed byte count, or -1 when refused.
    long double parse(const QString& text) const
    {
        QVariant value;
        if (!formatter_.getObjectValue(&value, text))
            return -1;
        EXPECT_EQ(value.typeId(), QMetaType::ULongLong);
        return static_cast<long double>(value.toULongLong());
    }

    static TestTempDir dir_;
    ByteFormatter formatter_;
};
TestTempDir ByteFormatterTest::dir_;

QByteArray readAll(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return f.readAll();
}

void writeFile(const std::string& path, const QByteArray& data)
{
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::NewOnly));
    ASSERT_EQ(f.write(data), data.size());
}

QByteArray swapped(QByteArray data)
{
    for (qsizetype i = 0; i + 1 < data.size(); i += 2)
        std::swap(data[i], data[i + 1]);
    return data;
}

QByteArray pattern(qsizetype size)
{
    QByteArray data(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return data;
}

void makeFolder(const std::string& path)
{
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path)));
}

void touch(const std::string& path)
{
    writeFile(path, QByteArray("x"));
}

std::vector<std::string> walkAll(DirWalker& walker, bool forward, size_t limit = 100)
{
    std::vector<std::string> paths;
    for (;;) {
        const QString p = forward ? walker.next() : walker.prev();
        if (p.isNull() || paths.size() >= limit)
            break;
        paths.push_back(p.toStdString());
    }
    return paths;
}

} // namespace

TEST_F(ByteFormatterTest, FormatsInBinaryUnits)
{
    EXPECT_EQ(format(0), "0 B");
    EXPECT_EQ(format(1023), "1023 B");
    EXPECT_EQ(format(1024), "1.00 kB");
    EXPECT_EQ(format(1536), "1.50 kB");
    EXPECT_EQ(format(1048575), "1024.00 kB");   // printf rounding, unit by the count
    EXPECT_EQ(format(1048576), "1.00 MB");
    EXPECT_EQ(format(QVariant::fromValue<quint64>(5368709120ULL)), "5.00 GB");
    EXPECT_EQ(format(QVariant::fromValue<quint64>(std::numeric_limits<quint64>::max())), "17179869184.00 GB");
    EXPECT_EQ(format(1536.9), "1.50 kB");
    EXPECT_EQ(format(QVariant::fromValue<quint16>(512)), "512 B");

    // Only numbers, and only counts a size can be.
    EXPECT_TRUE(format(QVariant()).isNull());
    EXPECT_TRUE(format(QStringLiteral("1024")).isNull());
    EXPECT_TRUE(format(-1).isNull());
    EXPECT_TRUE(format(std::numeric_limits<double>::quiet_NaN()).isNull());
}

TEST_F(ByteFormatterTest, UsesTheUsersDecimalSeparator)
{
    useSeparator(",");
    EXPECT_EQ(format(1048576), "1,00 MB");
    EXPECT_EQ(format(1023), "1023 B");
    EXPECT_EQ(parse("1,5 kB"), 1536);
    EXPECT_EQ(parse("1,50 kB"), 1536);
    useSeparator("");   // unusable: "." as always
    EXPECT_EQ(format(1536), "1.50 kB");
}

TEST_F(ByteFormatterTest, ParsesSizesWithUnits)
{
    EXPECT_EQ(parse(""), 0);
    EXPECT_EQ(parse("512 B"), 512);
    EXPECT_EQ(parse("512B"), 512);
    EXPECT_EQ(parse("  7 B"), 7);
    EXPECT_EQ(parse("1.50 kB"), 1536);
    EXPECT_EQ(parse("3 MB"), 3145728);
    EXPECT_EQ(parse("2.00 GB"), 2147483648.0L);
    EXPECT_EQ(parse("1e3 B"), 1000);

    EXPECT_EQ(parse("512"), -1);       // no unit
    EXPECT_EQ(parse("512   "), -1);
    EXPECT_EQ(parse("kB"), -1);        // no number
    EXPECT_EQ(parse("B"), -1);
    EXPECT_EQ(parse("-1 kB"), -1);     // no negative sizes
    EXPECT_EQ(parse("1e30 GB"), static_cast<long double>(std::numeric_limits<quint64>::max()));

    QVariant untouched(42);
    EXPECT_FALSE(formatter_.getObjectValue(&untouched, "x"));
    EXPECT_EQ(untouched, QVariant(42));
}

TEST_F(ByteFormatterTest, ReadsBackItsOwnOutput)
{
    for (const char* separator : {".", ","}) {
        useSeparator(separator);
        for (quint64 n : {0ULL, 1ULL, 512ULL, 1023ULL, 1024ULL, 1536ULL, 999999ULL, 1048576ULL, 123456789ULL,
                          1073741824ULL, 987654321012ULL}) {
            const QString text = format(QVariant::fromValue(n));
            const long double back = parse(text);
            ASSERT_GE(back, 0) << text.toStdString();
            if (n < 1024)
                EXPECT_EQ(back, n) << text.toStdString();
            else   // two decimals of the unit: within half a hundredth of it
                EXPECT_NEAR(static_cast<double>(back), static_cast<double>(n), n * 0.005 + 1) << text.toStdString();
        }
    }
}

TEST(ByteSwapper, SwapsPairsAndKeepsAnOddLastByte)
{
    TestTempDir dir;
    // `data` as dir/name swapped into dir/name.out; what that holds.
    auto swappedCopy = [&dir](const std::string& name, const QByteArray& data) {
        writeFile(dir.file(name), data);
        EXPECT_TRUE(ByteSwapper(QString::fromStdString(dir.file(name)), QString::fromStdString(dir.file(name + ".out")))
                        .swapBytes())
            << name;
        return readAll(dir.file(name + ".out"));
    };
    EXPECT_EQ(swappedCopy("five", QByteArray("\x01\x02\x03\x04\x05", 5)), QByteArray("\x02\x01\x04\x03\x05", 5));
    // Empty and one-byte files.
    EXPECT_EQ(swappedCopy("empty", QByteArray()), QByteArray());
    EXPECT_EQ(swappedCopy("one", QByteArray("\x7F", 1)), QByteArray("\x7F", 1));
    // Larger than one block, odd length; no temporary file stays behind.
    const QByteArray big = pattern((1 << 20) * 2 + 3);
    EXPECT_EQ(swappedCopy("big", big), swapped(big));
    EXPECT_EQ(QDir(dir.qpath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 8);
}

TEST(ByteSwapper, InPlaceAndIntoAReservedFile)
{
    TestTempDir dir;
    const QByteArray data = pattern((1 << 20) + 1001);
    writeFile(dir.file("self"), data);
    const QString self = QString::fromStdString(dir.file("self"));
    ASSERT_TRUE(ByteSwapper(self, self).swapBytes());
    EXPECT_EQ(readAll(dir.file("self")), swapped(data));
    // The same file under another spelling of its path is still in place.
    ASSERT_TRUE(ByteSwapper(self, QString::fromStdString(dir.path() + "/./self")).swapBytes());
    EXPECT_EQ(readAll(dir.file("self")), data);

    // An empty file reserved by the caller (a temporary file) is filled.
    writeFile(dir.file("reserved"), QByteArray());
    ASSERT_TRUE(ByteSwapper(self, QString::fromStdString(dir.file("reserved"))).swapBytes());
    EXPECT_EQ(readAll(dir.file("reserved")), swapped(data));
}

TEST(ByteSwapper, RefusesWithoutTouchingAnything)
{
    TestTempDir dir;
    writeFile(dir.file("in"), QByteArray("abcd"));
    writeFile(dir.file("keep"), QByteArray("precious"));
    makeFolder(dir.file("folder"));
    const QString in = QString::fromStdString(dir.file("in"));

    EXPECT_FALSE(ByteSwapper(QString::fromStdString(dir.file("missing")), QString::fromStdString(dir.file("o1")))
                     .swapBytes());
    EXPECT_FALSE(ByteSwapper(QString::fromStdString(dir.file("folder")), QString::fromStdString(dir.file("o2")))
                     .swapBytes());
    EXPECT_FALSE(ByteSwapper(in, QString::fromStdString(dir.file("keep"))).swapBytes());
    EXPECT_EQ(readAll(dir.file("keep")), QByteArray("precious"));
    EXPECT_FALSE(ByteSwapper(in, QString::fromStdString(dir.file("folder"))).swapBytes());
    EXPECT_FALSE(ByteSwapper(in, QString::fromStdString(dir.file("nowhere/out"))).swapBytes());
    EXPECT_FALSE(ByteSwapper(in, QString()).swapBytes());

    EXPECT_EQ(readAll(dir.file("in")), QByteArray("abcd"));
    EXPECT_EQ(QDir(dir.qpath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"folder", "in", "keep"}));
}

TEST(DirWalker, WalksDepthFirstInFolderOrderBothWays)
{
    TestTempDir dir;
    const std::string root = dir.file("root");
    makeFolder(root + "/Alpha");
    makeFolder(root + "/empty");
    makeFolder(root + "/beta/Deep/deeper");
    touch(root + "/Alpha/y");
    touch(root + "/Alpha/X");
    touch(root + "/b.wav");
    touch(root + "/c.aif");
    writeFile(root + "/._c.aif", QByteArray("\x00\x05\x16\x07", 4));  // sidecar: never a walk entry
    touch(root + "/.hidden");
    touch(root + "/beta/Deep/deeper/z");
    touch(root + "/beta/a");

    const std::vector<std::string> order = {
        root + "/.hidden", root + "/Alpha/X",  root + "/Alpha/y",
        root + "/b.wav",   root + "/beta/a",  root + "/beta/Deep/deeper/z",
        root + "/c.aif",
    };

    DirWalker walker(QString::fromStdString(root + "/"));
    EXPECT_EQ(walkAll(walker, true), order);
    EXPECT_TRUE(walker.next().isNull());   // stays at the end

    std::vector<std::string> reversed(order.rbegin(), order.rend());
    EXPECT_EQ(walkAll(walker, false), reversed);
    EXPECT_TRUE(walker.prev().isNull());   // stays at the start
    EXPECT_EQ(walker.next().toStdString(), order[0]);

    // Mixed steps resume from the current position, across folder borders.
    walker.setPath(QString::fromStdString(root));
    EXPECT_EQ(walker.next().toStdString(), order[0]);
    EXPECT_EQ(walker.next().toStdString(), order[1]);   // into Alpha
    EXPECT_EQ(walker.prev().toStdString(), order[0]);   // back out of it
    EXPECT_EQ(walker.next().toStdString(), order[1]);
    EXPECT_EQ(walker.next().toStdString(), order[2]);
    EXPECT_EQ(walker.next().toStdString(), order[3]);
    EXPECT_EQ(walker.next().toStdString(), order[4]);
    EXPECT_EQ(walker.next().toStdString(), order[5]);
    EXPECT_EQ(walker.prev().toStdString(), order[4]);

    // An empty root, and a root that is not a folder.
    makeFolder(dir.file("bare"));
    DirWalker bare(QString::fromStdString(dir.file("bare")));
    EXPECT_TRUE(bare.next().isNull());
    EXPECT_TRUE(bare.prev().isNull());
    DirWalker file(QString::fromStdString(root + "/b.wav"));
    EXPECT_TRUE(file.next().isNull());
}

TEST(DirWalker, SymbolicLinkLoopsEndAndVisitEachFolderOnce)
{
    TestTempDir dir;
    const std::string root = dir.file("root");
    makeFolder(root + "/sub/inner");
    makeFolder(root + "/other");
    touch(root + "/top");
    touch(root + "/sub/mid");
    touch(root + "/sub/inner/leaf");
    touch(root + "/other/o");
    // Links back up the tree, to the folder itself, and to a file.
    ASSERT_TRUE(QFile::link(QString::fromStdString(root), QString::fromStdString(root + "/sub/inner/toRoot")));
    ASSERT_TRUE(QFile::link("..", QString::fromStdString(root + "/sub/up")));
    ASSERT_TRUE(QFile::link(".", QString::fromStdString(root + "/sub/inner/self")));
    ASSERT_TRUE(QFile::link("top", QString::fromStdString(root + "/fileLink")));

    const std::vector<std::string> expected = {
        root + "/fileLink", root + "/other/o", root + "/sub/inner/leaf", root + "/sub/mid", root + "/top",
    };
    DirWalker walker(QString::fromStdString(root));
    EXPECT_EQ(walkAll(walker, true), expected);
    EXPECT_EQ(walkAll(walker, false), std::vector<std::string>(expected.rbegin(), expected.rend()));

    // A walk that starts inside the loop through a linked path ends too.
    DirWalker viaLink(QString::fromStdString(root + "/sub/inner/toRoot"));
    const std::vector<std::string> linked = walkAll(viaLink, true);
    EXPECT_EQ(linked.size(), expected.size());
}

TEST(DirWalker, EntryGoneAfterListingComesBackAsAFile)
{
    TestTempDir dir;
    const std::string root = dir.file("root");
    makeFolder(root);
    touch(root + "/a");
    touch(root + "/b");
    DirWalker walker(QString::fromStdString(root));
    EXPECT_EQ(walker.next().toStdString(), root + "/a");
    ASSERT_TRUE(QFile::remove(QString::fromStdString(root + "/b")));
    EXPECT_EQ(walker.next().toStdString(), root + "/b");
    EXPECT_TRUE(walker.next().isNull());
}
