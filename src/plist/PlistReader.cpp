#include "plist/PlistReader.h"

#include "plist/PlistGuard.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>
#include <QVariantList>

#include <plist/plist.h>

#include <cstdlib>

namespace {

// PlistGuard already refuses deeper lists; this keeps the recursion bounded on its own.
constexpr int maxDepth = PlistGuard::Limits{}.maxDepth;

QVariant toVariant(plist_t node, int depth) {
    if (!node || depth > maxDepth)
        return {};
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key)
                break;
            map.insert(QString::fromUtf8(key), toVariant(value, depth + 1));
            free(key);
        }
        free(it);
        return map;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        for (uint32_t i = 0; i < n; ++i)
            list.append(toVariant(plist_array_get_item(node, i), depth + 1));
        return list;
    }
    case PLIST_STRING: {
        char* s = nullptr;
        plist_get_string_val(node, &s);
        const QString text = QString::fromUtf8(s ? s : "");
        free(s);
        return text;
    }
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return bool(b);
    }
    case PLIST_UINT: {
        // libplist keeps integers in one 64-bit field; negative values come back two's-complement.
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return QVariant::fromValue(qlonglong(v));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return d;
    }
    case PLIST_DATA: {
        char* data = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &data, &length);
        const QByteArray bytes(data, qsizetype(length));
        free(data);
        return bytes;
    }
    case PLIST_DATE: {
        int32_t sec = 0;
        int32_t usec = 0;
        plist_get_date_val(node, &sec, &usec);
        // Property-list dates count from 2001-01-01 00:00:00 UTC.
        constexpr qint64 appleEpoch = 978307200;
        return QDateTime::fromMSecsSinceEpoch((appleEpoch + sec) * 1000 + usec / 1000, QTimeZone::utc());
    }
    default:
        return {};
    }
}

} // namespace

PlistReader::Result PlistReader::fromBytes(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return {std::nullopt, Problem::Unreadable};
    if (bytes.size() > maxBytes || PlistGuard::check(bytes) != PlistGuard::Verdict::Accepted)
        return {std::nullopt, Problem::Refused};
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &root);
    if (!root)
        return {std::nullopt, Problem::Unreadable};
    Result result{std::nullopt, Problem::NotDictionary};
    if (plist_get_node_type(root) == PLIST_DICT)
        result = {toVariant(root, 0).toMap(), Problem::None};
    plist_free(root);
    return result;
}

PlistReader::Result PlistReader::read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, Problem::Unreadable};
    if (file.size() > maxBytes)
        return {std::nullopt, Problem::Refused};
    return fromBytes(file.readAll());
}
