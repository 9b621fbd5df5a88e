// The command line: what is accepted, what is refused as bad usage, and how
// --set values are typed.
#include "BatchOptions.h"

#include <gtest/gtest.h>

namespace {

BatchOptions Parse(const QStringList& arguments)
{
    return BatchOptions::parse(arguments);
}

TEST(BatchOptions, FullCommandLine)
{
    const BatchOptions o = Parse({"--conversions", "c.plist", "--conversion", "A", "--conversion=B", "--conversion",
                                  "A", "--defaults=d.plist", "--set", "Save Log=NO", "--set=Easy Thru=YES",
                                  "--quiet", "-oout", "in1", "--", "-odd name", "--info"});
    ASSERT_TRUE(o.ok()) << o.error().toStdString();
    EXPECT_FALSE(o.infoMode());
    EXPECT_TRUE(o.quiet());
    EXPECT_EQ(o.outputFolder(), "out");
    EXPECT_EQ(o.conversionsFile(), "c.plist");
    EXPECT_EQ(o.conversionNames(), QStringList({"A", "B"}));
    EXPECT_EQ(o.defaultsFile(), "d.plist");
    // After "--" everything is an input, even what looks like an option.
    EXPECT_EQ(o.inputs(), QStringList({"in1", "-odd name", "--info"}));
    ASSERT_EQ(o.settings().size(), 2);
    EXPECT_EQ(o.settings().at(0).first, "Save Log");
    EXPECT_EQ(o.settings().at(0).second, QVariant(false));
    EXPECT_EQ(o.settings().at(1).first, "Easy Thru");
    EXPECT_EQ(o.settings().at(1).second, QVariant(true));

    const BatchOptions spaced = Parse({"-o", "my out", "a", "b"});
    ASSERT_TRUE(spaced.ok());
    EXPECT_EQ(spaced.outputFolder(), "my out");
    EXPECT_EQ(spaced.inputs(), QStringList({"a", "b"}));
}

TEST(BatchOptions, InfoAndHelp)
{
    const BatchOptions info = Parse({"--set", "Unrecognized Input File Action=2", "--info", "x.wav", "y"});
    ASSERT_TRUE(info.ok());
    EXPECT_TRUE(info.infoMode());
    EXPECT_EQ(info.inputs(), QStringList({"x.wav", "y"}));

    // Help wins over everything, even over errors that follow it.
    EXPECT_TRUE(Parse({"--help"}).helpRequested());
    EXPECT_TRUE(Parse({"-h", "--bogus"}).helpRequested());
    EXPECT_TRUE(BatchOptions::help().contains("--conversions FILE"));
}

TEST(BatchOptions, BadUsageIsRefused)
{
    const QList<QStringList> bad = {
        {},                                          // nothing at all
        {"-o", "out"},                               // no inputs
        {"in"},                                      // no output folder
        {"-o", "a", "-o", "b", "in"},                // two output folders
        {"-o", "", "in"},                            // empty output folder
        {"--bogus", "-o", "out", "in"},              // unknown option
        {"-x", "-o", "out", "in"},                   // unknown short option
        {"-o", "out", "in", "--conversion"},         // value missing at the end
        {"-o", "out", "--set", "NoEquals", "in"},    // --set without "="
        {"-o", "out", "--set", "=YES", "in"},        // --set without a key
        {"-o", "out", "--conversion=", "in"},        // empty conversion name
        {"--conversions", "a", "--conversions", "b", "-o", "out", "in"},
        {"--defaults", "a", "--defaults", "b", "-o", "out", "in"},
        {"--info"},                                  // --info without inputs
        {"--info", "-o", "out", "in"},               // --info converts nothing
        {"--info", "--conversion", "A", "in"},
        {"--info", "--conversions", "c", "in"},
        {"--info=YES", "in"},                        // a flag takes no value
        {"--list-types", "in"},                      // listings take no inputs
        {"--list-conversions", "-o", "out"},
        {"--list-types", "--conversions", "c"},      // only --list-conversions reads them
        {"--version", "--list-types"},               // one listing at a time
        {"--list-conversions", "--info"},
    };
    for (const QStringList& arguments : bad) {
        const BatchOptions o = Parse(arguments);
        EXPECT_FALSE(o.ok()) << arguments.join(' ').toStdString();
        EXPECT_FALSE(o.error().isEmpty());
    }
    EXPECT_EQ(BatchOptions::kUsageExitStatus, 64);

    const BatchOptions listing = Parse({"--conversions", "c.plist", "--defaults", "d", "--list-conversions"});
    ASSERT_TRUE(listing.ok()) << listing.error().toStdString();
    EXPECT_TRUE(listing.listConversions());
    EXPECT_TRUE(Parse({"--list-types"}).listTypes());
    EXPECT_TRUE(Parse({"--version"}).versionRequested());
}

TEST(BatchOptions, SetValuesTakeThePreferencesKind)
{
    // A switch takes YES, NO, 1 or 0; a number key stores a number.
    const BatchOptions o = Parse({"--set", "Easy Thru=1", "--set", "Save Log=NO", "--set",
                                  "Unrecognized Input File Sample Rate=8000", "--set", "Unrecognized Input File Type=21-4",
                                  "-o", "out", "in"});
    ASSERT_TRUE(o.ok()) << o.error().toStdString();
    ASSERT_EQ(o.settings().size(), 4);
    EXPECT_EQ(o.settings().at(0).second, QVariant(true));
    EXPECT_EQ(o.settings().at(1).second, QVariant(false));
    EXPECT_EQ(o.settings().at(2).second.typeId(), QMetaType::Double);
    EXPECT_EQ(o.settings().at(3).second, QVariant(QString("21-4")));  // text stays text
    EXPECT_FALSE(Parse({"--set", "Easy Thru=2", "-o", "out", "in"}).ok());
}

TEST(BatchOptions, SetValuesAreTyped)
{
    EXPECT_EQ(BatchOptions::defaultValueFromText("YES"), QVariant(true));
    EXPECT_EQ(BatchOptions::defaultValueFromText("NO"), QVariant(false));
    const QVariant whole = BatchOptions::defaultValueFromText("-42");
    EXPECT_EQ(whole.typeId(), QMetaType::LongLong);
    EXPECT_EQ(whole.toLongLong(), -42);
    const QVariant real = BatchOptions::defaultValueFromText("44100.5");
    EXPECT_EQ(real.typeId(), QMetaType::Double);
    EXPECT_DOUBLE_EQ(real.toDouble(), 44100.5);
    // A switch in any case, and as true or false.
    for (const char* yes : {"yes", "Yes", "true", "TRUE"})
        EXPECT_EQ(BatchOptions::defaultValueFromText(yes), QVariant(true)) << yes;
    for (const char* no : {"no", "No", "false", "False"})
        EXPECT_EQ(BatchOptions::defaultValueFromText(no), QVariant(false)) << no;
    EXPECT_TRUE(Parse({"--set", "Number Duplicate Files=yes", "-o", "out", "in"}).ok());
    // Text stays text: other spellings, codes and the empty value.
    EXPECT_EQ(BatchOptions::defaultValueFromText("yess"), QVariant(QString("yess")));
    EXPECT_EQ(BatchOptions::defaultValueFromText("'DPCM'"), QVariant(QString("'DPCM'")));
    EXPECT_EQ(BatchOptions::defaultValueFromText(""), QVariant(QString("")));
    EXPECT_EQ(BatchOptions::defaultValueFromText("1,5"), QVariant(QString("1,5")));
}

}  // namespace
