// User agents as installs record them: any text a browser (or anyone) sends.
#include "useragent/UAParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    UAParser parser(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    parser.browser();
    parser.cpu();
    parser.device();
    parser.engine();
    parser.os();
    return 0;
}
