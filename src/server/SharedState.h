#pragma once

#include <QString>

#include <chrono>
#include <optional>

// State that every instance of the service on one database must see alike, kept in that
// database: a load balancer may send each request of a client to another instance.
class SharedState {
public:
    virtual ~SharedState() = default;

    // Counts one event for a key in fixed windows of the given length: nothing when it is allowed,
    // else the seconds until the key may try again. Allowed when the database fails: a lost count
    // must not stop the service.
    virtual std::optional<int> takeRate(const QString& key, int limit, std::chrono::milliseconds window) = 0;

    // The value stored under name; when there is none yet, proposed is stored first, so every
    // instance that starts at once ends with the same value. Nothing when the database failed.
    virtual std::optional<QString> valueOrPut(const QString& name, const QString& proposed) = 0;
};
