#pragma once

#include <QString>

#include <memory>
#include <optional>

class ObjectStore;
struct S3Config;
struct ServerOptions;

// Why the storage settings (--storage and the S3 settings) cannot work, or empty when they can.
QString storageProblem(const ServerOptions& options);

// The S3 settings of an "s3://bucket/prefix" storage.
std::optional<S3Config> s3ConfigFor(const ServerOptions& options);

// The store the settings describe; null with *error when it cannot be set up.
std::unique_ptr<ObjectStore> makeObjectStore(const ServerOptions& options, QString* error);
