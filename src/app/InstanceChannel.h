// One running application per user and session: a second start hands its
// arguments (the files to add, or a command such as "--convert") to the
// running one over a local socket and ends, as the file manager's open
// requests reach a running program.
//
// The socket lies in the user's private folder (PrivateSockets::folder())
// and is named "quillmarch-" + a short hash of the session: the display
// ($WAYLAND_DISPLAY, $DISPLAY), the home folder and the preferences file.
// A start in another session (another display, home or preferences file)
// so opens a window of its own instead of feeding one it cannot see.
// Nothing is handed over, nor received, unless both ends are this user's:
// the folder and the socket file are checked before connecting and the
// user at the other end after (on both sides).
//
// The message is a QDataStream of one QStringList, answered with one byte.
// A message holding "--convert" is answered once more, when the running
// instance has handled the command (answerConvert): one byte, 2 when the
// batch was started, 3 when nothing was started, then (after 3) the reason
// in UTF-8 up to the end of the connection.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

class InstanceChannel : public QObject {
    Q_OBJECT
public:
    explicit InstanceChannel(QObject* parent = nullptr);
    ~InstanceChannel() override;

    // The socket of this session; empty (with the reason in *why) when this
    // user has no private folder.  *why also tells why $XDG_RUNTIME_DIR was
    // passed over when it was.
    static QString defaultServerName(QString* why = nullptr);

    // What the running instance did with "--convert".
    enum class ConvertAnswer { None, Started, NotStarted };

    // Sends `arguments` (paths made absolute by the caller) to the running
    // instance; true when one received them.  With `convertAnswer` (and
    // "--convert" among the arguments) it then waits up to
    // `answerTimeoutMs` for what the instance did (None: no answer), and
    // `reason` gets why nothing was started.  (The wait is long: the
    // instance may first ask its user whether to use an existing output
    // folder.)  False with `refusal` set when the socket or the program at
    // its other end is not this user's.
    static bool forward(const QStringList& arguments, const QString& serverName, int timeoutMs = 3000,
                        ConvertAnswer* convertAnswer = nullptr, int answerTimeoutMs = 600000,
                        QString* reason = nullptr, QString* refusal = nullptr);

    // The bytes forward() sends for `arguments`: their length (32 bits, big
    // endian), then the QDataStream of the list.
    static QByteArray message(const QStringList& arguments);

    // Starts listening on the socket `serverName` (a full path; a stale
    // socket of this user's crashed instance is removed, anything else
    // there is left alone); false, with the reason in *why, when it cannot.
    bool listen(const QString& serverName, QString* why = nullptr);
    // Stops listening: a later start finds no instance and opens its own.
    void close();
    QString serverName() const;
    // Tells the oldest start still waiting for its "--convert" what was
    // done (and, when nothing was started, why), and lets it go.
    void answerConvert(bool started, const QString& reason = QString());

signals:
    void received(const QStringList& arguments);

private:
    void acceptConnection();

    QLocalServer* m_server = nullptr;
    QList<QPointer<QLocalSocket>> m_awaitingConvert;
};
