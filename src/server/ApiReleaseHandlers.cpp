// ApiHandlers' calls about an app's releases: the stable key its builds share, and the release
// notes its owner edits.
#include "server/ApiHandlers.h"

#include "core/RandomString.h"
#include "records/ZappWire.h"
#include "server/ApiBody.h"
#include "server/Database.h"

std::optional<QString> ApiHandlers::stableKey(const QString& userid, const QString& bundleid,
                                              const QString& appid) {
    const QString platform = ZappWire::isAndroid(appid) ? QStringLiteral("android") : QStringLiteral("ios");
    // A drawn key that is taken already (one in 62^10) is drawn again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const std::optional<QString> key = m_database.latestKey(userid, bundleid, platform, randomString(10));
        if (!key || !key->isEmpty())
            return key;
    }
    return std::nullopt;
}

ApiResponse ApiHandlers::updateApp(const ApiRequest& request) {
    // Changing what testers read on a public page takes the owner's secret: a user from before
    // secrets, taken on its Authorization value elsewhere, gets one at its next sign-in.
    const QString secretRequired = QStringLiteral("The user's secret is required");
    if (request.header(QString::fromLatin1(kSecretHeader).toLower()).isEmpty())
        return ApiResponse::failure(401, secretRequired);
    ApiResponse error;
    const auto user = caller(request, &error, true);
    if (!user)
        return error;
    const std::optional<StoredSecret> secret = m_database.secretOf(*user);
    if (!secret)
        return apibody::storageFailure();
    if (secret->hash.isEmpty())
        return ApiResponse::failure(401, secretRequired);
    const auto object = apibody::object(request, &error);
    if (!object)
        return error;
    const auto f = apibody::texts(*object, {ZappWire::appid, ZappWire::appdescription}, &error);
    if (!f)
        return error;
    const QString appid = f->value(ZappWire::appid);
    const QString notes = f->value(ZappWire::appdescription);
    if (!isValidAppId(appid))
        return ApiResponse::failure(400, QStringLiteral("Invalid app id"));
    if (ZappWire::characterCount(notes) > ZappWire::maxNotesCharacters)
        return ApiResponse::failure(
            400,
            QStringLiteral("appdescription is longer than %1 characters").arg(ZappWire::maxNotesCharacters));
    const std::optional<StoredApp> app = m_database.app(appid);
    if (!app)
        return ApiResponse::failure(404, QStringLiteral("Unknown app"));
    if (app->userid != *user)
        return ApiResponse::failure(403, QStringLiteral("Not your app"));
    const std::optional<bool> changed = m_database.setAppDescription(appid, notes);
    if (!changed)
        return apibody::storageFailure();
    if (!*changed)
        return ApiResponse::failure(404, QStringLiteral("Unknown app"));
    return ApiResponse::success(200, QStringLiteral("App updated"));
}
