#pragma once

#include "backend/HttpConnection.h"
#include "backend/records/ZUser.h"
#include "backend/records/Zapp.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QTimer;

// What a hosting job needs of the Vantry backend. Unlike a plain endpoint call, every request
// ends exactly once: with its success, or with a one-sentence reason when the backend refuses,
// cannot be reached or does not answer in time; cancel() ends it with nothing.
class HostingBackend {
public:
    using Failure = std::function<void(const QString& reason)>;
    virtual ~HostingBackend() = default;

    // "createapp" for the current user; onLink receives the result link.
    virtual void createApp(const Zapp& app, std::function<void(const QString& link)> onLink,
                           Failure onFailure) = 0;
    // "addnewuser"; the backend adds an unknown user and updates a known one.
    virtual void addNewUser(const ZUser& user, std::function<void()> onDone, Failure onFailure) = 0;
    // Drops the answer of the request in flight.
    virtual void cancel() = 0;
};

// The backend at Zelko's base URL (or another one), with the time-out of
// backend/requestTimeoutSeconds.
class ZelkoHostingBackend : public QObject, public HostingBackend {
    Q_OBJECT
public:
    explicit ZelkoHostingBackend(QString baseUrl = {}, QObject* parent = nullptr);
    ~ZelkoHostingBackend() override;

    void createApp(const Zapp& app, std::function<void(const QString& link)> onLink,
                   Failure onFailure) override;
    void addNewUser(const ZUser& user, std::function<void()> onDone, Failure onFailure) override;
    void cancel() override;

    // The reason for an answer without "isSuccess" true (what: "register the app").
    static QString refusalText(const QString& what, const QByteArray& body, int status);

private:
    using Answer = std::function<void(const QJsonObject& answer, const QByteArray& body, int status)>;
    void post(const QString& path, const QJsonObject& body, const HttpHeaders& headers, Answer answer,
              Failure onFailure);

    QString m_baseUrl;
    QPointer<QObject> m_request; // destroyed on cancel: the answer is dropped
};
