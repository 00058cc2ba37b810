#pragma once

#include "server/webhooks/AppEvents.h"
#include "server/webhooks/WebhookSender.h"

#include <QByteArray>
#include <QString>

// The device an install came from, as the user-agent parser reads its agent.
struct InstallDevice {
    QString platform; // "ios", "android", "other", as install records store it
    QString os;       // "iOS 18.7"; "" when unknown
    QString device;   // "Apple iPhone"; "" when unknown
};
InstallDevice installDevice(const QString& userAgent);

// The server's events as webhooks: one JSON object per event with "event", "text" (what Slack,
// Mattermost and Rocket.Chat show as the message), "app" and, for installs, "install".
class Webhooks final : public AppEvents {
public:
    Webhooks(QString publicUrl, WebhookSender::Settings settings);

    void published(const StoredApp& app) override;
    void installed(const StoredApp& app, const QString& userAgent) override;
    const WebhookSender& sender() const { return m_sender; }

    // The bodies: device set for an install, time in seconds since the epoch.
    static QByteArray eventJson(const StoredApp& app, const QString& publicUrl, const InstallDevice* device,
                                qint64 time);

private:
    QString m_publicUrl;
    WebhookSender m_sender;
};
