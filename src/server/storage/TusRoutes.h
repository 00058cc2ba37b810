#pragma once

#include "server/storage/StorageRoutes.h"

#include <cstdint>
#include <string>

class Metrics;
class Router;
class TusUploads;

// Resumable uploads to the self-hosted storage: tus 1.0.0, core protocol with the creation,
// termination and expiration extensions, beside PUT /storage/files (which stays for older
// clients). The storage token authorizes every request but OPTIONS, as it does a PUT.
//   OPTIONS /storage/tus       Tus-Version, Tus-Extension, Tus-Max-Size (--max-upload)
//   POST    /storage/tus       Upload-Length, Upload-Metadata "filename <base64 of the storage
//                              path, as PUT's path parameter>" → 201, Location
//   HEAD    /storage/tus/<id>  Upload-Offset, Upload-Length
//   PATCH   /storage/tus/<id>  application/offset+octet-stream at Upload-Offset → 204, Upload-Offset
//   DELETE  /storage/tus/<id>  204: the unfinished upload is gone
// Without uploads (the files live in a bucket) every request is answered 501.
// metrics (may be null) counts each upload once, at its last byte.
void registerTusRoutes(Router& router, TusUploads* uploads, const std::string& token, uint64_t maxUpload,
                       PublicUrlSource publicUrl, Metrics* metrics = nullptr);
