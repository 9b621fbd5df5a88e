#include "mac_errors.h"

#include "MainBundle.h"

#include <QFile>

#include <climits>

namespace {

bool IsSpace(QChar c)
{
    return c.isSpace();  // blanks, tabs and line ends, as a text scanner skips them
}

// A signed decimal number at *pos (leading blanks skipped); saturates at the
// int range.  False, with *pos unchanged, when there is none.
bool ScanInt(const QString& line, qsizetype* pos, int* value)
{
    qsizetype i = *pos;
    while (i < line.size() && IsSpace(line[i]))
        ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == u'-' || line[i] == u'+')) {
        negative = line[i] == u'-';
        ++i;
    }
    const qsizetype digitsStart = i;
    long long magnitude = 0;
    while (i < line.size() && line[i] >= u'0' && line[i] <= u'9') {
        if (magnitude <= LLONG_MAX / 100)
            magnitude = magnitude * 10 + (line[i].unicode() - u'0');
        ++i;
    }
    if (i == digitsStart)
        return false;
    long long v = negative ? -magnitude : magnitude;
    if (v > INT_MAX)
        v = INT_MAX;
    if (v < INT_MIN)
        v = INT_MIN;
    *value = int(v);
    *pos = i;
    return true;
}

void ParseLine(const QString& line, QVariantMap* dictionary)
{
    const qsizetype size = line.size();
    qsizetype pos = 0;

    // The name: up to the first blank or tab.
    const qsizetype nameStart = pos;
    while (pos < size && line[pos] != u' ' && line[pos] != u'\t')
        ++pos;
    const QString name = line.mid(nameStart, pos - nameStart);

    // Blanks and equals signs.
    while (pos < size && (IsSpace(line[pos]) || line[pos] == u'='))
        ++pos;

    int value = 0;
    if (!ScanInt(line, &pos, &value))
        return;

    // Past the asterisk of the comment opener.
    const qsizetype star = line.indexOf(u'*', pos);
    pos = star < 0 ? size : star + 1;

    // The description: leading blanks skipped, up to the closer.
    while (pos < size && IsSpace(line[pos]))
        ++pos;
    QString description;
    if (pos < size) {
        const qsizetype closer = line.indexOf(QStringLiteral("*/"), pos);
        description = line.mid(pos, closer < 0 ? -1 : closer - pos);
    }

    const QString key = QString::number(value);
    if (dictionary->contains(key))
        return;
    QVariantMap entry;
    entry.insert(QStringLiteral("name"), name);
    if (!description.isEmpty())
        entry.insert(QStringLiteral("description"), description);
    dictionary->insert(key, entry);
}

} // namespace

QVariantMap ParseMacErrorsText(const QString& text)
{
    QVariantMap dictionary;
    const qsizetype size = text.size();
    qsizetype pos = 0;
    for (;;) {
        // Blanks and line ends before a line are skipped, so no line is empty.
        while (pos < size && IsSpace(text[pos]))
            ++pos;
        if (pos >= size)
            break;
        qsizetype end = text.indexOf(u'\n', pos);
        if (end < 0)
            end = size;
        ParseLine(text.mid(pos, end - pos), &dictionary);
        pos = end;
    }
    return dictionary;
}

QVariantMap LoadMacErrorsDictionaryFromFile(const QString& path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QVariantMap();
    return ParseMacErrorsText(QString::fromUtf8(file.readAll()));
}

QVariantMap LoadMacErrorsDictionary()
{
    return LoadMacErrorsDictionaryFromFile(MainBundle::pathForResource(QStringLiteral("MacErrors"), QStringLiteral("h")));
}
