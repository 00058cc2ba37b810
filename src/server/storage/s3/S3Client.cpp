#include "server/storage/s3/S3Client.h"

#include "server/storage/s3/S3Xml.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <strings.h>

namespace {

// One easy handle per thread: curl_easy_reset keeps its connection cache, so a worker that
// sends part after part talks over one connection.
struct ThreadHandle {
    CURL* handle = nullptr;
    ThreadHandle() {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        handle = curl_easy_init();
    }
    ~ThreadHandle() { curl_easy_cleanup(handle); }
};

CURL* threadHandle() {
    thread_local ThreadHandle h;
    curl_easy_reset(h.handle);
    return h.handle;
}

struct Transfer {
    const S3Client::Request* request;
    S3Client::Response* response;
    size_t sent = 0;
    bool sinkStopped = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    // Only successful answers stream; error documents are collected for their message.
    if (t->request->sink && t->response->status >= 200 && t->response->status < 300) {
        if (!t->request->sink(data, n)) {
            t->sinkStopped = true;
            return 0;
        }
        return n;
    }
    if (t->response->body.size() < 64 * 1024)
        t->response->body.append(data, n);
    return n;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    const std::string line(data, n);
    if (line.rfind("HTTP/", 0) == 0) {
        t->response->headers.clear(); // a new answer (after 100 Continue)
        const size_t space = line.find(' ');
        t->response->status = space == std::string::npos ? 0 : std::atol(line.c_str() + space + 1);
        return n;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos)
        return n;
    std::string name = line.substr(0, colon);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    std::string value = line.substr(colon + 1);
    const size_t first = value.find_first_not_of(" \t");
    const size_t last = value.find_last_not_of(" \t\r\n");
    t->response->headers[name] =
        first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
    return n;
}

size_t onRead(char* buffer, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = std::min(size * count, t->request->bodySize - t->sent);
    std::memcpy(buffer, t->request->body + t->sent, n);
    t->sent += n;
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return t->request->cancelled && t->request->cancelled() ? 1 : 0;
}

} // namespace

S3Client::S3Client(S3Config config)
    : m_config(std::move(config)), m_signing("aws:amz:" + m_config.region + ":s3") {}

std::string S3Client::encode(const std::string& text, bool keepSlash) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~' || (keepSlash && c == '/')) {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

std::string S3Client::url(const std::string& key, const std::string& query) const {
    std::string base = m_config.endpoint;
    if (m_config.pathStyle) {
        base += '/' + m_config.bucket;
    } else {
        const size_t hostStart = base.find("://");
        base.insert(hostStart == std::string::npos ? 0 : hostStart + 3, m_config.bucket + '.');
    }
    // The bucket itself is addressed without a final "/" in path style ("HEAD /bucket").
    std::string out = key.empty() && m_config.pathStyle ? base : base + '/' + encode(key, true);
    if (!query.empty())
        out += '?' + query;
    return out;
}

std::string S3Client::Response::describe() const {
    if (status == 0)
        return curlError.empty() ? std::string("no answer") : curlError;
    const S3Xml::Document error = S3Xml::parse(body);
    const std::string code = error.value("Code");
    const std::string message = error.value("Message");
    std::string text = "HTTP " + std::to_string(status);
    if (!code.empty())
        text += ' ' + code;
    if (!message.empty())
        text += ": " + message;
    return text;
}

S3Client::Response S3Client::perform(const Request& request) const {
    Response response;
    Transfer transfer{&request, &response};
    CURL* h = threadHandle();
    const std::string target = url(request.key, request.query);
    curl_easy_setopt(h, CURLOPT_URL, target.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_AWS_SIGV4, m_signing.c_str());
    curl_easy_setopt(h, CURLOPT_USERNAME, m_config.accessKey.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, m_config.secretKey.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 10L);
    // A transfer that moves nothing for 30 s is given up, like a stalled client body.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 30L);
    if (request.timeoutSeconds > 0)
        curl_easy_setopt(h, CURLOPT_TIMEOUT, request.timeoutSeconds);
    // Downloads hand their pieces across threads: fewer, larger pieces cost less.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    curl_slist* headers = nullptr;
    // The body is not hashed into the signature: parts would need hashing before sending, and
    // TLS already protects them in transit.
    headers = curl_slist_append(headers, "x-amz-content-sha256: UNSIGNED-PAYLOAD");
    if (!m_config.sessionToken.empty())
        headers = curl_slist_append(headers, ("x-amz-security-token: " + m_config.sessionToken).c_str());
    for (const std::string& header : request.headers)
        headers = curl_slist_append(headers, header.c_str());

    if (request.method == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else if (request.method == "PUT") {
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, onRead);
        curl_easy_setopt(h, CURLOPT_READDATA, &transfer);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(request.bodySize));
    } else if (request.method == "POST") {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body ? request.body : "");
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.bodySize));
        // One Content-Type only: two would be signed as one joined value but sent as two.
        const bool typed =
            std::any_of(request.headers.begin(), request.headers.end(), [](const std::string& h) {
                return h.size() > 13 && strncasecmp(h.c_str(), "content-type:", 13) == 0;
            });
        if (!typed)
            headers = curl_slist_append(headers, "Content-Type: application/xml");
    } else if (request.method != "GET") {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);

    const CURLcode code = curl_easy_perform(h);
    curl_slist_free_all(headers);
    if (code != CURLE_OK && !transfer.sinkStopped) {
        response.curlError = curl_easy_strerror(code);
        response.status = 0;
    } else if (code != CURLE_OK) {
        response.curlError = "stopped";
        response.status = 0;
    } else {
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        response.status = status;
    }
    return response;
}
