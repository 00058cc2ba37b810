#include "server/storage/s3/S3Store.h"

#include "core/Log.h"
#include "server/ApiMessage.h"
#include "server/storage/StoragePath.h"
#include "server/storage/s3/S3Download.h"
#include "server/storage/s3/S3Upload.h"
#include "server/storage/s3/S3Xml.h"

#include <QString>

#include <algorithm>

namespace {

std::nullopt_t fail(std::string* error, const char* message) {
    if (error)
        *error = message;
    return std::nullopt;
}

std::string join(const std::vector<std::string>& parts, size_t from = 0) {
    std::string out;
    for (size_t i = from; i < parts.size(); ++i)
        out += (out.empty() ? "" : "/") + parts[i];
    return out;
}

class EmptyBody : public BodyWriter {
public:
    uint64_t size() const override { return 0; }
    int64_t read(char*, size_t) override { return 0; }
};

const char* kNoAnswer = "The storage did not answer; try again.";

} // namespace

S3Store::S3Store(S3Config config, uint64_t maxUpload) : m_client(std::move(config)) {
    const uint64_t needed = (maxUpload + 9999) / 10000;
    const uint64_t mib = uint64_t(1) << 20;
    m_partSize = size_t(std::max<uint64_t>(kMinimumPartSize, (needed + mib - 1) / mib * mib));
}

S3Store::~S3Store() {
    close(std::chrono::milliseconds(0));
}

void S3Store::close(std::chrono::milliseconds grace) {
    m_workers.close(grace);
}

std::string S3Store::describe() const {
    const S3Config& c = m_client.config();
    return "s3://" + c.bucket + '/' + c.prefix + " at " + c.endpoint + (c.pathStyle ? " (path style)" : "");
}

bool S3Store::isReachable() const {
    S3Client::Request request;
    request.method = "HEAD";
    request.timeoutSeconds = 3;
    return m_client.perform(request).ok();
}

std::optional<std::vector<S3Store::Entry>> S3Store::list(const std::string& folder,
                                                         const std::string& start) const {
    const std::string base = m_client.config().prefix + folder;
    std::vector<Entry> entries;
    std::string token;
    do {
        S3Client::Request request;
        request.query =
            (token.empty() ? std::string() : "continuation-token=" + S3Client::encode(token, false) + '&') +
            "delimiter=%2F&list-type=2&prefix=" + S3Client::encode(base + start, false);
        request.timeoutSeconds = 30;
        const S3Client::Response response = m_client.perform(request);
        if (!response.ok()) {
            logLine(QStringLiteral("storage: listing %1 failed: %2")
                        .arg(QString::fromStdString(base), QString::fromStdString(response.describe())));
            return std::nullopt;
        }
        const S3Xml::Listing page = S3Xml::parseListing(response.body);
        if (!page.valid) {
            logLine(QStringLiteral("storage: listing %1 gave no readable answer")
                        .arg(QString::fromStdString(base)));
            return std::nullopt;
        }
        for (const std::string& key : page.keys)
            if (key.size() > base.size() && key.compare(0, base.size(), base) == 0)
                entries.push_back({key.substr(base.size()), Kind::File});
        for (const std::string& prefix : page.prefixes)
            if (prefix.size() > base.size() + 1 && prefix.compare(0, base.size(), base) == 0)
                entries.push_back(
                    {prefix.substr(base.size(), prefix.size() - base.size() - 1), Kind::Folder});
        token = page.truncated ? page.nextToken : std::string();
    } while (!token.empty());
    return entries;
}

S3Store::Resolved S3Store::resolve(const std::vector<std::string>& parts) const {
    Resolved r;
    std::string folder;
    for (size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        const auto fits = [last](const Entry& e) { return last || e.kind == Kind::Folder; };
        // Exact names first: they need only the entries that start with the name.
        std::optional<std::vector<Entry>> entries = list(folder, parts[i]);
        if (!entries) {
            r.failed = true;
            return r;
        }
        const Entry* chosen = nullptr;
        for (const Entry& e : *entries)
            if (e.name == parts[i] && fits(e) && (!chosen || e.kind == Kind::File))
                chosen = &e;
        if (!chosen) {
            entries = list(folder, {});
            if (!entries) {
                r.failed = true;
                return r;
            }
            for (const Entry& e : *entries)
                if (fits(e) && sameNameIgnoringCase(e.name, parts[i]) && (!chosen || e.name < chosen->name))
                    chosen = &e;
        }
        if (!chosen) {
            r.path = folder + join(parts, i);
            return r;
        }
        folder += chosen->name + '/';
        if (last) {
            r.kind = chosen->kind;
            r.path = folder.substr(0, folder.size() - 1);
        }
    }
    return r;
}

std::optional<ObjectStore::FileInfo> S3Store::head(const std::string& relative, bool* failed) const {
    S3Client::Request request;
    request.method = "HEAD";
    request.key = m_client.config().prefix + relative;
    request.timeoutSeconds = 30;
    const S3Client::Response response = m_client.perform(request);
    if (failed)
        *failed = !response.ok() && response.status != 404 && response.status != 403;
    const auto length = response.headers.find("content-length");
    if (!response.ok() || length == response.headers.end())
        return std::nullopt;
    FileInfo info;
    info.path = relative;
    info.size = std::stoull(length->second);
    const auto etag = response.headers.find("etag");
    info.etag = etag == response.headers.end() ? std::string() : etag->second;
    info.contentType = contentTypeFor(relative);
    return info;
}

std::optional<bool> S3Store::createFolder(const std::string& relative, std::string* error) const {
    const std::optional<std::vector<std::string>> parts = storagePathComponents(relative, error);
    if (!parts)
        return std::nullopt;
    const Resolved r = resolve(*parts);
    if (r.failed)
        return fail(error, kNoAnswer);
    if (r.kind == Kind::Folder)
        return true;
    if (r.kind == Kind::File)
        return fail(error, "A file with that name exists.");
    S3Client::Request marker;
    marker.method = "PUT";
    marker.key = m_client.config().prefix + r.path + '/';
    marker.headers.push_back("Content-Type: application/x-directory");
    marker.timeoutSeconds = 30;
    const S3Client::Response response = m_client.perform(marker);
    if (!response.ok()) {
        logLine(QStringLiteral("storage: creating %1 failed: %2")
                    .arg(QString::fromStdString(r.path), QString::fromStdString(response.describe())));
        return fail(error, "The folder could not be created.");
    }
    return false;
}

std::unique_ptr<ObjectStore::Upload> S3Store::beginUpload(const std::string& relative,
                                                          std::string* error) const {
    const std::optional<std::vector<std::string>> parts = storagePathComponents(relative, error);
    if (!parts)
        return nullptr;
    const Resolved r = resolve(*parts);
    if (r.failed) {
        fail(error, kNoAnswer);
        return nullptr;
    }
    if (r.kind == Kind::Folder) {
        fail(error, "A folder with that name exists.");
        return nullptr;
    }
    return std::make_unique<S3Upload>(m_client, m_workers, m_client.config().prefix + r.path,
                                      contentTypeFor(r.path), m_partSize);
}

std::optional<ObjectStore::FileInfo> S3Store::file(const std::string& relative) const {
    const std::optional<std::vector<std::string>> parts = storagePathComponents(relative);
    if (!parts)
        return std::nullopt;
    bool failed = false;
    if (std::optional<FileInfo> exact = head(join(*parts), &failed))
        return exact;
    if (failed)
        return std::nullopt;
    const Resolved r = resolve(*parts);
    if (r.failed || r.kind != Kind::File)
        return std::nullopt;
    return head(r.path);
}

std::shared_ptr<BodyWriter> S3Store::open(const FileInfo& info, uint64_t offset, uint64_t length) const {
    if (length == 0)
        return std::make_shared<EmptyBody>();
    return std::make_shared<S3Download>(m_client, m_workers, m_client.config().prefix + info.path, info.etag,
                                        offset, length);
}
