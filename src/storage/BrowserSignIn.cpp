#include "storage/BrowserSignIn.h"

#include "core/Config.h"
#include "core/Preferences.h"
#include "core/RandomString.h"
#include "storage/AuthorizedCall.h"
#include "storage/LoopbackReceiver.h"
#include "storage/NetworkErrorText.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QUrlQuery>

namespace {
BrowserSignIn::PageOpener& pageOpener() {
    static BrowserSignIn::PageOpener opener = [](const QUrl& url) {
        return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
    };
    return opener;
}
} // namespace

QString pkceVerifier() {
    return randomString(64);
}

QString pkceChallenge(const QString& verifier) {
    const QByteArray digest = QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256);
    return QString::fromLatin1(
        digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

void selectSignedInProvider(const QString& flagKey) {
    for (const QString& key :
         {Preferences::isDrive, Preferences::isDropBox, Preferences::isZoho, QStringLiteral("isSelfHosted")})
        Preferences::setFlag(key, key == flagKey);
}

BrowserSignIn::BrowserSignIn(QObject* parent) : QObject(parent) {}

BrowserSignIn::~BrowserSignIn() {
    if (m_reply)
        m_reply->abort();
}

void BrowserSignIn::setPageOpener(PageOpener opener) {
    pageOpener() = std::move(opener);
}

bool BrowserSignIn::openPage(const QUrl& url) {
    return pageOpener() && pageOpener()(url);
}

QString BrowserSignIn::missingKeyMessage(const QString& provider, ConfigKey key) {
    return QStringLiteral(
               "%1 sign-in is not configured: set %2 (environment variable %3) to the client identifier "
               "registered with %1.")
        .arg(provider, Config::name(key), Config::environmentName(key));
}

void BrowserSignIn::start(bool open) {
    if (m_waiting)
        return;
    m_state = randomString(24);
    m_verifier = pkceVerifier();
    if (const std::optional<QString> problem = prepare()) {
        m_waiting = true;
        finish(SignInResult::Outcome::Failed, *problem);
        return;
    }
    m_authorizationUrl = buildAuthorizationUrl();
    m_waiting = true;
    if (open)
        openPageAgain();
}

void BrowserSignIn::openPageAgain() {
    if (!m_waiting)
        return;
    if (!openPage(m_authorizationUrl) && onNotice)
        onNotice(QStringLiteral("No browser could be started; open this address yourself: ") +
                 m_authorizationUrl.toString(QUrl::FullyEncoded));
}

void BrowserSignIn::cancel() {
    if (m_reply) {
        QNetworkReply* reply = m_reply;
        m_reply = nullptr;
        reply->abort();
    }
    finish(SignInResult::Outcome::Cancelled);
}

bool BrowserSignIn::handleRedirectURL(const QUrl& url) {
    if (!m_waiting || !ownsRedirect(url))
        return false;
    takeAnswer(url);
    return true;
}

void BrowserSignIn::submitPasted(const QString& text) {
    const QString pasted = text.trimmed();
    if (!m_waiting || pasted.isEmpty())
        return;
    const QUrl url(pasted);
    if (!url.scheme().isEmpty() && url.hasQuery()) {
        takeAnswer(url);
        return;
    }
    submitCode(pasted);
}

void BrowserSignIn::submitCode(const QString& code) {
    if (!m_waiting || m_exchanging)
        return;
    m_exchanging = true;
    exchange(code);
}

void BrowserSignIn::takeAnswer(const QUrl& url) {
    if (m_exchanging)
        return;
    const QUrlQuery query(url);
    const QString error = query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
    if (checksState() && query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded) != m_state) {
        finish(SignInResult::Outcome::Failed,
               QStringLiteral("The answer from %1 does not belong to this sign-in; sign in again.")
                   .arg(label()));
        return;
    }
    if (!error.isEmpty()) {
        declined(error, query.queryItemValue(QStringLiteral("error_description"), QUrl::FullyDecoded));
        return;
    }
    submitCode(query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded));
}

void BrowserSignIn::declined(const QString&, const QString&) {
    finish(SignInResult::Outcome::Cancelled);
}

void BrowserSignIn::finish(SignInResult::Outcome outcome, const QString& message) {
    if (!m_waiting)
        return;
    m_waiting = false;
    m_exchanging = false;
    for (LoopbackReceiver* receiver : findChildren<LoopbackReceiver*>())
        receiver->close();
    const SignInResult result{outcome, message};
    ending(result);
    const Finished finished = onFinished;
    if (finished)
        finished(result);
}

LoopbackReceiver* BrowserSignIn::listenOnLoopback(quint16 port, const QString& path) {
    auto* receiver = new LoopbackReceiver(this);
    if (!receiver->listen(port, path)) {
        delete receiver;
        return nullptr;
    }
    connect(receiver, &LoopbackReceiver::redirected, this,
            [this](const QUrl& url) { handleRedirectURL(url); });
    return receiver;
}

void BrowserSignIn::postForm(
    const QUrl& url, const QByteArray& form,
    std::function<void(int, const QJsonObject&, const QByteArray&, const QString&)> done, int timeoutMs) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = storageNetwork()->post(request, form);
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, done = std::move(done)] {
        reply->deleteLater();
        if (m_reply != reply) // cancelled
            return;
        m_reply = nullptr;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray body = reply->readAll();
        m_exchanging = false;
        // Not errorString(): it can quote the request URL, and some token URLs carry secrets.
        done(status, QJsonDocument::fromJson(body).object(), body,
             status == 0 ? networkErrorText(reply->error()) : QString());
    });
}
