// The progress text: one rewritten line on a terminal, plain lines on
// change otherwise; the built program's line on a pseudo-terminal, as wide
// as the terminal is and following its resize.
#include "CliTestSupport.h"
#include "ProgressPrinter.h"

#include <QDeadlineTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cwchar>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

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

// The columns a terminal gives `text`, as the C library's wcswidth says
// in a UTF-8 locale.
int Columns(const QString& text)
{
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    EXPECT_NE(utf8, locale_t(nullptr));
    const locale_t was = uselocale(utf8);
    const std::wstring wide = text.toStdWString();
    const int columns = wcswidth(wide.c_str(), wide.size());
    uselocale(was);
    freelocale(utf8);
    return columns;
}

// A Japanese and Chinese file name, wide characters with a combining mark
// among them.
const QString kEastAsianName =
    QString::fromUtf8("会議の録音テープ（東京本社）第二回 技术部门周会记录 ").repeated(3) + QString::fromUtf8("e\u0301nd.wav");

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
    const ProgressPrinter printer(stderr, false, {}, 2, 12);
    EXPECT_EQ(printer.line(Snap(1, 3, "Copying", 45)), "[1/2] CD quality | file 3/12 take 3.wav | Copying 45%");
    EXPECT_EQ(printer.line(Snap(2, 0, "", -1)), "[2/2] CD quality");
    const ProgressPrinter unknownTotals(stderr, false, {}, 0, 0);
    EXPECT_EQ(unknownTotals.line(Snap(1, 1, "", -1)), "[1] CD quality | file 1 take 1.wav");
}

// However narrow the terminal and however long the name, the line leaves
// the last column free and ends with the percentage; the name gives way
// in its middle first.
TEST(ProgressPrinter, NarrowLinesKeepThePercentage)
{
    ProgressPrinter::Snapshot s = Snap(1, 3, "Copying/format change", 45);
    QString name = "nnnnnnnnnn";
    for (int i = 0; i < 70; ++i)
        name += QString::fromUtf8("\U0001F3B5");  // two UTF-16 units each
    s.filePath = "/music/" + name + " end.wav";
    for (const int width : {200, 120, 60, 40, 20, 8}) {
        const ProgressPrinter printer(stderr, true, [width] { return width; }, 2, 12);
        const QString text = printer.line(s);
        SCOPED_TRACE(text.toStdString());
        EXPECT_LE(text.size(), width - 1);
        EXPECT_TRUE(text.endsWith(" 45%"));
        // No character is cut in two.
        for (qsizetype i = 0; i < text.size(); ++i) {
            const bool pairStart = text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
            EXPECT_FALSE(text.at(i).isSurrogate() && !pairStart) << i;
            i += pairStart ? 1 : 0;
        }
        if (width >= 80) {
            EXPECT_TRUE(text.startsWith("[1/2] CD quality | file 3/12 nnn"));
            EXPECT_TRUE(text.endsWith(" end.wav | Copying/format change 45%"));
        }
    }
    const ProgressPrinter wide(stderr, true, [] { return 200; }, 2, 12);
    EXPECT_FALSE(wide.line(Snap(1, 3, "Copying", 45)).contains(QChar(0x2026)));

    // Wide characters take two columns, a combining mark none.
    s.filePath = "/music/" + kEastAsianName;
    for (const int width : {200, 80, 40, 20}) {
        const ProgressPrinter printer(stderr, true, [width] { return width; }, 2, 12);
        const QString text = printer.line(s);
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(TextColumns(text), Columns(text));
        EXPECT_LE(Columns(text), width - 1);
        EXPECT_TRUE(text.endsWith(" 45%"));
        if (width >= 80) {
            EXPECT_GE(Columns(text), width - 2);
        }
    }
}

TEST(ProgressPrinter, TerminalRewritesOneLine)
{
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    {
        ProgressPrinter printer(stream, true, [] { return 200; }, 1, 1);
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
        ProgressPrinter printer(stream, false, {}, 1, 2);
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

// quillmarch-batch with its standard error on a pseudo-terminal, COLUMNS
// unset, held inside an encoding at 42%: the line uses the terminal's 200
// columns, and after the terminal shrinks to 40, its 40.
class ProgressOnATerminal : public clitest::BatchTest {
protected:
    void TearDown() override
    {
        if (master_ >= 0)
            ::close(master_);
        if (slave_ >= 0)
            ::close(slave_);
    }
    // Reads the terminal until its last progress line (the text between
    // the last "\r" and "\033[K") holds `wanted`; that line, or empty after
    // a minute.
    QString lastLineHolding(const QString& wanted)
    {
        return lastLine([&wanted](const QString& line) { return line.contains(wanted); });
    }
    QString lastLine(const std::function<bool(const QString&)>& wanted)
    {
        const QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired()) {
            const QString text = QString::fromUtf8(shown_);
            const qsizetype end = text.lastIndexOf("\033[K");
            const qsizetype start = end < 0 ? -1 : text.lastIndexOf('\r', end);
            if (start >= 0 && wanted(text.mid(start + 1, end - start - 1)))
                return text.mid(start + 1, end - start - 1);
            pollfd fd{master_, POLLIN, 0};
            if (::poll(&fd, 1, 100) > 0) {
                char buffer[4096];
                const ssize_t got = ::read(master_, buffer, sizeof buffer);
                if (got > 0)
                    shown_.append(buffer, got);
            }
        }
        return QString();
    }
    void setColumns(int columns) const
    {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(columns);
        ASSERT_EQ(::ioctl(master_, TIOCSWINSZ, &size), 0);
    }

    int master_ = -1;
    int slave_ = -1;
    QByteArray shown_;
};

TEST_F(ProgressOnATerminal, TheLineFollowsTheTerminalsWidthAndKeepsThePercentage)
{
    ASSERT_TRUE(MakeStereoTake(0.2));
    const QString name = "take " + QString(100, 'x') + " end.wav";
    ASSERT_TRUE(QFile::rename(root + "/in/take.wav", root + "/in/" + name));
    ASSERT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    setColumns(200);
    clitest::HeldEncoder encoder(root + "/bin");
    ASSERT_TRUE(encoder.ok());
    const QString held = clitest::WriteConversions(root + "/held.plist", {{0, clitest::HeldEncoder::Conversion("MP3")}});
    const QByteArray columns = qgetenv("COLUMNS");
    qunsetenv("COLUMNS");
    QProcess process;
    process.setStandardErrorFile(QString::fromLocal8Bit(::ptsname(master_)));
    const qint64 started = encoder.start(&process, defaults, {"--conversions", held, "-o", root + "/out", root + "/in"});
    if (!columns.isNull())
        qputenv("COLUMNS", columns);
    ASSERT_GT(started, 0);

    const QString wide = lastLineHolding("42%");
    EXPECT_TRUE(wide.contains("| file 1/1 " + name + " | ")) << wide.toStdString();
    EXPECT_TRUE(wide.endsWith(" 42%")) << wide.toStdString();
    EXPECT_GT(wide.size(), 80);
    EXPECT_LE(wide.size(), 199);

    setColumns(40);
    const QString narrow = lastLineHolding(QChar(0x2026));
    EXPECT_TRUE(narrow.endsWith(" 42%")) << narrow.toStdString();
    EXPECT_LE(narrow.size(), 39) << narrow.toStdString();
    EXPECT_TRUE(narrow.contains(" | file 1/1 tak")) << narrow.toStdString();

    encoder.release();
    ASSERT_TRUE(process.waitForFinished(60000));
}

// A Japanese and Chinese name at 80 columns, then at 40: the line fills the
// terminal's columns (wide characters count two) and no more, ending with
// the percentage.
TEST_F(ProgressOnATerminal, AnEastAsianNameFitsTheColumns)
{
    ASSERT_TRUE(MakeStereoTake(0.2));
    ASSERT_TRUE(QFile::rename(root + "/in/take.wav", root + "/in/" + kEastAsianName));
    ASSERT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    setColumns(80);
    clitest::HeldEncoder encoder(root + "/bin");
    ASSERT_TRUE(encoder.ok());
    const QString held = clitest::WriteConversions(root + "/held.plist", {{0, clitest::HeldEncoder::Conversion("MP3")}});
    QProcess process;
    process.setStandardErrorFile(QString::fromLocal8Bit(::ptsname(master_)));
    ASSERT_GT(encoder.start(&process, defaults, {"--conversions", held, "-o", root + "/out", root + "/in"}), 0);

    const QString at80 = lastLineHolding("42%");
    EXPECT_TRUE(at80.endsWith(" 42%")) << at80.toStdString();
    EXPECT_TRUE(at80.contains(QString::fromUtf8("会議の"))) << at80.toStdString();
    EXPECT_LE(Columns(at80), 79) << at80.toStdString();
    EXPECT_GE(Columns(at80), 78) << at80.toStdString();

    setColumns(40);
    const QString at40 = lastLine([](const QString& line) { return line.size() < 40 && line.endsWith(" 42%"); });
    EXPECT_LE(Columns(at40), 39) << at40.toStdString();
    EXPECT_GE(Columns(at40), 38) << at40.toStdString();

    encoder.release();
    ASSERT_TRUE(process.waitForFinished(60000));
}

}  // namespace
