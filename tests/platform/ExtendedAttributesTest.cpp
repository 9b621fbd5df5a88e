#include "ExtendedAttributes.h"
#include "PlatformTestUtil.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

TEST(ExtendedAttributes, CommentRoundTrip)
{
    TestTempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.file("f"), "x"));
    const QByteArray comment = "converted \xC3\xA9 44.1 kHz";
    const OSErr set = SetExtendedAttribute(dir.file("f"), kCommentAttributeName, comment);
    if (set == errFSOperationNotSupported)
        GTEST_SKIP() << "no user extended attributes on the test folder's file system";
    ASSERT_EQ(set, noErr);
    QByteArray value;
    ASSERT_EQ(GetExtendedAttribute(dir.file("f"), kCommentAttributeName, &value), noErr);
    EXPECT_EQ(value, comment);
    ASSERT_EQ(SetExtendedAttribute(dir.file("f"), kCommentAttributeName, "short"), noErr);
    ASSERT_EQ(GetExtendedAttribute(dir.file("f"), kCommentAttributeName, &value), noErr);
    EXPECT_EQ(value, "short");
    ASSERT_EQ(SetExtendedAttribute(dir.file("f"), kCommentAttributeName, QByteArray()), noErr);
    ASSERT_EQ(GetExtendedAttribute(dir.file("f"), kCommentAttributeName, &value), noErr);
    EXPECT_TRUE(value.isEmpty());
    ASSERT_EQ(RemoveExtendedAttribute(dir.file("f"), kCommentAttributeName), noErr);
    EXPECT_EQ(GetExtendedAttribute(dir.file("f"), kCommentAttributeName, &value), errFSAttributeNotFound);
    EXPECT_EQ(RemoveExtendedAttribute(dir.file("f"), kCommentAttributeName), errFSAttributeNotFound);
    EXPECT_EQ(GetExtendedAttribute(dir.file("missing"), kCommentAttributeName, &value), fnfErr);
    EXPECT_EQ(SetExtendedAttribute(dir.file("missing"), kCommentAttributeName, "x"), fnfErr);
}

TEST(ExtendedAttributes, FileSystemsWithoutUserAttributesAreReportedAsSuch)
{
    // procfs has no user attributes.
    QByteArray value;
    const OSErr err = GetExtendedAttribute("/proc/self/status", kCommentAttributeName, &value);
    if (err != errFSOperationNotSupported)
        GTEST_SKIP() << "procfs answers " << err << " here";
    EXPECT_EQ(SetExtendedAttribute("/proc/self/status", kCommentAttributeName, "x"), errFSOperationNotSupported);
}
