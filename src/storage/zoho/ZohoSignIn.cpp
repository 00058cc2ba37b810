#include "storage/zoho/ZohoSignIn.h"

#include "core/Config.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"
#include "storage/zoho/ZohoAuthentication.h"

#include <QJsonObject>
#include <QProcess>

namespace {
std::function<bool()>& urlHandlerProbe() {
    static std::function<bool()> probe = [] {
        QProcess query;
        query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                                 QStringLiteral("x-scheme-handler/vantry")});
        return query.waitForFinished(5000) && query.exitCode() == 0 &&
               !query.readAllStandardOutput().trimmed().isEmpty();
    };
    return probe;
}

// Zoho's token requests answer within this time or not at all.
constexpr int tokenRequestTimeoutMs = 20000;
} // namespace

ZohoSignIn::ZohoSignIn(QObject* parent) : BrowserSignIn(parent) {}

void ZohoSignIn::setUrlHandlerProbe(std::function<bool()> probe) {
    urlHandlerProbe() = std::move(probe);
}

bool ZohoSignIn::urlHandlerRegistered() {
    return urlHandlerProbe() && urlHandlerProbe()();
}

bool ZohoSignIn::needsPastedCode() const {
    return !urlHandlerRegistered();
}

std::optional<QString> ZohoSignIn::prepare() {
    if (configValue(ConfigKey::ZohoClientId).isEmpty())
        return missingKeyMessage(label(), ConfigKey::ZohoClientId);
    NotificationCenter::instance().observe(
        QStringLiteral("zohocode_Receiver"), this, [this](const QVariantMap& userInfo) {
            const QVariant code = userInfo.value(QStringLiteral("code"));
            if (isWaiting())
                submitCode(code.typeId() == QMetaType::QString ? code.toString() : QString());
        });
    return std::nullopt;
}

QUrl ZohoSignIn::buildAuthorizationUrl() {
    return ZohoAuthentication::authorizationURL();
}

bool ZohoSignIn::ownsRedirect(const QUrl& url) const {
    return url.host().compare(QLatin1String("zohoCallback"), Qt::CaseInsensitive) == 0 &&
           url.scheme().startsWith(QLatin1String("vantry"), Qt::CaseInsensitive);
}

void ZohoSignIn::exchange(const QString& code) {
    postForm(
        ZohoAuthentication::codeExchangeURL(code), QByteArray(),
        [this](int status, const QJsonObject& answer, const QByteArray& body, const QString& networkError) {
            if (status == 0) {
                logLine(networkError);
                if (onNotice)
                    onNotice(networkError);
                return;
            }
            const std::optional<QString> access = ZohoAuthentication::handleCodeExchangeResponse(body);
            if (!access) {
                if (onNotice)
                    onNotice(
                        QStringLiteral("Zoho did not accept the authorization code; approve Vantry on Zoho's "
                                       "page again, or paste a new code."));
                return;
            }
            ZohoAuthentication::adoptAccessToken(
                *access, qint64(answer.value(QStringLiteral("expires_in")).toDouble(3600)));
            selectSignedInProvider(Preferences::isZoho);
            finish(SignInResult::Outcome::Success);
        },
        tokenRequestTimeoutMs);
}
