#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class BodyWriter;

// Where the self-hosted storage keeps its folders and files: a folder on disk (FileStore) or an
// S3-compatible bucket (S3Store). Paths are relative ("Vantry/job/App.ipa"), checked by the store
// ("..", absolute paths, NUL bytes and backslashes are refused) and matched without regard to
// letter case, as the cloud providers do. Safe to use from several threads at once.
class ObjectStore {
public:
    virtual ~ObjectStore() = default;

    // Receives one file in pieces; only commit() makes it visible, so an upload that is cut off
    // never leaves a partial file behind. Destroyed without commit(), it aborts.
    class Upload {
    public:
        virtual ~Upload() = default;
        virtual bool append(const char* data, size_t length) = 0;
        // False while the store is still sending earlier pieces and wants no more for now; it
        // then calls resume once (from any thread) when it can take more.
        virtual bool ready(std::function<void()> resume) {
            (void)resume;
            return true;
        }
        virtual bool commit() = 0;
        // commit() without blocking the caller: done gets its result, from any thread.
        virtual void commitAsync(std::function<void(bool)> done) { done(commit()); }
        virtual void abort() = 0;
        virtual uint64_t received() const = 0;
    };

    struct FileInfo {
        std::string path; // relative, in the letter case stored
        uint64_t size = 0;
        std::string etag; // quoted, as an ETag header carries it
        std::string contentType;
    };

    // Creates the folder (and what it needs above it); the value tells whether it already existed.
    virtual std::optional<bool> createFolder(const std::string& relative,
                                             std::string* error = nullptr) const = 0;
    virtual std::unique_ptr<Upload> beginUpload(const std::string& relative,
                                                std::string* error = nullptr) const = 0;
    // A stored file (not a folder) at that path.
    virtual std::optional<FileInfo> file(const std::string& relative) const = 0;
    // The bytes [offset, offset + length) of a file that file() found; null when it is gone.
    virtual std::shared_ptr<BodyWriter> open(const FileInfo& info, uint64_t offset,
                                             uint64_t length) const = 0;
    // Whether the storage answers now (the health probe of a load balancer).
    virtual bool isReachable() const = 0;
    // One line for the start-up log: where the files are.
    virtual std::string describe() const = 0;

    static std::string contentTypeFor(const std::string& name);
};
