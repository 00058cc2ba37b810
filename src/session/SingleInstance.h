#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

// One running Vantry per user: the first process listens on a local socket in the runtime
// folder; a later one started with URLs (sign-in callbacks, file URLs of packages) hands them
// over and exits.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString socketPath();
    // Gives urls to the running process; false when none answers within timeoutMs.
    static bool sendToRunning(const QStringList& urls, int timeoutMs = 3000);
    // Becomes the running process (a stale socket left by a crash is replaced).
    bool listen();

signals:
    void urlReceived(const QString& url);

private:
    QLocalServer* m_server;
};
