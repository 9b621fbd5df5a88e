// The names of the file managers' own files that a batch skips (".DS_Store",
// "Thumbs.db", ".directory", "Icon\r" ...), kept in the application
// resource "dotignore.txt": one name per line, lines separated by "\n";
// blanks and line ends before a name are skipped, everything else up to the
// "\n" is the name (so "Icon\r" keeps its carriage return).
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// The names of a dotignore text, in file order.
QStringList ParseDotIgnoreText(const QString& text);
// The names of the resource "dotignore.txt" (or "dotignore"); empty when
// there is none or it cannot be read.  Read once per process.
const QSet<QString>& LoadDotIgnoreNames();
// Whether `name` (a file or folder name, not a path) is one of them.
bool IsDotIgnoredName(const QString& name);
