// The check for updates against a local HTTP server: a good answer for an
// old and for a current version, bad answers, a server that never answers,
// and addresses that are not web addresses; the alerts and the download.
#include "AppTestSupport.h"
#include "PropertyList.h"
#include "UpdateCheck.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Answers every request on 127.0.0.1 with `response` (nothing at all when
// it is empty).
class LocalServer : public QTcpServer {
public:
    explicit LocalServer(QByteArray response) : m_response(std::move(response))
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_request += socket->readAll();
                    if (!m_response.isEmpty() && m_request.contains("\r\n\r\n")) {
                        socket->write(m_response);
                        socket->disconnectFromHost();
                    }
                });
            }
        });
        listen(QHostAddress::LocalHost);
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/versions.plist").arg(serverPort())); }
    QByteArray m_request;

private:
    QByteArray m_response;
};

QByteArray HttpAnswer(int status, const QByteArray& body)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: application/xml\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray VersionList(const QString& download)
{
    return PropertyList::toXml(QVariantMap{
        {QStringLiteral("Current Version"), QStringLiteral("4.2")},
        {QStringLiteral("Old Versions"), QStringList{QStringLiteral("4.0"), QStringLiteral("4.1")}},
        {QStringLiteral("DownloadURLDemo"), download}});
}

class UpdateCheckTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        // The local server is reached directly, whatever proxy the
        // environment names.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
    }
    UpdateCheck::Result check(const QUrl& url, const QString& version, int timeoutMs = 5000)
    {
        UpdateCheck updates;
        updates.setTimeout(timeoutMs);
        QSignalSpy spy(&updates, &UpdateCheck::finished);
        EXPECT_TRUE(updates.start(url, version));
        EXPECT_TRUE(spy.wait(10000));
        return spy.isEmpty() ? UpdateCheck::Result() : spy.first().at(0).value<UpdateCheck::Result>();
    }
};

} // namespace

TEST_F(UpdateCheckTest, AnswersOfTheServer)
{
    LocalServer good(HttpAnswer(200, VersionList(QStringLiteral("https://downloads.example/q.tar.gz"))));
    const UpdateCheck::Result old = check(good.url(), QStringLiteral("4.1"));
    EXPECT_TRUE(good.m_request.startsWith("GET /versions.plist HTTP/1.1"));
    EXPECT_EQ(old.outcome, UpdateCheck::Outcome::NewVersion);
    EXPECT_EQ(old.currentVersion, QStringLiteral("4.2"));
    EXPECT_EQ(old.downloadUrl, QUrl(QStringLiteral("https://downloads.example/q.tar.gz")));
    // Neither current nor listed (even when older): "current"; text only.
    for (const char* version : {"4.2", "3.9", "4.10", "4.1 "})
        EXPECT_EQ(check(good.url(), QString::fromLatin1(version)).outcome, UpdateCheck::Outcome::Current) << version;

    for (const QByteArray& bad : {HttpAnswer(500, VersionList(QStringLiteral("https://x.example/"))),
                                  HttpAnswer(200, "<html>not a list</html>"),
                                  HttpAnswer(200, PropertyList::toXml(QVariantList{QStringLiteral("4.1")})),
                                  QByteArray("garbage\r\n\r\n")}) {
        LocalServer server(bad);
        EXPECT_EQ(check(server.url(), QStringLiteral("4.1")).outcome, UpdateCheck::Outcome::Failed) << bad.left(40).data();
    }

    // A server that never answers: the check gives up on time.
    LocalServer silent{QByteArray()};
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(check(silent.url(), QStringLiteral("4.1"), 300).outcome, UpdateCheck::Outcome::Failed);
    EXPECT_LT(clock.elapsed(), 3000);

    // Only http and https are fetched.
    WriteText(path(QStringLiteral("list.plist")), VersionList(QStringLiteral("https://x.example/")));
    EXPECT_EQ(check(QUrl::fromLocalFile(path(QStringLiteral("list.plist"))), QStringLiteral("4.1")).outcome,
              UpdateCheck::Outcome::Failed);
    EXPECT_EQ(check(QUrl(QStringLiteral("ftp://127.0.0.1/versions.plist")), QStringLiteral("4.1")).outcome,
              UpdateCheck::Outcome::Failed);
}

TEST_F(UpdateCheckTest, AlertsAndDownload)
{
    QList<QUrl> opened;
    AppPresenter::setUrlOpener([&opened](const QUrl& url) {
        opened.append(url);
        return true;
    });
    UpdateCheck::present(UpdateCheck::evaluate(VersionList(QStringLiteral("https://downloads.example/q")), "4.0"),
                         QStringLiteral("4.0"), nullptr);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].title, QStringLiteral("New version found"));
    EXPECT_EQ(m_alerts[0].message, QStringLiteral("There is a newer version of Quillmarch: 4.2. You are running "
                                                  "version 4.0. Would you like to download the new version?"));
    EXPECT_EQ(m_alerts[0].defaultButton, QStringLiteral("Download Now"));
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://downloads.example/q"))});

    // A download address that is not a web address is never opened.
    UpdateCheck::present(UpdateCheck::evaluate(VersionList(QStringLiteral("file:///etc/passwd")), "4.0"),
                         QStringLiteral("4.0"), nullptr);
    EXPECT_EQ(opened.size(), 1);

    UpdateCheck::present(UpdateCheck::evaluate(VersionList(QString()), "4.2"), QStringLiteral("4.2"), nullptr);
    EXPECT_EQ(m_alerts.last().title, QStringLiteral("Check for Updates"));
    EXPECT_EQ(m_alerts.last().message,
              QStringLiteral("No new versions of Quillmarch were found. You are using the current version: 4.2."));
    UpdateCheck::present(UpdateCheck::Result(), QStringLiteral("4.2"), nullptr);
    EXPECT_EQ(m_alerts.last().title, QStringLiteral("Checking for updates failed"));
}
