#include "server/CurlHandle.h"

#include <curl/curl.h>

#include <mutex>

namespace {

struct Handle {
    CURL* curl = nullptr;
    Handle() {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        curl = curl_easy_init();
    }
    ~Handle() { curl_easy_cleanup(curl); }
};

} // namespace

CURL* threadCurlHandle() {
    thread_local Handle handle;
    curl_easy_reset(handle.curl);
    return handle.curl;
}
