#pragma once

#include "records/Zapp.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// What a hosting job needs of the Vantry backend: "createapp" for the current user, ended once
// with the result link (and the stable link of the app's builds, or "") or the backend client's
// one-sentence reason. cancel() drops the answer of the request in flight.
class HostingBackend {
public:
    using Failure = std::function<void(const QString& reason)>;
    using OnLinks = std::function<void(const QString& link, const QString& latestLink)>;
    virtual ~HostingBackend() = default;

    virtual void createApp(const Zapp& app, OnLinks onLinks, Failure onFailure) = 0;
    virtual void cancel() = 0;
};

// BackendApi at Zelko's base URL (or at another one), with the connection's time-out.
class ZelkoHostingBackend : public HostingBackend {
public:
    explicit ZelkoHostingBackend(QString baseUrl = {});

    void createApp(const Zapp& app, OnLinks onLinks, Failure onFailure) override;
    void cancel() override { m_request.reset(); }

private:
    QString m_baseUrl;
    std::unique_ptr<QObject> m_request; // the answer's context
};
