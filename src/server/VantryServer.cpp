#include "server/VantryServer.h"

#include "core/Log.h"
#include "core/RandomString.h"
#include "server/ApiHandlers.h"
#include "server/Database.h"
#include "server/HealthCheck.h"
#include "server/HttpTransport.h"
#include "server/Metrics.h"
#include "server/PrivateFiles.h"
#include "server/Router.h"
#include "server/SharedState.h"
#include "server/UserSecrets.h"
#include "server/devices/DeviceCheckHandlers.h"
#include "server/http/PlainRedirect.h"
#include "server/pages/PageHandlers.h"
#include "server/storage/FileStore.h"
#include "server/storage/StorageRoutes.h"
#include "server/storage/StorageSetup.h"
#include "server/storage/TusRoutes.h"
#include "server/storage/TusUploads.h"
#include "server/storage/s3/S3Store.h"
#include "server/webhooks/Webhooks.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <thread>

namespace {
// A probe that answers only when it can also write, for what lives in a local folder.
std::function<Health()> writableProbe(std::function<bool()> answers, const QString& folder) {
    return [answers = std::move(answers), folder] {
        if (!answers())
            return Health::Unreachable;
        return folder.isEmpty() || folderTakesWrites(folder) ? Health::Reachable : Health::Unwritable;
    };
}

// Instances sharing a database share the token too: the first to start stores it, the others
// read it. A token file left in the data folder by a single server is carried over, so its
// clients keep working after the move.
std::optional<QString> loadStorageToken(Database& database, const QString& dataDir) {
    if (SharedState* shared = database.sharedState()) {
        QFile file(dataDir + QStringLiteral("/storage-token"));
        QString proposed;
        if (file.open(QIODevice::ReadOnly))
            proposed = QString::fromUtf8(file.read(256)).trimmed();
        if (proposed.isEmpty())
            proposed = randomString(64);
        return shared->valueOrPut(QStringLiteral("storage_token"), proposed);
    }
    const std::optional<std::string> token = FileStore::loadOrCreateToken(dataDir.toStdString());
    if (!token)
        return std::nullopt;
    return QString::fromStdString(*token);
}
// Handler threads, unless given: SQLite's writes take turns anyway, while PostgreSQL flushes the
// commits in flight together, so more handlers waiting on it means more done per flush — up to
// what the cores can switch between (on 2 cores 32 handlers served a fifth fewer installs than 8).
int handlerThreads(const ServerOptions& options) {
    if (options.threads > 0)
        return options.threads;
    if (options.databaseUrl().startsWith(QLatin1String("sqlite:")))
        return 8;
    return std::clamp(4 * int(std::thread::hardware_concurrency()), 8, 32);
}
} // namespace

std::unique_ptr<VantryServer> VantryServer::start(const ServerOptions& options, QString* error) {
    std::unique_ptr<VantryServer> server(new VantryServer);
    server->m_options = options;
    // Made here when missing; an earlier server's folder is tightened.
    makePrivateFolder(options.dataDir, true);
    const int handlers = handlerThreads(options);
    // One connection per handler thread plus one, so a request never waits for a connection.
    server->m_database = Database::open(options.databaseUrl(), error, handlers + 1);
    if (!server->m_database)
        return nullptr;
    const std::optional<QString> token = loadStorageToken(*server->m_database, options.dataDir);
    if (!token) {
        if (error)
            *error = QStringLiteral("cannot keep the storage token (data folder %1)").arg(options.dataDir);
        return nullptr;
    }
    server->m_storageToken = *token;
    server->m_files = makeObjectStore(options, error);
    if (!server->m_files)
        return nullptr;
    server->m_router = std::make_unique<Router>();

    HttpTransport::Options transport;
    transport.maxBodyBytes = std::size_t(options.maxBodyBytes);
    transport.maxBufferedBodyBytes = uint64_t(options.maxBufferedBodyBytes);
    // Handlers wait for the database on threads of their own, one per pooled connection; the
    // I/O threads never wait, so more of them than cores would only take turns.
    transport.handlerThreads = handlers;
    transport.threads = std::max(1, std::min(handlers, int(std::thread::hardware_concurrency())));
    transport.tlsCert = options.tlsCert;
    transport.tlsKey = options.tlsKey;
    transport.headerTimeout = std::chrono::seconds(options.headerTimeout);
    transport.bodyTimeout = std::chrono::seconds(options.bodyTimeout);
    transport.idleTimeout = std::chrono::seconds(options.idleTimeout);
    transport.maxConnections = options.maxConnections;
    transport.maxConnectionsPerAddress = options.maxConnectionsPerAddress;
    QString badRange;
    const std::optional<TrustedProxies> trusted = TrustedProxies::parse(options.trustedProxies, &badRange);
    if (!trusted) {
        if (error)
            *error = QStringLiteral("--trusted-proxy: malformed range '%1'").arg(badRange);
        return nullptr;
    }
    transport.trustedProxies = *trusted;
    server->m_metrics = std::make_unique<Metrics>();
    transport.metrics = server->m_metrics.get();
    transport.jsonLog = options.jsonLog;
    HttpTransport::Options plain = transport;
    server->m_transport = std::make_unique<HttpTransport>(*server->m_router, std::move(transport));
    if (!server->m_transport->isValid()) {
        if (error)
            *error = QStringLiteral("cannot load the TLS certificate %1 or key %2")
                         .arg(options.tlsCert, options.tlsKey);
        return nullptr;
    }
    if (!server->m_transport->bind(options.host, options.port, error))
        return nullptr;
    server->m_publicUrl = options.publicUrl.isEmpty() ? server->localUrl() : options.publicUrl;
    if (options.httpPort >= 0) {
        // Small and few: challenges and redirects only.
        plain.tlsCert.clear();
        plain.tlsKey.clear();
        plain.maxBodyBytes = 64 * 1024;
        plain.threads = plain.handlerThreads = 1;
        server->m_plainRouter = std::make_unique<Router>();
        registerPlainRedirect(*server->m_plainRouter, options.acmeWebroot, server->m_publicUrl);
        server->m_plainTransport = std::make_unique<HttpTransport>(*server->m_plainRouter, std::move(plain));
        if (!server->m_plainTransport->bind(options.httpHost, options.httpPort, error))
            return nullptr;
    }
    ApiHandlers::Settings api{server->m_publicUrl, options.latestVersion.toDouble()};
    api.accessKey = options.accessKey;
    api.maxCrashReportBytes = int(options.maxCrashReportBytes);
    api.crashReportsPerMinute = options.crashReportsPerMinute;
    api.registrationsPerMinute = options.registrationsPerMinute;
    api.appsPerMinute = options.appsPerMinute;
    if (!options.webhooks.isEmpty()) {
        WebhookSender::Settings delivery;
        delivery.urls = options.webhooks;
        delivery.secret = options.webhookSecret.toUtf8();
        delivery.timeout = options.webhookTimeout;
        delivery.backoff = options.webhookBackoff;
        server->m_webhooks = std::make_unique<Webhooks>(server->m_publicUrl, std::move(delivery));
        api.events = server->m_webhooks.get();
    }
    server->m_handlers = std::make_unique<ApiHandlers>(*server->m_database, api);
    server->m_handlers->registerRoutes(*server->m_router);
    Database* database = server->m_database.get();
    ObjectStore* files = server->m_files.get();
    // A full disk leaves reads working: the local folders are checked with a write as well.
    const QString url = options.databaseUrl();
    const QString databaseFolder =
        url.startsWith(QLatin1String("sqlite:")) ? QFileInfo(url.mid(7)).absolutePath() : QString();
    const auto* fileStore = dynamic_cast<const FileStore*>(files);
    const QString filesFolder = fileStore ? QString::fromStdString(fileStore->root()) : QString();
    registerHealthRoute(
        *server->m_router,
        {{QStringLiteral("database"),
          writableProbe([database] { return database->isAvailable(); }, databaseFolder)},
         {QStringLiteral("storage"), writableProbe([files] { return files->isReachable(); }, filesFolder)}});
    // Not public: only with the access key, and not at all on a server without one.
    server->m_router->add(
        QStringLiteral("GET"), QStringLiteral("/metrics"),
        [s = server.get(), key = options.accessKey.toUtf8()](const ApiRequest& r) {
            if (key.isEmpty() || !UserSecrets::constantTimeEquals(
                                     r.header(QStringLiteral("x-vantry-access-key")).toUtf8(), key))
                return ApiResponse::failure(404, QStringLiteral("Not found"));
            ApiResponse answer;
            answer.status = 200;
            answer.contentType = "text/plain; version=0.0.4; charset=utf-8";
            answer.body =
                s->m_metrics->text(s->m_transport->openConnections(), s->m_database->failureCount());
            return answer;
        });
    ServerOptions withOwner = options;
    ServerOptions::setOwnerDefaults(withOwner);
    const StorageOwner owner{withOwner.ownerId.toStdString(), withOwner.ownerName.toStdString(),
                             withOwner.ownerEmail.toStdString(), withOwner.ownerAvatar.toStdString()};
    registerStorageRoutes(*server->m_router, *server->m_files,
                          StorageOptions{server->m_storageToken.toStdString(),
                                         server->m_publicUrl.toStdString(), uint64_t(options.maxUploadBytes),
                                         owner, server->m_metrics.get()});
    if (fileStore)
        server->m_uploads = std::make_unique<TusUploads>(
            *fileStore, TusUploads::Settings{options.dataDir.toStdString() + "/.uploads",
                                             std::chrono::hours(24), options.uploadClock});
    registerTusRoutes(
        *server->m_router, server->m_uploads.get(), server->m_storageToken.toStdString(),
        uint64_t(options.maxUploadBytes), [url = server->m_publicUrl.toStdString()] { return url; },
        server->m_metrics.get());
    DeviceCheckHandlers::Settings devices;
    devices.publicUrl = server->m_publicUrl;
    devices.profilesPerMinute = options.installsPerMinute;
    devices.signingCertificate = options.tlsCert;
    devices.signingKey = options.tlsKey;
    server->m_devices =
        std::make_unique<DeviceCheckHandlers>(*server->m_database, *server->m_handlers, devices);
    server->m_devices->registerRoutes(*server->m_router);
    PageHandlers::InstallLimits installs;
    installs.repeatWindow = std::chrono::seconds(options.installRepeatWindow);
    installs.perMinute = options.installsPerMinute;
    installs.metrics = server->m_metrics.get();
    server->m_pages = std::make_unique<PageHandlers>(*server->m_database, server->m_publicUrl,
                                                     options.qrRenderer, installs);
    server->m_pages->setEvents(server->m_webhooks.get());
    server->m_pages->registerRoutes(*server->m_router);
    server->m_transport->start();
    if (server->m_plainTransport)
        server->m_plainTransport->start();
    return server;
}

VantryServer::~VantryServer() {
    stop();
}

int VantryServer::port() const {
    return m_transport->port();
}

int VantryServer::httpPort() const {
    return m_plainTransport ? m_plainTransport->port() : -1;
}

bool VantryServer::reloadTls(QString* error) {
    if (!m_transport->reloadTls(error))
        return false;
    // The device check's profiles are signed with the same pair.
    if (m_devices)
        m_devices->reloadSigner();
    return true;
}

QString VantryServer::localUrl() const {
    const QString& host = m_options.host;
    const QString shown = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    const QString scheme = m_options.tlsCert.isEmpty() ? QStringLiteral("http") : QStringLiteral("https");
    return QStringLiteral("%1://%2:%3/").arg(scheme, shown).arg(port());
}

void VantryServer::stop() {
    if (!m_transport)
        return;
    // No new connections; the requests in progress get until the deadline, bucket transfers
    // included. Those still unfinished then are stopped (a multipart upload is aborted) while their
    // connections can still hear of it, before the transport closes them.
    const auto deadline = m_transport->stopAccepting();
    m_transport->waitIdle(deadline);
    if (auto* bucket = dynamic_cast<S3Store*>(m_files.get()))
        bucket->close(
            std::max(std::chrono::milliseconds(0), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                       deadline - std::chrono::steady_clock::now())));
    if (m_plainTransport)
        m_plainTransport->stop();
    m_transport->stop();
}
