// quillmarch-batch: the headless form of the application's Start button.
//
// run() does what the application does at start-up (the defaults with the
// command line's --defaults file and --set values, the raw-file settings,
// the file-type table, the one ConversionProcess, the region switches, the
// conversion list) and then either lists the types or the conversions,
// describes the inputs (--info) or runs
// one batch as Start does (BatchStart: the folder checks, the conversions'
// output subfolders, the dither table, the Logger and its observers, the
// worker); it shows the progress, turns Ctrl-C into the Cancel button's stop
// request, finishes the log when the worker is done and gives the exit
// status.
#pragma once

#include "BatchOptions.h"
#include "ConversionList.h"
#include "MacTypes.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <atomic>
#include <cstdio>
#include <utility>
#include <vector>

class BatchCommand {
public:
    // Exit statuses (BatchOptions::help() says them to the user).
    static constexpr int kExitConverted = 0;  // every file converted (listed, described)
    static constexpr int kExitFailures = 1;   // some files failed, or were skipped with none converted
    static constexpr int kExitStopped = 2;    // the batch stopped (fatal error, cancel) or could not start
    static constexpr int kExitUsage = BatchOptions::kUsageExitStatus;  // the command line is wrong

    BatchCommand(const BatchOptions& options, std::FILE* out = stdout, std::FILE* err = stderr);

    // Runs the command; returns the exit status.  Call once per process.
    int run();

    // The text of --list-types: a header line, then one line per type of the
    // file-type table (but the engine's own): its code as a conversions file
    // holds it (a signed decimal), as four characters in quotes, how its
    // files are read ("yes": as this type; "raw": only as headerless input,
    // through the raw-file settings; "as 'MooV'": as that type; "no"),
    // whether it is written ("yes" or "no"), its extension ("-" when none)
    // and its name; then one line per name extension of what the media
    // libraries read besides (FLAC, Ogg, Opus, ALAC, ...), with "-" for code
    // and type and the type such a file is read as.
    static QString typeListing();

private:
    int runVersion();
    int runListTypes();
    int runListConversions();
    int runInfo();
    // One line of --info for `path`; whether it could be read.
    bool describe(const QString& path);
    // The lines of every item below `folder`, walked as a batch walks it;
    // `walked` holds the (device, inode) of the folders being walked.
    bool describeFolder(const QString& folder, std::vector<std::pair<UInt64, UInt64>>* walked);
    void print(const QString& text);
    int runBatch();
    void applySettings();
    // The conversions file's check, which also reports its warnings.
    ConversionList::FileCheck fileCheck();
    void report(const QString& text);
    int refuse(int status, const QString& title, const QString& message);

    BatchOptions options_;
    std::FILE* out_;
    std::FILE* err_;
    // A batch ran: its log and counters may have saved the preferences.
    bool batchStarted_ = false;
};
