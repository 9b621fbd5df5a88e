#include "PropertyList.h"

#include "TestTempDir.h"

#include <QDateTime>
#include <QFile>
#include <QPoint>
#include <QVariantList>
#include <QVariantMap>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

QVariantMap everyType()
{
    QVariantMap inner;
    inner.insert(QStringLiteral("empty list"), QVariantList());
    inner.insert(QStringLiteral("empty map"), QVariantMap());
    inner.insert(QStringLiteral("empty string"), QString());
    inner.insert(QStringLiteral("empty data"), QByteArray());

    QVariantMap m;
    m.insert(QStringLiteral("string"), QStringLiteral("Caf\u00e9 <&> \u2122 \U0001F3B5"));
    m.insert(QStringLiteral("integer"), qlonglong(-1234567890123LL));
    m.insert(QStringLiteral("int max"), std::numeric_limits<qlonglong>::max());
    m.insert(QStringLiteral("int min"), std::numeric_limits<qlonglong>::min());
    m.insert(QStringLiteral("zero"), qlonglong(0));
    m.insert(QStringLiteral("real"), 0.1);
    m.insert(QStringLiteral("negative real"), -3.0517578125e-05);
    m.insert(QStringLiteral("true"), true);
    m.insert(QStringLiteral("false"), false);
    QByteArray bytes;
    for (int i = 0; i < 300; ++i)
        bytes.append(static_cast<char>(i & 0xFF));
    m.insert(QStringLiteral("data"), bytes);
    m.insert(QStringLiteral("date"), QDateTime(QDate(2026, 12, 7), QTime(4, 26, 52), Qt::UTC));
    m.insert(QStringLiteral("old date"), QDateTime(QDate(1990, 2, 3), QTime(1, 2, 3), Qt::UTC));
    m.insert(QStringLiteral("array"), QVariantList{QStringLiteral("a"), qlonglong(1), 2.5, false,
                                                    QVariantList{QStringLiteral("nested")}});
    m.insert(QStringLiteral("dict"), inner);
    m.insert(QStringLiteral("\u00e9 key"), QStringLiteral("non-ASCII key"));
    return m;
}

// Compares by property-list meaning: integers as qlonglong, reals as double.
void expectSame(const QVariant& expected, const QVariant& actual, const std::string& where)
{
    SCOPED_TRACE(where);
    const int id = expected.metaType().id();
    if (id == QMetaType::QVariantMap) {
        ASSERT_EQ(actual.metaType().id(), QMetaType::QVariantMap);
        const QVariantMap e = expected.toMap(), a = actual.toMap();
        ASSERT_EQ(e.keys(), a.keys());
        for (auto it = e.constBegin(); it != e.constEnd(); ++it)
            expectSame(it.value(), a.value(it.key()), where + "/" + it.key().toStdString());
    } else if (id == QMetaType::QVariantList) {
        ASSERT_EQ(actual.metaType().id(), QMetaType::QVariantList);
        const QVariantList e = expected.toList(), a = actual.toList();
        ASSERT_EQ(e.size(), a.size());
        for (qsizetype i = 0; i < e.size(); ++i)
            expectSame(e[i], a[i], where + "[" + std::to_string(i) + "]");
    } else if (id == QMetaType::LongLong) {
        ASSERT_EQ(actual.metaType().id(), QMetaType::LongLong);
        EXPECT_EQ(expected.toLongLong(), actual.toLongLong());
    } else if (id == QMetaType::Double) {
        ASSERT_EQ(actual.metaType().id(), QMetaType::Double);
        EXPECT_EQ(expected.toDouble(), actual.toDouble());
    } else {
        ASSERT_EQ(actual.metaType().id(), id);
        EXPECT_EQ(expected, actual);
    }
}

TEST(PropertyList, XmlAndBinaryRoundTripsKeepEveryType)
{
    const QVariantMap original = everyType();
    for (auto format : {PropertyList::Format::Xml, PropertyList::Format::Binary}) {
        QString error;
        const QByteArray bytes = PropertyList::toData(original, format, &error);
        ASSERT_FALSE(bytes.isEmpty()) << error.toStdString();
        if (format == PropertyList::Format::Xml)
            EXPECT_TRUE(bytes.startsWith("<?xml"));
        else
            EXPECT_TRUE(bytes.startsWith("bplist00"));
        const QVariant back = PropertyList::fromData(bytes, &error);
        ASSERT_TRUE(back.isValid()) << error.toStdString();
        expectSame(original, back, format == PropertyList::Format::Xml ? "xml" : "binary");
    }
}

TEST(PropertyList, NarrowerQtTypesAreWrittenAsTheirPropertyListKind)
{
    const QVariantList in{QVariant(int(-5)), QVariant(uint(7)), QVariant(float(0.5f)),
                          QVariant(QStringList{QStringLiteral("x"), QStringLiteral("y")})};
    const QVariantList out = PropertyList::fromData(PropertyList::toXml(in)).toList();
    ASSERT_EQ(out.size(), 4);
    EXPECT_EQ(out[0].metaType().id(), QMetaType::LongLong);
    EXPECT_EQ(out[0].toLongLong(), -5);
    EXPECT_EQ(out[1].toLongLong(), 7);
    EXPECT_EQ(out[2].metaType().id(), QMetaType::Double);
    EXPECT_EQ(out[2].toDouble(), 0.5);
    EXPECT_EQ(out[3].toList(), (QVariantList{QStringLiteral("x"), QStringLiteral("y")}));
}

TEST(PropertyList, DatesKeepSecondsInXmlAndMicrosecondsInBinaryAndRefuseWhatWouldWrap)
{
    const QDateTime withMs(QDate(2010, 5, 6), QTime(7, 8, 9, 250), Qt::UTC);
    EXPECT_EQ(PropertyList::fromData(PropertyList::toBinary(withMs)).toDateTime(), withMs);
    EXPECT_EQ(PropertyList::fromData(PropertyList::toXml(withMs)).toDateTime(), withMs.addMSecs(-250));
    // Before 2001 whole seconds, rounded down, in both forms.
    for (int ms : {0, 1, 500, 999}) {
        const QDateTime before2001(QDate(1999, 12, 31), QTime(23, 59, 58, ms), Qt::UTC);
        const QDateTime expected(QDate(1999, 12, 31), QTime(23, 59, 58), Qt::UTC);
        EXPECT_EQ(PropertyList::fromData(PropertyList::toBinary(before2001)).toDateTime(), expected) << ms;
        EXPECT_EQ(PropertyList::fromData(PropertyList::toXml(before2001)).toDateTime(), expected) << ms;
    }
    const QDateTime lastSecond(QDate(2000, 12, 31), QTime(23, 59, 59, 400), Qt::UTC);
    EXPECT_EQ(PropertyList::fromData(PropertyList::toBinary(lastSecond)).toDateTime(), lastSecond.addMSecs(-400));

    QString error;
    EXPECT_TRUE(PropertyList::toXml(QDateTime(QDate(2100, 1, 1), QTime(0, 0), Qt::UTC), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(PropertyList::toXml(QDateTime()).isEmpty());
}

TEST(PropertyList, ValuesWithoutAPropertyListFormAreRefused)
{
    QString error;
    EXPECT_TRUE(PropertyList::toXml(QVariant(), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    QVariantMap m;
    m.insert(QStringLiteral("bad"), QVariantList{QVariant::fromValue(QPoint(1, 2))});
    EXPECT_TRUE(PropertyList::toBinary(m, &error).isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("bad"))) << error.toStdString();
    EXPECT_FALSE(PropertyList::isPropertyListValue(m));
    // A string with a NUL cannot be written without losing its tail.
    EXPECT_TRUE(PropertyList::toXml(QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b"))).isEmpty());
    EXPECT_TRUE(PropertyList::toXml(QVariant(std::numeric_limits<qulonglong>::max())).isEmpty());
    EXPECT_TRUE(PropertyList::isPropertyListValue(QVariant(qulonglong(5))));
}

TEST(PropertyList, RealsKeepFullPrecisionAndSpecialValues)
{
    const QVariantList in{1.0 / 3.0, 1e-300, -0.0, std::numeric_limits<double>::infinity()};
    for (const QByteArray& bytes : {PropertyList::toXml(in), PropertyList::toBinary(in)}) {
        const QVariantList out = PropertyList::fromData(bytes).toList();
        ASSERT_EQ(out.size(), in.size());
        EXPECT_EQ(out[0].toDouble(), 1.0 / 3.0);
        EXPECT_EQ(out[1].toDouble(), 1e-300);
        EXPECT_TRUE(std::isinf(out[3].toDouble()));
    }
}

TEST(PropertyList, MalformedInputIsRefusedWithoutCrashing)
{
    QString error;
    EXPECT_FALSE(PropertyList::fromData(QByteArray(), &error).isValid());
    EXPECT_FALSE(PropertyList::fromData("not a plist at all", &error).isValid());
    EXPECT_FALSE(error.isEmpty());

    // Every truncation of a binary and an XML list, and every single-byte
    // corruption of the binary one: never a crash.
    const QByteArray binary = PropertyList::toBinary(everyType());
    const QByteArray xml = PropertyList::toXml(everyType());
    for (qsizetype n = 0; n < binary.size(); ++n)
        (void)PropertyList::fromData(binary.left(n));
    for (qsizetype n = 0; n < xml.size(); n += 7)
        (void)PropertyList::fromData(xml.left(n));
    for (qsizetype i = 0; i < binary.size(); ++i) {
        QByteArray bad = binary;
        bad[i] = static_cast<char>(bad[i] ^ 0xA5);
        (void)PropertyList::fromData(bad);
    }

    // A binary dictionary whose key, or whose string value, holds a NUL
    // (libplist would assert on the key): refused, or read whole.
    auto dict = [](char keyMiddle, char valueMiddle) {
        QByteArray b("bplist00", 8);
        b += QByteArray("\xD1\x01\x02", 3);                       // {key: value}
        b += QByteArray("\x53" "a", 2) + keyMiddle + 'b';            // 3 ASCII characters
        b += QByteArray("\x53" "x", 2) + valueMiddle + 'y';
        b += QByteArray("\x08\x0B\x0F", 3);                        // offsets
        b += QByteArray(6, '\0') + QByteArray("\x01\x01", 2);
        b += QByteArray(7, '\0') + '\x03' + QByteArray(8, '\0') + QByteArray(7, '\0') + '\x13';
        return b;
    };
    EXPECT_EQ(PropertyList::fromData(dict('-', '-')).toMap().value("a-b").toString(), "x-y");
    EXPECT_FALSE(PropertyList::fromData(dict('\0', '-'), &error).isValid());
    EXPECT_FALSE(PropertyList::fromData(dict('-', '\0')).isValid());
}

TEST(PropertyList, DeepNestingIsRefused)
{
    QByteArray xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < PropertyList::kMaxDepth + 10; ++i)
        xml += "<array>";
    for (int i = 0; i < PropertyList::kMaxDepth + 10; ++i)
        xml += "</array>";
    xml += "</plist>";
    QString error;
    EXPECT_FALSE(PropertyList::fromData(xml, &error).isValid());

    QVariant deep = QVariantList();
    for (int i = 0; i < PropertyList::kMaxDepth + 10; ++i)
        deep = QVariantList{deep};
    EXPECT_TRUE(PropertyList::toXml(deep).isEmpty());
}

TEST(PropertyList, ReadsFiles)
{
    TestTempDir dir;
    const QString path = QString::fromStdString(dir.file("list.plist"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::NewOnly));
        f.write(PropertyList::toBinary(QVariantMap{{QStringLiteral("k"), QStringLiteral("v")}}));
    }
    EXPECT_EQ(PropertyList::fromFile(path).toMap().value(QStringLiteral("k")).toString(), QStringLiteral("v"));
    QString error;
    EXPECT_FALSE(PropertyList::fromFile(QString::fromStdString(dir.file("missing")), &error).isValid());
    EXPECT_FALSE(error.isEmpty());
}

TEST(PropertyList, AUidReadsAsTheKeyedArchiveDictionary)
{
    // bplist00 with one UID object (0x80 = UID of one byte, value 5).
    QByteArray bin("bplist00", 8);
    bin.append('\x80');
    bin.append('\x05');
    const int offsetTablePos = bin.size();
    bin.append('\x08');  // object 0 at offset 8
    QByteArray trailer(32, '\0');
    trailer[6] = 1;   // offset int size
    trailer[7] = 1;   // object ref size
    trailer[15] = 1;  // number of objects
    trailer[31] = static_cast<char>(offsetTablePos);
    bin.append(trailer);
    const QVariant v = PropertyList::fromData(bin);
    ASSERT_EQ(v.metaType().id(), QMetaType::QVariantMap);
    EXPECT_EQ(v.toMap().value(QStringLiteral("CF$UID")).toLongLong(), 5);
}

}  // namespace
