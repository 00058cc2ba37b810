#pragma once

#include <QString>

#include <cstddef>
#include <functional>
#include <memory>

namespace httplib {
class Server;
}
class Router;

// The HTTP side of the service (cpp-httplib, kept out of this header): a thread pool reads
// requests, hands them to the router and writes one log line per request.
class HttpTransport {
public:
    struct Options {
        std::size_t maxBodyBytes = 1024 * 1024;
        int threads = 8;
        // Streaming routes that read or write bodies themselves (file storage); they are
        // registered before the router's and are the only ones allowed bodies past maxBodyBytes.
        std::function<void(httplib::Server&)> streamingRoutes;
        std::size_t maxStreamingBytes = 0;
        QString streamingPrefix; // path prefix of the streaming routes that take large bodies
        QString tlsCert;         // both set: HTTPS
        QString tlsKey;
    };

    HttpTransport(const Router& router, Options options);
    // False when the TLS certificate or key could not be loaded.
    bool isValid() const;
    ~HttpTransport();
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    // Port 0 picks a free port. Returns false (with *error) when the address cannot be bound.
    bool bind(const QString& host, int port, QString* error);
    int port() const;
    // Serves on a thread of its own until stop().
    void start();
    // Finishes the requests in progress and closes the socket; safe to call twice.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
