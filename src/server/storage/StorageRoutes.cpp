#include "server/storage/StorageRoutes.h"

#include "server/storage/FileStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <httplib.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

void answer(httplib::Response& res, int status, bool success, const QJsonValue& response) {
    res.status = status;
    const QJsonObject body{{QStringLiteral("isSuccess"), success}, {QStringLiteral("response"), response}};
    const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);
    res.set_content(json.constData(), size_t(json.size()), "application/json");
}

void refuse(httplib::Response& res, int status, const std::string& message) {
    answer(res, status, false, QString::fromStdString(message));
}

bool constantTimeEquals(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

bool authorized(const httplib::Request& req, httplib::Response& res, const StorageOptions& options) {
    const std::string header = req.get_header_value("Authorization");
    const std::string prefix = "Bearer ";
    if (options.token.empty() || header.compare(0, prefix.size(), prefix) != 0 ||
        !constantTimeEquals(header.substr(prefix.size()), options.token)) {
        res.set_header("WWW-Authenticate", "Bearer");
        refuse(res, 401, "A valid storage token is required.");
        return false;
    }
    return true;
}

// The "path" text of a small JSON body, or nothing. Read through the content reader: the
// service's catch-all routes read bodies that way, and they would otherwise take these paths.
std::optional<std::string> pathFromBody(const httplib::ContentReader& reader) {
    std::string body;
    bool tooLarge = false;
    reader([&](const char* data, size_t length) {
        tooLarge = tooLarge || body.size() + length > 64 * 1024;
        if (!tooLarge)
            body.append(data, length);
        return true;
    });
    if (tooLarge)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(body), &error);
    const QJsonValue path = doc.object().value(QStringLiteral("path"));
    if (error.error != QJsonParseError::NoError || !doc.isObject() || !path.isString())
        return std::nullopt;
    return path.toString().toStdString();
}

} // namespace

std::string encodePathForUrl(const std::string& path) {
    const QByteArray encoded = QUrl::toPercentEncoding(QString::fromStdString(path), "/");
    return encoded.toStdString();
}

void registerStorageRoutes(httplib::Server& server, const FileStore& store, const StorageOptions& options,
                           PublicUrlSource publicUrl) {
    if (!publicUrl)
        publicUrl = [url = options.publicUrl] { return url; };
    server.Post("/storage/folders", [&store, options](const httplib::Request& req, httplib::Response& res,
                                                      const httplib::ContentReader& reader) {
        if (!authorized(req, res, options))
            return;
        const std::optional<std::string> path = pathFromBody(reader);
        if (!path)
            return refuse(res, 400, "Send {\"path\": \"folder/path\"}.");
        std::string error;
        const std::optional<bool> existed = store.createFolder(*path, &error);
        if (!existed)
            return refuse(res, 400, error);
        answer(res, *existed ? 200 : 201, true, QJsonObject{{QStringLiteral("existed"), *existed}});
    });

    server.Put("/storage/files", [&store, options](const httplib::Request& req, httplib::Response& res,
                                                   const httplib::ContentReader& reader) {
        if (!authorized(req, res, options))
            return;
        if (!req.has_param("path"))
            return refuse(res, 400, "The path parameter is missing.");
        if (req.has_header("Content-Length") &&
            std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10) > options.maxUpload) {
            // Refused before reading the body, so the connection cannot carry another request.
            res.set_header("Connection", "close");
            return refuse(res, 413, "The file is larger than this server accepts.");
        }
        std::string error;
        std::unique_ptr<FileStore::Upload> upload = store.beginUpload(req.get_param_value("path"), &error);
        if (!upload)
            return refuse(res, 400, error);
        bool tooLarge = false;
        bool writeFailed = false;
        const bool complete = reader([&](const char* data, size_t length) {
            if (upload->received() + length > options.maxUpload) {
                tooLarge = true;
                return false;
            }
            if (!upload->append(data, length)) {
                writeFailed = true;
                return false;
            }
            return true;
        });
        if (tooLarge)
            return refuse(res, 413, "The file is larger than this server accepts.");
        if (writeFailed)
            return refuse(res, 507, "The file could not be stored.");
        if (!complete)
            return refuse(res, 400, "The upload ended early.");
        const uint64_t size = upload->received();
        if (!upload->commit())
            return refuse(res, 507, "The file could not be stored.");
        answer(res, 201, true,
               QJsonObject{{QStringLiteral("path"), QString::fromStdString(req.get_param_value("path"))},
                           {QStringLiteral("size"), double(size)}});
    });

    server.Post("/storage/links", [&store, options, publicUrl](const httplib::Request& req,
                                                               httplib::Response& res,
                                                               const httplib::ContentReader& reader) {
        if (!authorized(req, res, options))
            return;
        const std::optional<std::string> path = pathFromBody(reader);
        if (!path)
            return refuse(res, 400, "Send {\"path\": \"file/path\"}.");
        const std::optional<FileStore::FileInfo> info = store.file(*path);
        if (!info)
            return refuse(res, 404, "No such file.");
        // The stored name, which may differ in case from the one asked for.
        const std::string url = publicUrl() + "files/" + encodePathForUrl(store.relativePath(info->path));
        answer(res, 200, true, QJsonObject{{QStringLiteral("url"), QString::fromStdString(url)}});
    });

    server.Get("/storage/me", [options](const httplib::Request& req, httplib::Response& res) {
        if (!authorized(req, res, options))
            return;
        const auto text = [](const std::string& value) { return QString::fromStdString(value); };
        answer(res, 200, true,
               QJsonObject{{QStringLiteral("id"), text(options.owner.id)},
                           {QStringLiteral("name"), text(options.owner.name)},
                           {QStringLiteral("email"), text(options.owner.email)},
                           {QStringLiteral("avatar"), text(options.owner.avatarUrl)}});
    });

    const auto download = [&store](const httplib::Request& req, httplib::Response& res) {
        const std::optional<FileStore::FileInfo> info = store.file(req.matches[1].str());
        if (!info) {
            res.status = 404;
            res.set_content("Not found\n", "text/plain");
            return;
        }
        res.set_header("ETag", info->etag);
        res.set_header("Accept-Ranges", "bytes");
        res.set_header("Cache-Control", "no-cache");
        if (req.get_header_value("If-None-Match") == info->etag) {
            res.status = 304;
            return;
        }
        const int fd = ::open(info->path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            res.status = 404;
            res.set_content("Not found\n", "text/plain");
            return;
        }
        auto file = std::make_shared<int>(fd);
        // Streamed from disk in pieces; httplib cuts byte ranges out of the provider.
        res.set_content_provider(
            size_t(info->size), info->contentType,
            [file](size_t offset, size_t length, httplib::DataSink& sink) {
                char buffer[256 * 1024];
                const size_t want = std::min(length, sizeof buffer);
                const ssize_t n = ::pread(*file, buffer, want, off_t(offset));
                if (n <= 0)
                    return false;
                return sink.write(buffer, size_t(n));
            },
            [file](bool) { ::close(*file); });
    };
    // httplib decodes the path before matching, so the pattern sees the stored name.
    server.Get("/files/(.+)", download);
}
