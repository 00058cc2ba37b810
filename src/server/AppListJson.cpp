// The app list as GET /app/<userid> answers it: the busiest answer, so written without QJsonObject.
#include "records/ZappWire.h"
#include "server/ApiHandlers.h"
#include "server/Database.h"
#include "server/Router.h"

QByteArray ApiHandlers::appListJson(const QList<StoredApp>& apps, const QString& publicUrl) {
    // Written directly: QJsonObject costs more than the query.
    QByteArray list("[");
    list.reserve(512 * (apps.size() + 1));
    for (const StoredApp& app : apps) {
        if (list.size() > 1)
            list.append(',');
        // Read keys: "minOS" and "QRLink", unlike the keys /createapp receives.
        const std::pair<const char*, const QString*> fields[] = {{"userid", &app.userid},
                                                                 {"appname", &app.appname},
                                                                 {"appicon", &app.appicon},
                                                                 {"appversion", &app.appversion},
                                                                 {"appurl", &app.appurl},
                                                                 {"appid", &app.appid},
                                                                 {"appdate", &app.appdate},
                                                                 {"appsize", &app.appsize},
                                                                 {"minOS", &app.minos},
                                                                 {"QRLink", &app.qrLink},
                                                                 {"appdescription", &app.appdescription}};
        // The optional keys only when stored: an app without them answers as it always did.
        const QString latest =
            app.latestKey.isEmpty() ? QString() : ZappWire::latestLink(publicUrl, app.latestKey);
        const std::pair<const char*, const QString*> optional[] = {
            {"profilekind", &app.profilekind},
            {"profileexpiry", &app.profileexpiry},
            {"provisioneddevices", &app.provisioneddevices},
            {"bundleid", &app.bundleid},
            {"latestUrl", &latest}};
        char separator = '{';
        for (const auto& [key, value] : fields) {
            list.append(separator).append('"').append(key).append("\":");
            ApiResponse::appendJsonString(list, *value);
            separator = ',';
        }
        for (const auto& [key, value] : optional) {
            if (value->isEmpty())
                continue;
            list.append(",\"").append(key).append("\":");
            ApiResponse::appendJsonString(list, *value);
        }
        list.append('}');
    }
    list.append(']');
    return list;
}
