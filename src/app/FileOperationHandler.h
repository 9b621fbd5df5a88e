// The error handler of the file operations that move a finished output to
// its final name: a failed move is logged and the operation does not go
// on.
#pragma once

#include <QString>
#include <QVariantMap>

class FileOperationHandler {
public:
    // `errorInfo` holds "Error" (the error), "Path" and, for a move, "ToPath".
    // Logs "<operation>: <error> '<path>' to '<to path>'" (without " to ..."
    // when there is no "ToPath") and returns false.
    bool shouldProceedAfterError(const QVariantMap& errorInfo) const;
    // Nothing to do before each path.
    void willProcessPath(const QString& path) const;

    // The text that shouldProceedAfterError logs.
    static QString errorText(const QVariantMap& errorInfo);
};
