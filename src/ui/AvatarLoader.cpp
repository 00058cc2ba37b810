#include "ui/AvatarLoader.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

namespace {
QNetworkAccessManager& network() {
    static auto* manager = new QNetworkAccessManager;
    return *manager;
}
} // namespace

void loadAvatar(const QUrl& url, QObject* context, std::function<void(const QImage&)> onImage,
                std::function<void()> onRefused) {
    const auto refuse = [onRefused] {
        if (onRefused)
            onRefused();
    };
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        refuse();
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(20000);
    QNetworkReply* reply = network().get(request);
    QPointer<QObject> guard(context);
    QObject::connect(
        reply, &QNetworkReply::finished, reply, [reply, guard, onImage = std::move(onImage), refuse] {
            reply->deleteLater();
            if (!guard)
                return;
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
            if (reply->error() != QNetworkReply::NoError || status != 200 ||
                !type.startsWith(QLatin1String("image"), Qt::CaseInsensitive))
                return refuse();
            QImage image;
            if (!image.loadFromData(reply->readAll()))
                return refuse();
            onImage(image);
        });
    if (context)
        QObject::connect(context, &QObject::destroyed, reply, &QNetworkReply::abort);
}
