#pragma once

#include "records/ZUser.h"
#include "storage/BrowserSignIn.h"
#include "storage/selfhosted/SelfHostedCredentials.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// Sign-in to a self-hosted vantry-server used as storage: its URL and storage token, checked
// with GET <url>storage/me, then kept in the credential store (service "vantry_selfhosted",
// {"url", "token"}) with the "isSelfHosted" flag. For a server on this machine that keeps its
// data in the default folder the token is read from there, so the user types nothing.
class SelfHostedSignIn : public QObject {
    Q_OBJECT
public:
    static inline const QString service = selfHostedService;
    static inline const QString flag = QStringLiteral("isSelfHosted");

    using Credentials = SelfHostedCredentials;

    explicit SelfHostedSignIn(QObject* parent = nullptr);

    // token empty: the local server's own token when url is on this machine.
    void start(const QString& url, const QString& token = QString());
    void cancel();

    std::function<void(const SignInResult&)> onFinished;
    // The account the server answered with, valid after a success.
    ZUser user() const { return m_user; }

    // The token a local server with the default data folder keeps, if there is one.
    static std::optional<QString> localServerToken();
    static QString localServerTokenPath();
    // The server publishing would use (selfHostedCredentials()).
    static std::optional<Credentials> stored();
    static void store(const Credentials& credentials);

private:
    void finish(SignInResult::Outcome outcome, const QString& message = QString());

    class QNetworkReply* m_reply = nullptr;
    ZUser m_user;
    bool m_running = false;
};
