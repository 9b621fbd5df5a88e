#include "CliTestSupport.h"

#include "PropertyList.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
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

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList FilesUnder(const QString& folder, bool relative)
{
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    QStringList files;
    while (it.hasNext())
        files << (relative ? QDir(folder).relativeFilePath(it.next()) : it.next());
    files.sort();
    return files;
}

QJsonObject Probe(const QString& path)
{
    QByteArray out;
    RunPeer(QStringLiteral("ffprobe"), {"-v", "error", "-show_format", "-show_streams", "-of", "json", path}, &out);
    return QJsonDocument::fromJson(out).object();
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
