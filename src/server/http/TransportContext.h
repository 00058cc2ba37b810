#pragma once

#include "server/HttpTransport.h"
#include "server/http/BodyBudget.h"
#include "server/http/SessionRegistry.h"

#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <optional>

class Router;

namespace transport {

// What every connection of one transport shares.
struct TransportContext {
    TransportContext(const Router& r, HttpTransport::Options o)
        : router(r), options(std::move(o)),
          sessions(options.maxConnections, options.maxConnectionsPerAddress),
          bodies(options.maxBufferedBodyBytes) {
        handlers.emplace(size_t(std::max(1, options.handlerThreads)));
    }

    const Router& router;
    const HttpTransport::Options options;
    SessionRegistry sessions;
    BodyBudget bodies;
    // Handlers run here, apart from the I/O threads, so a request that waits for the database
    // never holds up the others' reads and writes. Ended by the transport's stop(), while the
    // connections its pending work holds can still be destroyed.
    std::optional<boost::asio::thread_pool> handlers;
    std::atomic<bool> stopping{false};
};

} // namespace transport
