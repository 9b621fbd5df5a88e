#include "OutputFolderInfo.h"

#include "Localized.h"


#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QStringList>

QString OutputFolderInfo::cutToUtf8Bytes(const QString& text, int maxBytes)
{
    int bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text.at(i);
        qsizetype units = 1;
        int width;
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            units = 2;
            width = 4;
        } else if (c.unicode() < 0x80) {
            width = 1;
        } else if (c.unicode() < 0x800) {
            width = 2;
        } else {
            width = 3;  // lone surrogates become U+FFFD, also three bytes
        }
        if (bytes + width > maxBytes)
            break;
        bytes += width;
        i += units;
    }
    return text.left(i);
}

OutputFolderInfo OutputFolderInfo::describe(const QString& path)
{
    OutputFolderInfo info;
    const QFileInfo folder(path);
    if (path.isEmpty() || !folder.exists() || !folder.isDir()) {
        info.folderText = L("<undefined>");
        return info;
    }
    info.defined = true;
    const QString absolute = QDir::cleanPath(folder.absoluteFilePath());
    const QStorageInfo storage(absolute);
    QString root = storage.isValid() ? QDir::cleanPath(storage.rootPath()) : QStringLiteral("/");
    if (root.isEmpty())
        root = QStringLiteral("/");
    info.volumeRoot = root;
    info.freeBytes = storage.isValid() && storage.bytesAvailable() > 0 ? uint64_t(storage.bytesAvailable()) : 0;

    auto shownPath = [](const QString& text) {
        QStringList parts = text.split(QLatin1Char('/'));
        for (QString& part : parts)
            part = cutToUtf8Bytes(part);
        return parts.join(QLatin1Char('/'));
    };

    if (root == QLatin1String("/")) {
        QString name = storage.isValid() ? storage.name() : QString();
        if (name.isEmpty())
            name = QStringLiteral("/");
        info.volumeName = cutToUtf8Bytes(name) + L(" (Startup volume)");
        info.folderText = absolute == QLatin1String("/") ? info.volumeName : shownPath(absolute);
        return info;
    }

    QString name = storage.name();
    if (name.isEmpty())
        name = QFileInfo(root).fileName();
    if (name.isEmpty())
        name = root;
    info.volumeName = cutToUtf8Bytes(name);
    const QString below = absolute.mid(root.size());
    info.folderText = below.isEmpty() || below == QLatin1String("/")
                          ? L("(Top level)")
                          : shownPath(below.startsWith(QLatin1Char('/')) ? below.mid(1) : below);
    return info;
}
