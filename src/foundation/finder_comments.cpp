#include "finder_comments.h"

#include "ExtendedAttributes.h"

namespace {

constexpr int kSetAttempts = 11;

} // namespace

QString finder_get_comment(const QString& path)
{
    QByteArray value;
    if (GetExtendedAttribute(path.toStdString(), kCommentAttributeName, &value) != noErr)
        return QString();
    return QString::fromUtf8(value);
}

OSErr finder_set_comment(const QString& comment, const QString& path)
{
    const std::string file = path.toStdString();
    const QByteArray value = comment.toUtf8();
    OSErr err = ioErr;
    for (int attempt = 0; attempt < kSetAttempts; ++attempt) {
        err = SetExtendedAttribute(file, kCommentAttributeName, value);
        if (err != noErr)
            continue;
        QByteArray stored;
        err = GetExtendedAttribute(file, kCommentAttributeName, &stored);
        if (err == noErr && stored == value)
            return noErr;
        if (err == noErr)
            err = ioErr;
    }
    return err;
}
