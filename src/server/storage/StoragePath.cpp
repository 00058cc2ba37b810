#include "server/storage/StoragePath.h"

#include "server/storage/ObjectStore.h"

#include <QString>

#include <algorithm>
#include <cctype>

namespace {
std::nullopt_t fail(std::string* error, const char* message) {
    if (error)
        *error = message;
    return std::nullopt;
}
} // namespace

std::optional<std::vector<std::string>> storagePathComponents(const std::string& relative,
                                                              std::string* error) {
    if (relative.empty())
        return fail(error, "The path is empty.");
    if (relative.find('\0') != std::string::npos)
        return fail(error, "The path contains a NUL byte.");
    if (relative.front() == '/' || relative.find('\\') != std::string::npos)
        return fail(error, "The path must be relative to the storage folder.");
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = relative.find('/', start);
        const size_t end = slash == std::string::npos ? relative.size() : slash;
        if (end > start)
            parts.push_back(relative.substr(start, end - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    if (parts.empty())
        return fail(error, "The path is empty.");
    for (const std::string& part : parts)
        if (part == "." || part == "..")
            return fail(error, "The path leaves the storage folder.");
    return parts;
}

std::string foldedName(const std::string& name) {
    // Plain ASCII folds to its lower case; no need to decode it.
    if (std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::string folded = name;
        for (char& c : folded)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a'); // not tolower(): that follows the locale
        return folded;
    }
    return QString::fromUtf8(name.data(), qsizetype(name.size())).toCaseFolded().toStdString();
}

bool sameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a == b || foldedName(a) == foldedName(b);
}

std::string ObjectStore::contentTypeFor(const std::string& name) {
    const size_t dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "ipa")
        return "application/octet-stream";
    if (ext == "apk")
        return "application/vnd.android.package-archive";
    if (ext == "plist")
        return "application/xml";
    if (ext == "png")
        return "image/png";
    if (ext == "svg")
        return "image/svg+xml";
    if (ext == "pdf")
        return "application/pdf";
    if (ext == "json")
        return "application/json";
    return "application/octet-stream";
}
