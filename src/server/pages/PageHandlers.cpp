#include "server/pages/PageHandlers.h"

#include "core/RandomString.h"
#include "records/ZappWire.h"
#include "server/ApiHandlers.h"
#include "server/Database.h"
#include "server/Limits.h"
#include "server/Metrics.h"
#include "server/Router.h"
#include "server/pages/DeviceCheckPage.h"
#include "server/pages/InstallPage.h"
#include "server/pages/LatestPage.h"
#include "server/webhooks/AppEvents.h"

#include <QDateTime>

#include <QRegularExpression>

namespace {

bool isAppId(const QString& id) {
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return shape.match(id).hasMatch();
}

ApiResponse html(int status, const QByteArray& body) {
    ApiResponse r;
    r.status = status;
    r.contentType = "text/html; charset=utf-8";
    r.body = body;
    // Pages change when an app is republished; never serve a stale one.
    r.headers.emplaceBack(QByteArray("Cache-Control"), "no-cache");
    r.headers.emplaceBack(QByteArray("X-Content-Type-Options"), "nosniff");
    r.headers.emplaceBack(QByteArray("Content-Security-Policy"),
                          "default-src 'none'; img-src data: https: http:; style-src 'unsafe-inline'; "
                          "script-src 'unsafe-inline'; base-uri 'none'; form-action 'none'");
    return r;
}

ApiResponse notFound() {
    return html(404, renderNotFoundPage());
}

// The record behind a public identifier: Android records carry a suffix the link drops.
std::optional<StoredApp> findApp(Database& db, const QString& id) {
    if (!isAppId(id) || ZappWire::isAndroid(id))
        return std::nullopt;
    if (std::optional<StoredApp> app = db.app(id))
        return app;
    return db.app(id + ZappWire::androidSuffix);
}

// At most maxBytes of UTF-8, never cutting a character in two.
QString truncatedUtf8(const QString& text, int maxBytes) {
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= maxBytes)
        return text;
    int cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return QString::fromUtf8(bytes);
}

Zapp toZapp(const StoredApp& a) {
    Zapp z;
    z.userid = a.userid;
    z.appname = a.appname;
    z.appicon = a.appicon;
    z.appversion = a.appversion;
    z.appurl = a.appurl;
    z.appid = a.appid;
    z.appdate = a.appdate;
    z.appsize = a.appsize;
    z.appMinOS = a.minos;
    z.qrLink = a.qrLink;
    z.appdescription = a.appdescription;
    z.profileKind = a.profilekind;
    z.profileExpiry = a.profileexpiry;
    z.provisionedDevices = a.provisioneddevices;
    return z;
}

} // namespace

PageHandlers::PageHandlers(Database& database, QString publicUrl, QrRenderer qr, InstallLimits limits)
    : m_database(database), m_publicUrl(std::move(publicUrl)), m_qr(std::move(qr)),
      m_repeats(std::make_unique<RepeatFilter>(limits.repeatWindow, database.sharedState(),
                                               QStringLiteral("repeat"))),
      m_installRate(std::make_unique<RateLimiter>(limits.perMinute, std::chrono::seconds(60),
                                                  database.sharedState(), QStringLiteral("install"))),
      m_metrics(limits.metrics) {}

PageHandlers::~PageHandlers() = default;

void PageHandlers::registerRoutes(Router& router) {
    const QString get = QStringLiteral("GET");
    router.add(get, QStringLiteral("/l/:key"), [this](const ApiRequest& r) { return latest(r); });
    router.add(get, QStringLiteral("/:id"), [this](const ApiRequest& r) { return page(r); });
    router.add(get, QStringLiteral("/:id/install"), [this](const ApiRequest& r) { return install(r); });
}

ApiResponse PageHandlers::page(const ApiRequest& request) {
    const QString id = request.params.value(QStringLiteral("id"));
    // The QR code a hosting job uploads for an Android app encodes the full identifier; its
    // page lives at the identifier without the suffix.
    if (id.endsWith(ZappWire::androidSuffix) && isAppId(id) && m_database.app(id)) {
        ApiResponse r;
        r.status = 301;
        r.contentType = "text/plain";
        r.headers.emplaceBack(QByteArray("Location"),
                              (m_publicUrl + id.chopped(ZappWire::androidSuffix.size())).toUtf8());
        return r;
    }
    const std::optional<StoredApp> app = findApp(m_database, id);
    if (!app)
        return notFound();
    InstallPageContent content;
    content.app = toZapp(*app);
    content.pageUrl = m_publicUrl + id;
    content.installUrl = content.pageUrl + QStringLiteral("/install");
    content.qrSvg = m_qr ? m_qr(content.pageUrl) : QString();
    content.viewer = viewerPlatform(request.header(QStringLiteral("user-agent")));
    const DeviceCheckSection devices =
        deviceCheckSection(m_database, *app, content.pageUrl, content.viewer,
                           request.query.value(QStringLiteral("device")), QDateTime::currentSecsSinceEpoch());
    content.deviceAnswer = devices.answer;
    content.deviceOffer = devices.offer;
    content.withholdInstall = devices.withholdInstall;
    // A build that is not its app's newest points at the stable page, which is.
    if (!app->latestKey.isEmpty()) {
        const auto newest = m_database.appsOfLatestKey(app->latestKey, 1);
        if (newest && !newest->isEmpty() && newest->constFirst().appid != app->appid) {
            content.newerVersion = newest->constFirst().appversion;
            content.latestUrl = ZappWire::latestLink(m_publicUrl, app->latestKey);
        }
    }
    return html(200, renderInstallPage(content));
}

ApiResponse PageHandlers::latest(const ApiRequest& request) {
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9]{1,64}$"));
    const QString key = request.params.value(QStringLiteral("key"));
    if (!shape.match(key).hasMatch())
        return notFound();
    const auto builds = m_database.appsOfLatestKey(key, kEarlierBuilds + 1);
    if (!builds || builds->isEmpty())
        return notFound();
    const StoredApp& newest = builds->constFirst();
    InstallPageContent content;
    content.app = toZapp(newest);
    content.pageUrl = ZappWire::latestLink(m_publicUrl, key);
    content.installUrl = ZappWire::publicLink(m_publicUrl, newest.appid) + QStringLiteral("/install");
    content.qrSvg = m_qr ? m_qr(content.pageUrl) : QString();
    content.viewer = viewerPlatform(request.header(QStringLiteral("user-agent")));
    // Testers keep this link, so it offers the newest build's device check; the check and its
    // answer belong to that build's own page.
    const DeviceCheckSection devices =
        deviceCheckSection(m_database, newest, ZappWire::publicLink(m_publicUrl, newest.appid),
                           content.viewer, QString(), QDateTime::currentSecsSinceEpoch());
    content.deviceAnswer = devices.answer; // only its style: no check is answered here
    content.deviceOffer = devices.offer;
    QList<Zapp> earlier;
    for (qsizetype i = 1; i < builds->size(); ++i)
        earlier.append(toZapp(builds->at(i)));
    content.afterCard = earlierBuildsSection(earlier, m_publicUrl);
    return html(200, renderInstallPage(content));
}

ApiResponse PageHandlers::install(const ApiRequest& request) {
    const QString id = request.params.value(QStringLiteral("id"));
    const std::optional<StoredApp> app = findApp(m_database, id);
    // Records stored before links were checked are checked here again.
    if (!app || !ApiHandlers::isAllowedAppUrl(app->appurl) || app->appurl.contains(QLatin1Char('\r')) ||
        app->appurl.contains(QLatin1Char('\n')))
        return notFound();
    if (const std::optional<int> wait = m_installRate->take(request.peer)) {
        ApiResponse r =
            html(429, QByteArrayLiteral("Too many installs from this address; try again shortly.\n"));
        r.contentType = "text/plain; charset=utf-8";
        r.headers.emplaceBack(QByteArray("Retry-After"), QByteArray::number(*wait));
        return r;
    }
    const QString agent = request.header(QStringLiteral("user-agent"));
    StoredInstall record{
        randomString(20), app->appid, platformName(viewerPlatform(agent)), app->appname,
        truncatedUtf8(agent, kMaxStoredAgentBytes),
        0, // stamped by the database
        // One device (address and browser) opening the page again is a repeat; other
        // phones behind the same address are installs of their own.
        m_repeats->isRepeat(request.peer + QLatin1Char(' ') + agent + QLatin1Char(' ') + app->appid)};
    if (m_metrics)
        m_metrics->countInstall(record.repeat);
    // A lost count must not stop the install itself.
    const bool counted = m_database.insertInstall(record) == Database::Insert::Added && !record.repeat;
    if (counted && m_events)
        m_events->installed(*app, agent);
    ApiResponse r;
    r.status = 302;
    r.contentType = "text/plain";
    r.headers.emplaceBack(QByteArray("Location"), app->appurl.toUtf8());
    r.headers.emplaceBack(QByteArray("Cache-Control"), "no-store");
    return r;
}
