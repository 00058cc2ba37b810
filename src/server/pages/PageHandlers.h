#pragma once

#include "server/ApiMessage.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class Database;
class RateLimiter;
class RepeatFilter;
class Router;

struct PageInstallLimits {
    // Installs of one app from one address within this window are kept as repeats.
    std::chrono::seconds repeatWindow{600};
    int perMinute = 30; // install redirects per client address; 0: unlimited
};

// The public side of the service: the install page of every app, install tracking and a
// liveness probe. None of these need a token.
class PageHandlers {
public:
    // Renders the QR code of a URL as inline SVG; empty when no renderer is available.
    using QrRenderer = std::function<QString(const QString& url)>;

    using InstallLimits = PageInstallLimits;

    PageHandlers(Database& database, QString publicUrl, QrRenderer qr, InstallLimits limits = {});
    ~PageHandlers();

    // Registered after the API routes: "/:id" would otherwise shadow literal one-segment paths.
    void registerRoutes(Router& router);

    ApiResponse page(const ApiRequest& request);
    ApiResponse install(const ApiRequest& request);
    ApiResponse health(const ApiRequest& request);
    // A service /healthz checks besides the database ("storage"): answers whether it is reachable.
    void addHealthProbe(QString name, std::function<bool()> probe);

    static constexpr int kMaxStoredAgentBytes = 1024;

private:
    Database& m_database;
    QString m_publicUrl;
    QrRenderer m_qr;
    std::unique_ptr<RepeatFilter> m_repeats;
    std::unique_ptr<RateLimiter> m_installRate;
    std::vector<std::pair<QString, std::function<bool()>>> m_probes;
};
