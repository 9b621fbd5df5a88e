#include "ProgressPrinter.h"

#include "ConversionProcess.h"
#include "TerminalSize.h"
#include "string_utils.h"

#include <QFileInfo>

#include <algorithm>

namespace {

const QChar kEllipsis(0x2026);
// A name is never shortened below this many columns while another part
// can still give way.
constexpr qsizetype kShortestName = 7;

// The columns a terminal gives one character: 0 for combining marks,
// format characters and other zero-width ones, 2 for the wide and
// fullwidth East Asian characters and the wide emoji, 1 otherwise.
int CharColumns(char32_t c)
{
    if (c == 0 || c == 0x200B || (c >= 0x1160 && c <= 0x11FF) || (c >= 0xFE00 && c <= 0xFE0F) ||
        (c >= 0xE0100 && c <= 0xE01EF))
        return 0;
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
        return c == 0x00AD ? 1 : 0;  // the soft hyphen shows
    default:
        break;
    }
    static constexpr char32_t kWide[][2] = {
        {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
        {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
        {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
        {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
        {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
        {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
        {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
        {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
        {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
        {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4}, {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF},
        {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251},
        {0x1F300, 0x1F320}, {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA},
        {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E}, {0x1F440, 0x1F440},
        {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A},
        {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC},
        {0x1F6D0, 0x1F6D2}, {0x1F6D5, 0x1F6D7}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7EB},
        {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD},
        {0x30000, 0x3FFFD},
    };
    for (const auto& [first, last] : kWide) {
        if (c < first)
            break;
        if (c <= last)
            return 2;
    }
    return 1;
}

// The characters of `text`, each with its columns.
struct Cell {
    QString text;
    int columns;
};
QList<Cell> Cells(const QString& text)
{
    QList<Cell> cells;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        const char32_t c = pair ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1)) : text.at(i).unicode();
        cells.append({text.mid(i, pair ? 2 : 1), CharColumns(c)});
        i += pair ? 1 : 0;
    }
    return cells;
}

// The last of `cells`, from `first` on, that fit `room` columns; a mark
// does not begin them.
QString Tail(const QList<Cell>& cells, qsizetype first, qsizetype room)
{
    QString tail;
    qsizetype last = cells.size();
    while (last > first && cells.at(last - 1).columns <= room) {
        --last;
        room -= cells.at(last).columns;
        tail.prepend(cells.at(last).text);
    }
    while (last < cells.size() && cells.at(last).columns == 0) {
        tail.remove(0, cells.at(last).text.size());
        ++last;
    }
    return tail;
}

// `text` in at most `length` columns, its middle replaced by an ellipsis;
// no character is cut in two, and a mark stays with the character before it.
QString ElideMiddle(const QString& text, qsizetype length)
{
    if (TextColumns(text) <= length)
        return text;
    if (length <= 0)
        return QString();
    const QList<Cell> cells = Cells(text);
    QString head;
    qsizetype used = 0;
    qsizetype first = 0;
    for (; first < cells.size() && used + cells.at(first).columns <= length / 2; ++first) {
        head += cells.at(first).text;
        used += cells.at(first).columns;
    }
    return head + kEllipsis + Tail(cells, first, length - 1 - used);
}

// The last characters of `text` that fit `length` columns.
QString RightColumns(const QString& text, qsizetype length)
{
    return Tail(Cells(text), 0, length);
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
        const qsizetype excess = TextColumns(text) - room;
        if (excess <= 0)
            break;
        const qsizetype columns = TextColumns(*part);
        const qsizetype keep = std::max(std::min(columns, kShortestName), columns - excess);
        *part = ElideMiddle(*part, keep);
        text = joined();
    }
    // Still too wide (a very narrow terminal): the end, with the
    // percentage, is what shows.
    if (TextColumns(text) > room)
        text = kEllipsis + RightColumns(text, room - 1);
    return text;
}

int TextColumns(const QString& text)
{
    int columns = 0;
    for (const Cell& cell : Cells(text))
        columns += cell.columns;
    return columns;
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
