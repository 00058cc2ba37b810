#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>

class FileStore;

// The unfinished resumable (tus) uploads of the file storage, kept in a private folder of the
// data folder (0700; files 0600) so that they survive a cut connection and a restart:
//   <id>.info   "<length> <storage path>", written once at creation
//   <id>.part   the bytes received so far: its size is the upload's offset
// On the last byte the part becomes the stored file at once (FileStore::storeFile); the info stays
// as the record of a finished upload (offset = length), so a client that missed the last answer
// learns from HEAD that it is done. An upload whose last progress (the files' modification time,
// set from the clock) lies longer than the expiry ago is removed: when it is next asked for, and by
// a sweep of the whole folder that runs at start and at most once a minute with a request.
// Safe to use from several threads; one PATCH at a time per upload (claim/release).
class TusUploads {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    struct Settings {
        std::string folder;
        std::chrono::seconds expiry{24 * 3600};
        Clock now; // empty: the system clock
    };
    TusUploads(const FileStore& store, Settings settings);

    struct State {
        uint64_t length = 0;
        uint64_t offset = 0;
        std::string path; // where the file is stored when complete
        std::chrono::system_clock::time_point expires;
    };
    enum class Found { Yes, Unknown, Expired };

    // A new upload of length bytes for path (checked like a PUT's); its id, or nothing with *error.
    // An empty upload is stored at once.
    std::optional<std::string> create(uint64_t length, const std::string& path, std::string* error);
    Found find(const std::string& id, State* state);
    // Removes an upload (stored files stay); false when it is unknown or being written to.
    bool remove(const std::string& id, bool* busy);

    // Takes the upload for one PATCH: the descriptor of its part, positioned at its end, or -1
    // (*busy when another PATCH holds it). Every claim ends with release.
    int claim(const std::string& id, bool* busy);
    // Records the progress when bytes were written; with the last byte in, makes the stored file
    // (false with *error when that failed). Closes fd.
    bool release(const std::string& id, int fd, bool wrote, bool complete, std::string* error);

    std::chrono::system_clock::time_point now() const;
    std::chrono::seconds expiry() const { return m_settings.expiry; }
    // Removes expired uploads (not those being written to); how many.
    int sweep();

private:
    std::string file(const std::string& id, const char* suffix) const;
    Found lookup(const std::string& id, State* state);
    bool finish(const std::string& id, const State& state, std::string* error);
    void sweepNowAndThen();

    const FileStore& m_store;
    Settings m_settings;
    std::mutex m_mutex; // guards what follows
    std::set<std::string> m_busy;
    std::chrono::system_clock::time_point m_lastSweep;
};
