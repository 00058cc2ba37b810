#pragma once

#include "core/Crash.h"

#include <QString>

// Keeps one crash report across a crash. An escaping C++ exception (std::terminate) or a fatal
// signal writes a small report file with write(2) only; the next start turns that file into the
// "hasCrashed" preference, from where start-up sends it to the backend.
namespace CrashHandler {

// Installs the terminate handler and the SIGSEGV/SIGABRT/SIGBUS/SIGFPE/SIGILL handlers.
// Call early in main(), after the application object exists.
void install();

// Where a crash leaves its report until the next start.
QString reportFilePath();

// Moves a report left by an earlier crash into "hasCrashed" (replacing any older one).
// Returns true when there was one.
bool collectPendingReport();

// The stored report, if "hasCrashed" holds a dictionary.
std::optional<Crash> storedReport();
void storeReport(const Crash& crash);
void clearStoredReport();

// Parses the report file format; exposed for tests.
std::optional<Crash> parseReport(const QByteArray& bytes);

} // namespace CrashHandler
