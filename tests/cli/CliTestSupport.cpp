#include "CliTestSupport.h"

#include "PropertyList.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QThread>
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

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    // The log's path is all a batch writes on standard output.
    const QString path = out.endsWith(QLatin1Char('\n')) ? out.chopped(1) : out;
    return path.contains(QLatin1Char('\n')) ? QString() : path;
}

QString ReadText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

HeldEncoder::HeldEncoder(const QString& folder) : folder_(folder)
{
    QDir().mkpath(folder);
    const QString script = QStringLiteral(
        "#!/bin/sh\n"
        "if [ \"$1\" = -v ]; then echo 'LAME version 3.100'; exit 0; fi\n"
        "case \"$*\" in */dev/fd/*) ;; *) exit 0;; esac\n"
        "printf '    1/2    (42%%)|   0:00/   0:00|\\r'\n"
        "echo $$ > '%1/encoding.part' && /bin/mv '%1/encoding.part' '%1/encoding'\n"
        "while [ ! -e '%1/release' ]; do /bin/sleep 0.05; done\n"
        "exit 3\n").arg(folder);
    QFile file(folder + QStringLiteral("/lame"));
    ok_ = file.open(QIODevice::WriteOnly) && file.write(script.toUtf8()) > 0;
    file.close();
    ok_ = ok_ && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

qint64 HeldEncoder::start(QProcess* process, const QString& defaultsFile, const QStringList& arguments) const
{
    QProcessEnvironment env = BatchEnvironment(defaultsFile);
    env.insert(QStringLiteral("PATH"), folder_);
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(QM_BATCH_EXE), arguments);
    if (!process->waitForStarted(30000))
        return 0;
    const QString marker = folder_ + QStringLiteral("/encoding");
    for (int waited = 0; waited < 60000 && !QFile::exists(marker); waited += 10)
        QThread::msleep(10);
    return ReadText(marker).trimmed().toLongLong();
}

void HeldEncoder::release() const
{
    QFile file(folder_ + QStringLiteral("/release"));
    if (!file.exists() && file.open(QIODevice::WriteOnly))
        file.close();
}

QVariantMap HeldEncoder::Conversion(const char* name)
{
    return {{"QMCSName", name},
            {"QMCSNeedsStrictFileType", true},
            {"QMCSOutputFileType", qint32(0x444D5033)},  // 'DMP3'
            {"QMCSNeedsNewWordLength", true},
            {"QMCSWordLength", 96},
            {"QMCSNameExtension", "mp3"},
            {"QMCSNeedsSampleRateConversion", false},
            {"QMCSNeedsRedither", false},
            {"QMCSNeedsChannelTreat", false}};
}

}  // namespace clitest
