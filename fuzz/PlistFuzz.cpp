// Property lists as a package brings them: PlistGuard, then libplist, then the Qt values.
#include "plist/PlistGuard.h"
#include "plist/PlistReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
#ifdef VANTRY_FUZZ_BINARY_PLIST
    // Spend the input on the structure, not on finding the magic.
    if (!bytes.startsWith("bplist"))
        bytes.prepend("bplist00");
#endif
    const PlistReader::Result result = PlistReader::fromBytes(bytes);
    // The reader refuses exactly what the guard refuses.
    const bool refused = result.problem == PlistReader::Problem::Refused;
    if (refused !=
        (bytes.size() > PlistReader::maxBytes || PlistGuard::check(bytes) != PlistGuard::Verdict::Accepted))
        std::abort();
    return 0;
}
