#include "MacRoman.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(MacRoman, EncodesAndDecodesTheMacCharacters)
{
    bool lossless = false;
    const QByteArray roman = MacRoman::fromUnicode(QStringLiteral("Caf\u00e9 \u2122 \u0192 \u20ac \u00df"), &lossless);
    EXPECT_TRUE(lossless);
    EXPECT_EQ(roman, QByteArray("Caf\x8E \xAA \xC4 \xDB \xA7"));
    EXPECT_EQ(MacRoman::toUnicode(roman), QStringLiteral("Caf\u00e9 \u2122 \u0192 \u20ac \u00df"));

    // Every byte value decodes, and re-encodes to itself.
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = MacRoman::toUnicode(all);
    EXPECT_EQ(MacRoman::fromUnicode(text, &lossless), all);
    EXPECT_TRUE(lossless);

    // ASCII, NUL and control characters included, is its own encoding
    // through every entry point.
    QByteArray ascii;
    for (int b = 0; b < 128; ++b)
        ascii.append(static_cast<char>(b));
    const std::string asciiText = ascii.toStdString();
    EXPECT_EQ(MacRoman::toUnicode(ascii), QString::fromLatin1(ascii));
    lossless = false;
    EXPECT_EQ(MacRoman::fromUnicode(QString::fromLatin1(ascii), &lossless), ascii);
    EXPECT_TRUE(lossless);
    EXPECT_EQ(MacRoman::toUtf8(asciiText.data(), asciiText.size()), asciiText);
    lossless = false;
    EXPECT_EQ(MacRoman::fromUtf8(asciiText, &lossless), asciiText);
    EXPECT_TRUE(lossless);
}

TEST(MacRoman, NormalisesDecomposedInputAndReplacesWhatItCannotHold)
{
    bool lossless = false;
    EXPECT_EQ(MacRoman::fromUnicode(QStringLiteral("e\u0301"), &lossless), QByteArray("\x8E"));
    EXPECT_TRUE(lossless);
    EXPECT_EQ(MacRoman::fromUtf8("Re\xCC\x81sume\xCC\x81"), std::string("R\x8Esum\x8E"));

    // One "?" per character, also for characters outside the BMP.
    EXPECT_EQ(MacRoman::fromUnicode(QStringLiteral("a\u4e2db\U0001F3B5c\u0416"), &lossless), QByteArray("a?b?c?"));
    EXPECT_FALSE(lossless);
    // A combining mark with no precomposed form stays a mark: "?".
    EXPECT_EQ(MacRoman::fromUnicode(QStringLiteral("q\u0301")), QByteArray("q?"));
    // Broken UTF-8 input: a "?" for the stray byte, the rest converted.
    EXPECT_EQ(MacRoman::fromUtf8(std::string_view("x\xFFy\xC3", 4), &lossless), std::string("x?y?"));
    EXPECT_FALSE(lossless);
    // Long input crosses the converter's internal buffer boundaries.
    const QString longText = QString(1000, QChar(0x00e9)) + QChar(0x4e2d) + QString(1000, QLatin1Char('z'));
    const QByteArray longRoman = MacRoman::fromUnicode(longText);
    ASSERT_EQ(longRoman.size(), 2001);
    EXPECT_EQ(longRoman.at(999), '\x8E');
    EXPECT_EQ(longRoman.at(1000), '?');
    EXPECT_EQ(longRoman.at(1001), 'z');
    EXPECT_EQ(MacRoman::toUnicode(longRoman).size(), 2001);
}

TEST(MacRoman, PascalStrings)
{
    unsigned char str[256];
    memset(str, 0xEE, sizeof str);
    EXPECT_TRUE(MacRoman::toPascal(QStringLiteral("Scanning file"), str));
    EXPECT_EQ(str[0], 13);
    EXPECT_EQ(std::memcmp(str + 1, "Scanning file", 13), 0);
    EXPECT_EQ(MacRoman::fromPascal(str), QStringLiteral("Scanning file"));

    // Cut to the given maximum, reported, never written past it.
    unsigned char str31[32 + 1];
    str31[32] = 0x5A;
    EXPECT_FALSE(MacRoman::toPascal(QString(40, QChar(0x00e9)), str31, 31));
    EXPECT_EQ(str31[0], 31);
    EXPECT_EQ(str31[31], 0x8E);
    EXPECT_EQ(str31[32], 0x5A);
    EXPECT_FALSE(MacRoman::toPascal(QString(300, QLatin1Char('x')), str, 999));  // clamped to 255
    EXPECT_EQ(str[0], 255);

    // A length byte larger than the buffer is clamped to the buffer.
    unsigned char shortBuf[4] = {200, 'a', 'b', 'c'};
    EXPECT_EQ(MacRoman::fromPascal(shortBuf, sizeof shortBuf), QStringLiteral("abc"));

    const QByteArray p = MacRoman::pascalBytes(QStringLiteral("\u2122x"));
    EXPECT_EQ(p, QByteArray("\x02\xAAx"));
    EXPECT_EQ(MacRoman::fromPascal(reinterpret_cast<const unsigned char*>(p.constData())), QStringLiteral("\u2122x"));
    EXPECT_EQ(MacRoman::fromPascal(nullptr), QString());
}

}  // namespace
