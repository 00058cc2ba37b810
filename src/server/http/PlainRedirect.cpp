#include "server/http/PlainRedirect.h"

#include "server/Router.h"

#include <QFile>
#include <QRegularExpression>

namespace {

// A token is base64url (RFC 8555, 8.3): nothing else can name a file outside the folder.
ApiResponse challenge(const QString& webroot, const QString& token) {
    static const QRegularExpression base64url(QStringLiteral("^[A-Za-z0-9_-]{1,256}$"));
    if (webroot.isEmpty() || !base64url.match(token).hasMatch())
        return ApiResponse::text(404, "Not found\n");
    QFile file(webroot + QStringLiteral("/.well-known/acme-challenge/") + token);
    // A key authorization is under 100 bytes; anything much larger is not one.
    if (!file.open(QIODevice::ReadOnly) || file.size() > 4096)
        return ApiResponse::text(404, "Not found\n");
    return ApiResponse::text(200, file.readAll());
}

} // namespace

void registerPlainRedirect(Router& router, const QString& webroot, const QString& httpsBase) {
    router.add(QStringLiteral("GET"), QStringLiteral("/.well-known/acme-challenge/*token"),
               [webroot](const ApiRequest& r) {
                   return challenge(webroot, r.params.value(QStringLiteral("token")));
               });
    const auto redirect = [base = httpsBase.toUtf8()](const ApiRequest& r) {
        ApiResponse answer = ApiResponse::text(308, "Moved to HTTPS\n");
        // The target as received (still percent-encoded), so the path and query arrive unchanged.
        const bool originForm = r.target.startsWith('/');
        answer.headers.emplaceBack(QByteArray("Location"),
                                   base + (originForm ? r.target.mid(1) : QByteArray()));
        return answer;
    };
    for (const char* method : {"GET", "POST", "PUT", "DELETE", "PATCH", "OPTIONS"})
        for (const char* pattern : {"/", "/*path"})
            router.add(QLatin1String(method), QLatin1String(pattern), redirect);
}
