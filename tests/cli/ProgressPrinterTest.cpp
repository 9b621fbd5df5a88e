// The progress text: one rewritten line on a terminal, plain lines on
// change otherwise.
#include "ProgressPrinter.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Everything written to a temporary stream.
QString Written(std::FILE* stream)
{
    std::fflush(stream);
    const long size = std::ftell(stream);
    std::rewind(stream);
    QByteArray bytes(size, '\0');
    EXPECT_EQ(std::fread(bytes.data(), 1, size_t(size), stream), size_t(size));
    std::fseek(stream, 0, SEEK_END);
    return QString::fromUtf8(bytes);
}

ProgressPrinter::Snapshot Snap(int conversion, int file, const QString& step, int percent)
{
    ProgressPrinter::Snapshot s;
    s.conversion = conversion;
    s.conversionName = "CD quality";
    s.file = file;
    s.filePath = "/music/take " + QString::number(file) + ".wav";
    s.step = step;
    s.percent = percent;
    return s;
}

TEST(ProgressPrinter, LineText)
{
    const ProgressPrinter printer(stderr, false, 0, 2, 12);
    EXPECT_EQ(printer.line(Snap(1, 3, "Copying", 45)), "[1/2] CD quality | file 3/12 take 3.wav | Copying 45%");
    EXPECT_EQ(printer.line(Snap(2, 0, "", -1)), "[2/2] CD quality");
    const ProgressPrinter unknownTotals(stderr, false, 0, 0, 0);
    EXPECT_EQ(unknownTotals.line(Snap(1, 1, "", -1)), "[1] CD quality | file 1 take 1.wav");
    // Cut to the width, with an ellipsis, leaving the last column free.
    const ProgressPrinter narrow(stderr, true, 20, 2, 12);
    const QString cut = narrow.line(Snap(1, 3, "Copying", 45));
    EXPECT_EQ(cut.size(), 19);
    EXPECT_TRUE(cut.endsWith(QChar(0x2026)));
}

TEST(ProgressPrinter, TerminalRewritesOneLine)
{
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    {
        ProgressPrinter printer(stream, true, 200, 1, 1);
        printer.update(Snap(0, 0, "", -1));  // nothing before the first conversion
        printer.update(Snap(1, 1, "Copying", 10));
        printer.update(Snap(1, 1, "Copying", 10));  // unchanged: not written again
        printer.update(Snap(1, 1, "Copying", 20));
        printer.warnings({"'x' duplicate filename error"});
        printer.finish();
    }
    EXPECT_EQ(Written(stream), "\r[1/1] CD quality | file 1/1 take 1.wav | Copying 10%\033[K"
                               "\r[1/1] CD quality | file 1/1 take 1.wav | Copying 20%\033[K"
                               "\r\033[Kwarning: 'x' duplicate filename error\n");
    std::fclose(stream);
}

TEST(ProgressPrinter, PlainLinesOnChangeOnly)
{
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    {
        ProgressPrinter printer(stream, false, 0, 1, 2);
        printer.update(Snap(1, 1, "Copying", 10));
        printer.update(Snap(1, 1, "Copying", 90));  // the percentage alone makes no line
        printer.update(Snap(1, 2, "Copying", 5));
        printer.message("Cancelling");
        printer.finish();
    }
    EXPECT_EQ(Written(stream), "[1/1] CD quality | file 1/2 take 1.wav | Copying\n"
                               "[1/1] CD quality | file 2/2 take 2.wav | Copying\n"
                               "Cancelling\n");
    std::fclose(stream);
}

}  // namespace
