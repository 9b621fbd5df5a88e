#include "PrivateSockets.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Links { Follow, Refuse };

// Empty when `path` is a folder owned by this user whose mode has none of
// `othersBits`; else why not.
QString FolderProblem(const QString& path, mode_t othersBits, Links links)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat status {};
    const int result = links == Links::Follow ? ::stat(native.constData(), &status) : ::lstat(native.constData(), &status);
    if (result != 0)
        return QStringLiteral("the folder %1 cannot be used: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("%1 is a symbolic link, not a folder").arg(path);
    if (!S_ISDIR(status.st_mode))
        return QStringLiteral("%1 is not a folder").arg(path);
    if (status.st_uid != PrivateSockets::user())
        return QStringLiteral("the folder %1 belongs to another user (user id %2)").arg(path).arg(status.st_uid);
    if (status.st_mode & othersBits)
        return QStringLiteral("the folder %1 is open to other users (mode %2)")
            .arg(path, QString::number(status.st_mode & 07777, 8).rightJustified(4, QLatin1Char('0')));
    return QString();
}

}  // namespace

uint PrivateSockets::user()
{
    return ::geteuid();
}

QString PrivateSockets::folder(QString* why)
{
    QString reasons;
    if (why)
        why->clear();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        const QString problem = FolderProblem(runtime, S_IWGRP | S_IWOTH, Links::Follow);
        if (problem.isEmpty())
            return QDir::cleanPath(runtime);
        reasons = problem + QStringLiteral(" ($XDG_RUNTIME_DIR)");
        if (why)
            *why = reasons;
    }
    const QString own = QDir::tempPath() + QStringLiteral("/quillmarch-") + QString::number(user());
    // Made by us, or there already: either way only its checks decide.
    ::mkdir(QFile::encodeName(own).constData(), S_IRWXU);
    const QString problem = FolderProblem(own, S_IRWXG | S_IRWXO, Links::Refuse);
    if (problem.isEmpty())
        return own;
    if (why)
        *why = reasons.isEmpty() ? problem : reasons + QStringLiteral("; ") + problem;
    return QString();
}

QString PrivateSockets::folderProblem(const QString& path)
{
    return FolderProblem(path, S_IWGRP | S_IWOTH, Links::Follow);
}

PrivateSockets::Socket PrivateSockets::socketAt(const QString& path, QString* why)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0) {
        if (errno == ENOENT)
            return Socket::Missing;
        if (why)
            *why = QStringLiteral("%1 cannot be examined: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return Socket::NotOwn;
    }
    if (!S_ISSOCK(status.st_mode)) {
        if (why)
            *why = QStringLiteral("%1 is not a socket").arg(path);
        return Socket::NotOwn;
    }
    if (status.st_uid != user()) {
        if (why)
            *why = QStringLiteral("the socket %1 belongs to another user (user id %2)").arg(path).arg(status.st_uid);
        return Socket::NotOwn;
    }
    return Socket::Own;
}

qint64 PrivateSockets::peerUser(qintptr descriptor)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (descriptor < 0 || ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials)
        return -1;
    return qint64(credentials.uid);
}
