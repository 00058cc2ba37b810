#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

// What the store reads from S3's XML answers (read with QXmlStreamReader), and the one piece of
// XML it writes.
namespace S3Xml {

struct Document {
    bool valid = false;
    std::string root; // "Error", "InitiateMultipartUploadResult", …
    // Text of the elements directly below the root that hold only text, the first of each name.
    std::map<std::string, std::string> values;
    std::string value(const std::string& name) const;
};
Document parse(const std::string& xml);

// One page of ListObjectsV2.
struct Listing {
    bool valid = false;
    std::vector<std::string> keys;     // Contents/Key
    std::vector<std::string> prefixes; // CommonPrefixes/Prefix
    bool truncated = false;
    std::string nextToken;
};
Listing parseListing(const std::string& xml);

// Text escaped for an element's content.
std::string escape(const std::string& text);

} // namespace S3Xml
