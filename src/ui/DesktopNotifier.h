#pragma once

#include <QString>

#include <functional>

// Desktop notifications through the freedesktop notification service on the session bus. Where
// no such service runs (or no bus at all), posting does nothing: a job never waits on it.
namespace DesktopNotifier {

// Posts at once and returns without waiting for the service's answer.
void post(const QString& title, const QString& body);

// Tests see what would be posted instead of the bus.
using Sink = std::function<void(const QString& title, const QString& body)>;
void setSink(Sink sink);

} // namespace DesktopNotifier
