#pragma once

#include "server/ApiMessage.h"
#include "server/devices/DeviceProfile.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>

class ApiHandlers;
class Database;
class RateLimiter;
class Router;

// The device check of development and ad hoc builds: a tester's phone installs a profile
// service payload, posts its identifiers back, and is sent to the install page, which then says
// whether the build includes that phone. The owner reads the checks with the API.
class DeviceCheckHandlers {
public:
    // How long a challenge may wait for the phone's answer, and how long a check is kept.
    static constexpr qint64 kChallengeSeconds = 30 * 60;
    static constexpr qint64 kCheckSeconds = 30 * 24 * 60 * 60;

    struct Settings {
        QString publicUrl;          // ends in "/"
        int profilesPerMinute = 30; // profile downloads per client address; 0: unlimited
        QString signingCertificate; // PEM files (the server's TLS pair): set, profiles are signed
        QString signingKey;
        std::function<qint64()> now; // seconds since the epoch; empty: the system clock
    };

    DeviceCheckHandlers(Database& database, ApiHandlers& api, Settings settings);
    ~DeviceCheckHandlers();

    // Registered before the pages' "/:id" routes.
    void registerRoutes(Router& router);

    ApiResponse profile(const ApiRequest& request); // GET /<id>/device.mobileconfig
    ApiResponse answer(const ApiRequest& request);  // POST /<id>/device
    ApiResponse checks(const ApiRequest& request);  // GET /devices/<appid>

    // Signs with the certificate and key files as they are now (a renewed pair); false, and the
    // signer in service stays, when they cannot be used.
    bool reloadSigner();

private:
    qint64 now() const;
    // The devices of an iOS development or ad hoc build, or nothing (also for an unknown app).
    std::optional<QStringList> deviceIdsOf(const QString& appid, QString* appName);

    Database& m_database;
    ApiHandlers& m_api;
    Settings m_settings;
    std::unique_ptr<RateLimiter> m_profileRate;
    std::shared_ptr<const DeviceProfile::Signer> signer() const;
    mutable std::mutex m_signerMutex;
    std::shared_ptr<const DeviceProfile::Signer> m_signer;
};
