#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class Metrics;
struct ApiRequest;
struct ApiResponse;
class ObjectStore;
class Router;

// Who the storage belongs to, as GET /storage/me describes it to clients.
struct StorageOwner {
    std::string id;
    std::string name;
    std::string email;
    std::string avatarUrl;
};

struct StorageOptions {
    std::string token;     // bearer token of the storage API
    std::string publicUrl; // base of download links, ends in "/"
    uint64_t maxUpload = uint64_t(4) << 30;
    StorageOwner owner;
    Metrics* metrics = nullptr; // set: stored files are counted there
};

// The public URL is known only once the server is bound; routes ask for it per request.
using PublicUrlSource = std::function<std::string()>;

// The self-hosted storage API (bearer token) and the public downloads:
//   POST /storage/folders  {"path": "Vantry/job"}      → {"existed": bool}
//   PUT  /storage/files?path=Vantry/job/App.ipa (body)  → {"path", "size"}
//   POST /storage/links    {"path": "Vantry/job/App.ipa"} → {"url": publicUrl + "files/…"}
//   GET  /storage/me                                   → {"id", "name", "email", "avatar"}
//   GET  /files/<path>     the bytes, with Content-Type, ETag and byte ranges; no token
// Registered before the page routes ("/:id" would take "/files/x"). The store must outlive the
// router.
void registerStorageRoutes(Router& router, const ObjectStore& store, const StorageOptions& options,
                           PublicUrlSource publicUrl = {});

// The 401 answer of the storage API, or nothing when the request carries the bearer token.
std::optional<ApiResponse> storageUnauthorized(const ApiRequest& request, const std::string& token);

// Percent-encodes each path component for a URL, keeping the slashes.
std::string encodePathForUrl(const std::string& path);
