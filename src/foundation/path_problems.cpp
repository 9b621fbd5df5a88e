#include "path_problems.h"

#include "FileOperations.h"
#include "MacErrorMapping.h"
#include "ProvenItems.h"
#include "error_table.h"

#include <cerrno>

namespace {

QString Quoted(const std::string& path)
{
    return QLatin1Char('\'') + QString::fromStdString(path) + QLatin1Char('\'');
}

// A failure to look at a path, as the error table says it.
QString Unreachable(int error)
{
    const std::string message = LookupErrorMessage(MacErrorFromErrno(error)).message;
    return message.empty() ? QStringLiteral("error %1").arg(error) : QString::fromStdString(message);
}

}  // namespace

QString BrokenLinkProblem(const QString& path)
{
    const std::string p = path.toStdString();
    PathStatus link;
    if (StatPathNoFollow(p, &link) != 0 || !link.isSymlink)
        return QString();
    const int reached = StatPath(p, nullptr);
    if (reached == ELOOP)
        return QStringLiteral("is a link that leads back into itself");
    std::string target;
    if (reached == ENOENT && ReadLinkTarget(p, &target) == 0)
        return QStringLiteral("is a link to %1, which does not exist").arg(Quoted(target));
    return QString();
}

QString FolderPathProblem(const QString& folder, bool missingCounts)
{
    std::string path = AbsolutePath(folder.toStdString());
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    // Each component from the root down, as far as it is a folder.
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string prefix = path.substr(0, end);
        if (!prefix.empty() && prefix.back() != '/') {
            // The folder itself is "it": the sentence names it already.
            const QString subject = end == std::string::npos ? QStringLiteral("it") : Quoted(prefix);
            PathStatus status;
            const int looked = StatPathNoFollow(prefix, &status);
            if (looked == ENOENT)
                return missingCounts ? subject + QStringLiteral(" does not exist") : QString();
            if (looked != 0)
                return subject + QStringLiteral(" cannot be reached: ") + Unreachable(looked);
            if (status.isSymlink) {
                const QString broken = BrokenLinkProblem(QString::fromStdString(prefix));
                if (!broken.isEmpty())
                    return subject + QLatin1Char(' ') + broken;
                PathStatus target;
                const int reached = StatPath(prefix, &target);
                if (reached != 0)
                    return subject + QStringLiteral(" cannot be reached: ") + Unreachable(reached);
                if (!target.isFolder)
                    return subject + QStringLiteral(" is a link to a file, not to a folder");
            } else if (status.isFile) {
                return subject + QStringLiteral(" is a file, not a folder");
            } else if (!status.isFolder) {
                return subject + QStringLiteral(" is not a folder");
            }
        }
        if (end == std::string::npos)
            return QString();
    }
}

QString FolderBelowProblemText(const FolderBelowProblem& problem, const QString& folder)
{
    const QString path = QString::fromStdString(problem.path);
    const QString subject = path == folder ? QStringLiteral("it") : Quoted(problem.path);
    switch (problem.kind) {
    case FolderBelowProblem::Link: {
        const QString broken = BrokenLinkProblem(path);
        if (!broken.isEmpty())
            return subject + QLatin1Char(' ') + broken;
        std::string target;
        PathStatus reached;
        if (StatPath(problem.path, &reached) == 0 && !reached.isFolder)
            return subject + QStringLiteral(" is a link to a file, not to a folder");
        return subject + (ReadLinkTarget(problem.path, &target) == 0
                              ? QStringLiteral(" is a link to %1").arg(Quoted(target))
                              : QStringLiteral(" is a link")) +
               QStringLiteral(", and no output is made through a link");
    }
    case FolderBelowProblem::OthersFolder:
        return subject + QStringLiteral(" belongs to another user, who could put a link in its place");
    case FolderBelowProblem::NotFolder: {
        PathStatus status;
        return subject + (StatPathNoFollow(problem.path, &status) == 0 && status.isFile
                              ? QStringLiteral(" is a file, not a folder")
                              : QStringLiteral(" is not a folder"));
    }
    default:
        return QString();
    }
}
