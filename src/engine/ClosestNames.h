// The names closest to a misspelt one, for error messages ("no conversion
// named 'CD qualty'; the closest: 'CD quality AIFF (44.1 kHz, 16 bits)'").
// Closeness is the edit distance, case ignored, to the part of a name that
// matches best (so a name typed in part counts as close), then to the
// whole name.
#pragma once

#include <QString>
#include <QStringList>

class ClosestNames {
public:
    // Up to `limit` of `candidates`, closest first (ties in their list
    // order); only candidates close enough to be a plausible slip, unless
    // none is, when the `limit` closest are given anyway.
    static QStringList find(const QString& wanted, const QStringList& candidates, int limit = 3);

    // The names as "'a', 'b' or 'c'"; empty for none.
    static QString quotedList(const QStringList& names);

    // Levenshtein distance, case ignored.
    static int distance(const QString& a, const QString& b);
};
