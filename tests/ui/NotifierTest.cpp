#include "support/TestSupport.h"
#include "ui/DesktopNotifier.h"
#include "ui/ProcessView.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtDBus/QDBusConnection>

#include <gtest/gtest.h>

namespace {

// Stands in for the desktop's notification daemon on a private bus.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList received; // application, summary and body of each

public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        received.append(app + u'|' + summary + u'|' + body);
        return uint(received.size());
    }
};

// The job's notices go from the view to the notification service, and nowhere without one.
TEST(NotifierTest, PostsToTheNotificationServiceAndNothingWithoutOne) {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    QProcess bus;
    bus.start(daemon,
              {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    ASSERT_TRUE(bus.waitForStarted());
    ASSERT_TRUE(testsupport::waitUntil([&] { return bus.canReadLine(); }));
    const QByteArray address = bus.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    // No service yet: the post goes nowhere, and nothing of it arrives later either.
    DesktopNotifier::post(QStringLiteral("Early"), QStringLiteral("Task Completed"));

    QDBusConnection service =
        QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("fake"));
    ASSERT_TRUE(service.isConnected());
    FakeNotifications fake;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));

    ProcessView().postNotification(QStringLiteral("MyApp"), QStringLiteral("Task done with error"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !fake.received.empty(); }));
    EXPECT_EQ(fake.received, QStringList{QStringLiteral("Vantry|MyApp|Task done with error")});

    QDBusConnection::disconnectFromBus(QStringLiteral("fake"));
    bus.kill();
    bus.waitForFinished();
}

} // namespace

#include "NotifierTest.moc"
