#pragma once

#include <QString>

struct StoredApp;

// What the team may want to hear of: an app published, an install counted. The handlers tell;
// the sink decides how (webhooks) and must never hold the request up.
class AppEvents {
public:
    virtual ~AppEvents() = default;
    virtual void published(const StoredApp& app) = 0;
    // A counted install (not a repeat), with the installing device's user agent.
    virtual void installed(const StoredApp& app, const QString& userAgent) = 0;
};
