#include "ProgressPrinter.h"

#include "ConversionProcess.h"
#include "TerminalSize.h"
#include "string_utils.h"

#include <QFileInfo>

#include <algorithm>

namespace {

const QChar kEllipsis(0x2026);
// A name is never shortened below this many characters while another part
// can still give way.
constexpr qsizetype kShortestName = 7;

// `text` in at most `length` characters, its middle replaced by an
// ellipsis; a character made of two UTF-16 units is never cut in two.
QString ElideMiddle(const QString& text, qsizetype length)
{
    if (text.size() <= length)
        return text;
    if (length <= 0)
        return QString();
    qsizetype head = length / 2;
    qsizetype tail = length - 1 - head;
    if (head > 0 && text.at(head - 1).isHighSurrogate())
        --head;
    if (tail > 0 && text.at(text.size() - tail).isLowSurrogate())
        --tail;
    return text.left(head) + kEllipsis + text.right(tail);
}

}  // namespace

ProgressPrinter::ProgressPrinter(std::FILE* stream, bool terminal, Width width, int conversions, int files)
    : stream_(stream), terminal_(terminal), width_(std::move(width)), conversions_(conversions), files_(files)
{
}

bool ProgressPrinter::isTerminal(std::FILE* stream)
{
    return StreamIsTerminal(stream);
}

int ProgressPrinter::terminalWidth(std::FILE* stream)
{
    if (const int columns = TerminalColumns(stream); columns > 0)
        return columns;
    bool ok = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && columns >= 20 ? columns : 80;
}

ProgressPrinter::Snapshot ProgressPrinter::snapshot(ConversionProcess& process)
{
    Snapshot s;
    const ConversionProcess::Position at = process.curPosition();
    s.conversion = at.conversion;
    if (const ConvSpecRef spec = process.curConvSpec())
        s.conversionName = spec->conversionName();
    s.file = at.file;
    s.filePath = process.curFilePath();
    s.step = process.curStepDesc();
    if (process.determinateStep()) {
        const int value = process.curValue();
        if (process.usePercentage()) {
            s.percent = value;
        } else if (process.curSampleFrames() > 0) {
            s.percent = int(qint64(value) * 100 / process.curSampleFrames());
        }
        if (s.percent >= 0)
            s.percent = std::clamp(s.percent, 0, 100);
    }
    // The flags are lowered once their values have been read.
    process.setFlag(ConversionProcess::kConvSpecChanged, false);
    process.setFlag(ConversionProcess::kFileChanged, false);
    process.setFlag(ConversionProcess::kStepChanged, false);
    process.setFlag(ConversionProcess::kNumSampleFramesChanged, false);
    return s;
}

QString ProgressPrinter::line(const Snapshot& s) const
{
    // The parts in their order on the line; the names and the step may
    // give way, the counters and the percentage never do.
    QString head;
    QString conversion;
    QString fileHead;
    QString file;
    QString step;
    if (s.conversion > 0) {
        head = conversions_ > 0 ? QStringLiteral("[%1/%2] ").arg(s.conversion).arg(conversions_)
                                : QStringLiteral("[%1] ").arg(s.conversion);
        conversion = printable_text(s.conversionName);
    }
    if (s.file > 0) {
        fileHead = files_ > 0 ? QStringLiteral(" | file %1/%2 ").arg(s.file).arg(files_)
                              : QStringLiteral(" | file %1 ").arg(s.file);
        file = printable_text(QFileInfo(s.filePath).fileName());
    }
    if (!s.step.isEmpty())
        step = s.step;
    const QString stepHead = step.isEmpty() ? QString() : QStringLiteral(" | ");
    const QString percent = s.percent >= 0 ? QStringLiteral(" %1%").arg(s.percent) : QString();
    auto joined = [&] { return head + conversion + fileHead + file + stepHead + step + percent; };

    const int width = width_ ? width_() : 0;
    QString text = joined();
    if (width <= 0)
        return text;
    const qsizetype room = std::max(1, width - 1);
    for (QString* part : {&file, &conversion, &step}) {
        const qsizetype excess = text.size() - room;
        if (excess <= 0)
            break;
        const qsizetype keep = std::max(std::min(part->size(), kShortestName), part->size() - excess);
        *part = ElideMiddle(*part, keep);
        text = joined();
    }
    // Still too wide (a very narrow terminal): the end, with the
    // percentage, is what shows.
    if (text.size() > room)
        text = kEllipsis + text.right(room - 1);
    return text;
}

void WriteText(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void ProgressPrinter::write(const QString& text)
{
    WriteText(stream_, text);
}

void ProgressPrinter::clearLine()
{
    if (terminal_ && lineShown_) {
        write(QStringLiteral("\r\033[K"));
        lineShown_ = false;
    }
}

void ProgressPrinter::update(const Snapshot& s)
{
    if (s.conversion <= 0)
        return;
    if (terminal_) {
        const QString text = line(s);
        if (text == lastShown_ && lineShown_)
            return;
        write(QStringLiteral("\r") + text + QStringLiteral("\033[K"));
        lastShown_ = text;
        lineShown_ = true;
        return;
    }
    if (s.conversion == lastConversion_ && s.file == lastFile_ && s.step == lastStep_)
        return;
    lastConversion_ = s.conversion;
    lastFile_ = s.file;
    lastStep_ = s.step;
    Snapshot plain = s;
    plain.percent = -1;  // a plain line is not rewritten: no percentage
    write(line(plain) + QLatin1Char('\n'));
}

void ProgressPrinter::message(const QString& text)
{
    clearLine();
    write(text + QLatin1Char('\n'));
    lastShown_.clear();
}

void ProgressPrinter::warnings(const QStringList& texts)
{
    for (const QString& text : texts)
        message(QStringLiteral("warning: ") + text);
}

void ProgressPrinter::finish()
{
    clearLine();
}
