#pragma once

#include "server/ApiMessage.h"

#include <QString>

#include <functional>
#include <vector>

class Router;

// One thing the service needs in order to answer (the database, the file storage), as a load
// balancer's health check sees it.
struct HealthProbe {
    QString name;
    std::function<bool()> isReachable;
};

// GET /healthz: {"status":"ok","database":"reachable",…} with 200 while every probe passes;
// otherwise "status":"unavailable", the failing ones "unreachable", and 503, so the balancer
// stops sending requests to this instance.
ApiResponse healthAnswer(const std::vector<HealthProbe>& probes);
void registerHealthRoute(Router& router, std::vector<HealthProbe> probes);
