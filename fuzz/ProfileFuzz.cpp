// Provisioning profiles as a package brings them: the DER walk to the signed content, the
// certificate dates, then the property list.
#include "inspect/ProvisioningProfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // The content is a part of the input, never more.
    if (const auto content = Der::signedContent(bytes); content && content->size() > bytes.size())
        std::abort();
    Der::certificateNotAfter(bytes);
    if (const auto profile = ProvisioningProfile::read(bytes); profile && profile->deviceCount < 0)
        std::abort();
    return 0;
}
