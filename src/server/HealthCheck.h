#pragma once

#include "server/ApiMessage.h"

#include <QString>

#include <functional>
#include <vector>

class Router;

enum class Health {
    Reachable,
    Unreachable,
    Unwritable // answers, but new data cannot be written (a full disk, a read-only mount)
};

// One thing the service needs in order to answer (the database, the file storage), as a load
// balancer's health check sees it.
struct HealthProbe {
    QString name;
    std::function<Health()> check;
};

// GET /healthz: {"status":"ok","database":"reachable",…} with 200 while every probe passes;
// otherwise "status":"unavailable", the failing ones "unreachable" or "unwritable", and 503, so
// the balancer stops sending requests to this instance.
ApiResponse healthAnswer(const std::vector<HealthProbe>& probes);
void registerHealthRoute(Router& router, std::vector<HealthProbe> probes);

// Whether a new file in the folder takes data now: a nameless 4 KiB file is written there and
// dropped. Reads and stat() go on working on a full disk; only a write shows it. Cheap enough for
// every poll of a load balancer (no sync, nothing left behind).
bool folderTakesWrites(const QString& folder);
