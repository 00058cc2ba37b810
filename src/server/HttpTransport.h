#pragma once

#include <QString>

#include <cstddef>
#include <memory>

class Router;

// The HTTP side of the service (cpp-httplib, kept out of this header): a thread pool reads
// requests, hands them to the router and writes one log line per request.
class HttpTransport {
public:
    struct Options {
        std::size_t maxBodyBytes = 1024 * 1024;
        int threads = 8;
    };

    HttpTransport(const Router& router, Options options);
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
