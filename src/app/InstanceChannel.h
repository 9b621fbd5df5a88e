// One running application per user: a second start hands its arguments
// (the files to add, or a command such as "--convert") to the running one
// over a local socket and ends, as the file manager's open requests reach
// a running program.
//
// The socket's name is QUILLMARCH_INSTANCE when set (tests and scripts run
// instances of their own), else "quillmarch-" + the user's name.  The
// message is a QDataStream of one QStringList, answered with one byte.
#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

class InstanceChannel : public QObject {
    Q_OBJECT
public:
    explicit InstanceChannel(QObject* parent = nullptr);
    ~InstanceChannel() override;

    static QString defaultServerName();

    // Sends `arguments` (paths made absolute by the caller) to the running
    // instance; true when one received them.
    static bool forward(const QStringList& arguments, const QString& serverName = defaultServerName(),
                        int timeoutMs = 3000);

    // Starts listening (a stale socket of a crashed instance is removed).
    bool listen(const QString& serverName = defaultServerName());
    QString serverName() const;

signals:
    void received(const QStringList& arguments);

private:
    void acceptConnection();

    QLocalServer* m_server = nullptr;
};
