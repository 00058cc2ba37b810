#pragma once

#include "core/Config.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A linked account's tokens. expiresAt is seconds since the epoch (0: no expiry known).
struct OAuthTokens {
    QString accessToken;
    QString refreshToken;
    qint64 expiresAt = 0;
};

// What an operation asks for before it talks to the provider.
class OAuthAuthorizedClient {
public:
    explicit OAuthAuthorizedClient(OAuthTokens tokens) : m_tokens(std::move(tokens)) {}
    bool isAuthorized() const { return !m_tokens.accessToken.isEmpty() || !m_tokens.refreshToken.isEmpty(); }

private:
    OAuthTokens m_tokens;
};

// One provider's authorization of this user, kept in the credential store. One refresh grant
// runs at a time; every caller that needs a fresh token while it runs waits for the same answer.
class OAuthSession : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QString service;       // credential store service name
        QString label;         // provider name in texts: "Dropbox"
        ConfigKey tokenUrlKey; // the token endpoint and client credentials
        ConfigKey clientIdKey;
        std::optional<ConfigKey> clientSecretKey; // none when the flow needs no secret (PKCE)
        QByteArray scheme = "Bearer";             // the word before the token in the Authorization header
    };
    explicit OAuthSession(Settings settings);
    ~OAuthSession() override = default;

    // Stores a new authorization (sign-in, or tests).
    void link(const OAuthTokens& tokens);
    // Forgets it (sign-out).
    void unlinkAndResetClients();

    std::shared_ptr<OAuthAuthorizedClient> authorizedClient();

    // The token for the next request, refreshed first when it has expired (or when the server
    // refused it: forceRefresh). error is a short readable text when there is no token.
    using TokenCallback = std::function<void(const std::optional<QString>& token, const QString& error)>;
    // A provider with its own token rules (WorkDrive's throttled refresh) overrides it.
    virtual void withAccessToken(TokenCallback callback, bool forceRefresh = false);

    QString label() const { return m_settings.label; }
    QByteArray authorization(const QString& token) const { return m_settings.scheme + ' ' + token.toUtf8(); }

    // Refresh grants sent since start (for diagnostics and tests).
    int refreshCount() const { return m_refreshCount; }
    // Reads the stored authorization again (another process may have changed it).
    void reload();

private:
    void refresh();
    void finishRefresh(const std::optional<QString>& token, const QString& error);

    Settings m_settings;
    std::optional<OAuthTokens> m_tokens;
    bool m_loaded = false;
    bool m_refreshing = false;
    int m_refreshCount = 0;
    std::vector<TokenCallback> m_waiting;
};
