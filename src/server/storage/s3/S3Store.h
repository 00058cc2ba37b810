#pragma once

#include "server/storage/ObjectStore.h"
#include "server/storage/s3/S3Client.h"
#include "server/storage/s3/S3Workers.h"

#include <chrono>
#include <vector>

// The self-hosted storage in an S3-compatible bucket, under a key prefix. Folders are key
// prefixes; an empty folder is a zero-byte marker object "<folder>/" (as S3 consoles make them).
// Names resolve without regard to letter case like on disk: a component that does not exist as
// written is looked up by listing its parent prefix. The store keeps no state between requests,
// so several servers can share one bucket.
class S3Store : public ObjectStore {
public:
    static constexpr size_t kMinimumPartSize = size_t(8) << 20;

    // maxUpload sets the part size: S3 allows at most 10,000 parts per object.
    S3Store(S3Config config, uint64_t maxUpload);
    ~S3Store() override;

    std::optional<bool> createFolder(const std::string& relative,
                                     std::string* error = nullptr) const override;
    std::unique_ptr<Upload> beginUpload(const std::string& relative,
                                        std::string* error = nullptr) const override;
    std::optional<FileInfo> file(const std::string& relative) const override;
    std::shared_ptr<BodyWriter> open(const FileInfo& info, uint64_t offset, uint64_t length) const override;
    bool isReachable() const override;
    std::string describe() const override;

    // Lets transfers in progress end for up to grace, then stops the rest; before the server stops.
    void close(std::chrono::milliseconds grace);
    size_t partSize() const { return m_partSize; }

private:
    enum class Kind { Missing, Folder, File };
    struct Resolved {
        std::string path; // relative, stored spelling where something exists
        Kind kind = Kind::Missing;
        bool failed = false; // the bucket did not answer
    };
    // The stored spelling of each component, looked up level by level.
    Resolved resolve(const std::vector<std::string>& parts) const;
    struct Entry {
        std::string name;
        Kind kind;
    };
    // Entries directly below a folder ("" or "a/b/") whose names start with start; nothing on failure.
    std::optional<std::vector<Entry>> list(const std::string& folder, const std::string& start) const;
    // HEAD of one key: its info when it is an object.
    std::optional<FileInfo> head(const std::string& relative, bool* failed = nullptr) const;

    S3Client m_client;
    size_t m_partSize;
    mutable S3Workers m_workers;
};
