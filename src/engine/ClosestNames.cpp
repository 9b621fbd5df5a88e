#include "ClosestNames.h"

#include <algorithm>
#include <vector>

namespace {

// Edit distance between `x` and `y`, or, with `withinY`, between `x` and the
// part of `y` it matches best (a name typed in part, or with a slip).
int EditDistance(const QString& x, const QString& y, bool withinY)
{
    // Row over x, column over y; with withinY the match may start and end
    // anywhere in y.
    std::vector<int> row(size_t(x.size()) + 1);
    for (size_t i = 0; i < row.size(); ++i)
        row[i] = int(i);
    int best = row.back();
    for (qsizetype j = 1; j <= y.size(); ++j) {
        int diagonal = row[0];
        row[0] = withinY ? 0 : int(j);
        for (qsizetype i = 1; i <= x.size(); ++i) {
            const int above = row[size_t(i)];
            const int cost = x.at(i - 1) == y.at(j - 1) ? 0 : 1;
            row[size_t(i)] = std::min({above + 1, row[size_t(i - 1)] + 1, diagonal + cost});
            diagonal = above;
        }
        best = std::min(best, row.back());
    }
    return withinY ? best : row.back();
}

}  // namespace

int ClosestNames::distance(const QString& a, const QString& b)
{
    return EditDistance(a.toCaseFolded(), b.toCaseFolded(), false);
}

QStringList ClosestNames::find(const QString& wanted, const QStringList& candidates, int limit)
{
    struct Scored {
        int partial;  // against the best-matching part of the candidate
        int whole;    // against the whole candidate
        qsizetype index;
    };
    const QString w = wanted.toCaseFolded();
    std::vector<Scored> scored;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        const QString c = candidates.at(i).toCaseFolded();
        scored.push_back({EditDistance(w, c, true), EditDistance(w, c, false), i});
    }
    std::stable_sort(scored.begin(), scored.end(), [](const Scored& l, const Scored& r) {
        return l.partial != r.partial ? l.partial < r.partial : l.whole < r.whole;
    });
    const int allowed = std::max<int>(1, int(wanted.size()) / 4);
    auto close = [&](const Scored& s) { return s.partial <= allowed; };
    const bool anyClose = std::any_of(scored.begin(), scored.end(), close);
    QStringList result;
    for (const Scored& s : scored) {
        if (int(result.size()) >= limit || (anyClose && !close(s)))
            break;
        if (!result.contains(candidates.at(s.index)))
            result.append(candidates.at(s.index));
    }
    return result;
}

QString ClosestNames::quotedList(const QStringList& names)
{
    QString text;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (i > 0)
            text += i + 1 == names.size() ? QStringLiteral(" or ") : QStringLiteral(", ");
        text += QLatin1Char('\'') + names.at(i) + QLatin1Char('\'');
    }
    return text;
}
