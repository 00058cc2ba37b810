#include "app/HostingBackend.h"

#include "backend/BackendApi.h"
#include "backend/HttpConnection.h"
#include "backend/Zelko.h"
#include "core/Config.h"
#include "core/Log.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace {
const QString kBackend = QStringLiteral("The Vantry backend");

bool succeeded(const QJsonObject& answer) {
    const QJsonValue flag = answer.value(QStringLiteral("isSuccess"));
    return flag.isBool() && flag.toBool();
}

int timeoutSeconds() {
    const int seconds = Config::instance().intValue(ConfigKey::BackendRequestTimeoutSeconds);
    return seconds > 0 ? seconds : 30;
}
} // namespace

ZelkoHostingBackend::ZelkoHostingBackend(QString baseUrl, QObject* parent)
    : QObject(parent), m_baseUrl(std::move(baseUrl)) {}

ZelkoHostingBackend::~ZelkoHostingBackend() {
    cancel();
}

QString ZelkoHostingBackend::refusalText(const QString& what, const QByteArray& body, int status) {
    const QJsonValue response = QJsonDocument::fromJson(body).object().value(QStringLiteral("response"));
    if (response.isString() && !response.toString().trimmed().isEmpty())
        return QStringLiteral("%1 did not %2: %3.").arg(kBackend, what, response.toString().trimmed());
    return QStringLiteral("%1 did not %2 (HTTP %3).").arg(kBackend, what).arg(status);
}

void ZelkoHostingBackend::post(const QString& path, const QJsonObject& body, const HttpHeaders& headers,
                               Answer answer, Failure onFailure) {
    cancel();
    auto* request = new QObject(this);
    m_request = request;
    const QUrl url = (m_baseUrl.isEmpty() ? Zelko::api() : BackendApi(m_baseUrl)).endpoint(path);
    // Ends the request once: the first of answer, failure and time-out wins.
    const auto end = [this, request](const std::function<void()>& report) {
        if (m_request != request)
            return;
        m_request = nullptr;
        request->deleteLater();
        report();
    };
    if (!HttpConnection::isReachable(url)) {
        QTimer::singleShot(0, request, [end, onFailure] {
            end([onFailure] { onFailure(QStringLiteral("The Internet connection appears to be offline.")); });
        });
        return;
    }
    const int seconds = timeoutSeconds();
    QTimer::singleShot(seconds * 1000, request, [end, onFailure, seconds, path] {
        logLine(QStringLiteral("Backend %1 timed out").arg(path));
        end([onFailure, seconds] {
            onFailure(QStringLiteral("%1 did not answer within %2 seconds.").arg(kBackend).arg(seconds));
        });
    });
    HttpConnection::send(
        url, QStringLiteral("POST"), headers, QJsonDocument(body).toJson(QJsonDocument::Compact),
        [end, answer, onFailure, path](const HttpReply& reply) {
            end([&] {
                if (!reply.transportOk) {
                    logLine(QStringLiteral("Backend %1 failed: %2").arg(path, reply.errorText));
                    onFailure(QStringLiteral("%1 could not be reached (%2).").arg(kBackend, reply.errorText));
                    return;
                }
                answer(QJsonDocument::fromJson(reply.body).object(), reply.body, reply.status);
            });
        },
        request);
}

void ZelkoHostingBackend::createApp(const Zapp& app, std::function<void(const QString&)> onLink,
                                    Failure onFailure) {
    const QString what = QStringLiteral("register the app");
    post(
        QStringLiteral("createapp"), BackendApi::createAppBody(app, currentUser().id),
        BackendApi::userHeaders(),
        [onLink, onFailure, what](const QJsonObject& answer, const QByteArray& body, int status) {
            const QJsonValue url =
                answer.value(QStringLiteral("response")).toObject().value(QStringLiteral("url"));
            if (!succeeded(answer)) {
                onFailure(refusalText(what, body, status));
                return;
            }
            if (!url.isString() || url.toString().isEmpty()) {
                onFailure(QStringLiteral("%1 registered the app but gave no link.").arg(kBackend));
                return;
            }
            onLink(url.toString());
        },
        onFailure);
}

void ZelkoHostingBackend::addNewUser(const ZUser& user, std::function<void()> onDone, Failure onFailure) {
    const QString what = QStringLiteral("register the user");
    post(
        QStringLiteral("addnewuser"), BackendApi::addNewUserBody(user),
        BackendApi::registrationHeaders(user.id),
        [onDone, onFailure, what, userId = user.id](const QJsonObject& answer, const QByteArray& body,
                                                    int status) {
            if (!succeeded(answer)) {
                onFailure(refusalText(what, body, status));
                return;
            }
            BackendApi::keepIssuedSecret(userId, answer);
            onDone();
        },
        onFailure);
}

void ZelkoHostingBackend::cancel() {
    if (QObject* request = m_request) {
        m_request = nullptr;
        request->deleteLater();
    }
}
