#pragma once

#include <cstdint>
#include <mutex>

// Where the next cuts come, counted in the bytes that went towards a server; the emulators' upload
// bodies and the cutting link share it. Several cuts come in a row: each further one meets the
// first body (or connection) begun after the cut before.
struct Cuts {
    // The round a body begun now belongs to: only a body of the current round is cut.
    int round() {
        std::lock_guard lock(mutex);
        return current;
    }
    std::int64_t sent() {
        std::lock_guard lock(mutex);
        return bytes;
    }
    void cut(std::int64_t after, int times) {
        std::lock_guard lock(mutex);
        at = bytes + after;
        left = times;
        ++current;
    }
    // Counts `more` bytes of a body of `begun`; true when they reach the next cut.
    bool due(std::int64_t more, int begun) {
        std::lock_guard lock(mutex);
        bytes += more;
        if (left == 0 || bytes < at || begun != current)
            return false;
        --left;
        ++current;
        at = 0;
        return true;
    }

private:
    std::mutex mutex;
    std::int64_t bytes = 0, at = 0;
    int left = 0, current = 0;
};
