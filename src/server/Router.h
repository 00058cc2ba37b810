#pragma once

#include "server/ApiMessage.h"

#include <QStringList>

#include <functional>
#include <vector>

// Maps method and path to a handler. Patterns are "/"-separated segments, each a literal or a
// ":name" that captures one non-empty segment into ApiRequest::params. Routes are tried in the
// order they were added, so literal routes go before catch-all ones.
class Router {
public:
    using Handler = std::function<ApiResponse(const ApiRequest&)>;

    struct Match {
        enum Kind { Found, WrongMethod, NotFound } kind = NotFound;
        const Handler* handler = nullptr;
        QString pattern;
        QHash<QString, QString> params;
    };

    // redactParams: the request log shows the pattern instead of the path, for paths whose
    // segments name the caller (a user id doubles as its Authorization value).
    void add(const QString& method, const QString& pattern, Handler handler, bool redactParams = false);
    Match match(const QString& method, const QString& path) const;

    // The path as it may be written to the log.
    QString loggablePath(const QString& method, const QString& path) const;

    // Runs the matching handler, or answers 404/405.
    ApiResponse dispatch(ApiRequest request) const;

private:
    struct Route {
        QString method;
        QString pattern;
        QStringList segments;
        Handler handler;
        bool redactParams;
    };
    std::vector<Route> m_routes;
};
