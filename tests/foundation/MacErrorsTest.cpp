#include "mac_errors.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

QString NameOf(const QVariantMap& d, int code)
{
    return d.value(QString::number(code)).toMap().value(QStringLiteral("name")).toString();
}

QVariant DescriptionOf(const QVariantMap& d, int code)
{
    return d.value(QString::number(code)).toMap().value(QStringLiteral("description"));
}

TEST(MacErrorsDictionary, ParsesTheHeaderLineForm)
{
    const QVariantMap d = ParseMacErrorsText(QStringLiteral(
        "#define __MACERRORS__\n"
        "enum {\n"
        "  fnfErr                        = -43,  /*File not found */\n"
        "  otherFnfErr = -43, /* later lines for a code are ignored */\n"
        "\tdupFNErr\t= -48,\t/* duplicate filename */\r\n"
        "  noNumberErr = ,   /* nothing */\n"
        "  bareErr = -5000,\n"
        "  closerErr = -7, /* no closer\n"
        "  emptyErr = -8, /* */\n"
        "\n\n   plusErr = +12, /*x*/  \n"
        "  hugeErr = 99999999999999, /* saturates */\n"
        "};\n"));
    EXPECT_EQ(NameOf(d, -43), QStringLiteral("fnfErr"));
    EXPECT_EQ(DescriptionOf(d, -43).toString(), QStringLiteral("File not found "));
    EXPECT_EQ(NameOf(d, -48), QStringLiteral("dupFNErr"));
    EXPECT_EQ(DescriptionOf(d, -48).toString(), QStringLiteral("duplicate filename "));
    EXPECT_EQ(NameOf(d, -5000), QStringLiteral("bareErr"));
    EXPECT_FALSE(DescriptionOf(d, -5000).isValid());
    EXPECT_EQ(DescriptionOf(d, -7).toString(), QStringLiteral("no closer"));
    EXPECT_FALSE(DescriptionOf(d, -8).isValid());
    EXPECT_EQ(NameOf(d, 12), QStringLiteral("plusErr"));
    EXPECT_EQ(NameOf(d, 2147483647), QStringLiteral("hugeErr"));
    EXPECT_EQ(d.size(), 7);  // no entry from the preprocessor, enum or number-less lines
    EXPECT_TRUE(LoadMacErrorsDictionaryFromFile(QStringLiteral("/nonexistent/MacErrors.h")).isEmpty());
}

// Every result code the platform layer declares has its own name in our
// MacErrors.h, so that the log can name it.
TEST(MacErrorsDictionary, NamesEveryCodeOfThePlatformLayer)
{
    const QVariantMap d = LoadMacErrorsDictionary();
    ASSERT_FALSE(d.isEmpty());
    EXPECT_EQ(NameOf(d, -43), QStringLiteral("fnfErr"));
    EXPECT_EQ(DescriptionOf(d, -43).toString(), QStringLiteral("File not found "));

    const QDir platform(QStringLiteral(QM_SOURCE_RESOURCES "/../src/platform"));
    const QRegularExpression declaration(
        QStringLiteral(R"(constexpr\s+(?:OSErr|OSStatus)\s+(\w+)\s*=\s*(-?\d+)\s*;)"));
    int checked = 0;
    for (const QString& header : platform.entryList({QStringLiteral("*.h")}, QDir::Files)) {
        QFile file(platform.filePath(header));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        auto matches = declaration.globalMatch(text);
        while (matches.hasNext()) {
            const auto m = matches.next();
            EXPECT_EQ(NameOf(d, m.captured(2).toInt()), m.captured(1)) << header.toStdString();
            ++checked;
        }
    }
    EXPECT_GT(checked, 40);
}

} // namespace
