#pragma once

#include "server/storage/ObjectStore.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class NameIndex;

// The self-hosted file storage on disk: a folder that clients fill through the storage API and
// that anyone with a link downloads from. Every path is confined to the root: symbolic links
// are refused too. A component that does not exist as written resolves to an existing entry
// that differs only in case; new names are chosen and made one at a time, so two spellings of a
// new folder asked for at once end in one folder.
class FileStore : public ObjectStore {
public:
    explicit FileStore(std::string root);
    ~FileStore() override;

    const std::string& root() const { return m_root; }

    // Checks a client path ("Vantry/job/App.ipa") and returns the absolute path inside the root.
    std::optional<std::string> resolve(const std::string& relative, std::string* error = nullptr) const;
    // A resolved path relative to the root again, in the letter case stored on disk.
    std::string relativePath(const std::string& resolved) const;

    std::optional<bool> createFolder(const std::string& relative,
                                     std::string* error = nullptr) const override;
    // Written to a temporary file beside the target and renamed into place by commit().
    // Parent folders are created as needed.
    std::unique_ptr<Upload> beginUpload(const std::string& relative,
                                        std::string* error = nullptr) const override;
    // Makes a complete file elsewhere on disk the stored file at relative: renamed into place,
    // or copied through an upload when it lies on another file system. The source is gone after
    // success.
    bool storeFile(const std::string& relative, const std::string& source,
                   std::string* error = nullptr) const;
    std::optional<FileInfo> file(const std::string& relative) const override;
    std::shared_ptr<BodyWriter> open(const FileInfo& info, uint64_t offset, uint64_t length) const override;
    bool isReachable() const override;
    std::string describe() const override { return "file:" + m_root; }

    // Deletes the temporary files of uploads that never finished (the server was killed during
    // them); run at start, before any upload begins. Returns how many were removed.
    int removeUnfinishedUploads() const;

    // The bearer token of the storage API: made on first start, kept owner-only in the data folder.
    static std::optional<std::string> loadOrCreateToken(const std::string& dataDir);
    // Whether a file name is an upload still in progress (".upload-<hex>.part"), which its commit
    // renames into place.
    static bool isUnfinishedUpload(const std::string& name);

private:
    // resolve() that also makes the folders it names where they are missing: all components, or
    // all but the last. The caller holds the naming lock then.
    enum class Make { Nothing, Parents, All };
    std::optional<std::string> walk(const std::string& relative, Make make, bool* made,
                                    std::string* error) const;

    std::string m_root;
    std::shared_ptr<NameIndex> m_names; // shared with uploads in progress, which may outlive the store
};
