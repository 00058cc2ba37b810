#include "server/webhooks/Webhooks.h"

#include "core/RandomString.h"
#include "records/ZappWire.h"
#include "server/Database.h"
#include "server/pages/InstallPage.h"
#include "useragent/UAParser.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Slack reads "<…>" in a message as a link or a mention ("<!channel>"), so a name or a note must
// not write one; Mattermost and Rocket.Chat show the entities as the characters.
QString chatEscaped(const QString& text) {
    QString out = text;
    return out.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"));
}

QString joined(const std::optional<QString>& a, const std::optional<QString>& b) {
    return QStringList{a.value_or(QString()), b.value_or(QString())}.join(QLatin1Char(' ')).trimmed();
}

constexpr qsizetype kNotesInMessage = 500;

} // namespace

// The one place the server reads user agents with the parser.
InstallDevice installDevice(const QString& userAgent) {
    UAParser parser(userAgent);
    InstallDevice device{platformName(viewerPlatform(userAgent)), QString(), QString()};
    // The parser names Apple's system "ios"; people write "iOS" (as the history does).
    if (const auto& os = parser.os())
        device.os = joined(os->name, os->version).replace(QLatin1String("ios"), QLatin1String("iOS"));
    if (const auto& d = parser.device())
        device.device = joined(d->vendor, d->model);
    return device;
}

Webhooks::Webhooks(QString publicUrl, WebhookSender::Settings settings)
    : m_publicUrl(std::move(publicUrl)), m_sender(std::move(settings)) {}

// The request's thread copies the record; the sender's reads the agent and writes the JSON.
void Webhooks::published(const StoredApp& app) {
    m_sender.send("published", [app, url = m_publicUrl, time = QDateTime::currentSecsSinceEpoch()] {
        return eventJson(app, url, nullptr, time);
    });
}

void Webhooks::installed(const StoredApp& app, const QString& userAgent) {
    m_sender.send("installed",
                  [app, userAgent, url = m_publicUrl, time = QDateTime::currentSecsSinceEpoch()] {
                      const InstallDevice device = installDevice(userAgent);
                      return eventJson(app, url, &device, time);
                  });
}

QByteArray Webhooks::eventJson(const StoredApp& app, const QString& publicUrl, const InstallDevice* device,
                               qint64 time) {
    const bool android = ZappWire::isAndroid(app.appid);
    const QString link = ZappWire::publicLink(publicUrl, app.appid);
    const QString latest =
        app.latestKey.isEmpty() ? QString() : ZappWire::latestLink(publicUrl, app.latestKey);
    const QString title = QStringLiteral("%1 %2 (%3)")
                              .arg(chatEscaped(app.appname), chatEscaped(app.appversion),
                                   android ? QStringLiteral("Android") : QStringLiteral("iOS"));
    QString text;
    if (device) {
        QStringList parts;
        for (const QString& part : {device->device, device->os}) {
            if (!part.isEmpty())
                parts << part;
        }
        text = QStringLiteral("%1 was installed on %2: %3")
                   .arg(title,
                        parts.isEmpty() ? QStringLiteral("an unknown device")
                                        : chatEscaped(parts.join(QStringLiteral(", "))),
                        link);
    } else {
        text = QStringLiteral("%1 is ready to test: %2").arg(title, latest.isEmpty() ? link : latest);
        const QString notes = app.appdescription.trimmed();
        if (!notes.isEmpty())
            text += QLatin1Char('\n') + chatEscaped(notes.size() > kNotesInMessage
                                                        ? notes.left(kNotesInMessage) + QStringLiteral("…")
                                                        : notes);
    }
    QJsonObject event{
        {QStringLiteral("event"), device ? QStringLiteral("installed") : QStringLiteral("published")},
        {QStringLiteral("id"), randomString(20)},
        {QStringLiteral("time"), double(time)},
        {QStringLiteral("text"), text},
        {QStringLiteral("app"), QJsonObject{{QStringLiteral("id"), app.appid},
                                            {QStringLiteral("name"), app.appname},
                                            {QStringLiteral("version"), app.appversion},
                                            {QStringLiteral("platform"),
                                             android ? QStringLiteral("android") : QStringLiteral("ios")},
                                            {QStringLiteral("bundleId"), app.bundleid},
                                            {QStringLiteral("link"), link},
                                            {QStringLiteral("latestLink"), latest},
                                            {QStringLiteral("notes"), app.appdescription}}}};
    if (device)
        event.insert(QStringLiteral("install"), QJsonObject{{QStringLiteral("platform"), device->platform},
                                                            {QStringLiteral("os"), device->os},
                                                            {QStringLiteral("device"), device->device}});
    return QJsonDocument(event).toJson(QJsonDocument::Compact);
}
