// The checks made before a batch starts (the Start button and the batch
// command alike): every input the user named is there, and a batch never
// walks into what it writes.
// Paths are compared in their canonical form: symbolic links, "." and ".."
// resolved, no trailing "/".
#pragma once

#include "ConvSpec.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Why a batch may not start: the alert's title and message, and the input
// at fault.
struct BatchFolderRefusal {
    QString title;
    QString message;
    QString inputPath;
};

// The canonical form of `path`: links resolved when the item exists; for an
// item that does not exist (yet), its nearest existing ancestor resolved and
// the rest appended after "." and ".." are resolved textually.
QString CanonicalBatchPath(const QString& path);

// Whether `path` is `folder` or lies inside it (both canonical).
bool PathIsInsideOrEqual(const QString& path, const QString& folder);

// The first input (in order) that cannot be found: "Error: input not
// found", naming it.  A name that is not valid UTF-8 (it holds U+FFFD) is
// passed over: it fails on its own in the batch.  Nothing when every input
// is there (a link must lead to something).
std::optional<BatchFolderRefusal> CheckBatchInputsExist(const QStringList& inputPaths);

// Over the inputs in order (missing inputs are passed over):
//   - an input folder that is the output folder or holds it:
//     "Error: output folder inside input folder";
//   - an input folder inside the output folder whose name is that of an
//     active conversion: "Error: input folder with same name as an active
//     conversion";
//   - an input (file or folder) that is, or lies inside, the output
//     subfolder of an active conversion: "Error: input inside a conversion's
//     output folder".
// Nothing when the batch may start.
std::optional<BatchFolderRefusal> CheckBatchFolders(const QStringList& inputPaths,
                                                    const QList<ConvSpecRef>& activeConversions,
                                                    const QString& outputFolder);
