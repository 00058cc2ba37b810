#include "server/storage/TusUploads.h"

#include "server/storage/FileStore.h"
#include "server/storage/StoragePath.h"

#include <QRandomGenerator>

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {
using TimePoint = std::chrono::system_clock::time_point;

bool validId(const std::string& id) {
    return id.size() == 32 && id.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string newId() {
    static const char digits[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 32; ++i)
        id += digits[QRandomGenerator::system()->bounded(16)];
    return id;
}

timespec toTimespec(TimePoint t) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    return timespec{time_t(ns / 1000000000), long(ns % 1000000000)};
}

std::optional<struct stat> statOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return st;
}

TimePoint modified(const struct stat& st) {
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(
        std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
}

// "<length> <path>" of an info file.
std::optional<std::pair<uint64_t, std::string>> readInfo(const std::string& file) {
    FILE* f = std::fopen(file.c_str(), "rbe");
    if (!f)
        return std::nullopt;
    char buffer[8192];
    const size_t n = std::fread(buffer, 1, sizeof buffer, f);
    std::fclose(f);
    const std::string text(buffer, n);
    const size_t space = text.find(' ');
    if (space == std::string::npos || space == 0 || text.find_first_not_of("0123456789") != space)
        return std::nullopt;
    return std::make_pair(std::stoull(text.substr(0, space)), text.substr(space + 1));
}
} // namespace

TusUploads::TusUploads(const FileStore& store, Settings settings)
    : m_store(store), m_settings(std::move(settings)) {
    m_lastSweep = now();
    ::mkdir(m_settings.folder.c_str(), 0700);
    ::chmod(m_settings.folder.c_str(), 0700);
    sweep();
}

std::chrono::system_clock::time_point TusUploads::now() const {
    return m_settings.now ? m_settings.now() : std::chrono::system_clock::now();
}

std::string TusUploads::file(const std::string& id, const char* suffix) const {
    return m_settings.folder + '/' + id + suffix;
}

std::optional<std::string> TusUploads::create(uint64_t length, const std::string& path, std::string* error) {
    sweepNowAndThen();
    if (!storagePathComponents(path, error))
        return std::nullopt;
    const std::string id = newId();
    const timespec times[2] = {toTimespec(now()), toTimespec(now())};
    const int fd = ::open(file(id, ".part").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const std::string info = std::to_string(length) + ' ' + path;
    const std::string temp = file(id, ".tmp");
    const int infoFd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool written = fd >= 0 && infoFd >= 0 && ::futimens(fd, times) == 0 &&
                         ::write(infoFd, info.data(), info.size()) == ssize_t(info.size()) &&
                         ::futimens(infoFd, times) == 0 && ::fsync(infoFd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (infoFd >= 0)
        ::close(infoFd);
    if (!written || ::rename(temp.c_str(), file(id, ".info").c_str()) != 0) {
        ::unlink(temp.c_str());
        ::unlink(file(id, ".part").c_str());
        if (error)
            *error = "The upload could not be made.";
        return std::nullopt;
    }
    if (length == 0 && !finish(id, State{0, 0, path, {}}, error)) {
        remove(id, nullptr);
        return std::nullopt;
    }
    return id;
}

TusUploads::Found TusUploads::find(const std::string& id, State* state) {
    // The upload asked for first, so that an expired one is told apart from an unknown one.
    const Found found = lookup(id, state);
    sweepNowAndThen();
    return found;
}

TusUploads::Found TusUploads::lookup(const std::string& id, State* state) {
    if (!validId(id))
        return Found::Unknown;
    const std::optional<std::pair<uint64_t, std::string>> info = readInfo(file(id, ".info"));
    const std::optional<struct stat> infoStat = statOf(file(id, ".info"));
    if (!info || !infoStat)
        return Found::Unknown;
    const std::optional<struct stat> part = statOf(file(id, ".part"));
    State s{info->first, part ? uint64_t(part->st_size) : info->first, info->second, {}};
    s.expires = modified(part ? *part : *infoStat) + m_settings.expiry;
    bool busy = false;
    if (s.expires <= now() && remove(id, &busy))
        return Found::Expired;
    // The last byte arrived but the file was not stored (the server stopped in between).
    if (part && s.offset == s.length && !busy) {
        const int fd = claim(id, &busy);
        if (fd >= 0)
            release(id, fd, false, true, nullptr);
    }
    *state = std::move(s);
    return Found::Yes;
}

bool TusUploads::remove(const std::string& id, bool* busy) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_busy.count(id)) {
        if (busy)
            *busy = true;
        return false;
    }
    ::unlink(file(id, ".part").c_str());
    return ::unlink(file(id, ".info").c_str()) == 0;
}

int TusUploads::claim(const std::string& id, bool* busy) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_busy.count(id)) {
        *busy = true;
        return -1;
    }
    const int fd = ::open(file(id, ".part").c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    // Not O_APPEND: splice() refuses such targets.
    if (fd < 0 || ::lseek(fd, 0, SEEK_END) < 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    m_busy.insert(id);
    return fd;
}

bool TusUploads::release(const std::string& id, int fd, bool wrote, bool complete, std::string* error) {
    const timespec times[2] = {toTimespec(now()), toTimespec(now())};
    if (wrote)
        ::futimens(fd, times);
    // Stored files are readable like those of a PUT; the part was private while it grew.
    const bool synced = !complete || (::fdatasync(fd) == 0 && ::fchmod(fd, 0644) == 0);
    ::close(fd);
    bool stored = true;
    if (complete) {
        const std::optional<std::pair<uint64_t, std::string>> info = readInfo(file(id, ".info"));
        stored = synced && info && finish(id, State{info->first, info->first, info->second, {}}, error);
        if (!synced && error)
            *error = "The file could not be stored.";
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_busy.erase(id);
    return stored;
}

bool TusUploads::finish(const std::string& id, const State& state, std::string* error) {
    if (!m_store.storeFile(state.path, file(id, ".part"), error))
        return false;
    const timespec times[2] = {toTimespec(now()), toTimespec(now())};
    ::utimensat(AT_FDCWD, file(id, ".info").c_str(), times, 0);
    return true;
}

void TusUploads::sweepNowAndThen() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (now() - m_lastSweep < std::chrono::minutes(1))
            return;
        m_lastSweep = now();
    }
    sweep();
}

int TusUploads::sweep() {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(m_settings.folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    int removed = 0;
    for (const std::string& name : names) {
        const size_t dot = name.find('.');
        const std::string id = name.substr(0, dot);
        const std::string suffix = dot == std::string::npos ? std::string() : name.substr(dot);
        if (!validId(id))
            continue;
        if (suffix == ".info") {
            State state;
            removed += lookup(id, &state) == Found::Expired;
            continue;
        }
        // What an upload left without its info (a creation cut short).
        const std::optional<struct stat> st = statOf(m_settings.folder + '/' + name);
        if ((suffix == ".part" || suffix == ".tmp") && st && !statOf(file(id, ".info")) &&
            modified(*st) + m_settings.expiry <= now()) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            removed += !m_busy.count(id) && ::unlink((m_settings.folder + '/' + name).c_str()) == 0;
        }
    }
    return removed;
}
