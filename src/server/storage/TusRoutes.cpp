#include "server/storage/TusRoutes.h"

#include "server/Metrics.h"
#include "server/Router.h"
#include "server/storage/StoragePath.h"
#include "server/storage/TusUploads.h"

#include <QDateTime>
#include <QLocale>

#include <cerrno>
#include <unistd.h>

namespace {

const QByteArray kVersion = "1.0.0";

ApiResponse answer(int status) {
    ApiResponse r;
    r.status = status;
    r.headers.emplaceBack(QByteArray("Tus-Resumable"), kVersion);
    return r;
}

ApiResponse refuse(int status, const QString& message) {
    ApiResponse r = ApiResponse::failure(status, message);
    r.headers.emplaceBack(QByteArray("Tus-Resumable"), kVersion);
    return r;
}

// A non-negative decimal header value.
std::optional<uint64_t> number(const QString& text) {
    bool ok = false;
    const uint64_t value = text.toULongLong(&ok);
    if (!ok || text.isEmpty() || text.size() > 20 ||
        std::any_of(text.begin(), text.end(), [](QChar c) { return !c.isDigit(); }))
        return std::nullopt;
    return value;
}

QByteArray httpDate(std::chrono::system_clock::time_point t) {
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count(), Qt::UTC);
    return QLocale::c().toString(when, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
}

// The "filename" of Upload-Metadata ("key base64,key base64,key"): the storage path.
std::optional<std::string> filename(const QString& metadata) {
    for (const QString& pair : metadata.split(QLatin1Char(','))) {
        const QStringList parts = pair.trimmed().split(QLatin1Char(' '));
        if (parts.size() != 2 || parts[0] != QLatin1String("filename"))
            continue;
        const auto decoded =
            QByteArray::fromBase64Encoding(parts[1].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        return (*decoded).toStdString();
    }
    return std::nullopt;
}

// What every tus request but OPTIONS goes through first.
std::optional<ApiResponse> refusal(const ApiRequest& request, const TusUploads* uploads,
                                   const std::string& token) {
    if (!uploads)
        return refuse(501, QStringLiteral("Resumable uploads need the files on disk (--storage file:); this "
                                          "server keeps them in a bucket. Use PUT /storage/files."));
    if (std::optional<ApiResponse> r = storageUnauthorized(request, token)) {
        r->headers.emplaceBack(QByteArray("Tus-Resumable"), kVersion);
        return r;
    }
    if (request.header(QStringLiteral("tus-resumable")) != QLatin1String(kVersion)) {
        ApiResponse r = refuse(412, QStringLiteral("This server speaks tus 1.0.0."));
        r.headers.emplaceBack(QByteArray("Tus-Version"), kVersion);
        return r;
    }
    return std::nullopt;
}

// The refusal of an upload that is not there.
ApiResponse missing(TusUploads::Found found) {
    return found == TusUploads::Found::Expired
               ? refuse(410, QStringLiteral("The upload expired; start it again."))
               : refuse(404, QStringLiteral("No such upload."));
}

// Upload-Expires: when the upload goes unless it moves on; by default a day from now.
ApiResponse progress(int status, uint64_t offset, const TusUploads& uploads,
                     std::optional<std::chrono::system_clock::time_point> expires = {}) {
    ApiResponse r = answer(status);
    r.headers.emplaceBack(QByteArray("Upload-Offset"), QByteArray::number(qulonglong(offset)));
    r.headers.emplaceBack(QByteArray("Upload-Expires"),
                          httpDate(expires.value_or(uploads.now() + uploads.expiry())));
    return r;
}

// Writes a PATCH body at the end of the upload's part as it arrives: a connection cut in the
// middle keeps every byte that reached the file, and the client goes on from there.
class PatchReader : public BodyReader {
public:
    PatchReader(TusUploads& uploads, std::string id, int fd, uint64_t offset, uint64_t length,
                Metrics* metrics)
        : m_uploads(uploads), m_id(std::move(id)), m_fd(fd), m_offset(offset), m_length(length),
          m_metrics(metrics) {}
    ~PatchReader() override {
        if (m_fd >= 0)
            m_uploads.release(m_id, m_fd, m_wrote, false, nullptr);
    }

    bool write(const char* data, size_t length) override {
        if (m_offset + length > m_length) {
            m_tooLong = true;
            return false;
        }
        while (length > 0) {
            const ssize_t n = ::write(m_fd, data, length);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_failed = true;
                return false;
            }
            m_wrote = true;
            m_offset += uint64_t(n);
            data += n;
            length -= size_t(n);
        }
        return true;
    }
    int spliceTarget(uint64_t remaining) override { return m_offset + remaining <= m_length ? m_fd : -1; }
    bool spliced(size_t length, bool written) override {
        m_offset += length;
        m_wrote = m_wrote || length > 0;
        m_failed = m_failed || !written;
        return written;
    }

    ApiResponse finish(bool complete) override {
        const bool last = m_offset == m_length && !m_failed;
        std::string error;
        const bool stored = m_uploads.release(m_id, std::exchange(m_fd, -1), m_wrote, last, &error);
        if (m_tooLong)
            return refuse(413, QStringLiteral("The bytes go past the upload's length."));
        if (m_failed || !stored)
            return refuse(507,
                          QStringLiteral("The file could not be stored. ") + QString::fromStdString(error));
        if (!complete)
            return refuse(400, QStringLiteral("The request ended early."));
        if (last && m_metrics)
            m_metrics->countUpload(m_length);
        return progress(204, m_offset, m_uploads);
    }

private:
    TusUploads& m_uploads;
    std::string m_id;
    int m_fd;
    uint64_t m_offset;
    uint64_t m_length;
    Metrics* m_metrics;
    bool m_wrote = false;
    bool m_tooLong = false;
    bool m_failed = false;
};

ApiResponse create(TusUploads& uploads, const ApiRequest& request, uint64_t maxUpload,
                   const std::string& base) {
    const std::optional<uint64_t> length = number(request.header(QStringLiteral("upload-length")));
    if (!length)
        return refuse(400, QStringLiteral("Upload-Length is required (deferred lengths are not supported)."));
    if (*length > maxUpload)
        return refuse(413, QStringLiteral("The file is larger than this server accepts."));
    const std::optional<std::string> path = filename(request.header(QStringLiteral("upload-metadata")));
    std::string error;
    if (!path)
        return refuse(400,
                      QStringLiteral("Upload-Metadata needs the filename: the storage path, in base64."));
    if (!storagePathComponents(*path, &error))
        return refuse(400, QString::fromStdString(error));
    const std::optional<std::string> id = uploads.create(*length, *path, &error);
    if (!id)
        return refuse(507, QString::fromStdString(error));
    ApiResponse r = answer(201);
    r.headers.emplaceBack(QByteArray("Location"), QByteArray::fromStdString(base + "storage/tus/" + *id));
    r.headers.emplaceBack(QByteArray("Upload-Expires"), httpDate(uploads.now() + uploads.expiry()));
    return r;
}

ApiResponse patch(TusUploads& uploads, const ApiRequest& request, std::unique_ptr<BodyReader>* reader,
                  Metrics* metrics) {
    if (request.header(QStringLiteral("content-type")).section(QLatin1Char(';'), 0, 0).trimmed().toLower() !=
        QLatin1String("application/offset+octet-stream"))
        return refuse(415, QStringLiteral("Send the bytes as application/offset+octet-stream."));
    const std::optional<uint64_t> offset = number(request.header(QStringLiteral("upload-offset")));
    if (!offset)
        return refuse(400, QStringLiteral("Upload-Offset is required."));
    const std::string id = request.params.value(QStringLiteral("id")).toStdString();
    TusUploads::State state;
    if (const TusUploads::Found found = uploads.find(id, &state); found != TusUploads::Found::Yes)
        return missing(found);
    const std::optional<uint64_t> length = number(request.header(QStringLiteral("content-length")));
    if (*offset != state.offset)
        return refuse(409, QStringLiteral("The upload is at %1.").arg(state.offset));
    if (length && *offset + *length > state.length)
        return refuse(413, QStringLiteral("The bytes go past the upload's length."));
    if (state.offset == state.length)
        return progress(204, state.offset, uploads); // already complete
    bool busy = false;
    const int fd = uploads.claim(id, &busy);
    if (fd < 0)
        return busy ? refuse(423, QStringLiteral("Another request is writing to this upload."))
                    : refuse(404, QStringLiteral("No such upload."));
    // Another PATCH may have ended between the look and the claim.
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0 || uint64_t(at) != *offset) {
        uploads.release(id, fd, false, false, nullptr);
        return refuse(409, QStringLiteral("The upload is at %1.").arg(qulonglong(at)));
    }
    *reader = std::make_unique<PatchReader>(uploads, id, fd, *offset, state.length, metrics);
    return {};
}

} // namespace

void registerTusRoutes(Router& router, TusUploads* uploads, const std::string& token, uint64_t maxUpload,
                       PublicUrlSource publicUrl, Metrics* metrics) {
    const QString collection = QStringLiteral("/storage/tus");
    const QString one = QStringLiteral("/storage/tus/:id");
    const auto options = [uploads, maxUpload](const ApiRequest&) {
        if (!uploads)
            return refusal(ApiRequest{}, uploads, {}).value();
        ApiResponse r;
        r.status = 204;
        r.headers.emplaceBack(QByteArray("Tus-Version"), kVersion);
        r.headers.emplaceBack(QByteArray("Tus-Extension"), QByteArray("creation,termination,expiration"));
        r.headers.emplaceBack(QByteArray("Tus-Max-Size"), QByteArray::number(qulonglong(maxUpload)));
        return r;
    };
    router.add(QStringLiteral("OPTIONS"), collection, options);
    router.add(QStringLiteral("OPTIONS"), one, options);
    router.add(QStringLiteral("POST"), collection,
               [uploads, token, maxUpload, publicUrl](const ApiRequest& request) {
                   if (std::optional<ApiResponse> r = refusal(request, uploads, token))
                       return *r;
                   return create(*uploads, request, maxUpload, publicUrl());
               });
    router.admitWith(QStringLiteral("POST"), collection, [uploads, token](const ApiRequest& request) {
        return refusal(request, uploads, token);
    });
    router.add(QStringLiteral("HEAD"), one, [uploads, token](const ApiRequest& request) {
        if (std::optional<ApiResponse> r = refusal(request, uploads, token))
            return *r;
        TusUploads::State state;
        const TusUploads::Found found =
            uploads->find(request.params.value(QStringLiteral("id")).toStdString(), &state);
        if (found != TusUploads::Found::Yes)
            return missing(found);
        ApiResponse r = progress(200, state.offset, *uploads, state.expires);
        r.headers.emplaceBack(QByteArray("Upload-Length"), QByteArray::number(qulonglong(state.length)));
        r.headers.emplaceBack(QByteArray("Cache-Control"), QByteArray("no-store"));
        return r;
    });
    router.addStreaming(
        QStringLiteral("PATCH"), one, maxUpload,
        [uploads, token, metrics](const ApiRequest& request, std::unique_ptr<BodyReader>* reader) {
            if (std::optional<ApiResponse> r = refusal(request, uploads, token))
                return *r;
            return patch(*uploads, request, reader, metrics);
        });
    router.add(QStringLiteral("DELETE"), one, [uploads, token](const ApiRequest& request) {
        if (std::optional<ApiResponse> r = refusal(request, uploads, token))
            return *r;
        const std::string id = request.params.value(QStringLiteral("id")).toStdString();
        TusUploads::State state;
        if (const TusUploads::Found found = uploads->find(id, &state); found != TusUploads::Found::Yes)
            return missing(found);
        bool busy = false;
        if (!uploads->remove(id, &busy))
            return busy ? refuse(423, QStringLiteral("Another request is writing to this upload."))
                        : refuse(404, QStringLiteral("No such upload."));
        return answer(204);
    });
}
