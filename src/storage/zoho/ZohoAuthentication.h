#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class OAuthSession;

// The token side of Zoho's OAuth client. Zoho allows about ten token requests per refresh token in
// ten minutes, so the access token is kept until shortly before it expires (or until WorkDrive
// refuses it) rather than refreshed before every call.
namespace ZohoAuthentication {

inline const QString refreshTokenService = QStringLiteral("zoho_re_to");
inline const QString scopes = QStringLiteral(
    "ZohoPC.files.All,ZohoPC.team.All,ZohoPC.workspace.All,ZohoPC.files.All,aaaserver.profile.READ,"
    "zohocontacts.userphoto.READ,WorkDrive.team.All,WorkDrive.workspace.All,WorkDrive.files.All,"
    "WorkDrive.license.All,ZohoFiles.files.All");

// Process-wide values: the state of the latest authorization URL and the last access token.
QString& oauthState();
QString& lastAccessToken();

// The authorization page, with a new oauthState; values appended as they are.
QUrl authorizationURL();
// Token endpoint URLs of the code exchange (with the latest oauthState) and of the refresh grant;
// values appended as they are.
QUrl codeExchangeURL(const QString& code);
QUrl refreshURL(const QString& refreshToken);

// Calls back with an access token: the cached one while it is valid, else a fresh one from the
// stored refresh token (one request at a time, shared by concurrent callers). refusedToken names a
// token the server has just refused: while it is still the cached one, a new one is fetched.
// failure is a short readable text when no answer came; then token is empty.
using TokenCallback = std::function<void(const QString& token, const QString& failure)>;
void withFreshAccessToken(TokenCallback callback, const QString& refusedToken = QString());

// Refresh-mode handling of a token answer: a new access token becomes lastAccessToken (and a new
// refresh token is stored); without one, lastAccessToken is handed on. No value when the body is
// not a JSON object.
std::optional<QString> handleTokenResponse(const QByteArray& body);

// Code-exchange handling of a token answer: with an access token, a refresh token present is
// stored and the access token returned; no value otherwise (parse errors logged).
std::optional<QString> handleCodeExchangeResponse(const QByteArray& body);

// Keeps an access token obtained by sign-in for expiresIn seconds, so that the first WorkDrive
// calls after it spend none of Zoho's few token requests.
void adoptAccessToken(const QString& token, qint64 expiresIn);

// True while an access token (from a refresh or a sign-in) is still good for a while.
bool hasUsableAccessToken();

// The authorization every WorkDrive request goes through (AuthorizedCall): its tokens come from
// withFreshAccessToken, a forced refresh names the cached token as refused, and the header is
// "Zoho-oauthtoken <token>".
OAuthSession& session();

// Forgets the cached access token (tests, sign-out).
void resetAccessToken();
int refreshRequestCount();

} // namespace ZohoAuthentication
