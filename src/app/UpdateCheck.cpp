#include "UpdateCheck.h"

#include "AppPresenter.h"
#include "Localized.h"
#include "PropertyList.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

} // namespace

UpdateCheck::UpdateCheck(QObject* parent) : QObject(parent)
{
    m_network = new QNetworkAccessManager(this);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &UpdateCheck::abortCheck);
}

UpdateCheck::~UpdateCheck()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        delete m_reply;
    }
}

bool UpdateCheck::isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

bool UpdateCheck::start(const QUrl& address, const QString& runningVersion)
{
    if (m_reply)
        return false;
    m_runningVersion = runningVersion;
    if (!isWebAddress(address)) {
        QTimer::singleShot(0, this, [this] { emit finished(Result()); });
        return true;
    }
    QNetworkRequest request(address);
    // Redirects only to addresses as safe as the first (never https to http).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    m_tooLarge = false;
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > kMaxAnswerSize && m_reply) {
            m_tooLarge = true;
            m_reply->abort();
        }
    });
    connect(m_reply, &QNetworkReply::finished, this, &UpdateCheck::replyFinished);
    m_timer->start(m_timeoutMs);
    return true;
}

void UpdateCheck::abortCheck()
{
    if (m_reply)
        m_reply->abort();  // finished follows, with an error
}

void UpdateCheck::replyFinished()
{
    m_timer->stop();
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();
    Result result;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && !m_tooLarge && status >= 200 && status < 300)
        result = evaluate(reply->read(kMaxAnswerSize + 1), m_runningVersion);
    emit finished(result);
}

UpdateCheck::Result UpdateCheck::evaluate(const QByteArray& answer, const QString& runningVersion)
{
    Result result;
    if (answer.isEmpty() || answer.size() > kMaxAnswerSize)
        return result;
    const QVariant list = PropertyList::fromData(answer);
    if (list.typeId() != QMetaType::QVariantMap)
        return result;
    const QVariantMap dictionary = list.toMap();
    result.currentVersion = dictionary.value(QStringLiteral("Current Version")).toString();
    const QUrl download(dictionary.value(QStringLiteral("DownloadURLDemo")).toString());
    if (isWebAddress(download))
        result.downloadUrl = download;
    result.outcome = Outcome::Current;
    for (const QVariant& old : dictionary.value(QStringLiteral("Old Versions")).toList())
        if (old.typeId() == QMetaType::QString && old.toString() == runningVersion)
            result.outcome = Outcome::NewVersion;
    return result;
}

void UpdateCheck::present(const Result& result, const QString& runningVersion, QWidget* parent)
{
    switch (result.outcome) {
    case Outcome::Failed:
        AppPresenter::showAlert({L("Checking for updates failed"),
                                 L("Could not get info from Corvane. Please try again later, and make sure you have "
                                   "an active connection with the Internet."),
                                 {}, {}, {}},
                                parent);
        return;
    case Outcome::NewVersion: {
        const int answer = AppPresenter::showAlert(
            {L("New version found"),
             L("There is a newer version of Quillmarch: %1. You are running version %2. Would you like to download "
               "the new version?")
                 .arg(result.currentVersion, runningVersion),
             L("Download Now"), L("Cancel"), {}},
            parent);
        // Only a web address is opened.
        if (answer == 1 && isWebAddress(result.downloadUrl))
            AppPresenter::openUrl(result.downloadUrl);
        return;
    }
    case Outcome::Current:
        AppPresenter::showAlert(
            {L("Check for Updates"),
             L("No new versions of Quillmarch were found. You are using the current version: %1.").arg(runningVersion),
             {}, {}, {}},
            parent);
        return;
    }
}
