#include "backend/BackendStartup.h"

#include "backend/HttpConnection.h"
#include "backend/Zelko.h"
#include "core/Config.h"
#include "core/CrashHandler.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace BackendStartup {

void run(std::function<void(const QString&)> onNewVersion) {
    // The debug switch is read before the first request fixes the base URL.
    Zelko::setUseLocalBackend(Config::instance().boolValue(ConfigKey::BackendUseLocalBackend));
    CrashHandler::collectPendingReport();
    Zelko::setNewVersionHook(std::move(onNewVersion));
    Zelko::checkVersion();
    sendStoredCrashReport();
}

bool sendStoredCrashReport() {
    const std::optional<Crash> crash = CrashHandler::storedReport();
    if (!crash)
        return false;
    Zelko::api().reportCrash(*crash);
    return true;
}

bool waitForRequests(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (HttpConnection::pendingRequests() > 0) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

} // namespace BackendStartup
