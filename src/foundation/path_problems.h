// What is wrong with a path where a batch wants a folder to write into, or
// with a link that leads nowhere, in words that name the path at fault.
// They go into the lines the user reads (the refusal of a batch, a file's
// failure, the log): a file, a dangling link or a missing folder is said
// to be one, never given as a code's message that speaks of something else
// ("duplicate filename error" for a file in the way, "expected input file
// not found" for an output).
#pragma once

#include <QString>

struct FolderBelowProblem;

// Empty when `folder` is a folder (through links).  Otherwise what is wrong
// with the first component of its path that is not a folder, to follow a
// sentence that names `folder` ("it" is the folder itself):
//   "'/o/take.wav' is a file, not a folder"
//   "it is a link to 'gone', which does not exist"
//   "it is a link that leads back into itself"
//   "'/o/gone' does not exist"        (only with `missingCounts`: a batch
//                                      makes the folders that are missing)
//   "'/o/x' cannot be reached: permission denied"
QString FolderPathProblem(const QString& folder, bool missingCounts = true);

// What is wrong with the symbolic link at `path` when its target cannot
// be reached, said of the link: "is a link to 'gone', which does not
// exist", "is a link that leads back into itself"; empty for anything else.
QString BrokenLinkProblem(const QString& path);

// Why outputs cannot be made in `folder` below the output folder, as
// EnterFolderBelow found it (empty for none, and for a folder that could
// not be made or opened: FolderPathProblem says those), to follow a
// sentence that names `folder`:
//   "it is a link to '/elsewhere', and no output is made through a link"
//   "'/o/Keep' belongs to another user, who could put a link in its place"
// and the texts of FolderPathProblem for links that lead nowhere and files.
QString FolderBelowProblemText(const FolderBelowProblem& problem, const QString& folder);
