#include "server/storage/StorageRoutes.h"

#include "server/Metrics.h"
#include "server/Router.h"
#include "server/storage/ObjectStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace {

ApiResponse refuse(int status, const std::string& message) {
    return ApiResponse::failure(status, QString::fromStdString(message));
}

bool constantTimeEquals(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

// The 401 answer, or nothing when the bearer token is right.
std::optional<ApiResponse> unauthorized(const ApiRequest& request, const StorageOptions& options) {
    const std::string header = request.header(QStringLiteral("authorization")).toStdString();
    const std::string prefix = "Bearer ";
    if (!options.token.empty() && header.compare(0, prefix.size(), prefix) == 0 &&
        constantTimeEquals(header.substr(prefix.size()), options.token))
        return std::nullopt;
    ApiResponse r = refuse(401, "A valid storage token is required.");
    r.headers.emplaceBack(QByteArray("WWW-Authenticate"), QByteArray("Bearer"));
    return r;
}

// The "path" text of a small JSON body, or nothing.
std::optional<std::string> pathFromBody(const QByteArray& body) {
    if (body.size() > 64 * 1024)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    const QJsonValue path = doc.object().value(QStringLiteral("path"));
    if (error.error != QJsonParseError::NoError || !doc.isObject() || !path.isString())
        return std::nullopt;
    return path.toString().toStdString();
}

// Streams a PUT body into the store; the file appears only when the body arrived in full.
class UploadReader : public BodyReader {
public:
    UploadReader(std::unique_ptr<ObjectStore::Upload> upload, std::string path, uint64_t maxUpload,
                 Metrics* metrics)
        : m_upload(std::move(upload)), m_path(std::move(path)), m_maxUpload(maxUpload), m_metrics(metrics) {}

    bool write(const char* data, size_t length) override {
        if (m_upload->received() + length > m_maxUpload) {
            m_tooLarge = true;
            return false;
        }
        if (!m_upload->append(data, length)) {
            m_writeFailed = true;
            return false;
        }
        return true;
    }

    bool ready(std::function<void()> resume) override { return m_upload->ready(std::move(resume)); }

    int spliceTarget(uint64_t remaining) override {
        if (m_upload->received() + remaining > m_maxUpload)
            return -1; // write() refuses it on the usual path
        return m_upload->spliceTarget();
    }

    bool spliced(size_t length, bool written) override {
        if (!written) {
            m_writeFailed = true;
            return false;
        }
        m_upload->spliced(length);
        return true;
    }

    ApiResponse finish(bool complete) override {
        if (auto refusal = refusalBeforeCommit(complete))
            return *refusal;
        return answer(m_upload->commit());
    }

    void finishAsync(bool complete, std::function<void(ApiResponse)> done) override {
        if (auto refusal = refusalBeforeCommit(complete))
            return done(*refusal);
        m_upload->commitAsync([this, done = std::move(done)](bool stored) { done(answer(stored)); });
    }

private:
    std::optional<ApiResponse> refusalBeforeCommit(bool complete) const {
        if (m_tooLarge)
            return refuse(413, "The file is larger than this server accepts.");
        if (m_writeFailed)
            return refuse(507, "The file could not be stored.");
        if (!complete)
            return refuse(400, "The upload ended early.");
        return std::nullopt;
    }

    ApiResponse answer(bool stored) const {
        if (!stored)
            return refuse(507, "The file could not be stored.");
        if (m_metrics)
            m_metrics->countUpload(m_upload->received());
        return ApiResponse::success(201, QJsonObject{{QStringLiteral("path"), QString::fromStdString(m_path)},
                                                     {QStringLiteral("size"), double(m_upload->received())}});
    }

    std::unique_ptr<ObjectStore::Upload> m_upload; // dropped unfinished: the partial file goes too
    std::string m_path;
    uint64_t m_maxUpload;
    Metrics* m_metrics;
    bool m_tooLarge = false;
    bool m_writeFailed = false;
};

// HEAD answers: the length of the body a GET would send, without fetching it.
class SizeOnlyBody : public BodyWriter {
public:
    explicit SizeOnlyBody(uint64_t size) : m_size(size) {}
    uint64_t size() const override { return m_size; }
    int64_t read(char*, size_t) override { return -1; }

private:
    uint64_t m_size;
};

struct ByteRange {
    uint64_t first = 0;
    uint64_t last = 0; // inclusive
};

// One "bytes=" range of a file of the given size: clamped to the file, nothing when it is not
// satisfiable; *ignored when the header is not a single range this server serves (the whole
// file is sent then, as a server without range support would).
std::optional<ByteRange> parseRange(const QString& header, uint64_t size, bool* ignored) {
    static const QRegularExpression shape(QStringLiteral("^bytes=(\\d*)-(\\d*)$"));
    *ignored = false;
    const QRegularExpressionMatch m = shape.match(header.trimmed());
    if (!m.hasMatch() || (m.captured(1).isEmpty() && m.captured(2).isEmpty())) {
        *ignored = true;
        return std::nullopt;
    }
    bool ok = true;
    if (m.captured(1).isEmpty()) { // the last N bytes
        const uint64_t suffix = m.captured(2).toULongLong(&ok);
        if (!ok || suffix == 0 || size == 0)
            return std::nullopt;
        return ByteRange{size - std::min(suffix, size), size - 1};
    }
    const uint64_t first = m.captured(1).toULongLong(&ok);
    if (!ok || first >= size)
        return std::nullopt;
    uint64_t last = size - 1;
    if (!m.captured(2).isEmpty()) {
        const uint64_t asked = m.captured(2).toULongLong(&ok);
        if (!ok)
            last = size - 1; // beyond 64 bits: to the end
        else if (asked < first) {
            *ignored = true;
            return std::nullopt;
        } else
            last = std::min(asked, size - 1);
    }
    return ByteRange{first, last};
}

ApiResponse download(const ObjectStore& store, const ApiRequest& request) {
    ApiResponse r;
    r.contentType = "text/plain";
    r.status = 404;
    r.body = "Not found\n";
    const std::optional<ObjectStore::FileInfo> info =
        store.file(request.params.value(QStringLiteral("path")).toStdString());
    if (!info)
        return r;
    r.headers.emplaceBack(QByteArray("ETag"), QByteArray::fromStdString(info->etag));
    r.headers.emplaceBack(QByteArray("Accept-Ranges"), QByteArray("bytes"));
    r.headers.emplaceBack(QByteArray("Cache-Control"), QByteArray("no-cache"));
    if (request.header(QStringLiteral("if-none-match")) == QString::fromStdString(info->etag)) {
        r.status = 304;
        r.body.clear();
        return r;
    }
    uint64_t first = 0;
    uint64_t length = info->size;
    bool partial = false;
    const QString rangeHeader = request.header(QStringLiteral("range"));
    if (!rangeHeader.isEmpty()) {
        bool ignored = false;
        const std::optional<ByteRange> range = parseRange(rangeHeader, info->size, &ignored);
        if (!range && !ignored) {
            r.status = 416;
            r.body = "Range not satisfiable\n";
            r.headers.emplaceBack(QByteArray("Content-Range"),
                                  "bytes */" + QByteArray::number(qulonglong(info->size)));
            return r;
        }
        if (range) {
            partial = true;
            first = range->first;
            length = range->last - range->first + 1;
            r.headers.emplaceBack(QByteArray("Content-Range"), QStringLiteral("bytes %1-%2/%3")
                                                                   .arg(range->first)
                                                                   .arg(range->last)
                                                                   .arg(info->size)
                                                                   .toLatin1());
        }
    }
    std::shared_ptr<BodyWriter> body = request.method == QLatin1String("HEAD")
                                           ? std::make_shared<SizeOnlyBody>(length)
                                           : store.open(*info, first, length);
    if (!body)
        return r;
    r.status = partial ? 206 : 200;
    r.contentType = QByteArray::fromStdString(info->contentType);
    r.body.clear();
    r.stream = std::move(body);
    return r;
}

} // namespace

std::optional<ApiResponse> storageUnauthorized(const ApiRequest& request, const std::string& token) {
    StorageOptions options;
    options.token = token;
    return unauthorized(request, options);
}

std::string encodePathForUrl(const std::string& path) {
    const QByteArray encoded = QUrl::toPercentEncoding(QString::fromStdString(path), "/");
    return encoded.toStdString();
}

void registerStorageRoutes(Router& router, const ObjectStore& store, const StorageOptions& options,
                           PublicUrlSource publicUrl) {
    if (!publicUrl)
        publicUrl = [url = options.publicUrl] { return url; };
    const QString post = QStringLiteral("POST");
    router.add(post, QStringLiteral("/storage/folders"), [&store, options](const ApiRequest& request) {
        if (auto refusal = unauthorized(request, options))
            return *refusal;
        const std::optional<std::string> path = pathFromBody(request.body);
        if (!path)
            return refuse(400, "Send {\"path\": \"folder/path\"}.");
        std::string error;
        const std::optional<bool> existed = store.createFolder(*path, &error);
        if (!existed)
            return refuse(400, error);
        return ApiResponse::success(*existed ? 200 : 201, QJsonObject{{QStringLiteral("existed"), *existed}});
    });

    router.addStreaming(QStringLiteral("PUT"), QStringLiteral("/storage/files"), options.maxUpload,
                        [&store, options](const ApiRequest& request, std::unique_ptr<BodyReader>* reader) {
                            if (auto refusal = unauthorized(request, options))
                                return *refusal;
                            if (!request.query.contains(QStringLiteral("path")))
                                return refuse(400, "The path parameter is missing.");
                            const std::string path =
                                request.query.value(QStringLiteral("path")).toStdString();
                            std::string error;
                            std::unique_ptr<ObjectStore::Upload> upload = store.beginUpload(path, &error);
                            if (!upload)
                                return refuse(400, error);
                            *reader = std::make_unique<UploadReader>(std::move(upload), path,
                                                                     options.maxUpload, options.metrics);
                            return ApiResponse{};
                        });

    router.add(post, QStringLiteral("/storage/links"),
               [&store, options, publicUrl](const ApiRequest& request) {
                   if (auto refusal = unauthorized(request, options))
                       return *refusal;
                   const std::optional<std::string> path = pathFromBody(request.body);
                   if (!path)
                       return refuse(400, "Send {\"path\": \"file/path\"}.");
                   const std::optional<ObjectStore::FileInfo> info = store.file(*path);
                   if (!info)
                       return refuse(404, "No such file.");
                   // The stored name, which may differ in case from the one asked for.
                   const std::string url = publicUrl() + "files/" + encodePathForUrl(info->path);
                   return ApiResponse::success(
                       200, QJsonObject{{QStringLiteral("url"), QString::fromStdString(url)}});
               });

    // Checked on the header, before the body is read.
    const auto admit = [options](const ApiRequest& request) { return unauthorized(request, options); };
    router.admitWith(post, QStringLiteral("/storage/folders"), admit);
    router.admitWith(post, QStringLiteral("/storage/links"), admit);

    router.add(QStringLiteral("GET"), QStringLiteral("/storage/me"), [options](const ApiRequest& request) {
        if (auto refusal = unauthorized(request, options))
            return *refusal;
        const auto text = [](const std::string& value) { return QString::fromStdString(value); };
        return ApiResponse::success(200,
                                    QJsonObject{{QStringLiteral("id"), text(options.owner.id)},
                                                {QStringLiteral("name"), text(options.owner.name)},
                                                {QStringLiteral("email"), text(options.owner.email)},
                                                {QStringLiteral("avatar"), text(options.owner.avatarUrl)}});
    });

    router.add(QStringLiteral("GET"), QStringLiteral("/files/*path"),
               [&store](const ApiRequest& request) { return download(store, request); });
}
