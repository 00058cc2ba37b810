#include "storage/dropbox/DropBoxSignIn.h"

#include "core/Config.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "storage/LoopbackReceiver.h"
#include "storage/dropbox/DropBoxAuth.h"

#include <QDateTime>
#include <QJsonObject>
#include <QPointer>
#include <QUrlQuery>

namespace {
QPointer<DropBoxSignIn>& pendingFlow() {
    static QPointer<DropBoxSignIn> flow;
    return flow;
}

bool isLoopback(const QUrl& url) {
    return url.scheme() == QLatin1String("http") &&
           (url.host() == QLatin1String("127.0.0.1") || url.host() == QLatin1String("localhost"));
}
} // namespace

DropBoxSignIn::DropBoxSignIn(QObject* parent) : BrowserSignIn(parent) {}

DropBoxSignIn* DropBoxSignIn::pending() {
    DropBoxSignIn* flow = pendingFlow();
    return flow && flow->isWaiting() ? flow : nullptr;
}

std::optional<QString> DropBoxSignIn::prepare() {
    if (configValue(ConfigKey::DropboxAppKey).isEmpty())
        return missingKeyMessage(label(), ConfigKey::DropboxAppKey);
    m_redirect = QUrl(configValue(ConfigKey::DropboxRedirectUri));
    if (isLoopback(m_redirect) && !listenOnLoopback(quint16(m_redirect.port(80)), m_redirect.path()))
        return QStringLiteral(
                   "Port %1 of 127.0.0.1, where Dropbox sends its answer (dropbox/redirectUri), is in "
                   "use; close the program that holds it and sign in again.")
            .arg(m_redirect.port(80));
    pendingFlow() = this;
    return std::nullopt;
}

QUrl DropBoxSignIn::buildAuthorizationUrl() {
    QUrl url(configValue(ConfigKey::DropboxAuthorizeUrl));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("client_id"), configValue(ConfigKey::DropboxAppKey));
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    if (!m_redirect.isEmpty()) {
        query.addQueryItem(QStringLiteral("redirect_uri"), m_redirect.toString());
        query.addQueryItem(QStringLiteral("state"), m_state);
    }
    query.addQueryItem(QStringLiteral("code_challenge"), pkceChallenge(m_verifier));
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    query.addQueryItem(QStringLiteral("token_access_type"), QStringLiteral("offline"));
    url.setQuery(query.toString(QUrl::FullyEncoded), QUrl::StrictMode);
    return url;
}

bool DropBoxSignIn::ownsRedirect(const QUrl& url) const {
    return !m_redirect.isEmpty() && url.scheme().compare(m_redirect.scheme(), Qt::CaseInsensitive) == 0 &&
           url.host().compare(m_redirect.host(), Qt::CaseInsensitive) == 0 &&
           url.port() == m_redirect.port() && url.path() == m_redirect.path();
}

void DropBoxSignIn::declined(const QString& error, const QString& description) {
    if (error == QLatin1String("access_denied"))
        finish(SignInResult::Outcome::Cancelled);
    else
        finish(SignInResult::Outcome::Failed, description.isEmpty() ? error : description);
}

void DropBoxSignIn::exchange(const QString& code) {
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("authorization_code"));
    form.addQueryItem(QStringLiteral("code"), code);
    form.addQueryItem(QStringLiteral("client_id"), configValue(ConfigKey::DropboxAppKey));
    form.addQueryItem(QStringLiteral("code_verifier"), m_verifier);
    if (!m_redirect.isEmpty())
        form.addQueryItem(QStringLiteral("redirect_uri"), m_redirect.toString());
    postForm(QUrl(configValue(ConfigKey::DropboxTokenUrl)), form.toString(QUrl::FullyEncoded).toUtf8(),
             [this](int status, const QJsonObject& answer, const QByteArray&, const QString& networkError) {
                 const QString access = answer.value(QStringLiteral("access_token")).toString();
                 if (status != 200 || access.isEmpty()) {
                     const QString description = answer.value(QStringLiteral("error_description")).toString();
                     finish(SignInResult::Outcome::Failed,
                            status == 0             ? networkError
                            : description.isEmpty() ? answer.value(QStringLiteral("error"))
                                                          .toString(QStringLiteral("HTTP %1").arg(status))
                                                    : description);
                     return;
                 }
                 const qint64 expiresIn = qint64(answer.value(QStringLiteral("expires_in")).toDouble());
                 DropBoxAuth::instance().link(
                     {access, answer.value(QStringLiteral("refresh_token")).toString(),
                      expiresIn > 0 ? QDateTime::currentSecsSinceEpoch() + expiresIn : 0});
                 selectSignedInProvider(Preferences::isDropBox);
                 finish(SignInResult::Outcome::Success);
             });
}

void DropBoxSignIn::ending(const SignInResult& result) {
    if (result.outcome == SignInResult::Outcome::Cancelled)
        logLine(QStringLiteral("Authorization flow was manually canceled by user!"));
    else if (result.outcome == SignInResult::Outcome::Failed)
        logLine(QStringLiteral("Error: ") + result.message);
}
