#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

// Where the objects live and who may touch them.
struct S3Config {
    std::string endpoint = "https://s3.us-east-1.amazonaws.com"; // scheme://host[:port], no final "/"
    std::string region = "us-east-1";
    std::string bucket;
    std::string prefix; // "" or ending in "/": every key starts with it
    std::string accessKey;
    std::string secretKey;
    std::string sessionToken; // temporary credentials only
    bool pathStyle = false;   // endpoint/bucket/key instead of bucket.endpoint/key
};

// One S3 request at a time over libcurl, signed with AWS Signature Version 4 by libcurl itself.
// Requests are synchronous: the store runs transfers on its few worker threads, and the short
// calls (a HEAD, a listing) on the handler thread that asks. Each thread keeps one connection cache, so
// consecutive requests reuse connections.
class S3Client {
public:
    explicit S3Client(S3Config config);

    struct Request {
        std::string method = "GET";
        std::string key;   // full key, unencoded; empty: the bucket itself
        std::string query; // already encoded, parameters in byte order ("partNumber=1&uploadId=…")
        std::vector<std::string> headers;
        const char* body = nullptr; // PUT and POST bodies
        size_t bodySize = 0;
        // Streams a GET body instead of collecting it; false stops the transfer.
        std::function<bool(const char* data, size_t length)> sink;
        // Polled during the transfer; true stops it.
        std::function<bool()> cancelled;
        long timeoutSeconds = 0; // whole request; 0: only stalls time out
    };
    struct Response {
        long status = 0; // 0: no answer (curlError says why)
        std::string body;
        std::map<std::string, std::string> headers; // names in lower case
        std::string curlError;

        bool ok() const { return status >= 200 && status < 300; }
        // "Code: Message" of an S3 error document, or the status and transport error.
        std::string describe() const;
    };

    Response perform(const Request& request) const;
    const S3Config& config() const { return m_config; }
    std::string url(const std::string& key, const std::string& query = {}) const;

    // Percent-encodes everything but RFC 3986's unreserved characters (and "/" when keepSlash).
    static std::string encode(const std::string& text, bool keepSlash);

private:
    S3Config m_config;
    std::string m_signing; // "aws:amz:<region>:s3"
};
