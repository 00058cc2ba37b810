#pragma once

#include "server/ApiMessage.h"

#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Maps method and path to a handler. Patterns are "/"-separated segments, each a literal, a
// ":name" that captures one non-empty segment into ApiRequest::params, or a final "*name" that
// captures the non-empty rest of the path. Routes are tried in the order they were added, so
// literal routes go before catch-all ones. HEAD requests take the GET routes.
class Router {
public:
    using Handler = std::function<ApiResponse(const ApiRequest&)>;
    // For bodies too large for memory: called once the headers are in (request.body empty).
    // It answers at once (a refusal), or sets *reader to take the body; the reader's finish()
    // then gives the answer.
    using StreamingHandler =
        std::function<ApiResponse(const ApiRequest& request, std::unique_ptr<BodyReader>* reader)>;
    // Looks at a request's headers before any of its body is read: a refusal, or nothing to go
    // on. Lets the transport turn away a caller it would not serve without holding the body.
    using Admit = std::function<std::optional<ApiResponse>(const ApiRequest& request)>;

    struct Match {
        enum Kind { Found, WrongMethod, NotFound } kind = NotFound;
        const Handler* handler = nullptr;
        const StreamingHandler* streaming = nullptr; // set instead of handler for streaming routes
        uint64_t maxBodyBytes = 0;                   // the largest body taken (0: the transport's)
        const Admit* admit = nullptr;                // set: check the headers before the body
        QString pattern;
        bool redactParams = false; // the log shows the pattern, not the path
        QHash<QString, QString> params;

        // The 404 or 405 answer when no route takes the request.
        std::optional<ApiResponse> refusal() const;
    };

    // redactParams: the request log shows the pattern instead of the path, for paths whose
    // segments name the caller (a user id doubles as its Authorization value).
    void add(const QString& method, const QString& pattern, Handler handler, bool redactParams = false);
    void addStreaming(const QString& method, const QString& pattern, uint64_t maxBodyBytes,
                      StreamingHandler handler);
    // Gives an added route a header check and (when not 0) a body limit of its own.
    void admitWith(const QString& method, const QString& pattern, Admit admit, uint64_t maxBodyBytes = 0);
    // One request in three steps; the transport reads the body between the second and the third.
    Match match(const QString& method, const QString& path) const;
    // The route's header check: a refusal, or nothing.
    std::optional<ApiResponse> admit(const Match& match, const ApiRequest& request) const;
    // The handler of a route that was found; a streaming route gets the body in memory through
    // its reader.
    ApiResponse handle(const Match& match, const ApiRequest& request) const;

    // The path as it may be written to the log.
    QString loggablePath(const QString& method, const QString& path) const;
    // The same for a request already matched (no second walk through the routes).
    static QString loggablePath(const Match& match, const QString& path);

    // All three steps with the body in memory: the handler's answer, or a refusal.
    ApiResponse dispatch(ApiRequest request) const;

private:
    struct Route {
        QString method;
        QString pattern;
        QStringList segments;
        Handler handler;
        bool redactParams;
        StreamingHandler streaming;
        uint64_t maxBodyBytes;
        Admit admit;
    };
    std::vector<Route> m_routes;
};
