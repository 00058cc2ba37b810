#pragma once

#include "server/ApiMessage.h"

#include <chrono>
#include <functional>
#include <memory>

class AppEvents;
class Database;
class RateLimiter;
class RepeatFilter;
class Router;

class Metrics;

struct PageInstallLimits {
    // Installs of one app from one device (address and User-Agent) within this window are kept
    // as repeats.
    std::chrono::seconds repeatWindow{600};
    int perMinute = 30;         // install redirects per client address; 0: unlimited
    Metrics* metrics = nullptr; // set: installs and repeats are counted there
};

// The public side of the service: the install page of every app and install tracking. None
// of these need a token.
class PageHandlers {
public:
    // Renders the QR code of a URL as inline SVG; empty when no renderer is available.
    using QrRenderer = std::function<QString(const QString& url)>;

    using InstallLimits = PageInstallLimits;

    PageHandlers(Database& database, QString publicUrl, QrRenderer qr, InstallLimits limits = {});
    ~PageHandlers();

    // Registered after the API routes and /healthz: "/:id" would otherwise shadow literal one-segment paths.
    void registerRoutes(Router& router);

    ApiResponse page(const ApiRequest& request);
    ApiResponse install(const ApiRequest& request);
    // GET /l/<key>: the stable page of an app's builds, the newest on top.
    ApiResponse latest(const ApiRequest& request);

    // Told of every counted install (set: webhooks).
    void setEvents(AppEvents* events) { m_events = events; }

    // The earlier builds the stable page lists at most.
    static constexpr int kEarlierBuilds = 50;

    static constexpr int kMaxStoredAgentBytes = 1024;

private:
    Database& m_database;
    QString m_publicUrl;
    QrRenderer m_qr;
    std::unique_ptr<RepeatFilter> m_repeats;
    std::unique_ptr<RateLimiter> m_installRate;
    Metrics* m_metrics;
    AppEvents* m_events = nullptr;
};
