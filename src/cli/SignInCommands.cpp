#include "cli/SignInCommands.h"

#include "core/Config.h"
#include "session/AccountReady.h"
#include "session/SignInSession.h"
#include "session/SignInState.h"
#include "session/SingleInstance.h"
#include "session/UrlRouter.h"

#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <iostream>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace {
QPointer<QIODevice>& inputDevice() {
    static QPointer<QIODevice> device;
    return device;
}

// Calls onLine for every line typed on standard input (or the test's device), without blocking
// the event loop.
class LineReader : public QObject {
public:
    explicit LineReader(std::function<void(const QString&)> onLine) : m_onLine(std::move(onLine)) {
        if (QIODevice* device = inputDevice()) {
            connect(device, &QIODevice::readyRead, this, [this, device] {
                while (device->canReadLine())
                    m_onLine(QString::fromUtf8(device->readLine()));
            });
            return;
        }
        m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            char chunk[4096];
            const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n <= 0) { // end of input: keep waiting for the browser's answer
                m_notifier->setEnabled(false);
                return;
            }
            m_buffer.append(chunk, n);
            qsizetype end;
            while ((end = m_buffer.indexOf('\n')) >= 0) {
                m_onLine(QString::fromUtf8(m_buffer.left(end)));
                m_buffer.remove(0, end + 1);
            }
        });
    }

private:
    std::function<void(const QString&)> m_onLine;
    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_buffer;
};

std::optional<SignedInProvider> providerNamed(const QString& name) {
    if (name == QLatin1String("dropbox"))
        return SignedInProvider::Dropbox;
    if (name == QLatin1String("drive") || name == QLatin1String("google"))
        return SignedInProvider::Drive;
    if (name == QLatin1String("zoho") || name == QLatin1String("workdrive"))
        return SignedInProvider::Zoho;
    if (name == QLatin1String("self") || name == QLatin1String("selfhosted"))
        return SignedInProvider::SelfHosted;
    return std::nullopt;
}

// One line of standard input (or the test's device) without its line break; on a terminal the
// prompt goes first and the typing is not echoed.
QString readSecretLine(const QString& prompt, QTextStream& err) {
    if (QIODevice* device = inputDevice())
        return QString::fromUtf8(device->readLine()).trimmed();
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios saved{};
    if (terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
        err << prompt;
        err.flush();
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        err << '\n';
        err.flush();
    }
    return QString::fromStdString(line).trimmed();
}

QString describe(const ZUser& user, SignedInProvider provider) {
    return QStringLiteral("%1 <%2> (%3)").arg(user.name, user.email, providerLabel(provider));
}
} // namespace

void LoginCommand::setInput(QIODevice* input) {
    inputDevice() = input;
}

int LoginCommand::run(const QStringList& args, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    const QCommandLineOption noBrowser(
        QStringLiteral("no-browser"),
        QStringLiteral("Print the address of the sign-in page instead of opening it."));
    const QCommandLineOption token(
        QStringLiteral("token"),
        QStringLiteral("Storage token of the self-hosted server. Without it the token is read from "
                       "standard input (an empty line: the token of a server on this machine)."),
        QStringLiteral("TOKEN"));
    parser.addOption(noBrowser);
    parser.addOption(token);
    parser.addPositionalArgument(QStringLiteral("provider"), QStringLiteral("dropbox, drive, zoho or self"));
    parser.addPositionalArgument(QStringLiteral("url"), QStringLiteral("self: the server's address"),
                                 QStringLiteral("[URL]"));
    int status = 0;
    if (!parse(parser, args, out, err, &status))
        return status;
    const QStringList positional = parser.positionalArguments();
    const std::optional<SignedInProvider> provider = providerNamed(positional.value(0));
    if (!provider || positional.size() > (*provider == SignedInProvider::SelfHosted ? 2 : 1)) {
        err << "vantry-cli login: name one provider: dropbox, drive, zoho or self" << Qt::endl;
        return 2;
    }

    SignInSession session;
    QEventLoop loop;
    int result = 1;
    bool done = false; // a sign-in can end before the loop runs (no token, a bad address)
    QObject::connect(&session, &SignInSession::signedIn, &loop,
                     [&](const ZUser& user, SignedInProvider signedIn) {
                         out << "Signed in as " << describe(user, signedIn) << Qt::endl;
                         result = 0;
                         done = true;
                         loop.quit();
                     });
    QObject::connect(&session, &SignInSession::signInEnded, &loop, [&](const SignInResult& ended) {
        if (ended.outcome == SignInResult::Outcome::Cancelled)
            err << "vantry-cli login: sign-in cancelled" << Qt::endl;
        else
            err << "vantry-cli login: " << ended.message << Qt::endl;
        done = true;
        loop.quit();
    });
    QObject::connect(&session, &SignInSession::notice, &loop,
                     [&](const QString& text) { err << text << Qt::endl; });

    if (*provider == SignedInProvider::SelfHosted) {
        const QString url = positional.value(1, configValue(ConfigKey::SelfHostedUrl));
        // Off the command line, where the process list and the shell's history would keep it.
        const QString secret =
            parser.isSet(token) ? parser.value(token)
                                : readSecretLine(QStringLiteral("Storage token of %1 (empty: the token of a "
                                                                "server on this machine): ")
                                                     .arg(url),
                                                 err);
        session.startSelfHosted(url, secret);
        if (!done)
            loop.exec();
        return result;
    }

    // A vantry:// callback the browser hands to "vantry URL" reaches this process when no
    // desktop window runs.
    SingleInstance instance;
    instance.listen();
    QObject::connect(&instance, &SingleInstance::urlReceived, &loop,
                     [](const QString& url) { routeURL(url); });

    BrowserSignIn* flow = session.startBrowserSignIn(*provider, !parser.isSet(noBrowser));
    if (!flow || !flow->isWaiting()) {
        // Ended at once (configuration missing); the message is out already.
        return result;
    }
    out << "Sign in on this page:\n" << flow->authorizationUrl().toString(QUrl::FullyEncoded) << '\n';
    if (flow->needsPastedCode())
        out << "Then paste the code (or the address the browser ends on) here and press Enter." << Qt::endl;
    else
        out << "Waiting for the browser (or paste the code here and press Enter)…" << Qt::endl;
    QPointer<BrowserSignIn> guard(flow);
    LineReader reader([guard](const QString& line) {
        if (guard)
            guard->submitPasted(line);
    });
    loop.exec();
    return result;
}

int LogoutCommand::run(const QStringList& args, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    int status = 0;
    if (!parse(parser, args, out, err, &status))
        return status;
    const SignedInProvider provider = findStoredSignIn();
    QEventLoop loop;
    bool done = false;
    signOut([&] {
        done = true;
        loop.quit();
    });
    if (!done)
        loop.exec();
    if (provider == SignedInProvider::None)
        out << "Nobody was signed in." << Qt::endl;
    else
        out << "Signed out of " << providerLabel(provider) << '.' << Qt::endl;
    return 0;
}

int WhoamiCommand::run(const QStringList& args, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    int status = 0;
    if (!parse(parser, args, out, err, &status))
        return status;
    const SignedInProvider provider = findStoredSignIn();
    if (provider == SignedInProvider::None) {
        err << "vantry-cli whoami: nobody is signed in (vantry-cli login PROVIDER)" << Qt::endl;
        return 1;
    }
    QEventLoop loop;
    int result = 1;
    QObject context;
    readAccount(
        storageProviderOf(provider), &context,
        [&](const ZUser& user) {
            out << describe(user, provider) << Qt::endl;
            result = 0;
            loop.quit();
        },
        [&](const QString& failure) {
            err << "vantry-cli whoami: " << providerLabel(provider) << ": " << failure << Qt::endl;
            loop.quit();
        });
    QTimer::singleShot(60000, &loop, [&] {
        err << "vantry-cli whoami: no answer from " << providerLabel(provider) << Qt::endl;
        loop.quit();
    });
    loop.exec();
    return result;
}
