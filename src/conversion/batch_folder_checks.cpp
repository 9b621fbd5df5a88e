#include "batch_folder_checks.h"

#include "FileOperations.h"
#include "PathResolution.h"
#include "path_problems.h"
#include "string_utils.h"

#include <cerrno>

namespace {

QString LastComponent(const QString& canonical)
{
    const qsizetype slash = canonical.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? canonical : canonical.mid(slash + 1);
}

} // namespace

QString CanonicalBatchPath(const QString& path)
{
    if (path.isEmpty())
        return QString();
    std::string absolute = AbsolutePath(path.toStdString());
    // The nearest existing ancestor, resolved; the missing rest appended.
    std::string rest;
    for (int guard = 0; guard < 4096; ++guard) {
        std::string resolved;
        if (ResolvePath(absolute, &resolved) == noErr) {
            if (!rest.empty())
                resolved += (resolved == "/" ? "" : "/") + rest;
            return QString::fromStdString(resolved);
        }
        const std::size_t slash = absolute.find_last_of('/');
        if (slash == std::string::npos || absolute == "/")
            break;
        const std::string last = absolute.substr(slash + 1);
        rest = rest.empty() ? last : last + "/" + rest;
        absolute = slash == 0 ? std::string("/") : absolute.substr(0, slash);
    }
    return QString::fromStdString(AbsolutePath(path.toStdString()));
}

bool PathIsInsideOrEqual(const QString& path, const QString& folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return false;
    if (path == folder)
        return true;
    if (folder == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path.startsWith(folder + QLatin1Char('/'));
}

std::optional<BatchFolderRefusal> CheckBatchInputsExist(const QStringList& inputPaths)
{
    for (const QString& input : inputPaths) {
        if (has_undecodable_bytes(input))
            continue;
        const int missing = StatPath(input.toStdString(), nullptr);
        if (missing != ENOENT && missing != ENOTDIR && missing != ELOOP)
            continue;
        // A link that leads nowhere is named as one.
        const QString link = BrokenLinkProblem(input);
        return BatchFolderRefusal{
            QStringLiteral("Error: input not found"),
            (link.isEmpty() ? QStringLiteral("The input '%1' does not exist.").arg(input)
                            : QStringLiteral("The input '%1' %2.").arg(input, link)) +
                QStringLiteral("\n\nNothing was converted."),
            input};
    }
    return std::nullopt;
}

std::optional<BatchFolderRefusal> CheckBatchFolders(const QStringList& inputPaths,
                                                    const QList<ConvSpecRef>& activeConversions,
                                                    const QString& outputFolder)
{
    const QString out = CanonicalBatchPath(outputFolder);
    QList<QPair<QString, QString>> subfolders;  // conversion name, canonical subfolder
    for (const ConvSpecRef& conversion : activeConversions)
        if (conversion)
            subfolders.append({conversion->conversionName(),
                               CanonicalBatchPath(outputFolder + QLatin1Char('/') + conversion->conversionName())});

    for (const QString& input : inputPaths) {
        const std::string inputPath = input.toStdString();
        if (!PathExists(inputPath))
            continue;
        const QString in = CanonicalBatchPath(input);
        if (IsFolder(inputPath)) {
            if (PathIsInsideOrEqual(out, in))
                return BatchFolderRefusal{
                    QStringLiteral("Error: output folder inside input folder"),
                    QStringLiteral("The output folder is inside the input folder '%1', which is not allowed, "
                                   "because Quillmarch would try to create an endless chain of nested folders.\n\n"
                                   "Please specify another location for the converted audio files.")
                        .arg(input),
                    input};
            if (in != out && PathIsInsideOrEqual(in, out)) {
                const QString name = LastComponent(in);
                for (const auto& sub : subfolders)
                    if (sub.first == name)
                        return BatchFolderRefusal{
                            QStringLiteral("Error: input folder with same name as an active conversion"),
                            QStringLiteral(
                                "The input folder '%1' is inside the output folder (which is OK), but it has the "
                                "same name as one of the active conversions. This is not allowed, because "
                                "Quillmarch would try to create an endless chain of nested folders.\n\n"
                                "Please specify another location for the converted audio files.")
                                .arg(input),
                            input};
            }
        }
        for (const auto& sub : subfolders)
            if (PathIsInsideOrEqual(in, sub.second))
                return BatchFolderRefusal{
                    QStringLiteral("Error: input inside a conversion's output folder"),
                    QStringLiteral("The input '%1' is inside the folder '%2', where the active conversion '%3' "
                                   "writes its files. This is not allowed, because Quillmarch would convert its "
                                   "own output.\n\nPlease specify another location for the converted audio files.")
                        .arg(input, sub.second, sub.first),
                    input};
    }
    return std::nullopt;
}
