#pragma once

#include "core/Config.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class LoopbackReceiver;
class QNetworkReply;

// How a sign-in ended. message is a short readable text for Failed (never a token).
struct SignInResult {
    enum class Outcome { Success, Cancelled, Failed };
    Outcome outcome = Outcome::Failed;
    QString message;
};

// The code verifier (64 characters of [A-Za-z0-9]) and its S256 challenge:
// BASE64URL(SHA256(verifier)) without padding.
QString pkceVerifier();
QString pkceChallenge(const QString& verifier);

// Records a new sign-in: flagKey ("isDrive", "isDropBox", "isZoho", "isSelfHosted") becomes true
// and the other provider flags false, so that the factory cannot pick an older provider first.
void selectSignedInProvider(const QString& flagKey);

// An authorization-code sign-in in the user's own browser. start() checks the configuration,
// readies the redirect (a loopback listener, an application URL, or a code the user pastes),
// and opens the authorization page; while it waits the page can be opened again and the flow
// cancelled. It ends exactly once through onFinished.
class BrowserSignIn : public QObject {
    Q_OBJECT
public:
    using Finished = std::function<void(const SignInResult&)>;
    using PageOpener = std::function<bool(const QUrl&)>;

    ~BrowserSignIn() override;

    // Provider name in texts ("Dropbox").
    virtual QString label() const = 0;

    // openPage false: the caller shows authorizationUrl() itself (vantry-cli --no-browser).
    void start(bool openPage = true);
    void openPageAgain();
    void cancel();
    bool isWaiting() const { return m_waiting; }
    QUrl authorizationUrl() const { return m_authorizationUrl; }
    // True when the answer only reaches us if the user pastes it (no redirect we can receive).
    virtual bool needsPastedCode() const { return false; }

    // A redirect URL from the application's URL routing; true when this flow takes it.
    virtual bool handleRedirectURL(const QUrl& url);
    // What the user pasted: the code itself or the whole redirect URL.
    void submitPasted(const QString& text);

    Finished onFinished;
    // Something the user should know while the flow goes on waiting.
    std::function<void(const QString&)> onNotice;

    // Opens pages in the desktop's browser (xdg-open by default; the GUI and tests set their own).
    static void setPageOpener(PageOpener opener);
    static bool openPage(const QUrl& url);

protected:
    explicit BrowserSignIn(QObject* parent = nullptr);

    // Readies the flow; the text of a failure (such as a missing client identifier) otherwise.
    virtual std::optional<QString> prepare() = 0;
    virtual QUrl buildAuthorizationUrl() = 0;
    // The code arrived (state already checked where the flow checks it): trade it for tokens.
    virtual void exchange(const QString& code) = 0;
    // Whether url is an answer to this flow's request.
    virtual bool ownsRedirect(const QUrl& url) const = 0;
    // The provider denied or the user declined: how that ends (the Part's cancel, by default).
    virtual void declined(const QString& error, const QString& description);
    // Whether the callback's state must match the request's.
    virtual bool checksState() const { return true; }

    void finish(SignInResult::Outcome outcome, const QString& message = QString());
    // Trades a code that arrived some other way than a redirect (unless a trade is under way).
    void submitCode(const QString& code);
    // Told how the flow ends, right before onFinished (a provider's own log lines).
    virtual void ending(const SignInResult&) {}
    // A loopback listener on 127.0.0.1 (port 0: a free one); nullptr when the port is taken.
    LoopbackReceiver* listenOnLoopback(quint16 port, const QString& path);
    // POSTs a form to url and hands over (HTTP status or 0, JSON object of the body, raw body).
    void postForm(const QUrl& url, const QByteArray& form,
                  std::function<void(int status, const QJsonObject& answer, const QByteArray& body,
                                     const QString& networkError)>
                      done,
                  int timeoutMs = 30000);
    // Text for a missing configuration value.
    static QString missingKeyMessage(const QString& provider, ConfigKey key);

    QString m_state;
    QString m_verifier;

private:
    void takeAnswer(const QUrl& url);

    QUrl m_authorizationUrl;
    bool m_waiting = false;
    bool m_exchanging = false;
    QNetworkReply* m_reply = nullptr;
};
