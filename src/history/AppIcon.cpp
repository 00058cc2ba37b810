#include "history/AppIcon.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

namespace AppIcon {

bool isWebAddress(const QString& appicon) {
    if (appicon.contains(QStringLiteral("data:image")))
        return false;
    const QUrl url(appicon.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

QImage decodeInline(const QString& appicon) {
    QString payload = appicon.mid(appicon.lastIndexOf(QLatin1Char(',')) + 1);
    payload.remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    if (payload.isEmpty())
        return placeholder();
    const QByteArray bytes = QByteArray::fromBase64(payload.toLatin1());
    QImage image;
    if (bytes.isEmpty() || !image.loadFromData(bytes))
        return placeholder();
    return image;
}

QImage placeholder() {
    static const QImage image = [] {
        QImage img(128, 128, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient fill(0, 0, 0, 128);
        fill.setColorAt(0, QColor(0xd9, 0xde, 0xe6));
        fill.setColorAt(1, QColor(0xb4, 0xbc, 0xc8));
        QPainterPath tile;
        tile.addRoundedRect(QRectF(4, 4, 120, 120), 28, 28);
        p.fillPath(tile, fill);
        // A blank "app" glyph: three rounded bars, the same in every theme.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 210));
        p.drawRoundedRect(QRectF(34, 38, 60, 12), 6, 6);
        p.drawRoundedRect(QRectF(34, 58, 60, 12), 6, 6);
        p.drawRoundedRect(QRectF(34, 78, 40, 12), 6, 6);
        return img;
    }();
    return image;
}

} // namespace AppIcon

IconLoader::IconLoader(QObject* parent) : QObject(parent) {}

IconLoader& IconLoader::instance() {
    static IconLoader* loader = new IconLoader;
    return *loader;
}

QNetworkAccessManager* IconLoader::network() {
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    return m_network;
}

void IconLoader::clearCache() {
    m_cache.clear();
}

void IconLoader::load(const QString& appicon, QObject* context, std::function<void(const QImage&)> onImage) {
    if (!AppIcon::isWebAddress(appicon)) {
        onImage(AppIcon::decodeInline(appicon));
        return;
    }
    if (const auto it = m_cache.constFind(appicon); it != m_cache.constEnd()) {
        onImage(*it);
        return;
    }
    const bool started = m_waiting.contains(appicon);
    m_waiting[appicon].append({context, context != nullptr, std::move(onImage)});
    if (started)
        return;

    QNetworkRequest request{QUrl(appicon.trimmed())};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = network()->get(request);
    const qint64 limit = m_maxBytes;
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, limit](qint64 received, qint64) {
        if (received > limit)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, appicon, limit] {
        reply->deleteLater();
        const QList<Waiter> waiters = m_waiting.take(appicon);
        if (reply->error() != QNetworkReply::NoError)
            return;
        // A small answer can arrive whole before any progress report could stop it.
        const QByteArray body = reply->read(limit + 1);
        QImage image;
        if (body.size() > limit || !image.loadFromData(body))
            return;
        m_cache.insert(appicon, image);
        for (const Waiter& waiter : waiters)
            if (waiter.context || !waiter.bound)
                waiter.onImage(image);
    });
}
