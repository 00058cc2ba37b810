#include "server/storage/s3/S3Upload.h"

#include "core/Log.h"
#include "server/storage/s3/S3Client.h"
#include "server/storage/s3/S3Workers.h"
#include "server/storage/s3/S3Xml.h"

#include <QString>

#include <deque>
#include <future>
#include <mutex>
#include <vector>

// The upload's side on the workers: one step at a time sends a part, completes the upload or
// aborts it; between steps it waits for the client without a thread.
struct S3Upload::State : S3Workers::Transfer, std::enable_shared_from_this<State> {
    const S3Client& client;
    S3Workers& workers;
    std::string key;
    std::string contentType;

    std::mutex mutex;
    std::deque<PartBuffer> parts; // full parts waiting to be sent
    PartBuffer last;              // the final piece, handed over by commit
    enum Phase { Open, Committing, Aborting, Ended } phase = Open;
    bool failed = false;
    bool stepping = false; // a step is queued or running
    bool registered = false;
    std::function<void()> resume;
    std::function<void(bool)> done;

    // Steps only (one at a time).
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
        uploadId = response.ok() ? S3Xml::parse(response.body).value("UploadId") : std::string();
        if (uploadId.empty()) {
            fail("starting the upload", response);
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
            xml += "<Part><PartNumber>" + std::to_string(i + 1) + "</PartNumber><ETag>" +
                   S3Xml::escape(etags[i]) + "</ETag></Part>";
        xml += "</CompleteMultipartUpload>";
        S3Client::Request r = request("POST", "uploadId=" + S3Client::encode(uploadId, false));
        r.body = xml.data();
        r.bodySize = xml.size();
        const S3Client::Response response = client.perform(r);
        // S3 may answer 200 and still report an error in the body.
        if (!response.ok() || S3Xml::parse(response.body).root == "Error") {
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

    // Queues a step when there is something to do and none is on its way (lock held).
    void pump() {
        const bool work = phase == Committing || phase == Aborting || (!parts.empty() && !failed);
        if (stepping || phase == Ended || !work)
            return;
        if (!registered) {
            if (phase == Aborting) {
                phase = Ended; // nothing was sent yet
                return;
            }
            if (!workers.begin(shared_from_this())) {
                failed = true; // too much queued already: refused like a bucket that does not answer
                return;
            }
            registered = true;
        }
        stepping = workers.post([self = shared_from_this()] { self->step(); });
    }

    void wakeReader(std::unique_lock<std::mutex>& lock) {
        std::function<void()> go = std::exchange(resume, nullptr);
        lock.unlock();
        if (go)
            go();
        lock.lock();
    }

    // stepping stays set until a step ends, so no second one is queued meanwhile.
    void step() {
        std::unique_lock lock(mutex);
        if (workers.closing() && phase == Open)
            phase = Aborting;
        if (phase == Aborting || (phase == Committing && (failed || workers.closing())))
            return endWith(lock, false);
        if (!parts.empty() && !failed) {
            const PartBuffer part = std::move(parts.front());
            parts.pop_front();
            wakeReader(lock); // the next part fills while this one is sent
            lock.unlock();
            const bool sent = sendPart(part);
            lock.lock();
            if (!sent) {
                failed = true;
                wakeReader(lock); // the reader learns of the failure at its next piece
            }
            stepping = false;
            return pump();
        }
        if (phase == Committing) {
            const PartBuffer body = std::move(last);
            lock.unlock();
            const bool ok = (uploadId.empty() && etags.empty())
                                ? putWhole(body)
                                : (body.size() == 0 || sendPart(body)) && completeMultipart();
            lock.lock();
            return endWith(lock, ok);
        }
        stepping = false;
    }

    // The last step: the file is in (ok), or whatever was sent is aborted.
    void endWith(std::unique_lock<std::mutex>& lock, bool ok) {
        phase = Ended;
        failed = failed || !ok;
        std::function<void(bool)> report = std::exchange(done, nullptr);
        wakeReader(lock); // a reader still sending hears that the upload ended
        lock.unlock();
        if (!ok)
            abortMultipart();
        if (report)
            report(ok);
        workers.ended(this);
    }

    void stop() override {
        std::lock_guard lock(mutex);
        if (phase == Open)
            phase = Aborting;
        pump();
    }
};

S3Upload::S3Upload(const S3Client& client, S3Workers& workers, std::string key, std::string contentType,
                   size_t partSize)
    : m_state(std::make_shared<State>(client, workers, std::move(key), std::move(contentType))),
      m_partSize(partSize) {}

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
            m_state->pump();
        }
    }
    return true;
}

bool S3Upload::ready(std::function<void()> resume) {
    std::lock_guard lock(m_state->mutex);
    // A full part still waits for its step: take no more until it is on its way.
    if (m_state->failed || m_state->parts.empty())
        return true;
    m_state->resume = std::move(resume);
    return false;
}

void S3Upload::commitAsync(std::function<void(bool)> done) {
    if (m_ended)
        return done(false);
    m_ended = true;
    std::unique_lock lock(m_state->mutex);
    if (m_state->phase == State::Open) {
        m_state->last = std::move(m_current);
        m_state->done = std::move(done);
        m_state->phase = State::Committing;
        m_state->pump();
        if (m_state->stepping)
            return;
        // No step could be queued (the store is closing or too busy): the upload fails now.
        done = std::exchange(m_state->done, nullptr);
        m_state->phase = State::Ended;
    }
    lock.unlock();
    if (done)
        done(false);
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
    m_state->resume = nullptr;
    if (m_state->phase == State::Open) {
        m_state->phase = State::Aborting;
        m_state->pump();
    }
}
