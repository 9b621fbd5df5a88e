// The places and checks that keep a local socket this user's own: the
// folder a program of this user puts its sockets in, whether a socket file
// there is this user's, and which user the process at the other end of a
// connection runs as.
#pragma once

#include <QString>
#include <QtGlobal>

class PrivateSockets {
public:
    // The effective user id of this process.
    static uint user();

    // The folder for this user's sockets: $XDG_RUNTIME_DIR when it names a
    // folder of this user's that no one else can write into; else
    // "quillmarch-<user id>" in the temporary folder, made with mode 0700
    // when missing, and used only when it is a folder (not a link) of this
    // user's that no one else can enter.  *why gets why $XDG_RUNTIME_DIR
    // was passed over; the result is empty, with the reasons in *why, when
    // neither will do.
    static QString folder(QString* why = nullptr);

    // Empty when `path` is a folder of this user's that no one else can
    // write into; else why it is not.
    static QString folderProblem(const QString& path);

    enum class Socket { Missing, Own, NotOwn };
    // What stands at `path` (never following a link): nothing, a socket of
    // this user's, or anything else (*why says what).
    static Socket socketAt(const QString& path, QString* why = nullptr);

    // The user of the process at the other end of the connected local
    // socket `descriptor`; -1 when it cannot be told.
    static qint64 peerUser(qintptr descriptor);
};
