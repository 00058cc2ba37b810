#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

// The application's named notifications ("zohocode_Receiver", "shouldDismiss", "didLogin",
// "reload"): a sender posts a name with an optional user-info map, every observer of that name
// hears it on the thread it observes from.
class NotificationCenter : public QObject {
    Q_OBJECT
public:
    static NotificationCenter& instance();

    void post(const QString& name, const QVariantMap& userInfo = {});

    // Calls handler for every later post of name until context is destroyed or stops observing.
    QMetaObject::Connection observe(const QString& name, QObject* context,
                                    std::function<void(const QVariantMap& userInfo)> handler);

signals:
    void posted(const QString& name, const QVariantMap& userInfo);
};
