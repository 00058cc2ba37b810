#pragma once

#include "server/ApiMessage.h"

#include <memory>
#include <string>

class S3Client;
class S3Workers;

// A byte range of one object, fetched in ranged GETs of a few MiB on the store's workers and
// handed to the connection in the pieces they arrive in. The next range is asked for only while
// less than 4 MiB wait for the client, so a slow client holds the transfer back (and no thread)
// instead of filling memory. Every range must still have the ETag the download was planned for,
// or the download fails rather than mix two versions.
class S3Download : public BodyWriter {
public:
    S3Download(const S3Client& client, S3Workers& workers, std::string key, std::string etag, uint64_t offset,
               uint64_t length);
    ~S3Download() override;

    uint64_t size() const override { return m_length; }
    int64_t read(char* buffer, size_t capacity) override;
    bool ready(std::function<void()> resume) override;

    struct State;

private:
    std::shared_ptr<State> m_state;
    uint64_t m_length;
};
