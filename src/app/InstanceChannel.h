// One running application per user: a second start hands its arguments
// (the files to add, or a command such as "--convert") to the running one
// over a local socket and ends, as the file manager's open requests reach
// a running program.
//
// The socket's name is QUILLMARCH_INSTANCE when set (tests and scripts run
// instances of their own), else "quillmarch-" + the user's name.  The
// message is a QDataStream of one QStringList, answered with one byte.
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

    static QString defaultServerName();

    // What the running instance did with "--convert".
    enum class ConvertAnswer { None, Started, NotStarted };

    // Sends `arguments` (paths made absolute by the caller) to the running
    // instance; true when one received them.  With `convertAnswer` (and
    // "--convert" among the arguments) it then waits up to
    // `answerTimeoutMs` for what the instance did (None: no answer), and
    // `reason` gets why nothing was started.  (The wait is long: the
    // instance may first ask its user whether to use an existing output
    // folder.)
    static bool forward(const QStringList& arguments, const QString& serverName = defaultServerName(),
                        int timeoutMs = 3000, ConvertAnswer* convertAnswer = nullptr, int answerTimeoutMs = 600000,
                        QString* reason = nullptr);

    // Starts listening (a stale socket of a crashed instance is removed).
    bool listen(const QString& serverName = defaultServerName());
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
