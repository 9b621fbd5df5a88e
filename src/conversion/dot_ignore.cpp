#include "dot_ignore.h"

#include "MainBundle.h"

#include <QFile>

QStringList ParseDotIgnoreText(const QString& text)
{
    QStringList names;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        // Blanks and line ends before a name.
        while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t') ||
                         text[i] == QLatin1Char('\r') || text[i] == QLatin1Char('\n')))
            ++i;
        if (i >= n)
            break;
        qsizetype end = text.indexOf(QLatin1Char('\n'), i);
        if (end < 0)
            end = n;
        names.append(text.mid(i, end - i));
        i = end + 1;
    }
    return names;
}

const QSet<QString>& LoadDotIgnoreNames()
{
    static const QSet<QString> names = [] {
        QString path = MainBundle::pathForResource(QStringLiteral("dotignore"), QStringLiteral("txt"));
        if (path.isEmpty())
            path = MainBundle::pathForResource(QStringLiteral("dotignore"), QString());
        QSet<QString> set;
        if (path.isEmpty())
            return set;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.size() > (1 << 20))
            return set;
        for (const QString& name : ParseDotIgnoreText(QString::fromUtf8(file.readAll())))
            set.insert(name);
        return set;
    }();
    return names;
}

bool IsDotIgnoredName(const QString& name)
{
    return !name.isEmpty() && LoadDotIgnoreNames().contains(name);
}
