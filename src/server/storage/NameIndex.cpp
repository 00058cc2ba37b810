#include "server/storage/NameIndex.h"

#include "server/storage/StoragePath.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

// Bounds the memory of all kept names together (about 40 MiB); the least used folders go first.
constexpr size_t kMaxKept = size_t(1) << 20;
// A change within the same tick of the file system's clock as the one before leaves the
// folder's time as it was, so a listing is trusted only when the folder had been quiet for longer
// than a tick (at most 10 ms) before it was read. File systems that keep whole seconds (FAT,
// ext3's small inodes) show it as a time without nanoseconds and need two seconds.
constexpr int64_t kQuietNs = 50'000'000;
constexpr int64_t kQuietWholeSecondsNs = 2'000'000'000;

int64_t nanoseconds(const timespec& t) {
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

uint64_t hashOf(std::string_view folded) {
    return std::hash<std::string_view>{}(folded);
}

bool uploadInProgress(const char* name) {
    return std::strncmp(name, ".upload-", 8) == 0;
}

} // namespace

// The names of one folder as read at one modification time, plus the store's own additions.
struct NameIndex::Folder {
    struct Slot {
        uint64_t hash;   // of the folded name
        uint32_t offset; // into names
    };

    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    timespec changed{}; // also moves when a tool puts the modification time back
    bool settled = false;
    std::string names;       // each followed by a NUL byte: one allocation for all of them
    std::vector<Slot> slots; // ordered by hash
    uint64_t lastUse = 0;

    bool matches(const struct stat& st) const {
        const auto same = [](const timespec& a, const timespec& b) {
            return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
        };
        return st.st_dev == device && st.st_ino == inode && same(st.st_mtim, modified) &&
               same(st.st_ctim, changed);
    }
    void stamp(const struct stat& st) {
        device = st.st_dev;
        inode = st.st_ino;
        modified = st.st_mtim;
        changed = st.st_ctim;
    }
    auto range(uint64_t hash) const {
        return std::equal_range(slots.begin(), slots.end(), Slot{hash, 0},
                                [](const Slot& a, const Slot& b) { return a.hash < b.hash; });
    }
    void append(std::string_view name, uint64_t hash) {
        slots.push_back(Slot{hash, uint32_t(names.size())});
        names.append(name);
        names.push_back('\0');
    }
    std::optional<std::string> lookup(const std::string& folded) const {
        std::optional<std::string> best;
        const auto [first, last] = range(hashOf(folded));
        for (auto it = first; it != last; ++it) {
            std::string candidate(names.data() + it->offset);
            if (foldedName(candidate) == folded && (!best || candidate < *best))
                best = std::move(candidate);
        }
        return best;
    }
    bool add(const std::string& name) {
        const uint64_t hash = hashOf(foldedName(name));
        const auto [first, last] = range(hash);
        for (auto it = first; it != last; ++it)
            if (name == names.data() + it->offset)
                return false;
        const size_t at = size_t(last - slots.begin());
        append(name, hash);
        std::rotate(slots.begin() + std::ptrdiff_t(at), slots.end() - 1, slots.end());
        return true;
    }
};

NameIndex::NameIndex() = default;
NameIndex::~NameIndex() = default;

std::unique_ptr<NameIndex::Folder> NameIndex::read(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return nullptr;
    auto listing = std::make_unique<Folder>();
    struct stat st {};
    timespec now{};
    if (::fstat(::dirfd(dir), &st) != 0 || ::clock_gettime(CLOCK_REALTIME, &now) != 0) {
        ::closedir(dir);
        return nullptr;
    }
    listing->stamp(st);
    const int64_t quiet = st.st_mtim.tv_nsec == 0 ? kQuietWholeSecondsNs : kQuietNs;
    listing->settled = nanoseconds(now) - nanoseconds(st.st_mtim) > quiet;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || uploadInProgress(name))
            continue;
        listing->append(name, hashOf(foldedName(name)));
    }
    ::closedir(dir);
    std::sort(listing->slots.begin(), listing->slots.end(),
              [](const Folder::Slot& a, const Folder::Slot& b) { return a.hash < b.hash; });
    return listing;
}

void NameIndex::forget(const std::string& folder) {
    const auto kept = m_folders.find(folder);
    if (kept == m_folders.end())
        return;
    m_kept -= kept->second->slots.size();
    m_folders.erase(kept);
}

void NameIndex::keep(const std::string& folder, std::unique_ptr<Folder> listing) {
    forget(folder);
    const size_t count = listing->slots.size();
    if (count > kMaxKept)
        return;
    while (m_kept + count > kMaxKept) {
        auto oldest = std::min_element(m_folders.begin(), m_folders.end(), [](const auto& a, const auto& b) {
            return a.second->lastUse < b.second->lastUse;
        });
        forget(oldest->first);
    }
    listing->names.shrink_to_fit();
    listing->lastUse = ++m_uses;
    m_kept += count;
    m_folders.emplace(folder, std::move(listing));
}

std::optional<std::string> NameIndex::relist(const std::string& folder, const std::string& folded) {
    std::unique_ptr<Folder> listing = read(folder);
    if (!listing) {
        forget(folder);
        return std::nullopt;
    }
    std::optional<std::string> found = listing->lookup(folded);
    keep(folder, std::move(listing));
    return found;
}

std::optional<std::string> NameIndex::find(const std::string& folder, const std::string& name) {
    const std::string folded = foldedName(name);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    std::optional<std::string> offered;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto kept = m_folders.find(folder);
        if (kept != m_folders.end()) {
            // Under the lock: one thread reads the large folder again, the others wait for it.
            if (!kept->second->settled || !kept->second->matches(st))
                return relist(folder, folded);
            kept->second->lastUse = ++m_uses;
            offered = kept->second->lookup(folded);
            if (!offered)
                return std::nullopt;
        }
    }
    if (!offered) {
        // Not kept, so far small: read without the lock, so misses in other folders do not wait.
        std::unique_ptr<Folder> listing = read(folder);
        if (!listing)
            return std::nullopt;
        std::optional<std::string> found = listing->lookup(folded);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            keep(folder, std::move(listing));
        }
        return found;
    }
    if (::lstat((folder + '/' + *offered).c_str(), &st) == 0)
        return offered;
    // Removed by something else within the tick of the folder's time: read the folder again.
    std::lock_guard<std::mutex> lock(m_mutex);
    return relist(folder, folded);
}

bool NameIndex::change(const std::string& folder, const std::string& added,
                       const std::function<bool()>& apply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto kept = m_folders.find(folder);
    if (kept == m_folders.end())
        return apply();
    // The kept names stay true only when nothing else changed the folder since they were checked.
    struct stat before {};
    const bool current = ::lstat(folder.c_str(), &before) == 0 && kept->second->matches(before);
    const bool applied = apply();
    struct stat after {};
    if (!current || ::lstat(folder.c_str(), &after) != 0) {
        forget(folder);
        return applied;
    }
    if (applied && !added.empty() && kept->second->add(added))
        ++m_kept;
    kept->second->stamp(after);
    return applied;
}
