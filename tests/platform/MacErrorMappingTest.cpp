#include "MacErrorMapping.h"
#include "MacTypes.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(MacErrorMapping, ErrnoValuesBecomeTheMacCodes)
{
    const struct {
        int errnoValue;
        OSErr expected;
    } cases[] = {
        {0, noErr},         {ENOENT, -43},       {EEXIST, -48},  {ENOSPC, -34},
        {EDQUOT, -34},      {EIO, -36},          {EACCES, -54},  {EPERM, -54},
        {EROFS, -44},       {ENAMETOOLONG, -37}, {EMFILE, -42},  {ENFILE, -42},
        {EINVAL, -50},      {EXDEV, -36},        {EBADF, -36},   {ELOOP, -36},
        {12345, -36},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MacErrorFromErrno(c.errnoValue), c.expected) << "errno " << c.errnoValue;
    errno = ENOENT;
    EXPECT_EQ(MacErrorFromLastErrno(), fnfErr);
}

TEST(MacErrorMapping, NarrowingNeverTurnsAnErrorIntoSuccess)
{
    EXPECT_EQ(NarrowErr(0), noErr);
    EXPECT_EQ(NarrowErr(-43), -43);
    EXPECT_EQ(NarrowErr(-22004), -22004);
    EXPECT_EQ(NarrowErr(25001), 25001);
    EXPECT_EQ(NarrowErr(INT16_MIN), INT16_MIN);
    EXPECT_EQ(NarrowErr(INT16_MAX), INT16_MAX);
    // Codes whose low 16 bits are zero must stay errors.
    EXPECT_EQ(NarrowErr(0x10000), ioErr);
    EXPECT_EQ(NarrowErr(-65536), ioErr);
    EXPECT_EQ(NarrowErr(INT32_MIN), ioErr);
    // Other wide codes keep their low bits, which are non-zero.
    EXPECT_EQ(NarrowErr(0x12345), OSErr(0x2345));
    EXPECT_NE(NarrowErr(0x4E554C50), noErr);  // 'NULP'
    for (SInt32 code : {0x20000, 0x7FFF0000, -0x7FFF0000, 0x00018000})
        EXPECT_NE(NarrowErr(code), noErr) << code;
}

TEST(MacTypes, FourCharCodesConvertBothWays)
{
    EXPECT_EQ(FourCharCodeFromString("AIFF"), 0x41494646u);
    EXPECT_EQ(FOUR_CHAR_CODE("AIFF"), 0x41494646u);
    EXPECT_EQ(FourCharCodeToString(0x41494646u), "AIFF");
    EXPECT_EQ(FourCharCodeToString(0), std::string(4, '\0'));
    // Bytes above 0x7F are unsigned.
    EXPECT_EQ(FourCharCodeFromString("ABC\xA9"), 0x414243A9u);
    EXPECT_EQ(FourCharCodeToString(0x414243A9u), "ABC\xA9");
    // Short texts are padded with NULs; longer ones use the first four bytes.
    EXPECT_EQ(FourCharCodeFromString("ab"), 0x61620000u);
    EXPECT_EQ(FourCharCodeFromString("WAVEFORM"), FOUR_CHAR_CODE("WAVE"));
    EXPECT_EQ(FourCharCodeToDisplay(FOUR_CHAR_CODE(" paf")), "' paf'");
    EXPECT_EQ(FourCharCodeToDisplay(0x41000142u), "'A\\x00\\x01B'");
    for (FourCharCode code : {0u, 1u, 0xFFFFFFFFu, 0x80000000u, FOUR_CHAR_CODE("Sd2f")})
        EXPECT_EQ(FourCharCodeFromString(FourCharCodeToString(code)), code);
}
