#include "server/storage/s3/S3Upload.h"

#include "core/Log.h"
#include "server/storage/s3/S3Client.h"
#include "server/storage/s3/S3Workers.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <vector>

struct S3Upload::State {
    const S3Client& client;
    S3Workers& workers;
    std::string key;
    std::string contentType;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<PartBuffer> parts; // full parts waiting for the worker
    PartBuffer last;              // the final piece, handed over by commit
    enum Phase { Open, Committing, Aborting } phase = Open;
    bool failed = false;
    std::function<void()> resume;
    std::function<void(bool)> done;

    // Worker side only.
    std::string uploadId;
    std::vector<std::string> etags;

    State(const S3Client& c, S3Workers& w, std::string k, std::string type)
        : client(c), workers(w), key(std::move(k)), contentType(std::move(type)) {}

    S3Client::Request request(const char* method, std::string query = {}) const {
        S3Client::Request r;
        r.method = method;
        r.key = key;
        r.query = std::move(query);
        r.cancelled = [this] { return workers.closing(); };
        return r;
    }

    void fail(const char* step, const S3Client::Response& response) {
        logLine(QStringLiteral("storage: %1 of %2 failed: %3")
                    .arg(QString::fromLatin1(step), QString::fromStdString(key),
                         QString::fromStdString(response.describe())));
    }

    bool createMultipart() {
        S3Client::Request r = request("POST", "uploads=");
        r.headers.push_back("Content-Type: " + contentType);
        const S3Client::Response response = client.perform(r);
        uploadId = S3Client::xmlValue(response.body, "UploadId");
        if (!response.ok() || uploadId.empty()) {
            fail("starting the upload", response);
            uploadId.clear();
            return false;
        }
        return true;
    }

    bool sendPart(const PartBuffer& part) {
        if (uploadId.empty() && !createMultipart())
            return false;
        const std::string number = std::to_string(etags.size() + 1);
        S3Client::Request r =
            request("PUT", "partNumber=" + number + "&uploadId=" + S3Client::encode(uploadId, false));
        r.body = part.data();
        r.bodySize = part.size();
        const S3Client::Response response = client.perform(r);
        const auto etag = response.headers.find("etag");
        if (!response.ok() || etag == response.headers.end()) {
            fail("sending a part", response);
            return false;
        }
        etags.push_back(etag->second);
        return true;
    }

    bool putWhole(const PartBuffer& body) {
        S3Client::Request r = request("PUT");
        r.body = body.data();
        r.bodySize = body.size();
        r.headers.push_back("Content-Type: " + contentType);
        const S3Client::Response response = client.perform(r);
        if (!response.ok())
            fail("storing", response);
        return response.ok();
    }

    bool completeMultipart() {
        std::string xml = "<CompleteMultipartUpload>";
        for (size_t i = 0; i < etags.size(); ++i)
            xml += "<Part><PartNumber>" + std::to_string(i + 1) + "</PartNumber><ETag>" + etags[i] +
                   "</ETag></Part>";
        xml += "</CompleteMultipartUpload>";
        S3Client::Request r = request("POST", "uploadId=" + S3Client::encode(uploadId, false));
        r.body = xml.data();
        r.bodySize = xml.size();
        const S3Client::Response response = client.perform(r);
        // S3 may answer 200 and still report an error in the body.
        if (!response.ok() || response.body.find("<Error>") != std::string::npos) {
            fail("completing the upload", response);
            return false;
        }
        return true;
    }

    void abortMultipart() {
        if (uploadId.empty())
            return;
        S3Client::Request r = request("DELETE", "uploadId=" + S3Client::encode(uploadId, false));
        r.cancelled = {}; // sent even while the server stops: parts left behind cost storage
        r.timeoutSeconds = 30;
        const S3Client::Response response = client.perform(r);
        if (!response.ok() && response.status != 404)
            fail("aborting the upload", response);
        uploadId.clear();
    }

    // The worker: sends parts as they fill, then completes or aborts.
    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait_for(lock, std::chrono::milliseconds(200), [this] {
                return (!parts.empty() && !failed) || phase != Open || workers.closing();
            });
            if (workers.closing() && phase != Committing)
                phase = Aborting;
            if (!parts.empty() && !failed && phase != Aborting) {
                const PartBuffer part = std::move(parts.front());
                parts.pop_front();
                std::function<void()> go = std::move(resume);
                resume = nullptr;
                lock.unlock();
                if (go)
                    go(); // the next part fills while this one is sent
                const bool sent = sendPart(part);
                lock.lock();
                if (!sent) {
                    failed = true;
                    if (std::function<void()> stopped = std::exchange(resume, nullptr)) {
                        lock.unlock();
                        stopped(); // the reader learns of the failure at its next piece
                        lock.lock();
                    }
                }
                continue;
            }
            if (phase == Committing && (parts.empty() || failed)) {
                const PartBuffer body = std::move(last);
                const bool ok = !failed && !workers.closing() && finish(lock, body);
                std::function<void(bool)> report = std::exchange(done, nullptr);
                lock.unlock();
                if (!ok)
                    abortMultipart();
                if (report)
                    report(ok);
                return;
            }
            if (phase == Aborting) {
                lock.unlock();
                abortMultipart();
                return;
            }
        }
    }

    // Sends the final piece and makes the file visible (called with the lock held; returns with it held).
    bool finish(std::unique_lock<std::mutex>& lock, const PartBuffer& body) {
        lock.unlock();
        bool ok;
        if (uploadId.empty() && etags.empty())
            ok = putWhole(body);
        else
            ok = (body.size() == 0 || sendPart(body)) && completeMultipart();
        lock.lock();
        return ok;
    }
};

S3Upload::S3Upload(const S3Client& client, S3Workers& workers, std::string key, std::string contentType,
                   size_t partSize)
    : m_state(std::make_shared<State>(client, workers, std::move(key), std::move(contentType))),
      m_partSize(partSize) {
    workers.start([state = m_state] { state->run(); });
}

S3Upload::~S3Upload() {
    abort();
}

bool S3Upload::append(const char* data, size_t length) {
    if (m_ended)
        return false;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->failed)
            return false;
    }
    m_received += length;
    while (length > 0) {
        if (!m_current.isAllocated()) {
            m_current = PartBuffer(m_partSize);
            if (!m_current.isAllocated())
                return false;
        }
        const size_t taken = m_current.append(data, length);
        data += taken;
        length -= taken;
        if (m_current.room() == 0) {
            std::lock_guard lock(m_state->mutex);
            m_state->parts.push_back(std::move(m_current));
            m_current = PartBuffer();
            m_state->wake.notify_all();
        }
    }
    return true;
}

bool S3Upload::ready(std::function<void()> resume) {
    std::lock_guard lock(m_state->mutex);
    // A full part still waits for the worker: take no more until it has picked it up.
    if (m_state->failed || m_state->parts.empty())
        return true;
    m_state->resume = std::move(resume);
    return false;
}

void S3Upload::commitAsync(std::function<void(bool)> done) {
    if (m_ended)
        return done(false);
    m_ended = true;
    std::lock_guard lock(m_state->mutex);
    m_state->last = std::move(m_current);
    m_state->done = std::move(done);
    m_state->phase = State::Committing;
    m_state->wake.notify_all();
}

bool S3Upload::commit() {
    std::promise<bool> result;
    std::future<bool> future = result.get_future();
    commitAsync([&result](bool ok) { result.set_value(ok); });
    return future.get();
}

void S3Upload::abort() {
    if (m_ended)
        return;
    m_ended = true;
    std::lock_guard lock(m_state->mutex);
    m_state->phase = State::Aborting;
    m_state->resume = nullptr;
    m_state->wake.notify_all();
}
