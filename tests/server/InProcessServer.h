#pragma once

#include "server/VantryServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

// The service in this process on a free loopback port with a fresh data folder; null on failure.
inline std::unique_ptr<VantryServer> startServer(ServerOptions options = {}) {
    if (options.dataDir.isEmpty())
        options.dataDir = testsupport::makeTempDir(QStringLiteral("server"));
    options.port = 0;
    QString error;
    auto server = VantryServer::start(options, &error);
    EXPECT_TRUE(server) << error.toStdString();
    return server;
}
