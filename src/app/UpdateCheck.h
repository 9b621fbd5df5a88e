// The check for a newer version: the maker's version list (a property-list
// dictionary with "Current Version", "Old Versions" and "DownloadURLDemo")
// is fetched in the background, with a time limit and a size limit, from
// an http or https address only.  A running version listed among the old
// ones is offered the download; any other is told it is current (versions
// are compared as text, never by magnitude).
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QWidget;

class UpdateCheck : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Failed, NewVersion, Current };
    struct Result {
        Outcome outcome = Outcome::Failed;
        QString currentVersion;  // "Current Version" of the list
        QUrl downloadUrl;        // "DownloadURLDemo", when http or https
    };

    explicit UpdateCheck(QObject* parent = nullptr);
    ~UpdateCheck() override;

    // The whole fetch must end within `ms` (default 15 s).
    void setTimeout(int ms) { m_timeoutMs = ms; }
    // Starts fetching `address` for `runningVersion`; finished follows
    // (also at once, queued, for an address that is not http or https).
    // False while a check runs.
    bool start(const QUrl& address, const QString& runningVersion);
    bool running() const { return m_reply != nullptr; }

    // What an answer means for `runningVersion`.
    static Result evaluate(const QByteArray& answer, const QString& runningVersion);
    static bool isWebAddress(const QUrl& url);
    // The alert for `result`; "Download Now" opens the download address.
    static void present(const Result& result, const QString& runningVersion, QWidget* parent);

    // Largest answer read.
    static constexpr qint64 kMaxAnswerSize = 1024 * 1024;

signals:
    void finished(const UpdateCheck::Result& result);

private:
    void replyFinished();
    void abortCheck();

    QNetworkAccessManager* m_network = nullptr;
    QNetworkReply* m_reply = nullptr;
    QTimer* m_timer = nullptr;
    QString m_runningVersion;
    int m_timeoutMs = 15000;
    bool m_tooLarge = false;
};
