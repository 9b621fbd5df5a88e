// The batch's progress on standard error, from what the progress window
// shows: the conversion, the input file, the processing step and its
// percentage, and the warnings as they come.  On a terminal it is one line
// that is rewritten in place; otherwise a plain line is written whenever the
// conversion, the file or the step changes.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

class ConversionProcess;

// `text` as UTF-8 on `stream`, flushed at once (the batch command's output
// and its progress lines).
void WriteText(std::FILE* stream, const QString& text);

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

    // `terminal`: rewrite one line in place, `width` columns wide.
    // `conversions`, `files`: the totals shown (0: not shown).
    ProgressPrinter(std::FILE* stream, bool terminal, int width, int conversions, int files);

    // The batch as the poller sees it now.
    static Snapshot snapshot(ConversionProcess& process);
    // The text of one progress line (without line end), at most `width`
    // characters when width > 0.
    QString line(const Snapshot& snapshot) const;

    void update(const Snapshot& snapshot);
    void warnings(const QStringList& texts);
    // Prints a line of its own (clearing the progress line first).
    void message(const QString& text);
    // Clears the progress line (terminal).
    void finish();

    // Whether the stream is a terminal, and its width (COLUMNS, else 80).
    static bool isTerminal(std::FILE* stream);
    static int terminalWidth();

private:
    void clearLine();
    void write(const QString& text);

    std::FILE* stream_;
    bool terminal_;
    int width_;
    int conversions_;
    int files_;
    bool lineShown_ = false;
    QString lastShown_;
    int lastConversion_ = -1;
    int lastFile_ = -1;
    QString lastStep_;
};
