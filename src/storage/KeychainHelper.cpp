#include "storage/KeychainHelper.h"

#include "core/Log.h"
#include "storage/SecretFile.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QStandardPaths>
#include <qt6keychain/keychain.h>

namespace {
// Without a session bus there is no Secret Service or KWallet to ask; asking anyway only
// waits for D-Bus to give up.
bool useKeychain() {
    return KeychainHelper::sessionBusPresent();
}

template <typename Job> void runJob(Job& job) {
    job.setAutoDelete(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
}

bool noService(QKeychain::Error error) {
    return error == QKeychain::NoBackendAvailable || error == QKeychain::NotImplemented;
}
} // namespace

bool KeychainHelper::sessionBusPresent() {
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

QString KeychainHelper::fallbackFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Vantry/credentials.json");
}

std::optional<QString> KeychainHelper::read(const QString& service, const QString& account) const {
    if (useKeychain()) {
        QKeychain::ReadPasswordJob job(service);
        job.setKey(account);
        runJob(job);
        if (job.error() == QKeychain::NoError) {
            const QByteArray data = job.binaryData();
            if (data.isEmpty())
                return std::nullopt;
            QString text = QString::fromUtf8(data);
            if (text.toUtf8() != data) // not valid UTF-8
                return std::nullopt;
            return text;
        }
        if (!noService(job.error()))
            return std::nullopt;
    }
    return SecretFile(fallbackFilePath()).read(service, account);
}

void KeychainHelper::save(const QString& service, const QString& account, const QString& value) {
    if (useKeychain()) {
        QKeychain::WritePasswordJob job(service);
        job.setKey(account);
        job.setBinaryData(value.toUtf8());
        runJob(job);
        if (job.error() == QKeychain::NoError)
            return;
        if (!noService(job.error())) {
            logLine(QStringLiteral("Error setting keychain item: ") + job.errorString());
            return;
        }
    }
    const SecretFile::WriteResult result = SecretFile(fallbackFilePath()).write(service, account, value);
    if (result.lookupFailed)
        logLine(QStringLiteral("Error finding keychain item to modify: %1, %2")
                    .arg(result.status)
                    .arg(result.message));
    else if (!result.ok)
        logLine(QStringLiteral("Error setting keychain item: ") + result.message);
}
