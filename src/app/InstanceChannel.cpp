#include "InstanceChannel.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>

#include <memory>

namespace {
constexpr qint64 kMaxMessage = 16 * 1024 * 1024;
}

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent) {}

InstanceChannel::~InstanceChannel() = default;

QString InstanceChannel::defaultServerName()
{
    const QString override = qEnvironmentVariable("QUILLMARCH_INSTANCE");
    if (!override.isEmpty())
        return override;
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = QStringLiteral("user");
    return QStringLiteral("quillmarch-") + user;
}

bool InstanceChannel::forward(const QStringList& arguments, const QString& serverName, int timeoutMs,
                              ConvertAnswer* convertAnswer, int answerTimeoutMs, QString* reason)
{
    if (convertAnswer)
        *convertAnswer = ConvertAnswer::None;
    if (reason)
        reason->clear();
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << arguments;
    }
    QByteArray frame;
    {
        QDataStream out(&frame, QIODevice::WriteOnly);
        out << quint32(message.size());
    }
    socket.write(frame + message);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    if (!socket.waitForReadyRead(timeoutMs))
        return false;
    if (socket.read(1) != QByteArray(1, '\1'))
        return false;
    if (convertAnswer && arguments.contains(QStringLiteral("--convert"))) {
        if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(answerTimeoutMs)) {
            const QByteArray answer = socket.read(1);
            if (answer == QByteArray(1, '\2')) {
                *convertAnswer = ConvertAnswer::Started;
            } else if (answer == QByteArray(1, '\3')) {
                *convertAnswer = ConvertAnswer::NotStarted;
                // The reason follows; the instance then closes.
                QByteArray text = socket.readAll();
                while (text.size() < kMaxMessage && socket.waitForReadyRead(timeoutMs))
                    text += socket.readAll();
                if (reason)
                    *reason = QString::fromUtf8(text);
            }
        }
    }
    return true;
}

bool InstanceChannel::listen(const QString& serverName)
{
    delete m_server;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::acceptConnection);
    if (m_server->listen(serverName))
        return true;
    QLocalServer::removeServer(serverName);
    return m_server->listen(serverName);
}

void InstanceChannel::close()
{
    if (m_server)
        m_server->close();
}

QString InstanceChannel::serverName() const
{
    return m_server ? m_server->serverName() : QString();
}

void InstanceChannel::acceptConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            if (buffer->size() < 4)
                return;
            quint32 length = 0;
            {
                QDataStream in(*buffer);
                in >> length;
            }
            if (length > kMaxMessage) {
                socket->abort();
                return;
            }
            if (buffer->size() < qsizetype(4 + length))
                return;
            QStringList arguments;
            QDataStream in(buffer->mid(4, length));
            in.setVersion(QDataStream::Qt_6_0);
            in >> arguments;
            const bool ok = in.status() == QDataStream::Ok;
            buffer->clear();
            socket->write(QByteArray(1, ok ? '\1' : '\0'));
            socket->flush();
            if (ok && arguments.contains(QStringLiteral("--convert")))
                m_awaitingConvert.append(socket);
            if (ok)
                emit received(arguments);
        });
    }
}

void InstanceChannel::answerConvert(bool started, const QString& reason)
{
    m_awaitingConvert.removeAll(nullptr);
    if (m_awaitingConvert.isEmpty())
        return;
    QLocalSocket* socket = m_awaitingConvert.takeFirst();
    socket->write(QByteArray(1, started ? '\2' : '\3'));
    if (!started)
        socket->write(reason.toUtf8());
    socket->flush();
    socket->disconnectFromServer();
}
