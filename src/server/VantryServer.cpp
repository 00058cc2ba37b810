#include "server/VantryServer.h"

#include "server/ApiHandlers.h"
#include "server/Database.h"
#include "server/HttpTransport.h"
#include "server/Router.h"

std::unique_ptr<VantryServer> VantryServer::start(const ServerOptions& options, QString* error) {
    std::unique_ptr<VantryServer> server(new VantryServer);
    server->m_options = options;
    // One connection per worker thread plus one, so a request never waits for a connection.
    server->m_database = Database::open(options.dataDir, error, options.threads + 1);
    if (!server->m_database)
        return nullptr;
    server->m_router = std::make_unique<Router>();
    server->m_transport = std::make_unique<HttpTransport>(
        *server->m_router, HttpTransport::Options{std::size_t(options.maxBodyBytes), options.threads});
    if (!server->m_transport->bind(options.host, options.port, error))
        return nullptr;
    server->m_publicUrl = options.publicUrl.isEmpty() ? server->localUrl() : options.publicUrl;
    server->m_handlers = std::make_unique<ApiHandlers>(
        *server->m_database, ApiHandlers::Settings{server->m_publicUrl, options.latestVersion.toDouble()});
    server->m_handlers->registerRoutes(*server->m_router);
    server->m_transport->start();
    return server;
}

VantryServer::~VantryServer() { stop(); }

int VantryServer::port() const { return m_transport->port(); }

QString VantryServer::localUrl() const {
    const QString& host = m_options.host;
    const QString shown = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return QStringLiteral("http://%1:%2/").arg(shown).arg(port());
}

void VantryServer::stop() {
    if (m_transport)
        m_transport->stop();
}
