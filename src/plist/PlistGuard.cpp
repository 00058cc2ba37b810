#include "plist/PlistGuard.h"

#include <cstring>
#include <vector>

namespace PlistGuard {

namespace {

constexpr std::int64_t trailerSize = 32;
constexpr std::int64_t headerSize = 8;

class BinaryList {
public:
    explicit BinaryList(QByteArrayView bytes)
        : m_data(reinterpret_cast<const unsigned char*>(bytes.data())), m_size(bytes.size()) {}

    Verdict check(const Limits& limits);

private:
    struct Frame {
        std::uint64_t object;
        std::int64_t refs;  // position of the first reference
        std::uint64_t next; // references already followed
        std::uint64_t count;
    };

    std::uint64_t bigEndian(std::int64_t pos, int width) const {
        std::uint64_t v = 0;
        for (int i = 0; i < width; ++i)
            v = (v << 8) | m_data[pos + i];
        return v;
    }
    // Where object i starts, or -1 when its offset lies outside the object area.
    std::int64_t offsetOf(std::uint64_t i) const {
        const std::uint64_t o = bigEndian(m_offsetTable + std::int64_t(i) * m_offsetWidth, m_offsetWidth);
        return o >= std::uint64_t(headerSize) && o < std::uint64_t(m_objectsEnd) ? std::int64_t(o) : -1;
    }
    // The length that follows a marker whose low nibble is info; pos moves past it.
    bool length(int info, std::int64_t& pos, std::uint64_t& out) const;
    // Checks that the object at index lies inside the data; for containers, fills frame.
    bool inspectObject(std::uint64_t index, Frame& frame, bool& container) const;

    const unsigned char* m_data;
    std::int64_t m_size;
    int m_offsetWidth = 0;
    int m_refWidth = 0;
    std::uint64_t m_objectCount = 0;
    std::int64_t m_offsetTable = 0;
    std::int64_t m_objectsEnd = 0;
};

bool BinaryList::length(int info, std::int64_t& pos, std::uint64_t& out) const {
    if (info != 0xF) {
        out = std::uint64_t(info);
        return true;
    }
    if (pos >= m_objectsEnd || (m_data[pos] & 0xF0) != 0x10)
        return false;
    const int width = 1 << (m_data[pos] & 0x0F);
    if (width > 8 || pos + 1 + width > m_objectsEnd)
        return false;
    out = bigEndian(pos + 1, width);
    pos += 1 + width;
    return true;
}

bool BinaryList::inspectObject(std::uint64_t index, Frame& frame, bool& container) const {
    const std::int64_t start = offsetOf(index);
    if (start < 0)
        return false;
    const int type = m_data[start] >> 4;
    const int info = m_data[start] & 0x0F;
    std::int64_t pos = start + 1;
    const std::int64_t room = m_objectsEnd - pos;
    container = false;
    std::uint64_t count = 0;
    switch (type) {
    case 0x0: // null, booleans, fill
        return true;
    case 0x1: // integer
    case 0x2: // real
        return info <= 4 && (std::int64_t(1) << info) <= room;
    case 0x3: // date
        return 8 <= room;
    case 0x8: // UID
        return info + 1 <= room;
    case 0x4: // data
        return length(info, pos, count) && count <= std::uint64_t(m_objectsEnd - pos);
    case 0x5: // ASCII string
    case 0x7: // UTF-8 string
        // libplist asserts that a text has no NUL byte inside: the process would abort.
        return length(info, pos, count) && count <= std::uint64_t(m_objectsEnd - pos) &&
               !std::memchr(m_data + pos, 0, count);
    case 0x6: // UTF-16 string
        if (!length(info, pos, count) || count > std::uint64_t(m_objectsEnd - pos) / 2)
            return false;
        for (std::uint64_t i = 0; i < count; ++i)
            if (m_data[pos + 2 * std::int64_t(i)] == 0 && m_data[pos + 2 * std::int64_t(i) + 1] == 0)
                return false;
        return true;
    case 0xA: // array
    case 0xB: // ordered set
    case 0xC: // set
    case 0xD: // dictionary: keys, then values
        if (!length(info, pos, count))
            return false;
        if (type == 0xD) {
            if (count > std::uint64_t(m_objectsEnd) / 2)
                return false;
            count *= 2;
        }
        if (count > std::uint64_t(m_objectsEnd - pos) / std::uint64_t(m_refWidth))
            return false;
        container = true;
        frame = Frame{index, pos, 0, count};
        return true;
    default:
        return false;
    }
}

Verdict BinaryList::check(const Limits& limits) {
    if (m_size < headerSize + trailerSize || std::memcmp(m_data, "bplist", 6) != 0)
        return Verdict::Damaged;
    const std::int64_t trailer = m_size - trailerSize;
    m_offsetWidth = m_data[trailer + 6];
    m_refWidth = m_data[trailer + 7];
    m_objectCount = bigEndian(trailer + 8, 8);
    const std::uint64_t top = bigEndian(trailer + 16, 8);
    const std::uint64_t table = bigEndian(trailer + 24, 8);
    if (m_offsetWidth < 1 || m_offsetWidth > 8 || m_refWidth < 1 || m_refWidth > 8)
        return Verdict::Damaged;
    if (table < std::uint64_t(headerSize) || table > std::uint64_t(trailer))
        return Verdict::Damaged;
    m_offsetTable = std::int64_t(table);
    m_objectsEnd = m_offsetTable;
    if (m_objectCount == 0 ||
        m_objectCount > std::uint64_t(trailer - m_offsetTable) / std::uint64_t(m_offsetWidth) ||
        top >= m_objectCount)
        return Verdict::Damaged;

    // Objects on the path from the root: meeting one again is a cycle.
    std::vector<bool> onPath(m_objectCount, false);
    std::vector<Frame> stack;
    std::int64_t nodes = 0;
    auto visit = [&](std::uint64_t index) -> Verdict {
        if (index >= m_objectCount)
            return Verdict::Damaged;
        if (onPath[index])
            return Verdict::TooComplex;
        if (++nodes > limits.maxNodes)
            return Verdict::TooComplex;
        Frame frame{};
        bool container = false;
        if (!inspectObject(index, frame, container))
            return Verdict::Damaged;
        if (container) {
            if (int(stack.size()) >= limits.maxDepth)
                return Verdict::TooComplex;
            onPath[index] = true;
            stack.push_back(frame);
        }
        return Verdict::Accepted;
    };

    Verdict verdict = visit(top);
    while (verdict == Verdict::Accepted && !stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.count) {
            onPath[frame.object] = false;
            stack.pop_back();
            continue;
        }
        const std::uint64_t child = bigEndian(frame.refs + std::int64_t(frame.next) * m_refWidth, m_refWidth);
        ++frame.next;
        verdict = visit(child);
    }
    return verdict;
}

// A NUL byte or a character reference to U+0000 would end up inside a libplist text, where an
// assertion aborts the process.
bool hasNul(QByteArrayView bytes) {
    if (bytes.contains('\0'))
        return true;
    for (qsizetype at = bytes.indexOf("&#"); at >= 0; at = bytes.indexOf("&#", at + 2)) {
        qsizetype i = at + 2;
        const bool hex = i < bytes.size() && (bytes[i] == 'x' || bytes[i] == 'X');
        if (hex)
            ++i;
        const qsizetype digits = i;
        while (i < bytes.size() && bytes[i] == '0')
            ++i;
        // Only zeros: "&#0;", "&#x000;" (a reference without digits is no reference).
        if (i > digits && i < bytes.size() && bytes[i] == ';')
            return true;
    }
    return false;
}

// Element nesting and count of an XML list. Markup that cannot open an element (comments,
// CDATA, declarations) is skipped; quoted attribute values are skipped so that a "/>" inside
// one does not pass for an empty element.
Verdict checkXml(QByteArrayView bytes, const Limits& limits) {
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    const auto skipPast = [&](const char* from, const char* terminator) -> const char* {
        const std::size_t n = std::strlen(terminator);
        for (const char* q = from; q + n <= end; ++q) {
            q = static_cast<const char*>(std::memchr(q, terminator[0], std::size_t(end - q)));
            if (!q || q + n > end)
                return nullptr;
            if (std::memcmp(q, terminator, n) == 0)
                return q + n;
        }
        return nullptr;
    };
    const auto startsWith = [&](const char* at, const char* text) {
        const std::size_t n = std::strlen(text);
        return std::size_t(end - at) >= n && std::memcmp(at, text, n) == 0;
    };
    // <plist> and the innermost value element come on top of the containers.
    if (hasNul(bytes))
        return Verdict::Damaged;
    const int maxElementDepth = limits.maxDepth + 2;
    int depth = 0;
    std::int64_t nodes = 0;
    while (p < end) {
        p = static_cast<const char*>(std::memchr(p, '<', std::size_t(end - p)));
        if (!p)
            break;
        const char* next = nullptr;
        if (startsWith(p, "<!--")) {
            next = skipPast(p + 4, "-->");
        } else if (startsWith(p, "<![CDATA[")) {
            next = skipPast(p + 9, "]]>");
        } else if (startsWith(p, "<?")) {
            next = skipPast(p + 2, "?>");
        } else if (startsWith(p, "<!") || startsWith(p, "</")) {
            if (p[1] == '/')
                --depth;
            next = skipPast(p + 2, ">");
        } else {
            const char* q = p + 1;
            char quote = 0;
            for (; q < end; ++q) {
                if (quote) {
                    if (*q == quote)
                        quote = 0;
                } else if (*q == '"' || *q == '\'') {
                    quote = *q;
                } else if (*q == '>') {
                    break;
                }
            }
            if (q == end)
                return Verdict::Damaged;
            if (++nodes > limits.maxNodes)
                return Verdict::TooComplex;
            if (q[-1] != '/' && ++depth > maxElementDepth)
                return Verdict::TooComplex;
            next = q + 1;
        }
        if (!next)
            return Verdict::Damaged;
        p = next;
    }
    return Verdict::Accepted;
}

} // namespace

Verdict check(QByteArrayView bytes, const Limits& limits) {
    if (bytes.size() >= 6 && std::memcmp(bytes.data(), "bplist", 6) == 0)
        return BinaryList(bytes).check(limits);
    return checkXml(bytes, limits);
}

} // namespace PlistGuard
