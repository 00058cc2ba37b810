#pragma once

#include <QString>

#include <optional>

// Where a self-hosted vantry-server keeps its files and with which token it lets us write.
struct SelfHostedCredentials {
    QString url;   // base URL, ends in "/"
    QString token; // bearer token of the storage API (secret)
};

// Credential store service of the self-hosted storage; its value is the JSON object
// {"url": ..., "token": ...}.
inline const QString selfHostedService = QStringLiteral("vantry_selfhosted");

// The server to use, from (in falling precedence) the VANTRY_SELFHOSTED_URL/_TOKEN environment,
// the credential store, and the config keys selfhosted/url and selfhosted/token. For a server on
// this machine without a token anywhere, the token file of the server's default data folder is
// read. Nothing when no URL or no token is found.
std::optional<SelfHostedCredentials> selfHostedCredentials();

// "<data folder>/Vantry/server/storage-token": what vantry-server makes at its first start when
// it runs with its default data folder.
QString defaultServerTokenPath();
