#include "AuthorizationEmulator.h"

#include "EmulatorCore.h"
#include "core/Config.h"

#include <QCryptographicHash>
#include <QUrl>
#include <QUrlQuery>

namespace {
using namespace emu;

struct Grant {
    QString redirectUri, challenge, clientId;
};

QString rawQuery(const Request& req) {
    const std::string& target = req.target;
    const size_t q = target.find('?');
    return q == std::string::npos ? QString() : QString::fromStdString(target.substr(q + 1));
}

bool verifierMatches(const QString& verifier, const QString& challenge) {
    const QByteArray digest = QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256);
    return QString::fromLatin1(
               digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)) == challenge;
}
} // namespace

struct AuthorizationEmulator::State {
    QString access = QStringLiteral("emu-access-token-0123456789");
    QString refresh = QStringLiteral("emu-refresh-token-0123456789");
    QString expectedZoho, lastAuthorize, lastZohoToken, zohoState;
    std::map<QString, Grant> codes;
    int exchanges = 0;
};

AuthorizationEmulator::AuthorizationEmulator(const QString& storageDir)
    : EmulatorServer(storageDir), d(new State) {
    EmulatorCore& c = core();
    State& st = *d;
    const auto authorize = [this, &c, &st](const Request& req, Response& res, bool zoho) {
        std::lock_guard lock(c.mutex);
        st.lastAuthorize = rawQuery(req);
        c.requests.append(QStringLiteral("authorize ") + st.lastAuthorize);
        const QString redirect = param(req, "redirect_uri");
        const QString state = forgeState ? QStringLiteral("forged") : param(req, "state");
        if (zoho)
            st.zohoState = param(req, "state");
        QUrl target(redirect);
        QUrlQuery query;
        if (deny) {
            query.addQueryItem(QStringLiteral("error"), QStringLiteral("access_denied"));
        } else {
            const QString code = QStringLiteral("emu-code-") + randomId(16);
            st.codes[code] = {redirect, param(req, "code_challenge"), param(req, "client_id")};
            query.addQueryItem(QStringLiteral("code"), code);
        }
        if (!state.isEmpty())
            query.addQueryItem(QStringLiteral("state"), state);
        if (redirect.isEmpty()) { // Dropbox's no-redirect form shows the code
            res.set_content("<html><body><p>Enter this code into Vantry:</p><code>" +
                                query.queryItemValue(QStringLiteral("code")).toStdString() +
                                "</code></body></html>",
                            "text/html");
            return;
        }
        target.setQuery(query);
        res.status = 302;
        res.set_header("Location", target.toString(QUrl::FullyEncoded).toStdString());
    };
    for (const auto& [path, zoho] :
         {std::pair{"/o/oauth2/v2/auth", false}, {"/oauth2/authorize", false}, {"/oauth/v2/auth", true}})
        c.server.Get(path,
                     [authorize, zoho](const Request& req, Response& res) { authorize(req, res, zoho); });

    // Google and Dropbox: form body, PKCE.
    const auto pkceToken = [this, &c, &st](const Request& req, Response& res, const char* name) {
        std::lock_guard lock(c.mutex);
        c.requests.append(QString::fromLatin1(name) + QStringLiteral(" token ") + param(req, "grant_type"));
        const auto refuse = [&res](const char* error) {
            sendJson(res, 400,
                     json(R"({"error": %1, "error_description": %2})", QString::fromLatin1(error),
                          QStringLiteral("code or verifier is wrong")),
                     "application/json");
        };
        if (param(req, "grant_type") != QLatin1String("authorization_code"))
            return refuse("unsupported_grant_type");
        const auto grant = st.codes.find(param(req, "code"));
        if (grant == st.codes.end())
            return refuse("invalid_grant");
        const Grant g = grant->second;
        st.codes.erase(grant); // single use
        if (param(req, "redirect_uri") != g.redirectUri || param(req, "client_id") != g.clientId)
            return refuse("invalid_grant");
        if (rejectVerifier || !verifierMatches(param(req, "code_verifier"), g.challenge))
            return refuse("invalid_grant");
        ++st.exchanges;
        QJsonObject body{{QStringLiteral("access_token"), st.access},
                         {QStringLiteral("expires_in"), 3600},
                         {QStringLiteral("token_type"), QStringLiteral("bearer")}};
        if (!omitRefreshToken)
            body.insert(QStringLiteral("refresh_token"), st.refresh);
        sendJson(res, 200, body, "application/json");
    };
    for (const auto& [path, name] : {std::pair{"/token", "google"}, {"/oauth2/token", "dropbox"}})
        c.server.Post(path,
                      [pkceToken, name](const Request& req, Response& res) { pkceToken(req, res, name); });

    // Dropbox sign-out: the bearer token (and the grant behind it) stops working.
    c.server.Post("/2/auth/token/revoke", [&c](const Request& req, Response& res) {
        std::lock_guard lock(c.mutex);
        const QString bearer = EmulatorCore::credential(req, "Bearer");
        c.requests.append(QStringLiteral("revoke"));
        if (c.tokens.erase(bearer) == 0)
            return sendJson(
                res, 401,
                json(
                    R"({"error_summary": "invalid_access_token/..", "error": {".tag": "invalid_access_token"}})"),
                "application/json");
        res.set_content("null", "application/json");
    });

    // Zoho: every value in the query string, errors as HTTP 200 with "error".
    c.server.Post("/oauth/v2/token", [this, &c, &st](const Request& req, Response& res) {
        std::lock_guard lock(c.mutex);
        const QString grantType = param(req, "grant_type");
        c.requests.append(QStringLiteral("zoho token ") + grantType);
        QJsonObject body{{QStringLiteral("access_token"), st.access},
                         {QStringLiteral("api_domain"), c.base()},
                         {QStringLiteral("token_type"), QStringLiteral("Bearer")},
                         {QStringLiteral("expires_in"), 3600}};
        if (grantType == QLatin1String("refresh_token")) {
            if (c.refreshGrantMatches(req))
                return sendJson(res, 200, body, "application/json");
            return sendJson(res, 200, json(R"({"error": "invalid_code"})"), "application/json");
        }
        st.lastZohoToken = rawQuery(req);
        const auto grant = st.codes.find(param(req, "code"));
        const bool exact = st.expectedZoho.isEmpty() || st.lastZohoToken == st.expectedZoho;
        if (grant == st.codes.end() || !exact || param(req, "state") != st.zohoState ||
            param(req, "client_secret") != AuthorizationEmulator::zohoSecret)
            return sendJson(res, 200, json(R"({"error": "invalid_code"})"), "application/json");
        st.codes.erase(grant);
        ++st.exchanges;
        if (!omitRefreshToken) {
            body.insert(QStringLiteral("refresh_token"), st.refresh);
            c.refreshToken = st.refresh;
        }
        sendJson(res, 200, body, "application/json");
    });
}

AuthorizationEmulator::~AuthorizationEmulator() {
    stop();
}

void AuthorizationEmulator::pointConfigHere() const {
    Config& config = Config::instance();
    config.set(ConfigKey::GoogleClientId, googleClientId);
    config.set(ConfigKey::GoogleClientSecret, QStringLiteral("GOCSPX-emulator-secret-01"));
    config.set(ConfigKey::GoogleAuthorizeUrl, baseUrl() + QStringLiteral("/o/oauth2/v2/auth"));
    config.set(ConfigKey::GoogleTokenUrl, baseUrl() + QStringLiteral("/token"));
    config.set(ConfigKey::DropboxAppKey, dropboxAppKey);
    config.set(ConfigKey::DropboxAuthorizeUrl, baseUrl() + QStringLiteral("/oauth2/authorize"));
    config.set(ConfigKey::DropboxTokenUrl, baseUrl() + QStringLiteral("/oauth2/token"));
    config.set(ConfigKey::DropboxRevokeUrl, baseUrl() + QStringLiteral("/2/auth/token/revoke"));
    config.set(ConfigKey::ZohoClientId, zohoClientId);
    config.set(ConfigKey::ZohoClientSecret, zohoSecret);
    config.set(ConfigKey::ZohoAccountsUrl, baseUrl());
}

void AuthorizationEmulator::setTokens(const QString& accessToken, const QString& refreshToken) {
    core().locked([&] {
        d->access = accessToken;
        d->refresh = refreshToken;
    });
}
void AuthorizationEmulator::setExpectedZohoExchange(const QString& query) {
    core().locked([&] { d->expectedZoho = query; });
}
QString AuthorizationEmulator::lastAuthorizeQuery() const {
    return core().locked([&] { return d->lastAuthorize; });
}
QString AuthorizationEmulator::lastZohoTokenQuery() const {
    return core().locked([&] { return d->lastZohoToken; });
}
int AuthorizationEmulator::codeExchanges() const {
    return core().locked([&] { return d->exchanges; });
}
