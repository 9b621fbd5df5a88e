// The dictionary of platform error names, read from the program's
// MacErrors.h (resources), so that the log can name platform codes that the
// error table does not know.
//
// Result: key = the code as "%d" text ("-43"); value = a dictionary with
// "name" (fnfErr) and, when the line has a comment, "description" (its
// text).  The first line for a code wins.
#pragma once

#include <QString>
#include <QVariantMap>

// From the application's resources ("MacErrors.h"); empty when the file
// cannot be read.  Built once per batch by its caller.
QVariantMap LoadMacErrorsDictionary();
// The same from a given file.
QVariantMap LoadMacErrorsDictionaryFromFile(const QString& path);
// The same from the header's text.  Lines: optional blanks, a name up to
// the first blank or tab, blanks and equals signs, a signed decimal number,
// then an optional comment: everything after the first '*' (leading blanks
// skipped) up to "*/" or the line's end.  Other lines give nothing.
QVariantMap ParseMacErrorsText(const QString& text);
