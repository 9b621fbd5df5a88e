#include "FileOperationHandler.h"

#include <QtGlobal>

QString FileOperationHandler::errorText(const QVariantMap& errorInfo)
{
    const QString method = QStringLiteral("FileOperationHandler::shouldProceedAfterError");
    const QString error = errorInfo.value(QStringLiteral("Error")).toString();
    const QString path = errorInfo.value(QStringLiteral("Path")).toString();
    if (errorInfo.contains(QStringLiteral("ToPath")))
        return QStringLiteral("%1: %2 '%3' to '%4'")
            .arg(method, error, path, errorInfo.value(QStringLiteral("ToPath")).toString());
    return QStringLiteral("%1: %2 '%3'").arg(method, error, path);
}

bool FileOperationHandler::shouldProceedAfterError(const QVariantMap& errorInfo) const
{
    qWarning("%s", qUtf8Printable(errorText(errorInfo)));
    return false;
}

void FileOperationHandler::willProcessPath(const QString&) const {}
