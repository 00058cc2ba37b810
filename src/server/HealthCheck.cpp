#include "server/HealthCheck.h"

#include "server/Router.h"

ApiResponse healthAnswer(const std::vector<HealthProbe>& probes) {
    QByteArray checks;
    bool allUp = true;
    for (const HealthProbe& probe : probes) {
        const bool up = probe.isReachable();
        allUp = allUp && up;
        checks.append(',');
        ApiResponse::appendJsonString(checks, probe.name);
        checks.append(up ? ":\"reachable\"" : ":\"unreachable\"");
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
