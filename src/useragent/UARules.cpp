#include "useragent/UARules.h"

namespace ua {

namespace {

MappedKeys
makeMap(std::initializer_list<std::pair<const char*, std::initializer_list<const char*>>> entries) {
    MappedKeys table;
    for (const auto& [result, texts] : entries) {
        QStringList list;
        for (const char* text : texts)
            list.append(QString::fromLatin1(text));
        table.map.emplace_back(QString::fromLatin1(result), list);
    }
    return table;
}

std::optional<QString>& slot(Properties& props, Key key) {
    return props[static_cast<std::size_t>(key)];
}

void applyMapped(const ua::MappedKeys& table, const QString& capture, std::optional<QString>& target) {
    const QString upper = capture.toUpper();
    for (const auto& [result, texts] : table.map) {
        for (const QString& text : texts) {
            if (upper.contains(text, Qt::CaseInsensitive)) {
                target = result.trimmed();
                return;
            }
        }
    }
    if (!target && !capture.isEmpty())
        target = capture;
}

void apply(const Funcs& f, const QString* capture, Properties& props) {
    std::optional<QString>& target = slot(props, f.key);
    switch (f.kind) {
    case Funcs::Kind::r:
        if (capture && !capture->isEmpty())
            target = capture->trimmed();
        break;
    case Funcs::Kind::rf:
        target = f.text;
        break;
    case Funcs::Kind::rp:
        if (capture) {
            const QString replaced = f.pattern->replaceAll(*capture, f.text);
            if (!replaced.isEmpty())
                target = replaced.toLower().trimmed();
        }
        break;
    case Funcs::Kind::mp:
        if (capture)
            applyMapped(*f.table, *capture, target);
        break;
    }
}

} // namespace

const MappedKeys& oldSafariMap() {
    static const MappedKeys table = makeMap({{"1.0", {"/8"}},
                                             {"1.2", {"/1"}},
                                             {"1.3", {"/3"}},
                                             {"2.0", {"/412"}},
                                             {"2.0.2", {"/416"}},
                                             {"2.0.3", {"/417"}},
                                             {"2.0.4", {"/419"}},
                                             {"?", {"/"}}});
    return table;
}

const MappedKeys& windowsOSMap() {
    static const MappedKeys table = makeMap({{"ME", {"4.90"}},
                                             {"NT 3.11", {"NT3.51"}},
                                             {"NT 4.0", {"NT4.0"}},
                                             {"2000", {"NT 5.0"}},
                                             {"XP", {"NT 5.1", "NT 5.2"}},
                                             {"Vista", {"NT 6.0"}},
                                             {"7", {"NT 6.1"}},
                                             {"8", {"NT 6.2"}},
                                             {"8.1", {"NT 6.3"}},
                                             {"10", {"NT 6.4", "NT 10.0"}},
                                             {"RT", {"ARM"}}});
    return table;
}

const MappedKeys& amazonDeviceMap() {
    static const MappedKeys table = makeMap({{"Fire Phone", {"SD", "KF"}}});
    return table;
}

const MappedKeys& sprintVendorMap() {
    static const MappedKeys table = makeMap({{"HTC", {"APA"}}, {"Sprint", {"Sprint"}}});
    return table;
}

const MappedKeys& sprintModelMap() {
    static const MappedKeys table = makeMap({{"Evo Shift 4G", {"7373KT"}}});
    return table;
}

Funcs Funcs::r(Key key) {
    Funcs f;
    f.kind = Kind::r;
    f.key = key;
    return f;
}

Funcs Funcs::rf(Key key, const QString& text) {
    Funcs f;
    f.kind = Kind::rf;
    f.key = key;
    f.text = text;
    return f;
}

Funcs Funcs::rp(Key key, const QString& pattern, const QString& templ) {
    Funcs f;
    f.kind = Kind::rp;
    f.key = key;
    f.text = templ;
    f.pattern = std::make_shared<const UAPattern>(pattern);
    return f;
}

Funcs Funcs::mp(Key key, const MappedKeys& table) {
    Funcs f;
    f.kind = Kind::mp;
    f.key = key;
    f.table = &table;
    return f;
}

Rule::Rule(const QStringList& patterns, std::vector<Funcs> funcs) : funcs(std::move(funcs)) {
    regexp.reserve(patterns.size());
    for (const QString& pattern : patterns)
        regexp.emplace_back(pattern);
}

std::optional<Properties> matchRules(const std::vector<ua::Rule>& rules, const QString& agent) {
    for (const ua::Rule& rule : rules) {
        for (const UAPattern& pattern : rule.regexp) {
            const std::optional<QStringList> captures = pattern.firstMatch(agent);
            if (!captures)
                continue;
            Properties props;
            for (std::size_t k = 0; k < rule.funcs.size(); ++k) {
                const QString* capture = k < static_cast<std::size_t>(captures->size())
                                             ? &captures->at(static_cast<qsizetype>(k))
                                             : nullptr;
                apply(rule.funcs[k], capture, props);
            }
            for (const auto& value : props) {
                if (value)
                    return props;
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace ua
