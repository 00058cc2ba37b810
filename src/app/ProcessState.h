#pragma once

#include <QString>

// The display state of a hosting job, passed with every step (raw values 0-6).
enum class ProcessState {
    preparing = 0,    // folder steps
    transferring = 1, // uploads and the package's link request
    processing = 2,   // inspection, manifest, links, finishing steps
    hosting = 3,      // backend registration
    completed = 4,
    cancelled = 5,
    failed = 6,
};

// "preparing", "transferring", …
QString processStateName(ProcessState state);

// A job in this state can still be cancelled.
inline bool isRunning(ProcessState state) {
    return state <= ProcessState::hosting;
}
