#pragma once

#include <QString>

#include <functional>

// Diagnostic log: one plain line per message on standard output. Never pass tokens or
// secrets here; lines are meant to be pasted into bug reports.
void logLine(const QString& message);

// Tests capture the log through a sink; an empty function restores standard output.
using LogSink = std::function<void(const QString&)>;
void setLogSink(LogSink sink);
