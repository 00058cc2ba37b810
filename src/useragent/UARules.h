#pragma once

#include "useragent/UAPattern.h"

#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace ua {

// The property names rules assign to.
enum class Key { Model, Name, Vendor, Type, Version, Arch };

// Result texts with the texts that select them. Entries are tried in the order they are listed here
// (the order they were written down in), so that a capture containing texts of two entries
// (such as "/" and "/412" for old Safari versions) always gets the same result.
struct MappedKeys {
    std::vector<std::pair<QString, QStringList>> map;
};

const MappedKeys& oldSafariMap();
const MappedKeys& windowsOSMap();
const MappedKeys& amazonDeviceMap();
const MappedKeys& sprintVendorMap();
const MappedKeys& sprintModelMap();

// One property assignment; position k of a rule's list works on capture k.
struct Funcs {
    enum class Kind {
        r,  // the capture, trimmed, if not empty
        rf, // a fixed text
        rp, // the capture with every match of a pattern replaced by a template, lowercased and trimmed
        mp, // the capture translated through a mapped-key table
    };

    static Funcs r(Key key);
    static Funcs rf(Key key, const QString& text);
    static Funcs rp(Key key, const QString& pattern, const QString& templ);
    static Funcs mp(Key key, const MappedKeys& table);

    Kind kind = Kind::r;
    Key key = Key::Name;
    QString text;                             // rf: the fixed text; rp: the template
    std::shared_ptr<const UAPattern> pattern; // rp
    const MappedKeys* table = nullptr;        // mp
};

struct Rule {
    Rule(const QStringList& patterns, std::vector<Funcs> funcs);

    std::vector<UAPattern> regexp;
    std::vector<Funcs> funcs;
};

// The rule tables, in priority order. Each is built and compiled on first use (thread-safe) and
// shared read-only by every parser afterwards.
const std::vector<Rule>& browserRules();
const std::vector<Rule>& cpuRules();
const std::vector<Rule>& deviceRules();
const std::vector<Rule>& engineRules();
const std::vector<Rule>& osRules();

// Property texts by Key.
using Properties = std::array<std::optional<QString>, 6>;

// Walks rules in order and, within a rule, its patterns in order. The first pattern that matches
// decides: its rule's assignments are applied to the captures of its leftmost match and the search
// ends, even when they set nothing. Empty when nothing matched or nothing was set.
std::optional<Properties> matchRules(const std::vector<Rule>& rules, const QString& agent);

} // namespace ua
