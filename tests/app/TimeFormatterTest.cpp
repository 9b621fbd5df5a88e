// The time formatter's texts and their reading, both ways over one table,
// and the file-operation handler's log line.
#include "FileOperationHandler.h"
#include "TimeFormatter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct TimeCase {
    bool noHours;
    int precision;
    double seconds;      // formatted ...
    const char* text;    // ... gives this text, which reads back as
    double readBack;     // this value
};

class TimeFormatterTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(TimeFormatterTest, FormatsAndReadsBack)
{
    const TimeCase& c = GetParam();
    TimeFormatter f;
    f.setNoHours(c.noHours);
    f.setPrecision(c.precision);
    const QString text = f.stringForObjectValue(c.seconds);
    EXPECT_EQ(text.toStdString(), c.text);
    double value = -1;
    QString error = QStringLiteral("x");
    ASSERT_TRUE(f.getObjectValue(&value, text, &error)) << c.text;
    EXPECT_NEAR(value, c.readBack, 1e-9);
    EXPECT_TRUE(error.isEmpty());
    // What is shown is stable: formatting the value read gives the same text.
    EXPECT_EQ(f.stringForObjectValue(value), text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TimeFormatterTest,
    ::testing::Values(
        TimeCase{false, 0, 3723.5, "01:02:03.500", 3723.5},
        TimeCase{false, 0, 0.0, "00:00:00.000", 0.0},
        TimeCase{false, 7, 59.9996, "00:01:00.000", 60.0},          // precision is not used with hours
        TimeCase{false, 0, 3599.9996, "01:00:00.000", 3600.0},      // carries into the hour
        TimeCase{false, 0, 360000.25, "100:00:00.250", 360000.25},
        TimeCase{true, 3, 123.5, "2:03.500", 123.5},
        TimeCase{true, 3, 59.9996, "1:00.000", 60.0},               // never 0:60.000
        TimeCase{true, 3, 59.9994, "0:59.999", 59.999},
        TimeCase{true, 0, 59.96, "1:00", 60.0},
        TimeCase{true, 0, 59.4, "0:59", 59.0},
        TimeCase{true, 1, 119.96, "2:00.0", 120.0},
        TimeCase{true, 2, 7325.125, "122:05.13", 7325.13},
        TimeCase{true, 3, -90.25, "-1:30.250", -90.25},
        TimeCase{true, 3, -0.0001, "0:00.000", 0.0}));

TEST(TimeFormatterParsing, RefusesWhatIsNoTime)
{
    TimeFormatter withHours;
    TimeFormatter noHours;
    noHours.setNoHours(true);
    double v = 7;
    QString error;
    EXPECT_TRUE(noHours.getObjectValue(&v, QString(), &error));
    EXPECT_EQ(v, 0.0) << "an empty text is 0";
    EXPECT_TRUE(noHours.getObjectValue(&v, QStringLiteral(" 2 : 03.5 "), &error));
    EXPECT_EQ(v, 123.5);
    for (const char* bad : {"12", ":12", "1:", "a:12", "1:2:3", "1:2x", "--1:00", "1e3:00"}) {
        error.clear();
        EXPECT_FALSE(noHours.getObjectValue(&v, QString::fromLatin1(bad), &error)) << bad;
        EXPECT_EQ(error, QStringLiteral("invalid time format")) << bad;
    }
    for (const char* bad : {"12", "1:2", ":1:2", "1::2", "1:2:", "x:1:2"})
        EXPECT_FALSE(withHours.getObjectValue(&v, QString::fromLatin1(bad), &error)) << bad;
    EXPECT_TRUE(withHours.stringForObjectValue(QStringLiteral("not a number")).isNull());
    EXPECT_TRUE(withHours.stringForObjectValue(std::nan("")).isNull());
}

TEST(FileOperationHandlerTest, LogsTheFailedMoveAndStops)
{
    FileOperationHandler handler;
    QVariantMap info{{QStringLiteral("Error"), QStringLiteral("-48")},
                     {QStringLiteral("Path"), QStringLiteral("/out/a.QuillOutFile")}};
    EXPECT_EQ(FileOperationHandler::errorText(info).toStdString(),
              "FileOperationHandler::shouldProceedAfterError: -48 '/out/a.QuillOutFile'");
    info.insert(QStringLiteral("ToPath"), QStringLiteral("/out/a.aif"));
    EXPECT_EQ(FileOperationHandler::errorText(info).toStdString(),
              "FileOperationHandler::shouldProceedAfterError: -48 '/out/a.QuillOutFile' to '/out/a.aif'");
    EXPECT_FALSE(handler.shouldProceedAfterError(info));
}

}  // namespace
