// The list of file-manager files a batch skips.
#include "dot_ignore.h"

#include <gtest/gtest.h>

TEST(DotIgnoreTest, ParsesLinesAsTheResourceHoldsThem)
{
    EXPECT_EQ(ParseDotIgnoreText(QStringLiteral("  .DS_Store\n\n\t.directory\nIcon\r\nlast")),
              (QStringList{".DS_Store", ".directory", "Icon\r", "last"}));
    EXPECT_TRUE(ParseDotIgnoreText(QStringLiteral(" \n\r\n")).isEmpty());
}

TEST(DotIgnoreTest, ResourceListsTheFileManagersFiles)
{
    for (const char* name : {".DS_Store", "Thumbs.db", ".directory", "desktop.ini", ".localized", "Icon\r",
                             ".Spotlight-V100", ".Trashes", ".fseventsd", ".TemporaryItems", "$RECYCLE.BIN",
                             ".AppleDouble", "lost+found"})
        EXPECT_TRUE(IsDotIgnoredName(QString::fromLatin1(name))) << name;
    for (const char* name : {"Icon", ".DS_Store ", "take.aif", ".hidden-take.aif", ""})
        EXPECT_FALSE(IsDotIgnoredName(QString::fromLatin1(name))) << name;
}
