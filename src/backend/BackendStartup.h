#pragma once

#include <QString>

#include <functional>

// What vantry and vantry-cli do with the backend when they start: fix the backend choice,
// check for a newer version, and send a crash report left by an earlier run (removed once
// the backend confirms it, kept for the next start otherwise).
namespace BackendStartup {

// Call once the application object exists and its version is set. onNewVersion receives the
// server's version text when it differs from the running one.
void run(std::function<void(const QString& serverVersion)> onNewVersion);

// Sends the stored crash report, if any. Returns true when one was sent.
bool sendStoredCrashReport();

// Runs the event loop until every backend request has completed or timeoutMs passed; a
// command-line run calls it before exiting so the start-up requests are not cut off.
bool waitForRequests(int timeoutMs);

} // namespace BackendStartup
