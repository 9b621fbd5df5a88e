#include "InstanceChannel.h"

#include "PrivateSockets.h"
#include "UserDefaults.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <memory>

namespace {
constexpr qint64 kMaxMessage = 16 * 1024 * 1024;
}

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent) {}

InstanceChannel::~InstanceChannel() = default;

QString InstanceChannel::defaultServerName(QString* why)
{
    const QString folder = PrivateSockets::folder(why);
    if (folder.isEmpty())
        return QString();
    QByteArray session;
    for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"})
        session += name + ('=' + qgetenv(name)) + '\n';
    session += "HOME=" + QFile::encodeName(QDir::homePath()) + '\n';
    session += "PREFERENCES=" + QFile::encodeName(QFileInfo(UserDefaults::defaultFilePath()).absoluteFilePath());
    const QByteArray hash = QCryptographicHash::hash(session, QCryptographicHash::Sha256).toHex().left(12);
    return folder + QStringLiteral("/quillmarch-") + QString::fromLatin1(hash);
}

namespace {

// Why the socket `serverName` may not be used: its folder, or what stands
// there, is not this user's; empty when it may (or nothing is there yet).
QString PlaceProblem(const QString& serverName)
{
    // (A bare name would be taken to the shared temporary folder.)
    if (!QFileInfo(serverName).isAbsolute())
        return QStringLiteral("the socket's name %1 is not a full path").arg(serverName);
    const QString folderProblem = PrivateSockets::folderProblem(QFileInfo(serverName).absolutePath());
    if (!folderProblem.isEmpty())
        return folderProblem;
    QString why;
    if (PrivateSockets::socketAt(serverName, &why) == PrivateSockets::Socket::NotOwn)
        return why;
    return QString();
}

}  // namespace

QByteArray InstanceChannel::message(const QStringList& arguments)
{
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
    return frame + message;
}

bool InstanceChannel::forward(const QStringList& arguments, const QString& serverName, int timeoutMs,
                              ConvertAnswer* convertAnswer, int answerTimeoutMs, QString* reason, QString* refusal)
{
    if (convertAnswer)
        *convertAnswer = ConvertAnswer::None;
    if (reason)
        reason->clear();
    auto refuse = [refusal](const QString& why) {
        if (refusal)
            *refusal = why;
        return false;
    };
    refuse(QString());
    if (const QString problem = PlaceProblem(serverName); !problem.isEmpty())
        return refuse(problem);
    if (PrivateSockets::socketAt(serverName) == PrivateSockets::Socket::Missing)
        return false;
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // Whoever listens there must be this user's too; nothing is sent before.
    if (const qint64 peer = PrivateSockets::peerUser(socket.socketDescriptor()); peer != qint64(PrivateSockets::user())) {
        socket.abort();
        return refuse(QStringLiteral("the program listening on %1 runs as another user (user id %2)")
                          .arg(serverName)
                          .arg(peer));
    }
    socket.write(message(arguments));
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

bool InstanceChannel::listen(const QString& serverName, QString* why)
{
    delete m_server;
    m_server = nullptr;
    QString problem = PlaceProblem(serverName);
    if (problem.isEmpty()) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::acceptConnection);
        // What stands there is this user's: a socket left by a crashed
        // instance (a running one would have taken the files).
        if (!m_server->listen(serverName) &&
            PrivateSockets::socketAt(serverName) == PrivateSockets::Socket::Own) {
            QLocalServer::removeServer(serverName);
            m_server->listen(serverName);
        }
        if (!m_server->isListening())
            problem = m_server->errorString();
    }
    if (problem.isEmpty())
        return true;
    if (why)
        *why = problem;
    delete m_server;
    m_server = nullptr;
    return false;
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
        // Only this user's own starts are heard.
        const qint64 peer = PrivateSockets::peerUser(socket->socketDescriptor());
        if (peer != qint64(PrivateSockets::user())) {
            qWarning("quillmarch: refused a connection from user id %lld", peer);
            socket->abort();
            socket->deleteLater();
            continue;
        }
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
