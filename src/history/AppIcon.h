#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QNetworkAccessManager;

// The icon of an app record: a web address to download, or an inline image (a data URL or bare
// Base64 text).
namespace AppIcon {

// True for an http(s) address with a host that is not a data URL; everything else is inline.
bool isWebAddress(const QString& appicon);

// The inline rule: the text after the last comma (all of it without one), line breaks removed,
// decoded as Base64 skipping characters outside the alphabet. Empty or undecodable text gives
// placeholder().
QImage decodeInline(const QString& appicon);

// "Placeholder-Icon": a neutral rounded square with a blank app glyph, drawn here so it needs no
// resource file.
QImage placeholder();

} // namespace AppIcon

// Resolves icons for views. Downloads are plain GETs, kept for the rest of the session and cut off
// above maxBytes so a wrong link cannot fill memory. A request without bytes or with bytes that
// are not an image delivers nothing, leaving the view as it was.
class IconLoader : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 DefaultMaxBytes = 2 * 1024 * 1024;

    static IconLoader& instance();

    // Inline icons are delivered at once; downloaded ones later on the main thread, unless
    // context is destroyed first.
    void load(const QString& appicon, QObject* context, std::function<void(const QImage&)> onImage);

    void setMaxBytes(qint64 bytes) { m_maxBytes = bytes; }
    void clearCache();
    int cachedCount() const { return int(m_cache.size()); }
    // Downloads still running.
    int pendingCount() const { return int(m_waiting.size()); }

private:
    explicit IconLoader(QObject* parent = nullptr);
    struct Waiter {
        QPointer<QObject> context;
        bool bound = false;
        std::function<void(const QImage&)> onImage;
    };
    QNetworkAccessManager* network();

    QNetworkAccessManager* m_network = nullptr;
    QHash<QString, QImage> m_cache;
    QHash<QString, QList<Waiter>> m_waiting;
    qint64 m_maxBytes = DefaultMaxBytes;
};
