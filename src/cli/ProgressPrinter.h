// The batch's progress on standard error, from what the progress window
// shows: the conversion, the input file, the processing step and its
// percentage, and the warnings as they come.  On a terminal it is one line
// that is rewritten in place, as wide as the terminal is at each redraw
// (a resize shows at the next one); a line too long for it is shortened in
// the middle of its names, so that the percentage stays on screen.
// Otherwise a plain line is written whenever the conversion, the file or
// the step changes.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>

class ConversionProcess;

// `text` as UTF-8 on `stream`, flushed at once (the batch command's output
// and its progress lines).
void WriteText(std::FILE* stream, const QString& text);

// The columns `text` takes on a terminal: two for a wide East Asian
// character or a wide emoji, none for a combining mark or a zero-width
// character, one for any other.
int TextColumns(const QString& text);

class ProgressPrinter {
public:
    // One look at the batch.
    struct Snapshot {
        int conversion = 0;     // 1-based; 0 before the first
        QString conversionName;
        int file = 0;           // 1-based within the conversion; 0 before the first
        QString filePath;
        QString step;
        int percent = -1;       // -1: not known
    };

    // The columns a line may use, asked before each line is made (0: no
    // limit).
    using Width = std::function<int()>;

    // `terminal`: rewrite one line in place, in `width` columns.
    // `conversions`, `files`: the totals shown (0: not shown).
    ProgressPrinter(std::FILE* stream, bool terminal, Width width, int conversions, int files);

    // The batch as the poller sees it now.
    static Snapshot snapshot(ConversionProcess& process);
    // The text of one progress line (without line end).  With a width, at
    // most width - 1 columns (the last column stays free, so the line
    // never wraps): the file name, then the conversion's name, then the
    // step are shortened in their middle ("take…wav"), and only a line
    // that is still too long loses its beginning; the percentage, at its
    // end, always shows.
    QString line(const Snapshot& snapshot) const;

    void update(const Snapshot& snapshot);
    void warnings(const QStringList& texts);
    // Prints a line of its own (clearing the progress line first).
    void message(const QString& text);
    // Clears the progress line (terminal).
    void finish();

    // Whether the stream is a terminal, and its width now: the terminal's
    // own, else COLUMNS, else 80.
    static bool isTerminal(std::FILE* stream);
    static int terminalWidth(std::FILE* stream);

private:
    void clearLine();
    void write(const QString& text);

    std::FILE* stream_;
    bool terminal_;
    Width width_;
    int conversions_;
    int files_;
    bool lineShown_ = false;
    QString lastShown_;
    int lastConversion_ = -1;
    int lastFile_ = -1;
    QString lastStep_;
};
