#include "server/HealthCheck.h"

#include "server/Router.h"

#include <QFile>

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

ApiResponse healthAnswer(const std::vector<HealthProbe>& probes) {
    QByteArray checks;
    bool allUp = true;
    for (const HealthProbe& probe : probes) {
        const Health health = probe.check();
        allUp = allUp && health == Health::Reachable;
        checks.append(',');
        ApiResponse::appendJsonString(checks, probe.name);
        checks.append(health == Health::Reachable    ? ":\"reachable\""
                      : health == Health::Unwritable ? ":\"unwritable\""
                                                     : ":\"unreachable\"");
    }
    ApiResponse r;
    r.status = allUp ? 200 : 503;
    r.contentType = "application/json";
    r.body =
        (allUp ? QByteArrayLiteral("{\"status\":\"ok\"") : QByteArrayLiteral("{\"status\":\"unavailable\"")) +
        checks + "}\n";
    r.headers.emplaceBack(QByteArray("Cache-Control"), "no-store");
    return r;
}

void registerHealthRoute(Router& router, std::vector<HealthProbe> probes) {
    router.add(QStringLiteral("GET"), QStringLiteral("/healthz"),
               [probes = std::move(probes)](const ApiRequest&) { return healthAnswer(probes); });
}

bool folderTakesWrites(const QString& folder) {
    // A whole block, so that no file system can keep it inside the inode.
    static const char block[4096] = {};
    const QByteArray path = QFile::encodeName(folder);
    int fd = ::open(path.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    QByteArray named;
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without nameless files: a named one, removed again at once.
        static std::atomic<unsigned> serial{0};
        named = path + "/.health-probe-" + QByteArray::number(::getpid()) + '-' +
                QByteArray::number(serial.fetch_add(1));
        fd = ::open(named.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    }
    if (fd < 0)
        return false;
    const bool written = ::write(fd, block, sizeof block) == ssize_t(sizeof block);
    ::close(fd);
    if (!named.isEmpty())
        ::unlink(named.constData());
    return written;
}
