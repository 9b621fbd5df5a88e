#include "CliTestSupport.h"

#include "PropertyList.h"

#include <QFile>
#include <QVariantList>

namespace clitest {

QString WriteConversions(const QString& path, const QList<QPair<int, QVariantMap>>& changes)
{
    const QVariantList factory =
        PropertyList::fromFile(QStringLiteral(QM_SOURCE_RESOURCES "/Factory_Conversions.plist")).toList();
    QVariantList list;
    for (const auto& [index, change] : changes) {
        QVariantMap conversion = factory.value(index).toMap();
        for (auto it = change.begin(); it != change.end(); ++it)
            conversion.insert(it.key(), it.value());
        list.append(conversion);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return QString();
    file.write(PropertyList::toXml(list));
    return path;
}

QString LogPathFromOutput(const QString& out)
{
    for (const QString& line : out.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("Log: ")))
            return line.mid(5);
    return QString();
}

QString ReadText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

}  // namespace clitest
