#include "server/devices/DeviceCheckHandlers.h"

#include "core/Log.h"
#include "core/RandomString.h"
#include "records/DeviceCheck.h"
#include "records/ZappWire.h"
#include "server/ApiHandlers.h"
#include "server/Database.h"
#include "server/Limits.h"
#include "server/Router.h"

#include <QDateTime>
#include <QJsonArray>

namespace {

ApiResponse plain(int status, const QByteArray& text) {
    return ApiResponse::text(status, text + '\n');
}

} // namespace

DeviceCheckHandlers::DeviceCheckHandlers(Database& database, ApiHandlers& api, Settings settings)
    : m_database(database), m_api(api), m_settings(std::move(settings)),
      m_profileRate(std::make_unique<RateLimiter>(m_settings.profilesPerMinute, std::chrono::seconds(60),
                                                  database.sharedState(), QStringLiteral("device-profile"))) {
    if (!m_settings.signingCertificate.isEmpty()) {
        m_signer = DeviceProfile::Signer::load(m_settings.signingCertificate, m_settings.signingKey);
        if (!m_signer)
            logLine(QStringLiteral("Device check profiles go out unsigned: the TLS certificate and key "
                                   "could not be used to sign them"));
    }
}

DeviceCheckHandlers::~DeviceCheckHandlers() = default;

std::shared_ptr<const DeviceProfile::Signer> DeviceCheckHandlers::signer() const {
    std::lock_guard lock(m_signerMutex);
    return m_signer;
}

bool DeviceCheckHandlers::reloadSigner() {
    if (m_settings.signingCertificate.isEmpty())
        return false;
    std::shared_ptr<const DeviceProfile::Signer> fresh =
        DeviceProfile::Signer::load(m_settings.signingCertificate, m_settings.signingKey);
    if (!fresh)
        return false;
    std::lock_guard lock(m_signerMutex);
    m_signer = std::move(fresh);
    return true;
}

qint64 DeviceCheckHandlers::now() const {
    return m_settings.now ? m_settings.now() : QDateTime::currentSecsSinceEpoch();
}

void DeviceCheckHandlers::registerRoutes(Router& router) {
    router.add(QStringLiteral("GET"), QStringLiteral("/devices/:appid"),
               [this](const ApiRequest& r) { return checks(r); });
    router.add(QStringLiteral("GET"), QStringLiteral("/:id/device.mobileconfig"),
               [this](const ApiRequest& r) { return profile(r); });
    router.add(QStringLiteral("POST"), QStringLiteral("/:id/device"),
               [this](const ApiRequest& r) { return answer(r); });
}

std::optional<QStringList> DeviceCheckHandlers::deviceIdsOf(const QString& appid, QString* appName) {
    if (!ApiHandlers::isValidAppId(appid) || ZappWire::isAndroid(appid))
        return std::nullopt;
    const std::optional<StoredApp> app = m_database.app(appid);
    if (!app || !DeviceIds::listsDevices(app->profilekind))
        return std::nullopt;
    const std::optional<QString> ids = m_database.provisionedDeviceIds(appid);
    if (!ids || ids->isEmpty())
        return std::nullopt;
    if (appName)
        *appName = app->appname;
    return DeviceIds::parse(*ids);
}

ApiResponse DeviceCheckHandlers::profile(const ApiRequest& request) {
    const QString appid = request.params.value(QStringLiteral("id"));
    QString appName;
    if (!deviceIdsOf(appid, &appName))
        return plain(404, "This build has no device list to check against.");
    if (const std::optional<int> wait = m_profileRate->take(request.peer)) {
        ApiResponse r = plain(429, "Too many device checks from this address; try again shortly.");
        r.headers.emplaceBack(QByteArray("Retry-After"), QByteArray::number(*wait));
        return r;
    }
    const QString challenge = randomString(32);
    const qint64 t = now();
    if (!m_database.insertDeviceChallenge(challenge, appid, t + kChallengeSeconds, t))
        return plain(500, "The device check is not available right now.");
    const QByteArray payload = DeviceProfile::payload(
        m_settings.publicUrl + appid + QStringLiteral("/device"), challenge, appName, appid);
    const auto signing = signer();
    std::optional<QByteArray> body = signing ? signing->sign(payload) : std::nullopt;
    ApiResponse r;
    r.contentType = "application/x-apple-aspen-config";
    r.body = body ? *body : payload;
    r.headers.emplaceBack(QByteArray("Content-Disposition"), "attachment; filename=\"device.mobileconfig\"");
    r.headers.emplaceBack(QByteArray("Cache-Control"), "no-store");
    return r;
}

ApiResponse DeviceCheckHandlers::answer(const ApiRequest& request) {
    const QString appid = request.params.value(QStringLiteral("id"));
    const std::optional<QStringList> ids = deviceIdsOf(appid, nullptr);
    if (!ids)
        return plain(404, "This build has no device list to check against.");
    const std::optional<DeviceProfile::Answer> answer = DeviceProfile::readAnswer(request.body);
    if (!answer)
        return plain(400, "This is not a device's answer to the device check.");
    const qint64 t = now();
    const std::optional<bool> taken = m_database.takeDeviceChallenge(answer->challenge, appid, t);
    if (!taken)
        return plain(500, "The device check is not available right now.");
    if (!*taken)
        return plain(400, "This device check has expired or was used already; start it again.");
    const StoredDeviceCheck check{randomString(32),
                                  appid,
                                  answer->udid,
                                  answer->product,
                                  answer->version,
                                  answer->deviceName,
                                  DeviceIds::contains(*ids, answer->udid),
                                  t};
    if (m_database.insertDeviceCheck(check, t - kCheckSeconds) != Database::Insert::Added)
        return plain(500, "The device check is not available right now.");
    // The phone opens this in Safari, where the install page shows the answer.
    ApiResponse r = plain(301, "");
    r.headers.emplaceBack(QByteArray("Location"),
                          (m_settings.publicUrl + appid + QStringLiteral("?device=") + check.id).toUtf8());
    return r;
}

ApiResponse DeviceCheckHandlers::checks(const ApiRequest& request) {
    ApiResponse error;
    const QString appid = request.params.value(QStringLiteral("appid"));
    if (!m_api.ownedApp(request, appid, &error))
        return error;
    const auto stored = m_database.deviceChecksOf(appid, now() - kCheckSeconds);
    if (!stored)
        return ApiResponse::failure(500, QStringLiteral("Storage failure"));
    QJsonArray list;
    for (const StoredDeviceCheck& c : *stored)
        list.append(
            DeviceCheck{c.udid, c.product, c.version, c.deviceName, c.createdAt, c.included}.toJson());
    return ApiResponse::success(200, list);
}
