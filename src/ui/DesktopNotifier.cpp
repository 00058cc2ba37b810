#include "ui/DesktopNotifier.h"

#include <QCoreApplication>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCall>

namespace {
DesktopNotifier::Sink& sink() {
    static DesktopNotifier::Sink s;
    return s;
}
const QString service = QStringLiteral("org.freedesktop.Notifications");
} // namespace

namespace DesktopNotifier {

void post(const QString& title, const QString& body) {
    if (sink()) {
        sink()(title, body);
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        service, QStringLiteral("/org/freedesktop/Notifications"), service, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vantry"));
    notify << QCoreApplication::applicationName() << uint(0) << QStringLiteral("vantry") << title << body
           << QStringList() << hints << int(-1);
    bus.asyncCall(notify);
}

void setSink(Sink s) {
    sink() = std::move(s);
}

} // namespace DesktopNotifier
