#include "MainBundle.h"

#include <QDir>
#include <QFileInfo>

#ifndef QM_SOURCE_RESOURCES
#define QM_SOURCE_RESOURCES ""
#endif

namespace {

QString executableFolder()
{
    // The running executable, without needing a QCoreApplication object.
    static const QString folder = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath())
                                      .absolutePath();
    return folder;
}

bool isFolder(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

// True when the relative path stays inside the folder it is resolved in.
bool staysInside(const QString& relative)
{
    if (relative.isEmpty())
        return true;
    if (QDir::isAbsolutePath(relative))
        return false;
    const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return !parts.contains(QStringLiteral(".."));
}

}  // namespace

QString MainBundle::resourcesPath()
{
    const QString env = qEnvironmentVariable("QUILLMARCH_RESOURCES");
    if (!env.isEmpty())
        return QDir::cleanPath(QFileInfo(env).absoluteFilePath());
    const QString exe = executableFolder();
    if (!exe.isEmpty()) {
        for (const QString& candidate : {exe + QStringLiteral("/../share/quillmarch/resources"),
                                         exe + QStringLiteral("/resources")}) {
            if (isFolder(candidate))
                return QDir::cleanPath(candidate);
        }
    }
    const QString source = QString::fromUtf8(QM_SOURCE_RESOURCES);
    if (isFolder(source))
        return QDir::cleanPath(source);
    return QString();
}

QString MainBundle::resourcesProblem()
{
    const QString env = qEnvironmentVariable("QUILLMARCH_RESOURCES");
    const QString path = resourcesPath();
    QString problem;
    if (path.isEmpty())
        return QStringLiteral("no resources folder found (set QUILLMARCH_RESOURCES to the program's resources "
                              "folder)");
    if (!QFileInfo::exists(path))
        problem = QStringLiteral("does not exist");
    else if (!isFolder(path))
        problem = QStringLiteral("is not a folder");
    else if (!isFolder(path + QStringLiteral("/SoundFileProperties")))
        problem = QStringLiteral("holds no SoundFileProperties folder: it is not the program's resources folder");
    if (problem.isEmpty())
        return QString();
    return env.isEmpty() ? QStringLiteral("the resources folder '%1' %2").arg(path, problem)
                         : QStringLiteral("QUILLMARCH_RESOURCES names '%1', which %2").arg(env, problem);
}

QString MainBundle::pathForResource(const QString& name, const QString& type, const QString& subfolder)
{
    if (name.isEmpty() || !staysInside(name) || !staysInside(subfolder) || !staysInside(type))
        return QString();
    const QString root = resourcesPath();
    if (root.isEmpty())
        return QString();
    QString path = root;
    if (!subfolder.isEmpty())
        path += QLatin1Char('/') + subfolder;
    path += QLatin1Char('/') + name;
    if (!type.isEmpty()) {
        // "name" + "plist" and "name" + ".plist" mean the same file.
        path += type.startsWith(QLatin1Char('.')) ? type : QLatin1Char('.') + type;
    }
    path = QDir::cleanPath(path);
    return QFileInfo::exists(path) ? path : QString();
}
