#include "server/Router.h"

#include <QJsonDocument>
#include <QJsonObject>

ApiResponse ApiResponse::json(int status, bool ok, const QJsonValue& response) {
    ApiResponse r;
    r.status = status;
    r.body =
        QJsonDocument(QJsonObject{{QStringLiteral("isSuccess"), ok}, {QStringLiteral("response"), response}})
            .toJson(QJsonDocument::Compact);
    return r;
}

ApiResponse ApiResponse::text(int status, const QByteArray& body) {
    ApiResponse r;
    r.status = status;
    r.contentType = "text/plain; charset=utf-8";
    r.body = body;
    r.headers.emplaceBack(QByteArray("Cache-Control"), "no-store");
    return r;
}

ApiResponse ApiResponse::successRaw(int status, const QByteArray& responseJson) {
    ApiResponse r;
    r.status = status;
    r.body.reserve(responseJson.size() + 32);
    r.body.append(R"({"isSuccess":true,"response":)").append(responseJson).append('}');
    return r;
}

void ApiResponse::appendJsonString(QByteArray& out, const QString& s) {
    static const char hex[] = "0123456789abcdef";
    const QByteArray utf8 = s.toUtf8();
    out.append('"');
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.append('\\').append(c);
        } else if (u < 0x20) {
            out.append("\\u00").append(hex[u >> 4]).append(hex[u & 0xf]);
        } else {
            out.append(c);
        }
    }
    out.append('"');
}

namespace {
QStringList split(const QString& path) {
    // "/app/" has one empty segment after "app": it must not match "/app/:userid".
    QStringList parts = path.split(QLatin1Char('/'));
    if (!parts.isEmpty() && parts.constFirst().isEmpty())
        parts.removeFirst();
    return parts;
}

bool matches(const QStringList& pattern, const QStringList& segments, QHash<QString, QString>* params) {
    const bool rest = !pattern.isEmpty() && pattern.constLast().startsWith(QLatin1Char('*'));
    if (rest ? segments.size() < pattern.size() : pattern.size() != segments.size())
        return false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QString& p = pattern[i];
        if (rest && i == pattern.size() - 1) {
            const QString tail = segments.mid(i).join(QLatin1Char('/'));
            if (tail.isEmpty())
                return false;
            if (params)
                params->insert(p.mid(1), tail);
        } else if (p.startsWith(QLatin1Char(':'))) {
            if (segments[i].isEmpty())
                return false;
            if (params)
                params->insert(p.mid(1), segments[i]);
        } else if (p != segments[i]) {
            return false;
        }
    }
    return true;
}
} // namespace

void Router::add(const QString& method, const QString& pattern, Handler handler, bool redactParams) {
    m_routes.push_back(Route{method, pattern, split(pattern), std::move(handler), redactParams, {}, 0, {}});
}

void Router::addStreaming(const QString& method, const QString& pattern, uint64_t maxBodyBytes,
                          StreamingHandler handler) {
    m_routes.push_back(
        Route{method, pattern, split(pattern), {}, false, std::move(handler), maxBodyBytes, {}});
}

void Router::admitWith(const QString& method, const QString& pattern, Admit admit, uint64_t maxBodyBytes) {
    for (Route& route : m_routes) {
        if (route.method == method && route.pattern == pattern) {
            route.admit = std::move(admit);
            if (maxBodyBytes > 0)
                route.maxBodyBytes = maxBodyBytes;
            return;
        }
    }
    Q_ASSERT_X(false, "Router::admitWith", "no such route");
}

namespace {
bool sameMethod(const QString& route, const QString& method) {
    return route == method || (method == QLatin1String("HEAD") && route == QLatin1String("GET"));
}
} // namespace

Router::Match Router::match(const QString& method, const QString& path) const {
    const QStringList segments = split(path);
    Match result;
    for (const Route& route : m_routes) {
        QHash<QString, QString> params;
        if (!matches(route.segments, segments, &params))
            continue;
        if (!sameMethod(route.method, method)) {
            result.kind = Match::WrongMethod;
            continue;
        }
        result.kind = Match::Found;
        if (route.streaming)
            result.streaming = &route.streaming;
        else
            result.handler = &route.handler;
        result.maxBodyBytes = route.maxBodyBytes;
        if (route.admit)
            result.admit = &route.admit;
        result.pattern = route.pattern;
        result.redactParams = route.redactParams;
        result.params = std::move(params);
        return result;
    }
    return result;
}

QString Router::loggablePath(const QString& method, const QString& path) const {
    return loggablePath(match(method, path), path);
}

QString Router::loggablePath(const Match& match, const QString& path) {
    return match.kind == Match::Found && match.redactParams ? match.pattern : path;
}

std::optional<ApiResponse> Router::Match::refusal() const {
    if (kind == WrongMethod)
        return ApiResponse::failure(405, QStringLiteral("Method not allowed"));
    if (kind == NotFound)
        return ApiResponse::failure(404, QStringLiteral("Not found"));
    return std::nullopt;
}

std::optional<ApiResponse> Router::admit(const Match& match, const ApiRequest& request) const {
    if (match.admit)
        return (*match.admit)(request);
    return std::nullopt;
}

ApiResponse Router::handle(const Match& match, const ApiRequest& request) const {
    if (match.streaming) {
        std::unique_ptr<BodyReader> reader;
        ApiResponse refusal = (*match.streaming)(request, &reader);
        if (!reader)
            return refusal;
        const bool complete =
            request.body.isEmpty() || reader->write(request.body.constData(), size_t(request.body.size()));
        return reader->finish(complete);
    }
    return (*match.handler)(request);
}

ApiResponse Router::dispatch(ApiRequest request) const {
    Match m = match(request.method, request.path);
    if (std::optional<ApiResponse> refused = m.refusal())
        return std::move(*refused);
    request.params = std::move(m.params);
    if (std::optional<ApiResponse> refused = admit(m, request))
        return std::move(*refused);
    return handle(m, request);
}
