#include "cli/PublishCommand.h"

#include "app/HostingJob.h"
#include "app/NewProcessController.h"
#include "cli/CliStatusSink.h"
#include "cli/InspectCommand.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "qrcode/QRCodeDocument.h"
#include "records/ZappWire.h"
#include "session/AccountReady.h"
#include "storage/KeychainHelper.h"
#include "storage/drive/GoogleAuth.h"
#include "storage/dropbox/DropboxAuth.h"
#include "storage/selfhosted/SelfHostedCredentials.h"
#include "storage/zoho/ZohoAuthentication.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct ProviderName {
    StorageProvider provider;
    const char* option;
    const char* label;
};
constexpr ProviderName kProviders[] = {
    {StorageProvider::Dropbox, "dropbox", "Dropbox"},
    {StorageProvider::Drive, "drive", "Google Drive"},
    {StorageProvider::Zoho, "zoho", "Zoho WorkDrive"},
    {StorageProvider::SelfHosted, "self", "self-hosted server"},
};

const ProviderName& describe(StorageProvider provider) {
    for (const ProviderName& p : kProviders) {
        if (p.provider == provider)
            return p;
    }
    return kProviders[0];
}

// Whether the provider has an authorization to work with at all; its clients would otherwise
// return without a word.
bool signedIn(StorageProvider provider) {
    switch (provider) {
    case StorageProvider::Dropbox:
    case StorageProvider::Drive: {
        const auto client =
            (provider == StorageProvider::Dropbox ? DropboxAuth::instance() : GoogleAuth::instance())
                .authorizedClient();
        return client && client->isAuthorized();
    }
    case StorageProvider::Zoho:
        return !KeychainHelper().read(ZohoAuthentication::refreshTokenService).value_or(QString()).isEmpty();
    case StorageProvider::SelfHosted:
        break;
    }
    return selfHostedCredentials().has_value();
}

// SIGINT and SIGTERM reach the event loop through a pipe while a publish runs.
class InterruptWatch {
public:
    explicit InterruptWatch(std::function<void()> onInterrupt) {
        if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction action {};
        action.sa_handler = [](int signal) {
            const char c = char(signal);
            [[maybe_unused]] const ssize_t n = ::write(s_pipe[1], &c, 1);
        };
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
        m_notifier = std::make_unique<QSocketNotifier>(s_pipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [onInterrupt] {
            char c;
            while (::read(s_pipe[0], &c, 1) > 0) {
            }
            onInterrupt();
        });
    }
    ~InterruptWatch() {
        if (!m_notifier)
            return;
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        m_notifier.reset();
        ::close(s_pipe[0]);
        ::close(s_pipe[1]);
        s_pipe[0] = s_pipe[1] = -1;
    }

private:
    static inline int s_pipe[2] = {-1, -1};
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// The release notes of --notes or --notes-file: UTF-8, at most ZappWire::maxNotesCharacters
// (trailing blanks and line breaks aside). Nothing, with the reason, when they cannot be used.
std::optional<QString> releaseNotes(const QString& text, const QString& file, QString* problem) {
    const QString tooLong =
        QStringLiteral("the release notes are longer than %1 characters").arg(ZappWire::maxNotesCharacters);
    QString notes = text;
    if (!file.isEmpty()) {
        QFile in(file);
        // Four bytes a character at most: anything larger is too long before it is decoded.
        const qint64 limit = 4 * ZappWire::maxNotesCharacters + 1024;
        const QByteArray bytes = in.open(QIODevice::ReadOnly) ? in.read(limit + 1) : QByteArray();
        if (!in.isOpen() || in.error() != QFileDevice::NoError) {
            *problem = QStringLiteral("cannot read the notes file %1").arg(file);
            return std::nullopt;
        }
        if (bytes.size() > limit) {
            *problem = tooLong;
            return std::nullopt;
        }
        QStringDecoder utf8(QStringDecoder::Utf8);
        notes = utf8(bytes);
        if (utf8.hasError()) {
            *problem = QStringLiteral("the notes file %1 is not UTF-8 text").arg(file);
            return std::nullopt;
        }
    }
    while (!notes.isEmpty() && notes.back().isSpace())
        notes.chop(1);
    if (ZappWire::characterCount(notes) > ZappWire::maxNotesCharacters) {
        *problem = tooLong;
        return std::nullopt;
    }
    return notes;
}

} // namespace

int PublishCommand::run(const QStringList& args, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    const QCommandLineOption providerOption(
        QStringLiteral("provider"),
        QStringLiteral(
            "Storage to publish to: dropbox, drive, zoho or self (default: the signed-in provider, "
            "else the self-hosted server)."),
        QStringLiteral("NAME"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print the result as one JSON object."));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"), QStringLiteral("Cancel the job when it has not finished after SECONDS."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption quiet(
        QStringLiteral("quiet"),
        QStringLiteral("Print only the link (the JSON object with --json), and errors."));
    const QCommandLineOption force(
        QStringLiteral("force"),
        QStringLiteral("Publish even a package that cannot be installed from a link (an App Store or "
                       "expired profile, a simulator or unsigned build, an Android App Bundle)."));
    const QCommandLineOption notesOption(
        QStringLiteral("notes"),
        QStringLiteral("Release notes testers see on the install page (at most %1 characters).")
            .arg(ZappWire::maxNotesCharacters),
        QStringLiteral("TEXT"));
    const QCommandLineOption notesFileOption(QStringLiteral("notes-file"),
                                             QStringLiteral("The release notes from a UTF-8 text file."),
                                             QStringLiteral("FILE"));
    parser.addOptions({providerOption, json, timeoutOption, quiet, force, notesOption, notesFileOption});
    parser.addPositionalArgument(QStringLiteral("PACKAGE"), QStringLiteral("The .ipa or .apk file."));
    int status = 0;
    if (!parse(parser, args, out, err, &status))
        return status;
    const auto usage = [&err](const QString& message) {
        err << "vantry-cli publish: " << message << Qt::endl;
        return 2;
    };
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usage(positional.isEmpty() ? QStringLiteral("missing PACKAGE")
                                          : QStringLiteral("more than one PACKAGE"));
    const QFileInfo package(positional.constFirst());
    const std::optional<PackageKind> kind = packageKindOf(package.fileName());
    if (!kind)
        return usage(QStringLiteral("%1 is not an .ipa or .apk package").arg(positional.constFirst()));
    if (!package.isFile() || !package.isReadable())
        return usage(QStringLiteral("cannot read %1").arg(positional.constFirst()));

    std::optional<StorageProvider> chosen;
    if (parser.isSet(providerOption)) {
        for (const ProviderName& p : kProviders) {
            if (parser.value(providerOption) == QLatin1String(p.option))
                chosen = p.provider;
        }
        if (!chosen)
            return usage(QStringLiteral("--provider wants dropbox, drive, zoho or self, got '%1'")
                             .arg(parser.value(providerOption)));
    } else {
        const bool anySignedIn =
            Preferences::flag(Preferences::isDrive) || Preferences::flag(Preferences::isDropBox) ||
            Preferences::flag(Preferences::isSelfHosted) || Preferences::flag(Preferences::isZoho);
        chosen = anySignedIn ? selectedProvider() : StorageProvider::SelfHosted;
    }
    const StorageProvider provider = *chosen;
    int timeoutSeconds = 0;
    if (parser.isSet(timeoutOption)) {
        bool ok = false;
        timeoutSeconds = parser.value(timeoutOption).toInt(&ok);
        if (!ok || timeoutSeconds < 1)
            return usage(QStringLiteral("--timeout wants a whole number of seconds, got '%1'")
                             .arg(parser.value(timeoutOption)));
    }
    if (parser.isSet(notesOption) && parser.isSet(notesFileOption))
        return usage(QStringLiteral("--notes and --notes-file do not go together"));
    QString notesProblem;
    const std::optional<QString> notes =
        releaseNotes(parser.value(notesOption), parser.value(notesFileOption), &notesProblem);
    if (!notes)
        return usage(notesProblem);
    const QString label = QString::fromLatin1(describe(provider).label);
    if (!signedIn(provider)) {
        err << "vantry-cli publish: no " << label << " account is signed in"
            << (provider == StorageProvider::SelfHosted
                    ? QStringLiteral(" (set selfhosted/url and selfhosted/token)")
                    : QString())
            << Qt::endl;
        return 1;
    }

    // Diagnostic lines would mix with the result on standard output.
    setLogSink([](const QString&) {});

    // The preflight runs before anything reaches the account or the storage.
    const InspectCommand::Result inspected = InspectCommand::inspect(package.absoluteFilePath());
    if (!inspected.record) {
        err << "vantry-cli publish: " << inspected.failure << Qt::endl;
        return 1;
    }
    // One line per finding, said once: the steps' details leave them out.
    const QStringList blocking = inspected.preflight.messages(PreflightFinding::Verdict::blocking);
    const QStringList findings = blocking + inspected.preflight.messages(PreflightFinding::Verdict::warning);
    const bool blocked = !blocking.isEmpty() && !parser.isSet(force);
    if (blocked || !parser.isSet(quiet)) {
        for (const QString& finding : findings)
            err << "Preflight: " << finding << '\n';
    }
    if (blocked) {
        err << "vantry-cli publish: this package cannot be installed from a link; nothing was uploaded "
               "(--force publishes it all the same)"
            << Qt::endl;
        return 1;
    }
    // Tests pass their own streams; only the process's real standard error can be a terminal.
    const bool terminal = ::isatty(STDERR_FILENO) == 1 && err.string() == nullptr;
    const QUrl url = QUrl::fromLocalFile(package.absoluteFilePath());
    NewProcessController* job = nullptr;
    CliStatusSink sink(err, terminal, parser.isSet(quiet), [&job] {
        return job ? CliStatusSink::Upload{job->uploadName(), job->uploadSize()} : CliStatusSink::Upload{};
    });
    sink.setAlreadySaid(findings);
    const std::unique_ptr<NewProcessController> owned = makeHostingJob(*kind, url, sink);
    job = owned.get();
    job->useInspection(*inspected.record, inspected.preflight);
    job->setAllowBlocking(parser.isSet(force));
    job->setNotes(*notes);
    job->setClientFactory([provider] { return makeStorageClient(provider); });

    QEventLoop loop;
    int exitStatus = -1;
    QString failure;
    QString step = QStringLiteral("Reading the %1 account").arg(label);
    // The account's read and registration run in here; deleting it drops both.
    auto account = std::make_unique<QObject>();
    const auto stopEverything = [&] {
        account.reset();
        job->cancelAction();
    };
    const auto finish = [&](int code, const QString& message = {}) {
        if (exitStatus >= 0)
            return;
        exitStatus = code;
        failure = message;
        loop.quit();
    };

    QObject::connect(job, &NewProcessController::ended, &loop, [&](ProcessState state) {
        if (state == ProcessState::completed)
            finish(0);
        else if (state == ProcessState::failed)
            finish(1, job->failureReason());
    });
    const InterruptWatch interrupts([&] {
        if (exitStatus >= 0)
            return;
        stopEverything();
        finish(interruptedStatus, QStringLiteral("interrupted; the job was cancelled"));
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        if (exitStatus >= 0)
            return;
        const QString running = job->stepTitle().isEmpty() ? step : job->stepTitle();
        stopEverything();
        finish(1, QStringLiteral("timed out after %1 s in the step \"%2\"; the job was cancelled")
                      .arg(timeoutSeconds)
                      .arg(running));
    });
    if (timeoutSeconds > 0)
        deadline.start(timeoutSeconds * 1000);

    // The account that owns the upload is the one the backend records the app for.
    AccountCallbacks callbacks;
    callbacks.onRead = [&](const ZUser&) { step = QStringLiteral("Registering the user"); };
    callbacks.onReady = [&](const ZUser&) {
        if (exitStatus < 0)
            job->start();
    };
    callbacks.onFailure = [&](AccountStep failed, const QString& reason) {
        finish(1, failed == AccountStep::reading
                      ? QStringLiteral("%1 did not give the account: %2").arg(label, reason)
                      : reason);
    };
    makeAccountReady(provider, account.get(), callbacks);
    if (!parser.isSet(quiet)) {
        err << step << '\n';
        err.flush();
    }
    loop.exec();
    sink.endLine();

    if (exitStatus != 0) {
        err << "vantry-cli publish: " << failure << Qt::endl;
        return exitStatus;
    }
    const NewProcessController::Outcome& result = job->outcome();
    if (parser.isSet(json)) {
        QJsonObject object{
            {QStringLiteral("link"), result.resultLink},
            {QStringLiteral("latestLink"), result.latestLink},
            {QStringLiteral("installUrl"), result.installUrl},
            {QStringLiteral("appId"), result.appId},
            {QStringLiteral("packageLink"), result.packageLink},
            {QStringLiteral("iconLink"), result.iconLink},
            {QStringLiteral("qrLink"), result.qrImageLink},
            {QStringLiteral("name"), result.record.name},
            {QStringLiteral("bundleID"), result.record.bundleID},
            {QStringLiteral("version"), result.record.version},
            {QStringLiteral("minOS"), result.record.minOS},
            {QStringLiteral("size"), result.record.size},
            {QStringLiteral("provider"), QLatin1String(describe(provider).option)},
        };
        if (*kind == PackageKind::Ipa)
            object.insert(QStringLiteral("manifestLink"), result.manifestLink);
        out << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << Qt::endl;
        return 0;
    }
    if (parser.isSet(quiet)) {
        out << result.resultLink << Qt::endl;
        return 0;
    }
    out << "Link:        " << result.resultLink << '\n';
    if (!result.latestLink.isEmpty())
        out << "Latest link: " << result.latestLink << '\n';
    out << "Install URL: " << result.installUrl << '\n'
        << QRCodeDocument::forLink(result.resultLink).smallAsciiRepresentation();
    out.flush();
    return 0;
}
