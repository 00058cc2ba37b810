#pragma once

#include "server/ServerOptions.h"

#include <memory>

class Metrics;
class ApiHandlers;
class DeviceCheckHandlers;
class ObjectStore;
class PageHandlers;
class Database;
class HttpTransport;
class Router;
class TusUploads;
class Webhooks;

// The whole service: database, handlers, routes and transport, started together. main() runs
// one until a signal arrives; tests run one in process on a free port.
class VantryServer {
public:
    // Opens the database, binds and starts serving. On failure returns nullptr with *error.
    static std::unique_ptr<VantryServer> start(const ServerOptions& options, QString* error);
    ~VantryServer();

    int port() const;
    // The --http-listen port; -1 without one.
    int httpPort() const;
    // Takes the TLS certificate chain and key files as they are now (SIGHUP after a renewal) for
    // new connections and the device check's signatures. False (with *error) when they cannot be
    // used: the pair in service stays.
    bool reloadTls(QString* error);
    QString publicUrl() const { return m_publicUrl; }
    // http://HOST:PORT/ of the bound address, for clients on this machine.
    QString localUrl() const;
    Database& database() { return *m_database; }
    // The bearer token of the storage API (kept in "<data dir>/storage-token", or in a database
    // that several instances share).
    QString storageToken() const { return m_storageToken; }
    // Where the stored files live (a folder, or a bucket).
    const ObjectStore& objectStore() const { return *m_files; }
    // The events' deliveries; null without --webhook.
    const Webhooks* webhooks() const { return m_webhooks.get(); }

    // Finishes the requests in progress, then closes the socket and the database.
    void stop();

private:
    VantryServer() = default;
    ServerOptions m_options;
    QString m_publicUrl;
    std::unique_ptr<Metrics> m_metrics; // outlives the transport that counts into it
    std::unique_ptr<Database> m_database;
    QString m_storageToken;
    std::unique_ptr<ObjectStore> m_files;
    std::unique_ptr<TusUploads> m_uploads; // null when the files live in a bucket
    std::unique_ptr<Webhooks> m_webhooks;  // told by the handlers: outlives them
    std::unique_ptr<ApiHandlers> m_handlers;
    std::unique_ptr<DeviceCheckHandlers> m_devices;
    std::unique_ptr<PageHandlers> m_pages;
    std::unique_ptr<Router> m_router;
    std::unique_ptr<HttpTransport> m_transport;
    std::unique_ptr<Router> m_plainRouter; // --http-listen: challenges and redirects
    std::unique_ptr<HttpTransport> m_plainTransport;
};
