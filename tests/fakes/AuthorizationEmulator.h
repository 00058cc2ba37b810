#pragma once

#include "EmulatorServer.h"

#include <atomic>

// The authorization servers of Google, Dropbox and Zoho on one free loopback port: authorize
// pages that redirect to the given redirect URI with a code and the state (or show the code
// when there is no redirect URI, as Dropbox does), and token endpoints that check the grant, the
// code, the redirect URI and the PKCE verifier (Google, Dropbox) or the exact query string
// (Zoho), with each provider's error shapes.
class AuthorizationEmulator : public EmulatorServer {
public:
    explicit AuthorizationEmulator(const QString& storageDir);
    ~AuthorizationEmulator() override;

    // Sets the authorize/token URLs, the Zoho accounts host and non-empty client identifiers.
    void pointConfigHere() const override;

    static inline const QString googleClientId =
        QStringLiteral("123456789012-abcdefghijklmnopqrstuvwxyz012345.apps.googleusercontent.com");
    static inline const QString dropboxAppKey = QStringLiteral("abcdefghij12345");
    static inline const QString zohoClientId = QStringLiteral("1000.ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");
    static inline const QString zohoSecret = QStringLiteral("0123456789abcdef0123456789abcdef0123456789");

    // What the token endpoints hand out (the storage emulators are told to accept the access token).
    void setTokens(const QString& accessToken, const QString& refreshToken);
    // Read by the server thread as requests come: the token answers leave out the refresh token;
    // the user declines on the consent page; the token endpoint finds the PKCE verifier wrong; the
    // redirect carries another state than the request's.
    std::atomic<bool> omitRefreshToken{false}, deny{false}, rejectVerifier{false}, forgeState{false};
    // The code-exchange query string Zoho is expected to receive (empty: any).
    void setExpectedZohoExchange(const QString& query);

    QString lastAuthorizeQuery() const; // raw query of the last authorize request
    QString lastZohoTokenQuery() const; // raw query of the last Zoho token request
    int codeExchanges() const;          // authorization_code grants answered with tokens

private:
    struct State;
    std::unique_ptr<State> d;
};
