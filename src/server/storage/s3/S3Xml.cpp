#include "server/storage/s3/S3Xml.h"

#include <QByteArray>
#include <QXmlStreamReader>

namespace S3Xml {

namespace {
// Calls leaf(path, text) for every element that holds only text; path names the elements below
// the root ("Contents/Key"). Returns the root's name, or nothing when the XML is malformed.
bool walk(const std::string& xml, std::string* root,
          const std::function<void(const std::string& path, const std::string& text)>& leaf) {
    QXmlStreamReader reader(QByteArray::fromRawData(xml.data(), qsizetype(xml.size())));
    std::vector<std::string> path;
    std::vector<bool> hasChildren;
    QString text;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (!hasChildren.empty())
                hasChildren.back() = true;
            if (path.empty() && root->empty())
                *root = reader.name().toString().toStdString();
            path.push_back(reader.name().toString().toStdString());
            hasChildren.push_back(false);
            text.clear();
            break;
        case QXmlStreamReader::Characters:
            text += reader.text();
            break;
        case QXmlStreamReader::EndElement:
            if (path.size() > 1 && !hasChildren.back()) {
                std::string below;
                for (size_t i = 1; i < path.size(); ++i)
                    below += (i > 1 ? "/" : "") + path[i];
                leaf(below, text.toStdString());
            }
            path.pop_back();
            hasChildren.pop_back();
            text.clear();
            break;
        default:
            break;
        }
    }
    return !reader.hasError() && !root->empty();
}
} // namespace

std::string Document::value(const std::string& name) const {
    const auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
}

Document parse(const std::string& xml) {
    Document doc;
    doc.valid = walk(xml, &doc.root, [&doc](const std::string& path, const std::string& text) {
        if (path.find('/') == std::string::npos)
            doc.values.emplace(path, text);
    });
    return doc;
}

Listing parseListing(const std::string& xml) {
    Listing listing;
    std::string root;
    listing.valid = walk(xml, &root, [&listing](const std::string& path, const std::string& text) {
        if (path == "Contents/Key")
            listing.keys.push_back(text);
        else if (path == "CommonPrefixes/Prefix")
            listing.prefixes.push_back(text);
        else if (path == "IsTruncated")
            listing.truncated = text == "true";
        else if (path == "NextContinuationToken")
            listing.nextToken = text;
    });
    listing.valid = listing.valid && root == "ListBucketResult";
    return listing;
}

std::string escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

} // namespace S3Xml
