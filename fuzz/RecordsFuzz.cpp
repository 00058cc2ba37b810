// The records the backend answers with: install statistics and the list of a user's apps.
#include "backend/Zelko.h"
#include "records/ZUserData.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const std::optional<ZUserData> installs = ZUserData::fromJson(bytes)) {
        // What decodes encodes back to the same record.
        if (ZUserData::fromJson(installs->toJson()) != installs)
            std::abort();
    }
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (doc.isArray()) {
        if (const auto apps = BackendApi::appsFromResponse(doc.array());
            apps && apps->size() != doc.array().size())
            std::abort();
    }
    return 0;
}
