#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The self-hosted file storage of vantry-server: a folder on disk that clients fill through the
// storage API and that anyone with a link downloads from. Every path is relative to the root
// and confined to it: "..", absolute paths, NUL bytes and symbolic links are refused. Names are
// matched without regard to letter case, as the cloud providers do: a component that does not
// exist as written resolves to an existing entry that differs only in case.
class FileStore {
public:
    explicit FileStore(std::string root);

    const std::string& root() const { return m_root; }

    // Checks a client path ("Vantry/job/App.ipa") and returns the absolute path inside the root.
    std::optional<std::string> resolve(const std::string& relative, std::string* error = nullptr) const;
    // A resolved path relative to the root again, in the letter case stored on disk.
    std::string relativePath(const std::string& resolved) const;

    // Creates the folder and its parents; the value tells whether it already existed.
    std::optional<bool> createFolder(const std::string& relative, std::string* error = nullptr) const;

    // Receives one file in pieces into a temporary file beside the target; only commit() makes
    // it visible, so a cut-off upload never leaves a partial file behind.
    class Upload {
    public:
        ~Upload();
        Upload(const Upload&) = delete;
        Upload& operator=(const Upload&) = delete;
        bool append(const char* data, size_t length);
        bool commit();
        void abort();
        uint64_t received() const { return m_received; }

    private:
        friend class FileStore;
        Upload(int fd, std::string tempPath, std::string finalPath);
        bool flush();
        int m_fd;
        // The network hands over a few KiB at a time; writing in large pieces saves most syscalls.
        std::string m_buffer;
        std::string m_tempPath;
        std::string m_finalPath;
        uint64_t m_received = 0;
    };
    // Parent folders are created as needed.
    std::unique_ptr<Upload> beginUpload(const std::string& relative, std::string* error = nullptr) const;

    struct FileInfo {
        std::string path; // absolute
        uint64_t size = 0;
        std::string etag;
        std::string contentType;
    };
    // A regular file (not a folder, not a link) at that path.
    std::optional<FileInfo> file(const std::string& relative) const;

    static std::string contentTypeFor(const std::string& name);

    // Deletes the temporary files of uploads that never finished (the server was killed during
    // them); run at start, before any upload begins. Returns how many were removed.
    int removeUnfinishedUploads() const;

    // The bearer token of the storage API: made on first start, kept owner-only in the data folder.
    static std::optional<std::string> loadOrCreateToken(const std::string& dataDir);

private:
    std::string m_root;
};
