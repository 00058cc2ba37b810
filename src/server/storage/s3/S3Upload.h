#pragma once

#include "server/storage/ObjectStore.h"
#include "server/storage/s3/PartBuffer.h"

#include <memory>
#include <string>

class S3Client;
class S3Workers;

// One file streamed into the bucket. Small files go up in one PUT at commit; a file that fills a
// part becomes a multipart upload whose parts the store's workers send while the next part fills.
// At most two parts are held (one sending, one waiting), so memory stays flat in the file size.
// An upload that is not committed is aborted: the bucket keeps nothing of it.
class S3Upload : public ObjectStore::Upload {
public:
    S3Upload(const S3Client& client, S3Workers& workers, std::string key, std::string contentType,
             size_t partSize);
    ~S3Upload() override;

    bool append(const char* data, size_t length) override;
    bool ready(std::function<void()> resume) override;
    bool commit() override;
    void commitAsync(std::function<void(bool)> done) override;
    void abort() override;
    uint64_t received() const override { return m_received; }

    struct State;

private:
    std::shared_ptr<State> m_state;
    PartBuffer m_current; // the part being filled, on the caller's thread
    size_t m_partSize;
    uint64_t m_received = 0;
    bool m_ended = false;
};
