#include "ProgressPrinter.h"

#include "ConversionProcess.h"
#include "string_utils.h"

#include <QFileInfo>

#include <algorithm>
#include <unistd.h>

ProgressPrinter::ProgressPrinter(std::FILE* stream, bool terminal, int width, int conversions, int files)
    : stream_(stream), terminal_(terminal), width_(width), conversions_(conversions), files_(files)
{
}

bool ProgressPrinter::isTerminal(std::FILE* stream)
{
    return stream && isatty(fileno(stream)) == 1;
}

int ProgressPrinter::terminalWidth()
{
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
    QString text;
    if (s.conversion > 0) {
        text += conversions_ > 0 ? QStringLiteral("[%1/%2] ").arg(s.conversion).arg(conversions_)
                                 : QStringLiteral("[%1] ").arg(s.conversion);
        text += printable_text(s.conversionName);
    }
    if (s.file > 0) {
        text += files_ > 0 ? QStringLiteral(" | file %1/%2 ").arg(s.file).arg(files_)
                           : QStringLiteral(" | file %1 ").arg(s.file);
        text += printable_text(QFileInfo(s.filePath).fileName());
    }
    if (!s.step.isEmpty())
        text += QStringLiteral(" | ") + s.step;
    if (s.percent >= 0)
        text += QStringLiteral(" %1%").arg(s.percent);
    if (width_ > 0 && text.size() > width_ - 1)
        text = text.left(std::max(0, width_ - 2)) + QChar(0x2026);
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
