// Giving a converted input's outputs their final names.
//
// The pipelines write every output under a name that holds the temporary
// word ".QuillOutFile" (the file classes add their channel suffix and
// extension to it: ".QuillOutFile.aif", ".QuillOutFile.L.aif"), and the
// sound-file layer lists each file it creates, relative to the current
// output folder (CreatedFilesList.h).  Once the input has been converted
// completely, the driver renames the listed files: every temporary word of
// an entry is replaced by the final name ("Mix"), giving "Mix.aif",
// "Mix.L.aif".
//
// Renaming never replaces a file.  The outputs of one input that carry the
// temporary word at the same place (the members of a split or surround set)
// are renamed as one set, published with their sidecars all together or
// not at all (FilePublishing.h):
//   - when a member's final name is taken and duplicates are numbered, the
//     whole set takes the first number n (1, 2, ...) free for every member;
//     the number goes right after the final name, before the set indicator
//     and the extension: "Mix-1.L.aif", "Mix-1.R.aif", "Mix-2.aif", "Mix-1"
//     (no extension, no trailing dot);
//   - when a name is taken and duplicates are not numbered, the set's new
//     files are deleted, the existing files are left as they are, and the
//     result is -48;
//   - when an output's temporary name no longer holds the file written
//     there (another program replaced or removed it), nothing of the input
//     is published: the result is kFileReplacedErr, and what the other
//     program put there is left alone;
//   - when a move fails, the set's new files (moved or not) are deleted and
//     the result is the move's own code (-34 when the disk is full, -37 for
//     a name too long for the file system, -54 for a folder that cannot be
//     written), never -48, which says a name was taken.
// Nothing of a set is left behind under a temporary name or half renamed.
#pragma once

#include "MacTypes.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <string>

// ".QuillOutFile"
extern const QString kTemporaryOutputWord;

// A temporary output name for `folder`: the temporary word, "-" and six
// letters or digits (".QuillOutFile-k3Ztq0") drawn at random; the outputs
// are then created exclusively under names derived from it, so a file left
// by an earlier run or another process is never overwritten (nothing is
// created to reserve the name).  The
// pipelines give every output such a name; the tag counts as part of the
// temporary word when the outputs are renamed.
OSErr MakeTemporaryOutputName(const std::string& folder, std::string* name);

// Whether a name of the temporary shape (the word and its tag) is one of
// the run's own temporaries.
using OwnTemporary = std::function<bool(const QString& name)>;

struct OutputRenameSettings {
    // "Number Duplicate Files"
    bool numberDuplicates = false;
    // "Preserve Finder Comments", with the input's comment: a renamed output
    // gets the comment when this is on and the comment is not empty.
    bool preserveComments = false;
    QString comment;
    // The word that marks a temporary name.
    QString temporaryWord = kTemporaryOutputWord;
    // Which names of the temporary shape are the run's own (the others are
    // final names of the user's choosing).  Empty: all of them.
    OwnTemporary ownTemporary;
    // Called, before any number is chosen, with the new file name of each
    // output whose final name is taken (the driver posts
    // ZuConversionRenameDuplicateNotification from it).  May be empty.
    std::function<void(const QString& newName)> duplicateFound;
    // Called when a move failed for another reason than a name taken, with
    // the final path of the output at fault (for a name too long, the
    // longest) and the code.  May be empty.
    std::function<void(const QString& target, OSErr err)> publishFailed;
};

// The two user defaults read into a settings record (comment empty).
OutputRenameSettings OutputRenameSettingsFromDefaults();

// `entry` with every occurrence of `word` replaced by `finalName` (literal,
// case-sensitive, left to right; what was put in is not searched again).
// A unique tag after the word ("-" and six letters or digits, followed by
// the end, ".", "-" or "(") is replaced with it.  `entry` itself when it
// holds no temporary word.
// Only the occurrences `own` accepts (when given) are replaced.
QString FinalOutputName(const QString& entry, const QString& finalName,
                        const QString& word = kTemporaryOutputWord, const OwnTemporary& own = {});

// The same name numbered: "-" + number put right after the last final name
// put in.  0 gives FinalOutputName.
QString NumberedOutputName(const QString& entry, const QString& finalName, unsigned long number,
                           const QString& word = kTemporaryOutputWord, const OwnTemporary& own = {});

// Renames the outputs `entries` (relative to `folder`) to their final
// names as described above.  Entries without the temporary word, entries
// whose file does not exist and entries that leave the folder ("..",
// absolute) are skipped.  `outputPaths` (may be null) gets the full final
// path of every output that took its name, in list order.  Returns 0, -48
// when a name was taken, or the code of a move that failed.
SInt16 RenameOutputs(const QString& folder, const QStringList& entries, const QString& finalName,
                     const OutputRenameSettings& settings, QStringList* outputPaths);

// When duplicates are not numbered: the full final path of the first of
// `entries` (filtered as RenameOutputs does) whose final name is taken,
// after telling settings.duplicateFound of it; empty when every final name
// is free, or when duplicates are numbered.  Nothing is moved: the driver
// asks as soon as the outputs exist, so that an output that could never
// take its name fails before the input is converted.
QString FirstTakenOutputName(const QString& folder, const QStringList& entries, const QString& finalName,
                             const OutputRenameSettings& settings);

// The driver's step: RenameOutputs over the created-files list, which is
// emptied afterwards.
SInt16 RenameCreatedOutputs(const QString& folder, const QString& finalName, const OutputRenameSettings& settings,
                            QStringList* outputPaths);
