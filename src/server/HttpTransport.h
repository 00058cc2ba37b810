#pragma once

#include "server/http/ClientAddress.h"

#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

class Metrics;
class Router;

// The HTTP side of the service (Boost.Beast over Asio, kept out of this header). A few I/O
// threads run every connection as asynchronous steps, so a slow or idle client costs a socket
// and a little memory, never a thread; the router's handlers run on threads of their own, so
// one that waits for the database holds up no other connection. One log line per request.
// The parts, in src/server/http/: RequestHead (header → ApiRequest), BodyIn and BodyOut (the
// ways a body comes in and goes out), Dispatch (the router's steps), Session (a connection's
// life), SessionRegistry (open connections, requests in flight, the clean stop).
class HttpTransport {
public:
    struct Options {
        std::size_t maxBodyBytes = 1024 * 1024; // bodies read into memory (non-streaming routes)
        // All bodies in memory together; past it a request with a body is answered 503.
        std::uint64_t maxBufferedBodyBytes = 64ull << 20;
        int threads = 2;        // I/O threads: reads, writes, kernel copies
        int handlerThreads = 2; // the router's handlers (they may wait for the database)
        QString tlsCert;        // both set: HTTPS
        QString tlsKey;
        // A request's headers must arrive in full within this time.
        std::chrono::milliseconds headerTimeout{10000};
        // The body (in or out) may stall for at most this long between two pieces.
        std::chrono::milliseconds bodyTimeout{30000};
        // A kept-alive connection with no request for this long is closed.
        std::chrono::milliseconds idleTimeout{15000};
        // stop() lets the requests in progress finish for this long after accepting stopped.
        std::chrono::milliseconds stopGrace{10000};
        int maxConnections = 4096;
        int maxConnectionsPerAddress = 128; // not for a trusted proxy
        // Peers whose Forwarded / X-Forwarded-For headers name the client (see ClientAddress).
        TrustedProxies trustedProxies;
        Metrics* metrics = nullptr; // set: every answered request is counted there
        bool jsonLog = false;       // one JSON object per request line instead of plain text
    };

    HttpTransport(const Router& router, Options options);
    // False when the TLS certificate or key could not be loaded.
    bool isValid() const;
    // Reads the certificate chain and key files again for the connections accepted from now on;
    // open ones go on with the pair they began with. False (with *error) when the files cannot be
    // read or do not match: the pair in service stays.
    bool reloadTls(QString* error);
    ~HttpTransport();
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    // Port 0 picks a free port. Returns false (with *error) when the address cannot be bound.
    bool bind(const QString& host, int port, QString* error);
    int port() const;
    int openConnections() const;
    // Serves on threads of its own until stop().
    void start();
    // Closes the listening socket (kept-alive connections end after their current request);
    // returns the deadline of the requests in progress: now + stopGrace, set by the first call.
    std::chrono::steady_clock::time_point stopAccepting();
    // Waits until no request is in progress, or until the deadline; true when none is.
    bool waitIdle(std::chrono::steady_clock::time_point deadline);
    // Stops accepting, lets the requests in progress finish (until stopAccepting's deadline), then
    // closes every connection; safe to call twice.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
