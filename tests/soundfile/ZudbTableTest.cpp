// The .zudb reader on good and damaged tables, its queries, and the
// consistency of the tables the application ships.
#include "CSoundFile.h"
#include "TestTempDir.h"
#include "ZudbTable.h"
#include "string_utils.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

ZudbTable Parse(const std::string& text)
{
    ZudbTable table;
    std::istringstream in(text);
    ReadZudbTable(in, table);
    return table;
}

TEST(ZudbTableTest, ReadsColumnsAndRows)
{
    ZudbTable t = Parse("cc\tname\n2\tStereo\n6\t5.1\n");
    ASSERT_EQ(t.columns(), (std::vector<std::string>{"cc", "name"}));
    ASSERT_EQ(t.rows().size(), 2u);
    EXPECT_EQ(t.rows()[0]["cc"], "2");
    EXPECT_EQ(t.rows()[0]["name"], "Stereo");
    EXPECT_EQ(t.rows()[1]["cc"], "6");
    EXPECT_EQ(t.rows()[1]["name"], "5.1");

    // A last line without LF is not stored; a header alone gives no rows.
    EXPECT_EQ(Parse("cc\tname\n2\tStereo\n6\t5.1").rows().size(), 1u);
    ZudbTable header = Parse("cc\tname\n");
    EXPECT_EQ(header.columns().size(), 2u);
    EXPECT_TRUE(header.rows().empty());
    // A header without LF: the name after the last TAB is dropped.
    EXPECT_EQ(Parse("cc\tname").columns(), std::vector<std::string>{"cc"});
    EXPECT_TRUE(Parse("").columns().empty());
}

TEST(ZudbTableTest, EmptyFieldsShortRowsAndExtraFields)
{
    ZudbTable t = Parse("a\t\tb\n1\t2\t3\n\nx\n4\t5\t6\t7\t8\n");
    ASSERT_EQ(t.columns(), (std::vector<std::string>{"a", "", "b"}));
    ASSERT_EQ(t.rows().size(), 4u);
    EXPECT_EQ(t.rows()[0][""], "2");
    // The empty line: a row whose first column is empty, nothing carried over.
    EXPECT_EQ(t.rows()[1].size(), 1u);
    EXPECT_EQ(t.rows()[1]["a"], "");
    // A short row has only its own fields.
    EXPECT_EQ(t.rows()[2].count("b"), 0u);
    EXPECT_EQ(t.rows()[2]["a"], "x");
    // Fields beyond the columns are ignored.
    EXPECT_EQ(t.rows()[3].size(), 3u);
    EXPECT_EQ(t.rows()[3]["b"], "6");
}

TEST(ZudbTableTest, CarriageReturnsStayInTheData)
{
    ZudbTable t = Parse("cc\tname\r\n2\tStereo\r\n");
    ASSERT_EQ(t.columns().size(), 2u);
    EXPECT_EQ(t.columns()[1], "name\r");
    ASSERT_EQ(t.rows().size(), 1u);
    EXPECT_EQ(t.rows()[0]["name\r"], "Stereo\r");
    // The lookup of "name" finds nothing and adds the column to the row.
    EXPECT_EQ(t.rows()[0]["name"], "");
    EXPECT_EQ(t.rows()[0].count("name"), 1u);
}

TEST(ZudbTableTest, SelectRowsAndGetColumn)
{
    ZudbTable t = Parse("cc\tname\n1\tStereo\n6\t5.1\n6\tOther\n\n");
    ZudbTable six = t.SelectRows("cc", "6");
    EXPECT_EQ(six.columns(), t.columns());
    ASSERT_EQ(six.rows().size(), 2u);
    EXPECT_EQ(six.rows()[0]["name"], "5.1");
    EXPECT_EQ(six.rows()[1]["name"], "Other");
    EXPECT_TRUE(t.SelectRows("cc", "9").rows().empty());
    EXPECT_TRUE(t.SelectRows("cc", "6 ").rows().empty());

    // The empty value selects rows whose value is empty and rows that lack
    // the column (which then gain it).
    ZudbTable empty = t.SelectRows("name", "");
    ASSERT_EQ(empty.rows().size(), 1u);
    EXPECT_EQ(t.rows()[3].count("name"), 1u);
    EXPECT_EQ(t.SelectRows("missing", "").rows().size(), 4u);

    EXPECT_EQ(t.GetColumn("name"), (std::vector<std::string>{"Stereo", "5.1", "Other", ""}));
    EXPECT_EQ(t.GetColumn("nothing"), (std::vector<std::string>{"", "", "", ""}));
}

TEST(ZudbTableTest, FilesMissingOrDamaged)
{
    TestTempDir dir;
    EXPECT_TRUE(ZudbTable(dir.file("none.zudb").c_str()).columns().empty());
    EXPECT_TRUE(ZudbTable(static_cast<const char*>(nullptr)).rows().empty());
    EXPECT_TRUE(ZudbTable(dir.path()).rows().empty()); // a folder

    // Binary bytes, NULs and a very long field are data like any other.
    std::string binary = std::string("k\tv\n", 4) + std::string("\0\x01\xff", 3) + "\t" +
                         std::string(100000, 'x') + "\n" + std::string("\xfe\t\t\t\t\n", 6);
    {
        std::ofstream out(dir.file("bin.zudb"), std::ios::binary);
        out << binary;
    }
    ZudbTable t(dir.file("bin.zudb"));
    ASSERT_EQ(t.rows().size(), 2u);
    EXPECT_EQ(t.rows()[0]["k"], std::string("\0\x01\xff", 3));
    EXPECT_EQ(t.rows()[0]["v"].size(), 100000u);
    EXPECT_EQ(t.rows()[1]["k"], "\xfe");
}

// The channel counts of the configurations' layouts (mono to 10.2).
const std::map<int, std::size_t> kChannelsOfConfiguration = {
    {1, 2}, {2, 3}, {3, 4}, {4, 4}, {5, 5}, {6, 6}, {7, 6}, {8, 7}, {9, 8}, {10, 16}};

TEST(ZudbTableTest, ShippedSurroundTable)
{
    ZudbTable table(CSoundFile::GetResourcePathString("surround.zudb"));
    ASSERT_FALSE(table.rows().empty());
    std::set<int> firstRowSeen;
    std::size_t previousCount = 0;
    for (ZudbTable::Row& row : table.rows()) {
        const int cc = std::stoi(row["cc"]);
        ASSERT_TRUE(kChannelsOfConfiguration.count(cc)) << row["cc"];
        const std::vector<std::string> indicators = split_string(row["indicators"], "|");
        EXPECT_EQ(indicators.size(), kChannelsOfConfiguration.at(cc)) << row["indicators"];
        EXPECT_FALSE(row["name"].empty());
        // Larger sets come later (they are tried first).
        EXPECT_GE(indicators.size(), previousCount) << row["indicators"];
        previousCount = indicators.size();
        // Indicators of a set are distinct, ignoring case.
        std::set<std::string> distinct;
        for (const std::string& indicator : indicators)
            EXPECT_TRUE(distinct.insert(string_to_lower(indicator)).second) << row["indicators"];
        firstRowSeen.insert(cc);
    }
    // Every configuration from stereo to 10.2 has a set, and the first row
    // of each (used to name output members) uses the upper-case style.
    for (const auto& entry : kChannelsOfConfiguration) {
        EXPECT_TRUE(firstRowSeen.count(entry.first)) << entry.first;
        ZudbTable rows = table.SelectRows("cc", std::to_string(entry.first));
        ASSERT_FALSE(rows.rows().empty());
        EXPECT_NE(rows.rows()[0]["indicators"], string_to_lower(rows.rows()[0]["indicators"]));
    }
    // 5.1 in the layout's channel order.
    EXPECT_EQ(table.SelectRows("cc", "6").rows()[0]["indicators"], ".L|.R|.C|.LFE|.Ls|.Rs");
    EXPECT_EQ(table.SelectRows("cc", "9").rows()[0]["indicators"], ".C|.Lc|.Rc|.L|.R|.Ls|.Rs|.LFE");
}

TEST(ZudbTableTest, ShippedChannelNamesCoverEveryDotIndicator)
{
    ZudbTable names(CSoundFile::GetResourcePathString("channelnames.zudb"));
    ZudbTable surround(CSoundFile::GetResourcePathString("surround.zudb"));
    ASSERT_FALSE(names.rows().empty());
    for (ZudbTable::Row& row : names.rows()) {
        EXPECT_FALSE(row["name"].empty());
        // An indicator must make a valid, anchored expression piece.
        const std::string piece = "(?i)\\" + row["indicator"] + "\\b";
        EXPECT_NO_THROW(pcre_free(regex_compile(piece.c_str()))) << piece;
        EXPECT_TRUE(regex_search(row["pattern"].c_str(), row["indicator"].c_str())) << row["pattern"];
    }
    for (ZudbTable::Row& row : surround.rows()) {
        for (const std::string& indicator : split_string(row["indicators"], "|")) {
            if (indicator[0] != '.')
                continue;
            int matches = 0;
            std::string first;
            for (ZudbTable::Row& name : names.rows()) {
                if (regex_search(name["pattern"].c_str(), indicator.c_str())) {
                    if (matches++ == 0)
                        first = name["name"];
                }
            }
            EXPECT_EQ(matches, 1) << indicator;
            EXPECT_FALSE(first.empty()) << indicator;
        }
    }
    // Partial names do not match: ".Left" and ".Ls" are not ".L".
    EXPECT_FALSE(regex_search(names.rows()[0]["pattern"].c_str(), ".Left"));
    EXPECT_FALSE(regex_search(names.rows()[0]["pattern"].c_str(), ".Ls"));
}

} // namespace
