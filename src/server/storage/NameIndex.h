#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

// Finds the stored spelling of a name in a folder on disk without regard to letter case.
//
// A folder with few entries is simply listed. The names of a large folder (a Vantry folder of
// 100,000 jobs) are kept in memory by their case-folded spelling once it has been listed, so a
// name that is missing costs the same there as in a folder of ten. The store's own changes go
// through change(), which keeps the kept names true without listing again. Changes made by
// anything else (files copied in by hand, another process) move the folder's modification time,
// which every miss compares with the one the names were read at; a name the index offers is
// checked on disk before it is returned. (Only a change by something else within the same tick
// of the file system's clock as one of the store's own goes unseen, until the folder next changes.)
class NameIndex {
public:
    NameIndex();
    ~NameIndex();
    NameIndex(const NameIndex&) = delete;
    NameIndex& operator=(const NameIndex&) = delete;

    // The entry of folder (an absolute path) that equals name regardless of letter case, the
    // first in byte order when several do; nothing when none does or the folder is not there.
    // Uploads in progress (".upload-" files) are never offered.
    std::optional<std::string> find(const std::string& folder, const std::string& name);

    // Runs apply, which changes folder on disk: it adds the entry `added` when that is not empty,
    // and otherwise only entries find() never offers. Returns what apply returned.
    bool change(const std::string& folder, const std::string& added, const std::function<bool()>& apply);

    // Held while a spelling is chosen and then made (a folder, or a file renamed into place), so
    // that two spellings of one new name asked for at once end as one entry.
    std::unique_lock<std::mutex> naming() { return std::unique_lock<std::mutex>(m_naming); }

private:
    struct Folder;
    // The names in folder now; touches no member.
    static std::unique_ptr<Folder> read(const std::string& folder);
    // These run under m_mutex.
    std::optional<std::string> relist(const std::string& folder, const std::string& folded);
    void keep(const std::string& folder, std::unique_ptr<Folder> listing);
    void forget(const std::string& folder);

    std::mutex m_naming;
    std::mutex m_mutex; // guards what follows; never held while waiting for m_naming
    std::unordered_map<std::string, std::unique_ptr<Folder>> m_folders;
    size_t m_kept = 0; // names in all kept folders: each costs its length + 17 bytes
    uint64_t m_uses = 0;
};
